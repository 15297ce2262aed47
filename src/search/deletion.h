#pragma once

#include "base/criterion.h"
#include "fs/file_system.h"

#include <string>

namespace qevra::search {

// What stands at the partner's path of a row now, seen from the file of the
// row that is to be deleted.
enum class Partner : std::uint8_t {
    Distinct, // another regular file, reached without links, as the row needs
    SameFile, // the file to delete itself, or possibly so (a link to it, another
              // spelling, the same file shown through a stacked or network file system)
    Changed, // something else than the file the search saw
    InTrash, // a file inside a trash, which the next emptying of the trash takes
    Gone, // nothing at all
};

// Checks the partner of a row before its other file (at `filePath`, as the
// search saw it: `file`) is deleted. A partner must be a regular file
// reached without following any link, not possibly the file itself (as the
// search saw it or as it is now), and not inside a trash; where the
// criterion measures files, it must also be unchanged since the search
// (`partnerSeen`: identity, size, modification and change times).
Partner checkPartner(fs::FileSystem& fileSystem, Criterion criterion, const std::string& filePath,
    const fs::FileStamp& file, const std::string& partnerPath, const fs::FileStamp& partnerSeen);

// Why the shown file of a row may not go, deleted or moved to the trash,
// given what stands at its partner's path: never when the partner is
// possibly the file itself or lies in a trash, and, where the criterion
// measures files, only while the partner is another file unchanged since
// the search.
enum class Refusal : std::uint8_t {
    None,
    SameFile,
    CopyChanged,
    CopyInTrash,
};
Refusal refusalFor(Partner partner, Criterion criterion);

} // namespace qevra::search
