// The owner-side file work behind the routes: chunks, thumbnails, content
// types and file records of local paths.
#include "server/FileWork.h"

#include <QImageReader>
#include <QtTest>

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
