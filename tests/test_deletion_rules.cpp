// When a pair's other file no longer vouches for the one to delete, through
// the real windows: a copy that lies in the trash, a copy rewritten behind
// its old modification time, an undo into a folder someone else made at the
// old place, a file put back from the trash and deleted after all, and a
// read-only file whose second name lies outside the chosen folders.
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QMenu>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

bool exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

bool sameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

struct stat statusOf(const std::string& path)
{
    struct stat status { };
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

// Waits until the clock the kernel stamps files with has passed the file's
// change time, so that whatever changes the file next shows in that time
// (the clock advances in steps of a timer tick).
void waitPastChangeTime(const std::string& path)
{
    const struct stat status = statusOf(path);
    for (;;) {
        struct timespec now { };
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (now.tv_sec > status.st_ctim.tv_sec
            || (now.tv_sec == status.st_ctim.tv_sec && now.tv_nsec > status.st_ctim.tv_nsec))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Writes other bytes of the same length over the file, in place, and then
// gives it back its access and modification times to the nanosecond, as
// `touch -r` does: its identity, size and modification time are those of
// before; only its change time tells.
void rewriteBehindItsTimes(const std::string& path, const std::string& bytes)
{
    const struct stat before = statusOf(path);
    ASSERT_EQ(std::int64_t(bytes.size()), std::int64_t(before.st_size));
    waitPastChangeTime(path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    ASSERT_EQ(::close(fd), 0);
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    const struct stat after = statusOf(path);
    ASSERT_EQ(readFile(path), bytes);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_size, before.st_size);
    ASSERT_TRUE(sameTime(after.st_mtim, before.st_mtim));
    ASSERT_FALSE(sameTime(after.st_ctim, before.st_ctim));
}

// Where a path shows in the editor: the row of the name lists, and the
// column (1 or 2).
struct Place {
    int row = -1;
    int column = 0;
};

class DeletionRules : public FormsTest {
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        freshTree();
    }

    void TearDown() override
    {
        if (QMenu* menu = form2 ? form2->nameListMenu : nullptr)
            menu->close();
        FormsTest::TearDown();
        tree_.reset();
    }

    // A new test tree, whose data folder holds the user's home trash.
    TempTree& freshTree()
    {
        tree_ = std::make_unique<TempTree>();
        dataHome_.point(tree_->path("data"));
        return *tree_;
    }
    TempTree& tree() { return *tree_; }
    std::string trashFiles() const { return tree_->path("data/Trash/files"); }
    std::string trashInfo() const { return tree_->path("data/Trash/info"); }

    // One search of `dirs` for "txt" by the criterion box, with no box left
    // from before; the editor is then the active window.
    void search(const std::vector<std::string>& dirs, controls::TxpCheckBox* criterion)
    {
        boxes().messages.clear();
        prepareSearch(dirs, "txt", criterion);
        click(form1->xpButton3);
        ASSERT_TRUE(form2->isVisible());
        form2->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form2));
    }

    // The first row showing `path`, in whichever column.
    Place firstPlaceOf(const std::string& path) const
    {
        const Pairs all = rows();
        for (std::size_t r = 0; r < all.size(); ++r) {
            if (all[r].first == path)
                return { int(r), 1 };
            if (all[r].second == path)
                return { int(r), 2 };
        }
        ADD_FAILURE() << path << " is in no row";
        return {};
    }

    // The first row showing `path` in the first column, else in the second.
    Place placePreferringColumn1(const std::string& path) const
    {
        const Pairs all = rows();
        for (std::size_t r = 0; r < all.size(); ++r) {
            if (all[r].first == path)
                return { int(r), 1 };
        }
        return firstPlaceOf(path);
    }

    controls::TxpButton* deleteButton(int column) const
    {
        return column == 1 ? form2->xpButton2 : form2->xpButton5;
    }
    controls::TxpButton* deleteAllButton(int column) const
    {
        return column == 1 ? form2->xpButton3 : form2->xpButton6;
    }
    controls::TfsListBox* list(int column) const
    {
        return column == 1 ? form2->fsListBox1 : form2->fsListBox2;
    }
    PathLabel* label(int column) const { return column == 1 ? form2->Label3 : form2->Label4; }

    // Chooses the row as the user does, by a click on it in the first list.
    void selectRow(int row)
    {
        auto* names = form2->fsListBox1;
        QTest::mouseClick(names->viewport(), Qt::LeftButton, {}, names->visualRect(row).center());
    }

    // A right click on a row of either list, as the window system delivers
    // it, then a click on the item of the menu it opened.
    void chooseOnRow(controls::TfsListBox* names, int row, QAction* item)
    {
        const QPoint inViewport = names->visualRect(row).center();
        QTest::mouseClick(form2->windowHandle(), Qt::RightButton, {},
            names->viewport()->mapTo(form2, inViewport));
        QMenu* menu = form2->nameListMenu;
        ASSERT_TRUE(menu->isVisible());
        ASSERT_TRUE(item->isEnabled()) << item->text().toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        EXPECT_FALSE(menu->isVisible());
    }

    // The Delete key in the first list: its shown file to the trash.
    void pressDelete()
    {
        form2->fsListBox1->setFocus();
        QTest::keyClick(form2->fsListBox1, Qt::Key_Delete);
    }
    void pressUndo() { QTest::keyClick(form2, Qt::Key_Z, Qt::ControlModifier); }

    // Moves the file at `path` to the trash from the first row showing it:
    // by the Delete key in the first column, by the menu in the second.
    void trashThroughTheEditor(const std::string& path)
    {
        const Place place = firstPlaceOf(path);
        ASSERT_GE(place.row, 0);
        selectRow(place.row);
        if (place.column == 1)
            pressDelete();
        else
            chooseOnRow(form2->fsListBox2, place.row, form2->menuTrash);
    }

private:
    std::unique_ptr<TempTree> tree_;
    DataHome dataHome_;
};

const std::string kBytes = "the same bytes";

} // namespace

TEST_F(DeletionRules, ACopyInTheTrashNeverVouchesForTheLiveFile)
{
    // The live file and a copy of it in the home trash, there by itself or
    // inside a folder that went to the trash, both found by a search of the
    // whole tree. The next emptying of the trash takes the copy, so the live
    // file is the last one: nothing deletes it or moves it to the trash on
    // the copy's word. (A copy in a trash at the top of a mounted file
    // system needs a mount; the engine's tests cover it.)
    struct Files {
        std::string live;
        std::string trashed;
    };
    // `inTrash`: the copy's path inside the trash's files folder.
    const auto trashedPair = [this](const std::string& inTrash) {
        TempTree& tree = freshTree();
        Files files { tree.file("live/x.txt", kBytes),
            tree.file("data/Trash/files/" + inTrash, kBytes) };
        const std::string top = inTrash.substr(0, inTrash.find('/'));
        tree.file("data/Trash/info/" + top + ".trashinfo",
            "[Trash Info]\nPath=" + tree.path(top) + "\nDeletionDate=2024-05-01T10:00:00\n");
        return files;
    };
    const auto searchFor = [this](const Files& files, controls::TxpCheckBox* criterion) {
        search({ tree().root() }, criterion);
        const Pairs found = rows();
        EXPECT_FALSE(found.empty());
        for (const auto& [first, second] : found)
            EXPECT_EQ(std::set<std::string>({ first, second }),
                std::set<std::string>({ files.live, files.trashed }));
        return found;
    };
    for (const std::string inTrash : { "x.txt", "old/x.txt" }) {
        for (controls::TxpCheckBox* criterion : criteria()) {
            SCOPED_TRACE(criterion->text().toStdString() + ", the copy at Trash/files/" + inTrash);
            {
                const Files files = trashedPair(inTrash);
                const Pairs before = searchFor(files, criterion);
                // Column 1 where a row shows it there, for the Delete key.
                const Place live = placePreferringColumn1(files.live);
                selectRow(live.row);
                click(deleteButton(live.column));
                EXPECT_EQ(boxes().messages, std::vector<QString> { kNotDeletedCopyInTrash });

                boxes().messages.clear();
                chooseOnRow(list(live.column), live.row, form2->menuTrash);
                std::vector<QString> expected { kNotTrashedCopyInTrash };
                if (live.column == 1) {
                    pressDelete();
                    expected.push_back(kNotTrashedCopyInTrash);
                }
                EXPECT_EQ(boxes().messages, expected);
                EXPECT_EQ(readFile(files.live), kBytes);
                EXPECT_EQ(namesIn(trashFiles()),
                    std::set<std::string> { inTrash.substr(0, inTrash.find('/')) });
                EXPECT_EQ(label(live.column)->path(), files.live);
                EXPECT_EQ(rows(), before);

                // The copy in the trash may go: its partner is a live file.
                boxes().messages.clear();
                const Place trashed = firstPlaceOf(files.trashed);
                selectRow(trashed.row);
                click(deleteButton(trashed.column));
                EXPECT_TRUE(boxes().messages.empty());
                EXPECT_FALSE(exists(files.trashed));
                EXPECT_EQ(label(trashed.column)->text(), kDeletedMarker);
                EXPECT_EQ(readFile(files.live), kBytes);
            }
            // A whole column, by each batch action on a search of its own:
            // the column chosen shows the live file at the first of the rows,
            // so that its row comes before the copy's own row by name, where
            // the copy (its partner living) may go.
            for (const bool toTrash : { false, true }) {
                SCOPED_TRACE(toTrash ? "Переместить все в корзину" : "Удалить все");
                const Files files = trashedPair(inTrash);
                const Pairs before = searchFor(files, criterion);
                const Place live = firstPlaceOf(files.live);
                if (toTrash) {
                    chooseOnRow(list(live.column), live.row, form2->menuTrashAll);
                } else {
                    selectRow(live.row);
                    click(deleteAllButton(live.column));
                }
                EXPECT_TRUE(boxes().messages.empty());
                EXPECT_EQ(readFile(files.live), kBytes);
                EXPECT_EQ(rows(), before);
                if (before.size() == 1) {
                    // The copy's only row lists it in the other column.
                    EXPECT_EQ(readFile(files.trashed), kBytes);
                }
            }
        }
    }
}

TEST_F(DeletionRules, AFileRewrittenBehindItsOldModificationTimeIsChanged)
{
    // Other bytes of the same size, with the modification time set back to
    // the nanosecond: only the change time shows that the file is not what
    // the search compared. Whether the copy or the file itself was
    // rewritten, column 1's file stays, by "Удалить" and by "Удалить все",
    // each on a search of its own.
    const std::string other = "OTHER bytes now";
    const std::string same = "identical bytes";
    for (controls::TxpCheckBox* criterion : { form1->checkbox1, form1->CheckBox3 }) {
        for (const bool copyRewritten : { true, false }) {
            for (controls::TxpButton* button : { form2->xpButton2, form2->xpButton3 }) {
                SCOPED_TRACE(criterion->text().toStdString() + ", "
                    + (copyRewritten ? "the copy" : "the file") + " rewritten, "
                    + button->text().toStdString());
                TempTree& tree = freshTree();
                tree.file("a/x.txt", same);
                tree.file("b/x.txt", same);
                search({ tree.root() }, criterion);
                ASSERT_EQ(rows().size(), 1u);
                const auto [file, partner] = rows()[0];
                rewriteBehindItsTimes(copyRewritten ? partner : file, other);
                selectRow(0);
                click(button);
                EXPECT_EQ(readFile(file), copyRewritten ? same : other);
                EXPECT_EQ(readFile(partner), copyRewritten ? other : same);
                EXPECT_EQ(form2->Label3->path(), file);
                // "Удалить" tells why the copy no longer vouches for the
                // file; a file changed itself stays without a word, as
                // "Удалить все" skips every row it keeps.
                const std::vector<QString> told = copyRewritten && button == form2->xpButton2
                    ? std::vector<QString> { kNotDeletedCopyChanged }
                    : std::vector<QString> {};
                EXPECT_EQ(boxes().messages, told);
            }
        }
    }
}

TEST_F(DeletionRules, AnUndoNeverPutsAFileIntoAFolderSomeoneElseMadeAtItsPlace)
{
    // The file's folder lies in a folder where anyone may make folders. It
    // is emptied by the move to the trash and removed; another user makes a
    // folder of that name: the file stays in the trash and is named.
    TempTree& tree = freshTree();
    const std::string shared = tree.dir("shared");
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string folder = shared + "/d";
    const std::string moved = tree.file("shared/d/x.txt", kBytes);
    tree.file("other/x.txt", kBytes);
    search({ tree.root() }, form1->checkbox1);
    ASSERT_EQ(rows().size(), 1u);
    trashThroughTheEditor(moved);
    ASSERT_FALSE(exists(moved));
    ASSERT_EQ(namesIn(trashFiles()), std::set<std::string> { "x.txt" });
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    ASSERT_EQ(runUnprivileged([&] { return ::mkdir(folder.c_str(), 0755) == 0 ? 0 : 1; }), 0);
    ASSERT_NE(statusOf(folder).st_uid, 0u);

    pressUndo();
    EXPECT_EQ(boxes().messages.size(), 1u);
    const QString text = boxes().messages.empty() ? QString() : boxes().messages.front();
    EXPECT_TRUE(text.startsWith(kStayedInTrashFolder)) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(moved))) << text.toStdString();
    EXPECT_FALSE(exists(moved));
    EXPECT_TRUE(namesIn(folder).empty());
    EXPECT_EQ(readFile(trashFiles() + "/x.txt"), kBytes);
    EXPECT_EQ(namesIn(trashInfo()), std::set<std::string> { "x.txt.trashinfo" });
    EXPECT_FALSE(form2->canRestore());

    // The same folder, still there: the file comes back.
    TempTree& again = freshTree();
    ASSERT_EQ(::chmod(again.dir("shared").c_str(), 01777), 0);
    const std::string back = again.file("shared/d/x.txt", kBytes);
    again.file("other/x.txt", kBytes);
    search({ again.root() }, form1->checkbox1);
    trashThroughTheEditor(back);
    ASSERT_FALSE(exists(back));
    pressUndo();
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_EQ(readFile(back), kBytes);
    EXPECT_TRUE(namesIn(trashFiles()).empty());
}

TEST_F(DeletionRules, AFilePutBackFromTheTrashIsTheFileTheSearchSaw)
{
    // The move to the trash and back renames the file twice, which changes
    // its change time; it is still the file the search compared. So, after
    // the undo, deleting it is allowed, and so is deleting its partner,
    // which it vouches for again; each case on a search of its own.
    for (const int deleted : { 1, 2 }) {
        SCOPED_TRACE(::testing::Message() << "column " << deleted << " deleted after the undo");
        TempTree& tree = freshTree();
        tree.file("a/x.txt", kBytes);
        tree.file("b/x.txt", kBytes);
        search({ tree.root() }, form1->checkbox1);
        ASSERT_EQ(rows().size(), 1u);
        const auto [first, second] = rows()[0];
        const struct stat seen = statusOf(first);
        waitPastChangeTime(first);
        selectRow(0);
        pressDelete();
        ASSERT_FALSE(exists(first));
        pressUndo();
        ASSERT_EQ(readFile(first), kBytes);
        ASSERT_TRUE(boxes().messages.empty());
        const struct stat restored = statusOf(first);
        ASSERT_EQ(restored.st_ino, seen.st_ino);
        ASSERT_FALSE(sameTime(restored.st_ctim, seen.st_ctim)); // the renames show
        EXPECT_EQ(form2->Label3->path(), first);
        EXPECT_EQ(form2->Label4->path(), second);

        click(deleteButton(deleted));
        EXPECT_TRUE(boxes().messages.empty());
        const std::string& gone = deleted == 1 ? first : second;
        const std::string& kept = deleted == 1 ? second : first;
        EXPECT_FALSE(exists(gone));
        EXPECT_EQ(label(deleted)->text(), kDeletedMarker);
        EXPECT_EQ(readFile(kept), kBytes);
    }
}

TEST_F(DeletionRules, DeletingAReadOnlyFileLeavesItsOtherNameAsItWas)
{
    // A read-only file with a second name outside the chosen folders: the
    // deletion removes the chosen name only and never touches the mode,
    // which the other name shares.
    TempTree& tree = freshTree();
    const std::string readOnly = tree.file("in/x.txt", kBytes);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    tree.dir("outside");
    const std::string keep = tree.path("outside/keep.txt");
    ASSERT_EQ(::link(readOnly.c_str(), keep.c_str()), 0);
    const std::string copy = tree.file("in2/x.txt", kBytes);
    search({ tree.path("in"), tree.path("in2") }, form1->checkbox1);
    ASSERT_EQ(rows().size(), 1u);
    const Place place = firstPlaceOf(readOnly);
    selectRow(place.row);
    click(deleteButton(place.column));
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_FALSE(exists(readOnly));
    EXPECT_EQ(readFile(copy), kBytes);
    const struct stat kept = statusOf(keep);
    EXPECT_EQ(kept.st_mode & 07777, 0444u);
    EXPECT_EQ(kept.st_nlink, 1u);
    EXPECT_EQ(readFile(keep), kBytes);
}
