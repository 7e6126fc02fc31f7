#include "accuracy/trial.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "MultiLateration.h"
#include "Multivariate.h"
#include "accuracy/crb.h"

namespace accuracy {

namespace {

constexpr double kC = MultiLateration::kSpeedOfLight;
// Arrivals carry a large common time, as device times do; only differences matter.
constexpr double kEmissionTime = 1.0;

double distance(const arma::mat& anchors, arma::uword i, const arma::vec& tag)
{
    double sq = 0.0;
    for (arma::uword c = 0; c < tag.n_elem; ++c) {
        const double d = anchors(i, c) - tag(c);
        sq += d * d;
    }
    return std::sqrt(sq);
}

// Collects one solver's errors and the matching draws of an efficient estimator.
struct Tally {
    std::vector<double> errors;
    std::vector<double> bound_draws;
    double bound_trace_sum = 0.0;
    std::size_t bound_count = 0;
    std::size_t failed = 0;

    void add_bound(const arma::mat& crb, std::mt19937_64& rng)
    {
        if (crb.is_empty()) {
            return;
        }
        arma::mat lower;
        if (!arma::chol(lower, crb, "lower")) {
            return;
        }
        std::normal_distribution<double> unit(0.0, 1.0);
        arma::vec z(crb.n_rows);
        for (double& e : z) {
            e = unit(rng);
        }
        bound_draws.push_back(arma::norm(lower * z));
        bound_trace_sum += arma::trace(crb);
        ++bound_count;
    }

    void add_fix(const arma::vec& got, const arma::vec& truth)
    {
        if (got.n_elem < truth.n_elem || !got.head(truth.n_elem).is_finite()) {
            ++failed;
            return;
        }
        errors.push_back(arma::norm(got.head(truth.n_elem) - truth));
    }

    SolverReport report(std::string solver, std::string model) const
    {
        SolverReport r;
        r.solver = std::move(solver);
        r.model = std::move(model);
        r.failed = failed;
        r.errors = summarise(errors);
        r.bound = summarise(bound_draws);
        r.bound.rms = bound_count > 0 ? std::sqrt(bound_trace_sum / static_cast<double>(bound_count))
                                      : NAN;
        return r;
    }
};

arma::vec closed_form_fix(MultiLateration& ml, const Site& site, const arma::vec& truth,
                          double sigma_s, std::mt19937_64& rng)
{
    std::normal_distribution<double> noise(0.0, sigma_s > 0.0 ? sigma_s : 1.0);
    arma::mat anchors = site.anchors;
    arma::rowvec times(anchors.n_rows);
    for (arma::uword i = 0; i < anchors.n_rows; ++i) {
        times(i) = kEmissionTime + distance(anchors, i, truth) / kC +
                   (sigma_s > 0.0 ? noise(rng) : 0.0);
    }
    // The anchor that hears the blink first is the reference, row 0.
    const arma::uword first = times.index_min();
    anchors.swap_rows(0, first);
    times.swap_cols(0, first);
    const int three_d = site.dims == 3;
    if (ml.setAnchors(anchors, three_d) != 1) {
        return {};
    }
    const arma::rowvec p = ml.multilaterate(times, anchors, three_d);
    return p.is_empty() ? arma::vec() : arma::vec(p.t());
}

arma::vec range_fix(const Site& site, const arma::vec& truth, double sigma_m,
                    std::mt19937_64& rng)
{
    std::normal_distribution<double> noise(0.0, sigma_m > 0.0 ? sigma_m : 1.0);
    arma::rowvec ranges(site.anchors.n_rows);
    for (arma::uword i = 0; i < site.anchors.n_rows; ++i) {
        ranges(i) = distance(site.anchors, i, truth) + (sigma_m > 0.0 ? noise(rng) : 0.0);
    }
    return site.dims == 3 ? Multivariate3D(site.anchors, ranges)
                          : Multivariate2D(site.anchors, ranges, true);
}

}  // namespace

ErrorSummary summarise(std::vector<double> errors)
{
    ErrorSummary s;
    s.count = errors.size();
    if (errors.empty()) {
        s.median = s.p95 = s.rms = NAN;
        return s;
    }
    std::sort(errors.begin(), errors.end());
    auto rank = [&](double q) {
        const auto idx = static_cast<std::size_t>(std::ceil(q * static_cast<double>(errors.size())));
        return errors[std::clamp<std::size_t>(idx, 1, errors.size()) - 1];
    };
    s.median = rank(0.5);
    s.p95 = rank(0.95);
    double sq = 0.0;
    for (double e : errors) {
        sq += e * e;
    }
    s.rms = std::sqrt(sq / static_cast<double>(errors.size()));
    return s;
}

std::vector<SolverReport> run_trials(const Site& site, const TrialConfig& config)
{
    // Separate streams, so that the tags drawn do not depend on how much noise a solver
    // consumed.
    std::mt19937_64 tag_rng(config.seed);
    std::mt19937_64 time_rng(config.seed ^ 0x9e3779b97f4a7c15ull);
    std::mt19937_64 range_rng(config.seed ^ 0xc2b2ae3d27d4eb4full);
    std::mt19937_64 bound_rng(config.seed ^ 0x165667b19e3779f9ull);
    std::uniform_real_distribution<double> ux(site.x_min, site.x_max);
    std::uniform_real_distribution<double> uy(site.y_min, site.y_max);
    std::uniform_real_distribution<double> uz(site.tag_z_min, site.tag_z_max);

    const int d = site.dims == 3 ? 3 : 2;
    MultiLateration ml;
    Tally closed, fit;
    for (int n = 0; n < config.tags; ++n) {
        arma::vec truth(d);
        truth(0) = ux(tag_rng);
        truth(1) = uy(tag_rng);
        if (d == 3) {
            truth(2) = uz(tag_rng);
        }
        // In 2D the anchors' z column is the plane's and takes no part in the distances.
        closed.add_fix(closed_form_fix(ml, site, truth, config.arrival_sigma_s, time_rng), truth);
        closed.add_bound(crb_tdoa(site.anchors, truth, kC * config.arrival_sigma_s), bound_rng);
        fit.add_fix(range_fix(site, truth, config.range_sigma_m, range_rng), truth);
        fit.add_bound(crb_ranges(site.anchors, truth, config.range_sigma_m), bound_rng);
    }
    if (d == 3) {
        return {closed.report("MultiLateration 3D", "arrival times"),
                fit.report("Multivariate3D", "ranges")};
    }
    return {closed.report("MultiLateration 2D", "arrival times"),
            fit.report("Multivariate2D", "ranges")};
}

}  // namespace accuracy
