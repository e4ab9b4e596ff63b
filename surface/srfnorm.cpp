#include "surface/srfnorm.h"

#include <algorithm>
#include <cmath>

#include "bspline/crvlist.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/trimutils.h"

void ComputeSurfNormalNPnts(Bspline* srf, const double* u, const double* v, double (*normals)[3],
                            int n) {
  SurfaceNormalsAt(srf, u, v, normals, n);
}

int ComputeSurfGridPositionAndNormal(Bspline* srf, const double* u, const double* v, int nu, int nv,
                                     double (*positions)[3], double (*normals)[3]) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  TrackingScope scope;
  double** table = allocate_matrix_ff(nu * nv, 9);  // point, Su, Sv per grid point
  if (!table || EvalGridOnGeometryM(srf, u, v, nu, nv, du, dv, 3, 0, table) != 0) return -2;
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < nu; ++i) {
      const int k = j * nu + i;
      const double* row = table[k];
      for (int c = 0; c < 3; ++c) positions[k][c] = row[c];
      ComputeSurfaceNormal(srf, u[i], v[j], row + 3, row + 6, normals[k]);
    }
  }
  return 0;
}

TrimList* GetTrimCurveOfTrimBspline(Bspline* crv) {
  if (!crv || !crv->owner) return nullptr;
  for (TrimList* loop = crv->owner->trims; loop; loop = loop->next)
    for (BsplineList* node = loop->loopCurves; node; node = node->next)
      if (node->item == crv) return loop;
  return nullptr;
}

namespace {

// (du, dv) of the unit displacement D in the tangent plane, components below 1e-6 cleared; a
// failed mapping gives (0, 0) rather than values the solver never wrote.
void ParamDirection(const double D[3], const double Su[3], const double Sv[3], const double N[3],
                    double* du, double* dv) {
  double d[3] = {D[0], D[1], D[2]};
  const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (len > 0.0)
    for (double& c : d) c /= len;
  if (DParamfromDisplacement(d, Su, Sv, N, du, dv) < 0) *du = *dv = 0.0;
  if (std::fabs(*du) < 1e-6) *du = 0.0;
  if (std::fabs(*dv) < 1e-6) *dv = 0.0;
}

}  // namespace

int CheckIfVectorGoesIn(Bspline* crv, double u, double v, const double D[3], const double Su[3],
                        const double Sv[3], const double N[3]) {
  Bspline* srf = crv ? crv->owner : nullptr;
  if (!srf) return 0;
  double umin = srf->umin, umax = srf->umax, vmin = srf->vmin, vmax = srf->vmax;
  TrimList* loop = GetTrimCurveOfTrimBspline(crv);
  if (loop) GetCurveListExtremes(loop->loopCurves, &umin, &umax, &vmin, &vmax);
  const double w = umax - umin, h = vmax - vmin;
  double du, dv;
  ParamDirection(D, Su, Sv, N, &du, &dv);
  double L = std::max(std::sqrt(du * du + dv * dv), 1e-10);
  const double s = 0.01 * std::min(w, h);
  const double tu = u + s * du / L, tv = v + s * dv / L;
  if (tu >= umin && tu <= umax && tv >= vmin && tv <= vmax)
    return loop ? IsPointInTrim(srf, tu, tv) : 1;
  if (!loop) return 0;
  // Outside the loop's box: step the other way and call D inward when that step leaves the
  // trimmed region.
  const double back[3] = {-D[0], -D[1], -D[2]};
  ParamDirection(back, Su, Sv, N, &du, &dv);
  L = std::max(std::sqrt(du * du + dv * dv), 1e-10);
  return IsPointInTrim(srf, u + 0.01 * w * du / L, v + 0.01 * h * dv / L) ? 0 : 1;
}

double* GetSurfBndryVector(double out[3], Bspline* srf, Bspline* crv, double t, int side) {
  // The parameter runs along the trim curve, or along the side: v on sides 1 and 3, u on 2 and 4.
  const bool alongV = !crv && (side == 1 || side == 3);
  const Bspline* carrier = crv ? crv : srf;
  const double* knots = alongV ? carrier->knotsV : carrier->knotsU;
  const int degree = alongV ? carrier->degreeV : carrier->degreeU;
  const int nCtrl = alongV ? NumCtrlV(carrier) : NumCtrlU(carrier);
  const double lo = alongV ? carrier->vmin : carrier->umin;
  const double hi = alongV ? carrier->vmax : carrier->umax;
  t = std::clamp(t, lo, hi);
  int span = degree;
  FindLowKnotIndex(knots, degree, t, &span, nCtrl);
  const double h = 0.01 * (knots[span + 1] - knots[span]);
  const double t1 = t + h < hi ? t + h : t - h;

  auto uvAt = [&](double s, double uv[2]) {
    if (crv) {
      Eval2DPointOnCurve2Array(srf, crv, s, 0, uv);
      return;
    }
    uv[0] = side == 1 ? srf->umin : side == 3 ? srf->umax : s;
    uv[1] = side == 2 ? srf->vmin : side == 4 ? srf->vmax : s;
  };
  double uv0[2], uv1[2];
  uvAt(t, uv0);
  uvAt(t1, uv1);
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  double p0[3][3], p1[3][3];
  EvalPointOnGeometryM(srf, uv0[0], uv0[1], du, dv, 3, 0, p0);
  EvalPointOnGeometryM(srf, uv1[0], uv1[1], du, dv, 1, 0, p1);
  double T[3], N[3], D[3];
  VecDiff3(p1[0], p0[0], T);
  ComputeSurfaceNormal(srf, uv0[0], uv0[1], p0[1], p0[2], N);
  VecCrossProd3(N, T, D);

  bool inward;
  if (crv) {
    inward = CheckIfVectorGoesIn(crv, uv0[0], uv0[1], D, p0[1], p0[2], N) != 0;
  } else {
    const double sign = side == 1 || side == 2 ? 1.0 : -1.0;
    const double* across = side == 1 || side == 3 ? p0[1] : p0[2];
    inward = VecDotProd3(D, across) * sign >= 0.0;
  }
  if (!inward)
    for (double& c : D) c = -c;
  VecCrossProd3(N, D, out);
  return out;
}
