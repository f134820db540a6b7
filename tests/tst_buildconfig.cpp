#include "buildconfig.h"
#include "tarvexconfig.h"

#include <QTest>

// The URLs the interface starts with: the vendor's by default, the environment's when
// TARVEX_API_URL or TARVEX_WEBSITE_URL is set (the local vendor API, tests).
class TestBuildConfig : public QObject
{
    Q_OBJECT

private slots:
    void urlsComeFromTheEnvironmentOrTheDomain_data()
    {
        const QString domain = QString::fromLatin1(Tarvex::VendorDomain);
        QTest::addColumn<QByteArray>("apiVariable");
        QTest::addColumn<QByteArray>("websiteVariable");
        QTest::addColumn<QString>("api");
        QTest::addColumn<QString>("website");
        QTest::newRow("unset") << QByteArray() << QByteArray() << "https://" + domain + "/api/v1"
                               << "https://" + domain;
        QTest::newRow("blank") << QByteArray("  ") << QByteArray("")
                               << "https://" + domain + "/api/v1"
                               << "https://" + domain;
        QTest::newRow("set") << QByteArray(" http://127.0.0.1:8765/api/v1 ")
                             << QByteArray("http://127.0.0.1:8765")
                             << "http://127.0.0.1:8765/api/v1"
                             << "http://127.0.0.1:8765";
    }

    void urlsComeFromTheEnvironmentOrTheDomain()
    {
        QFETCH(QByteArray, apiVariable);
        QFETCH(QByteArray, websiteVariable);
        QFETCH(QString, api);
        QFETCH(QString, website);
        for (const auto &[name, value] : {std::pair{"TARVEX_API_URL", apiVariable},
                                          std::pair{"TARVEX_WEBSITE_URL", websiteVariable}}) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
        const BuildConfig config;
        QCOMPARE(config.apiBaseUrl(), api);
        QCOMPARE(config.websiteUrl(), website);
    }
};

QTEST_MAIN(TestBuildConfig)
#include "tst_buildconfig.moc"
