#pragma once

#include <QByteArray>
#include <QString>

// What every fuzz target shares: one QCoreApplication for the event loop, log lines that
// are formatted (so the code that writes them runs) but not printed, and a way to stop at
// the first broken promise so that libFuzzer keeps the input that broke it.
class FuzzEnvironment
{
public:
    FuzzEnvironment() = delete;

    // Idempotent; LLVMFuzzerInitialize (defined with it) calls it for every target.
    static void setUp();
    // A private folder for this process (sockets, files), removed at exit. The daemon's
    // socket path (TARVEX_SERVICE_SOCKET) lies inside it.
    static QString scratchDirectory();
    // Aborts with the message and detail when the condition is false.
    static void require(bool condition, const char *what, const QByteArray &detail = {});
    // Descriptors the process holds now: a leaked socket shows here.
    static int openDescriptors();
    // Runs the event loop until nothing is left to do, deferred deletions included.
    static void pump(int rounds = 3);
};
