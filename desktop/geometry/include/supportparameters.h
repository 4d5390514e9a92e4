#pragma once

#include <array>

// The support engine's settings, lengths in inches. Most are plain values; the ranged
// ones follow the user's density or strength level (0 to 100): a ranged value holds its
// current value and its values at levels 50, 0 and 100.
//
// Positions name the values as the engine's tables do (ranged values take four
// positions: current, level 50, level 0, level 100).
class SupportParameters
{
public:
    struct Ranged {
        double current;
        double mid; // level 50
        double low; // level 0
        double high; // level 100

        // Level rule: t = (level - 50) / 50; up to 50 from mid towards low, from 51 on
        // from mid towards high.
        double atLevel(int level) const;
    };

    SupportParameters();

    // Sets every density-driven value (positions 2, 6, 10, 14) from the density level
    // and every strength-driven value (25, 29, 33, 37, 41, 45) from the strength level.
    void applyLevels(int densityLevel, int strengthLevel);

    // The value at a position: a plain value, or the current value of a ranged one.
    double value(int position) const;
    void setPlain(int position, double value);
    // A ranged value (positions 2, 6, 10, 14, 25, 29, 33, 37, 41, 45).
    Ranged ranged(int position) const;
    static bool isRanged(int position);

    static bool isDensityDriven(int position);
    static bool isStrengthDriven(int position);

    // Positions 0 to 67.
    static constexpr int kPositions = 68;
    // The four integers: 2, 3, 1920, 1200.
    std::array<int, 4> integers {{2, 3, 1920, 1200}};
    // The two plain values after them.
    double tail[2] = {0.005374, 0.004};
    double scale[3] = {1, 1, 1};
    double rotation[3] = {0, 0, 0};
    double translation[3] = {0, 0, 0};

    // Named uses.
    double samplingSpacing() const { return value(1); } // s, inches
    int minimumIslandPixels() const { return static_cast<int>(value(21)); }

private:
    std::array<double, kPositions> m_values {};
};
