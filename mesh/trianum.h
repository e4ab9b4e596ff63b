// Triangulation of loops and the even-odd point-in-polygon tests beside it.
#pragma once

// 1 when the segment from p (px, py) to the far point q (qx, qy), which the caller chooses
// outside the polygon, crosses the closed polygon x, y of n points (the last joined to the
// first) an odd number of times: p is inside. A crossing through a polygon vertex is counted
// once, on the edge that ends there.
int IsPoint2DInList(double px, double py, double qx, double qy, const double* x, const double* y,
                    int n);
