#include "MyItemModel.h"

#include <algorithm>

MyItemModel::MyItemModel(QObject *parent) : QAbstractItemModel(parent)
{
}

void MyItemModel::setData2(RowFn rowFn, const QString &name)
{
    roleNameList = QStringList{name};
    dataFn = [rowFn = std::move(rowFn)](int row, int role, const QString &) -> QVariant {
        if (role != 0 || !rowFn)
            return QVariant();
        return QVariant(rowFn(row));
    };
}

void MyItemModel::insertRowsWith(int pos, int count, const std::function<void()> &change)
{
    const int rows = rowCount();
    if (count < 1 || pos < 0 || pos > rows) {
        resetWith(change);
        return;
    }
    beginInsertRows(QModelIndex(), pos, pos + count - 1);
    if (change)
        change();
    endInsertRows();
    // The owner changed something else than it announced: let views start over.
    if (rowCount() != rows + count)
        updateReset();
}

void MyItemModel::removeRowsWith(int pos, int count, const std::function<void()> &change)
{
    const int rows = rowCount();
    if (count < 1 || pos < 0 || pos + count > rows) {
        resetWith(change);
        return;
    }
    beginRemoveRows(QModelIndex(), pos, pos + count - 1);
    if (change)
        change();
    endRemoveRows();
    if (rowCount() != rows - count)
        updateReset();
}

void MyItemModel::resetWith(const std::function<void()> &change)
{
    beginResetModel();
    if (change)
        change();
    endResetModel();
}

void MyItemModel::update(int pos, int count)
{
    const int rows = rowCount();
    if (rows == 0 || pos < 0 || pos >= rows || count < 1)
        return;
    const int last = std::min(pos + count, rows) - 1;
    emit dataChanged(index(pos, 0), index(last, 0), {});
}

void MyItemModel::updateReset()
{
    beginResetModel();
    endResetModel();
}

void MyItemModel::updateRemove(int pos, int count)
{
    if (count < 1)
        return;
    // The rows are already gone: before the removal there were rows + count.
    if (pos < 0 || pos > rowCount()) {
        updateReset();
        return;
    }
    beginRemoveRows(QModelIndex(), pos, pos + count - 1);
    endRemoveRows();
}

void MyItemModel::updateInsert(int pos, int count)
{
    if (count < 1)
        return;
    if (pos < 0 || pos + count > rowCount()) {
        updateReset();
        return;
    }
    beginInsertRows(QModelIndex(), pos, pos + count - 1);
    endInsertRows();
}

QModelIndex MyItemModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex MyItemModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int MyItemModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows never have rows of their own.
    if (parent.isValid() || !countFn)
        return 0;
    return std::max(0, countFn());
}

int MyItemModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant MyItemModel::data(const QModelIndex &index, int role) const
{
    if (!dataFn || !index.isValid() || index.model() != this || index.column() != 0)
        return QVariant();
    const int row = index.row();
    const int position = role - FirstRole;
    if (row >= rowCount() || position < 0 || position >= roleNameList.size())
        return QVariant();
    return dataFn(row, position, roleNameList.at(position));
}

QHash<int, QByteArray> MyItemModel::roleNames() const
{
    QHash<int, QByteArray> names;
    for (int i = 0; i < roleNameList.size(); ++i)
        names.insert(FirstRole + i, roleNameList.at(i).toUtf8());
    return names;
}
