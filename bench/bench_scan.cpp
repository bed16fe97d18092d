// Times a device scan of bays of 1, 4 and 16 emulated drives against the sum
// of the latencies the drives emulated, and watches the user-interface thread
// meanwhile.
#include "BenchCommon.h"

#include "framework/sbDeviceList.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>

using namespace blankora::bench;

namespace {

constexpr double CommandMs = 5;
constexpr int Rounds = 3;
constexpr double RatioTarget = 1.05;
constexpr double GapTargetMs = 16;

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    double longestGap = 0;
    for (const TsbTransportType transport : {ttSpti, ttAspi}) {
        const QString transportName =
            transport == ttSpti ? QStringLiteral("spti") : QStringLiteral("aspi");
        for (const int drives : {1, 4, 16}) {
            auto bay = StartOnBay(BayJson(drives, CommandMs, 60));
            std::vector<double> ratios;
            std::vector<double> times;
            size_t found = 0;
            for (int round = 0; round < Rounds; ++round) {
                TsbDeviceFinder finder;
                finder.FTransportType = transport;
                ClearCommandLogs(*bay);
                TickMonitor monitor;
                monitor.start();
                QElapsedTimer clock;
                clock.start();
                finder.FindDevices(false);
                const double elapsedMs = clock.nsecsElapsed() / 1e6;
                monitor.stop();
                longestGap = std::max(longestGap, monitor.longestGapMs());
                found = size_t(finder.Devices()->Count());
                const double emulatedMs = double(CommandCount(*bay)) * CommandMs;
                times.push_back(elapsedMs);
                ratios.push_back(emulatedMs > 0 ? elapsedMs / emulatedMs : 0);
                if (round == Rounds - 1)
                    PrintFigure(
                        QStringLiteral("scan %1 %2 drives: time").arg(transportName).arg(drives),
                        Median(times), QStringLiteral("ms"),
                        QStringLiteral("emulated %1 ms: %2 commands x %3 ms, %4 found")
                            .arg(emulatedMs, 0, 'f', 1)
                            .arg(CommandCount(*bay))
                            .arg(CommandMs)
                            .arg(found),
                        found == size_t(drives));
            }
            const double ratio = Median(ratios);
            PrintFigure(
                QStringLiteral("scan %1 %2 drives: overhead ratio").arg(transportName).arg(drives),
                ratio, QStringLiteral("x"),
                QStringLiteral("target < %1, median of %2").arg(RatioTarget).arg(Rounds),
                ratio < RatioTarget);
            StopBay();
        }
    }
    PrintFigure(QStringLiteral("scan: longest UI gap"), longestGap, QStringLiteral("ms"),
                QStringLiteral("target < %1 ms, 5 ms timer").arg(GapTargetMs),
                longestGap < GapTargetMs);
    return 0;
}
