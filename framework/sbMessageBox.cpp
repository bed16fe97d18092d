#include "framework/sbMessageBox.h"

#include "framework/sbErrors.h"
#include "platform/sbUDisks.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
TsbMessageBoxHook GMessageBoxHook;
bool GOfferTaken = false;

// Returns whether the user clicked Offer.
bool ShowBox(TsbMessageBoxRecord::TsbBoxKind Kind, const QString &Title, const QString &Text,
             const QString &Offer = QString())
{
    if (GMessageBoxHook) {
        GMessageBoxHook(TsbMessageBoxRecord{Kind, Title, Text, Offer});
        return !Offer.isEmpty() && GOfferTaken;
    }
    const QMessageBox::Icon icon =
        Kind == TsbMessageBoxRecord::mbkError ? QMessageBox::Critical : QMessageBox::Warning;
    QMessageBox box(icon, Title, Text, QMessageBox::Ok, QApplication::activeWindow());
    QPushButton *offered =
        Offer.isEmpty() ? nullptr : box.addButton(Offer, QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return offered != nullptr && box.clickedButton() == offered;
}

QString ErrorBoxText(const QString &text)
{
    QString shown = text;
    if (!shown.isEmpty() && shown.back().unicode() > u'.')
        shown += u'.';
    return shown;
}

// Shows the mounted disc's box; returns whether it has been unmounted.
bool OfferUnmount(const EsbMountedDisc &error)
{
    const QString offer =
        UDisksAvailable() ? QCoreApplication::translate("MessageBox", "Unmount") : QString();
    if (!ShowBox(TsbMessageBoxRecord::mbkError, QCoreApplication::applicationName(),
                 ErrorBoxText(error.Message()), offer))
        return false;
    const QString reason = UnmountWithUDisks(error.Node());
    if (reason.isEmpty())
        return true;
    ShowErrorMessage(
        QCoreApplication::translate("MessageBox", "The disc could not be unmounted: %1")
            .arg(reason));
    return false;
}
} // namespace

void ShowErrorMessage(const QString &text)
{
    ShowBox(TsbMessageBoxRecord::mbkError, QCoreApplication::applicationName(), ErrorBoxText(text));
}

void ShowWarningMessage(const QString &text)
{
    ShowBox(TsbMessageBoxRecord::mbkWarning, QString(), text);
}

void RunGuarded(const std::function<void()> &Work)
{
    try {
        Work();
    } catch (const EsbMountedDisc &error) {
        if (OfferUnmount(error))
            RunGuarded(Work);
    } catch (const EsbError &error) {
        ShowErrorMessage(error.Message());
    } catch (const std::exception &error) {
        ShowErrorMessage(QString::fromLocal8Bit(error.what()));
    }
}

TsbMessageBoxHook SetMessageBoxHook(TsbMessageBoxHook Hook)
{
    TsbMessageBoxHook previous = std::move(GMessageBoxHook);
    GMessageBoxHook = std::move(Hook);
    return previous;
}

void SetMessageBoxOfferTaken(bool Taken)
{
    GOfferTaken = Taken;
}
