#pragma once

namespace Calibration {
// Makes the calibration resources (:/stl_ssj/...) available; call once before use.
void initResources();
} // namespace Calibration
