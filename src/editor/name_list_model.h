#pragma once

#include "search/path_column.h"

#include <QAbstractListModel>

namespace qevra {

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

} // namespace qevra
