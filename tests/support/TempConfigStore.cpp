#include "TempConfigStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>

TempConfigStore::TempConfigStore()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, FFolder.path());
}

TempConfigStore::~TempConfigStore()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, SystemFolder());
}

void TempConfigStore::SetText(const QString &Name, const QString &Value)
{
    QSettings store(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Vantrel"),
                    QStringLiteral("Burner"));
    store.setValue(Name, Value);
    store.sync();
}

void TempConfigStore::WriteFile(const QByteArray &Contents)
{
    QDir(FFolder.path()).mkpath(QStringLiteral("Vantrel"));
    QFile file(FileName());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(Contents);
}

QString TempConfigStore::FileName() const
{
    return FFolder.filePath(QStringLiteral("Vantrel/Burner.conf"));
}

QString TempConfigStore::SystemFolder()
{
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    const QString first = dirs.section(u':', 0, 0);
    return first.isEmpty() ? QStringLiteral("/etc/xdg") : first;
}
