#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::testing {

// A real temporary directory tree, removed with everything in it (however
// deep, whatever its permissions) when the object goes.
class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return root_; }
    // root + "/" + relative
    std::string path(std::string_view relative) const;
    // Creates the directory and its parents; returns its full path.
    std::string dir(std::string_view relative) const;
    // Creates a file with the content (parents included); returns its path.
    std::string file(std::string_view relative, std::string_view content = {}) const;
    // Creates a file of `size` bytes of `fill`.
    std::string sizedFile(std::string_view relative, std::size_t size, char fill = 'x') const;
    // Creates a symbolic link at `relative` pointing to `target`.
    std::string link(std::string_view relative, std::string_view target) const;

private:
    std::string root_;
};

// Points the home trash's data folder (XDG_DATA_HOME) where a test wants it,
// and puts back what was there when it goes.
class DataHome {
public:
    DataHome();
    explicit DataHome(const std::string& dataHome);
    ~DataHome();
    DataHome(const DataHome&) = delete;
    DataHome& operator=(const DataHome&) = delete;
    void point(const std::string& dataHome);

private:
    std::optional<std::string> old_;
};

// Runs `work` in a child process that has dropped root's privileges (to the
// "nobody" user), so that permissions stop it as they stop a user. Returns
// the child's exit status, or -1 when it did not exit normally.
int runUnprivileged(const std::function<int()>& work);

// Waits for a child process; its exit status, or -1 when it did not exit
// normally.
int waitFor(int pid);

// The exit status of a child that could not have what it needed (a mount
// namespace, a mount): the test is then skipped, not failed.
inline constexpr int kChildSkipped = 77;

// Runs `work` in a child process of its own private mount namespace, so
// that what it mounts is seen by it alone and goes with it; its exit status,
// kChildSkipped when the kernel refuses a namespace.
int inMountNamespace(const std::function<int()>& work);

// A check in such a child: on failure it prints its line and ends the work
// with status 1.
#define CHECK_IN_CHILD(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            return 1;                                                                              \
        }                                                                                          \
    } while (false)

// `prefix`, the number in decimal, then `suffix`: built by appending, as
// GCC 12 warns falsely of an overlap in "literal" + std::to_string(n) in
// optimised builds.
std::string numbered(std::string_view prefix, long long number, std::string_view suffix = {});

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// The names in a directory, "." and ".." left out; none when it cannot be
// read.
std::set<std::string> namesIn(const std::string& dir);

} // namespace qevra::testing
