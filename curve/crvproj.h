// Projection of curves and ordered point sequences onto a surface by closest points: the result
// is one or more 2D curves on the surface, each fitted in its parameter plane to a 3D tolerance,
// cut where the projection leaves the surface's edge, and exact isoparametric lines where a
// piece runs at one u or v.
//
// A projected sample is usable unless its (u, v) lies on the domain's boundary (within 1e-6 of
// the range) while the point lies past the surface's edge rather than over it: the part of the
// point's offset from its foot along the tangent plane there exceeds 1e-7 of the surface's size
// (the diagonal of its control net's box); points within 1e-6 of that size from the surface count
// as over it. Edge crossings are located to that: where the foot of the curve's point reaches
// the edge. A seam, or a side collapsed to one point (a pole, an apex), is no edge; but a point
// collapsed across a direction that is not closed (the apex of a fan) is a corner where the
// edges of that direction meet, and a foot there is graded as one on them.
//
// Result curves have the surface as owner and are also pushed at the head of its curve list;
// the list nodes returned are the caller's (the curves belong to the surface).
#pragma once

#include "bspline/smake.h"

struct Cloud;

// The curve (3D, or on another surface) projected onto srf: samples at the curve's distinct
// knots with degree + 1 steps per span (samplesPerSpan 0), or samplesPerSpan steps between the
// union of the curve's knots with the surface's u and v knots mapped onto the curve's range;
// between two samples both over the surface or both beyond its edge the points at the quarter
// steps are projected too, and one found the other way joins them; so do all three where their
// feet cross a seam other than as the two samples' feet do (across and back, or the long way
// round beside a pole).
// separate nonzero returns every piece on its own; zero joins successive pieces (also across
// stretches beyond the edge) into one curve and moves samples on the seam of a surface closed
// in one direction to the seam side their neighbours lie on. On a surface closed in u or v
// (flagged so, or with its first and last control columns or rows meeting within 1e-9 of its
// size, weights in one ratio) the projection goes the short way across a seam (a foot held on
// the seam is sought again from its other side, and the seam is no edge), and where it crosses
// the seam it is split there in either mode: a curve in the parameter plane stays within the domain, so the joined mode then
// returns one curve per stretch between seam crossings; an edge crossing that lies on a seam
// takes the seam's side of the samples beside it in its stretch. reserved is not read. Each piece
// is within tol of the projection along its whole length: it is checked at the quarter steps
// between its samples both ways (the feet of the curve's points there, projected anew, near the
// piece, their distances peaking nowhere beyond tol between the checks, and the piece's own
// points between the samples' near the projection) and fitted again with every point it missed
// added to its samples, for at most twelve rounds and sixteen times the samples (256 at least);
// a run still off the projection then is fitted once more so with the interpolants its fits end
// in running on the curve's parameters of the samples rather than on chord lengths (where the
// feet turn back sharply), and a piece the check still finds off the projection then makes the
// call fail. Null when no piece was made or on failure
// (a closest-point search, an allocation, a fit, or a piece not within tol).
// Where the projection passes over a pole or an apex (at a sample, or between two whose feet
// lie a quarter of the range apart along the collapsed side) it is split there as at a seam,
// each curve reaching the point along the value of the free parameter its own stretch runs at;
// a stretch whose projection is the point itself (its fitted curve lies on the point, or it
// spans no range of the curve's parameter) gives no curve.
BsplineList* SurfCurveProjectClosestGeometry(Bspline* srf, Bspline* curve, int samplesPerSpan,
                                             double tol, int reserved, int separate);
// Bisection (iterations steps) for the parameter between tB (state prevGood, 1 usable, -1 not)
// and tA (the other state) where the projection changes state; (u, v) and t of the last mid
// point. gridU, gridV, gridW: the surface's grid cache. 0, or -2 when a projection failed or
// (error state set) a record is not sound (bsvalid).
int LocateEdgeForSurfCurveProjNorm(Bspline* curve, Bspline* srf, double tA, double tB, double* u,
                                   double* v, double* t, int iterations, int prevGood,
                                   double** gridU, double** gridV, double** gridW);
// A 2D curve on srf through the n samples (u, v) (parameters t on curve) fitted to tol in 3D.
// Null on failure.
Bspline* CreateProjectedCurve(Bspline* srf, Bspline* curve, const double* u, const double* v,
                              const double* t, int n, double tol);
// As CreateProjectedCurve with the 3D surface points x, y, z of the samples given: a cubic on
// break values from the sample parameters and the curve's interior knots (none closer than
// 1e-6 of the curve's range to the previous one or 1e-4 to the last parameter), refined by
// CheckErrorAndRefitCurve. Null on failure.
Bspline* CreateCurveToTol(Bspline* curve, Bspline* srf, const double* u, const double* v,
                          const double* x, const double* y, const double* z, const double* t,
                          int n, double tol);
// Adds the parameters of the samples whose 3D points lie farther than tol from curve2 (mapped
// through its owner) as knots and refits (the cloud of (u, v) samples, params their parameters
// on the fit, updated), until every sample is within tol; when the knots would reach the sample
// count, or no new knot can be added, the cubic interpolant of the samples. curve2 is consumed:
// the result replaces it (null on failure, curve2 then freed).
Bspline* CheckErrorAndRefitCurve(Bspline* curve2, Cloud* cloud, double* params, const double* u,
                                 const double* v, const double* x, const double* y,
                                 const double* z, int n, double tol);
// The curve a followed by b (the same degree p; a's degree and rational flag are used): a's
// control points but the last, the midpoint of a's last and b's first, b's points from the
// second on; b's knots continue where a's domain ends, so the join is a knot of multiplicity p.
// A new curve with a's owner (not listed on it), or null (error state -2 for a record that is
// not sound, bsvalid).
Bspline* Blend2Curve2s(Bspline* a, Bspline* b);
// 1 when srf is closed in dir (0 u, else v) and the short way from t0 to t1 crosses the seam
// (|t1 - t0| > range - |t1 - t0|); else 0.
int IsChangedBoundary(Bspline* srf, double t0, double t1, int dir);
// The points of the cloud, in their stored order, projected onto srf: each run of usable points
// becomes a cubic interpolant in (u, v); with edgeFlag the unusable point next to either end of
// a run (on the edge) is taken into it too. On a surface closed in u or v (as above) a point
// whose foot lies on the seam takes the seam's side of the point before it (the first point
// that of the one after), and a run ends where the short way to the next point crosses the
// seam, or at a point whose foot lies on a pole or an apex; a run whose feet all lie on that
// point gives no curve. separate as above. Null for an empty cloud, when no run gives a curve,
// or on failure.
BsplineList* SurfCloudProjectClosestGeometry(Bspline* srf, Cloud* cloud, int edgeFlag,
                                             int separate);
