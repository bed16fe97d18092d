#include "platform/sbDriveHolders.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The same device node (by device number) or the same file (by inode).
bool SameNode(const struct stat &A, const struct stat &B)
{
    if (S_ISBLK(A.st_mode) && S_ISBLK(B.st_mode))
        return A.st_rdev == B.st_rdev;
    return A.st_dev == B.st_dev && A.st_ino == B.st_ino;
}

bool HoldsNode(const QString &FdFolder, const struct stat &Node)
{
    const QStringList Fds =
        QDir(FdFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &Fd : Fds) {
        struct stat Open = {};
        // stat() follows the link to the open file itself.
        if (stat(QFile::encodeName(FdFolder + u'/' + Fd).constData(), &Open) == 0 &&
            SameNode(Open, Node))
            return true;
    }
    return false;
}

} // namespace

QList<TsbNodeHolder> ProcessesHoldingNode(const QString &Node, int Limit, const QString &ProcRoot)
{
    QList<TsbNodeHolder> Holders;
    struct stat Wanted = {};
    if (Node.isEmpty() || stat(QFile::encodeName(Node).constData(), &Wanted) != 0)
        return Holders;
    QList<pid_t> Pids;
    for (const QString &Name : QDir(ProcRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool Number = false;
        const pid_t Pid = static_cast<pid_t>(Name.toInt(&Number));
        if (Number && Pid != getpid())
            Pids.append(Pid);
    }
    std::sort(Pids.begin(), Pids.end());
    for (const pid_t Pid : Pids) {
        if (Holders.size() >= Limit)
            break;
        const QString Folder = ProcRoot + u'/' + QString::number(Pid);
        if (!HoldsNode(Folder + QStringLiteral("/fd"), Wanted))
            continue;
        QFile Comm(Folder + QStringLiteral("/comm"));
        const QString Command = Comm.open(QIODevice::ReadOnly)
                                    ? QString::fromLocal8Bit(Comm.readAll()).trimmed()
                                    : QString();
        Holders.append(TsbNodeHolder{Command.isEmpty() ? QStringLiteral("?") : Command, Pid});
    }
    return Holders;
}
