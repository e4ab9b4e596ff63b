#include "construct/srfrevol.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "foundation/coreglob.h"
#include "foundation/vec3.h"
#include "quadric/qrevolve.h"
#include "stitch/vcnobj.h"

int FindPtAtIntrscnOf2Tan(double r, double a[3], double b[3], double out[3]) {
  return TangentMeetPoint(r, a, b, out);
}

void RotToPosY(double d[3], double M[16]) {
  Get_imat(M);
  const double L = std::hypot(d[0], d[1]);
  if (L < 1e-10) return;
  M[0] = d[1] / L;
  M[1] = d[0] / L;
  M[4] = -d[0] / L;
  M[5] = d[1] / L;
}

Bspline* SrfRevolArbitAxCurveGeometry(Bspline* profile, double p0[3], double p1[3], double M[16]) {
  return RationalProfileInAxisFrame(profile, p0, p1, M);
}

Bspline* RevolveCurveGeometry(Bspline* profile, double p0[3], double p1[3], double startAngle,
                              double endAngle) {
  // A surface of finite input that overflowed (a profile far out, a huge axis) is no surface.
  return SoundRecordOrFailed(RevolveProfile(profile, p0, p1, startAngle, endAngle, isJustCombine));
}
