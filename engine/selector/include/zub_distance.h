// zub_distance.h - g_distance, the engine-wide matrix of anchor-to-anchor distances
// (metres, single precision, indexed by local anchor id).
//
// The control job rebuilds it on the controller's "anchor cfg" and publishes it as a new
// immutable snapshot; readers (the selectors, any thread) take a shared reference to the
// snapshot that is current and keep it for the round they are solving. A snapshot is
// never changed after publication and is freed only when its last reader lets go, so a
// rebuild never pulls the matrix from under a reader.
#pragma once

#include <memory>
#include <vector>

#include "VorlenTypes.h"

class DistanceMatrix {
public:
    explicit DistanceMatrix(unsigned side) : n(side), d(static_cast<size_t>(side) * side, 0.0f) {}

    // 0 (unknown: only a zero time difference can pair) for ids outside the matrix.
    float at(unsigned i, unsigned j) const
    {
        return (i < n && j < n) ? d[static_cast<size_t>(i) * n + j] : 0.0f;
    }
    bool covers(unsigned id) const { return id < n; }

    unsigned n;
    std::vector<float> d;  // row-major n x n
};

using DistanceRef = std::shared_ptr<const DistanceMatrix>;

// The current snapshot; null before the first build and after zub_distance_free. Any thread.
DistanceRef zub_distance_snapshot();
// Makes `m` the current snapshot (null: none). Control job.
void zub_distance_publish(DistanceRef m);

// The lookup every reader uses: 0 without a matrix or for an id outside it.
inline float zub_distance_at(const DistanceMatrix* m, unsigned i, unsigned j)
{
    return m != nullptr ? m->at(i, j) : 0.0f;
}
