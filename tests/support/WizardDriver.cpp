#include "support/WizardDriver.h"

#include "app/ufrmWelcome.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

QPushButton *Button(const QWidget *Window, const char *Name)
{
    auto *button = Window->findChild<QPushButton *>(QLatin1String(Name));
    if (button == nullptr)
        qFatal("no button %s", Name);
    return button;
}

QString LabelText(const QWidget *Window, const char *Name)
{
    const auto *label = Window->findChild<QLabel *>(QLatin1String(Name));
    return label != nullptr ? label->text()
                            : QStringLiteral("<no label %1>").arg(QLatin1String(Name));
}

bool ProgramEndsAfter(const std::function<void()> &Steps)
{
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    limit.start(20000);
    QTimer::singleShot(0, Steps);
    QApplication::exec();
    return !timedOut;
}

bool OpenProgram(TProgramWindows &Windows)
{
    StartProgram();
    Windows = CreateProgramWindows();
    Windows.Welcome->show();
    return QTest::qWaitForWindowExposed(Windows.Welcome);
}

void CloseProgram(TProgramWindows &Windows)
{
    DestroyProgramWindows(Windows);
    EndProgram();
}
