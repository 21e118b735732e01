// The radius that model calibration settles on for a training set, and the noise radius
// it follows from, found from the pairwise distances instead of a clustering per radius
// tried; no I/O.
#pragma once

#include "detection/FeatureVector.h"

namespace sfad {

// The largest, over the points, of the radius up to which the point is noise. A full run
// with minPts and any eps greater than this labels no point NOISE; with an eps equal to it
// or smaller, at least one. A point stops being noise once it is a core point (minPts - 1
// others strictly closer than eps) or strictly closer than eps to a core point.
// -infinity for no points; +infinity when some point is noise at every radius (fewer than
// minPts points). Raises the dimension error of euclideanDistance when row lengths differ.
double noiseRadius(const FeatureMatrix& points, int minPts);

// The first of the radii 2.5, 2.6, ... (each the previous plus 0.1, tried while not greater
// than 4.0) at which a full run with minPts leaves no point of the set as noise; the value
// after the last try (4.000000000000001) when there is none.
double calibrationRadius(const FeatureMatrix& points, int minPts);

}  // namespace sfad
