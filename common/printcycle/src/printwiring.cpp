#include "printwiring.h"

#include "printererrorwatchdog.h"
#include "printingthread.h"
#include "terminal.h"

namespace PrintWiring {

void connect(PrintingThread *pt, Terminal *board, PrinterErrorWatchdog *watchdog)
{
    QObject::connect(pt, &PrintingThread::sendResetPrinter, board, &Terminal::resetPrinter);
    QObject::connect(pt, &PrintingThread::sendSetPrinterBaselineToCurrentPosition, board,
        &Terminal::setPrinterBaselineToCurrentPosition);
    QObject::connect(pt, &PrintingThread::sendTurnOnProjector, board, &Terminal::turnOnProjector);
    QObject::connect(pt, &PrintingThread::sendFinishPrint, board, &Terminal::finishPrint);
    QObject::connect(pt, &PrintingThread::sendMovePrinterToLayer, board, &Terminal::goToLayerHeight);
    QObject::connect(pt, &PrintingThread::sendGCommandToLayer, board, &Terminal::goToLayerHeight_G);
    QObject::connect(pt, &PrintingThread::pauseInTerminal, board, &Terminal::pausePrinter);
    QObject::connect(pt, &PrintingThread::resumeInTerminal, board, &Terminal::resumePrinter);
    QObject::connect(pt, &PrintingThread::pauseInTerminalBeforeReset, board, &Terminal::finishPrint);
    QObject::connect(board, &Terminal::printerResetDone, pt, &PrintingThread::doneWithReset);
    QObject::connect(board, &Terminal::g_movementDone, pt, &PrintingThread::doneWithGMovement);
    QObject::connect(board, &Terminal::resumeMovementDone, pt, &PrintingThread::doneWithResumeMovement);
    QObject::connect(board, &Terminal::printerTiltCycleDone, pt, &PrintingThread::doneWithTiltCycle);
    QObject::connect(
        board, &Terminal::printerTiltCycleDone, watchdog, &PrinterErrorWatchdog::dataReceived_printCycleCompleted);
    // The board's pause and finish answers go to the printing thread, which knows which
    // request each one confirms.
    QObject::connect(board, &Terminal::pauseMovementDone, pt, &PrintingThread::doneWithPauseMovement);
    QObject::connect(board, &Terminal::f_movementDone, pt, &PrintingThread::doneWithFinishMovement);
    QObject::connect(pt, &PrintingThread::sendFinishPrint, watchdog, &PrinterErrorWatchdog::finishPrint);
    QObject::connect(
        board, &Terminal::dataReceived_projectorOff, watchdog, &PrinterErrorWatchdog::dataReceived_projectorOff);
    QObject::connect(
        board, &Terminal::dataReceived_projectorOn, watchdog, &PrinterErrorWatchdog::dataReceived_projectorOn);
    QObject::connect(board, &Terminal::usbConnectionClosed, watchdog, &PrinterErrorWatchdog::usbConnectionClosed);
    QObject::connect(board, &Terminal::usbConnectionClosed, pt, &PrintingThread::abortPrint);
}

} // namespace PrintWiring
