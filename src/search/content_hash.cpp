#include "search/content_hash.h"

#include <xxhash.h>

namespace qevra::search {

namespace {

class Xxh3Hasher final : public ContentHasher {
public:
    Xxh3Hasher()
        : state_(XXH3_createState())
    {
        if (!state_)
            throw std::bad_alloc();
        reset();
    }
    ~Xxh3Hasher() override { XXH3_freeState(state_); }
    Xxh3Hasher(const Xxh3Hasher&) = delete;
    Xxh3Hasher& operator=(const Xxh3Hasher&) = delete;

    void reset() override { XXH3_128bits_reset(state_); }
    void update(const char* bytes, std::size_t count) override
    {
        XXH3_128bits_update(state_, bytes, count);
    }
    Digest digest() override
    {
        const XXH128_hash_t hash = XXH3_128bits_digest(state_);
        return { hash.high64, hash.low64 };
    }

private:
    XXH3_state_t* state_;
};

} // namespace

HashFunctions defaultHashes()
{
    return {
        [] { return std::unique_ptr<ContentHasher>(std::make_unique<Xxh3Hasher>()); },
        [](std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); },
    };
}

} // namespace qevra::search
