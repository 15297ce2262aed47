#include "search/deletion.h"

namespace qevra::search {

Partner checkPartner(fs::FileSystem& fileSystem, Criterion criterion, const fs::FileStamp& file,
    const std::string& partnerPath, const fs::FileStamp& partnerSeen)
{
    if (const auto now = fileSystem.examine(partnerPath, fs::Resolve::NoLinks)) {
        if (now->sameFile(file))
            return Partner::SameFile;
        if (measuresFiles(criterion) && *now != partnerSeen)
            return Partner::Changed;
        return Partner::Distinct;
    }
    // No regular file without a link: where the links lead, if anywhere.
    const auto followed = fileSystem.examine(partnerPath, fs::Resolve::FollowLinks);
    if (!followed)
        return Partner::Gone;
    return followed->sameFile(file) ? Partner::SameFile : Partner::Changed;
}

Refusal refusalFor(Partner partner, Criterion criterion)
{
    if (partner == Partner::SameFile)
        return Refusal::SameFile;
    if (partner != Partner::Distinct && measuresFiles(criterion))
        return Refusal::CopyChanged;
    return Refusal::None;
}

} // namespace qevra::search
