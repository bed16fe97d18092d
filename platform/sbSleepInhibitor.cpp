#include "platform/sbSleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {
// logind answers at once; a bus that hangs must not hold up the erase for long.
constexpr int InhibitTimeoutMs = 5000;
} // namespace

QString TsbSleepInhibitor::Acquire(const QString &Why)
{
    if (Held())
        return QString();
    QDBusConnection Bus = QDBusConnection::systemBus();
    if (!Bus.isConnected())
        return QStringLiteral("no system bus: ") + Bus.lastError().message();
    QDBusMessage Call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    Call << QStringLiteral("sleep:shutdown:idle") << QStringLiteral("Blankora") << Why
         << QStringLiteral("block");
    const QDBusMessage Reply = Bus.call(Call, QDBus::Block, InhibitTimeoutMs);
    if (Reply.type() == QDBusMessage::ErrorMessage)
        return Reply.errorName() + QStringLiteral(": ") + Reply.errorMessage();
    const QVariant Lock = Reply.arguments().value(0);
    if (!Lock.canConvert<QDBusUnixFileDescriptor>() ||
        !Lock.value<QDBusUnixFileDescriptor>().isValid())
        return QStringLiteral("logind answered without a lock descriptor");
    FLock = Lock.value<QDBusUnixFileDescriptor>();
    return QString();
}

void TsbSleepInhibitor::Release()
{
    // The descriptor is shared; the last copy closes it, and this is the only one kept.
    FLock = QDBusUnixFileDescriptor();
}
