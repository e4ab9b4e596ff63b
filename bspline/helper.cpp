#include "bspline/helper.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/vec3.h"

namespace {

// Squared length under which a partial derivative, scaled to a largest component of 1, counts
// as vanishing: the partials of a collapsed edge or pole.
const double degenerateTol = 5e-5;
// Share of the other partial's largest component under which a partial's own counts as
// vanishing: ten times the share at which ComputeSurfaceNormal's cross product does, so that a
// partial square to the other that passes this makes a normal that passes that.
const double kShortAgainstOther = 1e-9;

// Scales v to a largest component magnitude of 1 and clears negligible components; returns
// the scale, so scale * out restores v up to the cleared components.
double ScaleClean(const double v[3], double out[3]) {
  const double m = VecPseudoNormalize3(v, out);
  VecReduceSmallToZero3(out);
  return m;
}

bool AllBelow(const double v[3], double tol) {
  return std::fabs(v[0]) < tol && std::fabs(v[1]) < tol && std::fabs(v[2]) < tol;
}

void Scale3(const double v[3], double s, double out[3]) {
  out[0] = v[0] * s;
  out[1] = v[1] * s;
  out[2] = v[2] * s;
}

// One percent of the range away from x, inward when x - step would leave the range.
double ReferenceParam(double x, double lo, double hi) {
  const double step = 0.01 * (hi - lo);
  return x - step < lo ? x + step : x - step;
}

// The substitute normal where one partial vanished: `c` is the cleaned cross product with the
// twist standing in (scale mc), `ref` the cleaned reference normal one step aside (scale mRef).
// The scale-back uses the scales of the good partial, of c and of the reference's moved partial,
// which callers have always seen; the length of a substitute normal carries no meaning.
void OrientSubstitute(const double c[3], double mc, const double ref[3], double mRef,
                      double mGood, double mMoved, double n[3]) {
  if (c[0] == 0.0 && c[1] == 0.0 && c[2] == 0.0) {
    Scale3(ref, mRef * mMoved * mGood, n);
    return;
  }
  Scale3(c, mGood * mc * mMoved, n);
  if (VecDotProd3(c, ref) < 0.0) Scale3(n, -1.0, n);
}

// Point and first partials at (u, v) in one evaluation.
void PointAndPartials(Bspline* srf, double u, double v, double P[3], double Su[3], double Sv[3]) {
  const int du[3] = {0, 1, 0};
  const int dv[3] = {0, 0, 1};
  double out[3][3];
  EvalPointOnGeometryM(srf, u, v, du, dv, 3, 0, out);
  for (int k = 0; k < 3; ++k) {
    P[k] = out[0][k];
    Su[k] = out[1][k];
    Sv[k] = out[2][k];
  }
}

}  // namespace

// The factor that brings partials shorter than the cleaning's floor (ScaleClean keeps a scale
// of at least 1e-6) to a largest component of 1, when they are more than the round-off of the
// surface: a small surface, or a wide parameter range, has short partials that still span its
// tangent plane. 1 otherwise, so that partials that vanish (a collapsed edge, a pole, a corner
// collapsed from both sides) still count as vanishing.
double ShortPartialsFactor(const Bspline* srf, const double Su[3], const double Sv[3]) {
  double m = 0.0;
  for (int q = 0; q < 3; ++q) m = std::max({m, std::fabs(Su[q]), std::fabs(Sv[q])});
  if (!(m > 0.0) || m >= 1e-6 || !srf || srf->kind != 2 || !BsplineShapeSound(srf)) return 1.0;
  const double range = std::max(srf->umax - srf->umin, srf->vmax - srf->vmin);
  // Partials this share of the size over the range are the round-off of a collapsed side.
  constexpr double kCollapsedShare = 1e-9;
  // The size is at least a millionth of the coordinates: a surface collapsed to a point has
  // only the round-off of its position for partials.
  double lo[3], hi[3];
  ControlPointBox(srf, lo, hi);
  double size = VecDist3(lo, hi);
  for (int q = 0; q < 3; ++q) size = std::max({size, 1e-6 * std::fabs(lo[q]), 1e-6 * std::fabs(hi[q])});
  return m * range > kCollapsedShare * size ? 1.0 / m : 1.0;
}

void ComputeSurfaceNormal(Bspline* srf, double u, double v, const double Su[3], const double Sv[3],
                          double n[3]) {
  // Work on partials scaled by k; the normal goes back by 1 / k^2 at the end.
  const double k = ShortPartialsFactor(srf, Su, Sv);
  double su[3], sv[3];
  double ku[3], kv[3];
  Scale3(Su, k, ku);
  Scale3(Sv, k, kv);
  const double mu = ScaleClean(ku, su);
  const double mv = ScaleClean(kv, sv);
  // A partial also vanishes against the other where their cross product would count as vanishing
  // at the end (below 1e-10 of the larger partial squared): beside the pole of a large surface, or
  // on it far from the origin, the partial round it is above the floors yet a round-off of the
  // other, and the twist has to stand in for it as at the pole of a unit one.
  const bool uDegenerate = VecDotProd3(su, su) < degenerateTol || mu < kShortAgainstOther * mv;
  const bool vDegenerate = VecDotProd3(sv, sv) < degenerateTol || mv < kShortAgainstOther * mu;

  if (!uDegenerate && !vDegenerate) {
    double c[3];
    VecCrossProd3(su, sv, c);
    const double mc = ScaleClean(c, c);
    Scale3(c, mc * mu * mv, n);
  } else {
    double twist[3], st[3], c[3];
    Eval3DPointOnSurfArray(srf, u, v, 1, 1, twist);
    Scale3(twist, k, twist);
    ScaleClean(twist, st);
    double moved[3], sm[3], ref[3];
    if (uDegenerate) {
      // Su vanishes (whatever Sv does): the twist stands in for Su.
      VecCrossProd3(st, sv, c);
      const double mc = ScaleClean(c, c);
      Eval3DPointOnSurfArray(srf, u, ReferenceParam(v, srf->vmin, srf->vmax), 1, 0, moved);
      Scale3(moved, k, moved);
      const double mMoved = ScaleClean(moved, sm);
      VecCrossProd3(sm, sv, ref);
      const double mRef = ScaleClean(ref, ref);
      OrientSubstitute(c, mc, ref, mRef, mv, mMoved, n);
    } else {
      // Only Sv vanishes: the twist stands in for Sv.
      VecCrossProd3(su, st, c);
      const double mc = ScaleClean(c, c);
      Eval3DPointOnSurfArray(srf, ReferenceParam(u, srf->umin, srf->umax), v, 0, 1, moved);
      Scale3(moved, k, moved);
      const double mMoved = ScaleClean(moved, sm);
      VecCrossProd3(su, sm, ref);
      const double mRef = ScaleClean(ref, ref);
      OrientSubstitute(c, mc, ref, mRef, mu, mMoved, n);
    }
  }
  // The normal is as long as Su x Sv, which goes with the square of the unit of length: it counts
  // as vanishing against the larger partial squared, so that a patch has its normals in any unit.
  const double m = std::max(mu, mv);
  if (AllBelow(n, 1e-10 * m * m)) {
    n[0] = n[1] = n[2] = std::sqrt(1.0 / 3.0);
  } else if (k != 1.0) {
    Scale3(n, 1.0 / (k * k), n);
  }
}

int FindTangentPlane(Bspline* srf, double u, double v, double plane[4], double P[3], double Su[3],
                     double Sv[3]) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
  PointAndPartials(srf, u, v, P, Su, Sv);
  ComputeSurfaceNormal(srf, u, v, Su, Sv, plane);
  // The normal goes with the square of the unit of length: components cleared as a share of it.
  const double floor = 1e-10 * VecSize3(plane);
  for (int k = 0; k < 3; ++k)
    if (std::fabs(plane[k]) < floor) plane[k] = 0.0;
  plane[3] = -VecDotProd3(plane, P);
  return 0;
}

int SurfaceTangentPlane(Bspline* surface, double u, double v, double plane[4]) {
  if (!RecordsSound({surface}) || surface->kind != 2 || surface->dimension != 3) return -2;
  double P[3], Su[3], Sv[3];
  PointAndPartials(surface, u, v, P, Su, Sv);
  ComputeSurfaceNormal(surface, u, v, Su, Sv, plane);
  VecNormalize3(plane, plane);
  plane[3] = -VecDotProd3(plane, P);
  return 0;
}

int GetSurfNorm(Bspline* surface, const float* rec, float out[3]) {
  if (!RecordsSound({surface}) || surface->kind != 2 || surface->dimension != 3 || !rec) return 0;
  const double* ku = surface->knotsU;
  const double* kv = surface->knotsV;
  const double ulo = ku[surface->degreeU], uhi = ku[NumCtrlU(surface)];
  const double vlo = kv[surface->degreeV], vhi = kv[NumCtrlV(surface)];
  double u = rec[6], v = rec[7];
  u = u < ulo ? ulo : (u > uhi ? uhi : u);
  v = v < vlo ? vlo : (v > vhi ? vhi : v);

  const int du[2] = {1, 0};
  const int dv[2] = {0, 1};
  double d[2][3], n[3];
  EvalPointOnGeometryM(surface, u, v, du, dv, 2, 0, d);
  ComputeSurfaceNormal(surface, u, v, d[0], d[1], n);
  VecNormalize3(n, n);
  for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(n[k]);
  return 1;
}

double* BsplCurveTangentDir(Bspline* curve, double t, double out[3]) {
  if (curve->dimension == 2)
    EvalCrvOnSrfArray(curve->owner, curve, t, 1, out);
  else
    Eval3DPointOnCurve3Array(curve, t, 1, out);
  return VecNormalize3(out, out);
}

double SurfaceCurvature(Bspline* surface, double u, double v) {
  const int du[5] = {1, 0, 1, 2, 0};
  const int dv[5] = {0, 1, 1, 0, 2};
  double d[5][3];
  EvalPointOnGeometryM(surface, u, v, du, dv, 5, 0, d);

  if (!StepOffDegeneratePartials(surface, &u, &v, d)) return 1e10;
  // The partials at unit size (the control box's diagonal), so that clearing small components
  // and the flat test hold at every scale; the radius goes back by the same size.
  const double size = ControlPointDiagonal(surface);
  const double unit = size > 0.0 && std::isfinite(size) ? size : 1.0;
  for (auto& vec : d) {
    for (double& c : vec) c /= unit;
    VecReduceSmallToZero3(vec);
  }
  double N[3];
  VecNormalize3(VecCrossProd3(d[0], d[1], N), N);

  double k1, k2;
  PrincipalCurvatureRoots(d, N, &k1, &k2);
  const double k = std::fabs(k2) >= std::fabs(k1) ? k2 : k1;
  return std::fabs(k) < 1e-10 ? 1e10 : unit / k;
}

double BsplCurveCurvature(Bspline* curve, double t) {
  const int du[3] = {0, 1, 2};
  const int dv[3] = {0, 0, 0};
  double d[3][3];
  EvalPointOnGeometryM(curve, t, 0.0, du, dv, 3, curve->owner != nullptr ? 1 : 0, d);
  double* C1 = d[1];
  double* C2 = d[2];
  // A straight stretch has no second derivative; a tiny stand-in gives a huge radius instead
  // of a division by zero. Both against the speed |C'|, so that the same curve at any size has
  // the same radius relative to it.
  const double s = VecSize3(C1);
  if (AllBelow(C2, 1e-5 * s)) C2[0] = C2[1] = C2[2] = 1e-5 * s;
  double x[3];
  double q = VecSize3(VecCrossProd3(C1, C2, x));
  if (q < 1e-10 * s * s) q = 1e-10 * s * s;
  return q > 0.0 ? s * s * s / q : 0.0;
}

namespace {

// SurfaceNormalsAt, with `anySize` the partials at each point first brought near unit size.
void NormalsAt(Bspline* srf, const double* u, const double* v, double (*normals)[3], int n, bool anySize) {
  static const int du[2] = {1, 0};
  static const int dv[2] = {0, 1};
  // The partials a block of points at a time: along a side the fixed parameter's basis is taken
  // once per block, not once per point.
  constexpr int kBlock = 64;
  double block[2 * kBlock][3];
  for (int i = 0; i < n; ++i) {
    const int m = i % kBlock;
    if (m == 0) {
      const int count = std::min(kBlock, n - i);
      for (int k = 0; k < 2 * count; ++k) block[k][0] = block[k][1] = block[k][2] = 0.0;
      EvalPointsOnGeometryM(srf, u + i, v + i, count, du, dv, 2, 0, block);
    }
    double partials[2][3];
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 3; ++c) partials[r][c] = block[2 * m + r][c];
    if (anySize) {
      // One power of two for both (exact): a partial vanishing beside the other still vanishes.
      double largest = 0.0;
      for (const auto& p : partials)
        for (double c : p) largest = std::max(largest, std::fabs(c));
      int exponent = 0;
      if (largest > 0.0 && std::isfinite(largest)) std::frexp(largest, &exponent);
      // Kept within the range where 2^-exponent is a normal number.
      const double f = std::ldexp(1.0, -std::clamp(exponent, -1000, 1000));
      for (auto& p : partials)
        for (double& c : p) c *= f;
    }
    ComputeSurfaceNormal(srf, u[i], v[i], partials[0], partials[1], normals[i]);
  }
}

}  // namespace

void SurfaceNormalsAt(Bspline* srf, const double* u, const double* v, double (*normals)[3], int n) {
  NormalsAt(srf, u, v, normals, n, false);
}

void SurfaceNormalsAtAnySize(Bspline* srf, const double* u, const double* v, double (*normals)[3], int n) {
  NormalsAt(srf, u, v, normals, n, true);
}

int StepOffDegeneratePartials(Bspline* srf, double* u, double* v, double d[5][3]) {
  static const int du[5] = {1, 0, 1, 2, 0}, dv[5] = {0, 1, 1, 0, 2};
  const double umid = (srf->umin + srf->umax) / 2.0, vmid = (srf->vmin + srf->vmax) / 2.0;
  const double hu = 1e-4 * (srf->umax - srf->umin), hv = 1e-4 * (srf->vmax - srf->vmin);
  // Six steps leave a collapsed edge or pole behind; a surface still degenerate after them is
  // degenerate all over, and walking on would never end.
  for (int moves = 0; AllBelow(d[0], 1e-10) || AllBelow(d[1], 1e-10); ++moves) {
    if (moves == 6) return 0;
    *u += umid > *u ? hu : -hu;
    *v += vmid > *v ? hv : -hv;
    EvalPointOnGeometryM(srf, *u, *v, du, dv, 5, 0, d);
  }
  return 1;
}

void PrincipalCurvatureRoots(const double d[5][3], const double n[3], double* k1, double* k2) {
  const double *Su = d[0], *Sv = d[1], *Suv = d[2], *Suu = d[3], *Svv = d[4];
  const double E = VecDotProd3(Su, Su), F = VecDotProd3(Su, Sv), G = VecDotProd3(Sv, Sv);
  const double L = VecDotProd3(n, Suu), M = VecDotProd3(n, Suv), N = VecDotProd3(n, Svv);
  // The principal curvatures are the roots of A k^2 - b k + c = 0.
  double A = E * G - F * F;
  const double b = E * N + G * L - 2.0 * F * M;
  double disc = b * b - 4.0 * A * (L * N - M * M);
  if (disc < 0.0) disc = 0.0;
  if (std::fabs(A) < 1e-10) A = A > 0.0 ? 1e-10 : -1e-10;
  *k1 = (b + std::sqrt(disc)) / (2.0 * A);
  *k2 = (b - std::sqrt(disc)) / (2.0 * A);
}

namespace {

// LargerPrincipalCurvature with the surface's size given. The thresholds (vanishing partials,
// noise, the floor of EG - F^2) are for a surface of unit size: the derivatives are taken at that
// size and the curvature brought back, so a surface at any scale gets the same answer in its units.
double LargerCurvatureOfSize(Bspline* srf, double u, double v, double size) {
  static const int du[5] = {1, 0, 1, 2, 0}, dv[5] = {0, 1, 1, 0, 2};
  const double unit = size > 0.0 && std::isfinite(size) ? 1.0 / size : 1.0;
  double d[5][3];
  // A vanishing partial (a pole or collapsed edge) has no normal: the point walks toward the
  // middle of the domain, and the walk ends there, so a surface degenerate all the way cannot
  // hold it for ever.
  const double midU = 0.5 * (srf->umin + srf->umax), midV = 0.5 * (srf->vmin + srf->vmax);
  const double hu = 1e-4 * (srf->umax - srf->umin), hv = 1e-4 * (srf->vmax - srf->vmin);
  for (;;) {
    if (EvalPointOnGeometryM(srf, u, v, du, dv, 5, 0, d) != 0) return 0.0;
    for (auto& vec : d)
      for (double& c : vec) c *= unit;
    if (!AllBelow(d[0], 1e-10) && !AllBelow(d[1], 1e-10)) break;
    if (u == midU && v == midV) return 0.0;
    // From inside the domain: a point far outside would take a step below its own spacing.
    u = std::clamp(u, srf->umin, srf->umax), v = std::clamp(v, srf->vmin, srf->vmax);
    u = u >= midU ? std::max(midU, u - hu) : std::min(midU, u + hu);
    v = v >= midV ? std::max(midV, v - hv) : std::min(midV, v + hv);
  }
  for (auto& vec : d) VecReduceSmallToZero3(vec);
  double n[3], k1, k2;
  VecNormalize3(VecCrossProd3(d[0], d[1], n), n);
  PrincipalCurvatureRoots(d, n, &k1, &k2);
  return std::max(k1, k2) * unit;
}

// A sound surface (bsvalid) and parameters that are numbers; else false with the error state -2.
bool CurvatureInputsSound(const Bspline* srf, const double* u, int nu, const double* v, int nv) {
  if (!RecordsSound({srf})) return false;
  if (srf->kind == 2 && (nu < 1 || (u && AllFinite(u, nu))) && (nv < 1 || (v && AllFinite(v, nv)))) return true;
  SetKernelError(-2);
  return false;
}

}  // namespace

double LargerPrincipalCurvature(Bspline* srf, double u, double v) {
  if (!CurvatureInputsSound(srf, &u, 1, &v, 1)) return 0.0;
  return LargerCurvatureOfSize(srf, u, v, ControlPointDiagonal(srf));
}

void LargerPrincipalCurvatureGrid(Bspline* srf, const double* u, const double* v, double* out,
                                  int nu, int nv) {
  if (!CurvatureInputsSound(srf, u, nu, v, nv) || (nu > 0 && nv > 0 && !out)) {
    SetKernelError(-2);
    return;
  }
  const double size = ControlPointDiagonal(srf);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) out[j * nu + i] = LargerCurvatureOfSize(srf, u[i], v[j], size);
}
