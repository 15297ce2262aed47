#pragma once

#include "controls/flat_controls.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>

namespace qevra::controls {

// What a name list shows: a number of rows and the text of any one of
// them, asked for only when the row is painted, told to an assistive tool
// or looked at by type-ahead. The list keeps nothing of a row.
class ListRows {
public:
    virtual ~ListRows() = default;
    virtual std::uint64_t count() const = 0;
    virtual QString text(std::uint64_t row) const = 0;
};

// The name list box: rows 13 pixels high, any number of them (billions
// included), one selected row at most; once a row is chosen, one stays
// selected (a click below the last row or Ctrl with a click or Space on the
// selected row leaves it selected).
// `userSelected` tells that the user chose a row with the mouse or the
// keyboard (arrow keys, pages, Home and End, type-ahead, Space), also the
// row already selected when pressed on; a right click chooses the row under
// the pointer as a left click does.
// `menuRequested` asks for the list's menu: after a right click, or from
// the keyboard (the menu key, Shift+F10), which first chooses the current
// row as a click on it would.
// With fsFlat its border is 3 pixels wide and painted as the flat frame.
//
// Nothing is stored or laid out per row: the rows have one height, the
// list holds the first row in view (`topRow`), and only the rows in view
// are painted. Row numbers are 64-bit. Up to 2^30 rows beyond the first
// page the scroll bar's value is the top row; beyond that its value maps
// proportionally onto the rows, both of its ends exactly onto the first
// and the last page, and its arrows and page steps still move by one row
// and one page.
class TfsListBox : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(qevra::controls::TFlatStyle FlatStyle READ flatStyle WRITE setFlatStyle)
public:
    explicit TfsListBox(QWidget* parent);

    // Shows `rows`, anew (as resetRows); the list does not own them, and
    // they must outlive it or be replaced first (nullptr: no rows).
    void setRows(const ListRows* rows);
    const ListRows* rows() const { return rows_; }
    // The rows were replaced: no row is selected or current, the first row
    // is at the top.
    void resetRows();
    // Rows were added after the last ones: the selection, the current row
    // and the rows in view stay.
    void rowsAppended();
    // The number of rows, as last told.
    std::uint64_t rowCount() const { return count_; }
    QString rowText(std::int64_t row) const;

    // The selected row, or -1.
    std::int64_t selectedRow() const { return selected_; }
    // Selects a row (and makes it current and brings it into view) without
    // telling `userSelected`; -1 or a row beyond the last selects none.
    void selectRow(std::int64_t row);
    // The row the keyboard acts on, or -1.
    std::int64_t currentRow() const { return current_; }

    // The first row in view.
    std::uint64_t topRow() const { return top_; }
    // Puts `row` at the top, as near as the last page allows.
    void setTopRow(std::uint64_t row);
    // Whole rows the viewport holds (at least one): a page.
    int pageRows() const;
    // Rows painted, the last of them possibly cut by the viewport's edge.
    int rowsInView() const;
    // A row's rectangle in viewport coordinates; empty unless it is in
    // view.
    QRect visualRect(std::int64_t row) const;
    // The row at a point of the viewport, or -1.
    std::int64_t rowAt(QPoint point) const;
    // Scrolls as little as needed to show `row` whole.
    void scrollToRow(std::int64_t row);

    static constexpr int kRowHeight = 13;
    // Type-ahead looks at no more rows than this after the current one.
    static constexpr int kTypeAheadRows = 10000;
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
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void applyBorder();
    void trimHeight();
    std::uint64_t maxTop() const;
    // Whether the scroll bar's value maps proportionally onto the top row.
    bool barMapped() const;
    int barValueFor(std::uint64_t top) const;
    std::uint64_t topForBar(int value) const;
    void updateScrollBar();
    void barValueChanged(int value);
    void barActionTriggered(int action);
    void changeTop(std::uint64_t top);
    // Makes `row` current and selected, in view; true when the selection
    // changed.
    bool choose(std::int64_t row);
    // choose(), telling `userSelected` when the selection changed.
    void chooseAndTell(std::int64_t row);
    // The row to the pointer while the left button drags, scrolling one
    // row at a time beyond the viewport's top or bottom.
    void dragTo(QPoint point);
    void typeAhead(const QString& text);
    // The menu asked for from the keyboard, at the current row.
    void requestMenuFromKeyboard();
    void notifyRowEvent(std::int64_t row, QAccessible::Event event);

    FlatFrameState flat_;
    // The platform's own border, put back for fsStandard.
    int standardFrameStyle_;
    int standardLineWidth_;
    int standardMidLineWidth_;
    bool integralHeight_ = false;

    const ListRows* rows_ = nullptr;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    std::int64_t selected_ = -1;
    std::int64_t current_ = -1;
    // Set while the list moves the scroll bar itself.
    bool settingBar_ = false;

    // The row of the last press, for the second press of a double click.
    std::int64_t pressedRow_ = -1;
    bool dragging_ = false;
    QPoint dragPoint_;
    QBasicTimer dragScroll_;

    QString typed_;
    QElapsedTimer typedAt_;
    int wheelAngle_ = 0;
};

} // namespace qevra::controls
