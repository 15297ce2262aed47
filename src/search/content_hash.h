#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace qevra::search {

// A 128-bit hash of a file's bytes, or of its first bytes.
struct Digest {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    friend auto operator<=>(const Digest&, const Digest&) = default;
};

// Hashes a stream of bytes fed in pieces.
class ContentHasher {
public:
    virtual ~ContentHasher() = default;
    virtual void reset() = 0;
    virtual void update(const char* bytes, std::size_t count) = 0;
    virtual Digest digest() = 0;
};

// The hashes the content stage groups files by. Hashes only sort files that
// may be equal next to each other: every class is confirmed by bytes, so a
// collision costs time, never a false pair.
struct HashFunctions {
    std::function<std::unique_ptr<ContentHasher>()> makeHasher;
    // A quick hash of one block, for splitting many blocks at once.
    std::function<std::uint64_t(std::string_view)> hashBlock;
};

// XXH3: 128 bits for files, 64 for blocks.
HashFunctions defaultHashes();

} // namespace qevra::search
