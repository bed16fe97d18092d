#include "pages/ufrmOperationProgress.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QWindow>
#include <QTest>

// The wait dialog as its user, the device scan, drives it.
class TestWaitDialog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void cancel_isPressableOnce();
    void cancel_withoutHandler_doesNothing();
    void animation_playsOnlyWhileShown();
    void staysInFrontOfTheWizard();
    void escape_doesNotHideIt();
};

void TestWaitDialog::cleanup()
{
    // Every dialog is freed by its user; none may be left on the screen.
    for (QWidget *Window : QApplication::topLevelWidgets())
        QVERIFY2(!Window->isVisible(), qPrintable(Window->objectName()));
}

void TestWaitDialog::cancel_isPressableOnce()
{
    TfrmOperationProgress Dialog;
    int Calls = 0;
    Dialog.SetOnCancel([&Calls] { ++Calls; });
    Dialog.SetCaption(QStringLiteral("Scanning devices"));
    Dialog.ShowDialog();
    auto *Cancel = Dialog.findChild<QPushButton *>(QStringLiteral("btnCancel"));
    auto *Cancelling = Dialog.findChild<QLabel *>(QStringLiteral("lblCancelling"));
    QVERIFY(Cancel && Cancelling);
    QVERIFY(!Cancelling->isVisible());

    QTest::mouseClick(Cancel, Qt::LeftButton);
    QTest::mouseClick(Cancel, Qt::LeftButton);

    QCOMPARE(Calls, 1);
    QVERIFY(!Cancel->isEnabled());
    QVERIFY(Cancelling->isVisible());
    QCOMPARE(Cancelling->text(), QStringLiteral("Cancelling..."));
    QVERIFY(Dialog.isVisible());
    Dialog.HideDialog();
}

void TestWaitDialog::cancel_withoutHandler_doesNothing()
{
    TfrmOperationProgress Dialog;
    Dialog.ShowDialog();
    auto *Cancel = Dialog.findChild<QPushButton *>(QStringLiteral("btnCancel"));
    QTest::mouseClick(Cancel, Qt::LeftButton);

    QVERIFY(Cancel->isEnabled());
    QVERIFY(!Dialog.findChild<QLabel *>(QStringLiteral("lblCancelling"))->isVisible());
    Dialog.SetCancelVisible(false);
    QVERIFY(!Cancel->isVisible());
    Dialog.HideDialog();
}

void TestWaitDialog::animation_playsOnlyWhileShown()
{
    TfrmOperationProgress Dialog;
    auto *Clock = Dialog.findChild<TAnimate *>(QStringLiteral("Animate"));
    QVERIFY(Clock);
    QCOMPARE(Clock->size(), QSize(352, 18));
    QVERIFY(!Clock->IsPlaying());

    Dialog.ShowDialog();
    QVERIFY(Dialog.IsShowing());
    QVERIFY(Clock->IsPlaying());
    const int First = Clock->CurrentFrame();
    QTRY_VERIFY(Clock->CurrentFrame() != First);

    Dialog.HideDialog();
    QVERIFY(!Dialog.IsShowing());
    QVERIFY(!Clock->IsPlaying());
}

void TestWaitDialog::staysInFrontOfTheWizard()
{
    QWidget Wizard;
    Wizard.setObjectName(QStringLiteral("Wizard"));
    Wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Wizard));
    TfrmOperationProgress Dialog;
    Dialog.ShowDialog();
    QTRY_VERIFY(Dialog.isActiveWindow());

    // The wizard gets the focus first; then the dialog takes it back.
    QSignalSpy FocusChanges(qApp, &QGuiApplication::focusWindowChanged);
    Wizard.activateWindow();
    QTRY_VERIFY(!FocusChanges.isEmpty());
    QCOMPARE(FocusChanges.first().first().value<QWindow *>(), Wizard.windowHandle());
    QTRY_VERIFY(Dialog.isActiveWindow());

    Dialog.HideDialog();
    Wizard.activateWindow();
    QTRY_VERIFY(Wizard.isActiveWindow());
    Wizard.hide();
}

void TestWaitDialog::escape_doesNotHideIt()
{
    TfrmOperationProgress Dialog;
    Dialog.ShowDialog();
    QTest::keyClick(&Dialog, Qt::Key_Escape);
    QVERIFY(Dialog.isVisible());
    Dialog.HideDialog();
}

QTEST_MAIN(TestWaitDialog)
#include "tst_waitdialog.moc"
