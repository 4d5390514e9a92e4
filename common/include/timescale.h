#pragma once

// One factor for the timers of a program, 1.0 in service; tests and demos run a whole
// print in seconds with a small factor. The printer program scales every timer by it: the
// layer cycle, the first-layer delay, the heartbeat, the watchdog, the button, manual
// moves and the port scan (vatnode --time-scale). The desktop scales its side of the
// heartbeat by it (TESSORA_TIME_SCALE, tessora-cli --time-scale).
namespace TimeScale {

double factor();
// Values that are not positive and finite are ignored.
void setFactor(double factor);

// `milliseconds` of real time as timer milliseconds: scaled, truncated toward zero,
// never negative.
int ms(double milliseconds);

} // namespace TimeScale
