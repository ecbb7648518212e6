#include "TreeRowsModel.h"

#include <algorithm>

TreeRowsModel::TreeRowsModel(QObject *parent) : QAbstractListModel(parent)
{
}

void TreeRowsModel::setSourceModel(QAbstractItemModel *source)
{
    if (source == m_source)
        return;
    beginResetModel();
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    m_expanded.clear();
    if (m_source) {
        QAbstractItemModel *s = m_source;
        connect(s, &QAbstractItemModel::rowsInserted, this, &TreeRowsModel::onRowsInserted);
        connect(s, &QAbstractItemModel::rowsAboutToBeRemoved, this, &TreeRowsModel::onRowsAboutToBeRemoved);
        connect(s, &QAbstractItemModel::rowsRemoved, this, &TreeRowsModel::onRowsRemoved);
        connect(s, &QAbstractItemModel::dataChanged, this, &TreeRowsModel::onDataChanged);
        // Moves and layout changes keep the tree's rows but not their order:
        // the list is rebuilt, expansion kept.
        connect(s, &QAbstractItemModel::modelAboutToBeReset, this, &TreeRowsModel::onAboutToReset);
        connect(s, &QAbstractItemModel::modelReset, this, &TreeRowsModel::onReset);
        connect(s, &QAbstractItemModel::layoutAboutToBeChanged, this, &TreeRowsModel::onAboutToReset);
        connect(s, &QAbstractItemModel::layoutChanged, this, &TreeRowsModel::onReset);
        connect(s, &QAbstractItemModel::rowsAboutToBeMoved, this, &TreeRowsModel::onAboutToReset);
        connect(s, &QAbstractItemModel::rowsMoved, this, &TreeRowsModel::onReset);
        connect(s, &QObject::destroyed, this, [this] {
            beginResetModel();
            m_rows.clear();
            m_expanded.clear();
            endResetModel();
        });
    }
    rebuild();
    endResetModel();
    emit sourceModelChanged();
}

QModelIndex TreeRowsModel::sourceIndex(int row) const
{
    return row >= 0 && row < m_rows.size() ? QModelIndex(m_rows[row].index) : QModelIndex();
}

int TreeRowsModel::rowOf(const QModelIndex &source) const
{
    if (!source.isValid())
        return -1;
    for (int i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].index == source)
            return i;
    return -1;
}

bool TreeRowsModel::isExpanded(const QModelIndex &source) const
{
    for (const QPersistentModelIndex &e : m_expanded)
        if (e == source)
            return true;
    return false;
}

bool TreeRowsModel::isExpanded(int row) const
{
    return row >= 0 && row < m_rows.size() && isExpanded(QModelIndex(m_rows[row].index));
}

bool TreeRowsModel::showsChildrenOf(const QModelIndex &source) const
{
    return !source.isValid() || (isExpanded(source) && rowOf(source) >= 0);
}

void TreeRowsModel::appendVisible(const QModelIndex &source, int depth, QVector<Row> &out) const
{
    const int n = m_source->rowCount(source);
    for (int r = 0; r < n; ++r) {
        const QModelIndex child = m_source->index(r, 0, source);
        out.push_back(Row{QPersistentModelIndex(child), depth});
        if (isExpanded(child))
            appendVisible(child, depth + 1, out);
    }
}

int TreeRowsModel::subtreeEnd(int row) const
{
    const int depth = m_rows[row].depth;
    int end = row + 1;
    while (end < m_rows.size() && m_rows[end].depth > depth)
        ++end;
    return end;
}

void TreeRowsModel::rebuild()
{
    m_rows.clear();
    forgetGoneExpansions();
    if (m_source)
        appendVisible(QModelIndex(), 0, m_rows);
}

void TreeRowsModel::forgetGoneExpansions()
{
    m_expanded.erase(std::remove_if(m_expanded.begin(), m_expanded.end(),
                                    [](const QPersistentModelIndex &e) { return !e.isValid(); }),
                     m_expanded.end());
}

void TreeRowsModel::childrenCountChanged(const QModelIndex &parent)
{
    const int row = rowOf(parent);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {HasChildrenRole});
}

void TreeRowsModel::expand(int row)
{
    if (row < 0 || row >= m_rows.size() || isExpanded(row))
        return;
    const QModelIndex source = m_rows[row].index;
    m_expanded.push_back(QPersistentModelIndex(source));
    QVector<Row> shown;
    appendVisible(source, m_rows[row].depth + 1, shown);
    if (!shown.isEmpty()) {
        beginInsertRows(QModelIndex(), row + 1, row + shown.size());
        m_rows.insert(row + 1, shown.size(), Row());
        std::copy(shown.begin(), shown.end(), m_rows.begin() + row + 1);
        endInsertRows();
    }
    emit dataChanged(index(row), index(row), {ExpandedRole});
}

void TreeRowsModel::collapse(int row)
{
    if (!isExpanded(row))
        return;
    const QModelIndex source = m_rows[row].index;
    m_expanded.removeAll(QPersistentModelIndex(source));
    const int end = subtreeEnd(row);
    if (end > row + 1) {
        beginRemoveRows(QModelIndex(), row + 1, end - 1);
        m_rows.remove(row + 1, end - row - 1);
        endRemoveRows();
    }
    emit dataChanged(index(row), index(row), {ExpandedRole});
}

void TreeRowsModel::toggle(int row)
{
    if (isExpanded(row))
        collapse(row);
    else
        expand(row);
}

int TreeRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant TreeRowsModel::data(const QModelIndex &index, int role) const
{
    if (!m_source || !index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const Row &row = m_rows[index.row()];
    switch (role) {
    case DepthRole:
        return row.depth;
    case ExpandedRole:
        return isExpanded(QModelIndex(row.index));
    case HasChildrenRole:
        return m_source->rowCount(row.index) > 0;
    default:
        return m_source->data(row.index, role);
    }
}

QHash<int, QByteArray> TreeRowsModel::roleNames() const
{
    QHash<int, QByteArray> names = m_source ? m_source->roleNames() : QAbstractListModel::roleNames();
    names.insert(DepthRole, "depth");
    names.insert(ExpandedRole, "expanded");
    names.insert(HasChildrenRole, "hasChildren");
    return names;
}

void TreeRowsModel::onRowsInserted(const QModelIndex &parent, int first, int last)
{
    if (m_resetting)
        return;
    if (!showsChildrenOf(parent)) {
        childrenCountChanged(parent);
        return;
    }
    const int parentRow = rowOf(parent);
    const int depth = parent.isValid() ? m_rows[parentRow].depth + 1 : 0;
    // After the row before the first new one and everything shown below it.
    const int at = first == 0 ? parentRow + 1 : subtreeEnd(rowOf(m_source->index(first - 1, 0, parent)));
    QVector<Row> shown;
    for (int r = first; r <= last; ++r) {
        const QModelIndex child = m_source->index(r, 0, parent);
        shown.push_back(Row{QPersistentModelIndex(child), depth});
        if (isExpanded(child))
            appendVisible(child, depth + 1, shown);
    }
    beginInsertRows(QModelIndex(), at, at + shown.size() - 1);
    m_rows.insert(at, shown.size(), Row());
    std::copy(shown.begin(), shown.end(), m_rows.begin() + at);
    endInsertRows();
    childrenCountChanged(parent);
}

void TreeRowsModel::onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    if (m_resetting)
        return;
    m_removeParent = QPersistentModelIndex(parent);
    if (!showsChildrenOf(parent))
        return;
    m_removeFirst = rowOf(m_source->index(first, 0, parent));
    m_removeEnd = subtreeEnd(rowOf(m_source->index(last, 0, parent)));
    beginRemoveRows(QModelIndex(), m_removeFirst, m_removeEnd - 1);
}

void TreeRowsModel::onRowsRemoved()
{
    if (m_resetting)
        return;
    if (m_removeFirst >= 0) {
        const int first = m_removeFirst;
        m_rows.remove(first, m_removeEnd - first);
        m_removeFirst = m_removeEnd = -1;
        endRemoveRows();
    }
    forgetGoneExpansions();
    const QModelIndex parent = m_removeParent;
    m_removeParent = QPersistentModelIndex();
    childrenCountChanged(parent);
}

void TreeRowsModel::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles)
{
    if (m_resetting || !topLeft.isValid())
        return;
    const QModelIndex parent = topLeft.parent();
    if (!showsChildrenOf(parent))
        return;
    const int from = rowOf(topLeft.siblingAtColumn(0));
    if (from < 0)
        return;
    const int depth = m_rows[from].depth;
    // The changed siblings lie from 'from' on, with the rows shown below
    // each one between them: each contiguous run becomes one change.
    int runStart = -1;
    int i = from;
    for (; i < m_rows.size() && m_rows[i].depth >= depth; ++i) {
        const bool changed = m_rows[i].depth == depth && m_rows[i].index.row() <= bottomRight.row();
        if (changed && runStart < 0)
            runStart = i;
        if (!changed && runStart >= 0) {
            emit dataChanged(index(runStart), index(i - 1), roles);
            runStart = -1;
        }
        if (m_rows[i].depth == depth && m_rows[i].index.row() > bottomRight.row())
            break;
    }
    if (runStart >= 0)
        emit dataChanged(index(runStart), index(i - 1), roles);
}

void TreeRowsModel::onAboutToReset()
{
    if (m_resetting)
        return;
    m_resetting = true;
    beginResetModel();
}

void TreeRowsModel::onReset()
{
    if (!m_resetting)
        return;
    rebuild();
    m_resetting = false;
    endResetModel();
}
