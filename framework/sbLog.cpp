#include "framework/sbLog.h"

#include "platform/sbConfigStore.h"
#include "util/sbUtils.h"

#include <QCoreApplication>
#include <QDir>
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
        FLogFileName = LogFileNameFor(QCoreApplication::applicationFilePath());
        QDir().mkpath(QFileInfo(FLogFileName).absolutePath());
    });
    return FLogFileName;
}

QString TsbLogger::LogFileNameFor(const QString &ExecutablePath)
{
    const QFileInfo executable(ExecutablePath);
    const QString name = executable.completeBaseName() + QStringLiteral(".log");
    const QFileInfo folder(executable.absolutePath());
    if (folder.isDir() && folder.isWritable())
        return executable.absolutePath() + u'/' + name;
    // Installed in a system folder: the user's state folder, as the XDG base
    // directories have it (a relative XDG_STATE_HOME does not count).
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/blankora/") + name;
}

void TsbLogger::Log(const QString &Text, int32_t Level)
{
    Q_UNUSED(Level);
    LogAt(Text, QTime::currentTime());
}

void TsbLogger::LogAt(const QString &Text, const QTime &Time)
{
    if (!FLogEnabled)
        return;
    const QString line =
        Time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral(": ") + Text;
    AppendLineToFile(GetLogFileName(), line);
}
