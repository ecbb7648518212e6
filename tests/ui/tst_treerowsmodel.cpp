// The tree shown as a list: after any mix of inserts, removes, updates,
// expands and collapses the list equals the tree's expanded rows in display
// order, every change reaches views as row inserts, removes and data changes
// (checked by QAbstractItemModelTester), and a running task's updates never
// reset the list or lose what was expanded.
#include "ui/MyTreeItemModel.h"
#include "ui/TreeRowsModel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>

#include <set>

using PNode = MyTreeItemModel::PNode;

namespace {

QString nameOf(const QVariant &d)
{
    return d.toMap().value("name").toString();
}

// The list as "a,-b,--c": one dash per level.
QString listed(const TreeRowsModel &rows)
{
    QStringList out;
    for (int r = 0; r < rows.rowCount(); ++r) {
        const QModelIndex i = rows.index(r);
        out << QString(rows.data(i, TreeRowsModel::DepthRole).toInt(), '-') +
                   nameOf(rows.data(i, MyTreeItemModel::RowRole));
    }
    return out.join(',');
}

// What the list must show: the tree read directly, children only below expanded names.
void expected(const MyTreeItemModel &tree, const std::set<QString> &open, const QModelIndex &parent, int depth,
              QStringList &out)
{
    for (int r = 0; r < tree.rowCount(parent); ++r) {
        const QModelIndex i = tree.index(r, 0, parent);
        const QString name = nameOf(tree.data(i, MyTreeItemModel::RowRole));
        out << QString(depth, '-') + name;
        if (open.count(name))
            expected(tree, open, i, depth + 1, out);
    }
}

QString expected(const MyTreeItemModel &tree, const std::set<QString> &open)
{
    QStringList out;
    expected(tree, open, QModelIndex(), 0, out);
    return out.join(',');
}

MyTreeItemModel::NodeDataFn named(const QString &name)
{
    return [name] { return QVariantMap{{"name", name}}; };
}

// Every node of the tree.
void allNodes(PNode node, QList<PNode> &out)
{
    for (MyTreeItemModel::Node *child : node->children) {
        out << PNode(child);
        allNodes(PNode(child), out);
    }
}

} // namespace

class TestTreeRowsModel : public QObject {
    Q_OBJECT
private slots:
    void childrenLoadedAfterExpandingShow();
    void randomChangesKeepTheListRight_data();
    void randomChangesKeepTheListRight();
    void runningTaskNeverResetsTheList();
};

void TestTreeRowsModel::childrenLoadedAfterExpandingShow()
{
    MyTreeItemModel tree;
    TreeRowsModel rows;
    rows.setSourceModel(&tree);
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
    tree.reset([](const MyTreeItemModel::NodeFactory &make) {
        make(named("a"), nullptr);
        make(named("b"), nullptr);
    });
    QCOMPARE(listed(rows), QString("a,b"));

    // Pressed before its files are loaded: they show when they come.
    rows.expand(0);
    QVERIFY(rows.isExpanded(0));
    QCOMPARE(rows.data(rows.index(0), TreeRowsModel::HasChildrenRole).toBool(), false);
    QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);
    tree.insertNodes(PNode(tree.root()->children[0]), -1, [](const MyTreeItemModel::NodeFactory &make) {
        make(named("a1"), nullptr);
        make(named("a2"), nullptr);
    });
    QCOMPARE(listed(rows), QString("a,-a1,-a2,b"));
    QVERIFY(!changed.isEmpty());
    QCOMPARE(rows.data(rows.index(0), TreeRowsModel::HasChildrenRole).toBool(), true);

    // A row inserted above keeps the expanded one and its children together.
    tree.insertNodes(tree.root(), 0, [](const MyTreeItemModel::NodeFactory &make) { make(named("z"), nullptr); });
    QCOMPARE(listed(rows), QString("z,a,-a1,-a2,b"));
    QCOMPARE(rows.rowOf(tree.nodeIndex(PNode(tree.root()->children[1]->children[1]))), 3);

    // Collapsing hides the children; the removed row's expansion goes with it.
    rows.toggle(1);
    QCOMPARE(listed(rows), QString("z,a,b"));
    rows.toggle(1);
    QCOMPARE(listed(rows), QString("z,a,-a1,-a2,b"));
    tree.removeNodes(tree.root(), 1, 1);
    QCOMPARE(listed(rows), QString("z,b"));
    QVERIFY(!rows.isExpanded(0) && !rows.isExpanded(1));
    QCOMPARE(rows.rowOf(QModelIndex()), -1);
    QVERIFY(!rows.sourceIndex(7).isValid());
}

void TestTreeRowsModel::randomChangesKeepTheListRight_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 7u, 42u, 2024u, 99991u})
        QTest::addRow("seed %u", seed) << seed;
}

void TestTreeRowsModel::randomChangesKeepTheListRight()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    MyTreeItemModel tree;
    TreeRowsModel rows;
    rows.setSourceModel(&tree);
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::set<QString> open; // names of expanded rows, kept by the test itself
    int made = 0;
    auto make = [&made] { return QString::number(made++); };

    for (int step = 0; step < 400; ++step) {
        QList<PNode> nodes;
        allNodes(tree.root(), nodes);
        const PNode someNode = nodes.isEmpty() ? PNode() : nodes[int(random.bounded(nodes.size()))];
        QString what;
        switch (random.bounded(nodes.isEmpty() ? 1 : 7)) {
        case 0:
        case 1: { // a few rows with children of their own, under the root or a node three levels deep at most
            PNode parent = tree.root();
            if (someNode && random.bounded(3) > 0 && !someNode->parent->parent)
                parent = someNode;
            const int count = int(random.bounded(1, 4));
            const int pos = int(random.bounded(-1, parent->children.size() + 1));
            what = QString("insert %1 at %2").arg(count).arg(pos);
            tree.insertNodes(parent, pos, [&](const MyTreeItemModel::NodeFactory &factory) {
                for (int i = 0; i < count; ++i) {
                    const PNode added = factory(named(make()), nullptr);
                    for (int k = int(random.bounded(3)); k > 0; --k)
                        factory(named(make()), added);
                }
            });
            break;
        }
        case 2: {
            const PNode parent(someNode->parent);
            const int pos = parent->children.indexOf(someNode.get());
            what = QString("remove at %1").arg(pos);
            tree.removeNodes(parent, pos, int(random.bounded(1, 3)));
            break;
        }
        case 3: {
            const PNode parent(someNode->parent);
            what = "update";
            tree.updateNodes(parent, 0, parent->children.size());
            break;
        }
        case 4:
        case 5: {
            const int row = rows.rowCount() ? int(random.bounded(rows.rowCount())) : -1;
            if (row < 0)
                break;
            const QString name = nameOf(rows.data(rows.index(row), MyTreeItemModel::RowRole));
            what = "toggle " + name;
            rows.toggle(row);
            if (open.count(name))
                open.erase(name);
            else
                open.insert(name);
            break;
        }
        case 6:
            if (random.bounded(10) == 0) {
                what = "reset";
                open.clear();
                tree.reset([&](const MyTreeItemModel::NodeFactory &factory) { factory(named(make()), nullptr); });
            }
            break;
        }
        // Names of rows that are gone are never used again, so they may stay in the set.
        const QString shown = listed(rows);
        if (shown != expected(tree, open))
            qWarning("after step %d: %s", step, qPrintable(what));
        QCOMPARE(shown, expected(tree, open));
    }
}

void TestTreeRowsModel::runningTaskNeverResetsTheList()
{
    MyTreeItemModel tree;
    TreeRowsModel rows;
    rows.setSourceModel(&tree);
    tree.reset([](const MyTreeItemModel::NodeFactory &make) {
        make(named("earlier task"), nullptr);
        const PNode folder = make(named("folder task"), nullptr);
        for (int i = 0; i < 2000; ++i)
            make(named(QString("file %1").arg(i)), folder);
        make(named("later task"), nullptr);
    });
    rows.expand(1);
    QCOMPARE(rows.rowCount(), 2003);

    QSignalSpy resets(&rows, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&rows, &QAbstractItemModel::rowsInserted);
    QSignalSpy removes(&rows, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changes(&rows, &QAbstractItemModel::dataChanged);
    const PNode folder(tree.root()->children[1]);
    for (int round = 0; round < 20; ++round) {
        tree.updateNodes(tree.root(), 1, 1);        // the task's progress
        tree.updateNodes(folder, round * 100, 100); // a batch of its files
        tree.updateNodes(tree.root(), 0, 3);        // every task at once
    }
    QCOMPARE(resets.count(), 0);
    QCOMPARE(inserts.count() + removes.count(), 0);
    // One change per contiguous run of rows: the files split the tasks into two runs.
    QCOMPARE(changes.count(), 20 * (1 + 1 + 2));
    const QList<QVariant> &filesChanged = changes.at(1);
    QCOMPARE(filesChanged.at(0).toModelIndex().row(), 2);
    QCOMPARE(filesChanged.at(1).toModelIndex().row(), 101);
    QVERIFY(rows.isExpanded(1));
    QCOMPARE(rows.rowCount(), 2003);
}

QTEST_GUILESS_MAIN(TestTreeRowsModel)
#include "tst_treerowsmodel.moc"
