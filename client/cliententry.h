#pragma once

class QQmlApplicationEngine;
class VpnManager;

// The steps of tarvex-client's main that decide where settings live and what the
// interface sees, kept out of main.cpp so tests can run exactly what the program runs.
class ClientEntry
{
public:
    ClientEntry() = delete;

    // Organisation and application name (and the vendor's domain): they place the
    // user settings, so everything that reads or writes them must agree.
    static void setApplicationIdentity();

    // Publishes the manager as "VpnManager" and ends the event loop with -1 when the
    // root component cannot be created. Call before loading anything.
    static void prepareEngine(QQmlApplicationEngine &engine, VpnManager *manager);

    // Loads the window, the module's Main, into a prepared engine.
    static void loadWindow(QQmlApplicationEngine &engine);
};
