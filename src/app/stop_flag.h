#pragma once

#include <cstdint>

namespace qevra {

// The main window's stop flag: 0 is clear; the Stop button stores -1 (all
// bits set); any nonzero value reads as set. The step of the search that
// answers it stores 0. The engine knows no flag: the window's answers to
// its progress steps stop it.
inline std::int32_t StopFlag = 0;

constexpr std::int32_t kStopSet = -1;

} // namespace qevra
