// The window's side of a question answered elsewhere: a box shown with an id
// closes when the model closes that id, without running any of its buttons,
// and stays for any other id.
#include "ScreenTest.h"

#include "ui/MessageBoxContext.h"

using namespace screentest;

class TestPromptClose : public QObject {
    Q_OBJECT
private slots:
    void init() { m_screen = std::make_unique<Screen>(); }
    void cleanup()
    {
        m_screen.reset();
        QVERIFY2(takeWarnings().isEmpty(), "the screens logged warnings");
    }
    void closedByItsIdOnly();

private:
    std::unique_ptr<Screen> m_screen;
};

void TestPromptClose::closedByItsIdOnly()
{
    QVERIFY(m_screen->window);
    int pressed = 0;
    const MessageBoxContext::CallBack note([&pressed] { ++pressed; });
    showMessageBox(MessageBoxContext::instance(), "", "Receive?", MessageBoxContext::Question,
                   {{MessageBoxContext::Yes, "Yes", note}, {MessageBoxContext::No, "No", note}}, "offer:1");
    QTRY_VERIFY(m_screen->item("messageBox"));
    closeMessageBox(MessageBoxContext::instance(), "offer:2");
    closeMessageBox(MessageBoxContext::instance(), "");
    QTest::qWait(200);
    QVERIFY(m_screen->item("messageBox"));
    closeMessageBox(MessageBoxContext::instance(), "offer:1");
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QCOMPARE(pressed, 0);
    // A box without an id is not closed by any.
    showOkBox(MessageBoxContext::instance(), "", "Note", note);
    QTRY_VERIFY(m_screen->item("messageBox"));
    closeMessageBox(MessageBoxContext::instance(), "offer:1");
    QTest::qWait(200);
    QVERIFY(m_screen->item("messageBox"));
}

SCREEN_TEST_MAIN(TestPromptClose, "promptclose")
#include "tst_promptclose.moc"
