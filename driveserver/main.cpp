// Serves the drives of a virtual bay scenario to the running kernel: one TCMU
// backstore and one tcm_loop target per drive, so that the sr driver attaches
// to each as /dev/srN. Every command the kernel puts in a drive's ring goes to
// the emulated drive through ScsiTransport::execute, on a worker, and is
// completed out of order when the drive answers. The ring layout and the
// completion walk follow open-iscsi/tcmu-runner (libtcmu.c) and the kernel's
// target_core_user.h.
//   blankora-driveserver <scenario.json> <trace file>
// Runs until SIGINT/SIGTERM (then removes what it made in configfs) or until
// every drive's uio node reports POLLHUP.

#include "driveserver/TcmuRing.h"

#include "library/transport/ScsiTransport.h"
#include "library/virtual/VirtualBay.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace blankora::driveserver;
using blankora::transport::DataDirection;
using blankora::transport::ResultCategory;
using blankora::transport::ScsiCommand;
using blankora::transport::ScsiResult;
using blankora::transport::ScsiTransport;

const std::string KCore = "/sys/kernel/config/target/core/user_0/";
const std::string KLoop = "/sys/kernel/config/target/loopback/";
constexpr unsigned KWorkers = 4;
std::atomic<bool> GStop{false};

bool writeFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
    out.flush();
    if (!out) {
        std::fprintf(stderr, "driveserver: cannot write '%s' to %s\n", text.c_str(), path.c_str());
        return false;
    }
    return true;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bool makeDir(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    std::fprintf(stderr, "driveserver: mkdir %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

// The CDB length as the kernel's scsi_command_size() derives it.
size_t cdbSize(const uint8_t *cdb)
{
    switch (cdb[0] >> 5) {
    case 0:
        return 6;
    case 1:
    case 2:
        return 10;
    case 4:
        return 16;
    case 5:
        return 12;
    case 3:
        return cdb[0] == 0x7F ? std::min<size_t>(8 + cdb[7], 64) : 16;
    default:
        return 10;
    }
}

// Opcodes whose data phase goes to the drive; every other data phase comes from it.
bool dataOut(uint8_t opcode)
{
    switch (opcode) {
    case 0x04: // FORMAT UNIT
    case 0x15: // MODE SELECT(6)
    case 0x2A: // WRITE(10)
    case 0x2E: // WRITE AND VERIFY(10)
    case 0x3B: // WRITE BUFFER
    case 0x54: // SEND OPC INFORMATION
    case 0x55: // MODE SELECT(10)
    case 0x5D: // SEND CUE SHEET
    case 0x8A: // WRITE(16)
    case 0xA3: // SEND KEY
    case 0xAA: // WRITE(12)
    case 0xB6: // SET STREAMING
    case 0xBF: // SEND DVD STRUCTURE
        return true;
    default:
        return false;
    }
}

std::string hex(const uint8_t *bytes, size_t count)
{
    std::string text;
    char two[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        text += two;
    }
    return text;
}

class Trace
{
public:
    explicit Trace(const std::string &path) : FFile(std::fopen(path.c_str(), "a")) {}
    ~Trace()
    {
        if (FFile)
            std::fclose(FFile);
    }
    void line(const std::string &text)
    {
        const double now =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
        std::lock_guard lock(FMutex);
        if (!FFile)
            return;
        std::fprintf(FFile, "%.6f %s\n", now, text.c_str());
        std::fflush(FFile);
    }

private:
    std::mutex FMutex;
    std::FILE *FFile;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

// One command taken from the ring: its CDB and data, copied out of its slot
// (which another completion may reuse), and its iovecs into the data area.
struct Pending
{
    uint16_t id = 0;
    uint64_t serial = 0; // tells this command from a later one the kernel gives the same id
    std::vector<uint8_t> cdb;
    std::vector<std::pair<uint8_t *, size_t>> iov;
    size_t length = 0;
};

class ServedDrive
{
public:
    ServedDrive(unsigned index, std::unique_ptr<ScsiTransport> transport, uint64_t size,
                Trace &trace)
        : FIndex(index), FName("blankora" + std::to_string(index)),
          FTransport(std::move(transport)), FSize(size), FTrace(trace)
    {}
    ~ServedDrive() { stop(); }

    bool setUp();
    void tearDown();
    void stop();
    bool hungUp() const { return FHungUp; }
    std::string name() const { return FName; }

private:
    std::string backstore() const { return KCore + FName; }
    std::string tpg() const { return KLoop + wwn(0x00) + "/tpgt_1"; }
    std::string wwn(unsigned kind) const
    {
        char text[32];
        std::snprintf(text, sizeof text, "naa.5001405%02x%07x", kind, FIndex);
        return text;
    }
    bool openRing();
    void serve();
    void work();
    void take(uint32_t &position);
    void run(const Pending &pending);
    void complete(uint16_t id, uint8_t status, const std::vector<uint8_t> &sense,
                  uint32_t readLength, bool readLen);

    unsigned FIndex;
    std::string FName;
    std::unique_ptr<ScsiTransport> FTransport;
    uint64_t FSize;
    Trace &FTrace;
    int FFd = -1;
    uint8_t *FMap = nullptr;
    size_t FMapSize = 0;
    std::atomic<bool> FHungUp{false};
    std::atomic<bool> FQuit{false};
    std::thread FRing;
    std::vector<std::thread> FWorkers;

    std::mutex FQueueMutex;
    std::condition_variable FQueueReady;
    std::deque<Pending> FQueue;

    std::mutex FRingMutex; // completions, and the set of commands still open
    // id -> serial of the command open under it. Whoever takes a command out
    // (its answer, or an abort) answers it; an aborted command's late answer
    // finds its id gone or given to a newer command, and is dropped.
    std::map<uint16_t, uint64_t> FOpen;
    uint64_t FSerial = 0;
};

bool ServedDrive::setUp()
{
    // A backstore that already exists belongs to a server that stopped: its
    // ring is served again, leftover entries first.
    const bool existing = access(backstore().c_str(), F_OK) == 0;
    if (!existing) {
        if (!makeDir(KCore) || !makeDir(backstore()))
            return false;
        if (!writeFile(backstore() + "/control", "dev_config=blankora/" + FName +
                                                     ",dev_size=" + std::to_string(FSize) +
                                                     ",hw_block_size=2048,max_data_area_mb=32"))
            return false;
        // Erases take minutes and the kernel waits; aborts reach the ring.
        if (!writeFile(backstore() + "/attrib/cmd_time_out", "0") ||
            !writeFile(backstore() + "/attrib/tmr_notification", "1") ||
            !writeFile(backstore() + "/enable", "1"))
            return false;
    }
    if (!openRing())
        return false;
    FRing = std::thread([this] { serve(); });
    for (unsigned i = 0; i < KWorkers; ++i)
        FWorkers.emplace_back([this] { work(); });

    const std::string lun = tpg() + "/lun/lun_0";
    if (!makeDir(KLoop) || !makeDir(KLoop + wwn(0x00)) || !makeDir(tpg()) ||
        !makeDir(tpg() + "/lun") || !makeDir(lun))
        return false;
    if (readFile(tpg() + "/nexus").empty() && !writeFile(tpg() + "/nexus", wwn(0x01)))
        return false;
    const std::string link = lun + "/" + FName;
    if (access(link.c_str(), F_OK) != 0 && symlink(backstore().c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "driveserver: link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    std::printf("driveserver: %s served as %s\n", FName.c_str(), wwn(0x00).c_str());
    std::fflush(stdout);
    return true;
}

bool ServedDrive::openRing()
{
    const std::string suffix = "/" + FName + "/blankora/" + FName;
    DIR *dir = opendir("/sys/class/uio");
    if (!dir)
        return false;
    std::string uio;
    while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("uio", 0) != 0)
            continue;
        const std::string label = readFile("/sys/class/uio/" + name + "/name");
        if (label.size() >= suffix.size() &&
            label.compare(label.size() - suffix.size(), suffix.size(), suffix) == 0)
            uio = name;
    }
    closedir(dir);
    if (uio.empty()) {
        std::fprintf(stderr, "driveserver: no uio node for %s\n", FName.c_str());
        return false;
    }
    FMapSize = std::stoul(readFile("/sys/class/uio/" + uio + "/maps/map0/size"), nullptr, 16);
    FFd = open(("/dev/" + uio).c_str(), O_RDWR | O_CLOEXEC);
    if (FFd < 0) {
        std::fprintf(stderr, "driveserver: /dev/%s: %s\n", uio.c_str(), std::strerror(errno));
        return false;
    }
    void *map = mmap(nullptr, FMapSize, PROT_READ | PROT_WRITE, MAP_SHARED, FFd, 0);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "driveserver: mmap /dev/%s: %s\n", uio.c_str(), std::strerror(errno));
        return false;
    }
    FMap = static_cast<uint8_t *>(map);
    auto *mailbox = reinterpret_cast<Mailbox *>(FMap);
    FTrace.line(FName + " map " + std::to_string(reinterpret_cast<uintptr_t>(FMap)) + " size " +
                std::to_string(FMapSize) + " cmdr_off " + std::to_string(mailbox->cmdrOff));
    FTrace.line(FName + " ring: version " + std::to_string(mailbox->version) + " flags " +
                std::to_string(mailbox->flags) + " size " + std::to_string(mailbox->cmdrSize));
    return true;
}

// Reads the entries from our read position up to the kernel's head.
void ServedDrive::take(uint32_t &position)
{
    auto *mailbox = reinterpret_cast<Mailbox *>(FMap);
    uint8_t *ring = FMap + mailbox->cmdrOff;
    const uint32_t head = __atomic_load_n(&mailbox->cmdHead, __ATOMIC_ACQUIRE);
    while (position != head) {
        auto *entry = reinterpret_cast<CommandEntry *>(ring + position);
        const uint32_t length = entryLength(entry->hdr.lenOp);
        const int op = entryOp(entry->hdr.lenOp);
        if (op == KOpCmd) {
            Pending pending;
            pending.id = entry->hdr.cmdId;
            const uint8_t *cdb = FMap + entry->req.cdbOff;
            pending.cdb.assign(cdb, cdb + cdbSize(cdb));
            for (uint32_t i = 0; i < entry->req.iovCnt; ++i) {
                const RingIovec &io = entry->req.iov[i];
                pending.iov.emplace_back(FMap + io.base, io.length);
                pending.length += io.length;
            }
            {
                std::lock_guard lock(FRingMutex);
                pending.serial = ++FSerial;
                FOpen[pending.id] = pending.serial;
            }
            FTrace.line(FName + " id " + std::to_string(pending.id) + " queued");
            std::lock_guard lock(FQueueMutex);
            FQueue.push_back(std::move(pending));
            FQueueReady.notify_one();
        } else if (op == KOpTmr) {
            auto *tmr = reinterpret_cast<TmrEntry *>(entry);
            std::string ids;
            for (uint32_t i = 0; i < tmr->cmdCnt; ++i) {
                const uint16_t id = tmr->cmdIds[i];
                ids += " " + std::to_string(id);
                bool answer = false;
                {
                    std::lock_guard lock(FRingMutex);
                    answer = FOpen.erase(id) > 0;
                }
                // The abort is answered now; the drive's late answer is dropped.
                if (answer)
                    complete(id, 0x40, {}, 0, false);
            }
            FTrace.line(FName + " TMR " + std::to_string(tmr->tmrType) + " aborts" + ids);
        }
        position = (position + length) % mailbox->cmdrSize;
    }
}

void ServedDrive::serve()
{
    auto *mailbox = reinterpret_cast<Mailbox *>(FMap);
    // Entries a stopped server left in the ring are served before the first poll.
    uint32_t position = __atomic_load_n(&mailbox->cmdTail, __ATOMIC_ACQUIRE);
    take(position);
    while (!FQuit) {
        pollfd waiting{FFd, POLLIN, 0};
        const int ready = poll(&waiting, 1, 500);
        if (ready < 0 && errno != EINTR) {
            FTrace.line(FName + " poll: " + std::strerror(errno));
            break;
        }
        if (ready == 0) {
            // A notification missed is a command that waits forever: look anyway.
            take(position);
            continue;
        }
        if (ready < 0)
            continue;
        if (waiting.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            FTrace.line(FName + " POLLHUP");
            FHungUp = true;
            break;
        }
        uint32_t events = 0;
        if (read(FFd, &events, sizeof events) < 0 && errno != EAGAIN) {
            FTrace.line(FName + " read: " + std::strerror(errno));
            FHungUp = true;
            break;
        }
        take(position);
    }
    FTrace.line(FName + " ring closed");
    FQuit = true;
    FQueueReady.notify_all();
}

void ServedDrive::work()
{
    while (true) {
        Pending pending;
        {
            std::unique_lock lock(FQueueMutex);
            FQueueReady.wait(lock, [this] { return FQuit || !FQueue.empty(); });
            if (FQueue.empty())
                return;
            pending = std::move(FQueue.front());
            FQueue.pop_front();
        }
        run(pending);
    }
}

// Fixed-format sense for answers the drive gives as an error of its host.
std::vector<uint8_t> fixedSense(uint8_t key, uint8_t asc, uint8_t ascq)
{
    std::vector<uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

void ServedDrive::run(const Pending &pending)
{
    const auto started = std::chrono::steady_clock::now();
    const bool out = pending.length > 0 && dataOut(pending.cdb[0]);
    std::vector<uint8_t> buffer(pending.length);
    if (out) {
        size_t at = 0;
        for (const auto &[base, size] : pending.iov) {
            std::memcpy(buffer.data() + at, base, size);
            at += size;
        }
    }
    ScsiCommand command;
    command.cdb = pending.cdb;
    command.timeoutMs = 24 * 3600 * 1000; // the kernel keeps its own time
    if (pending.length > 0 && out) {
        command.direction = DataDirection::ToDevice;
        command.dataOut = buffer;
    } else if (pending.length > 0) {
        command.direction = DataDirection::FromDevice;
        command.dataIn = buffer;
    }
    const ScsiResult result = FTransport->execute(command);

    uint8_t status = result.status;
    std::vector<uint8_t> sense = result.sense;
    size_t transferred = 0;
    switch (result.category) {
    case ResultCategory::Good:
        status = 0;
        transferred = out ? pending.length : result.transferred(pending.length);
        break;
    case ResultCategory::CheckCondition:
        status = 0x02;
        break;
    case ResultCategory::Status:
        break;
    case ResultCategory::TransportError: // the drive stopped answering: ABORTED COMMAND
        status = 0x02;
        sense = fixedSense(0x0B, 0x00, 0x00);
        break;
    case ResultCategory::OsError:
        status = 0x02;
        sense = result.osError == EPERM    ? fixedSense(0x07, 0x27, 0x00)
                : result.osError == EINVAL ? fixedSense(0x05, 0x24, 0x00)
                                           : fixedSense(0x04, 0x44, 0x00);
        break;
    }
    // The answer is this command's only if no abort took it first: the data
    // area of an aborted command may already be another command's.
    bool aborted = false;
    {
        std::lock_guard lock(FRingMutex);
        auto open = FOpen.find(pending.id);
        aborted = open == FOpen.end() || open->second != pending.serial;
        if (!aborted)
            FOpen.erase(open);
    }
    if (!aborted) {
        if (!out && transferred > 0) {
            size_t at = 0;
            for (const auto &[base, size] : pending.iov) {
                if (at >= transferred)
                    break;
                const size_t part = std::min(size, transferred - at);
                std::memcpy(base, buffer.data() + at, part);
                at += part;
            }
        }
        complete(pending.id, status, sense, uint32_t(transferred),
                 !out && transferred < pending.length);
    }

    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    char answer[160];
    if (status == 0x02 && sense.size() >= 14)
        std::snprintf(answer, sizeof answer, "status 02 sense %02X/%02X/%02X", sense[2] & 0x0F,
                      sense[12], sense[13]);
    else
        std::snprintf(answer, sizeof answer, "status %02X", status);
    FTrace.line(FName + " id " + std::to_string(pending.id) + " cdb " +
                hex(pending.cdb.data(), pending.cdb.size()) + (out ? " out " : " in ") +
                std::to_string(pending.length) + " -> " + answer + " xfer " +
                std::to_string(transferred) + (aborted ? " aborted" : "") + " ms " +
                std::to_string(ms));
}

// Completes at cmd_tail, stepping over PAD and TMR entries: any CMD slot
// already read can carry any command's answer (libtcmu's command_complete).
void ServedDrive::complete(uint16_t id, uint8_t status, const std::vector<uint8_t> &sense,
                           uint32_t readLength, bool readLen)
{
    std::lock_guard lock(FRingMutex);
    auto *mailbox = reinterpret_cast<Mailbox *>(FMap);
    uint8_t *ring = FMap + mailbox->cmdrOff;
    uint32_t tail = mailbox->cmdTail;
    auto *entry = reinterpret_cast<CommandEntry *>(ring + tail);
    while (entryOp(entry->hdr.lenOp) != KOpCmd) {
        tail = (tail + entryLength(entry->hdr.lenOp)) % mailbox->cmdrSize;
        entry = reinterpret_cast<CommandEntry *>(ring + tail);
    }
    entry->hdr.cmdId = id;
    entry->hdr.uflags = 0;
    entry->rsp.scsiStatus = status;
    std::memset(entry->rsp.senseBuffer, 0, KSenseSize);
    std::memcpy(entry->rsp.senseBuffer, sense.data(), std::min<size_t>(sense.size(), KSenseSize));
    if (readLen && (mailbox->flags & KFlagReadLen)) {
        entry->hdr.uflags |= KUflagReadLen;
        entry->rsp.readLen = readLength;
    }
    tail = (tail + entryLength(entry->hdr.lenOp)) % mailbox->cmdrSize;
    __atomic_store_n(&mailbox->cmdTail, tail, __ATOMIC_RELEASE);
    const uint32_t kick = 0;
    if (write(FFd, &kick, sizeof kick) < 0)
        FTrace.line(FName + " kick failed: " + std::strerror(errno));
}

void ServedDrive::stop()
{
    FQuit = true;
    FQueueReady.notify_all();
    if (FRing.joinable())
        FRing.join();
    for (std::thread &worker : FWorkers)
        if (worker.joinable())
            worker.join();
    FWorkers.clear();
    if (FMap)
        munmap(FMap, FMapSize);
    FMap = nullptr;
    if (FFd >= 0)
        close(FFd);
    FFd = -1;
}

// The kernel lets go of the LUN first, then the target, then the backstore.
void ServedDrive::tearDown()
{
    const std::string lun = tpg() + "/lun/lun_0";
    unlink((lun + "/" + FName).c_str());
    rmdir(lun.c_str());
    writeFile(tpg() + "/nexus", "NULL");
    rmdir(tpg().c_str());
    rmdir((KLoop + wwn(0x00)).c_str());
    stop();
    rmdir(backstore().c_str());
}

// The in-process bay's cost of one 64 KiB WRITE(10), to set beside the kernel path's.
int benchWrite(const char *scenario, size_t index, unsigned count)
{
    std::string error;
    auto bay = blankora::virtualbay::VirtualBay::fromFile(scenario, error);
    if (!bay || index >= bay->driveCount()) {
        std::fprintf(stderr, "driveserver: %s\n", error.empty() ? "no such drive" : error.c_str());
        return 2;
    }
    auto opened = bay->openBySystemNumber(bay->enumerate().at(index).systemNumber);
    if (!opened.transport) {
        std::fprintf(stderr, "driveserver: %s\n", opened.text.c_str());
        return 1;
    }
    std::vector<uint8_t> data(65536, 0);
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < count; ++i) {
        const uint32_t lba = i * 32;
        const uint8_t cdb[10] = {
            0x2A, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba), 0, 0,
            32,   0};
        ScsiCommand command;
        command.cdb = cdb;
        command.direction = DataDirection::ToDevice;
        command.dataOut = data;
        if (!opened.transport->execute(command).ok()) {
            std::fprintf(stderr, "driveserver: WRITE at %u failed\n", lba);
            return 1;
        }
    }
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.0f\n", us / count);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--bench-write") == 0)
        return benchWrite(argv[2], std::stoul(argv[3]), unsigned(std::stoul(argv[4])));
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: %s <scenario.json> <trace file>\n"
                     "       %s --bench-write <scenario.json> <drive index> <count>\n",
                     argv[0], argv[0]);
        return 2;
    }
    std::string error;
    auto bay = blankora::virtualbay::VirtualBay::fromFile(argv[1], error);
    if (!bay) {
        std::fprintf(stderr, "driveserver: %s\n", error.c_str());
        return 2;
    }
    Trace trace(argv[2]);
    std::signal(SIGINT, [](int) { GStop = true; });
    std::signal(SIGTERM, [](int) { GStop = true; });
    std::signal(SIGPIPE, SIG_IGN);
    // A fault in the server leaves the kernel waiting for answers: say where.
    struct sigaction fatal
    {
    };
    fatal.sa_flags = SA_SIGINFO;
    fatal.sa_sigaction = [](int number, siginfo_t *info, void *) {
        char text[96];
        const int length = std::snprintf(text, sizeof text, "driveserver: signal %d at %p\n",
                                         number, info->si_addr);
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text, size_t(length));
        void *frames[32];
        backtrace_symbols_fd(frames, backtrace(frames, 32), STDERR_FILENO);
        _exit(128 + number);
    };
    sigaction(SIGSEGV, &fatal, nullptr);
    sigaction(SIGBUS, &fatal, nullptr);

    std::vector<std::unique_ptr<ServedDrive>> drives;
    bool ready = true;
    const auto entries = bay->enumerate();
    for (size_t i = 0; i < entries.size() && ready; ++i) {
        auto opened = bay->openBySystemNumber(entries[i].systemNumber);
        if (!opened.transport) {
            std::fprintf(stderr, "driveserver: %s\n", opened.text.c_str());
            ready = false;
            break;
        }
        drives.push_back(std::make_unique<ServedDrive>(unsigned(i), std::move(opened.transport),
                                                       uint64_t(1) << 30, trace));
        ready = drives.back()->setUp();
    }
    while (ready && !GStop) {
        bool anyServed = false;
        for (const auto &drive : drives)
            anyServed = anyServed || !drive->hungUp();
        if (!anyServed)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto it = drives.rbegin(); it != drives.rend(); ++it)
        (*it)->tearDown();
    // The TCMU host folder goes too, unless something else lives in it.
    rmdir(KCore.c_str());
    std::printf("driveserver: stopped\n");
    return ready ? 0 : 1;
}
