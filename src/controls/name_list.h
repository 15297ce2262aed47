#pragma once

#include "controls/flat_controls.h"
#include "search/path_column.h"

#include <QAbstractListModel>
#include <QListView>

namespace qevra::controls {

// The rows of a name list: row i shows the bare name of entry i of a path
// column. It holds only its row count, so millions of rows cost nothing
// beyond the column they read.
class NameListModel : public QAbstractListModel {
    Q_OBJECT
public:
    NameListModel(const search::PathColumn& column, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Empties the list.
    void clear();
    // Appends a row for every entry of the column beyond the current rows.
    void appendFromColumn();
    int count() const { return rows_; }

private:
    const search::PathColumn& column_;
    int rows_ = 0;
};

// The name list box: rows 13 pixels high, one selected row at most; once a
// row is chosen, one stays selected (a click below the last row or a Ctrl
// click on the selected row leaves it selected).
// `userSelected` tells that the user chose a row with the mouse or the
// keyboard (arrow keys, type-ahead), also the row already selected.
// With fsFlat its border is 3 pixels wide and painted as the flat frame.
class TfsListBox : public QListView {
    Q_OBJECT
    Q_PROPERTY(qevra::controls::TFlatStyle FlatStyle READ flatStyle WRITE setFlatStyle)
public:
    TfsListBox(const search::PathColumn& column, QWidget* parent);

    NameListModel* names() const { return model_; }
    // The first selected row, or -1.
    int selectedRow() const;
    // Selects a row without telling `userSelected`.
    void selectRow(int row);
    void clear() { model_->clear(); }

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

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex& index, const QEvent* event) const override;

private:
    void applyBorder();
    void trimHeight();

    NameListModel* model_;
    FlatFrameState flat_;
    // The platform's own border, put back for fsStandard.
    int standardFrameStyle_;
    int standardLineWidth_;
    int standardMidLineWidth_;
    bool quiet_ = false;
    bool changedInPress_ = false;
    bool integralHeight_ = false;
};

} // namespace qevra::controls
