#pragma once

#include "framework/sbDockForm.h"
#include "framework/sbTypes.h"

#include <QString>

struct TsbDeviceInfo;

namespace Ui {
class TfrmOptionsSummary;
}

// Options summary page: the choices made on the earlier pages, shown
// read-only before the erase starts. The wizard composes the text each time
// the page is about to be shown.
class TfrmOptionsSummary : public TsbDockForm
{
    Q_OBJECT

public:
    explicit TfrmOptionsSummary(QWidget *parent = nullptr);
    ~TfrmOptionsSummary() override;

    // Replaces the summary with its six lines: drive, transport, disc type,
    // erase type, speed and eject. DevicePath is the device page's path
    // ("CdRom0" or "\\.\" + drive); SpeedText as shown on the erase page.
    void BuildSummary(const TsbDeviceInfo &Info, const QString &DevicePath, DISC_TYPE DiscType,
                      TsbTransportType Transport, const TsbEraseOptions &Options,
                      const QString &SpeedText);

    // The identity text without leading and trailing blanks and control characters.
    static QString TrimIdentity(const QString &Text);

private:
    Ui::TfrmOptionsSummary *ui;
};
