// Open, delete and delete all: the copies editor's only actions that touch
// the disk. They act at once, with no question; the column's path label and
// picture box are the feedback, and a message box only when a deletion is
// refused or no application could open the file.
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/comparison_memory.h"
#include "search/deletion.h"

#include <QPointer>
#include <QTimer>

namespace qevra {

TForm2::Column TForm2::column1() const
{
    return { 1, Label3, results_.first, results_.second, Label4, Image1, RxGIFAnimator1 };
}

TForm2::Column TForm2::column2() const
{
    return { 2, Label4, results_.second, results_.first, Label3, Image2, RxGIFAnimator2 };
}

void TForm2::xpButton1Click()
{
    openFile(column1());
}
void TForm2::xpButton2Click()
{
    deleteOne(column1());
}
void TForm2::xpButton3Click()
{
    deleteAll(column1());
}
void TForm2::xpButton4Click()
{
    openFile(column2());
}
void TForm2::xpButton5Click()
{
    deleteOne(column2());
}
void TForm2::xpButton6Click()
{
    deleteAll(column2());
}

void TForm2::openFile(const Column& column)
{
    // With "Файл удален" or "Пусто" the label names no file to open.
    if (const auto& path = column.label->path())
        services_.desktop.open(*path, failureBox(kOpenFailed, *path));
}

platform::Desktop::Failed TForm2::failureBox(const QString& text, const std::string& path)
{
    // The opener's end is learnt later, from the event loop; the editor
    // may be gone by then.
    return
        [editor = QPointer<TForm2>(this), message = text + QStringLiteral(": ") + shownPath(path)] {
            if (editor)
                editor->services_.ShowMessage(message);
        };
}

void TForm2::deleteAndMark(const Column& column, std::uint32_t candidate)
{
    fs::FileSystem& files = services_.fileSystem;
    const std::string path(results_.candidates[candidate]);
    files.removeFile(path, stampOf(candidate), measuresFiles(results_.criterion));
    markIfGone(column, path, candidate);
}

void TForm2::markIfGone(const Column& column, const std::string& path, std::uint32_t candidate)
{
    if (services_.fileSystem.fileExists(path))
        return;
    column.picture->hide();
    column.label->setMarker(kDeletedMarker);
    if (gone_.empty()) {
        QTimer::singleShot(0, this, [this] {
            if (const auto folder = search::ComparisonStore::folderForSearches())
                search::ComparisonStore(*folder).forget(gone_);
            gone_.clear();
        });
    }
    gone_.push_back(stampOf(candidate));
}

search::Partner TForm2::partnerOf(std::uint32_t file, std::uint32_t partner) const
{
    return search::checkPartner(services_.fileSystem, results_.criterion,
        std::string(results_.candidates[file]), stampOf(file),
        std::string(results_.candidates[partner]), stampOf(partner));
}

void TForm2::forEachRemovable(
    const Column& column, const std::function<void(std::uint32_t)>& remove)
{
    using Stands = search::PairGroups::Stands;
    const auto stands = [this](std::uint32_t file, std::uint32_t partner) {
        switch (partnerOf(file, partner)) {
        case search::Partner::Distinct:
            return Stands::Yes;
        case search::Partner::SameFile:
            return Stands::NotForThisFile;
        default:
            // Gone, changed or in a trash: for every file of its rows.
            return Stands::No;
        }
    };
    const std::uint64_t rows = names1_->count();
    if (rows == 0)
        return;
    if (column.list.listed() || column.partners.listed()) {
        for (std::uint64_t i = 0; i < rows && i < column.list.size() && i < column.partners.size();
             ++i) {
            if (stands(column.list.candidate(i), column.partners.candidate(i)) == Stands::Yes)
                remove(column.list.candidate(i));
        }
        return;
    }
    results_.pairs.removeEach(
        column.number == 2 ? search::PairGroups::Side::Second : search::PairGroups::Side::First,
        stands, remove);
}

const fs::FileStamp& TForm2::stampOf(std::uint32_t candidate) const
{
    static const fs::FileStamp unknown;
    const search::StampList& stamps = results_.stamps;
    return candidate < stamps.size() ? stamps[candidate] : unknown;
}

void TForm2::deleteOne(const Column& column)
{
    if (const auto row = removableShownRow(
            column, { kNotDeletedSameFile, kNotDeletedCopyChanged, kNotDeletedCopyInTrash }))
        deleteAndMark(column, column.list.candidate(*row));
}

std::optional<std::size_t> TForm2::removableShownRow(
    const Column& column, const RefusalTexts& texts)
{
    // Nothing to remove while the label shows a marker.
    if (!column.label->path() || !shownPair_ || *shownPair_ >= column.list.size()
        || *shownPair_ >= column.partners.size())
        return std::nullopt;
    const std::size_t row = *shownPair_;
    // Unless the user was shown that the copy is gone, the copy must still
    // be another file, and, for files measured, the one the search saw.
    if (column.partnerLabel->caption() == kDeletedMarker)
        return row;
    switch (
        search::refusalFor(partnerOf(column.list.candidate(row), column.partners.candidate(row)),
            results_.criterion)) {
    case search::Refusal::None:
        return row;
    case search::Refusal::SameFile:
        services_.ShowMessage(texts.sameFile);
        break;
    case search::Refusal::CopyChanged:
        services_.ShowMessage(texts.copyChanged);
        break;
    case search::Refusal::CopyInTrash:
        services_.ShowMessage(texts.copyInTrash);
        break;
    }
    return std::nullopt;
}

void TForm2::deleteAll(const Column& column)
{
    // As one uninterrupted loop over the rows would: a row whose partner is
    // not another regular file, unchanged where files were measured and
    // outside every trash, holds the last copy of its pair and stays (the
    // name pass lists every pair both ways, so otherwise every copy would
    // go). Worked out per group, so a group of thousands of files costs
    // its files, not its millions of rows.
    forEachRemovable(column, [&](std::uint32_t file) { deleteAndMark(column, file); });
}

} // namespace qevra
