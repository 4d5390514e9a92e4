#pragma once

// Closed test solids as triangle soups with outward winding, in the slicer's and the support
// engine's frame (z up): prisms over a polygon, boxes and box-shaped holes, UV spheres, tori
// and solids of revolution. Every vertex is multiplied by the soup's unit as it is added, so
// that a TestMesh(1 / 25.4f) takes millimetres and holds the support engine's inches.

#include "meshimporter.h"

#include <QList>
#include <QPointF>
#include <QVector3D>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

class TestMesh
{
public:
    explicit TestMesh(float unit = 1.0f)
        : m_unit(unit)
    {
    }

    void add(const QVector3D &a, const QVector3D &b, const QVector3D &c)
    {
        auto t = std::make_unique<MeshTriangle>();
        t->a = a * m_unit;
        t->b = b * m_unit;
        t->c = c * m_unit;
        t->normal = MeshImporter::facetNormal(t->a, t->b, t->c);
        m_owned.push_back(std::move(t));
    }

    // A vertical prism over a polygon from z0 to z1, caps fanned from the first point:
    // outward when the points run counter-clockwise seen from above.
    void prism(const std::vector<QPointF> &polygon, float z0, float z1)
    {
        const auto at = [&](size_t i, float z) {
            const QPointF &p = polygon[i % polygon.size()];
            return QVector3D(float(p.x()), float(p.y()), z);
        };
        for (size_t i = 0; i < polygon.size(); ++i) {
            add(at(i, z0), at(i + 1, z0), at(i + 1, z1));
            add(at(i, z0), at(i + 1, z1), at(i, z1));
        }
        for (size_t i = 1; i + 1 < polygon.size(); ++i) {
            add(at(0, z1), at(i, z1), at(i + 1, z1));
            add(at(0, z0), at(i + 1, z0), at(i, z0));
        }
    }

    void box(const QVector3D &low, const QVector3D &high)
    {
        prism({{low.x(), low.y()}, {high.x(), low.y()}, {high.x(), high.y()}, {low.x(), high.y()}}, low.z(), high.z());
    }

    // The walls of a box turned inside out: a hole through whatever box holds it.
    void hole(const QVector3D &low, const QVector3D &high)
    {
        prism({{low.x(), low.y()}, {low.x(), high.y()}, {high.x(), high.y()}, {high.x(), low.y()}}, low.z(), high.z());
    }

    // Rings of latitude from pole to pole, no degenerate triangles at the poles; turned inside
    // out when `inward`, to leave a cavity in a solid around it.
    void sphere(const QVector3D &centre, double radius, int rings, int segments, bool inward = false)
    {
        const auto face
            = [&](const QVector3D &a, const QVector3D &b, const QVector3D &c) { inward ? add(a, c, b) : add(a, b, c); };
        const auto vertex = [&](int ring, int segment) {
            if (ring == 0 || ring == rings)
                return centre + QVector3D(0, 0, float(ring == 0 ? radius : -radius));
            const double theta = kPi * ring / rings;
            const double phi = 2.0 * kPi * (segment % segments) / segments;
            return centre
                + QVector3D(float(radius * std::sin(theta) * std::cos(phi)),
                    float(radius * std::sin(theta) * std::sin(phi)), float(radius * std::cos(theta)));
        };
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < segments; ++j) {
                if (i != rings - 1)
                    face(vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1));
                if (i != 0)
                    face(vertex(i, j), vertex(i + 1, j + 1), vertex(i, j + 1));
            }
        }
    }

    // About the z axis through centre: major radius of the tube's centre line, tube radius minor.
    void torus(const QVector3D &centre, double major, double minor, int around, int tube)
    {
        const auto vertex = [&](int i, int j) {
            const double u = 2.0 * kPi * (i % around) / around;
            const double v = 2.0 * kPi * (j % tube) / tube;
            const double rho = major + minor * std::cos(v);
            return centre + QVector3D(float(rho * std::cos(u)), float(rho * std::sin(u)), float(minor * std::sin(v)));
        };
        for (int i = 0; i < around; ++i) {
            for (int j = 0; j < tube; ++j) {
                add(vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1));
                add(vertex(i, j), vertex(i + 1, j + 1), vertex(i, j + 1));
            }
        }
    }

    // About the vertical through (offsetX, 0), from (radius, height) points bottom to top with
    // radius 0 at both ends; heights are taken less centreZ.
    void revolve(const std::vector<std::pair<double, double>> &profile, double centreZ = 0.0, double offsetX = 0.0)
    {
        constexpr int kSegments = 48;
        const auto point = [&](double r, double z, int s) {
            const double a = 2.0 * kPi * s / kSegments;
            return QVector3D(float(offsetX + r * std::cos(a)), float(r * std::sin(a)), float(z - centreZ));
        };
        for (size_t i = 0; i + 1 < profile.size(); ++i) {
            const auto [r0, z0] = profile[i];
            const auto [r1, z1] = profile[i + 1];
            for (int s = 0; s < kSegments; ++s) {
                if (r0 > 0)
                    add(point(r0, z0, s), point(r0, z0, s + 1), point(r1, z1, r1 > 0 ? s + 1 : s));
                if (r1 > 0)
                    add(point(r0, z0, s), point(r1, z1, s + 1), point(r1, z1, s));
            }
        }
    }

    // The soup as the slicer, the importer's consumers and the support engine take it.
    QList<MeshTriangle *> triangles() const
    {
        QList<MeshTriangle *> list;
        for (const auto &t : m_owned)
            list << t.get();
        return list;
    }

    static constexpr double kPi = 3.14159265358979323846;

private:
    std::vector<std::unique_ptr<MeshTriangle>> m_owned;
    float m_unit;
};
