#include "stitch/srfcont.h"

#include "bspline/knots.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "stitch/vcnobj.h"

double GetParValOfBndry(Bspline* obj, int b) { return BoundaryParam(obj, b); }

void GetNpntsPSpan(const double* values, int m, double* out, int n) {
  SamplesPerSpan(values, m, out, n);
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

void GetClosestPointsOnCrvOnSrf(const double (*points)[3], int count, Bspline* obj,
                                double isoValue, int alongV, double* params, double (*closest)[3]) {
  ClosestParamsOnCurveOrIso(points, count, obj, isoValue, alongV, params, closest, nullptr, nullptr,
                            nullptr);
}

void GetClosestPointsOnCrvOnSrfArrays(const double (*points)[3], int count, Bspline* obj,
                                      double isoValue, int alongV, double* params,
                                      double (*closest)[3], double** cacheX, double** cacheY,
                                      double** cacheZ) {
  ClosestParamsOnCurveOrIso(points, count, obj, isoValue, alongV, params, closest, cacheX, cacheY,
                            cacheZ);
}
