// tarvex-screenshots: renders interface scenes offscreen into PNG files, so that what a
// person would see can be looked at without a display, and so that CI notices a scene
// that no longer loads.
//
//   tarvex-screenshots --scenes <dir> --out <dir> [--size WxH]... [scene name]...
//
// Every *.qml file of the scene folder (or only the named ones) is loaded into a window
// of each size (default 430x780 and 360x640) and grabbed into <out>/<scene>-<W>x<H>.png.
// A scene is an item, shown in a window of its own, or a window (the interface's Main).
// "VpnManager" is a scripted stand-in whose state a scene sets. A scene with a
// `hoverAt` point has the pointer rest there before the picture is taken (hover looks,
// tooltips). A scene fails when it does not load, when it prints a warning, or when its
// picture is a single colour, unless its root names the warning in `expectedWarnings`
// (texts each such warning contains: a scene that shows a failure causes one on purpose).
// "SceneSupport" stands in for the vendor API. Every scene starts from empty settings, in
// a folder of this run, never the user's own. Exit code: 0 all scenes rendered, 1 a scene
// failed, 2 bad usage.

#include "cliententry.h"
#include "scenesupport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <memory>

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

namespace {

enum ExitCode { Ok = 0, Failed = 1, Usage = 2 };

// Time for animations that start with the scene (popups opening, layouts settling).
constexpr int settleMs = 300;
// Time for what a resting pointer brings up: tooltips appear after 450 ms.
constexpr int hoverMs = 800;

QStringList capturedWarnings;
QtMessageHandler defaultHandler = nullptr;

void captureWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        capturedWarnings.append(text);
    defaultHandler(type, context, text);
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool isSingleColour(const QImage &image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

QString errorText(const QList<QQmlError> &errors)
{
    QStringList lines;
    for (const QQmlError &error : errors)
        lines.append(error.toString());
    return lines.join(QStringLiteral("\n  "));
}

// The pointer moved to point and left there, as the window system would report it.
void restPointer(QQuickWindow *window, const QPointF &point)
{
    QMouseEvent move(QEvent::MouseMove, point, window->mapToGlobal(point), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    wait(hoverMs);
}

// Renders one scene at one size; returns the error, empty on success.
QString renderScene(const QString &scenePath, const QSize &size, const QString &outPath)
{
    capturedWarnings.clear();
    QSettings().clear();
    QQmlEngine engine;
    // Static modules live in the resources; 6.4 does not look there by itself.
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQmlComponent standIn(&engine,
                          QUrl::fromLocalFile(QStringLiteral(TARVEX_SCRIPTED_VPN_MANAGER)));
    QObject *vpnManager = standIn.create();
    if (!vpnManager)
        return QStringLiteral("has no VpnManager stand-in:\n  ") + errorText(standIn.errors());
    vpnManager->setParent(&engine);
    engine.rootContext()->setContextProperty(QStringLiteral("VpnManager"), vpnManager);
    engine.rootContext()->setContextProperty(QStringLiteral("SceneSupport"),
                                             new SceneSupport(&engine));

    // An item scene goes into this window; destroyed after the scene.
    std::unique_ptr<QQuickWindow> host;
    QQmlComponent component(&engine, QUrl::fromLocalFile(scenePath));
    std::unique_ptr<QObject> scene(component.create());
    if (!scene)
        return QStringLiteral("does not load:\n  ") + errorText(component.errors());
    auto *window = qobject_cast<QQuickWindow *>(scene.get());
    if (!window) {
        auto *item = qobject_cast<QQuickItem *>(scene.get());
        if (!item)
            return QStringLiteral("is neither an item nor a window");
        host = std::make_unique<QQuickWindow>();
        item->setParentItem(host->contentItem());
        item->setSize(size);
        window = host.get();
    }
    window->resize(size);
    window->show();
    wait(settleMs);
    const QVariant hoverAt = scene->property("hoverAt");
    if (hoverAt.canConvert<QPointF>() && !hoverAt.isNull())
        restPointer(window, hoverAt.toPointF());

    const QImage image = window->grabWindow();
    const QStringList expected = scene->property("expectedWarnings").toStringList();
    capturedWarnings.removeIf([&expected](const QString &warning) {
        return std::any_of(expected.cbegin(), expected.cend(),
                           [&warning](const QString &text) { return warning.contains(text); });
    });
    if (!capturedWarnings.isEmpty())
        return QStringLiteral("printed warnings:\n  ") +
               capturedWarnings.join(QStringLiteral("\n  "));
    if (image.isNull() || image.size() != size)
        return QStringLiteral("could not be grabbed");
    if (isSingleColour(image))
        return QStringLiteral("renders a blank picture");
    if (!image.save(outPath))
        return QStringLiteral("cannot write ") + outPath;
    return QString();
}

QSize parseSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    bool widthOk = false;
    bool heightOk = false;
    const QSize size(parts.value(0).toInt(&widthOk), parts.value(1).toInt(&heightOk));
    return parts.size() == 2 && widthOk && heightOk && !size.isEmpty() ? size : QSize();
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything reads where the settings are: scenes clear them.
    const QTemporaryDir settingsHome;
    if (!settingsHome.isValid())
        return Failed;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsHome.path()));
    QGuiApplication app(argc, argv);
    ClientEntry::setApplicationIdentity();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders interface scenes into PNG files."));
    parser.addHelpOption();
    const QCommandLineOption scenesOption(QStringLiteral("scenes"),
                                          QStringLiteral("Folder of the scene files."),
                                          QStringLiteral("dir"));
    const QCommandLineOption outOption(
        QStringLiteral("out"), QStringLiteral("Folder for the pictures."), QStringLiteral("dir"));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
                                        QStringLiteral("Window size WxH (repeatable)."),
                                        QStringLiteral("size"));
    parser.addOptions({scenesOption, outOption, sizeOption});
    parser.addPositionalArgument(QStringLiteral("scene"), QStringLiteral("Scene names to render."));
    parser.process(app);

    if (!parser.isSet(scenesOption) || !parser.isSet(outOption)) {
        err() << parser.helpText();
        return Usage;
    }
    QList<QSize> sizes;
    const QStringList sizeTexts = parser.isSet(sizeOption) ? parser.values(sizeOption)
                                                           : QStringList{QStringLiteral("430x780"),
                                                                         QStringLiteral("360x640")};
    for (const QString &text : sizeTexts) {
        const QSize size = parseSize(text);
        if (!size.isValid()) {
            err() << "tarvex-screenshots: bad size " << text << '\n';
            return Usage;
        }
        sizes.append(size);
    }

    const QDir sceneDir(parser.value(scenesOption));
    QStringList scenes = parser.positionalArguments();
    if (scenes.isEmpty()) {
        for (const QString &file :
             sceneDir.entryList({QStringLiteral("*.qml")}, QDir::Files, QDir::Name))
            scenes.append(QFileInfo(file).completeBaseName());
    }
    if (scenes.isEmpty()) {
        err() << "tarvex-screenshots: no scene in " << sceneDir.path() << '\n';
        return Usage;
    }
    const QDir outDir(parser.value(outOption));
    if (!outDir.mkpath(QStringLiteral("."))) {
        err() << "tarvex-screenshots: cannot create " << outDir.path() << '\n';
        return Usage;
    }

    defaultHandler = qInstallMessageHandler(captureWarnings);
    int failures = 0;
    int written = 0;
    QElapsedTimer timer;
    timer.start();
    for (const QString &scene : scenes) {
        for (const QSize &size : sizes) {
            const QString name =
                QStringLiteral("%1-%2x%3.png").arg(scene).arg(size.width()).arg(size.height());
            const QString error = renderScene(sceneDir.filePath(scene + QStringLiteral(".qml")),
                                              size, outDir.filePath(name));
            if (error.isEmpty()) {
                ++written;
                QTextStream(stdout) << outDir.filePath(name) << '\n';
            } else {
                ++failures;
                err() << "FAIL " << scene << ' ' << size.width() << 'x' << size.height() << ' '
                      << error << '\n';
                err().flush();
            }
        }
    }
    QTextStream(stdout) << written << " pictures written, " << failures << " failed in "
                        << timer.elapsed() << " ms\n";
    return failures ? Failed : Ok;
}
