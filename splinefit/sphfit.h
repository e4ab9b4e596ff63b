// Spherical fits of point clouds: the radius about a centre as a function of the angle theta
// around z and the polar angle phi from +z (radians inside), fitted on the canonical cloud,
// sampled, turned back into x, y, z and interpolated by a Cartesian surface.
#pragma once

#include "foundation/vec3.h"
#include "splinefit/fitsplin.h"

struct Bspline;
struct Cloud;

// A new Cartesian surface around the centre (cx, cy, cz), or null: a null cloud, fewer than 3
// points, parameters failing CheckSrfBsplFitParams, points that span no polar angle, a failed
// fit or memory (the last three with the error state set). The cloud is not changed. Sizes and
// smoothing as in the cylindrical fit (cylfit): on a copy of unit size, the mean radius the unit
// of height.
Bspline* SphFitBsplSrf(Cloud* cloud, BsplFitParams params, double cx, double cy, double cz);
// The canonical cloud (theta, phi, r) about the centre, its seam placed as the cylindrical one
// (cylfit), or null for a null cloud, no point or memory; back maps canonical x, y, z to the
// data's frame.
Cloud* ConvertToSphericalCloud(Cloud* cloud, double cx, double cy, double cz, Xform back);
// The canonical surface: u over theta (the full turn with WrapU), v over the data's phi range
// (WrapV is ignored), fitted by asph_spline_fit; null as FitCanonicalCylCldSrfBspline.
Bspline* FitCanonicalSphCldSrfBspl(Cloud* canon, BsplFitParams params);
