#pragma once

#include <QVector3D>

#include <cmath>

// The support engine's own geometry: double-precision vertices, triangles with their
// normals, and 4 x 4 transforms. The engine works in inches with z up.

struct CVertex {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    CVertex() = default;
    CVertex(double vx, double vy, double vz) : x(vx), y(vy), z(vz) {}
    explicit CVertex(const QVector3D &v) : x(v.x()), y(v.y()), z(v.z()) {}

    QVector3D toVector() const { return QVector3D(float(x), float(y), float(z)); }

    CVertex operator+(const CVertex &o) const { return {x + o.x, y + o.y, z + o.z}; }
    CVertex operator-(const CVertex &o) const { return {x - o.x, y - o.y, z - o.z}; }
    CVertex operator*(double f) const { return {x * f, y * f, z * f}; }
    double dot(const CVertex &o) const { return x * o.x + y * o.y + z * o.z; }
    CVertex cross(const CVertex &o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double length() const { return std::sqrt(dot(*this)); }
};

struct CTriangle {
    CVertex v[3];
    CVertex normal; // unit, outward

    double minZ() const { return std::fmin(v[0].z, std::fmin(v[1].z, v[2].z)); }
    double maxZ() const { return std::fmax(v[0].z, std::fmax(v[1].z, v[2].z)); }
    double area() const { return (v[1] - v[0]).cross(v[2] - v[0]).length() / 2.0; }
    // The normal of the corners' winding (counter-clockwise seen from outside).
    CVertex windingNormal() const
    {
        const CVertex n = (v[1] - v[0]).cross(v[2] - v[0]);
        const double l = n.length();
        return l > 0.0 ? n * (1.0 / l) : CVertex();
    }
};

// An affine transform of points: row-major 4 x 4, applied to column vectors.
class CTransMatrix
{
public:
    CTransMatrix(); // identity

    static CTransMatrix scaling(double sx, double sy, double sz);
    static CTransMatrix translation(double tx, double ty, double tz);
    // Right-handed turns about an axis, in degrees.
    static CTransMatrix rotationX(double degrees);
    static CTransMatrix rotationY(double degrees);
    static CTransMatrix rotationZ(double degrees);
    // Scale, then rotate about x, y and z in turn, then translate.
    static CTransMatrix fromParts(const double scale[3], const double rotationDegrees[3], const double translate[3]);

    // this * other: other is applied first.
    CTransMatrix operator*(const CTransMatrix &other) const;
    CVertex apply(const CVertex &p) const;
    // Directions: the linear part only, renormalised (normals under non-uniform scales
    // take the inverse transpose; the engine's copy recomputes them from the corners).
    CVertex applyDirection(const CVertex &d) const;
    bool isIdentity() const;

private:
    double m[4][4];
};
