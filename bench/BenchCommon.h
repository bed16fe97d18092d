#pragma once

#include "library/virtual/VirtualBay.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace blankora::bench {

// Watches the user-interface thread with a 5 ms timer and keeps the longest
// time between two of its ticks while it runs.
class TickMonitor : public QObject
{
    Q_OBJECT

public:
    TickMonitor();
    void start();
    void stop();
    double longestGapMs() const { return FLongestNs / 1e6; }
    int ticks() const { return FTicks; }

private:
    void tick();

    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLastNs = 0;
    qint64 FLongestNs = 0;
    int FTicks = 0;
};

// A bay of `count` CD writers holding a written CD-RW, every command taking
// `commandMs`, a fast blank taking `blankSeconds`, all in real time.
std::string BayJson(int count, double commandMs, double blankSeconds);

// Builds the bay, installs it for the library and starts the library on it;
// exits the program with a message when either fails.
std::shared_ptr<virtualbay::VirtualBay> StartOnBay(const std::string &json);
void StopBay();

size_t CommandCount(virtualbay::VirtualBay &bay);
void ClearCommandLogs(virtualbay::VirtualBay &bay);

double Median(std::vector<double> values);
// One figure beside its reference: "<name> <value> <unit> (<reference>) <verdict>".
void PrintFigure(const QString &name, double value, const QString &unit, const QString &reference,
                 bool met);

} // namespace blankora::bench
