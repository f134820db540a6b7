#pragma once

class PlatformVpnBackend;
class QObject;

// The one place that decides which tunnel backend the client talks to.
class PlatformVpnBackendFactory
{
public:
    PlatformVpnBackendFactory() = delete;

    // A new backend owned through parent (or by the caller when parent is null).
    // Callers treat null as "no backend on this platform".
    static PlatformVpnBackend *create(QObject *parent);
};
