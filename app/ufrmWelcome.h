#pragma once

#include <QWidget>

class QLabel;

namespace Ui {
class TfrmWelcome;
}

// The welcome window that opens the program. It is the program's main
// window: closing it ends the program.
class TfrmWelcome : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmWelcome(QWidget *parent = nullptr);
    ~TfrmWelcome() override;

    // The wizard window that Next hands over to.
    void SetWizardWindow(QWidget *Wizard) { FWizardWindow = Wizard; }

    QLabel *WelcomeLabel() const;
    QLabel *ImageLeft() const;

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

private:
    void FormCreate();
    void ButtonNextClick();
    void ButtonCloseClick();

    Ui::TfrmWelcome *ui;
    QWidget *FWizardWindow = nullptr;
    bool FPlaced = false;
};
