#include "editor/name_list_model.h"

#include "fs/file_system.h"

#include <QFile>

namespace qevra {

NameListModel::NameListModel(const search::PathColumn& column, QObject* parent)
    : QAbstractListModel(parent)
    , column_(column)
{
}

int NameListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

QVariant NameListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_
        || std::size_t(index.row()) >= column_.size())
        return {};
    const std::string_view name = fs::bareName(column_[std::size_t(index.row())]);
    return QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())));
}

void NameListModel::clear()
{
    if (rows_ == 0)
        return;
    beginResetModel();
    rows_ = 0;
    endResetModel();
}

void NameListModel::appendFromColumn()
{
    const int total = int(column_.size());
    if (total <= rows_)
        return;
    beginInsertRows({}, rows_, total - 1);
    rows_ = total;
    endInsertRows();
}

} // namespace qevra
