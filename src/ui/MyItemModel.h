// A flat list model that owns no data: its owner supplies the row count and the
// cell values as functions and tells the model what changed. Every row reaches
// the screens as one role, "d", holding the row as a map.
#pragma once

#include <QAbstractItemModel>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class MyItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using CountFn = std::function<int()>;
    using DataFn = std::function<QVariant(int row, int role, const QString &roleName)>;
    using RowFn = std::function<QVariantMap(int row)>;

    // The id of the first role. Ids start at the first user role because
    // generic views take role 0 for display text; the data function is given
    // the role's position (0 for the first name) instead of its id.
    static constexpr int FirstRole = Qt::UserRole;

    explicit MyItemModel(QObject *parent = nullptr);

    // Empty countFn: no rows. The role of a name is FirstRole plus its position.
    CountFn countFn;
    DataFn dataFn;
    QStringList roleNameList;

    // One role, name; it answers rowFn(row) as a QVariantMap.
    void setData2(RowFn rowFn, const QString &name);

    // Preferred way to change rows: the model announces the change, runs change
    // (which alters the owner's container), then closes the announcement, so
    // views see the old rows before and the new ones after. Arguments that do
    // not fit the current rows turn the change into a reset.
    void insertRowsWith(int pos, int count, const std::function<void()> &change);
    void removeRowsWith(int pos, int count, const std::function<void()> &change);
    void resetWith(const std::function<void()> &change);

public slots:
    // The slots below announce a change the owner has already made.
    // Signals rows pos .. min(pos + count, rows) - 1 as changed; nothing when
    // there are no rows, pos is outside them or count < 1.
    void update(int pos, int count);
    void updateReset();
    // Rows pos .. pos + count - 1 were removed; nothing when count < 1; a reset
    // when pos does not fit.
    void updateRemove(int pos, int count);
    // Rows pos .. pos + count - 1 were inserted; nothing when count < 1; a reset
    // when they do not fit in the current rows.
    void updateInsert(int pos, int count);

public:
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
};
