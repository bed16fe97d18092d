#pragma once

// Shared by the files that make up VirtualDrive: byte helpers, the medium
// classes and the records of a running job and of a reply.

#include "library/virtual/VirtualDrive.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace blankora::virtualbay {

inline constexpr size_t KBlock = 2048;

inline constexpr Sense KNoMediumClosed{0x02, 0x3A, 0x01};
inline constexpr Sense KNoMediumOpen{0x02, 0x3A, 0x02};
inline constexpr Sense KInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr Sense KInvalidField{0x05, 0x24, 0x00};
inline constexpr Sense KInvalidParameter{0x05, 0x26, 0x00};
inline constexpr Sense KParameterLength{0x05, 0x1A, 0x00};
inline constexpr Sense KOutOfRange{0x05, 0x21, 0x00};
inline constexpr Sense KInvalidAddress{0x05, 0x21, 0x02};
inline constexpr Sense KRemovalPrevented{0x05, 0x53, 0x02};
inline constexpr Sense KWriteProtected{0x07, 0x27, 0x00};
inline constexpr Sense KMediumChanged{0x06, 0x28, 0x00};
inline constexpr Sense KNotReady{0x02, 0x04, 0x00};
inline constexpr Sense KBecomingReady{0x02, 0x04, 0x01};
inline constexpr Sense KSequenceError{0x05, 0x2C, 0x00};
inline constexpr Sense KIllegalMode{0x05, 0x64, 0x00};

inline uint16_t be16(std::span<const uint8_t> bytes, size_t at)
{
    return uint16_t(bytes[at] << 8 | bytes[at + 1]);
}

inline uint32_t be32(std::span<const uint8_t> bytes, size_t at)
{
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
           uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

inline void put16(std::vector<uint8_t> &out, size_t at, unsigned value)
{
    out[at] = uint8_t(value >> 8);
    out[at + 1] = uint8_t(value);
}

inline void put24(std::vector<uint8_t> &out, size_t at, uint32_t value)
{
    out[at] = uint8_t(value >> 16);
    out[at + 1] = uint8_t(value >> 8);
    out[at + 2] = uint8_t(value);
}

inline void put32(std::vector<uint8_t> &out, size_t at, uint32_t value)
{
    put16(out, at, value >> 16);
    put16(out, at + 2, value & 0xFFFF);
}

// CD addresses as minutes/seconds/frames, with the 2-second pre-gap.
inline void putMsf(std::vector<uint8_t> &out, size_t at, uint32_t lba)
{
    const uint32_t frames = lba + 150;
    out[at] = uint8_t(frames / 4500);
    out[at + 1] = uint8_t(frames / 75 % 60);
    out[at + 2] = uint8_t(frames % 75);
}

inline bool isCd(uint16_t profile)
{
    return (profile >= 0x08 && profile <= 0x0A) || (profile >= 0x20 && profile <= 0x22);
}

inline bool isDvd(uint16_t profile)
{
    return profile >= 0x10 && profile <= 0x2B && !isCd(profile);
}

inline bool isBd(uint16_t profile)
{
    return profile >= 0x40 && profile <= 0x43;
}

inline bool isOverwritable(uint16_t profile)
{
    return profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x2A ||
           profile == 0x43;
}

// Written track by track at the next writable address: CD-R/RW, DVD-R/RW
// Sequential Recording.
inline bool isSequential(uint16_t profile)
{
    return profile == 0x09 || profile == 0x0A || profile == 0x11 || profile == 0x14;
}

inline bool isBlankable(uint16_t profile)
{
    return profile == 0x0A || profile == 0x22 || profile == 0x13 || profile == 0x14;
}

transport::ScsiResult osError(int error);
bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes);

// A track as READ TRACK INFORMATION describes it. On sequential media the
// last one may be incomplete (written, not closed) or invisible (blank).
struct VirtualDrive::Track
{
    uint32_t start = 0;
    uint32_t size = 0;     // blocks written
    uint32_t reserved = 0; // RESERVE TRACK's size; 0 without a reservation
    unsigned session = 1;
    bool closed = true;
    bool blank = false;
    uint32_t free = 0; // an open track: the blocks it can still take

    uint32_t end() const { return start + std::max(size, reserved); }
};

// A long operation the drive is busy with.
struct VirtualDrive::Job
{
    enum Kind
    {
        Blank,
        Format,
        BackgroundStart, // foreground phase of a DVD+RW background format
        CloseSession,    // lead-out after a stopped or running background format
        FinishFormat     // finalizing: the background format runs to its end
    } kind = Blank;
    bool full = false;
    bool immediate = false;
    uint8_t formatType = 0;
    uint32_t blocks = 0;
    double start = 0;
    double duration = 0;
    double progressFrom = 0; // progress already reached when the job started
    double failAt = -1;
    Sense failSense;

    double end() const { return start + duration; }
    uint8_t busyAscq() const { return kind == Blank || kind == CloseSession ? 0x07 : 0x04; }
    bool erases() const { return kind == Blank || kind == Format || kind == BackgroundStart; }
};

struct VirtualDrive::Reply
{
    enum Kind
    {
        Good,
        Check,
        Os,
        Timeout,
        Link
    } kind = Good;
    Sense sense;
    bool deferred = false; // belongs to an earlier Immed command
    bool sksv = false;
    uint16_t progress = 0;
    int osError = 0;
    LinkFault link;
    std::vector<uint8_t> data;
    bool waitForJob = false;

    static Reply check(Sense sense)
    {
        Reply reply;
        reply.kind = Check;
        reply.sense = sense;
        return reply;
    }
    static Reply timedOut()
    {
        Reply reply;
        reply.kind = Timeout;
        return reply;
    }
    static Reply linkFault(LinkFault fault)
    {
        Reply reply;
        reply.kind = Link;
        reply.link = fault;
        return reply;
    }
    static Reply with(std::vector<uint8_t> bytes)
    {
        Reply reply;
        reply.data = std::move(bytes);
        return reply;
    }
};

} // namespace blankora::virtualbay
