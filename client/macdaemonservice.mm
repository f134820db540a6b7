#include "macdaemonservice.h"

#include "daemonversioncheck.h"
#include "macvpnserviceclientbackend.h"
#include "tarvexconfig.h"
#include "tarvexlogging.h"

#include <QFileInfo>
#include <QString>

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

namespace {

// Longer than the property list's ExitTimeOut, after which launchd kills the old daemon.
constexpr int64_t StopWaitSeconds = 90;

QString describe(NSError *error)
{
    return error ? QString::fromNSString(error.localizedDescription) : QString();
}

// Unregistering stops the running daemon with SIGTERM, so it takes a tunnel down and
// restores the network (its recovery journal stays for the next one). The completion
// handler runs once the process is gone; registering again before that fails.
bool unregisterAndWait(SMAppService *service)
{
    dispatch_semaphore_t stopped = dispatch_semaphore_create(0);
    __block NSError *failure = nil;
    [service unregisterWithCompletionHandler:^(NSError *error) {
      failure = error;
      dispatch_semaphore_signal(stopped);
    }];
    const dispatch_time_t deadline =
        dispatch_time(DISPATCH_TIME_NOW, StopWaitSeconds * int64_t(NSEC_PER_SEC));
    if (dispatch_semaphore_wait(stopped, deadline) != 0) {
        qCWarning(lcTarvexClient) << "[MacDaemonService] old daemon did not stop in time";
        return false;
    }
    if (failure) {
        qCWarning(lcTarvexClient) << "[MacDaemonService] unregister failed" << describe(failure);
        return false;
    }
    return true;
}

void askForApproval()
{
    // A daemon runs only once an administrator allows it in System Settings > Login Items.
    qCWarning(lcTarvexClient) << "[MacDaemonService] waiting for approval in Login Items";
    [SMAppService openSystemSettingsLoginItems];
}

void registerService(SMAppService *service)
{
    NSError *error = nil;
    if ([service registerAndReturnError:&error])
        qCInfo(lcTarvexClient) << "[MacDaemonService] registered" << Tarvex::DaemonLabel;
    else
        qCWarning(lcTarvexClient) << "[MacDaemonService] register failed" << describe(error);
    if (service.status == SMAppServiceStatusRequiresApproval)
        askForApproval();
}

} // namespace

void MacDaemonService::ensureCurrent()
{
    if (!qEnvironmentVariableIsEmpty("TARVEX_SERVICE_SOCKET"))
        return;
    const QString packagePlist =
        QStringLiteral("/Library/LaunchDaemons/%1.plist").arg(QLatin1String(Tarvex::DaemonLabel));
    if (QFileInfo::exists(packagePlist)) {
        qCInfo(lcTarvexClient) << "[MacDaemonService] installed by the package" << packagePlist;
        return;
    }

    const MacVpnServiceClientBackend daemon;
    const DaemonVersionCheck::Verdict verdict =
        DaemonVersionCheck::check(daemon, QString::fromLatin1(Tarvex::Version));
    @autoreleasepool {
        NSString *plistName = [NSString stringWithFormat:@"%s.plist", Tarvex::DaemonLabel];
        SMAppService *service = [SMAppService daemonServiceWithPlistName:plistName];
        switch (service.status) {
        case SMAppServiceStatusNotRegistered:
        case SMAppServiceStatusNotFound:
            registerService(service);
            break;
        case SMAppServiceStatusRequiresApproval:
            askForApproval();
            break;
        case SMAppServiceStatusEnabled:
            if (verdict == DaemonVersionCheck::Verdict::Outdated && unregisterAndWait(service)) {
                qCInfo(lcTarvexClient) << "[MacDaemonService] stopped an older daemon";
                registerService(service);
            }
            break;
        }
    }
}
