#pragma once

#include <cstdint>

namespace qevra {

// What makes two files a pair.
enum class Criterion : std::uint8_t {
    Content, // equal bytes, whole files
    Name, // equal bare names
    Size, // equal sizes
};

// Whether rows of the criterion stand for files equal in size (and so must
// still have the size and time they were measured with to count as a pair).
constexpr bool measuresFiles(Criterion criterion)
{
    return criterion != Criterion::Name;
}

} // namespace qevra
