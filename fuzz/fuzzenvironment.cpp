#include "fuzzenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Logging stays enabled, so SecretMasker and every log argument are computed as in the
// daemon; only the printing is skipped. A fatal message is a crash like any other.
void dropMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtFatalMsg)
        return;
    std::fprintf(stderr, "qFatal: %s\n", qPrintable(text));
    std::abort();
}

std::unique_ptr<QTemporaryDir> &scratch()
{
    static std::unique_ptr<QTemporaryDir> directory;
    return directory;
}

} // namespace

void FuzzEnvironment::setUp()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "tarvex-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv); // lives as long as the process
    QCoreApplication::setOrganizationDomain(QStringLiteral("api.tarvex.test"));
    qInstallMessageHandler(dropMessages);
    scratch() =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarvex-fuzz-XXXXXX"));
    require(scratch()->isValid(), "scratch directory");
    // Every server a target starts listens here.
    qputenv("TARVEX_SERVICE_SOCKET", scratch()->filePath(QStringLiteral("daemon.sock")).toUtf8());
    std::atexit([] { scratch().reset(); });
}

QString FuzzEnvironment::scratchDirectory()
{
    return scratch()->path();
}

void FuzzEnvironment::require(bool condition, const char *what, const QByteArray &detail)
{
    if (condition)
        return;
    std::fprintf(stderr, "\nbroken promise: %s\n", what);
    std::fwrite(detail.constData(), 1, size_t(detail.size()), stderr);
    std::fputc('\n', stderr);
    std::abort();
}

int FuzzEnvironment::openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

void FuzzEnvironment::pump(int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// libFuzzer calls this once before the first input, in every target.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnvironment::setUp();
    return 0;
}
