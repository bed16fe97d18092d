#include "framework/sbLog.h"

#include "platform/sbConfigStore.h"
#include "util/sbUtils.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTime>

TsbLogger *GLogger = nullptr;

void TsbLogItem::Assign(const TsbLogItem &Source)
{
    LogMessage = Source.LogMessage;
    LogTime = Source.LogTime;
    ItemType = Source.ItemType;
    PageOwner = Source.PageOwner;
}

TsbLog::TsbLog() = default;

TsbLog::~TsbLog() = default;

TsbLogItem *TsbLog::Add()
{
    FItems.push_back(std::make_unique<TsbLogItem>());
    return FItems.back().get();
}

TsbLogItem *TsbLog::Items(int Index) const
{
    return FItems.at(static_cast<std::size_t>(Index)).get();
}

void TsbLog::Delete(int Index)
{
    FItems.erase(FItems.begin() + Index);
}

void TsbLog::Clear()
{
    FItems.clear();
}

void TsbLog::TruncateFrom(int32_t Owner)
{
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        if (FItems[i]->PageOwner == Owner) {
            while (FItems.size() > i)
                FItems.pop_back();
            return;
        }
    }
}

namespace {
// A setting stored as decimal text; missing or not a number reads as 0.
int32_t ReadConfigNumber(const QString &Name)
{
    bool ok = false;
    const int32_t value = ReadConfigText(Name).trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}
} // namespace

TsbLogger::TsbLogger()
{
    FLogEnabled = ReadConfigNumber(QStringLiteral("LogEnabled")) != 0;
    FLogLevel = ReadConfigNumber(QStringLiteral("LogLevel"));
}

TsbLogger::~TsbLogger() = default;

QString TsbLogger::GetLogFileName()
{
    std::call_once(FLogFileNameOnce, [this] {
        const QFileInfo executable(QCoreApplication::applicationFilePath());
        FLogFileName = QCoreApplication::applicationDirPath() + u'/' +
                       executable.completeBaseName() + QStringLiteral(".log");
    });
    return FLogFileName;
}

void TsbLogger::Log(const QString &Text, int32_t Level)
{
    Q_UNUSED(Level);
    if (!FLogEnabled)
        return;
    const QString line =
        QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral(": ") + Text;
    AppendLineToFile(GetLogFileName(), line);
}
