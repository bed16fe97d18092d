#include "BenchCommon.h"

#include "library/StarBurn.h"

#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace blankora::bench {

TickMonitor::TickMonitor()
{
    // A coarse timer may fire up to 5 % late by design; the gap must be the loop's own.
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(5);
    connect(&FTimer, &QTimer::timeout, this, &TickMonitor::tick);
}

void TickMonitor::start()
{
    FLongestNs = 0;
    FTicks = 0;
    FClock.start();
    FLastNs = 0;
    FTimer.start();
}

void TickMonitor::stop()
{
    // The time since the last tick counts too: a loop blocked up to the end shows here.
    tick();
    FTimer.stop();
}

void TickMonitor::tick()
{
    const qint64 now = FClock.nsecsElapsed();
    FLongestNs = std::max(FLongestNs, now - FLastNs);
    FLastNs = now;
    ++FTicks;
}

std::string BayJson(int count, double commandMs, double blankSeconds)
{
    QString drives;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            drives += QLatin1Char(',');
        drives += QStringLiteral(
                      R"({"model": "cd-writer", "product": "Virtual CD-RW %1", "systemNumber": %1,
 "address": "1:0:%1:0", "disc": {"profile": "CD-RW", "state": "complete", "usedBytes": 10485760},
 "timing": {"commandMs": %2, "blankFastSeconds": %3}})")
                      .arg(i)
                      .arg(commandMs)
                      .arg(blankSeconds);
    }
    return QStringLiteral(R"({"timeFactor": 1, "drives": [%1]})").arg(drives).toStdString();
}

std::shared_ptr<virtualbay::VirtualBay> StartOnBay(const std::string &json)
{
    std::string error;
    std::shared_ptr<virtualbay::VirtualBay> bay = virtualbay::VirtualBay::fromJson(json, error);
    if (!bay) {
        std::fprintf(stderr, "The benchmark bay was refused: %s\n", error.c_str());
        std::exit(2);
    }
    virtualbay::VirtualBay::install(bay);
    if (StarBurn_UpStartEx() != EN_SUCCESS) {
        std::fprintf(stderr, "The library did not start: %s\n", StarBurn_GetLastStartUpError());
        std::exit(2);
    }
    return bay;
}

void StopBay()
{
    StarBurn_DownShut();
    virtualbay::VirtualBay::install(nullptr);
}

size_t CommandCount(virtualbay::VirtualBay &bay)
{
    size_t count = 0;
    for (size_t i = 0; i < bay.driveCount(); ++i)
        count += bay.drive(i).commandLog().size();
    return count;
}

void ClearCommandLogs(virtualbay::VirtualBay &bay)
{
    for (size_t i = 0; i < bay.driveCount(); ++i)
        bay.drive(i).clearCommandLog();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintFigure(const QString &name, double value, const QString &unit, const QString &reference,
                 bool met)
{
    QTextStream out(stdout);
    out << qSetFieldWidth(54) << Qt::left << name << qSetFieldWidth(0)
        << QString::number(value, 'f', unit == QLatin1String("x") ? 3 : 1) << ' ' << unit << "  ("
        << reference << ")  " << (met ? "ok" : "MISSED") << Qt::endl;
}

} // namespace blankora::bench
