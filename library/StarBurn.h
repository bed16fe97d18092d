#pragma once

/*
 * StarBurn: the burning library's C function interface.
 *
 * Every device operation of the wizard goes through these functions. They
 * are implemented over the MMC command layer (library/mmc), which talks to a
 * real drive through SG_IO or to the virtual drive bay (selected by the
 * environment variable BLANKORA_VIRTUAL_DRIVES).
 *
 * Error block: the functions marked (E) take, right after the device handle,
 * a text buffer of STARBURN_EXCEPTION_TEXT_SIZE bytes, its size, a pointer to
 * a 32-bit system status and a pointer to a CDB failure block. They return an
 * exception number: EN_SUCCESS (0) or a failure, in which case the buffer
 * holds a NUL-terminated text that says what went wrong ("MEDIUM NOT
 * PRESENT", "Permission denied: /dev/sr0 ...").
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STARBURN_VERSION 0x20080820u
#define STARBURN_EXCEPTION_TEXT_SIZE 1024
/* Size of every text output that the interface fills without a size argument
 * (device information texts, device names). */
#define STARBURN_NAME_BUFFER_SIZE 1024
/* SCSI peripheral device type of CD/DVD/BD devices, for StarBurn_FindDevice. */
#define STARBURN_DEVICE_TYPE_CDROM 5
/* Read or write speed argument meaning "the drive's maximum" (KB/s fields). */
#define STARBURN_SPEED_MAX 65535u

typedef uint8_t EXCEPTION_NUMBER;

/* Exception numbers. */
enum
{
    EN_SUCCESS = 0,
    EN_INVALID_PARAMETER = 1,   /* a null pointer, a bad handle or a bad value */
    EN_NOT_STARTED = 2,         /* StarBurn_UpStartEx has not succeeded */
    EN_SCENARIO_ERROR = 3,      /* the virtual drive scenario cannot be read */
    EN_NO_DEVICE = 4,           /* no such device, or it vanished */
    EN_ACCESS_DENIED = 5,       /* the device node cannot be opened for lack of permission */
    EN_DEVICE_BUSY = 6,         /* the disc is mounted or the drive is in use */
    EN_SCSI_FAILURE = 7,        /* the drive answered a command with CHECK CONDITION */
    EN_TRANSPORT_FAILURE = 8,   /* the command did not reach the drive or timed out */
    EN_BAD_RESPONSE = 9,        /* the drive's answer was short or malformed */
    EN_NOT_SUPPORTED = 10,      /* the disc or drive does not allow the operation */
    EN_CANCELLED = 11,          /* StarBurn_CdvdBurnerGrabber_Cancel ended the call */
    EN_GENERIC_FAILURE = 12
};

/* Disc types (8 bits). */
typedef uint8_t DISC_TYPE;
enum
{
    DISC_TYPE_UNKNOWN = 0,
    DISC_TYPE_CDROM = 1,
    DISC_TYPE_CDR = 2,
    DISC_TYPE_CDRW = 3,
    DISC_TYPE_DVDROM = 4,
    DISC_TYPE_DVDR = 5,
    DISC_TYPE_DVDRAM = 6,
    DISC_TYPE_DVDRWRO = 7,
    DISC_TYPE_DVDRWSR = 8,
    DISC_TYPE_DVDPLUSRW = 9,
    DISC_TYPE_DDCDROM = 10,
    DISC_TYPE_DDCDR = 11,
    DISC_TYPE_DDCDRW = 12,
    DISC_TYPE_DVDPLUSR = 13,
    DISC_TYPE_NO_MEDIA = 14,
    DISC_TYPE_DVDPLUSR_DL = 15,
    DISC_TYPE_DVDR_DL = 16,
    DISC_TYPE_BDR = 17,
    DISC_TYPE_BDRE = 18,
    DISC_TYPE_HDDVDROM = 19,
    DISC_TYPE_HDDVDR = 20,
    DISC_TYPE_HDDVDRW = 21
};

/* Erase types for StarBurn_CdvdBurnerGrabber_Blank. */
typedef uint8_t ERASE_TYPE;
enum
{
    ERASE_TYPE_BLANK_DISC_FULL = 0,
    ERASE_TYPE_BLANK_DISC_FAST = 1
};

/* Callback reasons. */
enum
{
    CN_DEVICE_FOUND = 10,           /* special1: STARBURN_DEVICE_ADDRESS* or 0; special2: device name (char*) or 0 */
    CN_CDVD_READ_PROGRESS = 11,     /* as CN_CDVD_WRITE_PROGRESS */
    CN_CDVD_WRITE_PROGRESS = 12,    /* special1: uint64_t* total; special2: uint64_t* done */
    CN_CDVD_BUFFER_STATUS = 13      /* special1: uint32_t* buffer size; special2: uint32_t* free */
};

typedef void (*PCALLBACK)(uint8_t reason, void *context, void *special1, void *special2);

#pragma pack(push, 1)
/* SCSI address of a device as reported with CN_DEVICE_FOUND (5 bytes). */
typedef struct
{
    uint8_t IsValid;
    uint8_t PortID;   /* SCSI host */
    uint8_t BusID;    /* channel */
    uint8_t TargetID; /* target */
    uint8_t LUN;      /* lun */
} STARBURN_DEVICE_ADDRESS;

/* Details of the last failed command; callers pass it and never read it. */
typedef struct
{
    uint8_t Cdb[16];
    uint8_t CdbLength;
    uint8_t SenseKey;
    uint8_t Asc;
    uint8_t Ascq;
    uint8_t ScsiStatus;
    uint8_t Reserved[3];
} CDB_FAILURE_INFORMATION;

/* The three information records. Their byte layouts are documented with the
 * functions that fill them; callers treat them as opaque, except that the
 * first byte of the disc record is non-zero when the record was obtained. */
typedef struct
{
    uint8_t Bytes[33];
} STARBURN_DISC_INFORMATION;
typedef struct
{
    uint8_t Bytes[28];
} STARBURN_TRACK_INFORMATION;
typedef struct
{
    uint8_t Bytes[13838];
} STARBURN_TOC_INFORMATION;
#pragma pack(pop)

/* Session. */
uint32_t StarBurn_GetVersion(void);
EXCEPTION_NUMBER StarBurn_UpStartEx(void);
void StarBurn_DownShut(void);
/* Text of the last StarBurn_UpStartEx failure (which file and why), or "". */
const char *StarBurn_GetLastStartUpError(void);

/* Enumeration by SCSI address: the callback gets CN_DEVICE_FOUND per device. */
EXCEPTION_NUMBER StarBurn_FindDevice(uint8_t deviceType, uint8_t reserved, PCALLBACK callback,
                                     void *context);
/* "\\.\" followed by the device node of the device at this address. */
EXCEPTION_NUMBER StarBurn_GetDeviceNameByDeviceAddress(uint8_t portId, uint8_t busId,
                                                       uint8_t targetId, uint8_t lun,
                                                       char *deviceName /* NAME_BUFFER_SIZE */);
/* "\\.\" followed by the device node of the device with this system name (CdRomN). */
EXCEPTION_NUMBER StarBurn_GetDeviceNameBySystemName(const char *systemName,
                                                    char *deviceName /* NAME_BUFFER_SIZE */);
void StarBurn_SetFastReadTOC(uint8_t fast);

/* Device object ("grabber"). */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Create(void **handle, char *exceptionText,
                                                   uint32_t exceptionTextSize,
                                                   uint32_t *systemError,
                                                   CDB_FAILURE_INFORMATION *failureInfo,
                                                   PCALLBACK callback, void *context,
                                                   uint8_t portId, uint8_t busId,
                                                   uint8_t targetId, uint8_t lun,
                                                   uint32_t cacheSize);
/* By name: a system name "CdRomN" or a device path ("/dev/sr0", "\\.\/dev/sr0"). */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_CreateEx(void **handle, char *exceptionText,
                                                     uint32_t exceptionTextSize,
                                                     uint32_t *systemError,
                                                     CDB_FAILURE_INFORMATION *failureInfo,
                                                     PCALLBACK callback, void *context,
                                                     const char *deviceName, uint32_t cacheSize);
void StarBurn_Destroy(void **handle);

/* The (E) error block parameters, in this order after the handle. */
#define STARBURN_ERROR_BLOCK                                                                     \
    char *exceptionText, uint32_t exceptionTextSize, uint32_t *systemError,                     \
        CDB_FAILURE_INFORMATION *failureInfo

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_TestUnitReady(void *handle, STARBURN_ERROR_BLOCK);
DISC_TYPE StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(void *handle);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSpeeds(void *handle, STARBURN_ERROR_BLOCK,
                                                      uint32_t *currentReadSpeed,
                                                      uint32_t *maximumReadSpeed,
                                                      uint32_t *currentWriteSpeed,
                                                      uint32_t *maximumWriteSpeed);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_SetSpeeds(void *handle, STARBURN_ERROR_BLOCK,
                                                      uint32_t readSpeed, uint32_t writeSpeed);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Lock(void *handle, STARBURN_ERROR_BLOCK);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Release(void *handle, STARBURN_ERROR_BLOCK);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Blank(void *handle, STARBURN_ERROR_BLOCK,
                                                  ERASE_TYPE eraseType);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Eject(void *handle, STARBURN_ERROR_BLOCK);
void StarBurn_CdvdBurnerGrabber_Cancel(void *handle);

/* Queries of the device scan and the device page. Text outputs are
 * STARBURN_NAME_BUFFER_SIZE bytes. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDeviceInformation(void *handle, char *vendor,
                                                                 char *product, char *revision,
                                                                 uint32_t *bufferSize);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(
    void *handle, uint8_t *flag1, uint8_t *flag2, uint8_t *flag3, uint8_t *flag4,
    uint8_t *flag5, uint8_t *flag6, uint8_t *flag7, uint8_t *flag8, uint8_t *flag9,
    uint8_t *flag10);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(
    void *handle, uint8_t *flag1, uint8_t *flag2, uint8_t *flag3, uint8_t *flag4,
    uint8_t *flag5, uint8_t *flag6);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(
    void *handle, STARBURN_ERROR_BLOCK, uint8_t *mode1, uint8_t *mode2, uint8_t *mode3,
    uint8_t *mode4);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_ProbeSupportedReadModes(
    void *handle, STARBURN_ERROR_BLOCK, uint8_t *mode1, uint8_t *mode2, uint8_t *mode3,
    uint8_t *mode4, uint8_t *mode5, uint8_t *mode6);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscInformation(
    void *handle, STARBURN_ERROR_BLOCK, STARBURN_DISC_INFORMATION *discInformation);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetTrackInformation(
    void *handle, STARBURN_ERROR_BLOCK, uint32_t trackNumber,
    STARBURN_TRACK_INFORMATION *trackInformation);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetTOCInformation(
    void *handle, STARBURN_ERROR_BLOCK, STARBURN_TOC_INFORMATION *tocInformation);
/* Region playback control: each output receives one byte. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetRPC(void *handle, STARBURN_ERROR_BLOCK,
                                                   uint8_t *typeCode, uint8_t *vendorResets,
                                                   uint8_t *userChanges, uint8_t *regionMask,
                                                   uint8_t *rpcScheme);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(void *handle, uint32_t kind,
                                                             uint32_t *extra,
                                                             uint64_t *freeBytes);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(void *handle, STARBURN_ERROR_BLOCK,
                                                             uint64_t *usedBytes);

#ifdef __cplusplus
}
#endif
