#pragma once

#include <cstdint>
#include <functional>

namespace qevra::search {

// The phases of a search, in the order they run.
enum class Phase : std::uint8_t {
    Collecting, // walking the chosen directories
    Naming, // pairing by name
    Measuring, // taking every candidate's size
    Comparing, // reading files to tell equal contents apart
};

// Where the engine reports how far it has come and asks whether to go on.
class Progress {
public:
    virtual ~Progress() = default;
    // `done` of `total` units of the phase (candidates, directories or
    // bytes); false when the work should stop.
    virtual bool step(Phase phase, std::uint64_t done, std::uint64_t total) = 0;
};

// A Progress that hands every step to a function.
class ProgressFunction final : public Progress {
public:
    explicit ProgressFunction(std::function<bool(Phase, std::uint64_t, std::uint64_t)> function)
        : function_(std::move(function))
    {
    }
    bool step(Phase phase, std::uint64_t done, std::uint64_t total) override
    {
        return !function_ || function_(phase, done, total);
    }

private:
    std::function<bool(Phase, std::uint64_t, std::uint64_t)> function_;
};

} // namespace qevra::search
