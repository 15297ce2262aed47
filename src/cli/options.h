#pragma once

#include "base/criterion.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace qevra::cli {

// What the command line of qevra-find asks for.
struct FindOptions {
    Criterion criterion = Criterion::Content;
    // The extension text, as typed into the window's box (a plain
    // extension or one of the two groups); none: every file.
    std::optional<QString> extensionText;
    std::vector<std::string> dirs; // as given, in order
    enum class Format { Rows, Groups, Json, Summary };
    Format format = Format::Rows;
    bool nulSeparated = false; // -0
    bool noCache = false; // neither recall nor keep comparisons
    bool forget = false; // empty the remembered comparisons first
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program's name. On a mistake, nothing and
// `error` says what was wrong, in one line.
std::optional<FindOptions> parseFindOptions(
    const std::vector<std::string>& arguments, std::string& error);

// The text of --help.
std::string findUsage();

} // namespace qevra::cli
