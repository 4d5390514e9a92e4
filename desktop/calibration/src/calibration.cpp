#include "calibration.h"

namespace Calibration {
void initResources() {}
} // namespace Calibration
