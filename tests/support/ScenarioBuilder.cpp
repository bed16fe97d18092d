#include "ScenarioBuilder.h"

#include <QFile>
#include <QJsonDocument>

namespace blankora::test {

ScenarioBuilder &ScenarioBuilder::timeFactor(double factor)
{
    FTimeFactor = factor;
    return *this;
}

ScenarioBuilder &ScenarioBuilder::drive(const QJsonObject &drive)
{
    FDrives.append(drive);
    return *this;
}

ScenarioBuilder &ScenarioBuilder::drive(const QString &model, const QString &profile,
                                        const QString &state, const QJsonObject &extra)
{
    QJsonObject object = extra;
    object.insert(QStringLiteral("model"), model);
    if (!profile.isEmpty()) {
        QJsonObject disc = object.value(QStringLiteral("disc")).toObject();
        disc.insert(QStringLiteral("profile"), profile);
        if (!disc.contains(QStringLiteral("state")) && !state.isEmpty())
            disc.insert(QStringLiteral("state"), state);
        object.insert(QStringLiteral("disc"), disc);
    }
    return drive(object);
}

std::string ScenarioBuilder::json() const
{
    QJsonObject top;
    top.insert(QStringLiteral("timeFactor"), FTimeFactor);
    top.insert(QStringLiteral("drives"), FDrives);
    return QJsonDocument(top).toJson().toStdString();
}

QString ScenarioBuilder::writeFile()
{
    const QString path = FDirectory.filePath(QStringLiteral("scenario.json"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::fromStdString(json()));
    return path;
}

std::shared_ptr<virtualbay::VirtualBay> ScenarioBuilder::build()
{
    return virtualbay::VirtualBay::fromJson(json(), FError, "test scenario");
}

Exchange send(transport::ScsiTransport &transport, std::initializer_list<uint8_t> cdb,
              size_t dataIn, const std::vector<uint8_t> &dataOut)
{
    Exchange exchange;
    exchange.data.assign(dataIn, 0);
    const std::vector<uint8_t> bytes(cdb);
    transport::ScsiCommand command;
    command.cdb = bytes;
    if (dataIn > 0) {
        command.direction = transport::DataDirection::FromDevice;
        command.dataIn = exchange.data;
    } else if (!dataOut.empty()) {
        command.direction = transport::DataDirection::ToDevice;
        command.dataOut = dataOut;
    }
    exchange.result = transport.execute(command);
    return exchange;
}

} // namespace blankora::test
