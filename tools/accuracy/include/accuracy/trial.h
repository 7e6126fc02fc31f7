// trial.h - seeded Monte Carlo of the engine's position solvers on one site, next to the
// Cramér–Rao bound of each tag position. Single-threaded; no state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "accuracy/site.h"

namespace accuracy {

struct TrialConfig {
    int tags = 4000;
    std::uint64_t seed = 1;
    double arrival_sigma_s = 0.1e-9;  // per arrival time, closed form
    double range_sigma_m = 0.0;       // per range, range fits
};

// Error spread over the tags, metres: nearest-rank percentiles, root mean square.
struct ErrorSummary {
    std::size_t count = 0;
    double median = 0.0;
    double p95 = 0.0;
    double rms = 0.0;
};

ErrorSummary summarise(std::vector<double> errors);

struct SolverReport {
    std::string solver;    // which solver
    std::string model;     // which measurements it takes
    std::size_t failed = 0;  // tags for which it gave no position
    ErrorSummary errors;   // its errors over the tags it solved
    // An efficient estimator at the bound: errors drawn from N(0, CRB) at every tag; its
    // rms is the exact sqrt(mean trace CRB) over the tags, not the draw's.
    ErrorSummary bound;
};

// One report per solver: in 2D the closed form (arrival times) and the x-y range fit; in
// 3D the closed form in space and the three-dimensional range fit.
std::vector<SolverReport> run_trials(const Site& site, const TrialConfig& config);

}  // namespace accuracy
