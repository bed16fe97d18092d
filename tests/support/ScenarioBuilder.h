#pragma once

#include "library/transport/ScsiTransport.h"
#include "library/virtual/VirtualBay.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace blankora::test {

// Describes a virtual drive bay in a few lines, then writes it as a scenario
// file (for code that reads BLANKORA_VIRTUAL_DRIVES) or builds it in-process.
class ScenarioBuilder
{
public:
    ScenarioBuilder &timeFactor(double factor);
    // Adds a drive object as the scenario format spells it.
    ScenarioBuilder &drive(const QJsonObject &drive);
    // Adds a drive of `model` ("cd-writer", "dvd-writer", ...) holding a disc
    // of `profile` ("CD-RW", ...) in `state`; an empty profile leaves it empty.
    ScenarioBuilder &drive(const QString &model, const QString &profile,
                           const QString &state = QStringLiteral("complete"),
                           const QJsonObject &extra = {});

    std::string json() const;
    // Path of the written scenario file; the file lives as long as the builder.
    QString writeFile();
    // Builds the bay; null with lastError() set when the scenario is refused.
    std::shared_ptr<virtualbay::VirtualBay> build();
    const std::string &lastError() const { return FError; }

private:
    double FTimeFactor = 0;
    QJsonArray FDrives;
    QTemporaryDir FDirectory;
    std::string FError;
};

// One CDB sent through a transport, with its reply.
struct Exchange
{
    transport::ScsiResult result;
    std::vector<uint8_t> data; // the whole buffer passed as data-in

    size_t transferred() const { return result.transferred(data.size()); }
    unsigned be16(size_t at) const { return unsigned(data.at(at) << 8 | data.at(at + 1)); }
    uint32_t be32(size_t at) const { return uint32_t(be16(at)) << 16 | be16(at + 2); }
};

Exchange send(transport::ScsiTransport &transport, std::initializer_list<uint8_t> cdb,
              size_t dataIn = 0, const std::vector<uint8_t> &dataOut = {});

} // namespace blankora::test
