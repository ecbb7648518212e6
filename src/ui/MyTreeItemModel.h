// A tree model that owns only the shape of the tree: each node carries a
// function that yields its row as a map. Rows reach the screens as one role,
// "d", whose map also holds the node itself under "node" so that a screen can
// hand the node back to its owner.
#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QMetaType>
#include <QModelIndex>
#include <QSet>
#include <QVariantMap>

#include <functional>

class MyTreeItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using NodeDataFn = std::function<QVariantMap()>;
    // The id of the one role "d" (generic views take role 0 for display text).
    static constexpr int RowRole = Qt::UserRole;

    struct Node {
        Node() = default;
        Node(const Node &) = delete;
        Node &operator=(const Node &) = delete;
        // Destroys the whole subtree, then dataFn.
        ~Node();

        Node *parent = nullptr; // the root for top-level nodes; null for the root
        NodeDataFn dataFn;      // may be empty
        QList<Node *> children; // owned, in row order
        // The index last handed out for this node. Rows may have moved since;
        // nodeIndex() always answers the current one.
        QModelIndex index;
        // Unique over the process's life (0 for a root): a handle made for
        // this node never matches a node made later at the same address.
        quint64 serial = 0;
    };

    // A handle to a node, as rows hand it to screens and screens hand it
    // back: the node and its serial. One that outlived its node counts as
    // unknown (contains() is false, nodeIndex() invalid) even when a new node
    // took the same address. Made from a live node only.
    class PNode {
    public:
        PNode(Node *node = nullptr) : m_node(node), m_serial(node ? node->serial : 0) {}
        Node *get() const { return m_node; }
        Node *operator->() const { return m_node; }
        explicit operator bool() const { return m_node != nullptr; }
        friend bool operator==(const PNode &a, const PNode &b)
        {
            return a.m_node == b.m_node && a.m_serial == b.m_serial;
        }
        friend bool operator!=(const PNode &a, const PNode &b) { return !(a == b); }

    private:
        friend class MyTreeItemModel;
        Node *m_node = nullptr;
        quint64 m_serial = 0;
    };

    // Makes a node with the given data function. With a parent, the node is
    // appended to that parent's children; without one, it becomes a row of the
    // operation that handed out the factory (for reset: a top-level row).
    using NodeFactory = std::function<PNode(NodeDataFn dataFn, PNode parent)>;
    using BuildFn = std::function<void(const NodeFactory &factory)>;

    explicit MyTreeItemModel(QObject *parent = nullptr);
    ~MyTreeItemModel() override;

    // Fallback row data for nodes without a data function, by the row numbers
    // from the top level down to the node.
    std::function<QVariantMap(const QList<int> &path)> pathDataFn;

    // The invisible root: its children are the top-level rows.
    PNode root() { return PNode(&m_root); }
    // Whether node is the root or a node of this tree that has not been
    // destroyed; a node a screen hands back should be checked with it.
    bool contains(PNode node) const;

    // The index of node among its parent's children; invalid for a null node,
    // the root, or a node that is not in the tree.
    Q_INVOKABLE QModelIndex nodeIndex(MyTreeItemModel::PNode node) const;

    // Replaces all rows with the ones build makes.
    void reset(const BuildFn &build);
    // Inserts the nodes that build makes without a parent as rows of parent
    // starting at pos (-1, or any pos outside the children, appends). Their
    // subtrees are announced afterwards, level by level from the top.
    void insertNodes(PNode parent, int pos, const BuildFn &build);
    // Removes and destroys children pos .. pos + count - 1 of parent, clipped
    // to the children that exist.
    void removeNodes(PNode parent, int pos, int count);
    // Signals children pos .. pos + count - 1 of parent as changed, clipped to
    // the children that exist.
    void updateNodes(PNode parent, int pos, int count);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    Node *nodeOf(const QModelIndex &index) const;
    Node *makeNode(NodeDataFn dataFn, Node *parent);
    void destroyNode(Node *node);
    void forget(Node *node);
    void hideSubtree(Node *node, QHash<Node *, QList<Node *>> &hidden);
    void revealSubtree(Node *node, QHash<Node *, QList<Node *>> &hidden);

    Node m_root;
    QSet<const Node *> m_nodes; // every node below the root
};

Q_DECLARE_METATYPE(MyTreeItemModel::PNode)
