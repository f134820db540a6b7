#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// What the interface needs to know about the build that QML cannot find out itself:
// the vendor's domain and the URLs on it. TARVEX_API_URL and TARVEX_WEBSITE_URL, read
// once when the singleton is created, replace the URLs (the local vendor API, tests).
class BuildConfig : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString vendorDomain READ vendorDomain CONSTANT)
    Q_PROPERTY(QString apiBaseUrl READ apiBaseUrl CONSTANT)
    Q_PROPERTY(QString websiteUrl READ websiteUrl CONSTANT)

public:
    explicit BuildConfig(QObject *parent = nullptr);

    QString vendorDomain() const;
    // TARVEX_API_URL, else https://<domain>/api/v1.
    QString apiBaseUrl() const { return apiUrl; }
    // TARVEX_WEBSITE_URL, else https://<domain>.
    QString websiteUrl() const { return siteUrl; }

private:
    QString apiUrl;
    QString siteUrl;
};
