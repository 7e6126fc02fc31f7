#include "accuracy/site.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace accuracy {

arma::mat wall_anchors(double width, double depth, int count, int dims, double z_low,
                       double z_high)
{
    if (count <= 0) {
        return {};
    }
    // Walls in order round the hall, each from its start corner to the next.
    const double corners[4][2] = {{0.0, 0.0}, {width, 0.0}, {width, depth}, {0.0, depth}};
    std::vector<std::pair<double, double>> xy;
    for (int c = 0; c < std::min(count, 4); ++c) {
        xy.emplace_back(corners[c][0], corners[c][1]);
    }
    const int extras = std::max(0, count - 4);
    for (int wall = 0; wall < 4; ++wall) {
        const int k = extras / 4 + (wall < extras % 4 ? 1 : 0);
        const double* from = corners[wall];
        const double* to = corners[(wall + 1) % 4];
        for (int j = 1; j <= k; ++j) {
            const double f = static_cast<double>(j) / static_cast<double>(k + 1);
            xy.emplace_back(from[0] + f * (to[0] - from[0]), from[1] + f * (to[1] - from[1]));
        }
    }
    arma::mat anchors(xy.size(), 3);
    for (arma::uword i = 0; i < xy.size(); ++i) {
        anchors(i, 0) = xy[i].first;
        anchors(i, 1) = xy[i].second;
        anchors(i, 2) = (dims == 3 && i % 2 == 0) ? z_high : z_low;
    }
    return anchors;
}

bool read_anchor_file(const std::string& path, double default_z, arma::mat& anchors,
                      std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::vector<arma::rowvec> rows;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        std::vector<double> values;
        double v = 0.0;
        while (fields >> v) {
            values.push_back(v);
        }
        if (!fields.eof()) {
            error = path + ":" + std::to_string(number) + ": not a number";
            return false;
        }
        if (values.empty()) {
            continue;
        }
        // The stream refuses "nan", "inf" and out-of-range values: all are finite here.
        if (values.size() < 2 || values.size() > 3) {
            error = path + ":" + std::to_string(number) + ": expected x y [z]";
            return false;
        }
        rows.push_back({values[0], values[1], values.size() == 3 ? values[2] : default_z});
    }
    if (rows.empty()) {
        error = path + ": no anchors";
        return false;
    }
    anchors.set_size(rows.size(), 3);
    for (arma::uword i = 0; i < rows.size(); ++i) {
        anchors.row(i) = rows[i];
    }
    return true;
}

}  // namespace accuracy
