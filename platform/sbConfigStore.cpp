#include "platform/sbConfigStore.h"

#include <QSettings>
#include <QVariant>

#include <memory>

namespace {
std::unique_ptr<QSettings> OpenStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::SystemScope,
                                       QStringLiteral("Vantrel"), QStringLiteral("Burner"));
}
} // namespace

QString ReadConfigText(const QString &Name)
{
    const QVariant value = OpenStore()->value(Name);
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return QString();
    return value.toString();
}

QString ConfigStoreFileName()
{
    return OpenStore()->fileName();
}
