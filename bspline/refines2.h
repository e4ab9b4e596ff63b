// Closest points polished from a caller's estimate: the foot of a point on a 3D curve, on a
// curve lying on a surface, or on a surface, and the closest pair of two curves. The feet of
// points come from a safeguarded Newton iteration on the squared distance, run to round-off
// (the caller's iteration count is the least it runs, not the most), with the constrained
// minimum on the domain's edge where the foot lies beyond it. The closest pair of curves is a
// Levenberg-Marquardt iteration on the squared gap, clamped into the parameter box and also
// run to round-off. Nothing is allocated.
#pragma once

struct Bspline;

// Input and output checks as in bspline/refines: records that are not sound, a curve on a
// surface without a sound owner, non-finite points or parameters give -2, and so does a
// converged result that is not finite. A surface foot with any output not finite (a point so
// far away that its squared distances overflow) writes none of them.

// Foot of P on a 3D curve within [tmin, tmax] (cut to the curve's domain) from the start t:
// C, t, distSq = |C - P|^2 and stepSq, the squared distance from C to the foot of P on the
// tangent line there. 0 converged to a foot inside [tmin, tmax] (or on an end, with P across
// the tangent there); -2 when the nearest point is an end of [tmin, tmax] that P lies beyond
// (t, C and distSq then hold that constrained minimum), when the iteration does not settle, or
// on a vanishing tangent (a point where the tangent vanishes is left wherever the distance
// falls off it; -2 where it falls nowhere). A closed curve (closedU) searched over its whole
// domain has no ends: the search goes on across the seam, and a foot on the seam gives 0.
// Where the curve may turn a corner (an interior knot of full multiplicity, every knot of a
// polyline) the search runs piece by piece, and a foot on a corner is that knot exactly, with 0.
int FindClosestPointCurve3(Bspline* crv, const double P[3], double C[3], double tmin, double tmax,
                           double* t, double* distSq, double* stepSq, int iterations);

// FindClosestPointCurve3 with the size its tolerances are relative to given: the curve's
// control-point box diagonal (ControlPointDiagonal; its owner's for a curve on a surface),
// which a caller searching one curve many times takes once, with the same answers. A negative
// size is taken from the curve, as FindClosestPointCurve3 does; one that is not finite gives -2.
int FindClosestPointCurve3OfSize(Bspline* crv, double size, const double P[3], double C[3], double tmin,
                                 double tmax, double* t, double* distSq, double* stepSq, int iterations);

// The same for a curve in its owner surface's parameter plane, measured in 3D.
int FindClosestPointCurveOnSurf(Bspline* crv, const double P[3], double C[3], double tmin,
                                double tmax, double* t, double* distSq, double* stepSq,
                                int iterations);

// Foot S of P on a surface from the start (u, v): dist is |P - S|, negative when P lies on the
// back side of the normal; stepSq is the squared distance from S to the foot of P on the
// tangent plane, less 1e-10. Beyond the domain S is the constrained minimum on its edge or
// corner; across a closed seam (closedU, closedV) the search goes on from the other side, and a
// side collapsed to one point (a pole, an apex) is the foot only where the distance rises off it
// along every parameter of the side. 0 (also when the iteration does not settle), -2 on a
// degenerate tangent plane (no normal at the result).
int FindClosestUVPointGuessDist(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations);

// The same within the box of parameters u in [box[0], box[1]], v in [box[2], box[3]] (cut to
// the domain; a box wholly beyond it to its nearest edge or corner): beyond the box S is the
// constrained minimum on its edge (a seam is crossed only where the box spans the whole
// period). -2 also for a box that is empty or not finite.
int FindClosestUVPointWithin(Bspline* srf, const double P[3], const double box[4], double S[3], double* u,
                             double* v, double* dist, double* stepSq, int iterations);

// 1 when the side of a sound surface where parameter dir (0 u, 1 v) is at its low (end 0) or
// high (end 1) end is collapsed to one point, a pole or an apex: its control points lie within
// 1e-12 of the control-point box diagonal (and round-off of their coordinates) of each other.
// Such a side is no edge: the surface goes on through the point. 0 otherwise, also for a record
// that is not a sound surface or a dir or end outside 0..1.
int SurfaceSideCollapsed(const Bspline* srf, int dir, int end);

// 1 when (u, v) lies within 1e-2 of the parameter range of a side of a sound surface that is
// collapsed (SurfaceSideCollapsed): beside a pole the distance changes round it by less than
// round-off, so feet there are compared by their refinement, not by their distances, and
// FindClosestUVPointGuessDist refines them from the pole's point. 0 otherwise.
int SurfaceBesidePole(const Bspline* srf, double u, double v);

// As FindClosestUVPointGuessDist, also giving the (not unit) surface normal at the result.
int FindClosestUVPointGuessNorm(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations, double normal[3]);

// Closest pair of two 3D curves from (t1, t2); distSq is squared. Safeguarded (a step is
// taken only when the gap falls, parameters clamped to the ranges, a parameter at an end held
// there when the gap would grow past it), so starts a few percent of the curves' size from a
// crossing reach it, and a closest pair on an end is the constrained one. iterations is the
// least count: past it the refinement goes on while its step shrinks or is above 1e-8 of the
// parameter range, and ends at a step of 1e-14 of the range or a gap at round-off. 0 (also at
// once for locally parallel tangents, with the start pair), -2 on a vanishing tangent.
int RefineCurve3sClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                              int iterations);

// The same where each curve is 3D or lies on a surface.
int RefineCurvesClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                             int iterations);
