#include "framework/sbMessageBox.h"
#include "util/sbErrors.h"

#include "support/MessageBoxRecorder.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullStopRule_data();
    void fullStopRule();
    void errorBoxHasTheApplicationTitle();
    void warningBoxHasNoCaptionAndKeepsItsText();
    void runGuardedShowsTheErrorAndGoesOn();
    void realErrorBoxHasErrorIconAndOk();
    void realWarningBoxHasWarningIconAndOk();

private:
    // Shows a real box through Show and answers it with OK; returns what it showed.
    struct TShownBox
    {
        QMessageBox::Icon Icon = QMessageBox::NoIcon;
        QString Title;
        QString Text;
        QMessageBox::StandardButtons Buttons;
    };
    TShownBox ShowAndAnswer(const std::function<void()> &Show);
};

void TestMessageBox::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Blankora"));
}

void TestMessageBox::fullStopRule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("letter") << "No writable disc is inserted"
                            << "No writable disc is inserted.";
    QTest::newRow("digit") << "StarBurn_UpStartEx() failed, exception 2"
                           << "StarBurn_UpStartEx() failed, exception 2.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("exclamation mark is below the full stop") << "Cancelled!"
                                                             << "Cancelled!";
    QTest::newRow("closing parenthesis is below") << "failed ()"
                                                  << "failed ()";
    QTest::newRow("quote is below") << "text \"x\""
                                    << "text \"x\"";
    QTest::newRow("slash is above") << "path /dev/"
                                    << "path /dev/.";
    QTest::newRow("colon is above") << "Reason:"
                                    << "Reason:.";
    QTest::newRow("non-ASCII letter")
        << QString::fromUtf8("caf\u00E9") << QString::fromUtf8("caf\u00E9.");
    QTest::newRow("blank is below") << "text "
                                    << "text ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestMessageBox::fullStopRule()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    const MessageBoxRecorder recorder;
    ShowErrorMessage(text);
    QCOMPARE(recorder.Texts(), QStringList{shown});
}

void TestMessageBox::errorBoxHasTheApplicationTitle()
{
    const MessageBoxRecorder recorder;
    ShowErrorMessage(QStringLiteral("You must select device that is supports burning CD/DVD"));
    QCOMPARE(recorder.Boxes().size(), 1);
    QCOMPARE(recorder.Boxes().at(0).Kind, TsbMessageBoxRecord::mbkError);
    QCOMPARE(recorder.Boxes().at(0).Title, QStringLiteral("Blankora"));
}

void TestMessageBox::warningBoxHasNoCaptionAndKeepsItsText()
{
    const MessageBoxRecorder recorder;
    ShowWarningMessage(QStringLiteral("StarBurn : Invalid libStarBurn.so version : 0x00000001"));
    QCOMPARE(recorder.Boxes().size(), 1);
    QCOMPARE(recorder.Boxes().at(0).Kind, TsbMessageBoxRecord::mbkWarning);
    QVERIFY(recorder.Boxes().at(0).Title.isEmpty());
    QCOMPARE(recorder.Boxes().at(0).Text,
             QStringLiteral("StarBurn : Invalid libStarBurn.so version : 0x00000001"));
}

void TestMessageBox::runGuardedShowsTheErrorAndGoesOn()
{
    const MessageBoxRecorder recorder;
    bool after = false;
    RunGuarded([&after] {
        throw EsbError(QStringLiteral("No writable disc is inserted"));
        after = true;
    });
    QVERIFY(!after);
    RunGuarded([] { throw std::runtime_error("plain failure"); });
    bool ran = false;
    RunGuarded([&ran] { ran = true; });
    QVERIFY(ran);
    QCOMPARE(recorder.Texts(), QStringList({"No writable disc is inserted.", "plain failure."}));
}

TestMessageBox::TShownBox TestMessageBox::ShowAndAnswer(const std::function<void()> &Show)
{
    TShownBox shown;
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        shown.Icon = box->icon();
        shown.Title = box->windowTitle();
        shown.Text = box->text();
        shown.Buttons = box->standardButtons();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        answered = true;
    });
    Show();
    [&] { QVERIFY(answered); }();
    return shown;
}

void TestMessageBox::realErrorBoxHasErrorIconAndOk()
{
    const TShownBox shown =
        ShowAndAnswer([] { ShowErrorMessage(QStringLiteral("No writable disc is inserted")); });
    QCOMPARE(shown.Icon, QMessageBox::Critical);
    QCOMPARE(shown.Title, QStringLiteral("Blankora"));
    QCOMPARE(shown.Text, QStringLiteral("No writable disc is inserted."));
    QCOMPARE(shown.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void TestMessageBox::realWarningBoxHasWarningIconAndOk()
{
    const TShownBox shown =
        ShowAndAnswer([] { ShowWarningMessage(QStringLiteral("Version mismatch")); });
    QCOMPARE(shown.Icon, QMessageBox::Warning);
    QVERIFY(shown.Title.isEmpty());
    QCOMPARE(shown.Text, QStringLiteral("Version mismatch"));
    QCOMPARE(shown.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
