#pragma once

class PrintingThread;
class PrinterErrorWatchdog;
class Terminal;

// The wiring of one print between the printing thread, the board link and the error
// watchdog, the same for the printer's session and for a printer tethered to a desktop:
// the thread's commands go to the board, the board's answers come back to the thread,
// and the watchdog hears the board's lamp, cycle and link news and the finish command.
// The caller adds its own reports (progress, frames, errors) around it.
namespace PrintWiring {

void connect(PrintingThread *printing, Terminal *board, PrinterErrorWatchdog *watchdog);

} // namespace PrintWiring
