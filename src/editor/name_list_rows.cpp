#include "editor/name_list_rows.h"

#include "fs/file_system.h"

#include <QFile>

namespace qevra {

NameListRows::NameListRows(const search::PathColumn& column, controls::TfsListBox* list)
    : QObject(list)
    , column_(column)
    , list_(list)
{
    list_->setRows(this);
}

QString NameListRows::text(std::uint64_t row) const
{
    if (row >= rows_ || row >= column_.size())
        return {};
    const std::string_view name = fs::bareName(column_[row]);
    return QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())));
}

void NameListRows::clear()
{
    if (rows_ == 0)
        return;
    rows_ = 0;
    list_->resetRows();
}

void NameListRows::appendFromColumn()
{
    const std::uint64_t total = column_.size();
    if (total <= rows_)
        return;
    rows_ = total;
    list_->rowsAppended();
}

} // namespace qevra
