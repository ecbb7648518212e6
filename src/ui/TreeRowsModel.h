// A tree model shown as a flat list, for a list view that draws a tree: the
// visible rows in display order (each row followed by the visible rows below
// it), where a row's children are visible only while the row is expanded.
//
// Changes of the tree arrive as row inserts, removes and data changes of the
// list; only a reset, move or layout change of the tree resets the list.
// A row can be expanded before it has children: children the tree adds
// later (loaded on demand) show at once. Expansion stays with the tree's row
// whatever happens around it, and ends when that row goes.
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QVector>

class TreeRowsModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(QAbstractItemModel *sourceModel READ sourceModel WRITE setSourceModel NOTIFY sourceModelChanged)
public:
    enum Roles {
        // How deep the row is: 0 for the tree's top-level rows.
        DepthRole = Qt::UserRole + 0x4000,
        ExpandedRole,
        HasChildrenRole,
    };

    explicit TreeRowsModel(QObject *parent = nullptr);

    QAbstractItemModel *sourceModel() const { return m_source; }
    void setSourceModel(QAbstractItemModel *source);

    Q_INVOKABLE bool isExpanded(int row) const;
    Q_INVOKABLE void expand(int row);
    Q_INVOKABLE void collapse(int row);
    Q_INVOKABLE void toggle(int row);

    // The tree's index shown at row; invalid outside the list.
    QModelIndex sourceIndex(int row) const;
    // The list row that shows the tree's index; -1 when it is not shown.
    int rowOf(const QModelIndex &source) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void sourceModelChanged();

private:
    struct Row {
        QPersistentModelIndex index;
        int depth = 0;
    };

    bool isExpanded(const QModelIndex &source) const;
    // Whether the children of source are in the list (the tree's root always).
    bool showsChildrenOf(const QModelIndex &source) const;
    // The rows below source that show when it is expanded, in display order.
    void appendVisible(const QModelIndex &source, int depth, QVector<Row> &out) const;
    // The first list row after row and the rows shown below it.
    int subtreeEnd(int row) const;
    void rebuild();
    void forgetGoneExpansions();
    void childrenCountChanged(const QModelIndex &parent);

    void onRowsInserted(const QModelIndex &parent, int first, int last);
    void onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onRowsRemoved();
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles);
    void onAboutToReset();
    void onReset();

    QPointer<QAbstractItemModel> m_source;
    QVector<Row> m_rows;
    QList<QPersistentModelIndex> m_expanded; // few: the rows a user opened
    QPersistentModelIndex m_removeParent;    // whose children a pending removal takes
    int m_removeFirst = -1;                  // the list rows it takes
    int m_removeEnd = -1;
    bool m_resetting = false;
};
