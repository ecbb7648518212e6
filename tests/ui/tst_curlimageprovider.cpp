// The "curl" image provider without a screen: real thumbnails from the real
// HTTPS service scaled to the asked size, failures and oversized answers as
// null images, and cancelling or deleting an answer while its transfer hangs.
#include "ui/CurlImageProvider.h"
#include "ui/CurlImageProviderResponse.h"

#include "store/ShareFilesDb.h"
#include "BlankPng.h"
#include "TempDataHome.h"
#include "TestServer.h"
#include "../client/RawTlsServer.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSemaphore>
#include <QtTest>

#include <memory>

namespace {

// Keeps every thread of the application-wide pool busy while it lives, so that
// an answer made meanwhile waits in the queue and cannot finish before a test
// listens to it.
class PoolHold {
public:
    PoolHold()
    {
        QThreadPool *pool = QThreadPool::globalInstance();
        m_count = pool->maxThreadCount();
        // The blockers may wake after this object is gone: they share the semaphores.
        for (int i = 0; i < m_count; ++i) {
            pool->start([started = m_started, gate = m_gate] {
                started->release();
                gate->acquire();
            });
        }
        m_started->acquire(m_count);
    }
    ~PoolHold() { m_gate->release(m_count); }

private:
    std::shared_ptr<QSemaphore> m_started = std::make_shared<QSemaphore>();
    std::shared_ptr<QSemaphore> m_gate = std::make_shared<QSemaphore>();
    int m_count = 0;
};

// Waits for the answer's finished() and hands it back for reading.
std::unique_ptr<CurlImageProviderResponse> fetch(const QString &id, const QSize &size, bool *finished)
{
    CurlImageProvider provider;
    std::unique_ptr<CurlImageProviderResponse> response;
    std::unique_ptr<QSignalSpy> spy;
    {
        PoolHold hold;
        response.reset(static_cast<CurlImageProviderResponse *>(provider.requestImageResponse(id, size)));
        spy = std::make_unique<QSignalSpy>(response.get(), &QQuickImageResponse::finished);
    }
    // finished() comes from a pool thread: poll the count, as QSignalSpy::wait()
    // can miss a signal from another thread that arrives just before it starts.
    *finished = QTest::qWaitFor([&] { return spy->count() == 1; }, 20000);
    return response;
}

// Headers that promise a large body, a little of it, then silence.
RawTlsServer::Reply hangingAnswer(const RawTlsServer::Request &, int)
{
    return {"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 1000000\r\n\r\n" + std::string(100, 'x'),
            true};
}

} // namespace

class TestCurlImageProvider : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void scaledToFit_data();
    void scaledToFit();
    void failuresGiveNullImage_data();
    void failuresGiveNullImage();
    void oversizedAnswersGiveNullImage_data();
    void oversizedAnswersGiveNullImage();
    void cancelEndsHangingTransfer();
    void deletingWhileBusyIsSafe();

private:
    QString thumbUrl(const std::string &uid) const
    {
        return QString("https://127.0.0.1:%1/share/thumb/%2?mime=image/png").arg(m_server->port).arg(uid.c_str());
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<TestServer> m_server;
    std::string m_imageUid, m_textUid;
};

void TestCurlImageProvider::initTestCase()
{
    m_home = std::make_unique<TempDataHome>();
    QVERIFY(ShareFilesDb::instance().open());
    const QString png = m_home->path() + "/wide.png";
    QImage image(256, 128, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(png));
    const QString text = m_home->path() + "/note.txt";
    QFile f(text);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not an image");
    f.close();
    const ShareFile wide = newShareFile("wide.png", png.toStdString(), "image/png", png.toStdString(), false);
    const ShareFile note = newShareFile("note.txt", text.toStdString(), "text/plain", text.toStdString(), false);
    ShareFilesDb::instance().addFile(wide);
    ShareFilesDb::instance().addFile(note);
    ShareFilesDb::instance().setEnabled(true);
    m_imageUid = wide.uid;
    m_textUid = note.uid;
    m_server = std::make_unique<TestServer>();
    QVERIFY(m_server->start());
}

void TestCurlImageProvider::cleanupTestCase()
{
    m_server->server.stop();
    m_server.reset();
}

void TestCurlImageProvider::scaledToFit_data()
{
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("24 x 24") << QSize(24, 24) << QSize(24, 12);
    QTest::newRow("100 x 20") << QSize(100, 20) << QSize(40, 20);
    QTest::newRow("width only") << QSize(64, 0) << QSize(64, 32);
    QTest::newRow("no size") << QSize() << QSize(256, 128);
}

void TestCurlImageProvider::scaledToFit()
{
    QFETCH(QSize, requested);
    QFETCH(QSize, expected);
    bool finished = false;
    auto response = fetch(thumbUrl(m_imageUid), requested, &finished);
    QVERIFY(finished);
    QCOMPARE(response->image().size(), expected);
    QCOMPARE(response->image().pixelColor(expected.width() / 2, expected.height() / 2), QColor(Qt::darkCyan));
    QVERIFY(response->errorString().isEmpty());
}

void TestCurlImageProvider::failuresGiveNullImage_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("404 unknown entry") << "/share/thumb/no-such-entry?mime=image/png";
    QTest::newRow("not an image") << "text";
    QTest::newRow("no route") << "/nothing/here";
    QTest::newRow("nobody listening") << "https://127.0.0.1:1/share/thumb/x";
    QTest::newRow("not an address") << "just words";
}

void TestCurlImageProvider::failuresGiveNullImage()
{
    QFETCH(QString, id);
    if (id == "text")
        id = QString("https://127.0.0.1:%1/share/thumb/%2?mime=image/png").arg(m_server->port).arg(m_textUid.c_str());
    else if (id.startsWith('/'))
        id = QString("https://127.0.0.1:%1%2").arg(m_server->port).arg(id);
    bool finished = false;
    auto response = fetch(id, QSize(24, 24), &finished);
    QVERIFY(finished);
    QVERIFY(response->image().isNull());
    QVERIFY(response->errorString().isEmpty());
}

void TestCurlImageProvider::oversizedAnswersGiveNullImage_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("padding");    // bytes after the image
    QTest::addColumn<bool>("announced"); // the answer gives its length
    QTest::addColumn<bool>("shown");

    QImage small(64, 32, QImage::Format_RGB32);
    small.fill(Qt::yellow);
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    small.save(&out, "PNG");
    const int limit = int(CurlImageProviderResponse::kMaxBodyBytes);
    QTest::newRow("small image") << png << 0 << true << true;
    QTest::newRow("padded up to the limit") << png << limit - png.size() << true << true;
    QTest::newRow("padded beyond the limit") << png << limit << true << false;
    QTest::newRow("beyond the limit, no length") << png << limit << false << false;
    // A few hundred KiB that announce 900 million pixels.
    QTest::newRow("30,000 x 30,000 pixels") << blankpng::make(30000, 30000) << 0 << true << false;
    QTest::newRow("a pixel above the limit") << blankpng::make(4096, 4097) << 0 << true << false;
    QTest::newRow("at the pixel limit") << blankpng::make(4096, 4096) << 0 << true << true;
}

void TestCurlImageProvider::oversizedAnswersGiveNullImage()
{
    QFETCH(QByteArray, image);
    QFETCH(int, padding);
    QFETCH(bool, announced);
    QFETCH(bool, shown);
    // Decoders stop at the image's end and ignore what follows.
    const std::string body = image.toStdString() + std::string(size_t(padding), '\0');
    RawTlsServer peer([&](const RawTlsServer::Request &, int) {
        if (announced)
            return RawTlsServer::Reply{RawTlsServer::answer("HTTP/1.1 200 OK", body, "Content-Type: image/png\r\n")};
        return RawTlsServer::Reply{"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\n\r\n" + body};
    });
    bool finished = false;
    auto response =
        fetch(QString("https://127.0.0.1:%1/share/thumb/x?mime=image/png").arg(peer.port()), QSize(32, 32), &finished);
    QVERIFY(finished);
    QCOMPARE(!response->image().isNull(), shown);
}

void TestCurlImageProvider::cancelEndsHangingTransfer()
{
    RawTlsServer hanging(hangingAnswer);
    CurlImageProvider provider;
    std::unique_ptr<CurlImageProviderResponse> response(
        static_cast<CurlImageProviderResponse *>(provider.requestImageResponse(
            QString("https://127.0.0.1:%1/share/thumb/x").arg(hanging.port()), QSize(24, 24))));
    QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
    QVERIFY(hanging.waitForRequests(1));
    QTest::qWait(300);
    QCOMPARE(finished.count(), 0); // the body does not come
    response->cancel();
    // Well inside the stall time after which the request would give up by itself.
    QVERIFY(
        QTest::qWaitFor([&] { return finished.count() == 1; }, (CurlImageProviderResponse::kStallSeconds - 5) * 1000));
    QVERIFY(response->image().isNull());
}

void TestCurlImageProvider::deletingWhileBusyIsSafe()
{
    RawTlsServer hanging(hangingAnswer);
    const QString url = QString("https://127.0.0.1:%1/share/thumb/x").arg(hanging.port());
    CurlImageProvider provider;
    // More answers than the pool has threads, so some are still queued when deleted.
    std::vector<QQuickImageResponse *> responses;
    const int count = QThreadPool::globalInstance()->maxThreadCount() + 2;
    for (int i = 0; i < count; ++i)
        responses.push_back(provider.requestImageResponse(url, QSize(24, 24)));
    QVERIFY(hanging.waitForRequests(1));
    QElapsedTimer timer;
    timer.start();
    for (QQuickImageResponse *r : responses) {
        r->cancel();
        delete r;
    }
    QVERIFY(timer.elapsed() < (CurlImageProviderResponse::kStallSeconds - 5) * 1000);
    QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
}

QTEST_GUILESS_MAIN(TestCurlImageProvider)
#include "tst_curlimageprovider.moc"
