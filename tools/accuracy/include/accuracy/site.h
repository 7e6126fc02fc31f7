// site.h - the anchor layouts the accuracy tool simulates: a rectangular hall with
// anchors around its walls, or anchors read from a file. Pure functions.
#pragma once

#include <string>

#include <armadillo>

namespace accuracy {

struct Site {
    arma::mat anchors;            // one row (x, y, z) per anchor, metres
    double x_min = 0.0, x_max = 0.0;  // tags are drawn over this rectangle
    double y_min = 0.0, y_max = 0.0;
    int dims = 2;                 // 2: anchors and tags in one plane; 3: in space
    double plane_z = 0.0;         // 2D: height of that plane
    double tag_z_min = 0.0, tag_z_max = 0.0;  // 3D: tag heights
};

// `count` anchors on the walls of a width x depth hall: the four corners first (fewer
// than four anchors take the first corners), then the rest spread over the walls in
// turn, each wall's extra anchors at equal spacing. In 2D every anchor is at z_low; in
// 3D the anchors alternate between z_high (even rows) and z_low (odd rows), so that
// they do not lie in one plane.
arma::mat wall_anchors(double width, double depth, int count, int dims, double z_low,
                       double z_high);

// Reads anchors from a text file: one anchor per line as "x y" or "x y z" (metres,
// blanks or commas between), '#' starts a comment, empty lines are skipped; a missing z
// is `default_z`. Returns false with a message naming the line on any other content,
// on an unreadable file, or when no anchor is given.
bool read_anchor_file(const std::string& path, double default_z, arma::mat& anchors,
                      std::string& error);

}  // namespace accuracy
