#include "platform/sbPlatform.h"

#include <QDebug>

void OutputDebugText(const QString &Text)
{
    qDebug().noquote() << Text;
}

bool IsSptiAvailable()
{
    return true;
}
