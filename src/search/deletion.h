#pragma once

#include "base/criterion.h"
#include "fs/file_system.h"

#include <string>

namespace qevra::search {

// What stands at the partner's path of a row now, seen from the file of the
// row that is to be deleted.
enum class Partner : std::uint8_t {
    Distinct, // another regular file, reached without links, as the row needs
    SameFile, // the file to delete itself (a link to it, another spelling)
    Changed, // something else than the file the search saw
    Gone, // nothing at all
};

// Checks the partner of a row before its other file (`file`, as the search
// saw it) is deleted. A partner must be a regular file reached without
// following any link, and another file than `file`; where the criterion
// measures files, it must also be unchanged since the search (`partnerSeen`:
// identity, size, modification time).
Partner checkPartner(fs::FileSystem& fileSystem, Criterion criterion, const fs::FileStamp& file,
    const std::string& partnerPath, const fs::FileStamp& partnerSeen);

// Why the shown file of a row may not go, deleted or moved to the trash,
// given what stands at its partner's path: never when the partner is the
// file itself, and, where the criterion measures files, only while the
// partner is another file unchanged since the search.
enum class Refusal : std::uint8_t {
    None,
    SameFile,
    CopyChanged,
};
Refusal refusalFor(Partner partner, Criterion criterion);

} // namespace qevra::search
