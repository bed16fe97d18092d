#pragma once

#include <QString>

#include <functional>

// A message for the desktop's notification service
// (org.freedesktop.Notifications on the session bus).
struct TsbNotification
{
    QString Summary;
    QString Body;
    bool Urgent = false; // a failure: the service may keep it until it is seen
};

// How an erase ended, for the notification about it.
enum TsbEraseOutcome
{
    eoSucceeded,
    eoFailed,
    eoCancelled
};

// Tells the desktop how the erase of the disc in Drive ended; Detail is the
// reason of a failure. Never waits for the service and never fails: without a
// session bus or a notification service nothing happens.
void NotifyEraseEnded(TsbEraseOutcome Outcome, const QString &Drive, const QString &Detail);

// The notification NotifyEraseEnded sends.
TsbNotification EraseEndedNotification(TsbEraseOutcome Outcome, const QString &Drive,
                                       const QString &Detail);

// Sends Notification; returns whether a session bus took it. Does not wait
// for the service's answer.
bool SendDesktopNotification(const TsbNotification &Notification);

// Waits, at most a few seconds, until the service has answered every
// notification sent, so that one sent just before the program ends arrives.
void FinishDesktopNotifications();

// While set, notifications go to Hook in place of the session bus (tests).
void SetNotificationHook(std::function<void(const TsbNotification &)> Hook);
