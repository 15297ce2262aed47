#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

// One file or directory the search could not read, measure or compare; it
// takes no part in the rows.
struct Warning {
    std::string path;
    int error = 0; // the errno value, when the system gave one
    std::string what; // what went wrong, in words
    friend bool operator==(const Warning&, const Warning&) = default;
};

// Where a front end follows a search: how far it has come (Progress, whose
// answer false stops the work), where each phase begins, and what could not
// be done.
class SearchObserver : public Progress {
public:
    // A phase begins, over `total` units: candidates for Naming and
    // Measuring; 0 for Collecting (at each root) and Comparing (whose steps
    // tell the bytes to read).
    virtual void phaseStarted(Phase phase, std::uint64_t total)
    {
        (void)phase;
        (void)total;
    }
    // Told on the calling thread.
    virtual void warning(const Warning& warning) { (void)warning; }
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
