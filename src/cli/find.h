#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace qevra::cli {

// qevra-find: parses `arguments` (those after the program's name), runs the
// search through the engine and writes its answer to `out`, its progress
// (while `err` is a terminal), warnings and mistakes to `err`. It stops as
// soon as `interrupted` is set, writing nothing to `out`. Returns the exit
// status (see findUsage()).
int runFind(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err,
    const std::atomic<bool>& interrupted);

} // namespace qevra::cli
