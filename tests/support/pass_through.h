#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace qevra::testing {

// The pass-through file system of the tests (qevra-fuse-passthrough) showing
// `source` at `mountPoint` for the life of the object, started with
// `options` (such as "--delay", "20"); `mounted()` tells whether that
// worked. Mount it in a private mount namespace: the program unmounts when
// it ends, and ends with the thread that started it.
class PassThrough {
public:
    PassThrough(const std::string& program, const std::string& source,
        const std::string& mountPoint, const std::vector<std::string>& options = {});
    ~PassThrough();
    PassThrough(const PassThrough&) = delete;
    PassThrough& operator=(const PassThrough&) = delete;

    bool mounted() const { return mounted_; }
    // Sends the program a signal (SIGUSR1 hangs its reads, SIGUSR2 lets
    // them go).
    void signal(int number) const;
    // Ends the program, which fails any read it holds, and waits for it.
    void stop();

private:
    pid_t pid_ = -1;
    bool mounted_ = false;
};

} // namespace qevra::testing
