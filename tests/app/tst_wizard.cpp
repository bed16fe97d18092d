#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "app/uPictures.h"
#include "app/uProgram.h"
#include "framework/sbLog.h"
#include "library/StarBurn.h"
#include "pages/ufrmSelectDevice.h"
#include "pages/ufrmSelectTransport.h"

#include "support/MessageBoxRecorder.h"
#include "support/TempConfigStore.h"
#include "support/WizardDriver.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

namespace {
const QString EmptyBay = QStringLiteral(BLANKORA_TEST_SCENARIOS "/empty.json");
const QString CdrwBay = QStringLiteral(BLANKORA_TEST_SCENARIOS "/wizard-cdrw.json");

// Enabled state of Back, Next and Cancel, as "BNC" with a dash for a disabled one.
QString ButtonStates(const QWidget *Window)
{
    QString states;
    states += Button(Window, "ButtonPrev")->isEnabled() ? u'B' : u'-';
    states += Button(Window, "ButtonNext")->isEnabled() ? u'N' : u'-';
    states += Button(Window, "ButtonClose")->isEnabled() ? u'C' : u'-';
    return states;
}

} // namespace

class TestWizard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startShowsTheWelcomeWindowOnly();
    void welcomeAndCompletionTextsAndPictures();
    void welcomeNextShowsTheTransportPage();
    void backAndNextKeepTheScreenPosition();
    void returnPressesTheDefaultButton();
    void missingPictureIsReported();
    void closeIsRefusedWhileAPageWorks();
    void cancelOnTheWelcomeWindowEndsTheProgram();
    void cancelOnTheTransportPageEndsTheProgram();
    void closingTheWizardWindowEndsTheProgram();
    void libraryStartFailureKeepsTheTransportPage();

    // These need a burning library that opens a session on a virtual bay.
    void nextOpensTheLibraryOnceAndShowsDeviceSelection();
    void deviceScanLocksTheButtonsAndClosing();
    void cancelOnTheDevicePageEndsTheProgram();
    void walksAllFivePagesThenBackAndFinishes();

private:
    void ClickNext(const QWidget *Window) { Click(Button(Window, "ButtonNext")); }
    void ClickBack(const QWidget *Window) { Click(Button(Window, "ButtonPrev")); }
    static void Click(QPushButton *ButtonToClick);
    void SetBay(const QString &Scenario)
    {
        qputenv("BLANKORA_VIRTUAL_DRIVES", QFile::encodeName(Scenario));
    }
    QString Title() const { return LabelText(FWindows.Main, "LabelTitle"); }
    QString SubTitle() const { return LabelText(FWindows.Main, "LabelSubTitle"); }
    void RequireLibrary();

    std::unique_ptr<MessageBoxRecorder> FRecorder;
    TProgramWindows FWindows;
    bool FLibraryReady = false;
};

void TestWizard::Click(QPushButton *ButtonToClick)
{
    QVERIFY2(ButtonToClick->isVisible(), qPrintable(ButtonToClick->objectName()));
    QTest::mouseClick(ButtonToClick, Qt::LeftButton);
}

void TestWizard::initTestCase()
{
    SetBay(EmptyBay);
    FLibraryReady = StarBurn_UpStartEx() == EN_SUCCESS;
    StarBurn_DownShut();
}

void TestWizard::init()
{
    SetBay(EmptyBay);
    FRecorder = std::make_unique<MessageBoxRecorder>();
    QVERIFY(OpenProgram(FWindows));
}

void TestWizard::cleanup()
{
    CloseProgram(FWindows);
    FRecorder.reset();
}

void TestWizard::RequireLibrary()
{
    if (!FLibraryReady)
        QSKIP("the burning library cannot open a session on a virtual bay yet");
}

void TestWizard::startShowsTheWelcomeWindowOnly()
{
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Blankora"));
    QVERIFY(FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Finish->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QCOMPARE(FWindows.Welcome->windowTitle(), QStringLiteral("Blankora Wizard"));
    QCOMPARE(FWindows.Main->windowTitle(), QStringLiteral("Blankora Wizard"));
    QCOMPARE(FWindows.Finish->windowTitle(), QStringLiteral("Blankora Wizard"));
    QCOMPARE(ButtonStates(FWindows.Welcome), QStringLiteral("-NC"));
    QCOMPARE(ButtonStates(FWindows.Finish), QStringLiteral("-N-"));
    QCOMPARE(FWindows.Welcome->size(), QSize(497, 360));
    QCOMPARE(FWindows.Main->size(), QSize(497, 360));
    QVERIFY(FRecorder->Boxes().isEmpty());
}

void TestWizard::welcomeAndCompletionTextsAndPictures()
{
    QCOMPARE(LabelText(FWindows.Welcome, "WelcomeLabel"),
             QStringLiteral("Welcome to Blankora Wizard"));
    QCOMPARE(LabelText(FWindows.Welcome, "DescriptionLabel"),
             QStringLiteral("This wizard will guide you through CD or DVD disc erasing process"));
    QCOMPARE(LabelText(FWindows.Welcome, "lblPressNext"),
             QStringLiteral("Press \"Next\" button to proceed further"));
    QCOMPARE(Button(FWindows.Welcome, "ButtonNext")->text(), QStringLiteral("&Next >"));
    QCOMPARE(Button(FWindows.Welcome, "ButtonPrev")->text(), QStringLiteral("< &Back"));
    QCOMPARE(Button(FWindows.Welcome, "ButtonClose")->text(), QStringLiteral("Cancel"));
    QCOMPARE(LabelText(FWindows.Finish, "CompleteLabel"),
             QStringLiteral("Completing the Blankora Wizard"));
    QCOMPARE(Button(FWindows.Finish, "ButtonNext")->text(), QStringLiteral("&Finish"));

    QCOMPARE(GPictureFolder, QStringLiteral("bres"));
    const QPixmap welcomePicture = FWindows.Welcome->ImageLeft()->pixmap();
    QCOMPARE(welcomePicture.size(), QSize(161, 314));
    QCOMPARE(FWindows.Welcome->ImageLeft()->geometry(), QRect(0, 0, 161, 314));
    const QPixmap finishPicture = FWindows.Finish->ImageLeft()->pixmap();
    QCOMPARE(finishPicture.toImage(), welcomePicture.toImage());
    const QPixmap headerPicture =
        FWindows.Main->findChild<QLabel *>(QStringLiteral("Image1"))->pixmap();
    QCOMPARE(headerPicture.size(), QSize(48, 48));
}

void TestWizard::welcomeNextShowsTheTransportPage()
{
    ClickNext(FWindows.Welcome);
    QVERIFY(FWindows.Main->isVisible());
    QVERIFY(!FWindows.Welcome->isVisible());
    QCOMPARE(FWindows.Main->ActivePageIndex(), 0);
    QCOMPARE(Title(), QStringLiteral("SCSI Transport"));
    QCOMPARE(SubTitle(), QStringLiteral("The SCSI transport is a method to access devices"));
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));
    QCOMPARE(Button(FWindows.Main, "ButtonNext")->text(), QStringLiteral("&Next >"));
    QCOMPARE(Button(FWindows.Main, "ButtonPrev")->text(), QStringLiteral("< &Back"));
    QCOMPARE(Button(FWindows.Main, "ButtonClose")->text(), QStringLiteral("Cancel"));
    QCOMPARE(FWindows.Main->PageOrder(), QStringList({"0", "2", "3", "4", "1"}));
    QCOMPARE(FWindows.Main->RunState(), rsIdle);

    TSelectTransportForm *page = FWindows.Main->TransportPage();
    QVERIFY(page != nullptr);
    QCOMPARE(page->parentWidget()->objectName(), QStringLiteral("pnlTs0"));
    QCOMPARE(page->geometry(), QRect(5, 5, 484, 241));
    QVERIFY(page->isVisible());
    QVERIFY(!FWindows.Main->LibraryStarted());
}

void TestWizard::backAndNextKeepTheScreenPosition()
{
    const QPoint place(130, 90);
    FWindows.Welcome->move(place);
    ClickNext(FWindows.Welcome);
    QCOMPARE(FWindows.Main->pos(), place);
    TSelectTransportForm *page = FWindows.Main->TransportPage();

    ClickBack(FWindows.Main);
    QVERIFY(FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QCOMPARE(FWindows.Welcome->pos(), place);

    ClickNext(FWindows.Welcome);
    QVERIFY(FWindows.Main->isVisible());
    QCOMPARE(FWindows.Main->pos(), place);
    QCOMPARE(Title(), QStringLiteral("SCSI Transport"));
    QCOMPARE(FWindows.Main->TransportPage(), page); // created once, shown again
    QVERIFY(FRecorder->Boxes().isEmpty());
}

void TestWizard::returnPressesTheDefaultButton()
{
    QTest::keyClick(FWindows.Welcome, Qt::Key_Return);
    QVERIFY(FWindows.Main->isVisible());
    QVERIFY(!FWindows.Welcome->isVisible());

    // Not while Next is disabled.
    FWindows.Main->PageWorkBegin(FWindows.Main->TransportPage());
    QTest::keyClick(FWindows.Main, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(FWindows.Main->ActivePageIndex(), 0);
    QVERIFY(!FWindows.Main->LibraryStarted());
    FWindows.Main->PageWorkEnd(FWindows.Main->TransportPage());
}

void TestWizard::missingPictureIsReported()
{
    const QString missing =
        QCoreApplication::applicationDirPath() + QStringLiteral("/bres/no-such-picture.bmp");
    const QPixmap picture = LoadPicture(missing);
    QVERIFY(picture.isNull());
    QCOMPARE(FRecorder->Boxes().size(), 1);
    QCOMPARE(FRecorder->Boxes().at(0).Kind, TsbMessageBoxRecord::mbkError);
    QCOMPARE(FRecorder->Boxes().at(0).Text,
             QStringLiteral("Cannot open file \"%1\". No such file or directory.").arg(missing));
}

void TestWizard::closeIsRefusedWhileAPageWorks()
{
    ClickNext(FWindows.Welcome);
    TsbDockForm *page = FWindows.Main->TransportPage();
    FWindows.Main->PageWorkBegin(page);
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("---"));
    QVERIFY(!FWindows.Main->CanClose());

    QVERIFY(!FWindows.Main->close());
    QVERIFY(FWindows.Main->isVisible());

    FWindows.Main->PageWorkEnd(page);
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));
    QVERIFY(FWindows.Main->CanClose());
}

void TestWizard::cancelOnTheWelcomeWindowEndsTheProgram()
{
    QVERIFY(ProgramEndsAfter([this] { Click(Button(FWindows.Welcome, "ButtonClose")); }));
    QVERIFY(!FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QVERIFY(!FWindows.Finish->isVisible());
}

void TestWizard::cancelOnTheTransportPageEndsTheProgram()
{
    QVERIFY(ProgramEndsAfter([this] {
        ClickNext(FWindows.Welcome);
        Click(Button(FWindows.Main, "ButtonClose"));
    }));
    QVERIFY(!FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QVERIFY(!FWindows.Finish->isVisible());
}

void TestWizard::closingTheWizardWindowEndsTheProgram()
{
    QVERIFY(ProgramEndsAfter([this] {
        ClickNext(FWindows.Welcome);
        FWindows.Main->close();
    }));
    QVERIFY(!FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
}

void TestWizard::libraryStartFailureKeepsTheTransportPage()
{
    SetBay(QStringLiteral(BLANKORA_TEST_SCENARIOS "/no-such-bay.json"));
    TempConfigStore store;
    store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    delete GLogger;
    GLogger = new TsbLogger();
    const QString logFile = GLogger->GetLogFileName();
    QFile::remove(logFile);
    ClickNext(FWindows.Welcome);
    ClickNext(FWindows.Main);

    // The box gives the code only; the diagnostic log says which file and why.
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("no-such-bay.json")));

    QCOMPARE(FRecorder->Boxes().size(), 1);
    const TsbMessageBoxRecord box = FRecorder->Boxes().at(0);
    QCOMPARE(box.Kind, TsbMessageBoxRecord::mbkError);
    QCOMPARE(box.Title, QStringLiteral("Blankora"));
    QVERIFY2(box.Text.startsWith(QStringLiteral("StarBurn_UpStartEx() failed, exception ")),
             qPrintable(box.Text));
    QVERIFY2(box.Text.endsWith(u'.'), qPrintable(box.Text));
    QCOMPARE(FWindows.Main->ActivePageIndex(), 0);
    QCOMPARE(Title(), QStringLiteral("SCSI Transport"));
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));
    QVERIFY(!FWindows.Main->LibraryStarted());
}

void TestWizard::nextOpensTheLibraryOnceAndShowsDeviceSelection()
{
    RequireLibrary();
    TempConfigStore store;
    store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    delete GLogger;
    GLogger = new TsbLogger();
    const QString logFile = GLogger->GetLogFileName();
    QFile::remove(logFile);

    ClickNext(FWindows.Welcome);
    ClickNext(FWindows.Main);
    QVERIFY2(FRecorder->Boxes().isEmpty(), qPrintable(FRecorder->Texts().join(u'\n')));
    QVERIFY(FWindows.Main->LibraryStarted());
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QCOMPARE(Title(), QStringLiteral("Device Selection"));
    QCOMPARE(SubTitle(), QStringLiteral("CD or DVD burning device to use for disc erasing."));
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));
    QCOMPARE(FWindows.Main->DevicePage()->parentWidget()->objectName(), QStringLiteral("pnlTs2"));
    QVERIFY(FWindows.Main->DevicePage()->isVisible());
    QVERIFY(!FWindows.Main->TransportPage()->isVisible());

    // Back and forth between the transport and device pages, and out to the
    // welcome window and in again: the session stays open and is not opened again.
    ClickBack(FWindows.Main);
    QCOMPARE(Title(), QStringLiteral("SCSI Transport"));
    ClickBack(FWindows.Main);
    QVERIFY(FWindows.Welcome->isVisible());
    ClickNext(FWindows.Welcome);
    ClickNext(FWindows.Main);
    QCOMPARE(Title(), QStringLiteral("Device Selection"));
    QVERIFY(FWindows.Main->LibraryStarted());

    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray contents = log.readAll();
    QCOMPARE(contents.count(": UpStartEx\r\n"), 1);
    log.close();
    QFile::remove(logFile);
}

void TestWizard::deviceScanLocksTheButtonsAndClosing()
{
    RequireLibrary();
    ClickNext(FWindows.Welcome);
    ClickNext(FWindows.Main);
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);

    // The device page reports its scans; while one runs, nothing may close the wizard.
    TfrmSelectDevice *page = FWindows.Main->DevicePage();
    page->BeginWork();
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("---"));
    QVERIFY(!FWindows.Main->close());
    QVERIFY(FWindows.Main->isVisible());
    page->EndWork();
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));
    QVERIFY(FWindows.Main->CanClose());
}

void TestWizard::cancelOnTheDevicePageEndsTheProgram()
{
    RequireLibrary();
    QVERIFY(ProgramEndsAfter([this] {
        ClickNext(FWindows.Welcome);
        ClickNext(FWindows.Main);
        QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
        Click(Button(FWindows.Main, "ButtonClose"));
    }));
    QVERIFY(!FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QVERIFY(!FWindows.Finish->isVisible());
}

void TestWizard::walksAllFivePagesThenBackAndFinishes()
{
    RequireLibrary();
    SetBay(CdrwBay);
    ClickNext(FWindows.Welcome);
    ClickNext(FWindows.Main);
    QCOMPARE(Title(), QStringLiteral("Device Selection"));
    ClickNext(FWindows.Main);
    QVERIFY2(FRecorder->Boxes().isEmpty(), qPrintable(FRecorder->Texts().join(u'\n')));

    const QList<QPair<QString, QString>> titles{
        {QStringLiteral("Erasing options"),
         QStringLiteral("You can choose various erasing options.")},
        {QStringLiteral("Options Summary"),
         QStringLiteral("Review the options you have chosen before proceed with erasing.")}};
    QCOMPARE(Title(), titles.at(0).first);
    QCOMPARE(SubTitle(), titles.at(0).second);
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));
    ClickNext(FWindows.Main);
    QCOMPARE(Title(), titles.at(1).first);
    QCOMPARE(SubTitle(), titles.at(1).second);
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("BNC"));

    // Back to the transport page, page by page, and forward again.
    ClickBack(FWindows.Main);
    QCOMPARE(Title(), titles.at(0).first);
    ClickBack(FWindows.Main);
    QCOMPARE(Title(), QStringLiteral("Device Selection"));
    ClickBack(FWindows.Main);
    QCOMPARE(Title(), QStringLiteral("SCSI Transport"));
    ClickNext(FWindows.Main);
    ClickNext(FWindows.Main);
    ClickNext(FWindows.Main);
    QCOMPARE(Title(), titles.at(1).first);
    QVERIFY(!FWindows.Main->OnOperationPage());

    // Next on the summary runs the operation and ends on the operation page.
    ClickNext(FWindows.Main);
    QVERIFY(FWindows.Main->OnOperationPage());
    QCOMPARE(FWindows.Main->ActivePageIndex(), 1);
    QCOMPARE(Title(), QStringLiteral("Erasing"));
    QCOMPARE(SubTitle(), QStringLiteral("Erasing CD/DVD disc..."));
    QCOMPARE(FWindows.Main->RunState(), rsFinished);
    QCOMPARE(ButtonStates(FWindows.Main), QStringLiteral("-N-"));
    QVERIFY(Button(FWindows.Main, "ButtonNext")->hasFocus() || !QApplication::focusWidget());

    // Next hands over to the completion window at the same place.
    const QPoint place = FWindows.Main->pos();
    ClickNext(FWindows.Main);
    QVERIFY(FWindows.Finish->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QCOMPARE(FWindows.Finish->pos(), place);
    QCOMPARE(LabelText(FWindows.Finish, "DescriptionLabel"),
             QStringLiteral("You have successfully completed the Disc Erasing Wizard"));
    QCOMPARE(ButtonStates(FWindows.Finish), QStringLiteral("-N-"));

    QVERIFY(ProgramEndsAfter([this] { ClickNext(FWindows.Finish); }));
    QVERIFY(!FWindows.Finish->isVisible());
}

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
