#include "quicktestsupport.h"

#include <QDesktopServices>

namespace {
const char *const capturedSchemes[] = {"http", "https", "mailto"};
}

QuickTestSupport::QuickTestSupport(QObject *parent)
    : QObject(parent)
{
    for (const char *scheme : capturedSchemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "recordOpenedUrl");
}

QuickTestSupport::~QuickTestSupport()
{
    for (const char *scheme : capturedSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void QuickTestSupport::clearOpenedUrls()
{
    m_openedUrls.clear();
    emit openedUrlsChanged();
}

void QuickTestSupport::recordOpenedUrl(const QUrl &url)
{
    m_openedUrls.append(url.toString());
    emit openedUrlsChanged();
}
