// One program for the five macOS commands the daemon runs, and the control tool. The
// role comes from the name the program was started under.

#include "macsimulator.h"

#include <QFile>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    const MacSimulator::Run run =
        MacSimulator::run(QFile::decodeName(argv[0]), arguments,
                          qEnvironmentVariable("TARVEX_SIM_STATE"), MacSimulator::Hang::Sleep);

    const QByteArray standardOutput = run.standardOutput.toUtf8();
    const QByteArray standardError = run.standardError.toUtf8();
    std::fwrite(standardOutput.constData(), 1, size_t(standardOutput.size()), stdout);
    std::fwrite(standardError.constData(), 1, size_t(standardError.size()), stderr);
    std::fflush(nullptr);
    if (run.crashed) {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
    return run.exitCode;
}
