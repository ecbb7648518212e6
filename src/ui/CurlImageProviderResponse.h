// One image request of the "curl" provider: a plain GET of the address on a
// pool thread, decoded and scaled to fit the size the image asked for. Every
// failure (unreachable, not 200, not an image, too large, cancelled) gives a
// null image.
#pragma once

#include "client/CURLHelper2.h"

#include <QImage>
#include <QQuickImageResponse>
#include <QRunnable>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class CurlImageProviderResponse : public QQuickImageResponse, public QRunnable {
    Q_OBJECT
public:
    // A request with no answer: give up when connecting takes longer, or when
    // nothing arrives for the stall time.
    static constexpr long kConnectTimeoutSeconds = 5;
    static constexpr long kStallSeconds = 15;
    // Thumbnails are at most 256 x 256: a body beyond this many bytes ends
    // the transfer, and an image whose header announces more pixels than
    // this is not decoded (64 MB as 32-bit pixels).
    static constexpr size_t kMaxBodyBytes = 4 * 1024 * 1024;
    static constexpr qint64 kMaxPixels = 4096 * 4096;

    // Made by CurlImageProvider, which hands it to the application-wide pool.
    CurlImageProviderResponse(const QString &id, const QSize &requestedSize);
    // The engine may delete a cancelled answer while run() is still busy on the
    // pool: a queued run is taken back, a running one is aborted and waited for.
    ~CurlImageProviderResponse() override;

    QQuickTextureFactory *textureFactory() const override;
    // The image once finished() was emitted; null on any failure.
    QImage image() const;

    void run() override;

public slots:
    // Any thread: the transfer stops at its next chunk or progress tick.
    void cancel() override;

private:
    QString m_id;
    QSize m_requestedSize;
    QImage m_image;
    CURLHelper2 m_request;
    std::atomic<bool> m_cancelled{false};

    // Lets the destructor wait for run() to leave the object.
    std::mutex m_runMutex;
    std::condition_variable m_runEnded;
    bool m_ran = false;
    std::atomic<QThread *> m_runThread{nullptr};
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
};
