#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Kind of a log line; also the index of its icon on the operation page.
enum TsbLogItemType : uint8_t
{
    litInfo = 0,
    litError = 1,
    litWarning = 2
};

// One line of the operation log, tagged with the wizard page it came from.
class TsbLogItem
{
public:
    TsbLogItem() = default;

    // Copies all four properties.
    void Assign(const TsbLogItem &Source);

    QString LogMessage;
    QDateTime LogTime; // null: the line is shown without a time
    TsbLogItemType ItemType = litInfo;
    int32_t PageOwner = 0;
};

// The operation log: an ordered list of lines that pages add to and the
// operation page shows and saves. It owns its lines.
class TsbLog
{
public:
    TsbLog();
    virtual ~TsbLog();
    TsbLog(const TsbLog &) = delete;
    TsbLog &operator=(const TsbLog &) = delete;

    // Appends a line with the default properties and returns it.
    TsbLogItem *Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    TsbLogItem *Items(int Index) const;
    void Delete(int Index);
    void Clear();
    // Removes the first line tagged with Owner and every line after it;
    // nothing when no line carries Owner.
    void TruncateFrom(int32_t Owner);

private:
    std::vector<std::unique_ptr<TsbLogItem>> FItems;
};

// The diagnostic logger: when the configuration store switches it on
// ("LogEnabled" non-zero), every line goes with the time of day to the file
// that LogFileNameFor names. The settings
// are read once, on construction.
class TsbLogger
{
public:
    TsbLogger();
    virtual ~TsbLogger();
    TsbLogger(const TsbLogger &) = delete;
    TsbLogger &operator=(const TsbLogger &) = delete;

    // LogFileNameFor the running program, kept from the first call on; creates
    // the folder of the file.
    QString GetLogFileName();
    // Beside the executable, named like it with the extension ".log", when its
    // folder is writable; otherwise the same name in the folder "blankora" of
    // $XDG_STATE_HOME (~/.local/state when unset).
    static QString LogFileNameFor(const QString &ExecutablePath);
    // Appends "hh:mm:ss.zzz: Text" with CR LF, opening and closing the file for
    // the line; throws EsbError when the file cannot be written. Does nothing,
    // and never touches the file system, while logging is off. Level is
    // accepted and ignored. Safe to call from any thread.
    void Log(const QString &Text, int32_t Level = 0);
    // The same with the time the line was made, for a line written later.
    void LogAt(const QString &Text, const QTime &Time);

    bool LogEnabled() const { return FLogEnabled; }
    int32_t LogLevel() const { return FLogLevel; }

private:
    int32_t FLogLevel = 0;
    bool FLogEnabled = false;
    QString FLogFileName;
    std::once_flag FLogFileNameOnce;
};

// The process-wide diagnostic logger, created at program start before any
// window and freed at exit; null outside that time.
extern TsbLogger *GLogger;
