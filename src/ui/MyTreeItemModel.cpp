#include "MyTreeItemModel.h"

#include "UiMetaTypes.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<quint64> g_lastSerial{0};

} // namespace

MyTreeItemModel::Node::~Node()
{
    qDeleteAll(children);
    children.clear();
    dataFn = nullptr;
}

MyTreeItemModel::MyTreeItemModel(QObject *parent) : QAbstractItemModel(parent)
{
    registerUiMetaTypes();
}

MyTreeItemModel::~MyTreeItemModel()
{
    pathDataFn = nullptr;
    for (Node *child : qAsConst(m_root.children))
        destroyNode(child);
    m_root.children.clear();
}

bool MyTreeItemModel::contains(PNode node) const
{
    if (node.m_node == &m_root)
        return true;
    // The address is looked up before the node is read: a freed one is not in the set.
    return node.m_node && m_nodes.contains(node.m_node) && node.m_node->serial == node.m_serial;
}

QModelIndex MyTreeItemModel::nodeIndex(MyTreeItemModel::PNode node) const
{
    if (!node || node.get() == &m_root || !contains(node) || !node->parent)
        return QModelIndex();
    const int row = node->parent->children.indexOf(node.get());
    if (row < 0)
        return QModelIndex();
    return createIndex(row, 0, node.get());
}

MyTreeItemModel::Node *MyTreeItemModel::makeNode(NodeDataFn dataFn, Node *parent)
{
    Node *node = new Node;
    node->dataFn = std::move(dataFn);
    node->parent = parent;
    node->serial = ++g_lastSerial;
    m_nodes.insert(node);
    return node;
}

void MyTreeItemModel::forget(Node *node)
{
    m_nodes.remove(node);
    for (Node *child : qAsConst(node->children))
        forget(child);
}

void MyTreeItemModel::destroyNode(Node *node)
{
    forget(node);
    delete node;
}

void MyTreeItemModel::reset(const BuildFn &build)
{
    beginResetModel();
    for (Node *child : qAsConst(m_root.children))
        destroyNode(child);
    m_root.children.clear();
    if (build) {
        build([this](NodeDataFn dataFn, PNode parent) -> PNode {
            Node *under = contains(parent) ? parent.get() : &m_root;
            Node *node = makeNode(std::move(dataFn), under);
            under->children.append(node);
            return node;
        });
    }
    endResetModel();
}

void MyTreeItemModel::hideSubtree(Node *node, QHash<Node *, QList<Node *>> &hidden)
{
    if (node->children.isEmpty())
        return;
    const QList<Node *> kids = node->children;
    node->children.clear();
    hidden.insert(node, kids);
    for (Node *kid : kids)
        hideSubtree(kid, hidden);
}

void MyTreeItemModel::revealSubtree(Node *node, QHash<Node *, QList<Node *>> &hidden)
{
    const QList<Node *> kids = hidden.take(node);
    if (kids.isEmpty())
        return;
    beginInsertRows(nodeIndex(node), 0, kids.size() - 1);
    node->children = kids;
    endInsertRows();
    for (Node *kid : kids)
        revealSubtree(kid, hidden);
}

void MyTreeItemModel::insertNodes(PNode parent, int pos, const BuildFn &build)
{
    if (!contains(parent) || !build)
        return;
    QList<Node *> rows;
    QSet<const Node *> made;
    build([&](NodeDataFn dataFn, PNode under) -> PNode {
        if (under && made.contains(under.get())) {
            // Part of a new subtree that no view knows yet.
            Node *node = makeNode(std::move(dataFn), under.get());
            under->children.append(node);
            made.insert(node);
            return node;
        }
        if (under && contains(under)) {
            // A node already in the tree gets a child: announce it on its own.
            Node *node = makeNode(std::move(dataFn), under.get());
            const int at = under->children.size();
            beginInsertRows(nodeIndex(under), at, at);
            under->children.append(node);
            endInsertRows();
            return node;
        }
        Node *node = makeNode(std::move(dataFn), nullptr);
        made.insert(node);
        rows.append(node);
        return node;
    });
    if (rows.isEmpty())
        return;
    if (pos < 0 || pos > parent->children.size())
        pos = parent->children.size();

    // Views learn of the new rows first and of their subtrees afterwards, so the
    // subtrees stay out of sight until their own announcement.
    QHash<Node *, QList<Node *>> hidden;
    for (Node *row : qAsConst(rows))
        hideSubtree(row, hidden);
    beginInsertRows(nodeIndex(parent), pos, pos + rows.size() - 1);
    for (int i = 0; i < rows.size(); ++i) {
        rows[i]->parent = parent.get();
        parent->children.insert(pos + i, rows[i]);
    }
    endInsertRows();
    for (Node *row : qAsConst(rows))
        revealSubtree(row, hidden);
}

void MyTreeItemModel::removeNodes(PNode parent, int pos, int count)
{
    if (!contains(parent))
        return;
    const int size = parent->children.size();
    if (pos < 0 || pos >= size || count < 1)
        return;
    count = std::min(count, size - pos);
    beginRemoveRows(nodeIndex(parent), pos, pos + count - 1);
    for (int i = 0; i < count; ++i)
        destroyNode(parent->children.takeAt(pos));
    endRemoveRows();
}

void MyTreeItemModel::updateNodes(PNode parent, int pos, int count)
{
    if (!contains(parent) || parent->children.isEmpty())
        return;
    const int first = std::max(pos, 0);
    const int last = std::min(pos + count - 1, parent->children.size() - 1);
    if (first > last)
        return;
    emit dataChanged(nodeIndex(parent->children.at(first)), nodeIndex(parent->children.at(last)), {});
}

MyTreeItemModel::Node *MyTreeItemModel::nodeOf(const QModelIndex &index) const
{
    if (!index.isValid())
        return const_cast<Node *>(&m_root);
    if (index.model() != this)
        return nullptr;
    return static_cast<Node *>(index.internalPointer());
}

QModelIndex MyTreeItemModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    Node *node = nodeOf(parent);
    if (!node || row >= node->children.size())
        return QModelIndex();
    Node *child = node->children.at(row);
    child->index = createIndex(row, column, child);
    return child->index;
}

QModelIndex MyTreeItemModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.model() != this)
        return QModelIndex();
    const Node *node = static_cast<const Node *>(child.internalPointer());
    // Computed afresh: the stored index of the parent may name an old row.
    return node ? nodeIndex(node->parent) : QModelIndex();
}

int MyTreeItemModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    const Node *node = nodeOf(parent);
    return node ? node->children.size() : 0;
}

int MyTreeItemModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant MyTreeItemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != RowRole || index.model() != this)
        return QVariant();
    Node *node = static_cast<Node *>(index.internalPointer());
    if (!node)
        return QVariant();
    QVariantMap row;
    if (node->dataFn) {
        row = node->dataFn();
    } else if (pathDataFn) {
        QList<int> path;
        for (const Node *n = node; n->parent; n = n->parent)
            path.prepend(n->parent->children.indexOf(const_cast<Node *>(n)));
        row = pathDataFn(path);
    }
    row.insert(QStringLiteral("node"), QVariant::fromValue<PNode>(node));
    return row;
}

QHash<int, QByteArray> MyTreeItemModel::roleNames() const
{
    return {{RowRole, "d"}};
}
