#include "stitch/loftrows.h"

#include <algorithm>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "curve/crvutil.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"

int CleanCurveRowKnots(Bspline** curves, double* knots, int nKnots, int n, int ends[2],
                       double tol, double angle) {
  if (!knots || nKnots < 1 || (tol < 1e-6 && angle < 1e-6)) return 0;
  double t = 0.0;
  if (angle != 0.0) {
    t = tol;
    double dev0 = kNoValue, dev1 = kNoValue;
    if (ends[0] != 0) dev0 = BoundaryDeviation(curves[0], curves[1], angle);
    if (ends[1] != 0) dev1 = BoundaryDeviation(curves[n - 1], curves[n - 2], angle);
    t = std::min({t, dev0, dev1});
  }
  double dev = 0.0;
  RemoveKnotsOfObjSet(curves, n, 0, 3, knots, nKnots, 0, t, &dev);
  return KernelFailed() ? -2 : 0;
}

// RefitCurveUniform's work.
static Bspline* RefitOnUniformKnots(Bspline* crv, int nCtrl) {
  if (!BsplineShapeSound(crv) || crv->kind != 1 || nCtrl < crv->degreeU + 1) {
    SetKernelError(-2);
    return nullptr;
  }
  const int p = crv->degreeU;
  TrackingScope scope;
  int count = 0;
  Owned<double, Free> samples(SampleCurvePlateProper(crv, 4, &count));
  if (!samples || count < 2) return nullptr;
  float* xyz = MallocArray<float>(3 * count);
  double* pts = MallocArray<double>(3 * count);  // x, then y, then z
  double* t = MallocArray<double>(count + 1);    // a closed fit's copy holds one point more
  if (!xyz || !pts || !t) return nullptr;
  double* x = pts;
  double* y = pts + count;
  double* z = pts + 2 * count;
  for (int i = 0; i < count; ++i) {
    double P[3];
    EvalCrvOnSrfArray(nullptr, crv, samples[i], 0, P);
    x[i] = P[0], y[i] = P[1], z[i] = P[2];
  }
  // The samples are narrowed to single precision in their unit frame and the fit is mapped
  // back: narrowed where the curve lies, far from the origin, they would lose the digits of its
  // shape.
  const UnitFrame frame = UnitFrameOfPoints(x, y, z, count, false);
  PointsToUnitFrame(frame, x, y, z, count);
  for (int i = 0; i < 3 * count; ++i) xyz[i] = static_cast<float>(pts[i]);
  Owned<Cloud, FreeCloud> cloud(MakeCld(xyz, xyz + count, xyz + 2 * count, count, nullptr));
  if (!cloud) return nullptr;
  // The breaks of a clamped uniform vector: nCtrl - p + 1 values, ends included.
  const int nb = nCtrl - p + 1;
  double* breaks = MallocArray<double>(nb);
  if (!breaks) return nullptr;
  for (int i = 0; i < nb; ++i) breaks[i] = crv->umin + (crv->umax - crv->umin) * i / (nb - 1);
  breaks[nb - 1] = crv->umax;
  Bspline* fit = FitCurveBsplineWithGivenKnots(cloud.get(), breaks, nb, t, p, crv->closedU);
  if (!fit) return nullptr;
  PointsFromUnitFrame(frame, fit->X[0], fit->Y[0], fit->Z[0], NumCtrlU(fit));
  // The fit runs on [0, 1]: the curve keeps the range it came with.
  const double a = fit->umin, b = fit->umax, s = (crv->umax - crv->umin) / (b - a);
  for (int i = 0; i < NumKnotsU(fit); ++i) fit->knotsU[i] = crv->umin + (fit->knotsU[i] - a) * s;
  SetDomainFromKnots(fit, 0);
  return fit;
}

Bspline* RefitCurveUniform(Bspline* crv, int nCtrl) { return SoundRecordOrFailed(RefitOnUniformKnots(crv, nCtrl)); }

