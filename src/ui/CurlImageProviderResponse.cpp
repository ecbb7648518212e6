#include "CurlImageProviderResponse.h"

#include <QBuffer>
#include <QImageReader>
#include <QThread>
#include <QThreadPool>

#include <curl/curl.h>

#include <string>

namespace {

// The image in bytes, when its header announces no more than maxPixels.
QImage decoded(const std::string &bytes, qint64 maxPixels)
{
    QByteArray data = QByteArray::fromRawData(bytes.data(), int(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Read from the header, before anything is decoded.
    const QSize size = reader.size();
    if (size.isEmpty() || qint64(size.width()) * size.height() > maxPixels)
        return QImage();
    QImage image;
    return reader.read(&image) ? image : QImage();
}

// Fits the image inside size, keeping its aspect ratio. An image that asks for
// one side only is scaled to that side; one that asks for no size (the
// screens always give one) keeps the decoded size rather than showing nothing.
QImage fitted(const QImage &image, const QSize &size)
{
    if (size.width() > 0 && size.height() > 0)
        return image.scaled(size, Qt::KeepAspectRatio, Qt::FastTransformation);
    if (size.width() > 0)
        return image.scaledToWidth(size.width(), Qt::FastTransformation);
    if (size.height() > 0)
        return image.scaledToHeight(size.height(), Qt::FastTransformation);
    return image;
}

} // namespace

CurlImageProviderResponse::CurlImageProviderResponse(const QString &id, const QSize &requestedSize)
    : m_id(id), m_requestedSize(requestedSize)
{
    // The engine deletes the answer, never the pool.
    setAutoDelete(false);
    m_request.setStatusCode(-1);
}

CurlImageProviderResponse::~CurlImageProviderResponse()
{
    cancel();
    if (QThreadPool::globalInstance()->tryTake(this))
        return; // taken back before it started
    if (m_runThread == QThread::currentThread()) {
        // Deleted by a slot connected directly to finished(), inside run() on
        // the pool thread: run() must not touch the object afterwards.
        *m_alive = false;
        return;
    }
    // Running, or just taken from the queue (it then finds the cancel flag and
    // ends at once), or already ended.
    std::unique_lock<std::mutex> lock(m_runMutex);
    m_runEnded.wait(lock, [this] { return m_ran; });
}

QQuickTextureFactory *CurlImageProviderResponse::textureFactory() const
{
    return QQuickTextureFactory::textureFactoryForImage(m_image);
}

QImage CurlImageProviderResponse::image() const
{
    return m_image;
}

void CurlImageProviderResponse::cancel()
{
    m_cancelled = true;
    m_request.abort();
}

void CurlImageProviderResponse::run()
{
    m_runThread = QThread::currentThread();
    std::string body;
    bool ok = m_request.prepare(m_id.toStdString(), std::vector<std::string>());
    // prepare() clears the abort flag: a cancel that came before it must still count.
    if (m_cancelled)
        m_request.abort();
    if (ok && !m_cancelled) {
        CURL *h = m_request.handle();
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        // An announced length above the limit ends the request before the body.
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
        ok = m_request.perform([&body](const char *data, size_t size) {
            if (body.size() + size > kMaxBodyBytes)
                return size_t(0); // taking less than given ends the transfer
            body.append(data, size);
            return size;
        });
    } else {
        ok = false;
    }
    if (!ok) {
        m_request.setStatusCode(-1);
        body.clear();
    }
    if (m_request.statusCode() == 200) {
        const QImage image = decoded(body, kMaxPixels);
        if (!image.isNull())
            m_image = fitted(image, m_requestedSize);
    }

    const std::shared_ptr<std::atomic<bool>> alive = m_alive;
    emit finished();
    if (!*alive)
        return;
    m_runThread = nullptr;
    std::lock_guard<std::mutex> lock(m_runMutex);
    m_ran = true;
    m_runEnded.notify_all();
}
