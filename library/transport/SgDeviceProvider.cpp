#include "library/transport/SgDeviceProvider.h"

#include "library/transport/SenseText.h"
#include "library/transport/SgTransport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <tuple>

namespace blankora::transport {

namespace fs = std::filesystem;

namespace {

// "H:C:T:L" with four decimal numbers each fitting a byte.
bool parseAddress(const std::string &name, DeviceEntry &entry)
{
    unsigned h, c, t, l;
    char tail;
    if (std::sscanf(name.c_str(), "%u:%u:%u:%u%c", &h, &c, &t, &l, &tail) != 4)
        return false;
    if (h > 255 || c > 255 || t > 255 || l > 255)
        return false;
    entry.host = uint8_t(h);
    entry.channel = uint8_t(c);
    entry.target = uint8_t(t);
    entry.lun = uint8_t(l);
    return true;
}

std::string readFirstLine(const fs::path &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string unescapeMountPath(const std::string &text)
{
    const auto octal = [](char d) { return d >= '0' && d <= '7'; };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 4 <= text.size() && octal(text[i + 1]) && octal(text[i + 2]) &&
            octal(text[i + 3])) {
            out += char(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

} // namespace

SgDeviceProvider::SgDeviceProvider(std::string sysfsDevices, std::string devDirectory,
                                   std::string mountInfo)
    : FSysfsDevices(std::move(sysfsDevices)), FDevDirectory(std::move(devDirectory)),
      FMountInfo(std::move(mountInfo))
{}

std::vector<DeviceEntry> SgDeviceProvider::enumerate()
{
    std::vector<DeviceEntry> entries;
    std::error_code error;
    for (const auto &item : fs::directory_iterator(FSysfsDevices, error)) {
        DeviceEntry entry;
        if (!parseAddress(item.path().filename().string(), entry))
            continue;
        if (readFirstLine(item.path() / "type") != "5")
            continue;
        std::error_code blockError;
        for (const auto &block : fs::directory_iterator(item.path() / "block", blockError)) {
            const std::string name = block.path().filename().string();
            int number = -1;
            char tail;
            if (std::sscanf(name.c_str(), "sr%d%c", &number, &tail) == 1 && number >= 0) {
                entry.systemNumber = number;
                entry.node = (fs::path(FDevDirectory) / name).string();
                break;
            }
        }
        // sysfs pads the INQUIRY texts with blanks.
        const auto trimmed = [](std::string text) {
            text.erase(text.find_last_not_of(' ') + 1);
            return text;
        };
        entry.vendor = trimmed(readFirstLine(item.path() / "vendor"));
        entry.product = trimmed(readFirstLine(item.path() / "model"));
        if (entry.systemNumber >= 0)
            entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const DeviceEntry &a, const DeviceEntry &b) {
        return std::tie(a.host, a.channel, a.target, a.lun) <
               std::tie(b.host, b.channel, b.target, b.lun);
    });
    return entries;
}

OpenResult SgDeviceProvider::openBySystemNumber(int systemNumber, OpenMode mode)
{
    const std::string node =
        (fs::path(FDevDirectory) / ("sr" + std::to_string(systemNumber))).string();
    return SgTransport::open(node, mode);
}

OpenResult SgDeviceProvider::openByAddress(uint8_t host, uint8_t channel, uint8_t target,
                                           uint8_t lun, OpenMode mode)
{
    for (const DeviceEntry &entry : enumerate()) {
        if (entry.host == host && entry.channel == channel && entry.target == target &&
            entry.lun == lun)
            return SgTransport::open(entry.node, mode);
    }
    OpenResult result;
    result.osError = ENODEV;
    result.text = openErrorText(ENODEV, "SCSI address " + std::to_string(host) + ":" +
                                            std::to_string(channel) + ":" + std::to_string(target) +
                                            ":" + std::to_string(lun));
    return result;
}

std::string SgDeviceProvider::mountPoint(const std::string &node)
{
    struct stat info
    {
    };
    if (::stat(node.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {};
    std::ifstream in(FMountInfo);
    std::stringstream text;
    text << in.rdbuf();
    return findMountPoint(text.str(), major(info.st_rdev), minor(info.st_rdev));
}

std::string findMountPoint(const std::string &mountInfoText, unsigned major, unsigned minor)
{
    std::istringstream lines(mountInfoText);
    std::string line;
    const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
    while (std::getline(lines, line)) {
        // mount-id parent-id major:minor root mount-point ...
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point))
            continue;
        if (device == wanted)
            return unescapeMountPath(point);
    }
    return {};
}

} // namespace blankora::transport
