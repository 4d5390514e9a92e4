#pragma once

// How long a test waits for a condition before it fails: long enough for a machine loaded
// by parallel builds and tests, which is no cost when the condition comes at once.
namespace TestPatience {

inline constexpr int kWaitMs = 60000;

} // namespace TestPatience
