#include "platform/sbUDisks.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");
// Long enough for the user to answer polkit's password dialog.
constexpr int UnmountTimeoutMs = 5 * 60 * 1000;

// UDisks2's object for a block device: its kernel name below block_devices,
// every character other than a letter or digit written as _xx.
QString BlockObjectPath(const QString &Node)
{
    const QString Canonical = QFileInfo(Node).canonicalFilePath();
    const QString Name = QFileInfo(Canonical.isEmpty() ? Node : Canonical).fileName();
    QString Path = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
    for (const char C : Name.toUtf8()) {
        const bool Plain =
            (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9');
        Path += Plain ? QString(QLatin1Char(C))
                      : QStringLiteral("_%1").arg(uint(static_cast<unsigned char>(C)), 2, 16,
                                                  QChar(u'0'));
    }
    return Path;
}

} // namespace

bool UDisksAvailable()
{
    QDBusConnection Bus = QDBusConnection::systemBus();
    if (!Bus.isConnected() || Bus.interface() == nullptr)
        return false;
    return Bus.interface()->isServiceRegistered(Service) ||
           Bus.interface()->activatableServiceNames().value().contains(Service);
}

QString UnmountWithUDisks(const QString &Node)
{
    QDBusConnection Bus = QDBusConnection::systemBus();
    if (!Bus.isConnected())
        return Bus.lastError().message();
    QDBusMessage Call = QDBusMessage::createMethodCall(
        Service, BlockObjectPath(Node), QStringLiteral("org.freedesktop.UDisks2.Filesystem"),
        QStringLiteral("Unmount"));
    Call << QVariantMap();
    Call.setInteractiveAuthorizationAllowed(true);
    // The window keeps painting while polkit asks.
    const QDBusMessage Reply = Bus.call(Call, QDBus::BlockWithGui, UnmountTimeoutMs);
    if (Reply.type() != QDBusMessage::ErrorMessage)
        return QString();
    return Reply.errorMessage().isEmpty() ? Reply.errorName() : Reply.errorMessage();
}
