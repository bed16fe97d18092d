#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "app/uProgram.h"
#include "library/virtual/VirtualBay.h"
#include "pages/ufrmOperationProgress.h"

#include "support/MessageBoxRecorder.h"
#include "support/WizardDriver.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

// Every window and page, in English and German, with DejaVu Sans at 9 and
// 12 pt, is checked for clipped texts, controls outside their parents and
// overlapping siblings. The screen scale comes from QT_SCALE_FACTOR: the test
// is registered once per scale.
using blankora::virtualbay::VirtualBay;

namespace {
const QString DemoBay = QStringLiteral(BLANKORA_SOURCE_DIR "/resources/demo-bay.json");

// Controls whose inner widgets are their own business.
bool IsLeaf(const QWidget *Widget)
{
    return qobject_cast<const QAbstractScrollArea *>(Widget) ||
           qobject_cast<const QComboBox *>(Widget) || qobject_cast<const QLabel *>(Widget) ||
           qobject_cast<const QAbstractButton *>(Widget) ||
           qobject_cast<const QProgressBar *>(Widget);
}

QString Name(const QWidget *Widget)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(Widget->metaObject()->className()),
                                       Widget->objectName());
}

// The faults of a visible control's own text, or nothing.
QString TextFault(const QWidget *Widget)
{
    if (const auto *Label = qobject_cast<const QLabel *>(Widget)) {
        if (Label->text().isEmpty())
            return {};
        const QRect Room = Label->contentsRect();
        if (Label->wordWrap()) {
            if (Label->heightForWidth(Label->width()) > Label->height())
                return QStringLiteral("wrapped text needs %1 px of height, has %2")
                    .arg(Label->heightForWidth(Label->width()))
                    .arg(Label->height());
            return {};
        }
        const QSize Need = Label->fontMetrics().size(0, Label->text());
        if (Need.width() > Room.width() || Need.height() > Room.height())
            return QStringLiteral("text needs %1x%2, has %3x%4")
                .arg(Need.width())
                .arg(Need.height())
                .arg(Room.width())
                .arg(Room.height());
        return {};
    }
    if (const auto *Button = qobject_cast<const QAbstractButton *>(Widget)) {
        const QSize Need = Button->sizeHint();
        if (Need.width() > Button->width() || Need.height() > Button->height())
            return QStringLiteral("needs %1x%2, has %3x%4")
                .arg(Need.width())
                .arg(Need.height())
                .arg(Button->width())
                .arg(Button->height());
    }
    return {};
}

// Walks the visible controls below Parent and collects what is wrong.
void Inspect(const QWidget *Parent, const QString &Where, QStringList &Faults)
{
    QList<const QWidget *> Children;
    for (const QObject *Child : Parent->children()) {
        const auto *Widget = qobject_cast<const QWidget *>(Child);
        if (Widget != nullptr && !Widget->isWindow() && Widget->isVisible())
            Children.append(Widget);
    }
    for (qsizetype I = 0; I < Children.size(); ++I) {
        const QWidget *Child = Children.at(I);
        const QString Path = Where + u'/' + Name(Child);
        if (!Parent->rect().contains(Child->geometry()))
            Faults << Path + QStringLiteral(": outside its parent");
        for (qsizetype J = I + 1; J < Children.size(); ++J)
            if (Child->geometry().intersects(Children.at(J)->geometry()))
                Faults << Path + QStringLiteral(": overlaps ") + Name(Children.at(J));
        if (const QString Fault = TextFault(Child); !Fault.isEmpty())
            Faults << Path + QStringLiteral(": ") + Fault;
        if (!IsLeaf(Child))
            Inspect(Child, Path, Faults);
    }
}

QString PageTitle(const QWidget *Window)
{
    return LabelText(Window, "LabelTitle");
}
} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyWindowShowsWholeTexts_data();
    void everyWindowShowsWholeTexts();

private:
    static void Next(const QWidget *Window)
    {
        QTest::mouseClick(Button(Window, "ButtonNext"), Qt::LeftButton);
    }
};

void TestLayout::initTestCase()
{
    qputenv("BLANKORA_VIRTUAL_DRIVES", QFile::encodeName(DemoBay));
}

void TestLayout::cleanupTestCase()
{
    VirtualBay::install(nullptr);
}

void TestLayout::everyWindowShowsWholeTexts_data()
{
    QTest::addColumn<QString>("Language");
    QTest::addColumn<int>("Points");
    for (const char *Language : {"en_US", "de_DE"})
        for (const int Points : {9, 12})
            QTest::addRow("%s %d pt, scale %s", Language, Points,
                          qgetenv("QT_SCALE_FACTOR").isEmpty() ? "1"
                                                               : qgetenv("QT_SCALE_FACTOR").data())
                << QString::fromLatin1(Language) << Points;
}

void TestLayout::everyWindowShowsWholeTexts()
{
    QFETCH(QString, Language);
    QFETCH(int, Points);
    const QFont Before = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), Points));
    const TProgramTranslations Translations{QLocale(Language)};
    // A fresh bay: the erase of the row before ejected its disc.
    std::string Error;
    const auto Bay = VirtualBay::fromFile(DemoBay.toStdString(), Error);
    QVERIFY2(Bay, Error.c_str());
    // The demo bay is slowed down for show; the windows are what is tested here.
    Bay->clock().setFactor(300);
    VirtualBay::install(Bay);
    const MessageBoxRecorder Recorder;
    TProgramWindows Windows;
    QVERIFY(OpenProgram(Windows));
    QStringList Faults;
    auto Check = [&Faults](QWidget *Window, const QString &Where) {
        QVERIFY2(QTest::qWaitForWindowExposed(Window), qPrintable(Where));
        // A new size travels up one layout level per turn of the loop.
        for (int Level = 0; Level < 10; ++Level)
            QCoreApplication::processEvents();
        Inspect(Window, Where, Faults);
    };

    Check(Windows.Welcome, QStringLiteral("welcome"));
    Next(Windows.Welcome);
    // Transport, device, erase options, summary, then the operation page.
    for (int Step = 0; Step < 5; ++Step) {
        Check(Windows.Main, PageTitle(Windows.Main));
        if (Step == 1) {
            const auto *Devices =
                Windows.Main->findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
            QVERIFY(Devices != nullptr);
            QVERIFY(Devices->topLevelItemCount() > 0);
            if (Devices->header()->length() > Devices->viewport()->width())
                Faults << QStringLiteral("device list: rows need %1 px, the list shows %2")
                              .arg(Devices->header()->length())
                              .arg(Devices->viewport()->width());
        }
        Next(Windows.Main);
    }
    Check(Windows.Finish, QStringLiteral("completion"));
    QVERIFY2(Recorder.Boxes().isEmpty(), qPrintable(Recorder.Texts().join(u'\n')));
    CloseProgram(Windows);

    TfrmOperationProgress Wait;
    Wait.SetInfoText(
        QCoreApplication::translate("TsbDeviceFinder",
                                    "Waiting up to 20 seconds for the disc in %1 to become ready.")
            .arg(QStringLiteral("/dev/sr0")));
    Wait.ShowDialog();
    Wait.findChild<QLabel *>(QStringLiteral("lblCancelling"))->show();
    Check(&Wait, QStringLiteral("wait dialog"));
    Wait.HideDialog();

    QApplication::setFont(Before);
    for (const QString &Fault : std::as_const(Faults))
        qWarning("%s", qPrintable(Fault));
    QVERIFY2(Faults.isEmpty(), qPrintable(QStringLiteral("%1 faults").arg(Faults.size())));
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
