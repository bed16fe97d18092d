#include "library/virtual/VirtualBay.h"

#include "library/transport/SenseText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <tuple>

namespace blankora::virtualbay {

namespace fs = std::filesystem;

namespace {

// One open handle on a virtual drive. It keeps the bay (and so the node
// files) alive and gives up its tray lock when it goes.
class VirtualTransport : public transport::ScsiTransport
{
public:
    VirtualTransport(std::shared_ptr<VirtualBay> bay, VirtualDrive &drive, unsigned handle)
        : FBay(std::move(bay)), FDrive(drive), FHandle(handle),
          FReadOnly(drive.declared().faults.readOnly)
    {}
    ~VirtualTransport() override { FDrive.detachHandle(FHandle); }

    transport::ScsiResult execute(const transport::ScsiCommand &command) override
    {
        return FDrive.execute(FHandle, FReadOnly, command);
    }
    std::string deviceNode() const override { return FDrive.node(); }

private:
    std::shared_ptr<VirtualBay> FBay;
    VirtualDrive &FDrive;
    unsigned FHandle;
    bool FReadOnly;
};

struct Registry
{
    std::mutex mutex;
    std::shared_ptr<VirtualBay> installed;
    std::shared_ptr<VirtualBay> loaded;
    std::string loadedPath;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

std::string environmentScenario()
{
    const char *path = std::getenv("BLANKORA_VIRTUAL_DRIVES");
    return path ? std::string(path) : std::string();
}

} // namespace

std::shared_ptr<VirtualBay> VirtualBay::fromJson(const std::string &json, std::string &error,
                                                 const std::string &source)
{
    std::optional<BaySpec> declared = parseScenario(json, source, error);
    if (!declared)
        return nullptr;
    return build(std::move(*declared), source, fs::current_path().string(), error);
}

std::shared_ptr<VirtualBay> VirtualBay::fromFile(const std::string &path, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read the scenario file: " + std::strerror(errno);
        return nullptr;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::optional<BaySpec> declared = parseScenario(text.str(), path, error);
    if (!declared)
        return nullptr;
    return build(std::move(*declared), path, fs::absolute(path).parent_path().string(), error);
}

std::shared_ptr<VirtualBay> VirtualBay::build(BaySpec declared, const std::string &source,
                                              const std::string &baseDirectory, std::string &error)
{
    if (const char *factor = std::getenv("BLANKORA_VIRTUAL_TIME_FACTOR")) {
        char *end = nullptr;
        const double value = std::strtod(factor, &end);
        if (end != factor && *end == '\0' && value >= 0)
            declared.timeFactor = value;
    }
    std::string pattern = (fs::temp_directory_path() / "blankora-bay-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = source +
                ": cannot create a temporary directory for the drives: " + std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<VirtualBay> bay(new VirtualBay());
    bay->FDirectory = pattern;
    bay->FClock = std::make_shared<SimClock>(declared.timeFactor);
    for (size_t i = 0; i < declared.drives.size(); ++i) {
        DriveSpec &drive = declared.drives[i];
        if (drive.disc && !drive.disc->image.empty() && fs::path(drive.disc->image).is_relative())
            drive.disc->image = (fs::path(baseDirectory) / drive.disc->image).string();
        const std::string node = bay->FDirectory + "/sr" + std::to_string(drive.systemNumber);
        auto emulated = std::make_shared<VirtualDrive>(std::move(drive), bay->FClock, node);
        std::string prepareError;
        if (!emulated->prepare(prepareError)) {
            error = source + ": drives[" + std::to_string(i) + "].disc: " + prepareError;
            return nullptr;
        }
        bay->FDrives.push_back(std::move(emulated));
    }
    return bay;
}

VirtualBay::~VirtualBay()
{
    std::error_code ignored;
    if (!FDirectory.empty())
        fs::remove_all(FDirectory, ignored);
}

std::shared_ptr<VirtualBay> VirtualBay::current(std::string &error)
{
    error.clear();
    Registry &reg = registry();
    std::lock_guard lock(reg.mutex);
    if (reg.installed)
        return reg.installed;
    const std::string path = environmentScenario();
    if (path.empty())
        return nullptr;
    if (!reg.loaded || reg.loadedPath != path) {
        std::shared_ptr<VirtualBay> bay = fromFile(path, error);
        if (!bay)
            return nullptr;
        reg.loaded = std::move(bay);
        reg.loadedPath = path;
    }
    return reg.loaded;
}

void VirtualBay::install(std::shared_ptr<VirtualBay> bay)
{
    Registry &reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.installed = std::move(bay);
}

bool VirtualBay::selected()
{
    Registry &reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.installed || !environmentScenario().empty();
}

std::vector<transport::DeviceEntry> VirtualBay::enumerate()
{
    std::vector<transport::DeviceEntry> entries;
    for (const auto &drive : FDrives)
        if (!drive->vanished())
            entries.push_back(drive->entry());
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        return std::tie(a.host, a.channel, a.target, a.lun) <
               std::tie(b.host, b.channel, b.target, b.lun);
    });
    return entries;
}

transport::OpenResult VirtualBay::open(VirtualDrive &drive, transport::OpenMode mode)
{
    transport::OpenResult result;
    unsigned handle = 0;
    int error = drive.openError();
    if (error == 0)
        error = drive.attachHandle(mode == transport::OpenMode::Exclusive, handle);
    if (error != 0) {
        result.osError = error;
        result.text = transport::openErrorText(error, drive.node());
        return result;
    }
    result.transport = std::make_unique<VirtualTransport>(shared_from_this(), drive, handle);
    return result;
}

transport::OpenResult VirtualBay::openBySystemNumber(int systemNumber, transport::OpenMode mode)
{
    for (const auto &drive : FDrives)
        if (drive->declared().systemNumber == systemNumber)
            return open(*drive, mode);
    transport::OpenResult result;
    result.osError = ENODEV;
    result.text =
        transport::openErrorText(ENODEV, FDirectory + "/sr" + std::to_string(systemNumber));
    return result;
}

transport::OpenResult VirtualBay::openByAddress(uint8_t host, uint8_t channel, uint8_t target,
                                                uint8_t lun, transport::OpenMode mode)
{
    for (const auto &drive : FDrives) {
        const DriveSpec &declared = drive->declared();
        if (declared.host == host && declared.channel == channel && declared.target == target &&
            declared.lun == lun)
            return open(*drive, mode);
    }
    transport::OpenResult result;
    result.osError = ENODEV;
    result.text = transport::openErrorText(
        ENODEV, "SCSI address " + std::to_string(host) + ":" + std::to_string(channel) + ":" +
                    std::to_string(target) + ":" + std::to_string(lun));
    return result;
}

std::string VirtualBay::mountPoint(const std::string &node)
{
    for (const auto &drive : FDrives)
        if (drive->node() == node && drive->currentProfile() != 0)
            return drive->declared().mountPoint;
    return {};
}

} // namespace blankora::virtualbay
