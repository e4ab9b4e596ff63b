// Primitives from a few picked points, the tests the fits ask before fitting, and the points and
// lines derived from primitives. Every builder returns a new record carrying its quadric type and
// exact form (QuadricInfo), owned by the caller (FreeBspline), or null; nothing partial is
// returned. Builders work about the z axis of a frame from TransformToZAxis and map control
// points (never weights) back.
//
// Degenerate picks never give NaN geometry: a builder returns null for points that do not
// determine the primitive (coincident or collinear where a plane or circle is needed, a radius
// or height at the round-off of the picks' coordinates, 1e-9 of their size).
#pragma once

#include "bspline/smake.h"
#include "foundation/vec3.h"

// 1 when the RMS distance from the best plane is below 0.001 (n < 4: 1); 0 otherwise, for a
// null array or when the principal axes cannot be formed.
int IsPointsCoplanar_f(const float* x, const float* y, const float* z, int n);
// 1 when every point lies within 0.001 of the line through the first point and the first later
// point farther than 0.001 from it (n < 3, or no such point: 1); 0 otherwise, also for a null array.
int IsPointsCollinear_f(const float* x, const float* y, const float* z, int n);
int IsPointsCollinear(const double* x, const double* y, const double* z, int n);

// ---- primitives from picked points ----------------------------------------------------------
// The degree-1 line from p0 to p1 on [0, 1] (knots 0, 0, 1, 1), type 1 (start, end). Null only
// when memory runs out.
Bspline* CreateLineWith2Points(const double p0[3], const double p1[3]);
// The plane patch (quadric/planefit) of the plane through the points over their box, type 25.
// Null for coincident or collinear points.
Bspline* FitPlaneWith3Points(const double p1[3], const double p2[3], const double p3[3]);
// The circle through the points (arc 0), or the arc from p1 through p2 to p3: a circle of
// NewCircleBspline or an arc of MakeArcZBspline in the frame of the centre and the normal n,
// which points along (p2 - p1) x (p3 - p1) so that the points run counter-clockwise about it.
// Type 2 (centre, n, radius) or 3 (centre, n, radius, sweep in degrees); centre components below
// 1e-6 of the radius and unit-normal components below 1e-6 are set to 0. Null for coincident or
// collinear points.
Bspline* CreateCircleW3Points(const double p1[3], const double p2[3], const double p3[3], int arc);
// The circle about c through p1 (arc 0), or the shorter arc about c from p1 towards the direction
// of p2 (radius |p1 - c|), normal along (p1 - c) x (p2 - c). Type 2 or 3 as above (no cleaning).
// Null when c, p1, p2 are collinear or p1 lies on c.
Bspline* CreateQuadricWCenAnd2Points(const double c[3], const double p1[3], const double p2[3], int arc);
// The sphere through four points, its polar axis from the centre towards p1 (SphereNurbs), type
// 21 (radius, centre). Null for coplanar points.
Bspline* CreateSphereFrom4Points(const double p1[3], const double p2[3], const double p3[3], const double p4[3]);
// The sphere about c through p, polar axis towards p. Null when p lies on c.
Bspline* CreateSphereWithCenterAndPoint(const double c[3], const double p[3]);
// The cylinder from the base circle's centre c0 to the top circle's centre c1 through the side
// point p: rational, degree 2 in u (closed, the nine-point circle net) and 1 in v, row 0 the base
// circle, row 1 the top circle. Type 22: axis point c1, unit axis towards c0, radius, start 0,
// end |c0 - c1|. Null for coincident centres or p on the axis.
Bspline* CreateCylinderWithCensAndPoint(const double c0[3], const double c1[3], const double p[3]);
// The cone frustum from the base circle about c0 through p0 to the top circle about c1 through
// p1, nets as the cylinder's. Type 23: the apex (where the radius along the axis reaches 0), unit
// axis a towards c0, the half angle in radians (atan of radius over apex distance at the wider
// end) and the signed heights of the base and top circles along a from the apex, as ConeNurbs
// reads them. Null for coincident centres, both radii at round-off, or equal radii (no apex:
// apart by at most 1e-9 of the picks' extent plus 1024 units of the last place of their largest
// coordinate, so a cone is made alike however far from the origin its picks lie).
Bspline* CreateConeWithCensAnd2Points(const double c0[3], const double c1[3], const double p0[3], const double p1[3]);
// Closest points pa on the line through a0, a1 and pb on the line through b0, b1, and their
// distance. Parallel (or degenerate) lines give pa = a0 and pb its foot on line B.
void LineLineMinDist2(const double a0[3], const double a1[3], const double b0[3], const double b1[3], double pa[3],
                      double pb[3], double* dist);
// The points where the curve (3D or on a surface, evaluated in 3D) crosses the planes a x + b y +
// c z + d - i step = 0, i = 0 .. count - 1, each mapped by m (TransformPlaneEq) first: samples
// at the breakpoints (distinct knots within 0.001 of the range) and degree further parameters
// per span, the crossing of each pair of consecutive samples refined (FindIntersectionPoint),
// consecutive repeats dropped. New arrays *x, *y, *z (the caller frees them with Free) of *n
// points. 0; -2 with the outputs null and 0 when no plane crosses the curve, for a null curve,
// count < 1 or exhausted memory.
int CurveCrossSection(Bspline* curve, int count, double step, const PlaneEq plane, const Xform m, double** x,
                      double** y, double** z, int* n);
// The crossing of the curve with the plane between the samples P0 = (x0, y0, z0) at t0 and P1 at
// t1, by false position on the plane's value (its stalled side halved, so it converges
// superlinearly) to round-off of the parameter: t and the curve point there. A chord lying in
// the plane gives t0 and P0. 0; -2 when the plane does not separate the samples.
int FindIntersectionPoint(Bspline* curve, const PlaneEq plane, double t0, double t1, double x0, double x1, double y0,
                          double y1, double z0, double z1, double* t, double* x, double* y, double* z);

// ---- points and lines derived from primitives -----------------------------------------------
// From the object's quadric type and exact form: the centre of a circle or arc, of a sphere, the
// apex of a cone. 1; 0 (out untouched) for any other type, a cylinder included.
int FindQuadricCenter(const Bspline* obj, double out[3]);
// The centre of a cone's far end circle (apex + unit axis x end), or the centre of the cylinder's
// end circle nearer the surface point at (u, v) (a tie takes the end). 1; 0 (out untouched) for
// any other surface.
int FindQuadricBaseCenter(Bspline* srf, double u, double v, double out[3]);
// The axis segment of a cylinder or cone, from start to end along the unit axis, as a line
// (CreateLineWith2Points). Null for any other surface or exhausted memory.
Bspline* CreateLineFromCylinderOrCone(const Bspline* srf);
