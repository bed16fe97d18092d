#include "platform/sbVolumeLabel.h"

#include <QFile>

#include <blkid/blkid.h>

namespace {
constexpr qsizetype MaxLabelLength = 256;
}

QString ReadVolumeLabel(const QString &Path)
{
    if (Path.isEmpty())
        return QString();
    const QByteArray NativePath = QFile::encodeName(Path);
    blkid_probe Probe = blkid_new_probe_from_filename(NativePath.constData());
    if (Probe == nullptr)
        return QString();
    blkid_probe_enable_superblocks(Probe, 1);
    blkid_probe_set_superblocks_flags(Probe, BLKID_SUBLKS_LABEL);
    QString Label;
    const char *Value = nullptr;
    if (blkid_do_safeprobe(Probe) == 0 &&
        blkid_probe_lookup_value(Probe, "LABEL", &Value, nullptr) == 0 && Value != nullptr)
        Label = QString::fromUtf8(Value).left(MaxLabelLength);
    blkid_free_probe(Probe);
    return Label;
}
