// What the command line prints of other devices' text: control characters in
// names, errors and messages come out as visible escapes and never reach the
// terminal, in the escaping itself, in the progress lines (plain and redrawn)
// and in the task list of the real program.
#include "TempDataHome.h"

#include "app/ProgressPrinter.h"
#include "app/TerminalText.h"

#include "core/Uuid.h"
#include "store/TaskStore.h"

#include <QRegularExpression>
#include <QtTest>

#include <cstdio>
#include <cstdlib>

namespace {

// Raw bytes that a terminal would act on.
bool hasControlBytes(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\n') || u == 0x7f)
            return true;
    }
    // C1 controls in UTF-8: C2 80 to C2 9F.
    return QRegularExpression(QStringLiteral("[\\x{80}-\\x{9f}]")).match(QString::fromUtf8(bytes)).hasMatch();
}

const char kClear[] = "\x1b[2J\x1b[H";
const char kTitle[] = "\x1b]0;owned\x07";

} // namespace

class TestTerminalText : public QObject {
    Q_OBJECT
private slots:
    void escaped_data();
    void escaped();
    void invalidUtf8NeverPassesRaw();
    void progressLines_data();
    void progressLines();
    void taskList();
};

void TestTerminalText::escaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("clear screen") << QString::fromUtf8(kClear) << "\\x1b[2J\\x1b[H";
    QTest::newRow("window title") << QString::fromUtf8(kTitle) << "\\x1b]0;owned\\x07";
    QTest::newRow("line breaks and tab") << "one\ntwo\r\tthree"
                                         << "one\\x0atwo\\x0d\\x09three";
    QTest::newRow("NUL and DEL") << QString(QChar(0)) + "x\x7f"
                                 << "\\x00x\\x7f";
    QTest::newRow("C1 controls") << QString::fromUtf8("\xc2\x9b"
                                                      "2J\xc2\x85")
                                 << "\\u009b2J\\u0085";
    const QString plain = QString::fromUtf8("ünïcødé ☃ \xf0\x9f\x98\x80 a\\b 100% \xc2\xa0");
    QTest::newRow("ordinary text") << plain << plain;
}

void TestTerminalText::escaped()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(TerminalText::escaped(text), shown);
    QVERIFY(!hasControlBytes(TerminalText::utf8(text)));
}

void TestTerminalText::invalidUtf8NeverPassesRaw()
{
    // A name as a device may send it: broken sequences, an overlong slash, a lone continuation byte.
    const QByteArray sent("a\xff\xfe\xc0\xaf\x80z\x1b[31m");
    const QByteArray out = TerminalText::utf8(QString::fromUtf8(sent));
    QVERIFY(!hasControlBytes(out));
    // Valid UTF-8 throughout: decoding it finds nothing to replace beyond what it holds.
    QCOMPARE(QString::fromUtf8(out).toUtf8(), out);
    QVERIFY(out.startsWith('a'));
    QVERIFY(out.endsWith("z\\x1b[31m"));
}

void TestTerminalText::progressLines_data()
{
    QTest::addColumn<bool>("live");
    QTest::newRow("plain lines") << false;
    QTest::newRow("redrawn on a terminal") << true;
}

void TestTerminalText::progressLines()
{
    QFETCH(bool, live);
    char *buffer = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    QVERIFY(out);
    {
        ProgressPrinter printer(out, live);
        TaskEntry entry;
        entry.task.uid = "t";
        entry.filesLoaded = true;
        auto file = [](const std::string &name, int status, int64_t offset, const std::string &error) {
            TransferFile f = newTransferFile("t", "", "/x", "", name, "text/plain", 100);
            f.status.status = status;
            f.status.offset = offset;
            f.status.error = error;
            return f;
        };
        entry.files = {file(std::string("running") + kClear, 0, 10, ""), file(std::string("done") + kTitle, 1, 100, ""),
                       file("failed", -1, 5, std::string("no space") + kClear)};
        printer.update(TaskKey{"t", false}, entry, 0);
        printer.line(QString::fromUtf8(kTitle));
        entry.files[0].status.offset = 50;
        printer.update(TaskKey{"t", false}, entry, 2000);
        printer.clearLive();
    }
    std::fclose(out);
    const QByteArray printed(buffer, int(size));
    std::free(buffer);

    QVERIFY2(printed.contains("running\\x1b[2J\\x1b[H"), printed.constData());
    QVERIFY(printed.contains("done done\\x1b]0;owned\\x07"));
    QVERIFY(printed.contains("failed failed: no space\\x1b[2J\\x1b[H"));
    // On a terminal the printer moves the cursor itself; nothing else may.
    QString rest = QString::fromUtf8(printed);
    rest.remove(QRegularExpression(QStringLiteral("\\x1b\\[\\d+A\\x1b\\[J")));
    QCOMPARE(!live, rest.toUtf8() == printed);
    QVERIFY(!hasControlBytes(rest.toUtf8()));
}

void TestTerminalText::taskList()
{
    TempDataHome home;
    TransferTask task;
    task.uid = newUuid();
    task.remote_name = std::string("mallory") + kTitle;
    task.ip = "127.0.0.1";
    task.port = 20168;
    task.from_me = 0;
    TransferFile f = newTransferFile(task.uid, "", "/x", "", "a.txt", "text/plain", 1);
    f.status.status = -1;
    TaskStore received(false);
    QVERIFY(received.createTask(task, {f}));
    TransferTaskStatus status;
    status.total = 1;
    status.failed = 1;
    status.remote = true;
    status.error = std::string("disk full") + kClear;
    QVERIFY(received.writeTaskStatus(task.uid, status));

    QProcess p;
    p.start(LANFERRY_BIN, {"tasks"});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray printed = p.readAllStandardOutput();
    QVERIFY2(printed.contains("mallory\\x1b]0;owned\\x07"), printed.constData());
    QVERIFY(printed.contains("disk full\\x1b[2J\\x1b[H"));
    QVERIFY(!hasControlBytes(printed));
}

QTEST_GUILESS_MAIN(TestTerminalText)
#include "tst_terminaltext.moc"
