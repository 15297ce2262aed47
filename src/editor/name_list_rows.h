#pragma once

#include "controls/name_list.h"
#include "search/path_column.h"

#include <QObject>

#include <cstdint>

namespace qevra {

// The rows of a name list: row i shows the bare name of entry i of a path
// column. It holds only its row count, so billions of rows cost nothing
// beyond the column they read. It belongs to the list it serves (a child
// of it, so it goes after the list), which it tells of every change.
class NameListRows : public QObject, public controls::ListRows {
public:
    NameListRows(const search::PathColumn& column, controls::TfsListBox* list);

    std::uint64_t count() const override { return rows_; }
    QString text(std::uint64_t row) const override;

    // Empties the list.
    void clear();
    // Appends a row for every entry of the column beyond the current rows.
    void appendFromColumn();

private:
    const search::PathColumn& column_;
    controls::TfsListBox* list_;
    std::uint64_t rows_ = 0;
};

} // namespace qevra
