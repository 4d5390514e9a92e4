#pragma once

#include "resin.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// What the desktop knows of one connected printer, as one record: kept by the printer's
// device session (ClientDevice, on the Server's thread) and published whole, as a copy,
// every time any of it changes (Server::printerStateChanged). Pages and the controller
// read these copies only, never the session itself.
//
// Terms used here:
//   status    - what the printer itself reports: a status name of the protocol
//               ("PrintStatus_Ready", "PrintStatus_Printing", "PrintStatus_Paused").
//   activity  - what the user sees the printer doing, the status refined by the requests
//               in flight: a job being sent, a pause or resume or cancel asked for and not
//               yet confirmed.
//   outcome   - how the last print ended; stays until the next print starts.
//   busy      - any activity but Ready: no new job, reprint or network change is sent.
//   commandsWait - a job is being sent on the connection: every other command for this
//               printer waits until the transfer has ended (then goes out in order).
struct PrinterState {
    enum class Activity { Ready, Sending, Printing, Pausing, Paused, Resuming, Cancelling };
    enum class Outcome { None, Finished, Cancelled, Failed };

    QString serial;
    QString nickname;
    QString model;
    double version = 0.0;

    QString status; // the printer's status name
    Activity activity = Activity::Ready;
    Outcome outcome = Outcome::None;
    int lastError = 0; // the last printer error of the current or last print, 0 none

    QString jobName; // job being printed, or printed last (what a reprint prints)
    int layer = 0;
    int percent = 0;
    int timeLeft = -1; // minutes, -1 unknown
    qint64 bytesSent = 0; // of the job being sent
    qint64 bytesTotal = 0;
    bool commandsWait = false;

    QList<Resin> resins; // the printer's own list, with its calibration
    QStringList wifiNames;
    int gParameter = 0;
    bool gParameterReset = false;

    bool isBusy() const { return activity != Activity::Ready; }
    bool isPrinting() const { return activity != Activity::Ready && activity != Activity::Sending; }
    bool is75MicronModel() const { return model.contains(QLatin1String("75")); }
    bool hasResin(const QString &name) const;
    // The printer's profile of that name, or a default profile "ResinERROR" (logged).
    Resin resin(const QString &name) const;

    // Words for the pages: "Ready", "Sending the job (40 %)", "Printing", "Pausing…",
    // "Paused", "Resuming…", "Cancelling…".
    QString activityText() const;
    // "Print finished", "Print cancelled", "Print failed: ..." or empty.
    QString outcomeText() const;
    // The printer error in words, empty without one.
    QString errorText() const;
};

Q_DECLARE_METATYPE(PrinterState)
