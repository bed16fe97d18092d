#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

// A process that has a drive's node open.
struct TsbNodeHolder
{
    QString Command; // its command name, as /proc/<pid>/comm gives it
    pid_t Pid = 0;
};

// The processes other than this one whose open files include Node (the same
// device, or the same file), at most Limit, in the order of their ids. Found
// through /proc/*/fd, so other users' processes are not seen.
QList<TsbNodeHolder> ProcessesHoldingNode(const QString &Node, int Limit = 3,
                                          const QString &ProcRoot = QStringLiteral("/proc"));
