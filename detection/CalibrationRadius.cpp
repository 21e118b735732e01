// Calibration radius from the pairwise distances: first the radius at which each point
// becomes a core point, then the radius at which it is a core point or reaches one, and
// the first radius of the search above the largest of those.
#include "detection/CalibrationRadius.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "detection/FeatureMath.h"

namespace sfad {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kFirstRadius = 2.5;
constexpr double kRadiusStep = 0.1;
constexpr double kLastRadius = 4.0;

// A distance that is not a number is never smaller than a radius: no neighbour.
double comparable(double distance) { return std::isnan(distance) ? kInfinity : distance; }

// Sets of up to this many points keep their pairwise distances between the two passes
// (at most 4 MB); larger ones compute them again.
constexpr std::size_t kKeptDistancesUpTo = 1024;

// The distances of every pair p < q, in the order the passes visit them (p ascending, then
// q ascending), when the set is small enough to keep them.
std::vector<double> pairDistances(const FeatureMatrix& points) {
  std::vector<double> distances;
  const std::size_t n = points.size();
  if (n > kKeptDistancesUpTo) return distances;
  distances.reserve(n * (n - 1) / 2);
  for (std::size_t p = 0; p < n; ++p) {
    for (std::size_t q = p + 1; q < n; ++q) {
      distances.push_back(comparable(euclideanDistance(points[p], points[q])));
    }
  }
  return distances;
}

// Visits every pair p < q with its distance, kept or computed again.
template <typename Visit>
void forEachPair(const FeatureMatrix& points, const std::vector<double>& kept, Visit visit) {
  const std::size_t n = points.size();
  std::size_t index = 0;
  for (std::size_t p = 0; p < n; ++p) {
    for (std::size_t q = p + 1; q < n; ++q) {
      visit(p, q,
            kept.empty() ? comparable(euclideanDistance(points[p], points[q])) : kept[index++]);
    }
  }
}

// Per point, the smallest radius at which it is a core point: its (minPts - 1)-th smallest
// distance to another point (the neighbourhood test is strict, so any larger radius
// holds that many others). -infinity when every point is a core point on its own.
std::vector<double> coreRadii(const FeatureMatrix& points, const std::vector<double>& distances,
                              int minPts) {
  const std::size_t n = points.size();
  if (minPts <= 1) return std::vector<double>(n, -kInfinity);
  const std::size_t k = static_cast<std::size_t>(minPts) - 1;
  // The k smallest distances of each point so far, ascending, padded with +infinity.
  std::vector<double> nearest(n * k, kInfinity);
  const auto keep = [&](std::size_t point, double distance) {
    double* smallest = &nearest[point * k];
    if (distance >= smallest[k - 1]) return;
    std::size_t at = k - 1;
    for (; at > 0 && smallest[at - 1] > distance; --at) smallest[at] = smallest[at - 1];
    smallest[at] = distance;
  };
  forEachPair(points, distances, [&](std::size_t p, std::size_t q, double distance) {
    keep(p, distance);
    keep(q, distance);
  });
  std::vector<double> radii(n);
  for (std::size_t p = 0; p < n; ++p) radii[p] = nearest[p * k + k - 1];
  return radii;
}

}  // namespace

double noiseRadius(const FeatureMatrix& points, int minPts) {
  const std::vector<double> distances = pairDistances(points);
  const std::vector<double> core = coreRadii(points, distances, minPts);
  // A point is noise up to the smaller of its own core radius and, over every other
  // point q, the radius at which q is a core point and the point is within it.
  std::vector<double> clustered = core;
  forEachPair(points, distances, [&](std::size_t p, std::size_t q, double distance) {
    clustered[p] = std::min(clustered[p], std::max(distance, core[q]));
    clustered[q] = std::min(clustered[q], std::max(distance, core[p]));
  });
  double largest = -kInfinity;
  for (double radius : clustered) largest = std::max(largest, radius);
  return largest;
}

double calibrationRadius(const FeatureMatrix& points, int minPts) {
  const double noiseUpTo = noiseRadius(points, minPts);
  // Repeated addition, so the rounding error accumulates as it always has.
  double eps = kFirstRadius;
  do {
    if (eps > noiseUpTo) break;
    eps += kRadiusStep;
  } while (eps <= kLastRadius);
  return eps;
}

}  // namespace sfad
