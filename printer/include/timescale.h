#pragma once

// One factor for every timer of the printer program: the layer cycle, the
// first-layer delay, the heartbeat, the watchdog, the button, manual moves and
// the port scan. 1.0 on a printer; tests and demos run a whole print in seconds
// with a small factor.
namespace TimeScale {

double factor();
// Values that are not positive and finite are ignored.
void setFactor(double factor);

// `milliseconds` of printer time as timer milliseconds: scaled, truncated
// toward zero, never negative.
int ms(double milliseconds);

} // namespace TimeScale
