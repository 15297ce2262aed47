#pragma once

#include "base/preview_kind.h"
#include "controls/basic_controls.h"
#include "controls/name_list.h"
#include "controls/picture_box.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"
#include "editor/name_list_rows.h"
#include "editor/path_label.h"
#include "platform/gif_animator.h"
#include "platform/media_player.h"
#include "platform/services.h"
#include "search/deletion.h"
#include "search/path_column.h"
#include "search/results.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QWidget>

class QAction;
class QMenu;

namespace qevra {

// Texts of the copies editor.
inline const QString kEmptyMarker = QStringLiteral("Пусто");
inline const QString kDeletedMarker = QStringLiteral("Файл удален");
inline const QString kOpenHint
    = QStringLiteral("Нажмите эту кнопку, чтобы открыть просмотр файлов");
inline const QString kCloseHint
    = QStringLiteral("Нажмите эту кнопку, чтобы закрыть просмотр файлов");
// Why "Удалить" left a file in place.
inline const QString kNotDeletedSameFile = QStringLiteral("Файл не удален: это тот же файл");
inline const QString kNotDeletedCopyChanged
    = QStringLiteral("Файл не удален: его копия изменилась после поиска");
inline const QString kNotDeletedCopyInTrash = QStringLiteral("Файл не удален: его копия в корзине");

// The name lists' menu.
inline const QString kMenuOpen = QStringLiteral("Открыть");
inline const QString kMenuShowInFolder = QStringLiteral("Показать в папке");
inline const QString kMenuTrash = QStringLiteral("Переместить в корзину");
inline const QString kMenuTrashAll = QStringLiteral("Переместить все в корзину");
inline const QString kMenuCopyPath = QStringLiteral("Копировать путь");
inline const QString kMenuCopyAllPairs = QStringLiteral("Копировать все пары");
inline const QString kMenuRestore = QStringLiteral("Вернуть из корзины");
// "Копировать все пары" copies at most this many rows.
inline constexpr std::uint64_t kMostPairsCopied = 1'000'000;
inline const QString kTooManyPairs = QStringLiteral("Слишком много пар для копирования: ");
// Why a file did not go to the trash, or did not come back.
inline const QString kNotTrashedSameFile
    = QStringLiteral("Файл не перемещен в корзину: это тот же файл");
inline const QString kNotTrashedCopyChanged
    = QStringLiteral("Файл не перемещен в корзину: его копия изменилась после поиска");
inline const QString kNotTrashedCopyInTrash
    = QStringLiteral("Файл не перемещен в корзину: его копия в корзине");
inline const QString kNotTrashedChanged
    = QStringLiteral("Файл не перемещен в корзину: он изменился после поиска");
inline const QString kTrashFailed = QStringLiteral("Не удалось переместить в корзину");
inline const QString kNoTrash = QStringLiteral("Нет корзины на диске этого файла");
inline const QString kStayedInTrash = QStringLiteral("Файл остался в корзине, его место занято");
inline const QString kStayedInTrashMany
    = QStringLiteral("Файлы остались в корзине, их место занято");
inline const QString kStayedInTrashFolder
    = QStringLiteral("Файл остался в корзине: его папку заменила другая");
inline const QString kStayedInTrashFolderMany
    = QStringLiteral("Файлы остались в корзине: их папки заменили другие");
inline const QString kNotRestored = QStringLiteral("Не удалось вернуть из корзины");
// No application could open the file or its folder (followed by the path).
inline const QString kOpenFailed = QStringLiteral("Не удалось открыть файл");
inline const QString kShowInFolderFailed = QStringLiteral("Не удалось показать файл в папке");

// The copies editor: lists the pairs of the main window's first-copy and
// second-copy lists by bare name, shows the full paths of the pair the user
// selects, and carries the file actions and the preview panel. Closing it
// hides it and brings the main window back.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    // The editor reads the search's results (and keeps their stamps true
    // to the files it puts back from the trash); closing it shows
    // `mainWindow`.
    TForm2(search::Results& results, QWidget* mainWindow, platform::Services& services,
        QWidget* parent = nullptr);
    ~TForm2() override;

    // Members, in declaration order.
    controls::Label* Label1;
    controls::Label* Label2;
    PathLabel* Label3;
    PathLabel* Label4;
    controls::Label* Label5;
    controls::PictureBox* Image1;
    controls::PictureBox* Image2;
    controls::Label* Label6;
    platform::MediaPlayer* MediaPlayer1;
    controls::TfsListBox* fsListBox1;
    platform::GifAnimator* RxGIFAnimator1;
    platform::GifAnimator* RxGIFAnimator2;
    controls::TfsListBox* fsListBox2;
    controls::Label* Label7;
    controls::Label* Label8;
    controls::Label* Label9;
    controls::TxpButton* xpButton1;
    controls::TxpButton* xpButton2;
    controls::TxpButton* xpButton3;
    controls::TxpButton* xpButton4;
    controls::TxpButton* xpButton5;
    controls::TxpButton* xpButton6;
    controls::Label* Label10;
    controls::Label* Label11;
    controls::TxpButton* fsbitbtn4;
    controls::TxpButton* Button3;
    controls::TxpButton* Button1;
    controls::TxpButton* Button6;
    controls::TxpButton* Button5;

    // Empties both name lists (the search does this before collecting).
    void clearNameLists();
    // Shows in both name lists the bare names of the copy lists' rows not
    // shown yet.
    void appendRowNames();
    // The hand-off of a search's rows: the count line (when given), the
    // preview kind (when given), both name lists anew, and, for the size
    // pass, the preview toggle, shown exactly for a picture or media kind.
    void showResults(
        std::optional<std::size_t> count, std::optional<PreviewKind> kind, bool setsPreviewToggle);
    // The preview kind the editor holds, if any.
    std::optional<PreviewKind> previewKind() const;

    // Handlers: showing, choosing a pair, closing.
    void FormShow();
    void fsListBox1Click();
    void FormClose();
    // Open, delete and delete all, column 1 then column 2.
    void xpButton1Click();
    void xpButton2Click();
    void xpButton3Click();
    void xpButton4Click();
    void xpButton5Click();
    void xpButton6Click();
    // The preview toggle, play and stop.
    void fsbitbtn4Click();
    void Button5Click();
    void Button1Click();
    void Button6Click();
    void Button3Click();

    // The menu of the two name lists (beyond the designed window): a right
    // click on a row of either list, or the menu key or Shift+F10 in
    // fsListBox1, first chooses that row as a click does, then opens it for
    // that column's file. fsListBox2 takes no input: a right click on its
    // row chooses the pair through fsListBox1's selection step.
    QMenu* nameListMenu;
    QAction* menuOpen;
    QAction* menuShowInFolder;
    QAction* menuTrash; // also the Delete key in fsListBox1
    QAction* menuTrashAll;
    QAction* menuCopyPath;
    QAction* menuCopyAllPairs;
    QAction* menuRestore; // also Ctrl+Z
    // Opens the menu for column 1 or 2 at a global position.
    void openNameListMenu(int column, QPoint globalPos);
    // Ctrl+Shift+F10 or Ctrl with the menu key in fsListBox1: chooses its
    // current row as a click does, then opens the menu for column 2 at the
    // pair's row of fsListBox2.
    void openSecondCopyMenu();
    // The column the menu was last opened for.
    int menuColumn() const { return menuColumn_; }
    // The menu's actions, for column 1 or 2.
    void openColumnFile(int column);
    void showInFolder(int column);
    // Moves the column's shown file to the trash, under the checks of
    // "Удалить"; a refusal or failure is told in a message box.
    void trashFile(int column);
    // Moves every file of the column to the trash, skipping the rows that
    // "Удалить все" skips; the failures are told together at the end.
    void trashAll(int column);
    void copyPath(int column);
    void copyAllPairs();
    // Puts back the files of the last move to the trash of this run, each
    // to its path when that is free, and shows the selected pair anew.
    void restoreFromTrash();
    bool canRestore() const { return !trashActions_.empty(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // The window's width changes with the preview panel: the controls it
    // leaves beyond its edge take no focus meanwhile.
    void resizeEvent(QResizeEvent* event) override;
    // The right click on fsListBox2, which, disabled, passes it on.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // One column of the editor: its path label, hidden list, partner list
    // and label (the other column's) and picture box.
    struct Column {
        int number;
        PathLabel* label;
        const search::PathColumn& list;
        const search::PathColumn& partners;
        PathLabel* partnerLabel;
        controls::PictureBox* picture;
        platform::GifAnimator* animator;
    };
    Column column1() const;
    Column column2() const;
    Column column(int number) const { return number == 2 ? column2() : column1(); }

    void openFile(const Column& column);
    void deleteOne(const Column& column);
    void deleteAll(const Column& column);
    // Why a file of the column may not go, as a deletion or a move to the
    // trash tells it.
    struct RefusalTexts {
        const QString& sameFile;
        const QString& copyChanged;
        const QString& copyInTrash;
    };
    // The shown row when its column's file may go (deleted or moved to the
    // trash); otherwise nothing, after telling why in a message box when the
    // check refused it.
    std::optional<std::size_t> removableShownRow(const Column& column, const RefusalTexts& texts);
    // Marks the column when no file exists at `path` any more: the path
    // label reads "Файл удален" and the picture box hides.
    // Marks the column's file deleted when nothing stands at its path any
    // more, and tells the remembered comparisons that `candidate` went.
    void markIfGone(const Column& column, const std::string& path, std::uint32_t candidate);
    void makeNameListMenu();
    // What a desktop action that found nothing to carry it out tells: the
    // text and the path, in an ordinary message box.
    platform::Desktop::Failed failureBox(const QString& text, const std::string& path);
    // Gives the controls that lie wholly beyond the window's edge no focus,
    // and the others their own focus again (from `focusPolicies_`).
    void keepFocusInView();
    // Deletes the column's file `candidate` when it is still the file the
    // search saw, then marks the column when no file exists at its path.
    void deleteAndMark(const Column& column, std::uint32_t candidate);
    // What stands at the partner's path now, seen from `file`.
    search::Partner partnerOf(std::uint32_t file, std::uint32_t partner) const;
    // Runs `remove` on the column's file of every row whose partner still
    // stands as another file, as a loop over the rows in order would: each
    // file once, at its first such row.
    void forEachRemovable(const Column& column, const std::function<void(std::uint32_t)>& remove);
    // What the search saw of a candidate.
    const fs::FileStamp& stampOf(std::uint32_t candidate) const;
    void play(const Column& column);
    void stopPlaying();

    // Loads the pictures of pair `pair` into the preview panel.
    void loadPictures(std::size_t pair);
    void loadPicture(const Column& column, std::size_t pair);

    // Takes the stamp a file put back from the trash has in its place for
    // every candidate of its identity: the trash held it as the move left
    // it, so it is the file the search saw, renamed twice.
    void restampRestored(const fs::TrashedFile& file, const fs::FileStamp& restored);

    search::Results& results_;
    QWidget* mainWindow_;
    platform::Services& services_;
    NameListRows* names1_;
    NameListRows* names2_;
    // The row whose paths the labels show, while they show one.
    std::optional<std::uint64_t> shownPair_;
    // One move to the trash of this run: one file, or the files of one
    // "Переместить все в корзину"; with the column's marker before it, for
    // when no pair is shown on its undoing.
    struct TrashAction {
        std::vector<fs::TrashedFile> files;
        int column;
        std::optional<QString> markerBefore;
    };
    std::vector<TrashAction> trashActions_;
    // Files the editor deleted or moved away, not yet forgotten by the
    // remembered comparisons (at the next turn of the event loop, together).
    std::vector<fs::FileStamp> gone_;
    int menuColumn_ = 1;
    // The controls that take the focus, with how they take it.
    std::vector<std::pair<QWidget*, Qt::FocusPolicy>> focusPolicies_;
};

} // namespace qevra
