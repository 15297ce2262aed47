// The trash and its undo: files go to the user's trash under the checks of
// a deletion, and the last move of this run comes back on request. Nothing
// here deletes a file; what could not be done is told in one message box.
#include "editor/copies_editor.h"

#include <set>

namespace qevra {

namespace {

// Paths at most listed one by one in a message box.
constexpr std::size_t kListedPaths = 10;

// "heading: path" for one path; for more, the heading and a line for each
// path (at most kListedPaths, then how many more).
QString listing(const QString& one, const QString& many, const std::vector<std::string>& paths)
{
    if (paths.size() == 1)
        return one + QStringLiteral(": ") + shownPath(paths.front());
    QString text = many + u':';
    for (std::size_t i = 0; i < paths.size() && i < kListedPaths; ++i)
        text += u'\n' + shownPath(paths[i]);
    if (paths.size() > kListedPaths)
        text += QStringLiteral("\n… и еще %1").arg(paths.size() - kListedPaths);
    return text;
}

} // namespace

void TForm2::trashFile(int number)
{
    const Column column = this->column(number);
    const auto row = removableShownRow(
        column, { kNotTrashedSameFile, kNotTrashedCopyChanged, kNotTrashedCopyInTrash });
    if (!row)
        return;
    const std::string path(column.list[*row]);
    const std::uint32_t candidate = column.list.candidate(*row);
    const fs::TrashMove move = services_.fileSystem.moveToTrash(
        path, stampOf(candidate), measuresFiles(results_.criterion));
    markIfGone(column, path, candidate);
    switch (move.outcome) {
    case fs::Trashing::Moved:
        trashActions_.push_back({ { move.file }, number, std::nullopt });
        break;
    case fs::Trashing::Missing:
        // Gone already, which the label now shows; or reached through a link.
        if (services_.fileSystem.fileExists(path))
            services_.ShowMessage(listing(kTrashFailed, kTrashFailed, { path }));
        break;
    case fs::Trashing::NotTheFileSeen:
        services_.ShowMessage(kNotTrashedChanged);
        break;
    case fs::Trashing::NoTrash:
        services_.ShowMessage(listing(kNoTrash, kNoTrash, { path }));
        break;
    case fs::Trashing::Failed:
        services_.ShowMessage(listing(kTrashFailed, kTrashFailed, { path }));
        break;
    }
}

void TForm2::trashAll(int number)
{
    const Column column = this->column(number);
    TrashAction action { {}, number,
        column.label->path() ? std::nullopt : std::optional(column.label->caption()) };
    std::vector<std::string> failures;
    std::set<std::string> failed;
    // The files "Удалить все" would delete, in its order.
    forEachRemovable(column, [&](std::uint32_t file) {
        const std::string path(results_.candidates[file]);
        const fs::TrashMove move = services_.fileSystem.moveToTrash(
            path, stampOf(file), measuresFiles(results_.criterion));
        markIfGone(column, path, file);
        const bool refused = move.outcome == fs::Trashing::Failed
            || move.outcome == fs::Trashing::NoTrash
            || (move.outcome == fs::Trashing::Missing && services_.fileSystem.fileExists(path));
        if (move.outcome == fs::Trashing::Moved)
            action.files.push_back(move.file);
        else if (refused && failed.insert(path).second)
            failures.push_back(path);
    });
    if (!action.files.empty())
        trashActions_.push_back(std::move(action));
    if (!failures.empty())
        services_.ShowMessage(listing(kTrashFailed, kTrashFailed, failures));
}

void TForm2::restoreFromTrash()
{
    if (trashActions_.empty())
        return;
    TrashAction action = std::move(trashActions_.back());
    trashActions_.pop_back();
    std::vector<std::string> taken;
    std::vector<std::string> foldersReplaced;
    std::vector<std::string> failures;
    // The last moved first, as the moves are undone.
    for (auto file = action.files.rbegin(); file != action.files.rend(); ++file) {
        fs::FileStamp restored;
        switch (services_.fileSystem.restoreFromTrash(*file, &restored)) {
        case fs::Restoring::Restored:
            restampRestored(*file, restored);
            break;
        case fs::Restoring::PathTaken:
            taken.push_back(file->original);
            break;
        case fs::Restoring::FolderReplaced:
            foldersReplaced.push_back(file->original);
            break;
        case fs::Restoring::Gone:
        case fs::Restoring::Failed:
            failures.push_back(file->original);
            break;
        }
    }
    // The selected pair is shown anew; with none, the column gets back the
    // marker it had.
    if (shownPair_)
        fsListBox1Click();
    else if (action.markerBefore)
        column(action.column).label->setMarker(*action.markerBefore);
    QStringList report;
    if (!taken.empty())
        report << listing(kStayedInTrash, kStayedInTrashMany, taken);
    if (!foldersReplaced.empty())
        report << listing(kStayedInTrashFolder, kStayedInTrashFolderMany, foldersReplaced);
    if (!failures.empty())
        report << listing(kNotRestored, kNotRestored, failures);
    if (!report.isEmpty())
        services_.ShowMessage(report.join(u'\n'));
}

void TForm2::restampRestored(const fs::TrashedFile& file, const fs::FileStamp& restored)
{
    // Unknown when the trash did not hold it as it was left: then the file
    // counts as changed, as it may be.
    if (!restored.known())
        return;
    for (fs::FileStamp& stamp : results_.stamps) {
        if (stamp.sameFile(file.stamp))
            stamp = restored;
    }
}

} // namespace qevra
