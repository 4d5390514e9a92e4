#include "supportparameters.h"

#include <algorithm>

namespace {

constexpr int kDensityDriven[] = {2, 6, 10, 14};
constexpr int kStrengthDriven[] = {25, 29, 33, 37, 41, 45};

bool contains(const int *begin, const int *end, int position)
{
    return std::find(begin, end, position) != end;
}

} // namespace

double SupportParameters::Ranged::atLevel(int level) const
{
    const double t = (level - 50) / 50.0;
    if (level <= 50)
        return mid - (low - mid) * t;
    return mid + (high - mid) * t;
}

SupportParameters::SupportParameters()
{
    const auto plain = [this](int position, double v) { m_values[size_t(position)] = v; };
    const auto ranged = [this](int position, double mid, double low, double high) {
        m_values[size_t(position)] = mid;
        m_values[size_t(position) + 1] = mid;
        m_values[size_t(position) + 2] = low;
        m_values[size_t(position) + 3] = high;
    };
    plain(0, 0.004);
    plain(1, 0.01);
    ranged(2, 0.11, 0.16, 0.06);
    ranged(6, 0.15, 0.2, 0.06);
    ranged(10, 0.1, 0.2, 0.06);
    ranged(14, 0.1, 0.8, 0.0);
    plain(18, 0.2);
    plain(19, 0.24);
    plain(20, 25.0);
    plain(21, 5); // minimum island size, pixels
    plain(22, 0.04);
    plain(23, 0.008);
    plain(24, 0.0);
    ranged(25, 0.03, 0.01, 0.05);
    for (int position : {29, 33, 37, 45})
        ranged(position, 0.015, 0.008, 0.03);
    ranged(41, 0.4, 0.4, 0.4);
    plain(49, 0.03);
    plain(50, 0.03);
    plain(51, 5.0);
    plain(52, 15.0);
    plain(53, 0.05);
    for (int position : {54, 55, 56})
        plain(position, 0.3);
    const double rest[] = {0.15, 50.0, 0.125, 0.5, 0.1, 0.01, 0.12, 65.0, 5.0, 0.0, 10000.0};
    for (int i = 0; i < 11; ++i)
        plain(57 + i, rest[i]);
}

bool SupportParameters::isDensityDriven(int position)
{
    return contains(std::begin(kDensityDriven), std::end(kDensityDriven), position);
}

bool SupportParameters::isStrengthDriven(int position)
{
    return contains(std::begin(kStrengthDriven), std::end(kStrengthDriven), position);
}

bool SupportParameters::isRanged(int position)
{
    return isDensityDriven(position) || isStrengthDriven(position);
}

void SupportParameters::applyLevels(int densityLevel, int strengthLevel)
{
    for (int position : kDensityDriven)
        m_values[size_t(position)] = ranged(position).atLevel(densityLevel);
    for (int position : kStrengthDriven)
        m_values[size_t(position)] = ranged(position).atLevel(strengthLevel);
}

double SupportParameters::value(int position) const
{
    return position >= 0 && position < kPositions ? m_values[size_t(position)] : 0.0;
}

void SupportParameters::setPlain(int position, double value)
{
    if (position >= 0 && position < kPositions && !isRanged(position))
        m_values[size_t(position)] = value;
}

SupportParameters::Ranged SupportParameters::ranged(int position) const
{
    if (!isRanged(position))
        return {0, 0, 0, 0};
    return {m_values[size_t(position)], m_values[size_t(position) + 1], m_values[size_t(position) + 2],
        m_values[size_t(position) + 3]};
}
