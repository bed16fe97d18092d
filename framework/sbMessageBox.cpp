#include "framework/sbMessageBox.h"

#include "util/sbErrors.h"

#include <QApplication>
#include <QMessageBox>

namespace {
TsbMessageBoxHook GMessageBoxHook;

void ShowBox(TsbMessageBoxRecord::TsbBoxKind Kind, const QString &Title, const QString &Text)
{
    if (GMessageBoxHook) {
        GMessageBoxHook(TsbMessageBoxRecord{Kind, Title, Text});
        return;
    }
    const QMessageBox::Icon icon =
        Kind == TsbMessageBoxRecord::mbkError ? QMessageBox::Critical : QMessageBox::Warning;
    QMessageBox box(icon, Title, Text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}
} // namespace

void ShowErrorMessage(const QString &text)
{
    QString shown = text;
    if (!shown.isEmpty() && shown.back().unicode() > u'.')
        shown += u'.';
    ShowBox(TsbMessageBoxRecord::mbkError, QCoreApplication::applicationName(), shown);
}

void ShowWarningMessage(const QString &text)
{
    ShowBox(TsbMessageBoxRecord::mbkWarning, QString(), text);
}

void RunGuarded(const std::function<void()> &Work)
{
    try {
        Work();
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
