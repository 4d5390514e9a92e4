#pragma once

#include "desktopprocess.h"

#include <QString>
#include <QStringList>

#include <functional>

// A whole fleet run: the desktop (fleet-desktop, one real Server in a process of its own)
// and N simulated printers in this process, all on loopback.
//
//   1. connect   - the desktop announces itself to 127.0.0.1; one UDP socket here receives
//                  the datagram for every printer, and each printer connects and completes
//                  its handshake with its own serial and nickname.
//   2. load      - every printer that prints reports each layer at a high rate. The desktop
//                  sends real job files to the first printers, pauses and later resumes a
//                  tenth of the others, and cancels the prints of a twentieth. At the end
//                  the printers fall quiet and the desktop's counts per serial are compared
//                  with what each printer sent.
//   3. kill      - a tenth of the printers (at least three: one per way of dying) end
//                  abruptly: socket closed, connection reset, or gone silent. The rest keep
//                  reporting; the desktop must drop exactly the killed ones and go on
//                  counting every report of the others.
//   4. rejoin    - a few printers lose their power and come back at once with the same
//                  serial, before the desktop has timed out their old connections; a job
//                  is sent to each while the old connection is still held. The desktop must
//                  end up with one device per serial, still show the printer as connected
//                  once the old connection is dropped, and the job must reach the printer.
//   5. end       - the desktop is asked to quit and must end cleanly.
struct FleetOptions {
    int printers = 100;
    int jobPrinters = 10;
    int jobLayers = 100;
    int layerIntervalMs = 50;
    // Factor on the heartbeat timings on both sides (1 = the programs' own timings).
    double timeScale = 1.0;
    int loadMs = 30000;
    // How long the survivors keep reporting once every killed printer was dropped.
    int afterKillMs = 5000;
    // Printers that rejoin after a power cut; -1: one in fifty, at least one.
    int rejoiners = -1;
    // Time allowed for the desktop to catch up with the reports once the printers are quiet.
    int settleMs = 15000;
    QString desktopProgram;
    // Where job files, received jobs and the desktop's log go; a temporary folder if empty.
    QString workFolder;
    // Whether the desktop writes its log file as the program does (costs processor time).
    bool desktopLog = true;
    // 0: chosen from the process id.
    int basePort = 0;
    // Told about each phase as it begins.
    std::function<void(const QString &)> note;
};

struct FleetResult {
    // Every check that failed, in words. Empty when the run passed.
    QStringList problems;
    int checks = 0;

    int printers = 0;
    int connected = 0;
    double connectSeconds = 0.0;

    // Load phase.
    double loadSeconds = 0.0;
    qint64 progressSent = 0;
    qint64 progressReceived = 0;
    qint64 wrongSerial = 0;
    qint64 outOfOrder = 0;
    int desktopTimeouts = 0;
    int printerTimeouts = 0;
    int lostPrinters = 0;
    int jobsSent = 0;
    qint64 jobBytes = 0; // size of the job file
    int jobsIntact = 0;
    int printsDone = 0;
    int pausesSent = 0;
    int pausesDone = 0;
    int resumesDone = 0;
    int cancelsSent = 0;
    int heartbeatsToDesktop = 0;
    int heartbeatsFromDesktop = 0;
    DesktopProcess::Figures afterConnect;
    DesktopProcess::Figures afterLoad;
    // The desktop's resident memory each fifth of the load: growth here would be a leak.
    QList<qint64> loadRssKb;
    qint64 peakRssKb = 0; // highest VmRSS or VmHWM seen in the whole run

    // Kill phase.
    QStringList killed;
    QStringList dropped;
    int killedSilent = 0;
    double longestDropSeconds = 0.0; // of the printers closed or reset
    double longestSilentDropSeconds = 0.0;
    qint64 progressSentAfterKill = 0;
    qint64 progressReceivedAfterKill = 0;
    int devicesAfterKill = 0;
    DesktopProcess::Figures beforeKill;
    DesktopProcess::Figures afterKill;

    // Rejoin phase. Its failed checks are kept apart from the others.
    QStringList rejoined;
    int rejoinHandshakes = 0;
    // Rejoined printers whose old connection was already gone when the job was sent: for
    // those the run did not test what it meant to.
    int rejoinWindowMissed = 0;
    QStringList shownGoneWhileConnected;
    QStringList rejoinJobsLost;
    QStringList rejoinProblems;

    // End.
    bool desktopEndedCleanly = false;
    int desktopExitCode = -1;
    qint64 desktopLogBytes = 0;

    bool passed() const { return problems.isEmpty() && rejoinProblems.isEmpty(); }
    // The figures, one per line.
    QString summary() const;
};

FleetResult runFleet(const FleetOptions &options);
