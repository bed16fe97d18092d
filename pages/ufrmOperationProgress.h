#pragma once

#include "framework/sbWaitDialog.h"

#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

namespace Ui {
class TfrmOperationProgress;
}

// The wait dialog's little clock: a strip of four frames of our own, each
// shown for 20 ms, looping while it plays.
class TAnimate : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FrameCount = 4;
    static constexpr int FrameMs = 20;

    explicit TAnimate(QWidget *Parent = nullptr);

    void Play();
    void Stop();
    bool IsPlaying() const { return FTimer.isActive(); }
    int CurrentFrame() const { return FFrame; }

protected:
    void paintEvent(QPaintEvent *Event) override;

private:
    void NextFrame();

    std::array<QPixmap, FrameCount> FFrames;
    QTimer FTimer;
    int FFrame = 0;
};

// Small stand-alone wait window with an information text, a looping
// animation and a Cancel button that calls the handler its user supplies.
class TfrmOperationProgress : public QDialog, public IsbWaitDialog
{
    Q_OBJECT

public:
    explicit TfrmOperationProgress(QWidget *Parent = nullptr);
    ~TfrmOperationProgress() override;

    void SetCaption(const QString &Caption) override;
    void SetInfoText(const QString &Text) override;
    void SetCancelVisible(bool Visible) override;
    void SetOnCancel(std::function<void()> Handler) override;
    void ShowDialog() override;
    void HideDialog() override;
    // Run by the constructor: no information text, not showing, the clock
    // ready to play.
    void FormCreate();

    bool IsShowing() const { return FShowing; }

    std::function<void(QObject *Sender)> FOnCancel;

public slots:
    // The window has no close button; Escape must not hide it while work runs.
    void reject() override;

protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;
    void changeEvent(QEvent *Event) override;

private slots:
    void btnCancelClick();

private:
    void FormDeactivate();

    Ui::TfrmOperationProgress *ui;
    bool FShowing = false;
};
