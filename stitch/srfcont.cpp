#include "stitch/srfcont.h"

#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"

double GetParValOfBndry(Bspline* obj, int b) {
  if (obj->kind == 2) {
    switch (b) {
      case 0: return obj->knotsU[obj->degreeU];
      case 1: return obj->knotsV[NumCtrlV(obj)];
      case 2: return obj->knotsU[NumCtrlU(obj)];
      case 3: return obj->knotsV[obj->degreeV];
      default: return 0.0;
    }
  }
  return b == 2 ? obj->knotsU[NumCtrlU(obj)] : obj->knotsU[obj->degreeU];
}

void GetNpntsPSpan(const double* values, int m, double* out, int n) {
  if (n < 2) n = 2;
  for (int i = 0; i < m; ++i) out[i * (n - 1)] = values[i];
  for (int i = 0; i + 1 < m; ++i) {
    const double a = values[i], b = values[i + 1];
    for (int j = 1; j < n - 1; ++j) out[i * (n - 1) + j] = a + j * (b - a) / (n - 1);
  }
}

void GetParValsOnIsoPar(Bspline* obj, int alongV, double* u, double* v, double fixed, int n) {
  if (obj->kind == 1) return;
  if (n < 3) n = 2;
  const int p = alongV ? obj->degreeV : obj->degreeU;
  const int k = alongV ? obj->interiorV : obj->interiorU;
  const double* knots = alongV ? obj->knotsV : obj->knotsU;
  double* varying = alongV ? v : u;
  double* held = alongV ? u : v;
  const int count = (n - 1) * (k + 1) + 1;
  for (int i = 0; i < count; ++i) held[i] = fixed;
  // Every knot span as the vector holds it, n - 1 steps each.
  GetNpntsPSpan(knots + p, k + 2, varying, n);
}

int GetParValsOnIsoPar2(Bspline* obj, int alongV, double* u, double* v, double fixed, int n,
                        double tol) {
  if (obj->kind == 1) return -2;
  if (n < 3) n = 2;
  const int dir = alongV ? 1 : 0;
  int* mults = nullptr;
  double* distinct = nullptr;
  const int d = GetDistinctKnots(obj, dir, &mults, &distinct, tol);
  if (d < 0) return -2;
  double* values = MallocArray<double>(d + 2);
  if (!values) {
    Free(mults);
    Free(distinct);
    return -2;
  }
  GetKnotInfo(obj, dir, &values[0], &values[d + 1]);
  for (int i = 0; i < d; ++i) values[i + 1] = distinct[i];
  const int count = n * (d + 1) + 1;
  double* held = alongV ? u : v;
  if (held)
    for (int i = 0; i < count; ++i) held[i] = fixed;
  // Distinct knots only, n steps each.
  GetNpntsPSpan(values, d + 2, alongV ? v : u, n + 1);
  Free(values);
  Free(mults);
  Free(distinct);
  return count;
}

namespace {

void ClosestPointsOnCurve(const double (*points)[3], int count, Bspline* obj, double isoValue,
                          int alongV, double* params, double (*closest)[3], double** cacheX,
                          double** cacheY, double** cacheZ) {
  Owned<Bspline, FreeBspline> iso;
  Bspline* crv = obj;
  if (obj->kind == 2) {
    // One iso curve per call, not per point.
    iso.reset(alongV ? MakeIsoparCurve3(obj, isoValue, obj->vmin, 1)
                     : MakeIsoparCurve3(obj, obj->umin, isoValue, 0));
    if (!iso) return;
    crv = iso.get();
  }
  const double lo = crv->knotsU[0], hi = crv->knotsU[NumKnotsU(crv) - 1];
  double *t = nullptr, *x = nullptr, *y = nullptr, *z = nullptr;
  if (cacheX && *cacheX) {
    x = *cacheX;
    y = *cacheY;
    z = *cacheZ;
  }
  int n = 0;
  for (int i = 0; i < count; ++i) {
    // C starts at the polyline point, should the refiner refuse the curve.
    double par, C[3], distSq, stepSq;
    if (EstimateClosestPntCurve(crv, points[i], &t, &n, &x, &y, &z, C, &par, crv->closedU) != 0) break;
    if (crv->dimension == 2)
      FindClosestPointCurveOnSurf(crv, points[i], C, lo, hi, &par, &distSq, &stepSq, 12);
    else
      FindClosestPointCurve3(crv, points[i], C, lo, hi, &par, &distSq, &stepSq, 12);
    params[i] = par;
    if (closest)
      for (int k = 0; k < 3; ++k) closest[i][k] = C[k];
  }
  Free(t);
  if (cacheX) {
    *cacheX = x;
    *cacheY = y;
    *cacheZ = z;
  } else {
    Free(x);
    Free(y);
    Free(z);
  }
}

}  // namespace

void GetClosestPointsOnCrvOnSrf(const double (*points)[3], int count, Bspline* obj,
                                double isoValue, int alongV, double* params, double (*closest)[3]) {
  ClosestPointsOnCurve(points, count, obj, isoValue, alongV, params, closest, nullptr, nullptr, nullptr);
}

void GetClosestPointsOnCrvOnSrfArrays(const double (*points)[3], int count, Bspline* obj,
                                      double isoValue, int alongV, double* params,
                                      double (*closest)[3], double** cacheX, double** cacheY,
                                      double** cacheZ) {
  ClosestPointsOnCurve(points, count, obj, isoValue, alongV, params, closest, cacheX, cacheY, cacheZ);
}
