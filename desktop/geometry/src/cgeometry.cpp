#include "cgeometry.h"

#include <QtMath>

CTransMatrix::CTransMatrix()
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = r == c ? 1.0 : 0.0;
}

CTransMatrix CTransMatrix::scaling(double sx, double sy, double sz)
{
    CTransMatrix t;
    t.m[0][0] = sx;
    t.m[1][1] = sy;
    t.m[2][2] = sz;
    return t;
}

CTransMatrix CTransMatrix::translation(double tx, double ty, double tz)
{
    CTransMatrix t;
    t.m[0][3] = tx;
    t.m[1][3] = ty;
    t.m[2][3] = tz;
    return t;
}

namespace {

// Exact values at the quarter turns, so a model turned by 90 degrees stays on its grid.
void sinCos(double degrees, double &s, double &c)
{
    const double turns = degrees / 90.0;
    if (turns == std::floor(turns)) {
        const int quarter = ((int(std::fmod(turns, 4.0)) % 4) + 4) % 4;
        static const double sines[4] = {0, 1, 0, -1};
        static const double cosines[4] = {1, 0, -1, 0};
        s = sines[quarter];
        c = cosines[quarter];
        return;
    }
    s = std::sin(qDegreesToRadians(degrees));
    c = std::cos(qDegreesToRadians(degrees));
}

} // namespace

CTransMatrix CTransMatrix::rotationX(double degrees)
{
    double s, c;
    sinCos(degrees, s, c);
    CTransMatrix t;
    t.m[1][1] = c;
    t.m[1][2] = -s;
    t.m[2][1] = s;
    t.m[2][2] = c;
    return t;
}

CTransMatrix CTransMatrix::rotationY(double degrees)
{
    double s, c;
    sinCos(degrees, s, c);
    CTransMatrix t;
    t.m[0][0] = c;
    t.m[0][2] = s;
    t.m[2][0] = -s;
    t.m[2][2] = c;
    return t;
}

CTransMatrix CTransMatrix::rotationZ(double degrees)
{
    double s, c;
    sinCos(degrees, s, c);
    CTransMatrix t;
    t.m[0][0] = c;
    t.m[0][1] = -s;
    t.m[1][0] = s;
    t.m[1][1] = c;
    return t;
}

CTransMatrix CTransMatrix::fromParts(const double scale[3], const double rotationDegrees[3], const double translate[3])
{
    return translation(translate[0], translate[1], translate[2]) * rotationZ(rotationDegrees[2])
        * rotationY(rotationDegrees[1]) * rotationX(rotationDegrees[0]) * scaling(scale[0], scale[1], scale[2]);
}

CTransMatrix CTransMatrix::operator*(const CTransMatrix &other) const
{
    CTransMatrix product;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += m[r][k] * other.m[k][c];
            product.m[r][c] = sum;
        }
    return product;
}

CVertex CTransMatrix::apply(const CVertex &p) const
{
    return {m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3],
        m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3],
        m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3]};
}

CVertex CTransMatrix::applyDirection(const CVertex &d) const
{
    const CVertex r {m[0][0] * d.x + m[0][1] * d.y + m[0][2] * d.z, m[1][0] * d.x + m[1][1] * d.y + m[1][2] * d.z,
        m[2][0] * d.x + m[2][1] * d.y + m[2][2] * d.z};
    const double l = r.length();
    return l > 0.0 ? r * (1.0 / l) : r;
}

bool CTransMatrix::isIdentity() const
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m[r][c] != (r == c ? 1.0 : 0.0))
                return false;
    return true;
}
