#pragma once

#include "framework/sbDockForm.h"
#include "framework/sbTypes.h"

#include <QString>

#include <memory>

class TsbActionList;
class TsbDiscSpeedList;
class TsbEraseAction;
class TsbLog;

namespace Ui {
class TfrmEraseDisc;
}

// Erase options page: fast or full erase and the erasing speed, chosen from
// the speeds the drive reports for the inserted disc. It owns the erase action
// the wizard runs and hands out the chosen options.
class TfrmEraseDisc : public TsbDockForm
{
    Q_OBJECT

public:
    explicit TfrmEraseDisc(QWidget *parent = nullptr);
    ~TfrmEraseDisc() override;

    void UpdateTexts() override;
    // Stores the burner, then reads the drive's speeds for the inserted disc
    // and selects the last one; a failed read leaves the speed box empty.
    void AttachBurner(TsbBurner *Burner) override;
    TsbLog *GetPageLog() override;
    TsbActionList *GetPageActions() override;

    // The chosen options; throws EsbError with NoSpeedText() when the drive
    // offered no speed, so that the wizard stays on this page.
    TsbEraseOptions GetEraseOptions() const;
    // The selected speed as shown in the speed box; empty when there is none.
    QString GetSpeedText() const;
    // Whether a speed is selected, that is, whether Next may leave the page.
    bool HasSpeeds() const;
    static QString NoSpeedText();

    TsbEraseAction *EraseAction() const { return FEraseAction.get(); }

private:
    Ui::TfrmEraseDisc *ui;
    std::unique_ptr<TsbEraseAction> FEraseAction;
    std::unique_ptr<TsbActionList> FActionList;
    std::unique_ptr<TsbLog> FLog;
    std::unique_ptr<TsbDiscSpeedList> FSpeedList;
};
