#pragma once

#include "framework/sbDockForm.h"
#include "framework/sbLog.h"

#include <QIcon>
#include <QMetaObject>
#include <QString>

#include <array>
#include <functional>
#include <vector>

class QDateTime;
class QFileDialog;
class QTime;
class TsbActionList;
class TsbLog;

namespace Ui {
class TfrmFinalAction;
}

// Operation page: runs the wizard's action list while it shows the overall
// progress, optionally the drive's buffer fill, and a growing operation log
// with an icon and a time per line; afterwards the log can be saved.
class TfrmFinalAction : public TsbDockForm
{
    Q_OBJECT

public:
    explicit TfrmFinalAction(QWidget *parent = nullptr);
    ~TfrmFinalAction() override;

    void SetShowBuffer(bool ShowBuffer);
    // Handler of the page's show event: without the buffer row the top panel
    // shrinks to the percentage and the bar.
    void FormShow();
    // The captions above and below the log, which the wizard names after its operation.
    void SetLogCaptions(const QString &LogCaption, const QString &SaveHint);
    // Stores the burner, resets the progress and rebuilds the log list from FLog.
    void AttachBurner(TsbBurner *Burner) override;
    // Runs every action of FActionList on this thread and returns when the run
    // has ended; a failing action ends the run early with an error line and box.
    // A run with any error line, raised error or failed release has not succeeded.
    void RunActions();
    void ResetProgress();

    // The log-line handler of a run; on the user-interface thread only.
    void AddLogLine(QObject *Sender, const QString &Text, TsbLogItemType Kind);
    // Progress of the run; within a run the bar never moves backwards.
    void ProgressChanged(QObject *Sender, int Percent);
    void BufferChanged(QObject *Sender, int Percent);
    void btnSaveLogClick();

    // "Log_DDMM_HHNN.txt" for the given moment.
    static QString ProposedLogFileName(const QDateTime &Moment);
    // The time of day in the locale's long time format, without a time zone.
    static QString TimeOfDayText(const QTime &Time);

    TsbLog *FLog = nullptr;               // borrowed from the wizard, never freed here
    TsbActionList *FActionList = nullptr; // borrowed from the wizard, never freed here
    bool FShowBuffer = false;

    // Chooses the file for Save Log in place of showing sdSaveLog (tests);
    // returns the chosen name, empty when the user cancelled.
    std::function<QString(QFileDialog &Dialog)> FChooseLogFile;

protected:
    void showEvent(QShowEvent *Event) override;

private:
    void RunActionItems();
    // Frees the tray at the end of a run; sets the run's result from its error lines.
    void ReleaseAfterRun();

    Ui::TfrmFinalAction *ui;
    QFileDialog *sdSaveLog;
    std::array<QIcon, 3> imlSmall;
    QMetaObject::Connection FProgressConnection;
    QMetaObject::Connection FBufferConnection;
    // An error line was shown since the run began.
    bool FRunFailed = false;
};
