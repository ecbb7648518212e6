// The data-less list model: rows come from its owner's functions, changes are
// announced so that views (checked by QAbstractItemModelTester) stay in step.
#include "ui/MyItemModel.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <memory>

namespace {

// An owner with a list of names, showing each row as {"name": ...}.
struct Owner {
    QStringList names;
    MyItemModel model;
    std::unique_ptr<QAbstractItemModelTester> tester;

    explicit Owner(const QStringList &initial, bool checked = true) : names(initial)
    {
        model.countFn = [this] { return names.size(); };
        model.setData2([this](int row) { return QVariantMap{{"name", names.at(row)}}; }, "d");
        if (checked)
            tester = std::make_unique<QAbstractItemModelTester>(&model,
                                                                QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    QString shown(int row) const
    {
        return model.data(model.index(row, 0), MyItemModel::FirstRole).toMap().value("name").toString();
    }
    QStringList shownAll() const
    {
        QStringList out;
        for (int i = 0; i < model.rowCount(); ++i)
            out << shown(i);
        return out;
    }
};

using Range = QPair<int, int>;

QList<Range> ranges(const QSignalSpy &spy)
{
    QList<Range> out;
    for (const QList<QVariant> &args : spy) {
        if (args.at(1).userType() == QMetaType::Int) // rowsInserted / rowsRemoved (parent, first, last)
            out << Range(args.at(1).toInt(), args.at(2).toInt());
        else // dataChanged (topLeft, bottomRight, roles)
            out << Range(args.at(0).toModelIndex().row(), args.at(1).toModelIndex().row());
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<Range>)

class TestMyItemModel : public QObject {
    Q_OBJECT
private slots:
    void withoutCountFnThereAreNoRows();
    void update_data();
    void update();
    void rowsChangeInsideTheAnnouncement();
    void unfittingChangesBecomeResets();
    void slotsAnnounceChangesAlreadyMade();
    void roles();
};

void TestMyItemModel::withoutCountFnThereAreNoRows()
{
    MyItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.index(0, 0).isValid());
    model.update(0, 1);
    QCOMPARE(changed.count(), 0);
    model.dataFn = [](int, int, const QString &) { return QVariant(1); };
    model.roleNameList = QStringList{"d"};
    QVERIFY(!model.data(model.index(0, 0), MyItemModel::FirstRole).isValid());
}

void TestMyItemModel::update_data()
{
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<Range>>("signalled");
    QTest::newRow("past the end is clipped") << 3 << 10 << QList<Range>{{3, 4}};
    QTest::newRow("at the end") << 5 << 1 << QList<Range>{};
    QTest::newRow("one row") << 0 << 1 << QList<Range>{{0, 0}};
    QTest::newRow("all rows") << 0 << 5 << QList<Range>{{0, 4}};
    QTest::newRow("negative pos") << -1 << 3 << QList<Range>{};
    QTest::newRow("no rows asked") << 2 << 0 << QList<Range>{};
    QTest::newRow("negative count") << 2 << -1 << QList<Range>{};
}

void TestMyItemModel::update()
{
    QFETCH(int, pos);
    QFETCH(int, count);
    QFETCH(QList<Range>, signalled);
    Owner owner({"a", "b", "c", "d", "e"});
    QSignalSpy changed(&owner.model, &QAbstractItemModel::dataChanged);
    owner.names[4] = "E";
    owner.model.update(pos, count);
    QCOMPARE(ranges(changed), signalled);
    for (const QList<QVariant> &args : changed)
        QVERIFY(args.at(2).value<QVector<int>>().isEmpty());
}

void TestMyItemModel::rowsChangeInsideTheAnnouncement()
{
    Owner owner({"b", "d"});
    QSignalSpy inserted(&owner.model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&owner.model, &QAbstractItemModel::rowsRemoved);

    owner.model.insertRowsWith(0, 1, [&] { owner.names.insert(0, "a"); });
    owner.model.insertRowsWith(2, 1, [&] { owner.names.insert(2, "c"); });
    owner.model.insertRowsWith(4, 2, [&] {
        owner.names << "e"
                    << "f";
    });
    QCOMPARE(owner.shownAll(), QStringList({"a", "b", "c", "d", "e", "f"}));
    QCOMPARE(ranges(inserted), QList<Range>({{0, 0}, {2, 2}, {4, 5}}));

    owner.names[1] = "B";
    owner.model.update(1, 1);
    QCOMPARE(owner.shown(1), QString("B"));

    owner.model.removeRowsWith(1, 2, [&] { owner.names.erase(owner.names.begin() + 1, owner.names.begin() + 3); });
    owner.model.removeRowsWith(0, 1, [&] { owner.names.removeFirst(); });
    owner.model.removeRowsWith(2, 1, [&] { owner.names.removeLast(); });
    QCOMPARE(owner.shownAll(), QStringList({"d", "e"}));
    QCOMPARE(ranges(removed), QList<Range>({{1, 2}, {0, 0}, {2, 2}}));

    owner.model.resetWith([&] { owner.names = QStringList{"x"}; });
    QCOMPARE(owner.shownAll(), QStringList({"x"}));
}

void TestMyItemModel::unfittingChangesBecomeResets()
{
    Owner owner({"a", "b", "c"});
    QSignalSpy inserted(&owner.model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&owner.model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&owner.model, &QAbstractItemModel::modelReset);

    owner.model.insertRowsWith(7, 1, [&] { owner.names << "d"; });       // past the end
    owner.model.removeRowsWith(2, 5, [&] { owner.names.removeLast(); }); // more than there are
    owner.model.insertRowsWith(0, 0, [&] { owner.names << "z"; });       // nothing announced, yet a change
    QCOMPARE(reset.count(), 3);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(owner.shownAll(), QStringList({"a", "b", "c", "z"}));

    // The owner inserts two rows where it announced one: views start over
    // (unchecked, since the tester rightly objects to the announcement).
    Owner liar({"a"}, false);
    QSignalSpy liarReset(&liar.model, &QAbstractItemModel::modelReset);
    liar.model.insertRowsWith(0, 1, [&] { liar.names = QStringList{"p", "q"} + liar.names; });
    QCOMPARE(liarReset.count(), 1);
    QCOMPARE(liar.shownAll(), QStringList({"p", "q", "a"}));
}

void TestMyItemModel::slotsAnnounceChangesAlreadyMade()
{
    // No tester here: it reads the rows at the start of an announcement and
    // expects the old ones, which an owner that changed first no longer has.
    Owner owner({"a", "b"}, false);
    QSignalSpy inserted(&owner.model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&owner.model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&owner.model, &QAbstractItemModel::modelReset);

    owner.names << "c"
                << "d";
    owner.model.updateInsert(2, 2);
    owner.names.removeLast();
    owner.model.updateRemove(3, 1);
    owner.model.updateInsert(2, 0);
    owner.model.updateRemove(2, 0);
    QCOMPARE(ranges(inserted), QList<Range>({{2, 3}}));
    QCOMPARE(ranges(removed), QList<Range>({{3, 3}}));
    QCOMPARE(reset.count(), 0);

    // Announcements that cannot match the rows resynchronise the views instead.
    owner.names << "x";
    owner.model.updateInsert(3, 5);
    owner.model.updateRemove(-1, 1);
    owner.model.updateRemove(9, 1);
    QCOMPARE(reset.count(), 3);
    owner.model.updateReset();
    QCOMPARE(reset.count(), 4);
    QCOMPARE(owner.shownAll(), QStringList({"a", "b", "c", "x"}));
}

void TestMyItemModel::roles()
{
    Owner owner({"a"});
    constexpr int d = MyItemModel::FirstRole;
    QCOMPARE(owner.model.roleNames(), (QHash<int, QByteArray>{{d, "d"}}));
    const QModelIndex first = owner.model.index(0, 0);
    QCOMPARE(owner.model.data(first, d), QVariant(QVariantMap{{"name", "a"}}));
    QVERIFY(!owner.model.data(first, d + 1).isValid());
    QVERIFY(!owner.model.data(first, Qt::DisplayRole).isValid());
    QVERIFY(!owner.model.index(1, 0).isValid());

    // An owner that sets the functions directly gets its role names passed along.
    MyItemModel model;
    model.countFn = [] { return 2; };
    model.roleNameList = QStringList{"d", "extra"};
    model.dataFn = [](int row, int role, const QString &name) {
        return QString("%1:%2:%3").arg(row).arg(role).arg(name);
    };
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.roleNames(), (QHash<int, QByteArray>{{d, "d"}, {d + 1, "extra"}}));
    QCOMPARE(model.data(model.index(1, 0), d + 1).toString(), QString("1:1:extra"));
    QVERIFY(!model.data(model.index(1, 0), d + 2).isValid());
}

QTEST_GUILESS_MAIN(TestMyItemModel)
#include "tst_myitemmodel.moc"
