// The lenient JSON readers: every field the program receives is read through them.
#include "core/Json.h"

#include <QtTest>

class TestJson : public QObject {
    Q_OBJECT
private slots:
    void readers_data();
    void readers();
    void parseLeadingInt_data();
    void parseLeadingInt();
    void parseRejectsTrailingGarbage();
    void arrayElementByElement_data();
    void arrayElementByElement();
};

void TestJson::readers_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("asString");
    QTest::addColumn<int>("asInt");
    QTest::addColumn<qint64>("asInt64");

    QTest::newRow("missing") << QString() << "" << 0 << qint64(0);
    QTest::newRow("null") << "null"
                          << "" << 0 << qint64(0);
    QTest::newRow("true") << "true"
                          << "true" << 1 << qint64(1);
    QTest::newRow("false") << "false"
                           << "false" << 0 << qint64(0);
    QTest::newRow("double") << "2.5"
                            << "2.500000" << 2 << qint64(2);
    QTest::newRow("negative double truncates toward zero") << "-2.9"
                                                           << "-2.900000" << -2 << qint64(-2);
    QTest::newRow("int") << "-42"
                         << "-42" << -42 << qint64(-42);
    QTest::newRow("int beyond 32 bits") << "5000000000"
                                        << "2147483647" << 2147483647 << qint64(5000000000);
    QTest::newRow("string") << "\"abc\""
                            << "abc" << 0 << qint64(0);
    QTest::newRow("numeric string") << "\"20200\""
                                    << "20200" << 20200 << qint64(20200);
    QTest::newRow("string with spaces and tail") << "\"  -7px\""
                                                 << "  -7px" << -7 << qint64(-7);
    QTest::newRow("string out of 32-bit range") << "\"99999999999\""
                                                << "99999999999" << 0 << qint64(99999999999);
    QTest::newRow("object") << "{\"a\":1}"
                            << "" << 0 << qint64(0);
    QTest::newRow("array") << "[1]"
                           << "" << 0 << qint64(0);
}

void TestJson::readers()
{
    QFETCH(QString, value);
    QFETCH(QString, asString);
    QFETCH(int, asInt);
    QFETCH(qint64, asInt64);

    const std::string text = value.isNull() ? "{}" : "{\"k\": " + value.toStdString() + "}";
    JsonPtr obj = jsonParse(text);
    QVERIFY(obj);
    QCOMPARE(QString::fromStdString(jsonString(obj.get(), "k")), asString);
    QCOMPARE(jsonInt(obj.get(), "k"), asInt);
    QCOMPARE(jsonInt64(obj.get(), "k"), asInt64);

    // A value that is not an object reads as empty whatever the key.
    JsonPtr arr = jsonParse("[" + (value.isNull() ? std::string("1") : value.toStdString()) + "]");
    QCOMPARE(jsonString(arr.get(), "k"), std::string());
    QCOMPARE(jsonInt(arr.get(), "k"), 0);
    QCOMPARE(jsonString(nullptr, "k"), std::string());
}

void TestJson::parseLeadingInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("value");
    QTest::newRow("plain") << "6" << true << qint64(6);
    QTest::newRow("white space and sign") << " \t+12abc" << true << qint64(12);
    QTest::newRow("negative") << "-3" << true << qint64(-3);
    QTest::newRow("letters first") << "abc1" << false << qint64(0);
    QTest::newRow("sign alone") << "-" << false << qint64(0);
    QTest::newRow("empty") << "" << false << qint64(0);
    QTest::newRow("int64 max") << "9223372036854775807" << true << qint64(9223372036854775807LL);
    QTest::newRow("int64 min") << "-9223372036854775808" << true << qint64(INT64_MIN);
    QTest::newRow("overflow") << "9223372036854775808" << false << qint64(0);
}

void TestJson::parseLeadingInt()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qint64, value);
    const auto n = ::parseLeadingInt(text.toStdString());
    QCOMPARE(n.has_value(), ok);
    if (ok)
        QCOMPARE(*n, value);
}

void TestJson::parseRejectsTrailingGarbage()
{
    QVERIFY(jsonParse("{ \"a\": 1 }\n"));
    QVERIFY(!jsonParse("{ \"a\": 1 } x"));
    QVERIFY(!jsonParse("{ \"a\": "));
    QVERIFY(!jsonParse(""));
}

void TestJson::arrayElementByElement_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("visited"); // each element as json-c writes it

    QTest::newRow("empty") << QByteArray(" [ ] ") << true << QStringList();
    QTest::newRow("objects") << QByteArray("[{\"a\":1}, {\"a\":2}]\n") << true
                             << QStringList{"{ \"a\": 1 }", "{ \"a\": 2 }"};
    QTest::newRow("brackets and commas in strings")
        << QByteArray(R"([{"n":"],{\"x\"}"},"[,]"])") << true << QStringList{R"({ "n": "],{\"x\"}" })", R"("[,]")"};
    QTest::newRow("nested") << QByteArray("[[1,[2]],{\"b\":[3,{}]}]") << true
                            << QStringList{"[ 1, [ 2 ] ]", "{ \"b\": [ 3, { } ] }"};
    QTest::newRow("not an array") << QByteArray("{\"a\":[1]}") << false << QStringList();
    QTest::newRow("empty element") << QByteArray("[1,,2]") << false << QStringList{"1"};
    QTest::newRow("trailing comma") << QByteArray("[1,]") << false << QStringList{"1"};
    QTest::newRow("unclosed") << QByteArray("[1,2") << false << QStringList{"1"};
    QTest::newRow("garbage after") << QByteArray("[1] x") << false << QStringList{"1"};
    QTest::newRow("broken element") << QByteArray("[{\"a\":}, 2]") << false << QStringList();
    QTest::newRow("too deep") << QByteArray("[" + QByteArray(40, '[') + QByteArray(40, ']') + "]") << false
                              << QStringList();
}

void TestJson::arrayElementByElement()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QStringList, visited);
    QStringList seen;
    const bool result = jsonForEachInArray(text.toStdString(), [&](json_object *o) {
        seen << QString::fromStdString(jsonText(o));
        return true;
    });
    QCOMPARE(seen, visited);
    QCOMPARE(result, ok);
    // A visitor that refuses stops the walk.
    int calls = 0;
    if (ok && !visited.isEmpty())
        QVERIFY(!jsonForEachInArray(text.toStdString(), [&](json_object *) { return ++calls > 5; }));
    QCOMPARE(calls, ok && !visited.isEmpty() ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
