#pragma once

#include "fs/file_system.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace qevra::search {

// Reads until `count` bytes or the end of the stream; -1 on failure (an
// exception from the stream counts as one). Adds what it read to `counter`.
std::int64_t readFully(
    fs::ReadStream& stream, char* buffer, std::int64_t count, std::atomic<std::uint64_t>& counter);

// An uninitialised byte buffer.
class Buffer {
public:
    explicit Buffer(std::size_t size)
        : bytes_(std::make_unique_for_overwrite<char[]>(size))
        , size_(size)
    {
    }
    char* data() { return bytes_.get(); }
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

// A block for reading files of `size` bytes: whole pages, the whole file
// where it fits, at most `most`.
std::size_t blockFor(std::int64_t size, std::size_t most);

// What a lockstep comparison says of each file: a class label (0 or more;
// equal labels, equal files) or one of these.
constexpr int kFailed = -1; // could not be opened or read
constexpr int kAlone = -2; // equal to none of the others

// One lockstep comparison of `count` files.
struct Lockstep {
    std::size_t count = 0;
    // The bytes read per file and step.
    std::size_t block = 0;
    // Opens file k, or gives nullptr; each file is opened once.
    std::function<std::unique_ptr<fs::ReadStream>(std::size_t)> open;
    // Runs once for every file k, as soon as it is closed or failed to open.
    std::function<void(std::size_t)> closed;
    std::function<std::uint64_t(std::string_view)> hashBlock;
    // Given, when set, the first block read of each file k.
    std::function<void(std::size_t, std::string_view)> firstBlock;
    std::atomic<std::uint64_t>* bytesRead = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
};

// Reads the files together, block by block, to their very ends, and labels
// them: equal labels for files equal from start to end. A file leaves (and
// is closed) as soon as no other file matches it. False when cancelled.
bool compareInLockstep(const Lockstep& work, std::vector<int>& labels);

} // namespace qevra::search
