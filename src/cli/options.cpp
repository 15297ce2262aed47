#include "cli/options.h"

#include "base/extension_groups.h"

namespace qevra::cli {

std::optional<FindOptions> parseFindOptions(
    const std::vector<std::string>& arguments, std::string& error)
{
    FindOptions options;
    std::optional<std::string> criterionGiven;
    std::optional<std::string> extensionGiven;
    std::optional<std::string> formatGiven;
    bool optionsEnded = false;
    const auto chooseOnce = [&](std::optional<std::string>& chosen, const std::string& option) {
        if (chosen && *chosen != option) {
            error = option + " and " + *chosen + " cannot go together";
            return false;
        }
        chosen = option;
        return true;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument.front() != '-' || argument == "-") {
            options.dirs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--name" || argument == "--size" || argument == "--content") {
            if (!chooseOnce(criterionGiven, argument))
                return std::nullopt;
            options.criterion = argument == "--name" ? Criterion::Name
                : argument == "--size"               ? Criterion::Size
                                                     : Criterion::Content;
        } else if (argument == "--pictures" || argument == "--video") {
            if (!chooseOnce(extensionGiven, argument))
                return std::nullopt;
            options.extensionText = argument == "--pictures" ? kPicturesGroup : kVideoGroup;
        } else if (argument == "--ext" || argument.starts_with("--ext=")) {
            std::string value;
            if (argument == "--ext") {
                if (i + 1 >= arguments.size()) {
                    error = "--ext needs an extension";
                    return std::nullopt;
                }
                value = arguments[++i];
            } else {
                value = argument.substr(6);
            }
            if (value.empty()) {
                error = "--ext needs an extension";
                return std::nullopt;
            }
            if (!chooseOnce(extensionGiven, "--ext"))
                return std::nullopt;
            options.extensionText = QString::fromLocal8Bit(value.data(), qsizetype(value.size()));
        } else if (argument == "--groups" || argument == "--json" || argument == "--summary") {
            if (!chooseOnce(formatGiven, argument))
                return std::nullopt;
            options.format = argument == "--groups" ? FindOptions::Format::Groups
                : argument == "--json"              ? FindOptions::Format::Json
                                                    : FindOptions::Format::Summary;
        } else if (argument == "-0" || argument == "--null") {
            options.nulSeparated = true;
        } else if (argument == "--no-cache") {
            options.noCache = true;
        } else if (argument == "--forget") {
            options.forget = true;
        } else {
            error = "unknown option " + argument;
            return std::nullopt;
        }
    }
    if (options.help || options.version)
        return options;
    if (options.nulSeparated
        && (options.format == FindOptions::Format::Json
            || options.format == FindOptions::Format::Summary)) {
        error = "-0 goes with the rows or --groups only";
        return std::nullopt;
    }
    if (options.dirs.empty() && !options.forget) {
        error = "no directory given";
        return std::nullopt;
    }
    return options;
}

std::string findUsage()
{
    return R"(Usage: qevra-find [--content | --size | --name] [--ext EXT | --pictures | --video]
                  [--groups | --json | --summary] [-0] [--no-cache] [--forget] DIR...
       qevra-find --forget

Finds files that are copies of each other under the directories DIR, searched
in the order given, and writes what it found. It never deletes, moves or
changes a file.

Criterion (one of):
  --content     the same bytes, file for file (the default)
  --size        the same size
  --name        the same name (the bytes of the name, letter case counting)

Files (one of; every file by default):
  --ext EXT     names ending in "." and EXT, where "*" and "?" are wildcards
                and letter case does not count
  --pictures    jpg, jpeg, bmp and gif files
  --video       avi, mpeg and mpg files

Output (on standard output):
  (default)     every pair, as the program's copies editor lists them: the
                two paths, separated by a tab, one pair a line
  --groups      every group of copies: its paths one a line, groups
                separated by an empty line
  --json        one JSON document: the groups, the counts and the warnings
  --summary     the counts, and the bytes that deleting all but one copy of
                each group would free
  -0, --null    with the pairs or --groups: every path ended by a NUL byte
                instead of a tab or a line end (and every group by one more)

Remembered comparisons:
  --no-cache    neither use nor keep what earlier searches by content proved
                (as when the environment variable QEVRA_NO_CACHE is set)
  --forget      empty the remembered comparisons (then search, if DIR given)

  -h, --help    this text
  --version     the version

Paths are written as their bytes are; in --json, bytes that are not UTF-8
are written as \udc80 to \udcff, as Python's "surrogateescape" reads them.
Files that cannot be read or measured are named on standard error and left
out. Hidden files and symbolic links are never collected; a directory is
read only when no symbolic link lies on its path (each DIR is first made
absolute and its links resolved). While standard error is a terminal, the
search shows its progress there.

A search by content remembers which files it proved equal or different, in
$XDG_CACHE_HOME/qevra (else ~/.cache/qevra), about 64 bytes a file, for at
most 2,000,000 files proved within 180 days. A later search reads again only
the files changed since (in identity, size, modification or change time)
and one copy of each group they may join; its rows are the same.

Exit status: 0 when the search ran to its end (with or without copies),
1 when a DIR is no directory or the output could not be written, 2 for a
wrong command line, 130 when interrupted (Ctrl+C), with nothing written on
standard output.
)";
}

} // namespace qevra::cli
