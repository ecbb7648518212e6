// The owner-side file work behind the routes: chunks, thumbnails, content
// types and file records of local paths, and reads below a sent folder while
// its contents are swapped for links and FIFOs.
#include "BlankPng.h"

#include "server/FileWork.h"

#include <QImageReader>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestFileWork : public QObject {
    Q_OBJECT
private slots:
    void readChunkMarksEndOnlyWhenReached();
    void readChunkFailures();
    void thumbnailSize_data();
    void thumbnailSize();
    void thumbnailFormat_data();
    void thumbnailFormat();
    void thumbnailOfNonImageFails();
    void thumbnailDecodingIsBounded_data();
    void thumbnailDecodingIsBounded();
    void largeJpegIsDecodedScaledDown();
    void readsStayBeneathTheFolderWhileItChanges();
    void fifoNeverBlocksAReader();
    void mimeForSuffix_data();
    void mimeForSuffix();
    void addLocalPath();

private:
    QTemporaryDir m_dir;
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
};

void TestFileWork::readChunkMarksEndOnlyWhenReached()
{
    const std::string path = writeFile("ten", "0123456789").toStdString();
    char buf[10];
    OnReadFileResult r = readChunk(path, 0, buf, 10); // ends exactly at the end: not marked
    QCOMPARE(r.size, 10);
    QVERIFY(!r.eof && !r.failed);
    QCOMPARE(QByteArray(buf, 10), QByteArray("0123456789"));
    r = readChunk(path, 10, buf, 10);
    QCOMPARE(r.size, 0);
    QVERIFY(r.eof);
    r = readChunk(path, 4, buf, 10);
    QCOMPARE(r.size, 6);
    QVERIFY(r.eof);
    QCOMPARE(QByteArray(buf, 6), QByteArray("456789"));
    r = readChunk(path, 100, buf, 10); // past the end reads nothing
    QCOMPARE(r.size, 0);
    QVERIFY(r.eof);
}

void TestFileWork::readChunkFailures()
{
    char buf[4];
    OnReadFileResult r = readChunk(m_dir.filePath("missing").toStdString(), 0, buf, 4);
    QVERIFY(r.failed);
    QCOMPARE(r.data, std::string("No such file or directory"));
    r = readChunk(writeFile("x", "abc").toStdString(), -1, buf, 4);
    QVERIFY(r.failed);
    QCOMPARE(r.data, std::string("Invalid argument"));
}

void TestFileWork::thumbnailSize_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("thumb");
    QTest::newRow("wide") << QSize(1000, 500) << QSize(256, 128);
    QTest::newRow("tall") << QSize(500, 1000) << QSize(128, 256);
    QTest::newRow("square") << QSize(300, 300) << QSize(256, 256);
    QTest::newRow("small is enlarged") << QSize(64, 32) << QSize(256, 128);
    QTest::newRow("very long strip keeps a pixel") << QSize(3000, 2) << QSize(256, 1);
}

void TestFileWork::thumbnailSize()
{
    QFETCH(QSize, source);
    QFETCH(QSize, thumb);
    QImage image(source, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QString path = m_dir.filePath("img.png");
    QVERIFY(image.save(path, "PNG"));
    const OnReadThumbResult r = makeThumbnail(path.toStdString(), "image/png");
    QVERIFY(!r.failed);
    QCOMPARE(QImage::fromData(QByteArray::fromStdString(r.data)).size(), thumb);
}

void TestFileWork::thumbnailFormat_data()
{
    QTest::addColumn<QString>("mime");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("label");
    QTest::newRow("png") << "image/png" << QByteArray("png") << "image/png";
    QTest::newRow("PNG in capitals keeps its label") << "IMAGE/PNG" << QByteArray("png") << "IMAGE/PNG";
    QTest::newRow("empty means jpeg") << "" << QByteArray("jpeg") << "image/jpeg";
    QTest::newRow("gif is sent as jpeg, labelled gif") << "image/gif" << QByteArray("jpeg") << "image/gif";
}

void TestFileWork::thumbnailFormat()
{
    QFETCH(QString, mime);
    QFETCH(QByteArray, format);
    QFETCH(QString, label);
    QImage image(QSize(40, 20), QImage::Format_RGB32);
    image.fill(Qt::blue);
    // The name has no suffix: the format is found from the content.
    const QString path = m_dir.filePath("picture");
    QVERIFY(image.save(path, "JPEG"));
    const OnReadThumbResult r = makeThumbnail(path.toStdString(), mime.toStdString());
    QVERIFY(!r.failed);
    QCOMPARE(QString::fromStdString(r.mime), label);
    QBuffer buf;
    buf.setData(QByteArray::fromStdString(r.data));
    QCOMPARE(QImageReader(&buf).format(), format);
}

void TestFileWork::thumbnailOfNonImageFails()
{
    for (const std::string &path : {writeFile("text.png", "not an image").toStdString(), std::string(),
                                    m_dir.filePath("missing.png").toStdString()}) {
        const OnReadThumbResult r = makeThumbnail(path, "image/png");
        QVERIFY(r.failed);
        QVERIFY(r.mime.empty() && r.data.empty());
    }
}

void TestFileWork::thumbnailDecodingIsBounded_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("thumb"); // invalid: refused
    QTest::newRow("small") << QSize(10, 10) << QSize(256, 256);
    QTest::newRow("at the limit") << QSize(8000, 5000) << QSize(256, 160);
    QTest::newRow("a row above the limit") << QSize(8000, 5001) << QSize();
    QTest::newRow("30,000 x 30,000") << QSize(30000, 30000) << QSize();
}

void TestFileWork::thumbnailDecodingIsBounded()
{
    QFETCH(QSize, source);
    QFETCH(QSize, thumb);
    QCOMPARE(qint64(8000) * 5000, qint64(kThumbnailMaxDecodedPixels));
    const QString path = writeFile("blank.png", blankpng::make(uint32_t(source.width()), uint32_t(source.height())));
    const OnReadThumbResult r = makeThumbnail(path.toStdString(), "image/png");
    if (!thumb.isValid()) {
        QVERIFY(r.failed);
        QVERIFY(r.data.empty());
        return;
    }
    QVERIFY(!r.failed);
    const QImage image = QImage::fromData(QByteArray::fromStdString(r.data));
    QCOMPARE(image.size(), thumb);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));
}

void TestFileWork::largeJpegIsDecodedScaledDown()
{
    // Above the limit, but a JPEG shrinks while it is decoded.
    QImage image(6400, 6400, QImage::Format_Grayscale8);
    QVERIFY(qint64(image.width()) * image.height() > kThumbnailMaxDecodedPixels);
    image.fill(200);
    const QString path = m_dir.filePath("large.jpg");
    QVERIFY(image.save(path, "JPEG"));
    image = QImage();
    const OnReadThumbResult r = makeThumbnail(path.toStdString(), "image/png");
    QVERIFY(!r.failed);
    const QImage thumb = QImage::fromData(QByteArray::fromStdString(r.data));
    QCOMPARE(thumb.size(), QSize(256, 256));
    QVERIFY(qAbs(qGray(thumb.pixel(128, 128)) - 200) <= 2);
}

void TestFileWork::readsStayBeneathTheFolderWhileItChanges()
{
    // shared/sub and shared/peek.txt are swapped, again and again, for links
    // to a folder and a file outside while a peer reads them.
    const QString shared = m_dir.filePath("race/shared"), outside = m_dir.filePath("race/outside");
    QVERIFY(QDir().mkpath(shared + "/sub") && QDir().mkpath(outside));
    writeFile("race/shared/sub/in.txt", "inside");
    writeFile("race/shared/peek.txt", "inside");
    writeFile("race/outside/in.txt", "OUTSIDE");
    writeFile("race/outside/secret.txt", "OUTSIDE");
    const TransferFile folder = newTransferFile("t", "", shared.toStdString(), "", "shared", kDirectoryMime, 0);

    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const QByteArray sub = (shared + "/sub").toUtf8(), subAside = (shared + "/sub.aside").toUtf8();
        const QByteArray peek = (shared + "/peek.txt").toUtf8(), peekAside = (shared + "/peek.aside").toUtf8();
        const QByteArray outFolder = outside.toUtf8(), outFile = (outside + "/in.txt").toUtf8();
        while (!stop) {
            ::rename(sub, subAside);
            ::symlink(outFolder, sub);
            ::rename(peek, peekAside);
            ::symlink(outFile, peek);
            ::unlink(sub);
            ::rename(subAside, sub);
            ::unlink(peek);
            ::rename(peekAside, peek);
            ++swaps;
        }
    });
    int reads = 0, escapes = 0, inside = 0;
    char buf[64];
    while (reads < 6000 || swaps < 1000) {
        for (const char *sub : {"sub/in.txt", "peek.txt", "sub"}) {
            const OnReadFileResult r = readFileForPeer("t", folder, sub, 0, buf, sizeof buf);
            ++reads;
            if (r.failed)
                continue;
            const QByteArray got = r.isDir ? QByteArray::fromStdString(r.data) : QByteArray(buf, r.size);
            if (got.contains("OUTSIDE") || got.contains("secret"))
                ++escapes;
            else
                ++inside;
        }
    }
    stop = true;
    swapper.join();
    QCOMPARE(escapes, 0);
    QVERIFY(inside > 0); // the folder was read between the swaps
}

void TestFileWork::fifoNeverBlocksAReader()
{
    QVERIFY(QDir().mkpath(m_dir.filePath("pipes")));
    const QByteArray fifo = m_dir.filePath("pipes/fifo").toUtf8();
    const QByteArray item = m_dir.filePath("pipes/item").toUtf8();
    const QByteArray fileAside = m_dir.filePath("pipes/file.aside").toUtf8();
    QVERIFY(::mkfifo(fifo, 0600) == 0);
    writeFile("pipes/item", "regular");
    // A reader stuck in open() on a FIFO is let go by a writer.
    auto release = [&] {
        const int w = ::open(fifo, O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
    };

    // A file record that is a FIFO.
    const TransferFile fileRecord = newTransferFile("t", "", fifo.toStdString(), "", "fifo", "text/plain", 0);
    auto single = std::async(std::launch::async, [&] {
        char buf[16];
        return readFileForPeer("t", fileRecord, "", 0, buf, sizeof buf);
    });
    if (single.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        release();
        single.wait();
        QFAIL("reading a FIFO blocked");
    }
    const OnReadFileResult r = single.get();
    QVERIFY(r.failed);
    QCOMPARE(r.data, std::string("Invalid file type."));

    // A FIFO swapped in below a folder record between a check and the open.
    const TransferFile folder =
        newTransferFile("t", "", m_dir.filePath("pipes").toStdString(), "", "pipes", kDirectoryMime, 0);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            ::rename(item, fileAside);
            ::rename(fifo, item);
            ::rename(item, fifo);
            ::rename(fileAside, item);
        }
    });
    auto many = std::async(std::launch::async, [&] {
        QStringList unexpected;
        char buf[16];
        for (int i = 0; i < 2000; ++i) {
            const OnReadFileResult r = readFileForPeer("t", folder, "item", 0, buf, sizeof buf);
            const QString got = QString::fromStdString(r.failed ? r.data : std::string(buf, size_t(r.size)));
            // The file, the FIFO refused, or nothing at that moment.
            if (got != "regular" && got != "Invalid file type." && got != "No such file or directory")
                unexpected << got;
        }
        return unexpected;
    });
    const bool ended = many.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    stop = true;
    swapper.join();
    if (!ended) {
        release();
        many.wait();
        QFAIL("a read below the folder blocked on a FIFO");
    }
    QCOMPARE(many.get(), QStringList());
}

void TestFileWork::mimeForSuffix_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("mime");
    QTest::newRow("JPG") << "JPG"
                         << "image/jpeg";
    QTest::newRow("tiff is unknown") << "tiff"
                                     << "application/octet-stream";
    QTest::newRow("tif") << "tif"
                         << "image/tiff";
    QTest::newRow("empty") << ""
                           << "application/octet-stream";
    QTest::newRow("3gp") << "3gp"
                         << "video/3gpp";
    QTest::newRow("docx") << "DocX"
                          << "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
    QTest::newRow("apk") << "apk"
                         << "application/vnd.android.package-archive";
    QTest::newRow("qt") << "qt"
                        << "video/quicktime";
    QTest::newRow("wav") << "wav"
                         << "audio/x-wav";
}

void TestFileWork::mimeForSuffix()
{
    QFETCH(QString, suffix);
    QFETCH(QString, mime);
    QCOMPARE(QString::fromStdString(::mimeForSuffix(suffix.toStdString())), mime);
    QVERIFY(isImageMime("IMAGE/x") && isImageMime("image/png") && !isImageMime("video/image/") && !isImageMime(""));
}

void TestFileWork::addLocalPath()
{
    std::vector<TransferFile> files;
    const QString photo = writeFile("Photo.JPG", QByteArray(1234, 'j'));
    const QString raw = writeFile("scan.tiff", "t");
    QVERIFY(QDir(m_dir.path()).mkdir("album"));
    ::addLocalPath("t1", files, photo.toStdString(), "sub", "share-1");
    ::addLocalPath("t1", files, raw.toStdString(), "", "");
    ::addLocalPath("t1", files, m_dir.filePath("album").toStdString(), "", "");
    ::addLocalPath("t1", files, m_dir.filePath("missing").toStdString(), "", "");
    QCOMPARE(files.size(), size_t(3));

    const TransferFile &p = files[0];
    QCOMPARE(p.tid, std::string("t1"));
    QCOMPARE(p.uid.size(), size_t(36));
    QCOMPARE(p.uri, photo.toStdString());
    QCOMPARE(p.thumb, p.uri);
    QCOMPARE(p.mime, std::string("image/jpeg"));
    QCOMPARE(p.total, int64_t(1234));
    QCOMPARE(p.file_name, std::string("Photo.JPG"));
    QCOMPARE(p.root, std::string("sub"));
    QCOMPARE(p.shareid, std::string("share-1"));

    QCOMPARE(files[1].mime, std::string("application/octet-stream"));
    QVERIFY(files[1].thumb.empty());

    const TransferFile &d = files[2];
    QCOMPARE(d.mime, std::string("inode/directory"));
    QCOMPARE(d.file_name, std::string("album"));
    QCOMPARE(d.total, int64_t(0));
    QVERIFY(d.thumb.empty());
}

QTEST_GUILESS_MAIN(TestFileWork)
#include "tst_filework.moc"
