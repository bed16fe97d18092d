#pragma once

#include <QDBusUnixFileDescriptor>
#include <QString>

// A logind inhibitor lock (org.freedesktop.login1 on the system bus) that
// keeps the computer from sleeping, shutting down or going idle while it is
// held: a drive suspended in the middle of a blank may leave the disc unusable.
class TsbSleepInhibitor
{
public:
    TsbSleepInhibitor() = default;
    ~TsbSleepInhibitor() { Release(); }
    TsbSleepInhibitor(const TsbSleepInhibitor &) = delete;
    TsbSleepInhibitor &operator=(const TsbSleepInhibitor &) = delete;

    // Takes the lock for Why (shown by the desktop beside "Blankora"); returns
    // an empty text when it is held, else why logind could not be asked or
    // refused. A lock already held is kept.
    QString Acquire(const QString &Why);
    // Closes the lock's descriptor, which ends the lock; nothing when none is held.
    void Release();
    bool Held() const { return FLock.isValid(); }

private:
    QDBusUnixFileDescriptor FLock;
};
