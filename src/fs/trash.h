#pragma once

#include "fs/file_system.h"

#include <optional>
#include <string>
#include <string_view>

namespace qevra::fs {

// The freedesktop trash of the POSIX file system (FileSystem::moveToTrash
// and restoreFromTrash).
TrashMove moveFileToTrash(const std::string& path, const FileStamp& seen, bool unchanged);
Restoring restoreTrashedFile(const TrashedFile& file, FileStamp* restored);
// FileSystem::inTrash of the POSIX file system.
bool liesInTrash(const std::string& path);

// The home trash: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash;
// nothing when no absolute data folder is known.
std::optional<std::string> homeTrashPath();

// A path as a .trashinfo's Path key holds it: every byte but letters,
// digits and "-_.~/" percent-encoded.
std::string encodeTrashPath(std::string_view path);

} // namespace qevra::fs
