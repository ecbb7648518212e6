// Received names made safe as single local path components.
#include "pathutil/PathUtil.h"

#include <QtTest>

class TestPathUtil : public QObject {
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void relativePath_data();
    void relativePath();
};

void TestPathUtil::encode_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("plain") << QByteArray("report.pdf") << QByteArray("report.pdf");
    QTest::newRow("PRN") << QByteArray("PRN") << QByteArray("%50%52%4e");
    QTest::newRow("prn") << QByteArray("prn") << QByteArray("%70%72%6e");
    QTest::newRow("AUX") << QByteArray("AUX") << QByteArray("%41%55%58");
    QTest::newRow("Clock$") << QByteArray("Clock$") << QByteArray("%43%6c%6f%63%6b%24");
    QTest::newRow("con.txt is not reserved") << QByteArray("con.txt") << QByteArray("con.txt");
    QTest::newRow("PRN1") << QByteArray("PRN1") << QByteArray("PRN1");
    QTest::newRow("LPT2") << QByteArray("LPT2") << QByteArray("LPT2");
    QTest::newRow("colon") << QByteArray("a:b") << QByteArray("a%3ab");
    QTest::newRow("percent") << QByteArray("50%") << QByteArray("50%25");
    QTest::newRow("escaped twice is visible") << QByteArray("%25") << QByteArray("%2525");
    QTest::newRow("every escaped character")
        << QByteArray("%\\/:*?\"<>|\n\r\t") << QByteArray("%25%5c%2f%3a%2a%3f%22%3c%3e%7c%0a%0d%09");
    QTest::newRow("slash cannot make a folder") << QByteArray("../etc/passwd") << QByteArray("..%2fetc%2fpasswd");
    QTest::newRow("dot") << QByteArray(".") << QByteArray("%2e");
    QTest::newRow("dot dot") << QByteArray("..") << QByteArray("%2e%2e");
    QTest::newRow("three dots stay") << QByteArray("...") << QByteArray("...");
    QTest::newRow("hidden file stays") << QByteArray(".bashrc") << QByteArray(".bashrc");
    QTest::newRow("cyrillic") << QByteArray("Привет.txt") << QByteArray("Привет.txt");
    QTest::newRow("chinese") << QByteArray("文件.doc") << QByteArray("文件.doc");
}

void TestPathUtil::encode()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(pathutil::encodeFileNameWin(name.toStdString())), expected);
}

void TestPathUtil::relativePath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("safe");
    QTest::newRow("top level") << QByteArray() << true;
    QTest::newRow("a/b") << QByteArray("a/b") << true;
    QTest::newRow("backslash is an ordinary character") << QByteArray("a\\..\\b") << true;
    QTest::newRow("../x") << QByteArray("../x") << false;
    QTest::newRow("/etc") << QByteArray("/etc") << false;
    QTest::newRow("a/../../b") << QByteArray("a/../../b") << false;
    QTest::newRow("a//b") << QByteArray("a//b") << false;
    QTest::newRow("trailing slash") << QByteArray("a/") << false;
    QTest::newRow("dot component") << QByteArray("a/./b") << false;
    QTest::newRow("control character") << QByteArray("a/b\x01") << false;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << false;
    QTest::newRow("255 bytes") << QByteArray(255, 'x') << true;
    QTest::newRow("256 bytes") << QByteArray(256, 'x') << false;
}

void TestPathUtil::relativePath()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, safe);
    QCOMPARE(pathutil::isSafeRelativePath(path.toStdString()), safe);
}

QTEST_GUILESS_MAIN(TestPathUtil)
#include "tst_pathutil.moc"
