// Distances from points to lines, segments, triangles and planes; planes through three points
// and fitted to point sets; intersections of lines with planes, boxes, triangles and other
// planes; the angle between two vectors. No state; the thresholds are part of the contract
// because callers across the kernel compare against the same values.
//
// Points and vectors are double[3]; a line given as two points is double[6] {p0, p1}. A plane
// is a PlaneEq {a, b, c, d}, a x + b y + c z + d = 0, whose normal need not be unit.
// Segment parameters follow the legacy convention foot = t a + (1 - t) b: t = 1 at a.
#pragma once

#include <cmath>

#include "foundation/vec3.h"

// ---- distances ------------------------------------------------------------------------------
// Closest point of segment a b; a segment below 1e-10 on every axis counts as its midpoint.
int LineSegPntMinDist(const double p[3], const double a[3], const double b[3], double foot[3], double* dist);
// Foot on the infinite line through a and b; a == b gives foot = a.
void LinePntMinDist(const double p[3], const double a[3], const double b[3], double foot[3], double* dist);
// Squared distance; |b - a|^2 below exp(-12) counts as the point a.
void LinePntMinDistSq(const double p[3], const double a[3], const double b[3], double foot[3], double* dist2);
// The segment distance with its parameter t (clamped to [0, 1], t = 0 for a degenerate one).
int LineSegPntMinSqDistParam(const double p[3], const double a[3], const double b[3], double foot[3],
                             double* dist2, double* t);
// Integer screen version; returns the squared distance, t as above (t = 1 at (x0, y0)).
double ScreenLineSeg2DPntMinSqDist(int px, int py, int x0, int y0, int x1, int y1, double* t);
// Closest point of triangle a b c.
int TriangPntMinDist(const double p[3], const double a[3], const double b[3], const double c[3], double foot[3],
                     double* dist);
// Orthogonal projection on the plane a x + b y + c z + d = 0.
void PlaneMinDist(const double p[3], double a, double b, double c, double d, double foot[3], double* dist);
// Projection on the plane through a, b, c. 0, or -2 for collinear points with foot = p and
// dist = 0 (no plane to project on).
int Plane3PntsMinDist(const double p[3], const double a[3], const double b[3], const double c[3], double foot[3],
                      double* dist);

// ---- planes ---------------------------------------------------------------------------------
// Normal scaled so that its largest component is 1. 0, or -2 for collinear points.
int FindPlaneEq(const double p0[3], const double p1[3], const double p2[3], PlaneEq plane);
// The plane as a column (a, b, c, d) through M, last column of M ignored; out may be plane.
// Callers pass the inverse of the point transform. Returns 0.
int TransformPlaneEq(const PlaneEq plane, PlaneEq out, const Xform M);
// Least-squares plane with unit normal. 1, or 0 (plane untouched) for n < 3, fewer than 6
// collinear points, coincident points or a failed decomposition. The arrays are only read.
int PlaneFit(const float* x, const float* y, const float* z, int n, PlaneEq plane);
// The unit normal of PlaneFit's plane by the symmetric 3 x 3 solver, up to sign: 1 when the least
// spread is well apart from the next (the normal is then PlaneFit's to round-off), 0 when the
// fit fails (a null array among its causes) or the normal is not that clear (PlaneFit's own
// answer is then the one to use).
int PlaneFitClearNormal(const float* x, const float* y, const float* z, int n, double normal[3]);
// Two points of the common line: its dominant coordinate is 0 in q0 and 1024 in q1.
// 0, or -2 (nothing written) for parallel normals.
int PlanesIntersect(const PlaneEq plane1, const PlaneEq plane2, double q0[3], double q1[3]);
// A point on the line of the two most nearly perpendicular planes: the mean of its
// intersections with the other planes, or the foot of ref when no other plane crosses it (only
// two planes, or several through one crease); ref may be null, leaving the origin then. out
// starts at 0. 1, or 0 for n < 2 or a parallel pair.
int FindBestPlanesSect(const double (*planes)[4], const double* ref, int n, double out[3]);

// ---- intersections and angles ---------------------------------------------------------------
// out = P + s dir on the plane. 0, or -2 (out untouched) when |n . dir| < 1e-6.
int PlaneLineIntersect(const PlaneEq plane, const double P[3], const double dir[3], double out[3]);
// Clips [lo, hi] to [a, b]. 1 with the new range, or 0 when it is empty.
int IntersectRange(double lo, double hi, double a, double b, int* clippedLo, int* clippedHi, double* newLo,
                   double* newHi);
// 1 when the segment (x0, y0, z0) (x1, y1, z1) meets the box, else 0.
int IntersectsLineSegBbox(double xmin, double ymin, double zmin, double xmax, double ymax, double zmax, double x0,
                          double y0, double z0, double x1, double y1, double z1);
// 1 when the infinite line through p along d meets the box, else 0.
int IntersectsLineBbox(double xmin, double ymin, double zmin, double xmax, double ymax, double zmax, double px,
                       double py, double pz, double dx, double dy, double dz);
// Line P + s dir against triangle A B C; bary = weights of A, B, C. 1, or 0 when it misses.
int IntersectLineTriangle(const double A[3], const double B[3], const double C[3], const double dir[3],
                          const double P[3], double out[3], double bary[3]);
// The same, a crossing within tol (in barycentric weight) outside the triangle counting as a hit.
int IntersectLineTriangleTol(const double A[3], const double B[3], const double C[3], const double dir[3],
                             const double P[3], double out[3], double bary[3], double tol);
// Parameters of the crossing of 2D segments 1-2 and 3-4. 1 when both lie in [0, 1].
int Intersect2DSegments(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
                        double* s, double* t);
// 1 when the 2D segments 1-2 and 3-4 cross (parallel ones never do), else 0.
int IsIntersectLines(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4);
// Closes the polygon in place (x[n], y[n] = the first point when the last differs: n + 1
// slots needed) and finds the first crossing of two non-adjacent edges. 1 with their indices.
int IsClosedPoints2DIntersect(double* x, double* y, int n, int* i, int* j);
// Degrees, 0..180; parallel or zero vectors give 0, opposite ones 180.
double FindAngleVectors3(const double a[3], const double b[3]);
// FindAngleVectors3 from the dot product and the product of the two lengths, for callers that
// hold the lengths already (a triangle's three angles need three lengths, not six). Inline: the
// vertex normals take two angles per triangle.
inline double AngleFromDotAndSizes(double dot, double mag) {
  if (std::fabs(dot) >= mag) return dot < 0.0 ? 180.0 : 0.0;
  return std::acos(dot / mag) * 57.29577951308232;
}
// Degrees, 0..90, between the line's direction and the normal (0 for a zero vector).
double LinePlaneNormalAngle(const double line[6], const double normal[3]);
// Closest points of two infinite lines. Parallel lines give q1 = line1's first point and q2 its
// foot on line2. Returns 0.
int LineLineMinDist(const double line1[6], const double line2[6], double q1[3], double q2[3], double* dist);
