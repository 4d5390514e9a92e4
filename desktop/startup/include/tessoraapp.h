#pragma once

#include "filehandoffreceiver.h"
#include "winopenfilewitheventhandler.h"

#include <QQuickView>
#include <QStringList>

// The desktop program: logging, the single-instance guard, the hand-off of the
// command line's file paths to an instance already running, and otherwise the
// main window. Returns the process's exit status (1 when another instance runs).
int runTessora(int argc, char **argv);

// The main window of the running instance: the view with the main page, the
// user interface types and the objects the page reaches by name ("fileEvent"
// for the command line's paths, "fileHandOff" for the paths other starts hand
// over). Needs the application object; one per process.
class TessoraWindow
{
public:
    TessoraWindow();

    TessoraWindow(const TessoraWindow &) = delete;
    TessoraWindow &operator=(const TessoraWindow &) = delete;

    // Loads the page, shows the window and starts taking hand-offs. False (and
    // logged) when the page did not load.
    bool show();

    // Asks the page to open each file, in order.
    void openFiles(const QStringList &filePaths);

    QQuickView &view() { return quickView; }
    WinOpenFileWithEventHandler &fileEvent() { return fileEventHandler; }
    FileHandOffReceiver &fileHandOff() { return fileHandOffReceiver; }

private:
    // Declared before the view: the page refers to them until the view is gone.
    WinOpenFileWithEventHandler fileEventHandler;
    FileHandOffReceiver fileHandOffReceiver;
    QQuickView quickView;
};
