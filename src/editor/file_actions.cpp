// Open, delete and delete all: the copies editor's only actions that touch
// the disk. They act at once, with no question and no message; the column's
// path label and picture box are the only feedback.
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/deletion.h"

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
        services_.desktop.open(*path);
}

void TForm2::deleteAndMark(const Column& column, std::size_t row)
{
    fs::FileSystem& files = services_.fileSystem;
    const std::string path(column.list[row]);
    const fs::FileStamp& seen = stampOf(column.list.candidate(row));
    files.removeFile(path, seen, measuresFiles(results_.criterion));
    markIfGone(column, path);
}

void TForm2::markIfGone(const Column& column, const std::string& path)
{
    if (services_.fileSystem.fileExists(path))
        return;
    column.picture->hide();
    column.label->setMarker(kDeletedMarker);
}

search::Partner TForm2::partnerOf(const Column& column, std::size_t row) const
{
    return search::checkPartner(services_.fileSystem, results_.criterion,
        std::string(column.list[row]), stampOf(column.list.candidate(row)),
        std::string(column.partners[row]), stampOf(column.partners.candidate(row)));
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
        deleteAndMark(column, *row);
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
    switch (search::refusalFor(partnerOf(column, row), results_.criterion)) {
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
    const std::size_t rows = std::size_t(names1_->count());
    // One uninterrupted loop. A row whose partner is not another regular
    // file, unchanged where files were measured and outside every trash,
    // holds the last copy of its pair and stays: the name pass lists every
    // pair both ways, so otherwise every copy would go.
    for (std::size_t i = 0; i < rows && i < column.list.size() && i < column.partners.size(); ++i) {
        if (partnerOf(column, i) == search::Partner::Distinct)
            deleteAndMark(column, i);
    }
}

} // namespace qevra
