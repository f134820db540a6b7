#include "cliententry.h"
#include "quicktestsupport.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest/quicktest.h>

// The runner of every Qt Quick Test suite: the client's QML modules are linked in,
// the program's identity is the client's (settings land where the client's do, under
// the test's own XDG_CONFIG_HOME), and each test file's engine sees TestSupport.
class QuickTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        ClientEntry::setApplicationIdentity();
        m_support = new QuickTestSupport(this);
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // Static QML modules live in the resources; 6.4 does not look there by itself.
        engine->addImportPath(QStringLiteral("qrc:/"));
        engine->rootContext()->setContextProperty(QStringLiteral("TestSupport"), m_support);
    }

private:
    QuickTestSupport *m_support = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(tarvex_quick, QuickTestSetup)

#include "quicktestmain.moc"
