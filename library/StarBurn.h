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
 * holds a NUL-terminated text that says what went wrong ("TEST UNIT READY:
 * There is no disc in the drive. [02/3A/00 Not Ready: Medium not present]",
 * "Permission denied: /dev/sr0 ...").
 *  - The text is cut to fit the given size and always NUL-terminated; nothing
 *    is written past the size. On success it is the empty text.
 *  - The text buffer (with a size above 0) and the status pointer are
 *    required; without them the call returns EN_INVALID_PARAMETER. The
 *    failure block may be null.
 *  - System status: 0 on success and for failures the library finds itself
 *    (bad parameter, refused disc); the OS error number (errno) when opening
 *    the device or passing the command failed (EACCES, EBUSY, ENODEV, ...);
 *    0x00KKAAQQ (sense key, ASC, ASCQ) when the drive answered CHECK
 *    CONDITION; 0x01000000 | status byte for another SCSI status;
 *    0x02000000 | host status << 8 | driver status for a transport error.
 *  - The failure block receives the CDB of the failed command, its sense
 *    triple and SCSI status, or zeros. For Blank that is the command of the
 *    erase that failed (BLANK, FORMAT UNIT, WRITE(10), or the poll that
 *    reported the drive's failure).
 *
 * Every null output pointer and every handle that is not a live device
 * object gives EN_INVALID_PARAMETER; nothing crashes on bad input.
 *
 * Handles: StarBurn_CdvdBurnerGrabber_Create(Ex) returns an opaque handle of a
 * device object that holds the device open until StarBurn_Destroy. Handles
 * are never reused, so a destroyed handle stays invalid. A tray lock taken
 * through a handle is released when the handle is destroyed.
 *
 * Threads: every function may be called from any thread. Calls on one handle
 * are serialised command by command; StarBurn_CdvdBurnerGrabber_Cancel may be
 * called while StarBurn_CdvdBurnerGrabber_Blank runs on another thread. The
 * callback is called on the thread that made the library call.
 *
 * Speeds are in KB/s of 1000 bytes, as drives report them.
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
/* Units of the free-space output of StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace. */
#define STARBURN_FREE_SPACE_BLOCKS 1u    /* 2048-byte blocks */
#define STARBURN_FREE_SPACE_KILOBYTES 2u /* 1024-byte units */
#define STARBURN_FREE_SPACE_BYTES 3u     /* bytes */

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
 * functions that fill them; the first byte of each is non-zero when the
 * record was obtained. */
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
/* Opens the session: the machine's drives, or the virtual drive bay when
 * BLANKORA_VIRTUAL_DRIVES names a scenario file. A scenario that cannot be read
 * or parsed gives EN_SCENARIO_ERROR. A second call while open does nothing. */
EXCEPTION_NUMBER StarBurn_UpStartEx(void);
/* Closes the session; handles still open become invalid (a Blank running on
 * one of them is cancelled). */
void StarBurn_DownShut(void);
/* Text of the last StarBurn_UpStartEx failure (which file and why), or "".
 * The text stays valid until the calling thread calls this again. */
const char *StarBurn_GetLastStartUpError(void);

/* Enumeration by SCSI address: the callback gets CN_DEVICE_FOUND per device,
 * in SCSI address order, on the calling thread, with a STARBURN_DEVICE_ADDRESS*
 * (valid only during the callback) and the device's system name "CdRomN".
 * Only deviceType 5 finds devices (others find none); the second argument is
 * ignored. A null callback gives EN_INVALID_PARAMETER. */
EXCEPTION_NUMBER StarBurn_FindDevice(uint8_t deviceType, uint8_t reserved, PCALLBACK callback,
                                     void *context);
/* "\\.\" followed by the device node of the device at this address. */
EXCEPTION_NUMBER StarBurn_GetDeviceNameByDeviceAddress(uint8_t portId, uint8_t busId,
                                                       uint8_t targetId, uint8_t lun,
                                                       char *deviceName /* NAME_BUFFER_SIZE */);
/* "\\.\" followed by the device node of the device with this system name (CdRomN). */
EXCEPTION_NUMBER StarBurn_GetDeviceNameBySystemName(const char *systemName,
                                                    char *deviceName /* NAME_BUFFER_SIZE */);
/* Vendor and product of the device with this system name (CdRomN) as the
 * system lists it, without opening it (NAME_BUFFER_SIZE bytes each; "" where
 * not known): a device that refuses to be opened can still be named. */
EXCEPTION_NUMBER StarBurn_GetDeviceIdentityBySystemName(const char *systemName, char *vendor,
                                                        char *product);
/* Non-zero: GetTOCInformation reads only the track list; 0 (the default):
 * it also reads the full TOC for each track's session. */
void StarBurn_SetFastReadTOC(uint8_t fast);

/* Device object ("grabber"). The callback (may be null) receives
 * CN_CDVD_WRITE_PROGRESS during Blank. The cache size is ignored. A device
 * that cannot be opened gives EN_ACCESS_DENIED (status EACCES), EN_DEVICE_BUSY
 * or EN_NO_DEVICE, with a text that names the device and what to do. */
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

/* EN_SUCCESS when a disc is loaded and the drive is idle. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_TestUnitReady(void *handle, STARBURN_ERROR_BLOCK);
/* The loaded disc by its MMC current profile: 08h CDROM, 09h CDR, 0Ah CDRW,
 * 10h DVDROM, 11h DVDR, 12h DVDRAM, 13h DVDRWRO, 14h DVDRWSR, 15h/16h DVDR_DL,
 * 1Ah/2Ah DVDPLUSRW, 1Bh DVDPLUSR, 2Bh DVDPLUSR_DL, 20h DDCDROM, 21h DDCDR,
 * 22h DDCDRW, 41h/42h BDR, 43h BDRE, 50h HDDVDROM, 51h/58h HDDVDR, 53h/5Ah
 * HDDVDRW. No disc: DISC_TYPE_NO_MEDIA; anything else, or a bad handle:
 * DISC_TYPE_UNKNOWN. */
DISC_TYPE StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(void *handle);
/* Current and maximum read and write speeds (KB/s) from mode page 2Ah, the
 * maximum write speed refined by GET PERFORMANCE when the drive offers it.
 * A drive that reports no write speed gives 0 for both write speeds.
 * What does not change while the disc stays (GET PERFORMANCE, a speed
 * command the drive does not know) is asked once per disc: again after a
 * TestUnitReady, GetInsertedDiscType, Blank or Eject call on the handle or
 * an answer of the drive that tells of a disc change. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSpeeds(void *handle, STARBURN_ERROR_BLOCK,
                                                      uint32_t *currentReadSpeed,
                                                      uint32_t *maximumReadSpeed,
                                                      uint32_t *currentWriteSpeed,
                                                      uint32_t *maximumWriteSpeed);
/* Asks for read and write speeds in KB/s; 65535 (and 0) ask for the maximum.
 * The drive picks a speed it supports; GetSpeeds tells which. A drive that
 * takes no speed command (SET CD SPEED answered 05/20/00, as many DVD and BD
 * drives do) gives EN_NOT_SUPPORTED with its sense: it works at its own
 * speed. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_SetSpeeds(void *handle, STARBURN_ERROR_BLOCK,
                                                      uint32_t readSpeed, uint32_t writeSpeed);
/* Lock prevents and Release allows removing the disc. Eject fails while the
 * tray is locked. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Lock(void *handle, STARBURN_ERROR_BLOCK);
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Release(void *handle, STARBURN_ERROR_BLOCK);
/* Erases the disc and returns when done. CD-RW and DVD-RW are blanked
 * (minimal or full); DVD+RW, DVD-RAM and BD-RE lose their file system (fast)
 * or are formatted anew (full). Progress goes to the handle's callback as
 * CN_CDVD_WRITE_PROGRESS on the calling thread, ending with done == total.
 * Failures: EN_NOT_SUPPORTED for a disc that cannot be erased, EN_DEVICE_BUSY
 * while the disc is mounted (the text names the mount point) or another
 * Blank runs on the handle, EN_CANCELLED after Cancel, EN_SCSI_FAILURE when
 * the drive reports an error. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Blank(void *handle, STARBURN_ERROR_BLOCK,
                                                  ERASE_TYPE eraseType);
/* The mount point of the loaded disc (NAME_BUFFER_SIZE bytes), or "" when it
 * is not mounted. Blank refuses a mounted disc; this lets a caller say so
 * before it gets that far. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetMountPoint(void *handle, char *mountPoint);
/* Fails with EN_DEVICE_BUSY while a Blank runs on the handle. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Eject(void *handle, STARBURN_ERROR_BLOCK);
/* Makes a running Blank on this handle return EN_CANCELLED at its next poll
 * (the drive may finish the operation on its own). A cancel made before
 * Blank starts ends that Blank at once; Blank forgets it when it returns. */
void StarBurn_CdvdBurnerGrabber_Cancel(void *handle);

/* Queries of the device scan and the device page. Text outputs are
 * STARBURN_NAME_BUFFER_SIZE bytes. */
/* INQUIRY texts (trimmed) and the drive's buffer size in bytes. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDeviceInformation(void *handle, char *vendor,
                                                                 char *product, char *revision,
                                                                 uint32_t *bufferSize);
/* Ten flags (1 = yes) from the drive's profiles and features and page 2Ah:
 *  1 reads CD-R, 2 reads CD-RW, 3 reads DVD (a DVD drive: it has a region
 *  state), 4 reads DVD-R, 5 reads DVD-RAM, 6 can test-write (simulation),
 *  7 writes some recordable or rewritable medium, 8 writes CD-R, 9 writes
 *  CD-RW, 10 writes DVD-R/-RW. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(
    void *handle, uint8_t *flag1, uint8_t *flag2, uint8_t *flag3, uint8_t *flag4,
    uint8_t *flag5, uint8_t *flag6, uint8_t *flag7, uint8_t *flag8, uint8_t *flag9,
    uint8_t *flag10);
/* Six flags: 1 writes DVD+RW, 2 writes DVD+R, 3 writes DVD+R DL, 4 writes
 * DVD-RAM, 5 reads BD, 6 writes BD. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(
    void *handle, uint8_t *flag1, uint8_t *flag2, uint8_t *flag3, uint8_t *flag4,
    uint8_t *flag5, uint8_t *flag6);
/* Four CD write modes: 1 track at once, 2 session at once, 3 raw,
 * 4 packet (incremental). Outputs are left alone when the call fails. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(
    void *handle, STARBURN_ERROR_BLOCK, uint8_t *mode1, uint8_t *mode2, uint8_t *mode3,
    uint8_t *mode4);
/* Six read modes: 1 reads CD, 2 reads CD-DA accurately, 3 reports C2 error
 * pointers, 4 reads CD-Text, 5 reads DVD, 6 reads BD. Outputs are left alone
 * when the call fails. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_ProbeSupportedReadModes(
    void *handle, STARBURN_ERROR_BLOCK, uint8_t *mode1, uint8_t *mode2, uint8_t *mode3,
    uint8_t *mode4, uint8_t *mode5, uint8_t *mode6);
/* Disc record (33 bytes, multi-byte fields big-endian; all zero on failure):
 *  0 1 (obtained)          1 disc status (0 blank, 1 appendable, 2 complete,
 *  3 random access)        2 state of the last session
 *  3 erasable (0/1)        4 DISC_TYPE       5-6 current MMC profile
 *  7 first track           8-9 sessions      10-11 first track of last session
 *  12-13 last track of last session          14 background format status
 *  15 disc type byte (CD: 00h, 10h, 20h)     16 unrestricted use (0/1)
 *  17-19 zero              20-23 last session lead-in start (LBA)
 *  24-27 last possible lead-out start (LBA)  28-32 zero */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscInformation(
    void *handle, STARBURN_ERROR_BLOCK, STARBURN_DISC_INFORMATION *discInformation);
/* Track record (28 bytes, big-endian; all zero on failure) of a track number
 * (255 = the incomplete track of CD and DVD+R): 0 1 (obtained), 1-2 track,
 * 3-4 session, 5 track mode, 6 data mode, 7 flags (b0 blank, b1 packet, b2
 * fixed packet, b3 damage, b4 next writable address valid, b5 last recorded
 * address valid, b6 reserved, b7 copy), 8-11 start address, 12-15 next
 * writable address, 16-19 free blocks, 20-23 track size, 24-27 last recorded
 * address. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetTrackInformation(
    void *handle, STARBURN_ERROR_BLOCK, uint32_t trackNumber,
    STARBURN_TRACK_INFORMATION *trackInformation);
/* TOC record (13838 bytes; all zero on failure): 0 1 (obtained), 1 first
 * track, 2 last track, 3 number of entries, then from byte 4 one 8-byte entry
 * per track and one for the lead-out (track AAh): track, ADR/CONTROL, session
 * (0 when read fast), 0, start LBA (big-endian). Blank discs have no TOC. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetTOCInformation(
    void *handle, STARBURN_ERROR_BLOCK, STARBURN_TOC_INFORMATION *tocInformation);
/* Region playback control of a DVD drive: each output receives one byte:
 * type code (0 no region set, 1 set, 2 last change left, 3 permanent), vendor
 * resets left, user changes left, region mask (a 1 bit = region not
 * playable), RPC scheme (0 RPC-I, 1 RPC Phase II). CD-only drives fail. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetRPC(void *handle, STARBURN_ERROR_BLOCK,
                                                   uint8_t *typeCode, uint8_t *vendorResets,
                                                   uint8_t *userChanges, uint8_t *regionMask,
                                                   uint8_t *rpcScheme);
/* Free space of the loaded disc in the unit `kind` (STARBURN_FREE_SPACE_*:
 * 1 blocks, 2 KiB, 3 bytes); `extra` receives the free 2048-byte blocks. A
 * blank disc is all free; overwritable discs (DVD+RW, DVD-RAM, BD-RE) count
 * as all free. Other kinds give EN_INVALID_PARAMETER. */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(void *handle, uint32_t kind,
                                                             uint32_t *extra,
                                                             uint64_t *freeBytes);
/* Recorded bytes of the loaded disc (0 for a blank disc). */
EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(void *handle, STARBURN_ERROR_BLOCK,
                                                             uint64_t *usedBytes);

#ifdef __cplusplus
}
#endif
