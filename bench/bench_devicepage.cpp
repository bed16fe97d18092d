// Times the device page as the user waits for it (the scan and the rows) on
// bays with the latencies of real drives, and watches the user-interface
// thread meanwhile.
#include "BenchCommon.h"

#include "framework/sbBurner.h"
#include "pages/ufrmSelectDevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <algorithm>

using namespace blankora::bench;

namespace {

constexpr double CommandMs = 30;
constexpr double SpinUpSeconds = 3;
constexpr double GapTargetMs = 16;
constexpr double SpinUpTarget = 1.2;
constexpr double SequentialTarget = 0.4;

struct TPageRun
{
    double ElapsedMs = 0;
    double LongestGapMs = 0;
    int Rows = 0;
    size_t Commands = 0;
};

// The bay of BayJson, with every disc spinning up for SpinUpSeconds when asked.
std::string PageBay(int Drives, bool SpinningUp)
{
    std::string Json = BayJson(Drives, CommandMs, 60);
    if (!SpinningUp)
        return Json;
    const std::string Timing = "\"timing\":";
    const std::string Faults =
        "\"faults\": {\"becomingReady\": " + std::to_string(SpinUpSeconds) + "}, ";
    for (size_t At = Json.find(Timing); At != std::string::npos;
         At = Json.find(Timing, At + Faults.size() + Timing.size()))
        Json.insert(At, Faults);
    return Json;
}

TPageRun ShowDevicePage(int Drives, bool SpinningUp)
{
    auto Bay = StartOnBay(PageBay(Drives, SpinningUp));
    TsbBurner Burner;
    Burner.FTransportType = ttSpti;
    TfrmSelectDevice Page;
    Page.FShowProgress = false;
    Page.FShowAllDevices = false;
    TPageRun Run;
    TickMonitor Monitor;
    Monitor.start();
    QElapsedTimer Clock;
    Clock.start();
    Page.AttachBurner(&Burner);
    Run.ElapsedMs = double(Clock.nsecsElapsed()) / 1e6;
    Monitor.stop();
    Run.LongestGapMs = Monitor.longestGapMs();
    Run.Rows = Page.findChild<QTreeWidget *>(QStringLiteral("lvDevices"))->topLevelItemCount();
    Run.Commands = CommandCount(*Bay);
    StopBay();
    return Run;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication Application(argc, argv);
    double LongestGap = 0;
    for (const int Drives : {1, 4, 16}) {
        const TPageRun Run = ShowDevicePage(Drives, false);
        LongestGap = std::max(LongestGap, Run.LongestGapMs);
        // Read one after the other, every command would follow the one before.
        const double SequentialMs = double(Run.Commands) * CommandMs;
        PrintFigure(QStringLiteral("device page, %1 drives at %2 ms: list complete")
                        .arg(Drives)
                        .arg(CommandMs),
                    Run.ElapsedMs, QStringLiteral("ms"),
                    QStringLiteral("%1 rows, sequential %2 ms, ratio %3%4")
                        .arg(Run.Rows)
                        .arg(SequentialMs, 0, 'f', 0)
                        .arg(Run.ElapsedMs / SequentialMs, 0, 'f', 2)
                        .arg(Drives == 16 ? QStringLiteral(", target < %1").arg(SequentialTarget)
                                          : QString()),
                    Run.Rows == Drives &&
                        (Drives != 16 || Run.ElapsedMs < SequentialTarget * SequentialMs));
    }
    const TPageRun One = ShowDevicePage(1, true);
    const TPageRun Four = ShowDevicePage(4, true);
    LongestGap = std::max({LongestGap, One.LongestGapMs, Four.LongestGapMs});
    PrintFigure(
        QStringLiteral("device page, 4 discs spinning up %1 s: complete").arg(SpinUpSeconds),
        Four.ElapsedMs, QStringLiteral("ms"),
        QStringLiteral("one such drive %1 ms, ratio %2, target < %3")
            .arg(One.ElapsedMs, 0, 'f', 0)
            .arg(Four.ElapsedMs / One.ElapsedMs, 0, 'f', 2)
            .arg(SpinUpTarget),
        Four.Rows == 4 && Four.ElapsedMs < SpinUpTarget * One.ElapsedMs);
    PrintFigure(QStringLiteral("device page: longest UI gap"), LongestGap, QStringLiteral("ms"),
                QStringLiteral("target < %1 ms, 5 ms timer").arg(GapTargetMs),
                LongestGap < GapTargetMs);
    return 0;
}
