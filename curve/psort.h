// Scan starts at a polyline: the part of point reordering (cloud/psort) that interpolates curves
// through scan points, so it lives on this floor.
#pragma once

struct Cloud;

// The point nearest target on a cubic through scan points i-1, i, j, j+1 (cyclic in count),
// searched between i and j; fewer than 4 points, a failed interpolation or estimate, or points i
// and j closer than 1e-10 give the nearest point of the segment from i to j. out: 3 doubles, left
// untouched for count < 1 or a null array.
void FindBestClosestPt(int count, const float* x, const float* y, const float* z, int i, int j,
                       const double target[3], double out[3]);

// A new cloud whose every scan (a scattered cloud is one scan) starts where it comes nearest to
// the polyline, a point inserted there unless the place is a scan point, each scan turned to run
// the way the one before it runs. Normals (interpolated at an inserted point), labels and their
// display bits come along; nothing else does. The source is not changed. Null on no memory or a
// cloud that cannot be made.
Cloud* RearrangeCloudStartsByPline(const Cloud* cloud, int npl, const double* plx, const double* ply,
                                   const double* plz);
