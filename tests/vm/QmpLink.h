#pragma once

#include <QJsonObject>
#include <QString>

// QEMU's monitor (QMP), reached from inside the guest through a serial port
// that QEMU connects to its own monitor socket. Every wait is bounded.
class QmpLink
{
public:
    explicit QmpLink(const QString &Port);
    ~QmpLink();
    QmpLink(const QmpLink &) = delete;
    QmpLink &operator=(const QmpLink &) = delete;

    bool IsOpen() const { return FFd >= 0; }
    QString Error() const { return FError; }

    // Runs one command and returns QEMU's answer: {"return": ...} or
    // {"error": {...}}; an empty object when none came in time.
    QJsonObject Execute(const QString &Command, const QJsonObject &Arguments = {},
                        int TimeoutMs = 15000);
    // The "return" record of query-block for one qdev id (e.g. "cdrom0").
    QJsonObject BlockState(const QString &Device);

private:
    bool Send(const QByteArray &Line);
    QJsonObject ReplyWithId(int Id, int TimeoutMs);

    int FFd = -1;
    int FNextId = 1;
    QByteArray FPending;
    QString FError;
};
