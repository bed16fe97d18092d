// Times the wizard's erase, from Next on the summary page (the wizard window
// driven by clicks) and from the start of the operation page's run, to the
// "Erase completed" line, against a blank of fixed emulated length, and
// watches the user-interface thread meanwhile.
#include "BenchCommon.h"

#include "app/uProgram.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"

#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErase.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "library/StarBurn.h"
#include "pages/ufrmFinalAction.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTextStream>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

using namespace blankora::bench;

namespace {

// Not a multiple of the poll interval, so the end falls between two polls.
constexpr double BlankSeconds = 1.525;
constexpr int Rounds = 3;
constexpr double OverheadTargetMs = 700;
constexpr double GapTargetMs = 16;
// The overhead is measured with instant commands; the gap at a real drive's
// time for a command, so that the steps around the blank count.
constexpr double OverheadCommandMs = 0;
constexpr double GapCommandMs = 30;
// The command time of the rounds being run.
double CommandMs = OverheadCommandMs;

struct RunResult
{
    double completedMs = -1; // -1: the line never came
    double longestGapMs = 0;
    QString failure;
};

// Notes the moment the operation page shows "Erase completed"; a row gets
// its text after it is inserted, so the text change is the moment.
void WatchForCompletion(TfrmFinalAction &page, const QElapsedTimer &clock, RunResult &result)
{
    auto *rows = page.findChild<QTreeWidget *>(QStringLiteral("lvLog"));
    QObject::connect(
        rows->model(), &QAbstractItemModel::dataChanged, &page,
        [rows, &clock, &result](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
            for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                if (result.completedMs < 0 &&
                    rows->topLevelItem(row)->text(0) == QLatin1String("Erase completed"))
                    result.completedMs = clock.nsecsElapsed() / 1e6;
            }
        });
}

void Click(QWidget *window, const char *name)
{
    auto *button = window->findChild<QPushButton *>(QLatin1String(name));
    if (button != nullptr && button->isVisible() && button->isEnabled())
        QTest::mouseClick(button, Qt::LeftButton);
}

// The whole wizard on the bay: welcome, transport, device, options, summary,
// then Next starts the erase. Empty failure when the summary was reached.
RunResult WizardEraseOnce()
{
    RunResult result;
    std::string error;
    auto bay =
        blankora::virtualbay::VirtualBay::fromJson(BayJson(1, CommandMs, BlankSeconds), error);
    if (!bay) {
        result.failure = QString::fromStdString(error);
        return result;
    }
    blankora::virtualbay::VirtualBay::install(bay);
    SetMessageBoxHook([&result](const TsbMessageBoxRecord &box) { result.failure = box.Text; });
    StartProgram();
    TProgramWindows windows = CreateProgramWindows();
    windows.Welcome->show();
    QCoreApplication::processEvents();
    Click(windows.Welcome, "ButtonNext");
    for (int page = 0; page < 3; ++page)
        Click(windows.Main, "ButtonNext");
    if (windows.Main->ActivePageIndex() != 4) {
        result.failure = QStringLiteral("the wizard stopped on page %1 before the summary %2")
                             .arg(windows.Main->ActivePageIndex())
                             .arg(result.failure);
    } else {
        QElapsedTimer clock;
        // The wizard may make its operation page only when the run starts.
        QTimer hook;
        hook.setInterval(5);
        QObject::connect(&hook, &QTimer::timeout, [&] {
            if (TfrmFinalAction *page = windows.Main->OperationPage()) {
                WatchForCompletion(*page, clock, result);
                hook.stop();
            }
        });
        hook.start();
        TickMonitor monitor;
        monitor.start();
        clock.start();
        Click(windows.Main, "ButtonNext");
        monitor.stop();
        result.longestGapMs = monitor.longestGapMs();
    }
    DestroyProgramWindows(windows);
    EndProgram();
    SetMessageBoxHook(nullptr);
    StarBurn_DownShut();
    blankora::virtualbay::VirtualBay::install(nullptr);
    return result;
}

RunResult EraseOnce()
{
    RunResult result;
    auto bay = StartOnBay(BayJson(1, CommandMs, BlankSeconds));
    TsbCallBackEventer eventer;
    GCallBackEventer = &eventer;
    SetMessageBoxHook([&result](const TsbMessageBoxRecord &box) { result.failure = box.Text; });
    {
        TsbBurner burner;
        burner.FTransportType = ttSpti;
        burner.FDeviceName = QStringLiteral("CdRom0");
        burner.FDiscType = DISC_TYPE_CDRW;
        burner.FEraseOptions.SpeedInPoint = 4;
        burner.FEraseOptions.SpeedInSize = 706;
        burner.CreateGrabber();
        // What the device page would have shown, for the erase's drive and disc check.
        char vendor[STARBURN_NAME_BUFFER_SIZE] = {};
        char product[STARBURN_NAME_BUFFER_SIZE] = {};
        char revision[STARBURN_NAME_BUFFER_SIZE] = {};
        uint32_t bufferSize = 0;
        StarBurn_CdvdBurnerGrabber_GetDeviceInformation(burner.FGrabber, vendor, product, revision,
                                                        &bufferSize);
        burner.FDriveVendor = QString::fromLatin1(vendor).trimmed();
        burner.FDriveProduct = QString::fromLatin1(product).trimmed();
        burner.FDriveRevision = QString::fromLatin1(revision).trimmed();
        burner.FDiscSpace.UsedBytes = 10485760;
        burner.Lock();

        TsbLog log;
        log.Add()->LogMessage = QStringLiteral("Erasing Disc");
        TsbActionList actions;
        TsbEraseAction erase;
        actions.Add()->FAction = &erase;
        TfrmFinalAction page;
        page.FLog = &log;
        page.FActionList = &actions;
        page.AttachBurner(&burner);
        page.show();
        QCoreApplication::processEvents();

        QElapsedTimer clock;
        WatchForCompletion(page, clock, result);
        TickMonitor monitor;
        monitor.start();
        clock.start();
        page.RunActions();
        monitor.stop();
        result.longestGapMs = monitor.longestGapMs();
        burner.DestroyGrabber();
    }
    SetMessageBoxHook(nullptr);
    GCallBackEventer = nullptr;
    StopBay();
    return result;
}

// Rounds runs of `erase` at CommandMs a command; false when a run did not complete.
bool RunRounds(const QString &name, RunResult (*erase)(), std::vector<double> &overheads,
               double &longestGap)
{
    for (int round = 0; round < Rounds; ++round) {
        const RunResult run = erase();
        if (run.completedMs < 0) {
            std::printf("%s: not measured: the erase did not complete at %g ms a command (%s)\n",
                        qPrintable(name), CommandMs, qPrintable(run.failure));
            return false;
        }
        overheads.push_back(run.completedMs - BlankSeconds * 1000);
        longestGap = std::max(longestGap, run.longestGapMs);
    }
    return true;
}

// Prints the figures of `erase`: time and overhead at instant commands, the
// longest gap at a real drive's command time; false when a run did not complete.
bool Measure(const QString &name, RunResult (*erase)())
{
    std::vector<double> overheads;
    std::vector<double> slowOverheads;
    double fastGap = 0;
    double longestGap = 0;
    CommandMs = OverheadCommandMs;
    if (!RunRounds(name, erase, overheads, fastGap))
        return false;
    CommandMs = GapCommandMs;
    if (!RunRounds(name, erase, slowOverheads, longestGap))
        return false;
    const double overhead = Median(overheads);
    PrintFigure(name + QStringLiteral(": time"), overhead + BlankSeconds * 1000,
                QStringLiteral("ms"),
                QStringLiteral("emulated blank %1 ms, %2 ms a command")
                    .arg(BlankSeconds * 1000)
                    .arg(OverheadCommandMs),
                true);
    PrintFigure(name + QStringLiteral(": overhead"), overhead, QStringLiteral("ms"),
                QStringLiteral("target < %1 ms, median of %2, %3 ms a command")
                    .arg(OverheadTargetMs)
                    .arg(Rounds)
                    .arg(OverheadCommandMs),
                overhead < OverheadTargetMs);
    PrintFigure(name + QStringLiteral(": longest UI gap"), longestGap, QStringLiteral("ms"),
                QStringLiteral("target < %1 ms, 5 ms timer, %2 ms a command")
                    .arg(GapTargetMs)
                    .arg(GapCommandMs),
                longestGap < GapTargetMs);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const bool wizard =
        Measure(QStringLiteral("erase (wizard, from Next on summary)"), WizardEraseOnce);
    const bool page = Measure(QStringLiteral("erase (operation page run)"), EraseOnce);
    return wizard || page ? 0 : 1;
}
