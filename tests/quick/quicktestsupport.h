#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

// Helpers the Qt Quick Test suites reach as the context property "TestSupport".
//
// While it exists, links the interface opens (Qt.openUrlExternally, which goes through
// QDesktopServices::openUrl) are recorded here instead of starting a browser.
class QuickTestSupport : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList openedUrls READ openedUrls NOTIFY openedUrlsChanged)

public:
    explicit QuickTestSupport(QObject *parent = nullptr);
    ~QuickTestSupport() override;

    QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE void clearOpenedUrls();

public slots:
    // The URL handler for every scheme the interface opens.
    void recordOpenedUrl(const QUrl &url);

signals:
    void openedUrlsChanged();

private:
    QStringList m_openedUrls;
};
