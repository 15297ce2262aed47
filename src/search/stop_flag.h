#pragma once

#include <cstdint>

namespace qevra::search {

// The stop flag: 0 is clear; the Stop button stores -1 (all bits set); any
// nonzero value reads as set. The poller that answers it stores 0.
inline std::int32_t StopFlag = 0;

constexpr std::int32_t kStopSet = -1;

} // namespace qevra::search
