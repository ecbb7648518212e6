// The English catalogue compiled into the program.
#include "ui/Catalogue.h"

#include <QtTest>

class TestCatalogue : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(installCatalogue(QCoreApplication::instance())); }
    void texts_data();
    void texts();
};

void TestCatalogue::texts_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("english");
    QTest::newRow("key with placeholder") << "ServerModel"
                                          << "IDS_REMOTE_%1_REJECT_THE_TASK"
                                          << "The device (Anna) refused to receive the file.";
    QTest::newRow("retry button") << "ServerModel"
                                  << "BTN_RETRY"
                                  << "Retry";
    QTest::newRow("same text, model context") << "DevicesModel"
                                              << "IDS_INVALID_CONNECTION_PASSWORD"
                                              << "Incorrect connection password.";
    QTest::newRow("same text, screen context") << "PassowrdInputForm"
                                               << "IDS_TITLE_CONNECTION_INVALID_PASSWORD"
                                               << "Incorrect connection password.";
    QTest::newRow("key of another context is not used") << "ServerModel"
                                                        << "IDS_CONFIRM_STOP_TASK"
                                                        << "IDS_CONFIRM_STOP_TASK";
    QTest::newRow("absent key shown as written") << "TaskMgrModel"
                                                 << "IDS_NO_SUCH_KEY_%1"
                                                 << "IDS_NO_SUCH_KEY_Anna";
    QTest::newRow("untranslated label") << "MessageBoxContext"
                                        << "OK"
                                        << "OK";
    QTest::newRow("second placeholder left open") << "DevicesModel"
                                                  << "IDS_REMOTE_ERROR_RETURN_%1_ERR_%2"
                                                  << "Remote error, return Anna. error: %2";
}

void TestCatalogue::texts()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, english);
    QString text = QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData());
    if (text.contains("%1"))
        text = text.arg("Anna");
    QCOMPARE(text, english);
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
