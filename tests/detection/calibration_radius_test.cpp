// The calibration radius from pairwise distances must equal, bit for bit, the radius of the
// search that runs one full clustering per radius tried and keeps the first without noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "detection/CalibrationRadius.h"
#include "detection/DbscanClusterer.h"
#include "detection/FeatureMath.h"

namespace sfad {
namespace {

constexpr double kAfterLastRadius = 4.000000000000001;

// The search as calibration has always made it: 2.5, then +0.1 by repeated addition while
// not above 4.0, a full clustering per radius.
double radiusBySearch(const FeatureMatrix& points, int minPts) {
  DbscanDataset dataset;
  dataset.rows = points;
  dataset.pointCount = static_cast<int>(points.size());
  double eps = 2.5;
  do {
    DbscanClusterer clusterer(eps, minPts, FULL_RUN);
    std::vector<int> labels;
    clusterer.run(dataset, labels);
    if (std::count(labels.begin(), labels.end(), static_cast<int>(NOISE)) == 0) break;
    eps += 0.1;
  } while (eps <= 4.0);
  return eps;
}

// The radii of the search in order, with the value after the last.
std::vector<double> searchRadii() {
  std::vector<double> radii;
  double eps = 2.5;
  do {
    radii.push_back(eps);
    eps += 0.1;
  } while (eps <= 4.0);
  radii.push_back(eps);
  return radii;
}

FeatureMatrix onALine(const std::vector<double>& positions) {
  FeatureMatrix points;
  for (double x : positions) points.push_back({x});
  return points;
}

TEST(CalibrationRadius, SmallSetsAndDuplicates) {
  struct Case {
    const char* name;
    FeatureMatrix points;
    double radius;
  };
  const std::vector<double> radii = searchRadii();
  const Case cases[] = {
      {"no points", {}, 2.5},
      {"one point", {{1.0, 2.0}}, kAfterLastRadius},
      {"two points", {{0.0, 0.0}, {0.1, 0.0}}, kAfterLastRadius},
      {"three duplicates", {{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}}, 2.5},
      {"a far point among duplicates", {{0, 0}, {0, 0}, {0, 0}, {9, 9}}, kAfterLastRadius},
      {"a border point at 3.05 from a core point", onALine({0, 0, 0, 3.05}), radii[6]},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(calibrationRadius(c.points, 3), c.radius) << c.name;
    EXPECT_EQ(radiusBySearch(c.points, 3), c.radius) << c.name;
  }
}

// Points exactly one search radius apart are not neighbours at that radius (the test is
// strict), so the next radius is the answer; beyond the last radius nothing qualifies.
TEST(CalibrationRadius, DistancesExactlyAtASearchRadius) {
  const std::vector<double> radii = searchRadii();
  for (std::size_t k = 0; k + 1 < radii.size(); ++k) {
    const double r = radii[k];
    const FeatureMatrix chain = onALine({0.0, r, 2 * r});
    const double expected = k + 1 < radii.size() - 1 ? radii[k + 1] : kAfterLastRadius;
    EXPECT_EQ(calibrationRadius(chain, 3), expected) << "radius " << r;
    EXPECT_EQ(radiusBySearch(chain, 3), expected) << "radius " << r;
  }
}

// Random sets shaped like training sets (a few tight groups, scattered outliers, repeated
// jobs and values on a grid of 0.1), normalised as calibration normalises them.
FeatureMatrix randomSet(std::mt19937& random) {
  const int count = std::uniform_int_distribution<int>(0, 45)(random);
  const int dimensions = std::uniform_int_distribution<int>(1, 5)(random);
  const bool grid = std::uniform_int_distribution<int>(0, 3)(random) == 0;
  std::normal_distribution<double> around(0.0, 1.0);
  std::uniform_real_distribution<double> anywhere(-40.0, 40.0);
  std::uniform_int_distribution<int> choice(0, 9);
  FeatureMatrix points;
  for (int i = 0; i < count; ++i) {
    if (!points.empty() && choice(random) == 0) {
      points.push_back(
          points[std::uniform_int_distribution<std::size_t>(0, points.size() - 1)(random)]);
      continue;
    }
    const double centre = 10.0 * (choice(random) % 3);
    FeatureVector point;
    for (int d = 0; d < dimensions; ++d) {
      double value = choice(random) == 0 ? anywhere(random) : centre + around(random);
      if (grid) value = static_cast<int>(value * 10.0) / 10.0;
      point.push_back(value);
    }
    points.push_back(point);
  }
  if (!grid) normalizeFeatures(points);
  return points;
}

TEST(CalibrationRadius, EqualsTheSearchOnRandomSets) {
  std::mt19937 random(1234);
  int decidedInsideTheSearch = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const FeatureMatrix points = randomSet(random);
    for (int minPts : {3, 2, 4}) {
      const double radius = calibrationRadius(points, minPts);
      ASSERT_EQ(radius, radiusBySearch(points, minPts))
          << "trial " << trial << ", " << points.size() << " points, minPts " << minPts;
      if (minPts == 3 && radius > 2.5 && radius < 4.0) ++decidedInsideTheSearch;
    }
  }
  // The sets must exercise the radii between the first and the last, not only the ends.
  EXPECT_GT(decidedInsideTheSearch, 300);
}

TEST(NoiseRadius, EndsOfTheRange) {
  EXPECT_EQ(noiseRadius({}, 3), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(noiseRadius({{0.0}, {1.0}}, 3), std::numeric_limits<double>::infinity());
  // Point 3 is noise up to 2: above it, point 1 is a core point and 3 is within reach.
  EXPECT_EQ(noiseRadius(onALine({0, 1, -1, 3}), 3), 2.0);
}

}  // namespace
}  // namespace sfad
