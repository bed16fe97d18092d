#pragma once

#include <QWidget>

class QLabel;

namespace Ui {
class TfrmFinish;
}

// The completion window that closes the program: it states the outcome of the
// run, and Finish ends the program.
class TfrmFinish : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmFinish(QWidget *parent = nullptr);
    ~TfrmFinish() override;

    // The program's main window, whose closing ends the program.
    void SetProgramMainWindow(QWidget *MainWindow) { FProgramMainWindow = MainWindow; }

    QLabel *CompleteLabel() const;
    QLabel *DescriptionLabel() const;
    QLabel *ImageLeft() const;

protected:
    void closeEvent(QCloseEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

private:
    void ButtonNextClick();

    Ui::TfrmFinish *ui;
    QWidget *FProgramMainWindow = nullptr;
};
