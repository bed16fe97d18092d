#include "library/virtual/VirtualScenarioSwitches.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace blankora::virtualbay {

namespace {

const std::map<std::string, std::vector<uint16_t>> &models()
{
    static const std::map<std::string, std::vector<uint16_t>> table = {
        {"cd-rom", {0x08}},
        {"cd-writer", {0x08, 0x09, 0x0A}},
        {"dvd-rom", {0x08, 0x10}},
        {"dvd-writer",
         {0x08, 0x09, 0x0A, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A, 0x1B, 0x2A, 0x2B}},
        {"bd-writer",
         {0x08, 0x09, 0x0A, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A, 0x1B, 0x2A, 0x2B, 0x40, 0x41,
          0x42, 0x43}},
    };
    return table;
}

bool isOverwritable(uint16_t profile)
{
    return profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x2A ||
           profile == 0x43;
}

std::optional<std::vector<unsigned>> speedList(ScenarioReader &reader, const QJsonValue &value,
                                               const std::string &path)
{
    if (!value.isArray()) {
        reader.fail(path, "expected an array of speeds in kB/s, found " +
                              ScenarioReader::typeName(value));
        return std::nullopt;
    }
    std::vector<unsigned> list;
    const QJsonArray array = value.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const auto speed = reader.integer(array[i], path + "[" + std::to_string(i) + "]", 65534);
        if (!speed)
            return std::nullopt;
        if (*speed == 0) {
            reader.fail(path + "[" + std::to_string(i) + "]", "a speed must be above 0");
            return std::nullopt;
        }
        list.push_back(*speed);
    }
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

bool parseDisc(ScenarioReader &reader, const QJsonObject &object, const std::string &path,
               DriveSpec &drive)
{
    if (!reader.checkKeys(object, path,
                          {"profile", "state", "formatted", "capacityBytes", "usedBytes",
                           "freeBytes", "tracks", "sessions", "writeProtected", "label", "image",
                           "eraseSpeedKBps"}))
        return false;
    DiscSpec disc;
    if (!object.contains("profile")) {
        reader.fail(ScenarioReader::join(path, "profile"), "missing (e.g. \"CD-RW\")");
        return false;
    }
    const auto profile = reader.profile(object["profile"], ScenarioReader::join(path, "profile"));
    if (!profile)
        return false;
    if (!std::binary_search(drive.profiles.begin(), drive.profiles.end(), *profile)) {
        reader.fail(ScenarioReader::join(path, "profile"),
                    "the drive does not support " + profileName(*profile) + " discs");
        return false;
    }
    disc.profile = *profile;
    disc.capacityBlocks = defaultCapacityBlocks(*profile);
    if (object.contains("state")) {
        const auto state = reader.string(object["state"], ScenarioReader::join(path, "state"));
        if (!state)
            return false;
        if (*state == "blank")
            disc.state = DiscState::Blank;
        else if (*state == "appendable")
            disc.state = DiscState::Appendable;
        else if (*state == "complete")
            disc.state = DiscState::Complete;
        else {
            reader.fail(ScenarioReader::join(path, "state"),
                        "\"" + *state + "\" is not one of blank, appendable, complete");
            return false;
        }
    }
    if (object.contains("formatted")) {
        const std::string formattedPath = ScenarioReader::join(path, "formatted");
        if (object["formatted"] == QJsonValue("partly")) {
            if (disc.profile != 0x1A && disc.profile != 0x2A) {
                reader.fail(formattedPath, "only a DVD+RW is partly formatted");
                return false;
            }
            disc.partlyFormatted = true;
        } else {
            const auto formatted = reader.boolean(object["formatted"], formattedPath);
            if (!formatted)
                return false;
            disc.formatted = *formatted;
        }
    }
    const auto blocks = [&](const char *key, uint32_t &target) {
        if (!object.contains(key))
            return true;
        const auto bytes = reader.integer(object[key], ScenarioReader::join(path, key), 1e12);
        if (!bytes)
            return false;
        target = uint32_t((*bytes + 2047) / 2048);
        return true;
    };
    uint32_t used = UINT32_MAX, freeBlocks = UINT32_MAX;
    if (!blocks("capacityBytes", disc.capacityBlocks) || !blocks("usedBytes", used) ||
        !blocks("freeBytes", freeBlocks))
        return false;
    for (const char *key : {"tracks", "sessions"}) {
        if (!object.contains(key))
            continue;
        const auto count = reader.integer(object[key], ScenarioReader::join(path, key), 99);
        if (!count)
            return false;
        (std::string(key) == "tracks" ? disc.tracks : disc.sessions) =
            std::max(1u, unsigned(*count));
    }
    if (object.contains("writeProtected")) {
        const auto flag =
            reader.boolean(object["writeProtected"], ScenarioReader::join(path, "writeProtected"));
        if (!flag)
            return false;
        disc.writeProtected = *flag;
    }
    if (object.contains("label")) {
        const auto label = reader.string(object["label"], ScenarioReader::join(path, "label"));
        if (!label)
            return false;
        if (label->size() > 32) {
            reader.fail(ScenarioReader::join(path, "label"),
                        "a volume label has at most 32 characters");
            return false;
        }
        disc.label = *label;
    }
    if (object.contains("image")) {
        const auto image = reader.string(object["image"], ScenarioReader::join(path, "image"));
        if (!image)
            return false;
        disc.image = *image;
    }
    if (object.contains("eraseSpeedKBps")) {
        const std::string speedPath = ScenarioReader::join(path, "eraseSpeedKBps");
        const QJsonValue value = object["eraseSpeedKBps"];
        if (value == QJsonValue("typical")) {
            disc.eraseSpeedKBps = defaultEraseSpeed(disc.profile);
            if (disc.eraseSpeedKBps == 0) {
                reader.fail(speedPath, "no typical erase speed for " + profileName(disc.profile) +
                                           " discs; give a number in kB/s");
                return false;
            }
        } else {
            const auto speed = reader.integer(value, speedPath, 1e6);
            if (!speed)
                return false;
            if (*speed == 0) {
                reader.fail(speedPath, "a speed must be above 0");
                return false;
            }
            disc.eraseSpeedKBps = unsigned(*speed);
        }
    }
    if (!disc.label.empty() && !disc.image.empty()) {
        reader.fail(path, "give either \"label\" or \"image\", not both");
        return false;
    }

    const bool hasContent = !disc.label.empty() || !disc.image.empty();
    if (hasContent &&
        (isOverwritable(disc.profile) ? !disc.formatted : disc.state == DiscState::Blank)) {
        reader.fail(path, "a blank disc holds no label or image");
        return false;
    }
    if (isOverwritable(disc.profile)) {
        disc.state = disc.formatted ? DiscState::Complete : DiscState::Blank;
        if (disc.profile == 0x12 || disc.profile == 0x13)
            disc.formatted = true;
        disc.usedBlocks = used != UINT32_MAX ? used : 0;
    } else if (disc.state == DiscState::Blank) {
        disc.usedBlocks = 0;
        disc.tracks = 0;
        disc.sessions = 0;
        if (freeBlocks != UINT32_MAX)
            disc.capacityBlocks = freeBlocks;
    } else {
        disc.usedBlocks = used != UINT32_MAX ? used : disc.capacityBlocks / 4;
        if (disc.state == DiscState::Appendable && freeBlocks != UINT32_MAX)
            disc.capacityBlocks = disc.usedBlocks + freeBlocks;
        else if (disc.state == DiscState::Complete)
            disc.capacityBlocks = std::max(disc.capacityBlocks, disc.usedBlocks);
    }
    if (disc.usedBlocks > disc.capacityBlocks) {
        reader.fail(ScenarioReader::join(path, "usedBytes"), "larger than the disc's capacity");
        return false;
    }
    disc.sessions = std::min(disc.sessions, std::max(1u, disc.tracks));
    drive.disc = disc;
    return true;
}

bool parseDrive(ScenarioReader &reader, const QJsonObject &object, const std::string &path,
                size_t index, DriveSpec &drive)
{
    if (!reader.checkKeys(object, path,
                          {"model", "vendor", "product", "revision", "address", "systemNumber",
                           "bufferKiB", "profiles", "features", "speeds", "speedRule", "region",
                           "tray", "mounted", "disc", "timing", "faults", "quirks"}))
        return false;
    const auto key = [&](const char *name) { return ScenarioReader::join(path, name); };

    std::string model = "dvd-writer";
    if (object.contains("model")) {
        const auto name = reader.string(object["model"], key("model"));
        if (!name)
            return false;
        if (!models().contains(*name)) {
            reader.fail(key("model"), "\"" + *name +
                                          "\" is not one of cd-rom, cd-writer, dvd-rom, "
                                          "dvd-writer, bd-writer");
            return false;
        }
        model = *name;
    }
    drive.profiles = models().at(model);
    static const std::map<std::string, std::string> products = {
        {"cd-rom", "Virtual CD-ROM"},   {"cd-writer", "Virtual CD-RW"},
        {"dvd-rom", "Virtual DVD-ROM"}, {"dvd-writer", "Virtual DVD-RW"},
        {"bd-writer", "Virtual BD-RE"},
    };
    drive.product = products.at(model);
    drive.target = uint8_t(index);
    drive.systemNumber = int(index);
    if (model != "cd-rom" && model != "cd-writer")
        drive.region = RegionState{};

    for (const auto &[name, target] :
         {std::pair{"vendor", &drive.vendor}, std::pair{"product", &drive.product},
          std::pair{"revision", &drive.revision}, std::pair{"mounted", &drive.mountPoint}}) {
        if (!object.contains(name))
            continue;
        const auto text = reader.string(object[name], key(name));
        if (!text)
            return false;
        *target = *text;
    }
    if (drive.product.find("Virtual") == std::string::npos) {
        reader.fail(key("product"), "a virtual drive's product name must say \"Virtual\"");
        return false;
    }
    if (drive.vendor.size() > 8 || drive.product.size() > 16 || drive.revision.size() > 4) {
        reader.fail(path, "vendor, product and revision hold at most 8, 16 and 4 characters");
        return false;
    }
    if (object.contains("address")) {
        const auto text = reader.string(object["address"], key("address"));
        if (!text)
            return false;
        unsigned h, c, t, l;
        char tail;
        if (std::sscanf(text->c_str(), "%u:%u:%u:%u%c", &h, &c, &t, &l, &tail) != 4 || h > 255 ||
            c > 255 || t > 255 || l > 255) {
            reader.fail(key("address"), "\"" + *text + "\" is not a SCSI address like \"1:0:0:0\"");
            return false;
        }
        drive.host = uint8_t(h);
        drive.channel = uint8_t(c);
        drive.target = uint8_t(t);
        drive.lun = uint8_t(l);
    }
    if (object.contains("systemNumber")) {
        const auto number = reader.integer(object["systemNumber"], key("systemNumber"), 255);
        if (!number)
            return false;
        drive.systemNumber = int(*number);
    }
    if (object.contains("bufferKiB")) {
        const auto size = reader.integer(object["bufferKiB"], key("bufferKiB"), 65535);
        if (!size)
            return false;
        drive.bufferKiB = *size;
    }
    if (object.contains("profiles")) {
        if (!object["profiles"].isArray()) {
            reader.fail(key("profiles"),
                        "expected an array, found " + ScenarioReader::typeName(object["profiles"]));
            return false;
        }
        drive.profiles.clear();
        const QJsonArray list = object["profiles"].toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const auto profile =
                reader.profile(list[i], key("profiles") + "[" + std::to_string(i) + "]");
            if (!profile)
                return false;
            drive.profiles.push_back(*profile);
        }
        std::sort(drive.profiles.begin(), drive.profiles.end());
        drive.profiles.erase(std::unique(drive.profiles.begin(), drive.profiles.end()),
                             drive.profiles.end());
    }
    if (object.contains("features")) {
        if (!object["features"].isArray()) {
            reader.fail(key("features"),
                        "expected an array, found " + ScenarioReader::typeName(object["features"]));
            return false;
        }
        std::set<uint16_t> features;
        const QJsonArray list = object["features"].toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const auto code =
                reader.integer(list[i], key("features") + "[" + std::to_string(i) + "]", 0xFFFF);
            if (!code)
                return false;
            features.insert(uint16_t(*code));
        }
        drive.features = features;
    }
    for (uint16_t profile : drive.profiles)
        drive.speeds[profile] = defaultSpeeds(profile);
    if (object.contains("speeds")) {
        const auto speeds = reader.object(object["speeds"], key("speeds"));
        if (!speeds)
            return false;
        for (auto it = speeds->begin(); it != speeds->end(); ++it) {
            const std::string itemPath = key("speeds") + "." + it.key().toStdString();
            const auto profile = reader.profile(QJsonValue(it.key()), itemPath);
            const auto entry = profile ? reader.object(it.value(), itemPath) : std::nullopt;
            if (!entry || !reader.checkKeys(*entry, itemPath, {"read", "write"}))
                return false;
            SpeedSet &set = drive.speeds[*profile];
            for (const auto &[name, target] :
                 {std::pair{"read", &set.read}, std::pair{"write", &set.write}}) {
                if (!entry->contains(name))
                    continue;
                const auto list =
                    speedList(reader, (*entry)[name], ScenarioReader::join(itemPath, name));
                if (!list)
                    return false;
                *target = *list;
            }
        }
    }
    if (object.contains("speedRule")) {
        const auto rule = reader.string(object["speedRule"], key("speedRule"));
        if (!rule)
            return false;
        if (*rule != "lower" && *rule != "nearest") {
            reader.fail(key("speedRule"), "\"" + *rule + "\" is not one of lower, nearest");
            return false;
        }
        drive.speedRule = *rule == "lower" ? SpeedRule::NextLower : SpeedRule::Nearest;
    }
    if (object.contains("region")) {
        if (object["region"].isNull()) {
            drive.region.reset();
        } else {
            const auto region = reader.object(object["region"], key("region"));
            if (!region ||
                !reader.checkKeys(*region, key("region"),
                                  {"typeCode", "vendorResets", "userChanges", "mask", "scheme"}))
                return false;
            RegionState state;
            for (const auto &[name, target, max] :
                 {std::tuple{"typeCode", &state.typeCode, 3.0},
                  std::tuple{"vendorResets", &state.vendorResets, 7.0},
                  std::tuple{"userChanges", &state.userChanges, 7.0},
                  std::tuple{"mask", &state.mask, 255.0},
                  std::tuple{"scheme", &state.scheme, 255.0}}) {
                if (!region->contains(name))
                    continue;
                const auto value =
                    reader.integer((*region)[name], ScenarioReader::join(key("region"), name), max);
                if (!value)
                    return false;
                *target = uint8_t(*value);
            }
            drive.region = state;
        }
    }
    if (object.contains("tray")) {
        const auto tray = reader.string(object["tray"], key("tray"));
        if (!tray)
            return false;
        if (*tray != "open" && *tray != "closed") {
            reader.fail(key("tray"), "\"" + *tray + "\" is not one of open, closed");
            return false;
        }
        drive.trayOpen = *tray == "open";
    }
    if (object.contains("disc") && !object["disc"].isNull()) {
        const auto disc = reader.object(object["disc"], key("disc"));
        if (!disc || !parseDisc(reader, *disc, key("disc"), drive))
            return false;
    }
    if (object.contains("timing")) {
        const auto timing = reader.object(object["timing"], key("timing"));
        if (!timing ||
            !reader.checkKeys(*timing, key("timing"),
                              {"commandMs", "blankFastSeconds", "blankFullSeconds",
                               "formatFastSeconds", "formatFullSeconds", "formatForegroundSeconds",
                               "bridgeNotReadySeconds", "writeAtSpeed"}))
            return false;
        if (timing->contains("writeAtSpeed")) {
            const auto atSpeed = reader.boolean(
                (*timing)["writeAtSpeed"], ScenarioReader::join(key("timing"), "writeAtSpeed"));
            if (!atSpeed)
                return false;
            drive.timing.writeAtSpeed = *atSpeed;
        }
        for (const auto &[name, target] :
             {std::pair{"commandMs", &drive.timing.commandLatencyMs},
              std::pair{"blankFastSeconds", &drive.timing.blankFastSeconds},
              std::pair{"blankFullSeconds", &drive.timing.blankFullSeconds},
              std::pair{"formatFastSeconds", &drive.timing.formatFastSeconds},
              std::pair{"formatFullSeconds", &drive.timing.formatFullSeconds},
              std::pair{"formatForegroundSeconds", &drive.timing.formatForegroundSeconds},
              std::pair{"bridgeNotReadySeconds", &drive.timing.bridgeNotReadySeconds}}) {
            if (!timing->contains(name))
                continue;
            const auto value =
                reader.number((*timing)[name], ScenarioReader::join(key("timing"), name), 0, 1e7);
            if (!value)
                return false;
            *target = *value;
        }
    }
    if (object.contains("faults")) {
        const auto faults = reader.object(object["faults"], key("faults"));
        if (!faults || !parseFaults(reader, *faults, key("faults"), drive.faults))
            return false;
    }
    if (object.contains("quirks")) {
        const auto quirks = reader.object(object["quirks"], key("quirks"));
        if (!quirks || !parseQuirks(reader, *quirks, key("quirks"), drive.quirks))
            return false;
    }
    return true;
}

std::string positionOf(const std::string &text, int offset)
{
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < int(text.size()); ++i) {
        if (text[size_t(i)] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

} // namespace

std::optional<BaySpec> parseScenario(const std::string &json, const std::string &source,
                                     std::string &error)
{
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(json), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = source + ": " + positionOf(json, parseError.offset) + ": " +
                parseError.errorString().toStdString();
        return std::nullopt;
    }
    ScenarioReader reader(source);
    BaySpec bay;
    const auto top = reader.object(
        document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()), "");
    if (top && reader.checkKeys(*top, "", {"timeFactor", "drives"})) {
        if (top->contains("timeFactor")) {
            if (const auto factor = reader.number((*top)["timeFactor"], "timeFactor", 0, 1e6))
                bay.timeFactor = *factor;
        }
        if (!top->contains("drives") || !(*top)["drives"].isArray()) {
            reader.fail("drives", top->contains("drives")
                                      ? "expected an array, found " +
                                            ScenarioReader::typeName((*top)["drives"])
                                      : std::string("missing (an array of drives)"));
        } else {
            const QJsonArray drives = (*top)["drives"].toArray();
            for (qsizetype i = 0; i < drives.size() && !reader.failed(); ++i) {
                const std::string path = "drives[" + std::to_string(i) + "]";
                DriveSpec drive;
                const auto object = reader.object(drives[i], path);
                if (object && parseDrive(reader, *object, path, size_t(i), drive))
                    bay.drives.push_back(std::move(drive));
            }
        }
    }
    for (size_t i = 0; i < bay.drives.size() && !reader.failed(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            const DriveSpec &a = bay.drives[i], &b = bay.drives[j];
            if (a.systemNumber == b.systemNumber)
                reader.fail("drives[" + std::to_string(i) + "].systemNumber",
                            "already used by drives[" + std::to_string(j) + "]");
            else if (std::tie(a.host, a.channel, a.target, a.lun) ==
                     std::tie(b.host, b.channel, b.target, b.lun))
                reader.fail("drives[" + std::to_string(i) + "].address",
                            "already used by drives[" + std::to_string(j) + "]");
        }
    }
    if (reader.failed()) {
        error = reader.error();
        return std::nullopt;
    }
    return bay;
}

} // namespace blankora::virtualbay
