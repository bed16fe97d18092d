#include "platform/sbDesktopNotify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QVariantMap>

#include <vector>

namespace {
std::function<void(const TsbNotification &)> GHook;
std::vector<QDBusPendingCall> GPending;

// Longest wait for the service, also at the program's end.
constexpr int ServiceTimeoutMs = 3000;

// Whether a session bus can be reached without starting one: libdbus would
// otherwise try to launch a bus for an X display ("autolaunch").
bool HasSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}
} // namespace

TsbNotification EraseEndedNotification(TsbEraseOutcome Outcome, const QString &Drive,
                                       const QString &Detail)
{
    TsbNotification notification;
    switch (Outcome) {
    case eoSucceeded:
        notification.Summary = QCoreApplication::translate("DesktopNotify", "Disc erased");
        notification.Body =
            QCoreApplication::translate("DesktopNotify", "The disc in %1 has been erased.")
                .arg(Drive);
        break;
    case eoCancelled:
        notification.Summary = QCoreApplication::translate("DesktopNotify", "Erase cancelled");
        notification.Body =
            QCoreApplication::translate("DesktopNotify", "Erasing the disc in %1 was cancelled.")
                .arg(Drive);
        break;
    case eoFailed:
        notification.Summary = QCoreApplication::translate("DesktopNotify", "Erase failed");
        notification.Body =
            Detail.isEmpty()
                ? QCoreApplication::translate("DesktopNotify", "Erasing the disc in %1 failed.")
                      .arg(Drive)
                : QCoreApplication::translate("DesktopNotify", "Erasing the disc in %1 failed: %2")
                      .arg(Drive, Detail);
        notification.Urgent = true;
        break;
    }
    return notification;
}

void NotifyEraseEnded(TsbEraseOutcome Outcome, const QString &Drive, const QString &Detail)
{
    SendDesktopNotification(EraseEndedNotification(Outcome, Drive, Detail));
}

bool SendDesktopNotification(const TsbNotification &Notification)
{
    if (GHook) {
        GHook(Notification);
        return true;
    }
    if (!HasSessionBus())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral(BLANKORA_APP_ID));
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue<uchar>(Notification.Urgent ? 2 : 1));
    // The body may be read as markup.
    call << QCoreApplication::applicationName() << 0u << QStringLiteral("blankora")
         << Notification.Summary << Notification.Body.toHtmlEscaped() << QStringList() << hints
         << -1;
    std::erase_if(GPending, [](const QDBusPendingCall &Pending) { return Pending.isFinished(); });
    GPending.push_back(bus.asyncCall(call, ServiceTimeoutMs));
    return true;
}

void FinishDesktopNotifications()
{
    for (QDBusPendingCall &pending : GPending)
        pending.waitForFinished();
    GPending.clear();
}

void SetNotificationHook(std::function<void(const TsbNotification &)> Hook)
{
    GHook = std::move(Hook);
}
