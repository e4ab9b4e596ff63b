#include "stitch/crossder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/helper.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "curve/endspan.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/gridintp.h"
#include "surface/bnd2crv.h"
#include "surface/srfnorm.h"
#include "surface/srfutils.h"

namespace {

// Parameters closer than this share of a range are one.
constexpr double kParTol = 1e-6;
// A vector shorter than this share of the lengths it is made of (or of the longest of its set)
// has no direction: the same share at every size, where an absolute floor would leave the
// directions of a small part unnormalised and those of a large one normalised from round-off.
constexpr double kDirectionFloor = 1e-10;
// All vectors of a set vanish: the length that stands in for theirs (a factor divided by it
// multiplies a zero vector).
constexpr double kVanishedLength = 1e-10;

// Length of the longest of the n vectors.
double LongestOf(const double* x, const double* y, const double* z, int n) {
  double m = 0.0;
  for (int i = 0; i < n; ++i) m = std::max(m, std::sqrt(x[i] * x[i] + y[i] * y[i] + z[i] * z[i]));
  return m;
}

// The piece of c over [t0, t1] (a copy when that is its whole range); null on failure.
Bspline* PieceOf(Bspline* c, double t0, double t1) {
  return ExtractParamRange(c, 0, t0, t1);
}

// The first or second cross derivative of the surface at the edge row `row0` of the net,
// forward (rows row0, row0 + 1, ...) or backward, into a new 3D curve along the other direction.
Bspline* RowDerivatives(const Bspline* s, int dir, int order, bool forward, double sign) {
  // dir 0: the line v = iso runs in u, so the cross direction is v (rows); else u (columns).
  const bool crossV = dir == 0;
  const KnotDirection c = DirectionOf(s, crossV ? 1 : 0);
  const KnotDirection a = DirectionOf(s, crossV ? 0 : 1);
  const int p = c.p;
  const int n = c.nCtrl;
  const double* k = c.knots;
  const double iso = forward ? k[p] : k[n];
  const double h1 = forward ? k[p + 1] - iso : iso - k[n - 1];
  const double h2 = forward ? k[p + 2] - iso : iso - k[n - 2];
  Bspline* out = MallocCurveBspline(3, a.p, a.nCtrl);
  if (!out) return nullptr;
  std::memcpy(out->knotsU, a.knots, sizeof(double) * (a.nCtrl + a.p + 1));
  SetDomainFromKnots(out, 0);
  const int r0 = forward ? 0 : n - 1, step = forward ? 1 : -1;
  double** M[3] = {s->X, s->Y, s->Z};
  double** O[3] = {out->X, out->Y, out->Z};
  for (int j = 0; j < a.nCtrl; ++j)
    for (int q = 0; q < 3; ++q) {
      auto R = [&](int r) { return crossV ? M[q][r0 + r * step][j] : M[q][j][r0 + r * step]; };
      // R(1) is the row next to the edge inward; forward differences read (R1 - R0), backward
      // ones (R0 - R-1) = -(R(1) - R(0)) with R(1) the row before.
      const double d1 = (R(1) - R(0)) * (forward ? 1.0 : -1.0);
      double D;
      if (order == 1) {
        D = p / h1 * d1;
      } else {
        const double d2 = (R(2) - R(1)) * (forward ? 1.0 : -1.0);
        D = forward ? p * (p - 1) / h1 * (d2 / h2 - d1 / h1) : p * (p - 1) / h1 * (d1 / h1 - d2 / h2);
      }
      O[q][0][j] = sign * D;
    }
  return out;
}

}  // namespace

double TangentMagnitude(const double S[3], const double R[3], const double dir[3], int mode) {
  const double D[3] = {R[0] - S[0], R[1] - S[1], R[2] - S[2]};
  const double L = std::sqrt(D[0] * D[0] + D[1] * D[1] + D[2] * D[2]);
  if (mode == 0) return L;
  const double den = L + dir[0] * D[0] + dir[1] * D[1] + dir[2] * D[2];
  // A direction pointing straight away from R has no circle through both points, and R on S
  // none at all (den is then 0): no magnitude. Both tests are relative to L, so the magnitude
  // goes with the unit of length.
  if (!(L > 0.0) || !(den > 1e-12 * L)) return 0.0;
  return 2.0 * (D[0] * D[0] + D[1] * D[1] + D[2] * D[2]) / den;
}

void NormalizeControlPoints(Bspline* crv) {
  if (!BsplineShapeSound(crv) || crv->kind != 1 || crv->dimension != 3) return;
  const double floor = kDirectionFloor * LongestOf(crv->X[0], crv->Y[0], crv->Z[0], NumCtrlU(crv));
  for (int i = 0; i < NumCtrlU(crv); ++i) {
    double v[3] = {crv->X[0][i], crv->Y[0][i], crv->Z[0][i]};
    if (!(floor > 0.0) || NormalizeVector(v, 3, floor) != 0) continue;
    crv->X[0][i] = v[0], crv->Y[0][i] = v[1], crv->Z[0][i] = v[2];
  }
}

namespace {

// One sample of a curve on a surface: the surface point S, its normal N = Su x Sv and the same
// made unit (n), the tangent T of the curve through the surface, the reference point R and the
// unit direction toward R in the tangent plane.
struct CrossSample {
  double S[3], Su[3], Sv[3], N[3], n[3], T[3], R[3], toward[3];
  double u, v;
};

void SampleAcross(Bspline* crv, Bspline* ref, double rs, double t, CrossSample* c) {
  Bspline* srf = crv->owner;
  double uv[2], duv[2];
  Eval2DPointOnCurve2Array(nullptr, crv, t, 0, uv);
  Eval2DPointOnCurve2Array(nullptr, crv, t, 1, duv);
  c->u = uv[0], c->v = uv[1];
  const int want[3] = {1, 1, 1};
  double P[3][3];
  Eval3DPointOnSurfArrayM(srf, uv[0], uv[1], want, P);
  for (int q = 0; q < 3; ++q) {
    c->S[q] = P[0][q], c->Su[q] = P[1][q], c->Sv[q] = P[2][q];
    c->T[q] = P[1][q] * duv[0] + P[2][q] * duv[1];
  }
  // Su x Sv goes with the square of the unit of length (never zero): made unit, so that the
  // direction toward R has the units of R - S and is measured against them.
  ComputeSurfaceNormal(srf, uv[0], uv[1], c->Su, c->Sv, c->N);
  double* N = c->n;
  const double nn = std::sqrt(c->N[0] * c->N[0] + c->N[1] * c->N[1] + c->N[2] * c->N[2]);
  for (int q = 0; q < 3; ++q) N[q] = c->N[q] / nn;
  EvalCrvOnSrfArray(nullptr, ref, ref->umin + (t - crv->umin) * rs, 0, c->R);
  const double d[3] = {c->R[0] - c->S[0], c->R[1] - c->S[1], c->R[2] - c->S[2]};
  const double dN = d[0] * N[0] + d[1] * N[1] + d[2] * N[2];
  for (int q = 0; q < 3; ++q) c->toward[q] = d[q] - dN * N[q];
  const double reach = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (reach > 0.0) NormalizeVector(c->toward, 3, kDirectionFloor * reach);
}

// The unit vector N x T perpendicular to the curve in the tangent plane (zero where the curve
// stands still).
void Perpendicular(const CrossSample& c, double out[3]) {
  out[0] = c.n[1] * c.T[2] - c.n[2] * c.T[1];
  out[1] = c.n[2] * c.T[0] - c.n[0] * c.T[2];
  out[2] = c.n[0] * c.T[1] - c.n[1] * c.T[0];
  const double reach = std::sqrt(c.T[0] * c.T[0] + c.T[1] * c.T[1] + c.T[2] * c.T[2]);
  if (reach > 0.0) NormalizeVector(out, 3, kDirectionFloor * reach);
}

}  // namespace

int NonIsoDirections(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode, int mode,
                     const double* t, double* x, double* y, double* z, int n) {
  if (mag) *mag = nullptr;
  if (!BsplineShapeSound(crv) || crv->kind != 1 || crv->dimension != 2 || !crv->owner ||
      !BsplineShapeSound(ref) || ref->kind != 1 || (ref->dimension == 2 && !ref->owner) || n < 1) {
    SetKernelError(-2);
    return -2;
  }
  double* mags = nullptr;
  if (wantMag && mag) {
    UntrackedScope kept;  // the magnitudes are the caller's
    mags = MallocArray<double>(n);
    if (!mags) return -2;
  }
  const double rs = (ref->umax - ref->umin) / (crv->umax - crv->umin);
  CrossSample c;
  double sign = 1.0;
  if (mode == 1) {
    // One orientation for the whole curve, out of the trimmed domain at its middle sample.
    SampleAcross(crv, ref, rs, t[n / 2], &c);
    double D[3];
    Perpendicular(c, D);
    if (CheckIfVectorGoesIn(crv, c.u, c.v, D, c.Su, c.Sv, c.N)) sign = -1.0;
  }
  for (int i = 0; i < n; ++i) {
    SampleAcross(crv, ref, rs, t[i], &c);
    double D[3] = {c.toward[0], c.toward[1], c.toward[2]};
    if (mode == 1) {
      Perpendicular(c, D);
      for (double& v : D) v *= sign;
    }
    x[i] = D[0], y[i] = D[1], z[i] = D[2];
    if (mags) mags[i] = TangentMagnitude(c.S, c.R, c.toward, magMode);
  }
  if (KernelFailed()) {
    Free(mags);
    return -2;
  }
  if (mag) *mag = mags;
  return 0;
}

Bspline* NonIsoDerivativeCurve(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode,
                               int mode, int samples, int order, const double* knots, int nKnots,
                               int degree) {
  if (mag) *mag = nullptr;
  // Only positions and unit directions are defined along a general curve; a second derivative
  // there has no construction.
  if (!BsplineShapeSound(crv) || crv->kind != 1 || crv->dimension != 2 || !crv->owner ||
      order < 0 || order > 1 || degree < 1 || degree > kMaxSplineDegree) {
    SetKernelError(-2);
    return nullptr;
  }
  Bspline* srf = crv->owner;
  TrackingScope scope;
  double* kn = nullptr;
  int nk = 0;
  if (knots && nKnots > 2 * degree + 1) {
    kn = MallocArray<double>(nKnots);
    if (!kn) return nullptr;
    std::memcpy(kn, knots, sizeof(double) * nKnots);
    nk = nKnots;
  } else {
    int m = samples;
    if (samples == -1) {
      const int pc = crv->degreeU;
      m = std::max(3 * std::max({srf->degreeU, srf->degreeV, pc}),
                   ((srf->degreeU + srf->degreeV) * pc + 1) / 2);
    }
    int c = 0;
    Owned<double, Free> samplesHeld(SampleCurvePlateProper(crv, m, &c));
    const double* t = samplesHeld.get();
    if (!t || c < 2) return nullptr;
    const int total = c - 2 + 2 * (degree + 1);
    double* raw = MallocArray<double>(total);
    int* mult = MallocArray<int>(total);
    kn = MallocArray<double>(total);
    if (!raw || !mult || !kn) return nullptr;
    for (int i = 0; i <= degree; ++i) raw[i] = crv->umin, raw[total - 1 - i] = crv->umax;
    for (int i = 1; i < c - 1; ++i) raw[degree + i] = t[i];
    nk = GetCleanKnotsFromKnots(raw, total, degree + 1, mult, kn, kParTol * (crv->umax - crv->umin));
  }
  const int k = nk - degree - 1;
  if (k < degree + 1) {
    SetKernelError(-2);
    return nullptr;
  }
  double* par = MallocArray<double>(k);
  double* pts = MallocArray<double>(3 * k);
  if (!par || !pts) return nullptr;
  GrevilleParams(kn, k, degree, par);
  double *x = pts, *y = pts + k, *z = pts + 2 * k;
  if (order == 0) {
    for (int i = 0; i < k; ++i) {
      double P[3];
      EvalCrvOnSrfArray(srf, crv, par[i], 0, P);
      x[i] = P[0], y[i] = P[1], z[i] = P[2];
    }
  } else if (NonIsoDirections(crv, ref, wantMag ? mag : nullptr, wantMag, magMode, mode, par, x, y, z, k) != 0) {
    return nullptr;
  }
  if (KernelFailed()) return nullptr;
  Bspline* out = CurveAtParams(x, y, z, par, k, kn, degree);
  if (!out && mag && *mag) {
    Free(*mag);
    *mag = nullptr;
  }
  return out;
}

Bspline* IsoDerivativeCurve(Bspline* srf, Bspline* ref, double** mag, int magMode, int mode,
                            int samples, double iso, double t0, double t1, int dir, int order,
                            int atMin, int g2, int normalize) {
  if (mag) *mag = nullptr;
  if (!BsplineShapeSound(srf) || srf->kind != 2 || srf->dimension != 3 || order < 0 || order > 2) {
    SetKernelError(-2);
    return nullptr;
  }
  if (order == 0) {
    Owned<Bspline, FreeBspline> line(IsoCurve3(srf, iso, iso, dir));
    if (!line) return nullptr;
    return PieceOf(line.get(), t0, t1);
  }
  if (srf->rational) return nullptr;
  Owned<Bspline, FreeBspline> full;
  if (order == 2 && g2) {
    const int edge = dir == 0 ? (atMin ? 3 : 1) : (atMin ? 0 : 2);
    full.reset(EdgeReflectionCurve(srf, edge, nullptr));
  } else if (order == 1 && (mode == 0 || ref)) {
    // The sampled form toward ref: the result for mode 0, the magnitudes for the exact form.
    Owned<Bspline, FreeBspline> line2(MakeIsoparCurve2(srf, dir ? 0 : 3, iso));
    Owned<Bspline, FreeBspline> line3(IsoCurve3(srf, iso, iso, dir));
    if (!line2 || !line3) return nullptr;
    Owned<Bspline, FreeBspline> piece2(PieceOf(line2.get(), t0, t1));
    Owned<Bspline, FreeBspline> piece3(PieceOf(line3.get(), t0, t1));
    if (!piece2 || !piece3) return nullptr;
    Bspline* sampled = NonIsoDerivativeCurve(piece2.get(), ref, mag, 1, magMode, 0, samples, 1,
                                             piece3->knotsU, NumKnotsU(piece3.get()),
                                             piece3->degreeU);
    if (mode == 0 || !sampled) return sampled;
    FreeBspline(sampled);
  }
  if (!full && !(order == 2 && g2)) {
    const KnotDirection c = DirectionOf(srf, dir == 0 ? 1 : 0);
    const double r = c.hi - c.lo;
    const double sign = atMin ? -1.0 : 1.0;
    if (c.p < order) {
      // A cross degree below the order has no such derivative.
    } else if (std::fabs(iso - c.lo) / r < kParTol) {
      full.reset(RowDerivatives(srf, dir, order, true, sign));
    } else if (std::fabs(c.hi - iso) / r < kParTol) {
      full.reset(RowDerivatives(srf, dir, order, false, sign));
    } else {
      // Inside: the piece on the derivative's side of iso ends there with full multiplicity,
      // so its edge rows are the ones knot insertion would give, and srf stays as it is.
      Owned<Bspline, FreeBspline> side(atMin ? ExtractParamRange(srf, dir == 0 ? 1 : 0, c.lo, iso)
                                             : ExtractParamRange(srf, dir == 0 ? 1 : 0, iso, c.hi));
      if (side) full.reset(RowDerivatives(side.get(), dir, order, !atMin, sign));
    }
  }
  Bspline* piece = full ? PieceOf(full.get(), t0, t1) : nullptr;
  if (piece && normalize) NormalizeControlPoints(piece);
  if (!piece && mag) FreeAndNull(*mag);  // no curve, no magnitudes handed out
  return piece;
}

double DerivativeMagnitudeNear(double* x, double* y, double* z, int preferred, int n) {
  const double floor = kDirectionFloor * LongestOf(x, y, z, n);
  for (int k = 0; k < n && floor > 0.0; ++k) {
    const int i = preferred == 0 ? k : n - 1 - k;
    const double len = std::sqrt(x[i] * x[i] + y[i] * y[i] + z[i] * z[i]);
    if (len > floor) return len;
  }
  return kVanishedLength;
}

int ScaledDerivativeRow(Bspline* D, Bspline* P, double targets[6], double scale, int vary) {
  if (!BsplineShapeSound(D) || !BsplineShapeSound(P) || D->dimension != 3 || P->dimension != 3 ||
      NumCtrlU(D) != NumCtrlU(P)) {
    SetKernelError(-2);
    return -2;
  }
  const int n = NumCtrlU(P);
  double* dx = D->X[0];
  double* dy = D->Y[0];
  double* dz = D->Z[0];
  const double* px = P->X[0];
  const double* py = P->Y[0];
  const double* pz = P->Z[0];
  const double d0 = std::hypot(px[0] - targets[0], py[0] - targets[1], pz[0] - targets[2]);
  const double d1 = std::hypot(px[n - 1] - targets[3], py[n - 1] - targets[4], pz[n - 1] - targets[5]);
  const double m0 = d0 / DerivativeMagnitudeNear(dx, dy, dz, 0, n);
  const double m1 = d1 / DerivativeMagnitudeNear(dx, dy, dz, n - 1, n);
  const double mAvg = 0.5 * (m0 + m1);
  TrackingScope scope;
  double* m = MallocArray<double>(n);
  if (!m) return -2;
  for (int i = 0; i < n; ++i) m[i] = mAvg;
  if (vary && n >= 5 && m0 > 0.0 && std::fabs(1.0 - mAvg / m0) >= 0.01) {
    double* t = ObjectGrevilleParams(P, 0);
    if (!t) return -2;
    const int h = n / 2 + 1;
    for (int i = 0; i < h; ++i)
      m[i] = mAvg + (m0 >= mAvg ? 1.0 : -1.0) * (1.0 - (t[i] - t[0]) / (t[h - 1] - t[0])) *
                        std::fabs(m0 - mAvg);
    for (int i = h; i < n; ++i)
      m[i] = mAvg + (m1 >= mAvg ? 1.0 : -1.0) * (t[i] - t[h - 1]) / (t[n - 1] - t[h - 1]) *
                        std::fabs(m1 - mAvg);
  }
  for (int i = 0; i < n; ++i) {
    dx[i] = px[i] + scale * m[i] * dx[i];
    dy[i] = py[i] + scale * m[i] * dy[i];
    dz[i] = pz[i] + scale * m[i] * dz[i];
  }
  return 0;
}
