// The folder-browse dialog, on real temporary trees and with real input.
#include "platform/folder_dialog.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <climits>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using qevra::platform::FolderDialog;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

const QString kPrompt = QStringLiteral("Выберите папку для поиска дубликатов");

std::string pathOf(const QTreeWidgetItem* item)
{
    return item->data(0, FolderDialog::kPathRole).toByteArray().toStdString();
}

// The temporary root without links in its path, as the tree reaches it.
std::string realRoot(const TempTree& tree)
{
    char buffer[PATH_MAX];
    return ::realpath(tree.root().c_str(), buffer) ? buffer : tree.root();
}

// Expands the tree from "/" down to the parent of `path` and returns the
// item of `path` (nullptr when some step is not shown).
QTreeWidgetItem* reveal(FolderDialog& dialog, const std::string& path)
{
    QTreeWidgetItem* item = dialog.tree->topLevelItem(0);
    for (std::size_t slash = path.find('/', 1); item;) {
        const std::string prefix = path.substr(0, slash);
        item->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i) {
            if (pathOf(item->child(i)) == prefix)
                next = item->child(i);
        }
        item = next;
        if (slash == std::string::npos)
            break;
        slash = path.find('/', slash + 1);
    }
    return item;
}

void clickItem(QTreeWidget* tree, QTreeWidgetItem* item)
{
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

// Replaces the line's text as the user does: select all, erase, type.
void type(QLineEdit* edit, const std::string& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromStdString(text));
}

// Runs browse(); `act` works the open dialog as the user would. A dialog
// that `act` left open is rejected so that the test cannot hang.
std::optional<std::string> browseWith(const std::function<void(FolderDialog&)>& act)
{
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<FolderDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no modal folder dialog";
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* found = qobject_cast<FolderDialog*>(widget))
                    found->reject();
            }
            return;
        }
        act(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    return FolderDialog::browse(nullptr, kPrompt);
}

} // namespace

TEST(FolderDialog, StartsAtTheRootWithNothingChosen)
{
    FolderDialog dialog(nullptr, kPrompt);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Обзор папок"));
    EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog.promptLabel->text(), kPrompt);
    EXPECT_EQ(dialog.okButton->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.cancelButton->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(dialog.size(), QSize(360, 420));

    ASSERT_EQ(dialog.tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = dialog.tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("/"));
    EXPECT_EQ(pathOf(root), "/");
    EXPECT_FALSE(root->isExpanded());
    EXPECT_EQ(root->childCount(), 0); // read only when expanded
    EXPECT_EQ(root->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_TRUE(dialog.tree->selectedItems().isEmpty());
    EXPECT_TRUE(dialog.pathEdit->text().isEmpty());
    EXPECT_FALSE(dialog.okButton->isEnabled());
    EXPECT_FALSE(dialog.chosen());
}

TEST(FolderDialog, OkIsEnabledOnlyForATypedDirectory)
{
    TempTree tree;
    const std::string dir = tree.dir("dir");
    const std::string file = tree.file("file.txt", "x");
    FolderDialog dialog(nullptr, kPrompt);
    dialog.show();

    const auto typed = [&](const std::string& text) {
        type(dialog.pathEdit, text);
        return dialog.okButton->isEnabled();
    };
    EXPECT_FALSE(typed(file));
    EXPECT_FALSE(typed(tree.path("missing")));
    EXPECT_FALSE(typed(file + "/"));
    EXPECT_TRUE(typed(dir));
    EXPECT_EQ(dialog.chosen(), dir);
    EXPECT_TRUE(typed(dir + "/"));
    EXPECT_EQ(dialog.chosen(), dir); // the trailing slash is not returned
    EXPECT_TRUE(typed(dir + "//"));
    EXPECT_EQ(dialog.chosen(), dir);
    EXPECT_TRUE(typed("/"));
    EXPECT_EQ(dialog.chosen(), "/");
    EXPECT_FALSE(typed(""));
    // A relative path names nothing; "~" is the home directory.
    ASSERT_EQ(::chdir(tree.root().c_str()), 0);
    EXPECT_FALSE(typed("dir"));
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_TRUE(typed("~"));
    EXPECT_EQ(dialog.chosen(), QFile::encodeName(QDir::homePath()).toStdString());
}

TEST(FolderDialog, EverySpellingOfADirectoryAnswersItsCanonicalPath)
{
    // Dots, doubled slashes and links (above it or itself) all name one
    // directory, which is answered spelt one way, without a link.
    TempTree tree;
    const std::string dir = realRoot(tree) + "/d";
    tree.dir("d/sub");
    tree.link("linked", tree.path("d"));
    tree.link("up", tree.root());
    FolderDialog dialog(nullptr, kPrompt);
    dialog.show();
    for (const std::string& spelling : { tree.path("d"), tree.root() + "/./d", tree.root() + "//d",
             tree.path("d/sub/.."), tree.path("d/sub/../../d/."), tree.path("linked"),
             tree.path("up/d"), tree.path("up/linked/") }) {
        SCOPED_TRACE(spelling);
        type(dialog.pathEdit, spelling);
        EXPECT_TRUE(dialog.okButton->isEnabled());
        EXPECT_EQ(dialog.chosen(), dir);
    }
}

TEST(FolderDialog, ExpandingListsOnlyRealSubdirectoriesInOrder)
{
    TempTree tree;
    for (const char* name : { "beta", "Zeta", "gamma", ".hidden", "Alpha/deep" })
        tree.dir(name);
    tree.file("afile.txt");
    tree.link("alink", tree.path("Alpha"));
    tree.link("dangling", tree.path("nowhere"));
    FolderDialog dialog(nullptr, kPrompt);

    const std::string root = realRoot(tree);
    QTreeWidgetItem* item = reveal(dialog, root);
    ASSERT_TRUE(item);
    item->setExpanded(true);
    QStringList shown;
    for (int i = 0; i < item->childCount(); ++i) {
        shown << item->child(i)->text(0);
        EXPECT_EQ(pathOf(item->child(i)), root + "/" + item->child(i)->text(0).toStdString());
    }
    // Case-insensitive by name; hidden directories after the others.
    EXPECT_EQ(shown, QStringList({ "Alpha", "beta", "gamma", "Zeta", ".hidden" }));

    QTreeWidgetItem* alpha = item->child(0);
    QTreeWidgetItem* beta = item->child(1);
    alpha->setExpanded(true);
    beta->setExpanded(true);
    ASSERT_EQ(alpha->childCount(), 1);
    EXPECT_EQ(pathOf(alpha->child(0)), root + "/Alpha/deep");
    EXPECT_EQ(alpha->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(beta->childCount(), 0);
    EXPECT_EQ(beta->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

TEST(FolderDialog, SelectingANonUtf8NameReturnsItsExactBytes)
{
    TempTree tree;
    const std::string latin1 = tree.dir(std::string("caf\xe9"));
    // The name "caf\xe9" is shown as "caf\uFFFD", which is also this name.
    tree.dir(std::string("caf\xef\xbf\xbd"));

    const auto answer = browseWith([&](FolderDialog& dialog) {
        QTreeWidgetItem* item = reveal(dialog, realRoot(tree) + "/caf\xe9");
        ASSERT_TRUE(item);
        clickItem(dialog.tree, item);
        EXPECT_EQ(
            dialog.pathEdit->text(), QFile::decodeName(QByteArray::fromStdString(pathOf(item))));
        ASSERT_TRUE(dialog.okButton->isEnabled());
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    });
    EXPECT_EQ(answer, realRoot(tree) + "/caf\xe9");
}

TEST(FolderDialog, TheRootItemReturnsTheRoot)
{
    const auto answer = browseWith([](FolderDialog& dialog) {
        clickItem(dialog.tree, dialog.tree->topLevelItem(0));
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    });
    EXPECT_EQ(answer, "/");
}

TEST(FolderDialog, EnterConfirmsATypedDirectoryOnlyWhileOkIsEnabled)
{
    TempTree tree;
    const std::string dir = tree.dir("dir");
    const auto answer = browseWith([&](FolderDialog& dialog) {
        type(dialog.pathEdit, tree.path("missing"));
        QTest::keyClick(dialog.pathEdit, Qt::Key_Return);
        ASSERT_TRUE(dialog.isVisible());
        type(dialog.pathEdit, dir + "/");
        QTest::keyClick(dialog.pathEdit, Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_EQ(answer, dir);
}

TEST(FolderDialog, CancelEscAndClosingReturnNothing)
{
    TempTree tree;
    const std::string dir = tree.dir("dir");
    const std::function<void(FolderDialog&)> leave[] = {
        [](FolderDialog& d) { QTest::mouseClick(d.cancelButton, Qt::LeftButton); },
        [](FolderDialog& d) { QTest::keyClick(d.pathEdit, Qt::Key_Escape); },
        [](FolderDialog& d) { d.close(); },
    };
    for (const auto& how : leave) {
        const auto answer = browseWith([&](FolderDialog& dialog) {
            type(dialog.pathEdit, dir);
            ASSERT_TRUE(dialog.okButton->isEnabled());
            how(dialog);
            EXPECT_FALSE(dialog.isVisible());
        });
        EXPECT_FALSE(answer);
    }
}

TEST(FolderDialog, AnUnreadableDirectoryShowsNoChildren)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to an unprivileged user";
    TempTree tree;
    tree.dir("open/inside");
    tree.dir("locked/inside");
    ASSERT_EQ(::chmod(tree.path("locked").c_str(), 0), 0);
    const std::string root = realRoot(tree);

    // The child, unlike root, is stopped by the permissions.
    const int status = runUnprivileged([&] {
        FolderDialog dialog(nullptr, kPrompt);
        QTreeWidgetItem* open = reveal(dialog, root + "/open");
        QTreeWidgetItem* locked = reveal(dialog, root + "/locked");
        if (!open || !locked)
            return 1;
        open->setExpanded(true);
        if (open->childCount() != 1)
            return 2; // the child could not read even a readable directory
        locked->setExpanded(true);
        if (locked->childCount() != 0)
            return 3;
        return locked->childIndicatorPolicy() == QTreeWidgetItem::DontShowIndicatorWhenChildless
            ? 0
            : 4;
    });
    EXPECT_EQ(status, 0);
}
