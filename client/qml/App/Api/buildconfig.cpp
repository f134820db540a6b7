#include "buildconfig.h"

#include "tarvexconfig.h"

namespace {

QString environmentOr(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? fallback : value;
}

} // namespace

BuildConfig::BuildConfig(QObject *parent)
    : QObject(parent)
    , apiUrl(
          environmentOr("TARVEX_API_URL", QStringLiteral("https://%1/api/v1").arg(vendorDomain())))
    , siteUrl(environmentOr("TARVEX_WEBSITE_URL", QStringLiteral("https://%1").arg(vendorDomain())))
{}

QString BuildConfig::vendorDomain() const
{
    return QString::fromLatin1(Tarvex::VendorDomain);
}
