#pragma once

#include <QString>
#include <QStringList>

// The one door of the printer program to the operating system: every shell command and
// every operating-system file (the network configuration below /etc, the scripts below
// /home/pi) goes through here.
//
// Terms used here:
//   system path  - an absolute path as it is on the printer, such as
//                  "/etc/hostapd/hostapd.conf".
//   live         - system paths are used as they are and commands run through "sh". Only
//                  the printer itself runs live (vatnode --live-system).
//   simulation   - the default: system paths land below a sandbox root, and commands are
//                  logged as "SIMULATED: <command>" and recorded instead of being run.
//
// Meant for the printer's main thread; the recorded state is guarded all the same.
class SystemActions
{
public:
    SystemActions() = delete;

    // Chooses the mode. In simulation, an empty sandbox root means the default, the current
    // folder + "/system-root" at the time of each use; a relative one is made absolute now.
    // Never configured: simulation with the default root.
    static void configure(bool live, const QString &sandboxRoot);

    static bool isLive();
    // The folder below which system paths land in simulation.
    static QString sandboxRoot();

    // Where a file is really read or written. An absolute system path maps to itself when
    // live, and to sandboxRoot() + the (cleaned) system path in simulation, whose parent
    // folders are then created. A relative path (relative to the working folder, such as
    // "Vatnode_previous") is returned unchanged in both modes.
    static QString path(const QString &systemPath);

    // True when the file at path(systemPath) exists.
    static bool exists(const QString &systemPath);

    // Writes `text` (UTF-8) as the whole content of the file at path(systemPath). Returns
    // false, logged with the reason, when it cannot be opened or written (a full disk too);
    // the file is then left as it was, unless its folder allows no temporary file and it
    // had to be written in place. The caller logs with its own operation name as well.
    static bool writeFile(const QString &systemPath, const QString &text);

    // Live: starts "sh", writes the command to its standard input, closes the input, waits
    // up to 30000 ms and returns the standard output read so far (a command still running
    // then is ended). Simulation: logs "SIMULATED: " + command, records it, and returns the
    // output set with setSimulatedOutput() for exactly that command (empty otherwise).
    static QString run(const QString &command);

    // Live: starts the script at path(scriptSystemPath) through "sh" as a separate process
    // and does not wait; false when it cannot be started. Simulation: logs
    // "SIMULATED: " + scriptSystemPath, records it among the commands, returns true.
    static bool startDetached(const QString &scriptSystemPath);

    // Test seams for simulation.
    static void setSimulatedOutput(const QString &command, const QString &output);
    // Every simulated command and detached script, in order.
    static QStringList simulatedCommands();
    // Forgets recorded commands and outputs (the mode and root stay).
    static void clearSimulated();

    static constexpr int commandTimeoutMs = 30000;
};
