#include "framework/sbTypes.h"

#include <QCoreApplication>

TsbDeviceAddress TsbDeviceAddress::FromLibrary(const STARBURN_DEVICE_ADDRESS &Address)
{
    return TsbDeviceAddress{Address.IsValid, Address.PortID, Address.BusID, Address.TargetID,
                            Address.LUN};
}

STARBURN_DEVICE_ADDRESS TsbDeviceAddress::ToLibrary() const
{
    return STARBURN_DEVICE_ADDRESS{IsValid, PortID, BusID, TargetID, LUN};
}

bool TsbDeviceAddress::operator==(const TsbDeviceAddress &Other) const
{
    return IsValid != 0 && Other.IsValid != 0 && PortID == Other.PortID && BusID == Other.BusID &&
           TargetID == Other.TargetID && LUN == Other.LUN;
}

QString GetDiscTypeName(DISC_TYPE DiscType)
{
    switch (DiscType) {
    case DISC_TYPE_UNKNOWN:
        return QCoreApplication::translate("DiscType", "Unknown");
    case DISC_TYPE_CDROM:
        return QCoreApplication::translate("DiscType", "CD-ROM");
    case DISC_TYPE_CDR:
        return QCoreApplication::translate("DiscType", "CD-R");
    case DISC_TYPE_CDRW:
        return QCoreApplication::translate("DiscType", "CD-RW");
    case DISC_TYPE_DVDROM:
        return QCoreApplication::translate("DiscType", "DVD-ROM");
    case DISC_TYPE_DVDR:
        return QCoreApplication::translate("DiscType", "DVD-R");
    case DISC_TYPE_DVDRAM:
        return QCoreApplication::translate("DiscType", "DVD-RAM");
    case DISC_TYPE_DVDRWRO:
        return QCoreApplication::translate("DiscType", "DVD-RW RO (Restricted Overwrite)");
    case DISC_TYPE_DVDRWSR:
        return QCoreApplication::translate("DiscType", "DVD-RW SR (Sequential Recording)");
    case DISC_TYPE_DVDPLUSRW:
        return QCoreApplication::translate("DiscType", "DVD+RW");
    case DISC_TYPE_DDCDROM:
        return QCoreApplication::translate("DiscType", "DD (Double Density) CD-ROM");
    case DISC_TYPE_DDCDR:
        return QCoreApplication::translate("DiscType", "DD (Double Density) CD-R");
    case DISC_TYPE_DDCDRW:
        return QCoreApplication::translate("DiscType", "DD (Double Density) CD-RW");
    case DISC_TYPE_DVDPLUSR:
        return QCoreApplication::translate("DiscType", "DVD+R");
    case DISC_TYPE_BDR:
        return QCoreApplication::translate("DiscType", "BD-R");
    case DISC_TYPE_BDRE:
        return QCoreApplication::translate("DiscType", "BD-RE");
    case DISC_TYPE_NO_MEDIA:
        return QCoreApplication::translate("DiscType", "Empty");
    default:
        return QString();
    }
}

bool IsErasableDiscType(DISC_TYPE DiscType)
{
    switch (DiscType) {
    case DISC_TYPE_CDRW:
    case DISC_TYPE_DVDRAM:
    case DISC_TYPE_DVDRWRO:
    case DISC_TYPE_DVDRWSR:
    case DISC_TYPE_DVDPLUSRW:
    case DISC_TYPE_DDCDRW:
    case DISC_TYPE_BDRE:
        return true;
    default:
        return false;
    }
}

bool IsDVDDiscType(DISC_TYPE DiscType)
{
    switch (DiscType) {
    case DISC_TYPE_DVDROM:
    case DISC_TYPE_DVDR:
    case DISC_TYPE_DVDRAM:
    case DISC_TYPE_DVDRWRO:
    case DISC_TYPE_DVDRWSR:
    case DISC_TYPE_DVDPLUSRW:
    case DISC_TYPE_DVDPLUSR:
    case DISC_TYPE_DVDPLUSR_DL:
        return true;
    default:
        return false;
    }
}

bool IsBDDiscType(DISC_TYPE DiscType)
{
    return DiscType == DISC_TYPE_BDR || DiscType == DISC_TYPE_BDRE;
}
