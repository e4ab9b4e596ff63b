// Iso curves and control lines of surfaces and the closed flags of objects: the B-spline work
// behind the documented iso-curve extraction (MakeIsoparCurve3, ExtractCrvFromSrfCntrlLine in
// surface/bnd2crv) and SetObjClosed (surface/startpnt) and the iso-parameter test of curves on surfaces (IsCurveAnIsoPar in
// construct/crv2srf), here so that the curve tools below the
// surface floor use it too.
#pragma once

#include "bspline/smake.h"

// A 3D surface with its knots and coefficients (and weights when rational).
bool IsCompleteSurface3(const Bspline* srf);

// A new 3D curve through line `line` of src's control net: a curve running in v reads column
// `line` (rows of the net are v), one running in u reads row `line`. It takes src's degree,
// interior count, closed flag and knots of the running direction and src's rational flag.
// Null on failure; error state -2 for a src that is not a 3D surface of sound structure
// (bsvalid) or a line it does not have.
Bspline* ControlLineCurve(const Bspline* src, int line, bool runsInV);

// The 3D iso curve of the surface (MakeIsoparCurve3): dir nonzero runs in v at u, else in u at
// v; the held value is clamped into its domain. Null for anything but a complete 3D surface or
// on failure.
Bspline* IsoCurve3(Bspline* srf, double u, double v, int dir);

// The closed flags from the control points, as SetObjClosed documents them; a record whose
// structure is not sound (bsvalid) is left as it is, error state -2.
void MarkClosedFromControlPoints(Bspline* obj);

// IsCurveAnIsoPar as construct/crv2srf.h documents it: 1 when the 2D curve runs at one u, 2 at
// one v, else -1 (0 with interiorTest for a curve whose middle lies inside the domain).
int IsoParameterKind(Bspline* crv, int interiorTest);
