// The menu of the copies editor's two name lists and its shortcuts: open,
// show in the folder, the trash with its undo, and copying paths. Nothing
// here changes a designed control; the menu acts on the file a column's
// path label holds.
#include "editor/copies_editor.h"

#include "controls/palette.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QShortcut>
#include <algorithm>
#include <functional>

namespace qevra {

namespace {

// Hands the keyboard's menu event with Ctrl, as the platform sends it for
// Ctrl and the menu key, to `handler` instead of the list.
class ControlMenuKey : public QObject {
public:
    ControlMenuKey(QWidget* list, std::function<void()> handler)
        : QObject(list)
        , handler_(std::move(handler))
    {
        list->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ContextMenu)
            return QObject::eventFilter(watched, event);
        const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        if (menuEvent->reason() != QContextMenuEvent::Keyboard
            || !(menuEvent->modifiers() & Qt::ControlModifier))
            return false;
        event->accept();
        handler_();
        return true;
    }

private:
    std::function<void()> handler_;
};

} // namespace

void TForm2::makeNameListMenu()
{
    nameListMenu = new QMenu(this);
    // A popup is a window of its own and takes no palette from the editor:
    // it gets the program's light one, like every control of the editor.
    nameListMenu->setPalette(controls::programPalette());
    auto item = [this](const QString& text, void (TForm2::*action)(int)) {
        QAction* made = nameListMenu->addAction(text);
        connect(made, &QAction::triggered, this, [this, action] { (this->*action)(menuColumn_); });
        return made;
    };
    menuOpen = item(kMenuOpen, &TForm2::openColumnFile);
    menuShowInFolder = item(kMenuShowInFolder, &TForm2::showInFolder);
    nameListMenu->addSeparator();
    menuTrash = item(kMenuTrash, &TForm2::trashFile);
    menuTrashAll = item(kMenuTrashAll, &TForm2::trashAll);
    nameListMenu->addSeparator();
    menuCopyPath = item(kMenuCopyPath, &TForm2::copyPath);
    menuCopyAllPairs = nameListMenu->addAction(kMenuCopyAllPairs);
    connect(menuCopyAllPairs, &QAction::triggered, this, [this] { copyAllPairs(); });
    nameListMenu->addSeparator();
    menuRestore = nameListMenu->addAction(kMenuRestore);
    connect(menuRestore, &QAction::triggered, this, [this] { restoreFromTrash(); });

    // The keys are shown in the menu; the shortcuts below carry them out
    // (a menu that is not open takes no key).
    const QKeySequence trashKey(Qt::Key_Delete);
    const QKeySequence restoreKey(Qt::CTRL | Qt::Key_Z);
    menuTrash->setShortcut(trashKey);
    menuRestore->setShortcut(restoreKey);
    menuTrash->setShortcutVisibleInContextMenu(true);
    menuRestore->setShortcutVisibleInContextMenu(true);
    // The first list keeps the focus while the menu is open: its Delete
    // is no key of the second copy's menu.
    new QShortcut(
        trashKey, fsListBox1,
        [this] {
            if (!nameListMenu->isVisible() || menuColumn_ == 1)
                trashFile(1);
        },
        Qt::WidgetShortcut);
    new QShortcut(
        restoreKey, this, [this] { restoreFromTrash(); }, Qt::WindowShortcut);
    // The second copy's menu from the first list, which has the keyboard.
    for (const QKeySequence& key :
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::CTRL | Qt::Key_Menu) })
        new QShortcut(
            key, fsListBox1, [this] { openSecondCopyMenu(); }, Qt::WidgetShortcut);
    new ControlMenuKey(fsListBox1, [this] { openSecondCopyMenu(); });

    connect(fsListBox1, &controls::TfsListBox::menuRequested, this,
        [this](QPoint globalPos) { openNameListMenu(1, globalPos); });
}

void TForm2::openNameListMenu(int number, QPoint globalPos)
{
    menuColumn_ = number == 2 ? 2 : 1;
    const bool hasFile = column(menuColumn_).label->path().has_value();
    const bool hasRows = names1_->count() > 0;
    menuOpen->setEnabled(hasFile);
    menuShowInFolder->setEnabled(hasFile);
    menuTrash->setEnabled(hasFile && shownPair_);
    menuTrashAll->setEnabled(hasRows);
    menuCopyPath->setEnabled(hasFile);
    menuCopyAllPairs->setEnabled(hasRows);
    menuRestore->setEnabled(canRestore());
    // Delete moves the first list's file: the menu shows it, and takes it,
    // for column 1 only.
    menuTrash->setShortcut(menuColumn_ == 1 ? QKeySequence(Qt::Key_Delete) : QKeySequence());
    nameListMenu->popup(globalPos);
}

void TForm2::openSecondCopyMenu()
{
    // The platform may send both the key and the menu event for one press.
    if (nameListMenu->isVisible())
        return;
    const std::int64_t current = fsListBox1->currentRow();
    const std::int64_t row = current >= 0 ? current : fsListBox1->selectedRow();
    if (row >= 0) {
        fsListBox1->selectRow(row);
        fsListBox1Click();
    }
    // At the pair's row in the second list, as the first list places its
    // own keyboard menu.
    QPoint at = fsListBox2->viewport()->rect().topLeft();
    if (const QRect shown = fsListBox2->visualRect(fsListBox2->selectedRow()); !shown.isEmpty())
        at = QPoint(shown.left() + shown.height(), shown.bottom());
    openNameListMenu(2, fsListBox2->viewport()->mapToGlobal(at));
}

void TForm2::contextMenuEvent(QContextMenuEvent* event)
{
    // Only a right click reaches here from fsListBox2; the keyboard cannot
    // give it the focus.
    const QPoint inList = fsListBox2->viewport()->mapFrom(this, event->pos());
    if (event->reason() != QContextMenuEvent::Mouse
        || !fsListBox2->viewport()->rect().contains(inList)) {
        event->ignore();
        return;
    }
    event->accept();
    // The pair under the pointer is chosen through fsListBox1's selection
    // step, as if its row there had been clicked.
    if (const std::int64_t row = fsListBox2->rowAt(inList); row >= 0) {
        fsListBox1->selectRow(row);
        fsListBox1Click();
    }
    openNameListMenu(2, event->globalPos());
}

void TForm2::openColumnFile(int number)
{
    openFile(column(number));
}

void TForm2::showInFolder(int number)
{
    if (const auto& path = column(number).label->path())
        services_.desktop.showInFolder(*path, failureBox(kShowInFolderFailed, *path));
}

void TForm2::copyPath(int number)
{
    if (const auto& path = column(number).label->path())
        QGuiApplication::clipboard()->setText(shownPath(*path));
}

void TForm2::copyAllPairs()
{
    const std::uint64_t rows = std::min<std::uint64_t>(
        { std::uint64_t(names1_->count()), results_.first.size(), results_.second.size() });
    // More would make a text of hundreds of megabytes.
    if (rows > kMostPairsCopied) {
        services_.ShowMessage(kTooManyPairs + QString::number(rows));
        return;
    }
    QString text;
    for (std::uint64_t i = 0; i < rows; ++i)
        text += shownPath(results_.first[i]) + u'\t' + shownPath(results_.second[i]) + u'\n';
    QGuiApplication::clipboard()->setText(text);
}

} // namespace qevra
