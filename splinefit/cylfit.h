// Cylindrical fits of point clouds: the radius about an axis (or about a bent spine curve) as a
// function of the angle theta around it and the height (or spine parameter), fitted on a
// canonical cloud (x theta in radians, y the height, z the radius), sampled, turned back into
// x, y, z and interpolated by a Cartesian surface. The angular seam is moved into the largest
// empty sector of the data first, and the rotation is folded into the back transform.
//
// Canonical clouds carry their box in the grid fields: 2 points per row and 2 rows, theta from
// grid.colOrigin by grid.colStep, the height from grid.rowOrigin by grid.rowStep, the radius
// range in zMin, zMax.
#pragma once

#include "foundation/vec3.h"
#include "splinefit/fitsplin.h"

struct Bspline;
struct Cloud;

// A new Cartesian surface around the x (axis 0), y (1) or z (any other value) axis through the
// origin, or null: a null cloud, fewer than 3 points, parameters failing CheckSrfBsplFitParams,
// data of no height range, a failed fit or memory; the last three with the error state set. The
// cloud is not changed. The fit runs on a copy scaled to unit size (cloud/pcopy): its unit size
// is a box of unit longest side, and the smoothing takes the mean radius as its unit of height
// (RadialRoughness), so a ripple or noise of any depth leaves the radius as it is.
Bspline* CylFitBsplSrf(Cloud* cloud, BsplFitParams params, int axis);
// The canonical cloud of the data turned so that the axis is z, or null (null cloud, fewer than
// 3 points, memory); back maps canonical x, y, z to the data's frame. The seam moves by the last
// bin of the largest empty one-degree sector when that sector spans at least 18 degrees and the
// empty sector at the seam is no larger.
Cloud* ConvertToCylindricalCloud(Cloud* cloud, int axis, Xform back);
// The longest run of zero counts (the earliest on a tie) as first .. last; none empty: 0, 0; all
// empty: 0, n - 1. With wrap 1 a run at the end continuing into one at the start wins when the
// two together are longer, then last < first. 0, or -2 for a null array or n < 2.
int FindLargestEmptySlotInArray(const int* counts, int n, int wrap, int* first, int* last);
// The canonical surface: u over theta (the full turn with WrapU), v over the heights (the full
// turn with WrapV), fitted by acyl_spline_fit, X and Y its control points' parameters; box (six
// doubles, may be null) receives the canonical cloud's box. Null for fewer than 3 points,
// parameters failing CheckSrfBsplFitParams, a height step below 1e-6 (error state set), a failed
// fit or memory.
Bspline* FitCanonicalCylCldSrfBspline(Cloud* canon, double* box, BsplFitParams params);

// ---- Shared with the spherical fit (sphfit) --------------------------------------------------
// The one-degree bin (0 .. 359) of a canonical angle.
int CanonicalAngleBin(double theta);
// The canonical box of the points into the grid fields; nothing for a null cloud.
void SetCanonicalBox(Cloud* canon);
// Moves the seam as ConvertToCylindricalCloud says, given the angular occupancy; returns the
// angle (radians) every theta dropped by, 0 when nothing moved (also for a null cloud or bins).
double PlaceCanonicalSeam(Cloud* canon, const int* bins);
// back = the inverse of pre (a rotation and a translation, row vectors) followed by the rotation
// by -a about z.
void CanonicalBackTransform(const Xform pre, double a, Xform back);
// The canonical surface of the parameters over the canonical box (u the full turn with WrapU, v
// with wrapV), fitted by engine, X and Y its control points' parameters; null as
// FitCanonicalCylCldSrfBspline says.
Bspline* FitCanonicalSurface(Cloud* canon, const BsplFitParams& params, bool wrapV,
                             void (*engine)(Bspline*, Cloud*, double, double, double));
// The roughness the canonical fits hand their engine: scaled by (mean radius / height range)^2
// (the range as FindUObs takes it), so the thin-plate smoothing, whose unit of height is the
// range of the points' heights, takes the mean radius as that unit; roughness as given when the
// mean radius is 0, the cloud null or without points.
double RadialRoughness(const Cloud* canon, double roughness);
// back (row vectors) followed by the scaling by size about the origin.
void ScaleBackTransform(Xform back, double size);
// Every control point of srf mapped by M.
void MapControlPoints(Bspline* srf, const Xform M);

// ---- Around a spine curve ---------------------------------------------------------------------
struct CurveParallelFrame;

// A new Cartesian surface around the 3D curve spine, or null: fewer than 3 points, a spine that
// is not a sound 3D curve, fewer than 3 points with a foot on it, a spine of zero length over
// the data, a failed fit or memory. The angle is measured in frames transported along the spine
// (20 samples per knot interval), or, with useGivenFrame 1, in the one frame of the given
// tangent and normal. The cloud and the spine are not changed.
Bspline* CylFitBsplSrfWCurve(Cloud* cloud, Bspline* spine, BsplFitParams params, int useGivenFrame,
                             const double givenTangent[3], const double givenNormal[3]);
// The canonical cloud (theta, t, r) of the points whose curve coordinates the frame finds, with
// their t and the frame's unit T and N at their feet (new arrays of 1, 3 and 3 doubles per kept
// point, the caller's). The seam moves to the end of the largest empty sector of at least 2
// degrees when the sector at the seam is no larger; the frame's normals (the given one too)
// turn with it. wrapU 1 sets the theta range to [0, 2 pi]. Null for fewer than 3 points (given
// or kept), a spine that is not a 3D curve, or memory.
Cloud* ConvertToCylCldWithCurve(Cloud* cloud, Bspline* spine, CurveParallelFrame* frame, int wrapU, double** tOut,
                                double** tangentsOut, double** normalsOut);
// Scales the canonical t onto [0, size] and the radius by size / (spine length over the data's
// t range): y = (y - tmin) tScale, z = z rScale, tOffset = tmin; a t range below 1e-6 of the
// spine's parameter range is left unscaled (1, 0, 1). 0; -2 for a null cloud or spine, or a
// spine length there below 1e-6 of the diagonal of its control points' box.
int ScaleCylCloudWithCurve(Cloud* canon, Bspline* spine, double size, double* tScale, double* tOffset,
                           double* rScale);
