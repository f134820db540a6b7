// tarvex-screenshots: renders interface scenes offscreen into PNG files, so that what a
// person would see can be looked at without a display, and so that CI notices a scene
// that no longer loads.
//
//   tarvex-screenshots --scenes <dir> --out <dir> [--size WxH]... [scene name]...
//
// Every *.qml file of the scene folder (or only the named ones) is loaded into a window
// of each size (default 430x780 and 360x640) and grabbed into <out>/<scene>-<W>x<H>.png.
// A scene fails when it does not load, when it prints a warning, or when its picture is
// a single colour. Exit code: 0 all scenes rendered, 1 a scene failed, 2 bad usage.

#include "cliententry.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QQmlError>
#include <QQuickView>
#include <QSize>
#include <QTextStream>
#include <QTimer>

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

namespace {

enum ExitCode { Ok = 0, Failed = 1, Usage = 2 };

// Time for animations that start with the scene (popups opening, layouts settling).
constexpr int settleMs = 300;

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

// Renders one scene at one size; returns the error, empty on success.
QString renderScene(const QString &scenePath, const QSize &size, const QString &outPath)
{
    capturedWarnings.clear();
    QQuickView view;
    view.engine()->addImportPath(QStringLiteral("qrc:/"));
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.resize(size);
    view.setSource(QUrl::fromLocalFile(scenePath));
    if (view.status() != QQuickView::Ready) {
        QStringList errors;
        for (const QQmlError &error : view.errors())
            errors.append(error.toString());
        return QStringLiteral("does not load:\n  ") + errors.join(QStringLiteral("\n  "));
    }
    view.show();
    wait(settleMs);

    const QImage image = view.grabWindow();
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
