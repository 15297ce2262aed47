#pragma once

#include "controls/flat_controls.h"

#include <QListView>

namespace qevra::controls {

// The name list box over any list model: rows 13 pixels high, one selected
// row at most; once a row is chosen, one stays selected (a click below the
// last row or a Ctrl click on the selected row leaves it selected).
// `userSelected` tells that the user chose a row with the mouse or the
// keyboard (arrow keys, type-ahead), also the row already selected; a
// right click chooses the row under the pointer as a left click does.
// `menuRequested` asks for the list's menu: after a right click, or from
// the keyboard (the menu key, Shift+F10), which first chooses the current
// row as a click on it would.
// With fsFlat its border is 3 pixels wide and painted as the flat frame.
class TfsListBox : public QListView {
    Q_OBJECT
    Q_PROPERTY(qevra::controls::TFlatStyle FlatStyle READ flatStyle WRITE setFlatStyle)
public:
    explicit TfsListBox(QWidget* parent);

    // Shows the rows of `model`; the list does not own it.
    void setModel(QAbstractItemModel* model) override;

    // The first selected row, or -1.
    int selectedRow() const;
    // Selects a row without telling `userSelected`.
    void selectRow(int row);

    static constexpr int kRowHeight = 13;
    // With integral height on, the list trims its height, whenever it is
    // resized, to its border and a whole number of rows (at least one).
    void setIntegralHeight(bool on);
    bool integralHeight() const { return integralHeight_; }

    TFlatStyle flatStyle() const { return flat_.style(); }
    // A different style changes the border and the viewport with it.
    void setFlatStyle(TFlatStyle style);
    bool hover() const { return flat_.hover(); }
    bool isHot() const { return flat_.isHot(); }

signals:
    void userSelected();
    // Where the menu goes, in global coordinates.
    void menuRequested(QPoint globalPos);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex& index, const QEvent* event) const override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applyBorder();
    void trimHeight();
    // The menu asked for from the keyboard, at the current row.
    void requestMenuFromKeyboard();

    FlatFrameState flat_;
    // The platform's own border, put back for fsStandard.
    int standardFrameStyle_;
    int standardLineWidth_;
    int standardMidLineWidth_;
    bool quiet_ = false;
    bool changed_ = false;
    bool integralHeight_ = false;
};

} // namespace qevra::controls
