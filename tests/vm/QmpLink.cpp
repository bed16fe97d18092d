#include "QmpLink.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

QmpLink::QmpLink(const QString &Port)
{
    FFd = ::open(Port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FFd < 0) {
        FError = Port + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    termios Mode{};
    if (::tcgetattr(FFd, &Mode) == 0) {
        ::cfmakeraw(&Mode);
        ::cfsetspeed(&Mode, B115200);
        ::tcsetattr(FFd, TCSANOW, &Mode);
    }
    // What came in while the port was closed may have left the monitor's JSON
    // parser inside a fragment; a 0xFF byte makes it start afresh.
    ::tcflush(FFd, TCIOFLUSH);
    Send(QByteArrayLiteral("\xff\n"));
    // Leave the negotiation mode; a link used before answers with an error,
    // which is just as good.
    bool Answered = false;
    for (int Attempt = 0; Attempt < 3 && !Answered; ++Attempt)
        Answered = !Execute(QStringLiteral("qmp_capabilities"), {}, 5000).isEmpty();
    if (!Answered) {
        FError = Port + QStringLiteral(": QEMU's monitor does not answer");
        ::close(FFd);
        FFd = -1;
    }
}

QmpLink::~QmpLink()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool QmpLink::Send(const QByteArray &Line)
{
    qsizetype Done = 0;
    while (Done < Line.size()) {
        const ssize_t Written = ::write(FFd, Line.constData() + Done, size_t(Line.size() - Done));
        if (Written < 0 && errno == EINTR)
            continue;
        if (Written <= 0)
            return false;
        Done += Written;
    }
    return true;
}

QJsonObject QmpLink::Execute(const QString &Command, const QJsonObject &Arguments, int TimeoutMs)
{
    if (FFd < 0)
        return {};
    const int Id = FNextId++;
    QJsonObject Request{{QStringLiteral("execute"), Command}, {QStringLiteral("id"), Id}};
    if (!Arguments.isEmpty())
        Request.insert(QStringLiteral("arguments"), Arguments);
    if (!Send(QJsonDocument(Request).toJson(QJsonDocument::Compact) + '\n'))
        return {};
    return ReplyWithId(Id, TimeoutMs);
}

QJsonObject QmpLink::ReplyWithId(int Id, int TimeoutMs)
{
    QElapsedTimer Clock;
    Clock.start();
    for (;;) {
        // Events and the greeting come in between; only our reply counts.
        qsizetype End;
        while ((End = FPending.indexOf('\n')) >= 0) {
            const QByteArray Line = FPending.left(End).trimmed();
            FPending.remove(0, End + 1);
            const QJsonObject Reply = QJsonDocument::fromJson(Line).object();
            if (Reply.value(QStringLiteral("id")).toInt(-1) == Id)
                return Reply;
        }
        const qint64 Left = TimeoutMs - Clock.elapsed();
        if (Left <= 0)
            return {};
        pollfd Wait{FFd, POLLIN, 0};
        if (::poll(&Wait, 1, int(Left)) <= 0)
            continue;
        char Chunk[4096];
        const ssize_t Got = ::read(FFd, Chunk, sizeof Chunk);
        if (Got > 0)
            FPending.append(Chunk, Got);
    }
}

QJsonObject QmpLink::BlockState(const QString &Device)
{
    const QJsonArray Blocks =
        Execute(QStringLiteral("query-block")).value(QStringLiteral("return")).toArray();
    for (const QJsonValue &Block : Blocks) {
        const QJsonObject Record = Block.toObject();
        const QString Qdev = Record.value(QStringLiteral("qdev")).toString();
        if (Qdev == Device ||
            Qdev.startsWith(QStringLiteral("/machine/peripheral/") + Device + u'/'))
            return Record;
    }
    return {};
}
