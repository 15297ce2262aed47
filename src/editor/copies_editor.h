#pragma once

#include "base/preview_kind.h"
#include "controls/basic_controls.h"
#include "controls/name_list.h"
#include "controls/picture_box.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"
#include "editor/name_list_model.h"
#include "editor/path_label.h"
#include "platform/gif_animator.h"
#include "platform/media_player.h"
#include "platform/services.h"
#include "search/deletion.h"
#include "search/path_column.h"
#include "search/results.h"

#include <optional>

#include <QWidget>

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

// The copies editor: lists the pairs of the main window's first-copy and
// second-copy lists by bare name, shows the full paths of the pair the user
// selects, and carries the file actions and the preview panel. Closing it
// hides it and brings the main window back.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    // The editor reads the search's results; closing it shows `mainWindow`.
    TForm2(const search::Results& results, QWidget* mainWindow, platform::Services& services,
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // One column of the editor: its path label, hidden list, partner list
    // and label (the other column's) and picture box.
    struct Column {
        PathLabel* label;
        const search::PathColumn& list;
        const search::PathColumn& partners;
        PathLabel* partnerLabel;
        controls::PictureBox* picture;
        platform::GifAnimator* animator;
    };
    Column column1() const;
    Column column2() const;

    void openFile(const Column& column);
    void deleteOne(const Column& column);
    void deleteAll(const Column& column);
    // Deletes the column's file of row `row` when it is still the file the
    // search saw, then marks the column when no file exists at its path.
    void deleteAndMark(const Column& column, std::size_t row);
    // What stands at the partner's path of the column's row now.
    search::Partner partnerOf(const Column& column, std::size_t row) const;
    // What the search saw of a candidate.
    const fs::FileStamp& stampOf(std::uint32_t candidate) const;
    void play(const Column& column);
    void stopPlaying();

    // Loads the pictures of pair `pair` into the preview panel.
    void loadPictures(std::size_t pair);
    void loadPicture(const Column& column, std::size_t pair);

    const search::Results& results_;
    QWidget* mainWindow_;
    platform::Services& services_;
    NameListModel* names1_;
    NameListModel* names2_;
    // The row whose paths the labels show, while they show one.
    std::optional<std::size_t> shownPair_;
};

} // namespace qevra
