#include "pages/ufrmEraseDisc.h"

#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbErase.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "library/StarBurn.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>

#include <memory>

// The erase options page against drives of the virtual bay.
class TestErasePage : public QObject
{
    Q_OBJECT

private:
    // A burner with an open device object on the bay's drive CdRom<Number>.
    std::unique_ptr<TsbBurner> OpenDrive(int Number)
    {
        auto Burner = std::make_unique<TsbBurner>();
        Burner->FTransportType = ttSpti;
        Burner->FDeviceName = QStringLiteral("CdRom%1").arg(Number);
        Burner->FDiscType = DISC_TYPE_CDRW;
        Burner->CreateGrabber();
        return Burner;
    }

    std::unique_ptr<TfrmEraseDisc> FPage;
    QComboBox *FSpeeds = nullptr;

private slots:
    void initTestCase()
    {
        qputenv("BLANKORA_VIRTUAL_DRIVES",
                QByteArray(BLANKORA_TEST_SCENARIOS "/pages-drives.json"));
        QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
    }
    void cleanupTestCase() { StarBurn_DownShut(); }
    void init()
    {
        FPage = std::make_unique<TfrmEraseDisc>();
        FSpeeds = FPage->findChild<QComboBox *>(QStringLiteral("cmbSpeed"));
        QVERIFY(FSpeeds != nullptr);
    }
    void cleanup() { FPage.reset(); }

    void firstDisplay_fastEraseAndFastestSpeed();
    void attachAgain_keepsEraseTypeAndReadsSpeedsAgain();
    void pageActions_holdOnlyTheEraseAction();
    void failedSpeedRead_leavesNoStaleSpeedAndRefusesOptions();
};

void TestErasePage::firstDisplay_fastEraseAndFastestSpeed()
{
    auto Burner = OpenDrive(0);
    FPage->AttachBurner(Burner.get());

    auto *Warning = FPage->findChild<QLabel *>(QStringLiteral("lblWarning"));
    QCOMPARE(Warning->text(),
             QStringLiteral("Warning! All existing data will be lost after erasing"));
    QCOMPARE(Warning->palette().color(QPalette::WindowText), QColor(Qt::red));

    // 706, 1764, 2822 and 4234 KB/s are the speeds the drive takes.
    QCOMPARE(FSpeeds->count(), 4);
    QCOMPARE(FSpeeds->currentIndex(), 3);
    QCOMPARE(FPage->GetSpeedText(), QStringLiteral("24.0x (4234 KB/sec)"));
    QVERIFY(FPage->HasSpeeds());

    const TsbEraseOptions Options = FPage->GetEraseOptions();
    QVERIFY(!Options.FullErase);
    QCOMPARE(Options.SpeedInPoint, 24);
    QCOMPARE(Options.SpeedInSize, 4234);
    QVERIFY(Options.Eject);
    QVERIFY(Options.EstimateProgress);
}

void TestErasePage::attachAgain_keepsEraseTypeAndReadsSpeedsAgain()
{
    auto Burner = OpenDrive(0);
    FPage->AttachBurner(Burner.get());
    FPage->findChild<QRadioButton *>(QStringLiteral("rbFullErase"))->setChecked(true);
    FSpeeds->setCurrentIndex(0);
    TsbEraseOptions Options = FPage->GetEraseOptions();
    QVERIFY(Options.FullErase);
    QCOMPARE(Options.SpeedInSize, 706);

    FPage->AttachBurner(Burner.get());
    QVERIFY(FPage->findChild<QRadioButton *>(QStringLiteral("rbFullErase"))->isChecked());
    QCOMPARE(FSpeeds->count(), 4);
    QCOMPARE(FSpeeds->currentIndex(), 3);
    Options = FPage->GetEraseOptions();
    QVERIFY(Options.FullErase);
    QCOMPARE(Options.SpeedInSize, 4234);
}

void TestErasePage::pageActions_holdOnlyTheEraseAction()
{
    FPage->GetPageActions();
    TsbActionList *Actions = FPage->GetPageActions();
    QCOMPARE(Actions->Count(), 1);
    QCOMPARE(Actions->Items(0)->FAction, static_cast<TsbAction *>(FPage->EraseAction()));

    TsbLog *Log = FPage->GetPageLog();
    QVERIFY(Log != nullptr);
    QCOMPARE(Log->Count(), 0);
}

// The second drive refuses every speed setting: its speed list stays empty.
void TestErasePage::failedSpeedRead_leavesNoStaleSpeedAndRefusesOptions()
{
    auto Good = OpenDrive(0);
    FPage->AttachBurner(Good.get());
    QCOMPARE(FSpeeds->count(), 4);
    Good.reset();

    auto Stubborn = OpenDrive(1);
    QVERIFY_THROWS_EXCEPTION(EsbError, FPage->AttachBurner(Stubborn.get()));
    QCOMPARE(FSpeeds->count(), 0);
    QVERIFY(!FPage->HasSpeeds());
    QVERIFY(FPage->GetSpeedText().isEmpty());
    try {
        FPage->GetEraseOptions();
        QFAIL("options were handed out without a speed");
    } catch (const EsbError &Error) {
        QCOMPARE(Error.Message(), TfrmEraseDisc::NoSpeedText());
    }
}

QTEST_MAIN(TestErasePage)
#include "tst_erasepage.moc"
