#pragma once

#include <cstddef>
#include <vector>

// Dense arrays addressed by column, row (and depth); the support engine's grids.

template <typename T>
class CArray2D
{
public:
    CArray2D() = default;
    CArray2D(int width, int height, const T &value = T()) { resize(width, height, value); }

    void resize(int width, int height, const T &value = T())
    {
        m_width = width > 0 ? width : 0;
        m_height = height > 0 ? height : 0;
        m_data.assign(size_t(m_width) * size_t(m_height), value);
    }
    void fill(const T &value) { m_data.assign(m_data.size(), value); }

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < m_width && y < m_height; }
    size_t index(int x, int y) const { return size_t(y) * size_t(m_width) + size_t(x); }

    T &operator()(int x, int y) { return m_data[index(x, y)]; }
    const T &operator()(int x, int y) const { return m_data[index(x, y)]; }
    T &operator[](size_t i) { return m_data[i]; }
    const T &operator[](size_t i) const { return m_data[i]; }
    size_t size() const { return m_data.size(); }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<T> m_data;
};

template <typename T>
class CArray3D
{
public:
    CArray3D() = default;
    CArray3D(int width, int height, int depth, const T &value = T()) { resize(width, height, depth, value); }

    void resize(int width, int height, int depth, const T &value = T())
    {
        m_width = width > 0 ? width : 0;
        m_height = height > 0 ? height : 0;
        m_depth = depth > 0 ? depth : 0;
        m_data.assign(size_t(m_width) * size_t(m_height) * size_t(m_depth), value);
    }

    int width() const { return m_width; }
    int height() const { return m_height; }
    int depth() const { return m_depth; }
    // Depth runs fastest: the entries of one (x, y) column lie side by side.
    size_t index(int x, int y, int d) const
    {
        return (size_t(y) * size_t(m_width) + size_t(x)) * size_t(m_depth) + size_t(d);
    }

    T &operator()(int x, int y, int d) { return m_data[index(x, y, d)]; }
    const T &operator()(int x, int y, int d) const { return m_data[index(x, y, d)]; }
    size_t size() const { return m_data.size(); }

private:
    int m_width = 0;
    int m_height = 0;
    int m_depth = 0;
    std::vector<T> m_data;
};
