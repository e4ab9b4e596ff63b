// Exact surfaces of revolution: the work behind RevolveCurveGeometry, SrfRevolArbitAxCurveGeometry
// and FindPtAtIntrscnOf2Tan (construct/srfrevol, which documents them), here so that the
// quadric floor's paraboloids revolve their profiles too.
#pragma once

#include "bspline/smake.h"

// As FindPtAtIntrscnOf2Tan.
int TangentMeetPoint(double r, const double a[3], const double b[3], double out[3]);
// As SrfRevolArbitAxCurveGeometry.
Bspline* RationalProfileInAxisFrame(Bspline* profile, const double p0[3], const double p1[3], double M[16]);
// As RevolveCurveGeometry; shiftOnly is passed to the final parameter-speed matching
// (ProportionPairParams), as the stitch's isJustCombine.
Bspline* RevolveProfile(Bspline* profile, const double p0[3], const double p1[3], double startAngle,
                        double endAngle, int shiftOnly);
