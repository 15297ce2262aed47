#include "search/deletion.h"

namespace qevra::search {

Partner checkPartner(fs::FileSystem& fileSystem, Criterion criterion, const std::string& filePath,
    const fs::FileStamp& file, const std::string& partnerPath, const fs::FileStamp& partnerSeen)
{
    if (const auto now = fileSystem.examine(partnerPath, fs::Resolve::NoLinks)) {
        if (now->possiblySame(file))
            return Partner::SameFile;
        // The file as it is now, too: by name it may have changed since the
        // search, and a second view of it through another file system
        // changes with it.
        if (const auto fileNow = fileSystem.examine(filePath, fs::Resolve::NoLinks);
            fileNow && now->possiblySame(*fileNow))
            return Partner::SameFile;
        if (measuresFiles(criterion) && *now != partnerSeen)
            return Partner::Changed;
        if (fileSystem.inTrash(partnerPath))
            return Partner::InTrash;
        return Partner::Distinct;
    }
    // No regular file without a link: where the links lead, if anywhere.
    const auto followed = fileSystem.examine(partnerPath, fs::Resolve::FollowLinks);
    if (!followed)
        return Partner::Gone;
    return followed->possiblySame(file) ? Partner::SameFile : Partner::Changed;
}

Refusal refusalFor(Partner partner, Criterion criterion)
{
    if (partner == Partner::SameFile)
        return Refusal::SameFile;
    if (partner == Partner::InTrash)
        return Refusal::CopyInTrash;
    if (partner != Partner::Distinct && measuresFiles(criterion))
        return Refusal::CopyChanged;
    return Refusal::None;
}

} // namespace qevra::search
