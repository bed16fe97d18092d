#pragma once

// Reading scenario JSON with the path of every value kept for messages.

#include "library/virtual/VirtualScenario.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace blankora::virtualbay {

std::string knownProfileNames(); // "CD-ROM, CD-R, ..."
bool isKnownProfile(uint16_t profile);

// Walks a QJsonValue tree keeping the JSON path for messages.
class ScenarioReader
{
public:
    explicit ScenarioReader(std::string source) : FSource(std::move(source)) {}

    bool failed() const { return !FError.empty(); }
    const std::string &error() const { return FError; }

    void fail(const std::string &path, const std::string &what)
    {
        if (FError.empty())
            FError =
                FSource + ": " + (path.empty() ? std::string("top level") : path) + ": " + what;
    }

    bool checkKeys(const QJsonObject &object, const std::string &path,
                   std::initializer_list<const char *> known)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            const std::string key = it.key().toStdString();
            if (std::none_of(known.begin(), known.end(), [&](const char *k) { return key == k; })) {
                std::string list;
                for (const char *k : known)
                    list += (list.empty() ? "" : ", ") + std::string(k);
                fail(join(path, key), "unknown key (expected one of: " + list + ")");
                return false;
            }
        }
        return true;
    }

    static std::string join(const std::string &path, const std::string &key)
    {
        return path.empty() ? key : path + "." + key;
    }

    std::optional<QJsonObject> object(const QJsonValue &value, const std::string &path)
    {
        if (!value.isObject()) {
            fail(path, "expected an object, found " + typeName(value));
            return std::nullopt;
        }
        return value.toObject();
    }

    std::optional<std::string> string(const QJsonValue &value, const std::string &path)
    {
        if (!value.isString()) {
            fail(path, "expected a string, found " + typeName(value));
            return std::nullopt;
        }
        return value.toString().toStdString();
    }

    std::optional<bool> boolean(const QJsonValue &value, const std::string &path)
    {
        if (!value.isBool()) {
            fail(path, "expected true or false, found " + typeName(value));
            return std::nullopt;
        }
        return value.toBool();
    }

    std::optional<double> number(const QJsonValue &value, const std::string &path, double min,
                                 double max)
    {
        if (!value.isDouble()) {
            fail(path, "expected a number, found " + typeName(value));
            return std::nullopt;
        }
        const double result = value.toDouble();
        if (!(result >= min && result <= max)) {
            fail(path, "value " + QString::number(result).toStdString() + " is outside " +
                           QString::number(min).toStdString() + ".." +
                           QString::number(max).toStdString());
            return std::nullopt;
        }
        return result;
    }

    // A number or a "0x.." string, integral. 64 bits wide: byte sizes of DVDs
    // and BDs do not fit 32.
    std::optional<uint64_t> integer(const QJsonValue &value, const std::string &path, double max)
    {
        if (value.isString()) {
            bool ok = false;
            const uint64_t result = value.toString().toULongLong(&ok, 0);
            if (!ok || result > max) {
                fail(path, "\"" + value.toString().toStdString() + "\" is not a number up to " +
                               QString::number(max, 'f', 0).toStdString());
                return std::nullopt;
            }
            return result;
        }
        const auto result = number(value, path, 0, max);
        if (!result)
            return std::nullopt;
        if (std::floor(*result) != *result) {
            fail(path, "expected a whole number");
            return std::nullopt;
        }
        return uint64_t(*result);
    }

    std::optional<Sense> sense(const QJsonValue &value, const std::string &path)
    {
        const auto text = string(value, path);
        if (!text)
            return std::nullopt;
        unsigned key, asc, ascq;
        char tail;
        if (std::sscanf(text->c_str(), "%x/%x/%x%c", &key, &asc, &ascq, &tail) != 3 || key > 15 ||
            asc > 255 || ascq > 255) {
            fail(path, "\"" + *text + "\" is not a sense triple like \"03/51/00\"");
            return std::nullopt;
        }
        return Sense{uint8_t(key), uint8_t(asc), uint8_t(ascq)};
    }

    std::optional<uint16_t> profile(const QJsonValue &value, const std::string &path)
    {
        if (value.isString()) {
            if (auto known = profileFromName(value.toString().toStdString()))
                return known;
        }
        if (value.isDouble()) {
            const double number = value.toDouble();
            if (number >= 0 && number <= 0xFFFF && isKnownProfile(uint16_t(number)))
                return uint16_t(number);
        }
        const std::string shown = value.isString() ? "\"" + value.toString().toStdString() + "\""
                                  : value.isDouble()
                                      ? QString::number(value.toDouble()).toStdString()
                                      : typeName(value);
        fail(path, "unknown profile " + shown + " (known: " + knownProfileNames() + ")");
        return std::nullopt;
    }

    static std::string typeName(const QJsonValue &value)
    {
        switch (value.type()) {
        case QJsonValue::Null:
            return "null";
        case QJsonValue::Bool:
            return "a boolean";
        case QJsonValue::Double:
            return "a number";
        case QJsonValue::String:
            return "a string";
        case QJsonValue::Array:
            return "an array";
        case QJsonValue::Object:
            return "an object";
        case QJsonValue::Undefined:
            break;
        }
        return "nothing";
    }

private:
    std::string FSource;
    std::string FError;
};

} // namespace blankora::virtualbay
