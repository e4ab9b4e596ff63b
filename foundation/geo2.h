// Small constructions on points in the plane and in space: the 2D convex hull, squared
// distances to segments, triangles, planes and lines, point-in-triangle tests, circles and
// spheres through three or four points, least-squares planes through a line or a point.
//
// Names ending in Sq/sq give squared distances. 3.37e38 (kEmptyBoxBound) marks "no result".
// Segment parameters follow the legacy convention foot = t a + (1 - t) b: t = 1 at a.
#pragma once

#include "foundation/vec3.h"

// ---- distances ------------------------------------------------------------------------------
// Closest point of segment a b and its squared distance; a segment below 1e-10 on every axis
// gives its midpoint, t = 0. Returns 0.
int LineSegPntMinDistSq(const double p[3], const double a[3], const double b[3], double foot[3], double* d2,
                        double* t);
// The same in 2D.
int LineSegPnt2DMinDistSq(const double p[2], const double a[2], const double b[2], double foot[2], double* d2,
                          double* t);
// Closest point of triangle a b c: foot = s a + t b + (1 - s - t) c. Returns 0.
int TriangPntMinDistSq(const double p[3], const double a[3], const double b[3], const double c[3],
                       double foot[3], double* d2, double* s, double* t);
// Foot of p on the plane a x + b y + c z + d = 0 and its squared distance.
void PlaneMinDistSq(const double p[3], double a, double b, double c, double d, double foot[3], double* d2);
// Squared distance of p from the line through linePoint along dir; a direction with
// |dir|^2 < 1e-10 gives foot = (3.37e38, 3.37e38, 3.37e38) and 3.37e38.
double LinePointMinDistSq(const double linePoint[3], const double dir[3], const double p[3], double foot[3]);
// Closest points p0 + s (p1 - p0) and q0 + t (q1 - q0) of two segments, s, t in [0, 1].
// 0, or -2 with d2 = 3.37e38 for near-parallel segments (within 0.1 degree).
int LineSegsMinDistsq(const double p0[3], const double p1[3], const double q0[3], const double q1[3], double* d2,
                      double* s, double* t);
// Closest points of two infinite lines with unit directions; dist may be null.
// 0, or -2 with dist = 3.37e38 for near-parallel lines.
int LinesMinDist(const double p0[3], const double d0[3], const double p1[3], const double d1[3], double foot0[3],
                 double foot1[3], double* dist);
// Smallest squared distance from p to the four edges of the box's x-y rectangle.
double Distance2DBetPtAndBbox(const double p[2], const Bbox box);
// *out = |a - b|; returns a.
const double* DistanceBetweenPoints(const double a[3], const double b[3], double* out);
// Area of the triangle a b c (half the length of the cross product of two edges).
double AreaOfTriangle(const double a[3], const double b[3], const double c[3]);

// ---- tests (2D points are double[2]) --------------------------------------------------------
// 2: c and d strictly on the same side of line a b; 1: one of them on it; 0: opposite sides.
int SameSide2D(const double a[2], const double b[2], const double c[2], const double d[2]);
// 1 when p lies inside or on the triangle.
int IsPointInTriangle2D(const double a[2], const double b[2], const double c[2], const double p[2]);
// The same; wa, wb (weights of a and b) are written whenever they could be solved.
int IsPointInTriangle2Dw(const double a[2], const double b[2], const double c[2], const double p[2], double* wa,
                         double* wb);
// For a degenerate triangle: 1 when p lies on the segment it collapses to.
int IsPointInLine(const double a[2], const double b[2], const double c[2], const double p[2]);
// 1 when all points lie on one line through the first; points within a millionth of the set's
// largest side of the first count as the first. 0 for a null array with n > 0.
int IsLinear(const float* x, const float* y, const float* z, int n);

// ---- constructions --------------------------------------------------------------------------
// New array of n flags (Malloc, at the caller's tracking level): non-zero for points on the
// convex hull (points on a straight stretch and repeated points are not), 0 for the others.
// Null when its allocations failed, or with the error state -2 for a null array with n > 0.
char* GrahamConvexHull(const float* x, const float* y, int n);
// Pseudo-angle of p - origin in [0, 360), monotonic in the true angle; 0 when p == origin.
double ThetaOrder(const double origin[2], const double p[2]);
// 1 and the centre of the circle through the points; 0 and (0, 0, 0) when collinear.
int FindCircle3Pts(const double p0[3], const double p1[3], const double p2[3], double centre[3]);
// 1 and the centre and squared radius; 0 (nothing written) when collinear.
int Get2DCircle(double x1, double y1, double x2, double y2, double x3, double y3, double* cx, double* cy,
                double* r2);
// 1 and the sphere through four points; 0 with centre and radius 0 when they are coplanar.
int FitSphereFourPts(const double p0[3], const double p1[3], const double p2[3], const double p3[3],
                     double centre[3], double* radius);
// The two centres of spheres of radius r through three points. 1, or 0 when the points are
// collinear or r is smaller than their circle's radius.
int FitSphere3PtsAndRadius(const double p0[3], const double p1[3], const double p2[3], double r, double c1[3],
                           double c2[3]);
// Least-squares circle through point fitted to the n samples: unit plane normal, centre,
// radius, and tangentPoint = point + radius along the tangent that leads towards the first
// sample. flag receives the plane fit's residual. 1, or 0 for n < 2, a null array or a failed
// fit. The sample arrays are only read.
int CircleFitThroughPnt(const double point[3], int n, const double* x, const double* y, const double* z,
                        double normal[3], double centre[3], double* radius, double tangentPoint[3], double* flag);
// Least-squares plane containing the line (weights may be null). 0 or -2.
int PlaneFitThroughLine(const double* x, const double* y, const double* z, int n, const double* weights,
                        const double linePoint[3], const double lineDir[3], PlaneEq plane, double* residual);
// Least-squares plane through point (weights may be null); maxDist = largest distance of a
// sample from it. 0 or -2.
int PlaneFitThroughPoint(const double* x, const double* y, const double* z, int n, const double* weights,
                         const double point[3], PlaneEq plane, double* residual, double* maxDist);
// The plane through point with normal `normal` (not normalised).
void GetPlnFromPtAndNorm(const double point[3], const double normal[3], PlaneEq plane);
// Where the plane meets the axis of its largest normal component. 0, or -2 when that
// component is below 1e-10. Legacy: out is cleared first, also on failure.
int GetPointOnPlane(const PlaneEq plane, double out[3]);
// The same, out untouched on failure.
int GetPointOnPlaneCoord(const PlaneEq plane, double out[3]);
// out = 2 (v . axis) axis - v; returns out.
double* GetSymetryDir(const double v[3], const double axis[3], double out[3]);
// Roots of a x^2 + b x + c; a negative discriminant is replaced by its absolute value and a
// tiny a by +-1e-6 (callers rely on getting two numbers back).
void SolveQuadratic(double a, double b, double c, double* r1, double* r2);
