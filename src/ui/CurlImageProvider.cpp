#include "CurlImageProvider.h"

#include "CurlImageProviderResponse.h"

#include <QThreadPool>

QQuickImageResponse *CurlImageProvider::requestImageResponse(const QString &id, const QSize &requestedSize)
{
    auto *response = new CurlImageProviderResponse(id, requestedSize);
    QThreadPool::globalInstance()->start(response, 0);
    return response;
}
