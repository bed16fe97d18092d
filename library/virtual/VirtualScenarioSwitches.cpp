#include "library/virtual/VirtualScenarioSwitches.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <tuple>

namespace blankora::virtualbay {

namespace {

std::optional<int> osErrorCode(ScenarioReader &reader, const QJsonValue &value,
                               const std::string &path)
{
    static const std::map<std::string, int> names = {
        {"EACCES", EACCES}, {"EPERM", EPERM}, {"ENOENT", ENOENT}, {"ENXIO", ENXIO},
        {"ENODEV", ENODEV}, {"EBUSY", EBUSY}, {"EIO", EIO},       {"ENOMEM", ENOMEM},
    };
    if (value.isString()) {
        const auto found = names.find(value.toString().toStdString());
        if (found != names.end())
            return found->second;
        reader.fail(path,
                    "unknown error \"" + value.toString().toStdString() +
                        "\" (use EACCES, EPERM, ENOENT, ENXIO, ENODEV, EBUSY, EIO or ENOMEM)");
        return std::nullopt;
    }
    const auto number = reader.integer(value, path, 4095);
    if (!number)
        return std::nullopt;
    return int(*number);
}

// A host status by its kernel name or number (DID_NO_CONNECT 1, DID_BAD_TARGET
// 4, DID_ERROR 7).
std::optional<int> hostStatusCode(ScenarioReader &reader, const QJsonValue &value,
                                  const std::string &path)
{
    static const std::map<std::string, int> names = {{"DID_NO_CONNECT", 0x01},
                                                     {"DID_TIME_OUT", 0x03},
                                                     {"DID_BAD_TARGET", 0x04},
                                                     {"DID_ERROR", 0x07}};
    if (value.isString()) {
        const auto found = names.find(value.toString().toStdString());
        if (found != names.end())
            return found->second;
        reader.fail(path, "unknown host status \"" + value.toString().toStdString() +
                              "\" (use DID_NO_CONNECT, DID_TIME_OUT, DID_BAD_TARGET, DID_ERROR "
                              "or a number)");
        return std::nullopt;
    }
    const auto number = reader.integer(value, path, 255);
    if (!number)
        return std::nullopt;
    if (*number == 0) {
        reader.fail(path, "host status 0 is no fault");
        return std::nullopt;
    }
    return int(*number);
}

// One command's answer below the SCSI level from "hostStatus", "errno" or
// "driverTimeout"; nothing when the item has none of them.
std::optional<LinkFault> linkFault(ScenarioReader &reader, const QJsonObject &item,
                                   const std::string &path, bool &ok)
{
    ok = true;
    int given = 0;
    LinkFault fault;
    if (item.contains("hostStatus")) {
        const auto code =
            hostStatusCode(reader, item["hostStatus"], ScenarioReader::join(path, "hostStatus"));
        ok = code.has_value();
        fault.hostStatus = code.value_or(0);
        ++given;
    }
    if (ok && item.contains("errno")) {
        const auto code = osErrorCode(reader, item["errno"], ScenarioReader::join(path, "errno"));
        ok = code.has_value();
        fault.osError = code.value_or(0);
        ++given;
    }
    if (ok && item.contains("driverTimeout")) {
        const auto flag =
            reader.boolean(item["driverTimeout"], ScenarioReader::join(path, "driverTimeout"));
        ok = flag.has_value();
        if (flag.value_or(false)) {
            fault.driverStatus = 0x06; // DRIVER_TIMEOUT, host status 0
            ++given;
        }
    }
    if (ok && given > 1) {
        reader.fail(path, "give one of \"hostStatus\", \"errno\" and \"driverTimeout\"");
        ok = false;
    }
    if (!ok || given == 0)
        return std::nullopt;
    return fault;
}

} // namespace

bool parseFaults(ScenarioReader &reader, const QJsonObject &object, const std::string &path,
                 Faults &faults)
{
    if (!reader.checkKeys(object, path,
                          {"open", "readOnly", "notReady", "becomingReady", "sense", "blankFailsAt",
                           "blankFailSense", "ejectFails", "lockFails", "blankRefused",
                           "vanishAfter", "vanishDuringJob", "vanishAs", "busyAfterDiscChange",
                           "garbage", "progress"}))
        return false;
    const auto key = [&](const char *name) { return ScenarioReader::join(path, name); };
    if (object.contains("open")) {
        const auto code = osErrorCode(reader, object["open"], key("open"));
        if (!code)
            return false;
        faults.openError = *code;
    }
    for (const auto &[name, target] :
         {std::pair{"readOnly", &faults.readOnly}, std::pair{"notReady", &faults.notReady}}) {
        if (!object.contains(name))
            continue;
        const auto flag = reader.boolean(object[name], key(name));
        if (!flag)
            return false;
        *target = *flag;
    }
    if (object.contains("sense")) {
        if (!object["sense"].isArray()) {
            reader.fail(key("sense"),
                        "expected an array, found " + ScenarioReader::typeName(object["sense"]));
            return false;
        }
        const QJsonArray list = object["sense"].toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const std::string itemPath = key("sense") + "[" + std::to_string(i) + "]";
            const auto item = reader.object(list[i], itemPath);
            if (!item || !reader.checkKeys(*item, itemPath,
                                           {"opcode", "sense", "timeout", "hostStatus", "errno",
                                            "driverTimeout", "duringJob", "mode", "after"}))
                return false;
            Injection injection;
            if (item->contains("opcode") && (*item)["opcode"] != QJsonValue("any")) {
                const auto opcode = reader.integer((*item)["opcode"],
                                                   ScenarioReader::join(itemPath, "opcode"), 255);
                if (!opcode)
                    return false;
                injection.opcode = int(*opcode);
            }
            if (item->contains("timeout")) {
                const auto flag =
                    reader.boolean((*item)["timeout"], ScenarioReader::join(itemPath, "timeout"));
                if (!flag)
                    return false;
                injection.timeout = *flag;
            }
            bool linkOk = true;
            injection.link = linkFault(reader, *item, itemPath, linkOk);
            if (!linkOk)
                return false;
            if (item->contains("duringJob")) {
                const auto flag = reader.boolean((*item)["duringJob"],
                                                 ScenarioReader::join(itemPath, "duringJob"));
                if (!flag)
                    return false;
                injection.duringJob = *flag;
            }
            if (item->contains("sense")) {
                const auto sense =
                    reader.sense((*item)["sense"], ScenarioReader::join(itemPath, "sense"));
                if (!sense)
                    return false;
                injection.sense = *sense;
            } else if (!injection.timeout && !injection.link) {
                reader.fail(ScenarioReader::join(itemPath, "sense"), "missing (e.g. \"03/11/00\")");
                return false;
            }
            if (item->contains("mode")) {
                const std::string modePath = ScenarioReader::join(itemPath, "mode");
                if ((*item)["mode"].isDouble()) {
                    const auto times = reader.integer((*item)["mode"], modePath, 1e9);
                    if (!times)
                        return false;
                    if (*times == 0) {
                        reader.fail(modePath, "answer at least once");
                        return false;
                    }
                    injection.times = unsigned(*times);
                } else {
                    const auto mode = reader.string((*item)["mode"], modePath);
                    if (!mode)
                        return false;
                    if (*mode != "once" && *mode != "always") {
                        reader.fail(modePath,
                                    "\"" + *mode + "\" is not one of once, always or a count");
                        return false;
                    }
                    injection.mode = *mode == "once" ? InjectMode::Once : InjectMode::Always;
                }
            }
            if (item->contains("after")) {
                const auto after =
                    reader.integer((*item)["after"], ScenarioReader::join(itemPath, "after"), 1e9);
                if (!after)
                    return false;
                injection.after = *after;
            }
            faults.injections.push_back(injection);
        }
    }
    if (object.contains("becomingReady")) {
        const auto seconds = reader.number(object["becomingReady"], key("becomingReady"), 0, 3600);
        if (!seconds)
            return false;
        faults.becomingReadySeconds = *seconds;
    }
    if (object.contains("blankFailsAt")) {
        const auto at = reader.number(object["blankFailsAt"], key("blankFailsAt"), 0, 1);
        if (!at)
            return false;
        faults.blankFailsAt = *at;
    }
    if (object.contains("blankFailSense")) {
        const auto sense = reader.sense(object["blankFailSense"], key("blankFailSense"));
        if (!sense)
            return false;
        faults.blankFailSense = *sense;
    }
    if (object.contains("blankRefused")) {
        const auto sense = reader.sense(object["blankRefused"], key("blankRefused"));
        if (!sense)
            return false;
        faults.blankRefused = *sense;
    }
    const auto optionalSense = [&](const char *name, Sense fallback, std::optional<Sense> &target) {
        if (!object.contains(name))
            return true;
        if (object[name].isBool()) {
            if (object[name].toBool())
                target = fallback;
            return true;
        }
        const auto sense = reader.sense(object[name], key(name));
        target = sense;
        return sense.has_value();
    };
    if (!optionalSense("ejectFails", Sense{0x04, 0x53, 0x00}, faults.ejectFails) ||
        !optionalSense("lockFails", Sense{0x05, 0x24, 0x00}, faults.lockFails))
        return false;
    if (object.contains("vanishAfter")) {
        const auto count = reader.integer(object["vanishAfter"], key("vanishAfter"), 1e9);
        if (!count)
            return false;
        faults.vanishAfter = int(*count);
    }
    if (object.contains("vanishDuringJob")) {
        const auto at = reader.number(object["vanishDuringJob"], key("vanishDuringJob"), 0, 1);
        if (!at)
            return false;
        faults.vanishDuringJob = *at;
    }
    if (object.contains("vanishAs")) {
        const auto name = reader.string(object["vanishAs"], key("vanishAs"));
        if (!name)
            return false;
        static const std::map<std::string, LinkFault> kinds = {
            {"ENODEV", LinkFault{ENODEV}},
            {"ENXIO", LinkFault{ENXIO}},
            {"DID_NO_CONNECT", LinkFault{0, 0x01}},
            {"DID_BAD_TARGET", LinkFault{0, 0x04}}};
        const auto found = kinds.find(*name);
        if (found == kinds.end()) {
            reader.fail(key("vanishAs"),
                        "\"" + *name +
                            "\" is not one of ENODEV, ENXIO, DID_NO_CONNECT, DID_BAD_TARGET");
            return false;
        }
        faults.vanishAs = found->second;
    }
    if (object.contains("busyAfterDiscChange")) {
        const auto count =
            reader.integer(object["busyAfterDiscChange"], key("busyAfterDiscChange"), 1000);
        if (!count)
            return false;
        faults.busyAfterDiscChange = unsigned(*count);
    }
    if (object.contains("garbage")) {
        const QJsonValue garbage = object["garbage"];
        if (garbage.isBool()) {
            faults.garbageAll = garbage.toBool();
        } else if (garbage.isArray()) {
            const QJsonArray list = garbage.toArray();
            for (qsizetype i = 0; i < list.size(); ++i) {
                const auto opcode =
                    reader.integer(list[i], key("garbage") + "[" + std::to_string(i) + "]", 255);
                if (!opcode)
                    return false;
                faults.garbageOpcodes.insert(int(*opcode));
            }
        } else {
            reader.fail(key("garbage"), "expected true or a list of opcodes, found " +
                                            ScenarioReader::typeName(garbage));
            return false;
        }
    }
    if (object.contains("progress")) {
        const auto mode = reader.string(object["progress"], key("progress"));
        if (!mode)
            return false;
        if (*mode == "testUnitReady")
            faults.progress = ProgressReport::TestUnitReady;
        else if (*mode == "requestSense")
            faults.progress = ProgressReport::RequestSense;
        else if (*mode == "none")
            faults.progress = ProgressReport::None;
        else {
            reader.fail(key("progress"),
                        "\"" + *mode + "\" is not one of testUnitReady, requestSense, none");
            return false;
        }
    }
    return true;
}

bool parseQuirks(ScenarioReader &reader, const QJsonObject &object, const std::string &path,
                 Quirks &quirks)
{
    if (!reader.checkKeys(object, path,
                          {"backgroundFormat", "earlyReady", "readySense", "senseFormat",
                           "deferredErrors", "attentionAfterErase", "certification",
                           "kernelTimeouts", "deferredTakenElsewhere", "partlyRefusesWrite",
                           "stopUnitStopsFormat", "bridge", "certificationRefused"}))
        return false;
    const auto key = [&](const char *name) { return ScenarioReader::join(path, name); };
    for (const auto &[name, target] :
         {std::pair{"backgroundFormat", &quirks.backgroundFormat},
          std::pair{"deferredErrors", &quirks.deferredErrors},
          std::pair{"kernelTimeouts", &quirks.kernelTimeouts},
          std::pair{"deferredTakenElsewhere", &quirks.deferredTakenElsewhere},
          std::pair{"partlyRefusesWrite", &quirks.partlyRefusesWrite},
          std::pair{"stopUnitStopsFormat", &quirks.stopUnitStopsFormat},
          std::pair{"bridge", &quirks.bridge}}) {
        if (!object.contains(name))
            continue;
        const auto flag = reader.boolean(object[name], key(name));
        if (!flag)
            return false;
        *target = *flag;
    }
    if (object.contains("earlyReady")) {
        const auto seconds = reader.number(object["earlyReady"], key("earlyReady"), 0, 1e7);
        if (!seconds)
            return false;
        quirks.earlyReadySeconds = *seconds;
    }
    if (object.contains("readySense")) {
        const auto sense = reader.sense(object["readySense"], key("readySense"));
        if (!sense)
            return false;
        if (sense->key > 1) {
            reader.fail(key("readySense"),
                        "a ready unit reports sense key 0 (NO SENSE) or 1 (RECOVERED ERROR)");
            return false;
        }
        quirks.readySense = sense;
    }
    if (object.contains("senseFormat")) {
        const auto format = reader.string(object["senseFormat"], key("senseFormat"));
        if (!format)
            return false;
        if (*format != "fixed" && *format != "descriptor") {
            reader.fail(key("senseFormat"), "\"" + *format + "\" is not one of fixed, descriptor");
            return false;
        }
        quirks.descriptorSense = *format == "descriptor";
    }
    if (object.contains("attentionAfterErase")) {
        const auto sense = reader.sense(object["attentionAfterErase"], key("attentionAfterErase"));
        if (!sense)
            return false;
        if (sense->key != 6) {
            reader.fail(key("attentionAfterErase"), "a unit attention has sense key 6");
            return false;
        }
        quirks.attentionAfterErase = sense;
    }
    // "certification": what feature 0023h offers; "certificationRefused":
    // listed there too, but refused by FORMAT.
    for (const auto &[name, full, quick] :
         {std::tuple{"certification", &quirks.certifyFull, &quirks.certifyQuick},
          std::tuple{"certificationRefused", &quirks.refuseFull, &quirks.refuseQuick}}) {
        if (!object.contains(name))
            continue;
        const QJsonValue value = object[name];
        if (!value.isArray()) {
            reader.fail(key(name), "expected an array of \"full\" and \"quick\", found " +
                                       ScenarioReader::typeName(value));
            return false;
        }
        *full = *quick = false;
        const QJsonArray list = value.toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const std::string itemPath = key(name) + "[" + std::to_string(i) + "]";
            const auto mode = reader.string(list[i], itemPath);
            if (!mode)
                return false;
            if (*mode == "full")
                *full = true;
            else if (*mode == "quick")
                *quick = true;
            else {
                reader.fail(itemPath, "\"" + *mode + "\" is not one of full, quick");
                return false;
            }
        }
    }
    return true;
}

} // namespace blankora::virtualbay
