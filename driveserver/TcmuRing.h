#pragma once

// The layout of a TCMU ring as the kernel's <linux/target_core_user.h>
// declares it. That header cannot be included from C++: its tcmu_hdr_get_op()
// converts an integer to an enum. The structures are the header's, renamed.

#include <cstdint>

namespace blankora::driveserver {

constexpr uint16_t KFlagOutOfOrder = 1 << 0; // TCMU_MAILBOX_FLAG_CAP_OOOC
constexpr uint16_t KFlagReadLen = 1 << 1;    // TCMU_MAILBOX_FLAG_CAP_READ_LEN
constexpr uint8_t KUflagReadLen = 0x2;       // TCMU_UFLAG_READ_LEN
constexpr uint32_t KOpMask = 0x7;
constexpr uint32_t KOpPad = 0, KOpCmd = 1, KOpTmr = 2;
constexpr unsigned KSenseSize = 96; // TCMU_SENSE_BUFFERSIZE

struct __attribute__((packed)) Mailbox
{
    uint16_t version;
    uint16_t flags;
    uint32_t cmdrOff;
    uint32_t cmdrSize;
    uint32_t cmdHead;
    uint32_t cmdTail __attribute__((aligned(64))); // written by us, on its own cache line
};

struct __attribute__((packed)) EntryHeader
{
    uint32_t lenOp;
    uint16_t cmdId;
    uint8_t kflags;
    uint8_t uflags;
};

struct RingIovec
{
    uint64_t base; // offset into the map
    uint64_t length;
};

struct __attribute__((packed)) CommandEntry
{
    EntryHeader hdr;
    // The members' own structures are not packed: cdbOff and iov are 8-aligned.
    union {
        struct
        {
            uint32_t iovCnt;
            uint32_t iovBidiCnt;
            uint32_t iovDifCnt;
            uint64_t cdbOff;
            uint64_t pad1;
            uint64_t pad2;
            RingIovec iov[1];
        } req;
        struct
        {
            uint8_t scsiStatus;
            uint8_t pad1;
            uint16_t pad2;
            uint32_t readLen;
            uint8_t senseBuffer[KSenseSize];
        } rsp;
    };
};

struct __attribute__((packed)) TmrEntry
{
    EntryHeader hdr;
    uint8_t tmrType;
    uint8_t pad1;
    uint16_t pad2;
    uint32_t cmdCnt;
    uint64_t pad3;
    uint64_t pad4;
    uint16_t cmdIds[1];
};

inline uint32_t entryOp(uint32_t lenOp)
{
    return lenOp & KOpMask;
}
inline uint32_t entryLength(uint32_t lenOp)
{
    return lenOp & ~KOpMask;
}

static_assert(__builtin_offsetof(Mailbox, cmdTail) == 64, "mailbox layout");
static_assert(__builtin_offsetof(CommandEntry, req.iov) == 48, "command entry layout");
static_assert(__builtin_offsetof(TmrEntry, cmdIds) == 32, "TMR entry layout");
static_assert(__builtin_offsetof(CommandEntry, req.cdbOff) == 24, "command entry layout");
static_assert(__builtin_offsetof(CommandEntry, rsp.senseBuffer) == 16, "answer layout");

} // namespace blankora::driveserver
