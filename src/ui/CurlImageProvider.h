// The "curl" image provider of the screens: "image://curl/" followed by an
// HTTPS address shows the image found there (a peer's shared-file thumbnail),
// fetched and scaled on the application-wide thread pool.
#pragma once

#include <QQuickAsyncImageProvider>

class CurlImageProviderResponse;

class CurlImageProvider : public QQuickAsyncImageProvider {
public:
    // id is the whole address after "image://curl/". The engine owns the answer.
    QQuickImageResponse *requestImageResponse(const QString &id, const QSize &requestedSize) override;
};
