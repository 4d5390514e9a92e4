#pragma once

#include <QString>

class PrintJob;

// How long a print takes on the printer, from the same layer cycle the printing thread runs.
//
// Terms used here:
//   reset          - before the first layer the board is reset and homes the platform; the
//                    cycle waits for its answer.
//   first-layer wait - from the reset answer to the first exposure (the lamp comes on half-way).
//   exposure       - a layer's image shown for its cure time. Adhesion layers (the first ones)
//                    use the adhesion cure time, stepped down by groups of three layers, but
//                    never less than the normal cure time.
//   motion cycle   - after each exposure the board tilts the vat and raises the platform by
//                    one layer ("N<height>"); its answer starts the next exposure at once.
//   settle         - optional: the printing thread sleeps after every board answer
//                    (printer settings "enableResinSettleTime", "resinSettleTime").
//   finish         - after the last layer's cycle, the board's final movement ("f"); the
//                    print is done when the board reports it.

// The layer cycle's own rules, shared by the printing thread and the estimate.
namespace LayerCycle {

// Seconds from the reset answer to the first exposure.
constexpr int firstLayerDelaySeconds = 5;

// Exposure factor of adhesion layer `layer`: 1, 0.75, 0.5, then 0.25, by groups of three.
double adhesionFactor(int layer);

// Exposure of layer `layer` (from 0) in whole milliseconds, as the printing thread times it:
// max(factor x adhesion cure time, cure time) for the first `adhesionLayers` layers, the cure
// time for the others. `cureTime` is the fine-tuned cure time (PrintJob).
int exposureMs(int layer, int adhesionLayers, double adhesionCureTime, double cureTime);

} // namespace LayerCycle

// The board's durations, in milliseconds, as the simulated board plays them (times its speed).
// The real board's timing belongs to its firmware and its motion parameters: a caller that
// knows other durations puts them into PrinterTiming.
namespace BoardTiming {

constexpr int homingMs = 2000; // reset: "R", then the g parameter, answered "Z<g>"
constexpr int moveMs = 3000; // motion cycle: "N<height>", answered "F<height>"
constexpr int finishMs = 3000; // final movement: "f", answered "F"
constexpr int pauseToggleMs = 1000; // "R410", answered "Pause1" or "Pause0"
constexpr int lampRepeatMs = 10000; // "P1" repeated while the lamp is on

} // namespace BoardTiming

// What the estimate assumes of the printer beyond the job.
struct PrinterTiming {
    double homingSeconds = BoardTiming::homingMs / 1000.0;
    double moveSeconds = BoardTiming::moveMs / 1000.0;
    double finishSeconds = BoardTiming::finishMs / 1000.0;
    bool resinSettleEnabled = false;
    double resinSettleSeconds = 2.0;
};

// A print's time on the printer, by part of the cycle, in seconds of the printer's clock
// (a printer run with a time scale takes these times the scale).
struct PrintTimeEstimate {
    double resetSeconds = 0.0;
    double firstLayerWaitSeconds = 0.0;
    double exposureSeconds = 0.0;
    double motionSeconds = 0.0;
    double settleSeconds = 0.0;
    double finishSeconds = 0.0;
    int layers = 0;

    // From the start of the print (the reset) to the board's report of the final movement.
    double totalSeconds() const;
    // Rounded to the nearest minute.
    int minutes() const;
    // "2 h 05 min", "17 min", "40 s".
    QString text() const;

    // The print of `job` (its layer count, adhesion layers, cure times and fine-tune factor).
    static PrintTimeEstimate of(const PrintJob &job, const PrinterTiming &timing = PrinterTiming());
};
