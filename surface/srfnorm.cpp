#include "surface/srfnorm.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/editrec.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "curve/trimpoly.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"

void ComputeSurfNormalNPnts(Bspline* srf, const double* u, const double* v, double (*normals)[3],
                            int n) {
  SurfaceNormalsAt(srf, u, v, normals, n);
}

int ComputeSurfGridPositionAndNormal(Bspline* srf, const double* u, const double* v, int nu, int nv,
                                     double (*positions)[3], double (*normals)[3]) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  if (!BsplineSound(srf) || srf->kind != 2 || nu < 0 || nv < 0 || !AllFinite(u, nu) || !AllFinite(v, nv)) return -2;
  TrackingScope scope;
  double** table = allocate_matrix_ff(nu * nv, 12);  // point, Su, Sv, normal per grid point
  if (!table || EvalGridOnGeometryM(srf, u, v, nu, nv, du, dv, 3, 0, table) != 0) return -2;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      double* row = table[j * nu + i];
      ComputeSurfaceNormal(srf, u[i], v[j], row + 3, row + 6, row + 9);
    }
  // Coefficients near the double range overflow the derivatives: nothing is written then.
  if (!AllFinite(table[0], nu * nv * 12)) return -2;
  for (int k = 0; k < nu * nv; ++k)
    for (int c = 0; c < 3; ++c) positions[k][c] = table[k][c], normals[k][c] = table[k][9 + c];
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

// (du, dv) of the unit displacement D in the tangent plane, as on the surface scaled by one power
// of two to partials of largest length near 1 (N, their cross product, with the square), so that
// the solver's floor and the clearing of components below 1e-6 are those of a unit-size surface
// at every size: a common factor, which a direction does not see. A failed mapping gives (0, 0)
// rather than values the solver never wrote.
void ParamDirection(const double D[3], const double Su[3], const double Sv[3], const double N[3],
                    double* du, double* dv) {
  double d[3] = {D[0], D[1], D[2]};
  const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (len > 0.0)
    for (double& c : d) c /= len;
  const double m = std::max(VecSize3(Su), VecSize3(Sv));
  int e = 0;
  if (m > 0.0 && std::isfinite(m)) std::frexp(m, &e);
  double su[3], sv[3], n[3];
  for (int k = 0; k < 3; ++k)
    su[k] = std::ldexp(Su[k], -e), sv[k] = std::ldexp(Sv[k], -e), n[k] = std::ldexp(N[k], -2 * e);
  if (DParamfromDisplacement(d, su, sv, n, du, dv) < 0) *du = *dv = 0.0;
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
  if (!RecordsSound({srf}) || (crv && !RecordsSound({crv}))) return out;
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

// ---- Curvature, tool-radius and normal grids -----------------------------------------------

namespace {

// Radius where a surface has no curvature to speak of.
constexpr double kFlatRadius = 1000000.0;
// The value written where a curvature cannot be had (no curvature, degenerate point).

// Moves the points inside the trims (with their radii when given) to the front, in order.
int CompactInTrim(Bspline* srf, double* u, double* v, double* radius, int n) {
  TrackingScope scope;
  TrimPolylines trims;
  if (SampleTrimPolylines(srf, 10.0 / 32767.0, &trims) != 0) return 0;
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    if (!InsideTrimPolylines(&trims, u[i], v[i])) continue;
    u[kept] = u[i];
    v[kept] = v[i];
    if (radius) radius[kept] = radius[i];
    ++kept;
  }
  return kept;
}

// Samples of one direction over its clean knots (see CalculateRadiusOfCurvatureGrid) into a
// new array of the current scope.
double* RadiusGridSamples(Bspline* srf, int dir, int* count) {
  int* mult = nullptr;
  double* clean = nullptr;
  const int nk = GetCleanKnots(srf, dir, &mult, &clean, 0.001);
  if (nk < 0) return nullptr;
  Owned<int, Free> ownMult(mult);  // handed over kept, outside the caller's scope
  Owned<double, Free> ownClean(clean);
  const int p = dir ? srf->degreeV : srf->degreeU;
  const double lo = dir ? srf->vmin : srf->umin, hi = dir ? srf->vmax : srf->umax;
  const double tol = 0.001 * (hi - lo);
  double* out = MallocArray<double>(nk * (p + 2) + 1);
  if (!out) return nullptr;
  int n = 0;
  for (int k = 0; k + 1 < nk; ++k) {
    const double a = clean[k], b = clean[k + 1];
    if (b <= a || (dir && b - a <= 0.001)) continue;
    for (int s = 0; s <= p + 1; ++s) {
      const double t = a + s * (b - a) / (p + 2);
      if (n == 0 || t > out[n - 1] + tol) out[n++] = t;
    }
  }
  if (n > 0 && hi - out[n - 1] <= tol) out[n - 1] = hi;
  else out[n++] = hi;
  *count = n;
  return out;
}

// The tabulated derivatives of the k-th listed grid point (15 arrays of T entries).
void TabulatedDerivatives(const double* table, int T, int k, double d[5][3]) {
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 3; ++c) d[r][c] = table[(3 * r + c) * T + k];
}

// Principal curvatures at listed grid point k from the table, stepping off a degenerate point;
// false when it stays degenerate.
bool ListedPrincipalCurvatures(Bspline* srf, const PlotEditStruct* grid, const double* table,
                               int k, int g, double* k1, double* k2) {
  const int nu = grid->uOffset;
  double u = grid->uPar[g % nu], v = grid->vPar[g / nu];
  double d[5][3];
  TabulatedDerivatives(table, grid->gridCount, k, d);
  if (!StepOffDegeneratePartials(srf, &u, &v, d)) return false;
  double n[3];
  ComputeSurfaceNormal(srf, u, v, d[0], d[1], n);
  NormalizeVector(n, 3, 1e-10);
  PrincipalCurvatureRoots(d, n, k1, k2);
  return true;
}

}  // namespace

int FindPointsInTrim(Bspline* srf, double* u, double* v, int n) {
  return CompactInTrim(srf, u, v, nullptr, n);
}

int FindPointsAndRadiusInTrim(Bspline* srf, double* u, double* v, double* radius, int n) {
  return CompactInTrim(srf, u, v, radius, n);
}

int CalculateRadiusOfCurvatureGrid(Bspline* srf, double** u, double** v, double** radius, int* nu,
                                   int* nv) {
  *u = *v = *radius = nullptr;
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
  TrackingScope scope;
  int n[2] = {0, 0};
  double* su = RadiusGridSamples(srf, 0, &n[0]);
  double* sv = RadiusGridSamples(srf, 1, &n[1]);
  if (!su || !sv || KernelFailed()) return -2;
  Owned<double, Free> gu, gv, gr;
  {
    UntrackedScope own;  // the grids are the caller's
    gu.reset(MallocArray<double>(n[0], n[1]));
    gv.reset(MallocArray<double>(n[0], n[1]));
    gr.reset(MallocArray<double>(n[0], n[1]));
  }
  if (!gu || !gv || !gr || KernelFailed()) return -2;
  LargerPrincipalCurvatureGrid(srf, su, sv, gr.get(), n[0], n[1]);
  for (int j = 0; j < n[1]; ++j)
    for (int i = 0; i < n[0]; ++i) {
      const int g = j * n[0] + i;
      gu[g] = su[i];
      gv[g] = sv[j];
      gr[g] = std::fabs(gr[g]) <= 1e-10 ? kFlatRadius : 1.0 / gr[g];
    }
  *u = gu.release();
  *v = gv.release();
  *radius = gr.release();
  *nu = n[0];
  *nv = n[1];
  return 0;
}

int SelectRadiusPointsBasedOnRequest(Bspline*, double** u, double** v, double** radius, int* n,
                                     double request, int mode) {
  const int count = *n;
  if (count <= 0) return 0;
  double *U = *u, *V = *v, *R = *radius;
  const bool negate = mode != 0 && request < 0.0;
  TrackingScope scope;
  double* keys = MallocArray<double>(count);
  int* ids = MallocArray<int>(count);
  double* old = MallocArray<double>(count, 3);
  if (!keys || !ids || !old || KernelFailed()) return -2;
  for (int i = 0; i < count; ++i) {
    keys[i] = negate ? -R[i] : R[i];
    ids[i] = i;
    old[3 * i] = U[i];
    old[3 * i + 1] = V[i];
    old[3 * i + 2] = R[i];
  }
  HeapSort2FloatInt4(count, keys, ids);
  // Radii of 100000.0 and above stand for flat regions in the default selection.
  const double limit = mode == 0 ? 100000.0 : std::fabs(request);
  int kept = 0;
  for (int s = 0; s < count; ++s) {
    const double r = keys[s];
    if (!(mode == 0 ? r >= 0.0 && r < limit : r > 0.0 && r < limit)) continue;
    const int i = ids[s];
    U[kept] = old[3 * i];
    V[kept] = old[3 * i + 1];
    R[kept] = old[3 * i + 2];
    ++kept;
  }
  *n = kept;
  return 0;
}

int UpdatePartialToolradValues(Bspline* srf, const PlotEditStruct* grid, const double* table,
                               double* values) {
  for (int k = 0; k < grid->gridCount; ++k) {
    const int g = grid->gridIdx[k];
    double k1, k2;
    if (!ListedPrincipalCurvatures(srf, grid, table, k, g, &k1, &k2)) {
      values[g] = kNoValue;
      continue;
    }
    const double c = std::max(k1, k2);
    values[g] = c <= 0.0 ? kNoValue : c < 1e-6 ? 1e-6 : c;
  }
  return 0;
}

int UpdatePartialPrincipCurvaValues(Bspline* srf, const PlotEditStruct* grid, const double* table,
                                    double* values) {
  for (int k = 0; k < grid->gridCount; ++k) {
    const int g = grid->gridIdx[k];
    double k1 = kNoValue, k2 = kNoValue;
    ListedPrincipalCurvatures(srf, grid, table, k, g, &k1, &k2);
    values[2 * g] = k1;
    values[2 * g + 1] = k2;
  }
  return 0;
}

int UpdatePartialSurfaceNormals(Bspline* srf, const PlotEditStruct* grid, double scale, float* x,
                                float* y, float* z, const double* u, const double* v, int n) {
  const int nu = grid->uOffset, nv = grid->vOffset;
  if (nu < 1 || nv < 1) return 0;
  const double umin = grid->uPar[0], umax = grid->uPar[nu - 1];
  const double vmin = grid->vPar[0], vmax = grid->vPar[nv - 1];
  const int pu = srf->degreeU + 1, pv = srf->degreeV + 1;
  // The grid point at or just above a parameter: a fraction beyond 1e-6 of a step rounds up.
  auto index = [](double t, double lo, double hi, int count) {
    if (count < 2 || hi <= lo) return 0;
    const double f = (t - lo) * (count - 1) / (hi - lo);
    int i = static_cast<int>(std::floor(f));
    if (f - i > 1e-6) ++i;
    return std::min(i, count - 1);
  };
  for (int k = 0; k < n; ++k) {
    if (u[k] < umin || u[k] > umax || v[k] < vmin || v[k] > vmax) continue;
    const int i = index(u[k], umin, umax, nu), j = index(v[k], vmin, vmax, nv);
    const double* uTab = grid->uBasis + 3 * pu * i;
    const double* vTab = grid->vBasis + 3 * pv * j;
    const int uSpan = grid->uSpan[i], vSpan = grid->vSpan[j];
    double P[3], Su[3], Sv[3];
    if (srf->rational) {
      EvalPointOnRBspline(srf, uTab, vTab, uSpan, vSpan, 0, 0, P);
      EvalPointOnRBspline(srf, uTab, vTab, uSpan, vSpan, 1, 0, Su);
      EvalPointOnRBspline(srf, uTab, vTab, uSpan, vSpan, 0, 1, Sv);
    } else {
      EvalPointOnBspline(srf, uTab, vTab, uSpan, vSpan, P);
      EvalPointOnBspline(srf, uTab + pu, vTab, uSpan, vSpan, Su);
      EvalPointOnBspline(srf, uTab, vTab + pv, uSpan, vSpan, Sv);
    }
    double N[3];
    ComputeSurfaceNormal(srf, grid->uPar[i], grid->vPar[j], Su, Sv, N);
    NormalizeVector(N, 3, 1e-10);
    float* out[3] = {x, y, z};
    for (int c = 0; c < 3; ++c) {
      out[c][2 * k] = static_cast<float>(P[c]);
      out[c][2 * k + 1] = static_cast<float>(P[c] + scale * N[c]);
    }
  }
  return 0;
}
