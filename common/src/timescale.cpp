#include "timescale.h"

#include <QtGlobal>

#include <algorithm>
#include <climits>

#include <atomic>
#include <cmath>

namespace TimeScale {

namespace {
// Read from the printing and watchdog threads, set once at start-up.
std::atomic<double> g_factor {1.0};
} // namespace

double factor()
{
    return g_factor.load();
}

void setFactor(double value)
{
    if (std::isfinite(value) && value > 0.0)
        g_factor.store(value);
}

int ms(double milliseconds)
{
    const double scaled = milliseconds * factor();
    if (!(scaled > 0.0))
        return 0;
    return int(std::min(scaled, double(INT_MAX)));
}

} // namespace TimeScale
