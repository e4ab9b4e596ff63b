// Curvature values, principal curvatures and curvature needles of surfaces. The per-sample rule
// and its fallbacks live with the grid fits of splinefit/sconvert, which need them first.
#include "intersect/curvatur.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/sconvert.h"

namespace {

// Derivative requests in the order of the 15-double blocks: Su, Sv, Suv, Suu, Svv.
constexpr int kDu[5] = {1, 0, 1, 2, 0};
constexpr int kDv[5] = {0, 1, 1, 0, 2};

bool ValidKind(int kind) { return kind >= 7 && kind <= 9; }

void DerivsAt(const Bspline* srf, double u, double v, double* D) {
  EvalPointOnGeometryM(srf, u, v, kDu, kDv, 5, 0, reinterpret_cast<double(*)[3]>(D));
}

double Snap(double x) { return std::fabs(x) < 1e-10 ? 0.0 : x; }

// Entry k of the 15-array derivative buffer of T entries into one block.
void BufferEntry(const double* derivs, int T, int k, double* D) {
  for (int c = 0; c < 15; ++c) D[c] = derivs[c * T + k];
}

struct PlotGrid {
  const Bspline* srf;
  const PlotEditStruct* rec;
  int nu;
};

}  // namespace

void ComputeCurvature(const Bspline* srf, double* out, int kind, int nu, int nv) {
  CurvatureOnGrid(srf, out, nullptr, nullptr, nu, nv, kind, 1, 1e-6);
}

void ComputeCurvatureGivenArrays(const Bspline* srf, double* out, const double* u, const double* v,
                                 int nu, int nv, int kind) {
  CurvatureOnParameterGrid(srf, out, u, v, nu, nv, kind);
}

void ComputeCurvatureNpntsSurf(const Bspline* srf, double* out, const double* u, const double* v,
                               int n, int kind) {
  if (!ValidKind(kind)) return;
  const double unit = CurvatureUnitScale(srf);
  for (int k = 0; k < n; ++k) {
    double D[15], value = 0.0;
    DerivsAt(srf, u[k], v[k], D);
    out[k] = CurvatureFromPartials(D, kind, 1e-10, unit, &value)
                 ? value
                 : CurvatureAtFreePoint(srf, u[k], v[k], kind, unit);
  }
}

int ComputePrincipCurvaNPnts(const Bspline* srf, const double* u, const double* v, double* out,
                             int nu, int nv) {
  if (nu < 1 || nv < 1) return 0;
  if (!BsplineSound(srf) || srf->kind != 2 || !AllFinite(u, nu) || !AllFinite(v, nv)) return -2;
  TrackingScope scope;
  double* block = MallocArray<double>(nu, nv, 15);
  double** rows = MallocArray<double*>(nu, nv);
  if (!block || !rows) return -2;
  for (int g = 0; g < nu * nv; ++g) rows[g] = block + 15 * g;
  if (EvalGridOnGeometryM(srf, u, v, nu, nv, kDu, kDv, 5, 0, rows) != 0) return -2;
  const double ulo = srf->knotsU[srf->degreeU], uhi = srf->knotsU[NumCtrlU(srf)];
  const double vlo = srf->knotsV[srf->degreeV], vhi = srf->knotsV[NumCtrlV(srf)];
  const double umid = 0.5 * (ulo + uhi), vmid = 0.5 * (vlo + vhi);
  const double du = 1e-4 * (uhi - ulo), dv = 1e-4 * (vhi - vlo);
  // The thresholds hold at unit size: partials scaled to it, curvatures brought back.
  const double unit = CurvatureUnitScale(srf);
  // Steps of 1e-4 of the range reach the middle from any point of the domain in this many; a
  // surface whose first derivatives vanish over a whole region would otherwise step forever.
  constexpr int kStepsToMiddle = 5000;
  auto vanishes = [](const double* w) {
    return std::fabs(w[0]) < 1e-10 && std::fabs(w[1]) < 1e-10 && std::fabs(w[2]) < 1e-10;
  };
  for (int g = 0; g < nu * nv; ++g) {
    double D[15];
    for (int c = 0; c < 15; ++c) D[c] = rows[g][c] * unit;
    double us = u[g % nu], vs = v[g / nu];
    for (int steps = 0; (vanishes(D) || vanishes(D + 3)) && steps < kStepsToMiddle; ++steps) {
      us += us >= umid ? -du : du;
      vs += vs >= vmid ? -dv : dv;
      DerivsAt(srf, us, vs, D);
      for (double& c : D) c *= unit;
    }
    out[2 * g] = out[2 * g + 1] = 0.0;
    if (vanishes(D) || vanishes(D + 3)) continue;
    for (int c : {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 14})  // Su, Sv, Suv, Svv
      if (std::fabs(D[c]) < 1e-6) D[c] = 0.0;
    double n[3], un[3];
    VecCrossProd3(D, D + 3, n);
    VecNormalize3(n, un);
    const double E = VecDotProd3(D, D), F = VecDotProd3(D, D + 3), G = VecDotProd3(D + 3, D + 3);
    const double L = VecDotProd3(un, D + 9), M = VecDotProd3(un, D + 6), N = VecDotProd3(un, D + 12);
    const double a = E * G - F * F, b = L * G + N * E - 2.0 * M * F, c = L * N - M * M;
    const double d = std::sqrt(std::max(0.0, b * b - 4.0 * a * c));
    if (std::fabs(2.0 * a) >= 1e-6) {
      out[2 * g] = Snap((b + d) / (2.0 * a)) * unit;
      out[2 * g + 1] = Snap((b - d) / (2.0 * a)) * unit;
    }
  }
  // Coefficients near the double range overflow the fundamental forms.
  return AllFinite(out, 2 * nu * nv) ? 0 : -2;
}

int UpdatePartialCurvatureValues(const Bspline* srf, const PlotEditStruct* rec,
                                 const double* derivs, double* values, int kind) {
  if (!ValidKind(kind) || !rec) return 0;
  const int T = rec->gridCount + rec->needleCount;
  const int nu = std::max(rec->uOffset, 1), nv = std::max(rec->vOffset, 1);
  const PlotGrid grid{srf, rec, nu};
  const double unit = CurvatureUnitScale(srf);
  // The neighbour is not in the buffer: it is evaluated at its grid parameters.
  auto evaluate = [](int h, double* Dn, const void* ctx) {
    const PlotGrid* p = static_cast<const PlotGrid*>(ctx);
    DerivsAt(p->srf, p->rec->uPar[h % p->nu], p->rec->vPar[h / p->nu], Dn);
  };
  for (int k = 0; k < rec->gridCount; ++k) {
    const int g = rec->gridIdx[k];
    double D[15];
    BufferEntry(derivs, T, k, D);
    values[g] = CurvatureAtGridPoint(srf, D, g, nu, nv, rec->uPar[g % nu], rec->vPar[g / nu], kind,
                                     1e-15, unit, evaluate, &grid);
  }
  return 0;
}

void UpdatePartialCurvatureNeedles(const Bspline* srf, const PlotEditStruct* rec, double scale,
                                   const double* derivs, double* values, int kind, float* nx,
                                   float* ny, float* nz) {
  if (!rec) return;
  const int T = rec->gridCount + rec->needleCount;
  const int ru = 3 * (srf->degreeU + 1), rv = 3 * (srf->degreeV + 1);
  const double unit = CurvatureUnitScale(srf);
  for (int k = 0; k < rec->needleCount; ++k) {
    const int idx = rec->needleIdx[k];
    if (idx >= rec->needleLimit) continue;
    double D[15], value = 0.0;
    BufferEntry(derivs, T, rec->gridCount + k, D);
    if (ValidKind(kind))
      values[idx] = CurvatureFromPartials(D, kind, 1e-6, unit, &value)
                        ? value
                        : CurvatureAtFreePoint(srf, rec->uPar[k], rec->vPar[k], kind, unit);
    const int tu = rec->uOffset + idx, tv = rec->vOffset + idx;
    const double* uTab = rec->uBasis + tu * ru;
    const double* vTab = rec->vBasis + tv * rv;
    double P[3], n[3];
    if (srf->rational)
      EvalPointOnRBspline(srf, uTab, vTab, rec->uSpan[tu], rec->vSpan[tv], 0, 0, P);
    else
      EvalPointOnBspline(srf, uTab, vTab, rec->uSpan[tu], rec->vSpan[tv], P);
    // The surface's own normal rule never gives the zero vector, even where Su x Sv vanishes.
    ComputeSurfaceNormal(const_cast<Bspline*>(srf), rec->uPar[k], rec->vPar[k], D, D + 3, n);
    const double len = VecSize3(n);
    const double s = len > 0.0 ? values[idx] * scale / len : 0.0;
    float* outs[3] = {nx, ny, nz};
    for (int c = 0; c < 3; ++c) {
      outs[c][2 * idx] = static_cast<float>(P[c]);
      outs[c][2 * idx + 1] = static_cast<float>(P[c] + s * n[c]);
    }
  }
}
