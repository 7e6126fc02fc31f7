// zub_two_circle.h - placing a tag from two or three ranging circles in the horizontal
// plane: the crossing points of two circles, a placement between two anchors on a line,
// and the combination of the pairwise crossings of three circles.
//
// No solving path uses these; they stand beside the line fits as a complete set. Pure
// computation on the caller's data (the tag is only read, for its last pushed position);
// the only side effects are the error prints. Any thread.
#pragma once

#include <armadillo>

#include "zub_circle_geometry.h"
#include "zub_tag.h"

// |a - b| < 1e-9.
bool double_equals(double a, double b);
double center_distance_sqr(const point& p, const point& q);
double center_distance(const point& p, const point& q);
// Three-dimensional distance of two positions.
double calculation_pos_last_pos_distance(const pos_t& a, const pos_t& b);

// Shrinks the radii in their ratio so that they add up to d: the circles then touch.
void no_crossover_point_deal_with(double d, circle& c1, circle& c2);
// Shrinks the radii in their ratio by their overlap r1 + r2 - d.
void circle_Length_beyond_distance(double d, circle& c1, circle& c2);
// The circle with the smallest (largest) centre x; the earlier one on ties.
circle select_recent_anchor_circle(const circle& a, const circle& b, const circle& c);
circle select_farthest_anchor_circle(const circle& a, const circle& b, const circle& c);

// A crossing point of two circles (circles that do not meet are first made to touch): of
// two points the one nearer to the tag's last pushed position. result = (x, y, 0). False
// for identical or concentric circles and for a result that is not a number.
bool compute_intersection_points(const Tag* tag, circle c1, circle c2, arma::rowvec& result);
// A point on the line of two anchors, one range from one of them. False for identical or
// concentric circles.
bool points_to_tow_anchor_distance_straight_line(const Tag* tag, circle c1, circle c2, arma::rowvec& result);
// The mean of the pairwise crossings of three circles that could be found (at least two).
bool single_channel_calculation(const Tag* tag, circle a, circle b, circle c, arma::rowvec& result);
