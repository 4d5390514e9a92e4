#pragma once

#include <algorithm>
#include <numeric>
#include <vector>

// Runs of pixels along a layer's rows joined into connected regions (union-find).
namespace RowRuns {

inline int findRoot(std::vector<int> &parent, int i)
{
    while (parent[size_t(i)] != i) {
        parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        i = parent[size_t(i)];
    }
    return i;
}

// Each run's region (the index of its first run). Runs come row by row, left to right, each
// with `row`, `begin` (first column) and `end` (one past the last); runs of neighbouring rows
// join when they share a column, or with `diagonals` also when they meet corner to corner.
template<typename RunT> std::vector<int> joined(const std::vector<RunT> &runs, bool diagonals)
{
    const int corner = diagonals ? 1 : 0;
    std::vector<int> parent(runs.size());
    std::iota(parent.begin(), parent.end(), 0);
    size_t rowBegin = 0;
    size_t above = 0;
    size_t aboveEnd = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        if (r == 0 || runs[r].row != runs[r - 1].row) {
            // A new row: the runs of the row just finished lie above it when that row is
            // the one right above.
            const bool adjacent = r > 0 && runs[r].row == runs[r - 1].row + 1;
            above = adjacent ? rowBegin : r;
            aboveEnd = r;
            rowBegin = r;
        }
        while (above < aboveEnd && runs[above].end + corner <= runs[r].begin)
            ++above;
        for (size_t a = above; a < aboveEnd && runs[a].begin < runs[r].end + corner; ++a) {
            const int ra = findRoot(parent, int(a));
            const int rr = findRoot(parent, int(r));
            if (ra != rr)
                parent[size_t(std::max(ra, rr))] = std::min(ra, rr);
        }
    }
    for (size_t r = 0; r < runs.size(); ++r)
        parent[r] = findRoot(parent, int(r));
    return parent;
}

} // namespace RowRuns
