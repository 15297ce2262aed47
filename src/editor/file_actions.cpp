// Open, delete and delete all: the copies editor's only actions that touch
// the disk. They act at once, with no question and no message; the column's
// path label and picture box are the only feedback.
#include "app/main_window.h"
#include "editor/copies_editor.h"
#include "platform/services.h"

namespace qevra {

TForm2::Column TForm2::column1() const
{
    return { Label3, form1_->ListBox2, form1_->ListBox3, Image1, RxGIFAnimator1 };
}

TForm2::Column TForm2::column2() const
{
    return { Label4, form1_->ListBox3, form1_->ListBox2, Image2, RxGIFAnimator2 };
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
        platform::desktop().open(*path);
}

bool TForm2::deleteFile(const std::string& path)
{
    fs::FileSystem& files = *form1_->fileSystem;
    std::uint32_t attributes = 0;
    if (files.readAttributes(path, attributes) && (attributes & fs::kReadOnlyAttribute))
        files.writeAttributes(path, attributes - fs::kReadOnlyAttribute);
    files.deleteFile(path);
    return !files.fileExists(path);
}

void TForm2::markIfGone(const Column& column, const std::string& path)
{
    if (!deleteFile(path))
        return;
    column.picture->hide();
    column.label->setMarker(kDeletedMarker);
}

void TForm2::deleteOne(const Column& column)
{
    // Nothing to delete while the label shows a marker.
    if (const auto path = column.label->path())
        markIfGone(column, *path);
}

void TForm2::deleteAll(const Column& column)
{
    const std::size_t rows = std::size_t(fsListBox1->names()->count());
    fs::FileSystem& files = *form1_->fileSystem;
    // One uninterrupted loop. A file whose partner in its row is already
    // gone is the last copy of that pair and stays: the name pass lists
    // every pair both ways, so otherwise every copy would go.
    for (std::size_t i = 0; i < rows && i < column.list.size() && i < column.partners.size(); ++i) {
        if (!files.fileExists(std::string(column.partners[i])))
            continue;
        markIfGone(column, std::string(column.list[i]));
    }
}

} // namespace qevra
