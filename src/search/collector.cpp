#include "search/collector.h"

#include <QFile>
#include <algorithm>

namespace qevra::search {

void FileLister::list(const fs::DirListing& listing, const WildcardMatcher& mask)
{
    names_.clear();
    struct Match {
        QString shown;
        std::string_view bytes;
    };
    std::vector<Match> matches;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        if (listing.type(i) != fs::EntryType::File)
            continue;
        const std::string_view name = listing.name(i);
        if (name.empty() || name.front() == '.' || !mask.matches(name))
            continue;
        matches.push_back(
            { QFile::decodeName(QByteArray(name.data(), qsizetype(name.size()))), name });
    }
    if (matches.size() > 1) {
        std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
            const int order = QString::compare(a.shown, b.shown, Qt::CaseInsensitive);
            return order != 0 ? order < 0 : a.bytes < b.bytes;
        });
    }
    names_.reserve(matches.size());
    for (const Match& m : matches)
        names_.push_back(m.bytes);
}

CollectOutcome Collector::collect(const std::string& root,
    const std::vector<WildcardMatcher>& masks, PathList& out, Progress& progress)
{
    // An explicit stack instead of recursion, so that a very deep tree
    // cannot exhaust the thread's stack. Each level remembers the
    // sub-directories still to visit, in listing order.
    struct Level {
        std::string path;
        std::vector<std::string> subdirs;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    std::uint64_t entered = 0;

    auto visit = [&](std::string path) -> bool {
        if (!progress.step(Phase::Collecting, entered++, 0))
            return false;
        Level level;
        level.path = std::move(path);
        if (fs_.readDirectory(level.path, listing_)) {
            const std::string_view separator = fs::separatorFor(level.path);
            for (const WildcardMatcher& mask : masks) {
                lister_.list(listing_, mask);
                for (const std::string_view name : lister_.names())
                    out.append(level.path, separator, name);
            }
            for (std::size_t i = 0; i < listing_.size(); ++i) {
                if (listing_.type(i) != fs::EntryType::Directory)
                    continue;
                const std::string_view name = listing_.name(i);
                if (name == "." || name == "..")
                    continue;
                level.subdirs.emplace_back(name);
            }
        }
        stack.push_back(std::move(level));
        return true;
    };

    if (!visit(root))
        return CollectOutcome::Stopped;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.subdirs.size()) {
            stack.pop_back();
            continue;
        }
        std::string child = top.path;
        child.append(fs::separatorFor(top.path)).append(top.subdirs[top.next++]);
        if (!visit(std::move(child)))
            return CollectOutcome::Stopped;
    }
    return CollectOutcome::Completed;
}

} // namespace qevra::search
