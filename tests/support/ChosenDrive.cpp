#include "support/ChosenDrive.h"

#include "framework/sbBurner.h"
#include "library/StarBurn.h"

void ShowChosenDrive(TsbBurner &Burner)
{
    char Vendor[STARBURN_NAME_BUFFER_SIZE] = {};
    char Product[STARBURN_NAME_BUFFER_SIZE] = {};
    char Revision[STARBURN_NAME_BUFFER_SIZE] = {};
    uint32_t BufferSize = 0;
    StarBurn_CdvdBurnerGrabber_GetDeviceInformation(Burner.FGrabber, Vendor, Product, Revision,
                                                    &BufferSize);
    Burner.FDriveVendor = QString::fromLatin1(Vendor).trimmed();
    Burner.FDriveProduct = QString::fromLatin1(Product).trimmed();
    Burner.FDriveRevision = QString::fromLatin1(Revision).trimmed();
    Burner.TakeDiscChangeReport();
    Burner.FDiscType = StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(Burner.FGrabber);
    StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(Burner.FGrabber, Burner.FExceptionText,
                                                sizeof(Burner.FExceptionText), &Burner.FSystemError,
                                                &Burner.FFailureInfo, &Burner.FDiscSpace.UsedBytes);
}
