#include "construct/srfblend.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/creverse.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/crv2srf.h"
#include "construct/srfloft.h"
#include "curve/crvutil.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/quadrics.h"
#include "stitch/srfcont.h"
#include "stitch/srfstitc.h"
#include "stitch/userdef.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"
#include "surface/srfnorm.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"

namespace {

// Directions shorter than this are not made unit (they stay as they are); a share of the
// lengths a direction is made of where it has units, so that it holds at every size.
constexpr double kUnitTol = 1e-10;

void Sub(const double a[3], const double b[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = a[k] - b[k];
}
double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// D (N . N) - N (D . N): the part of D in the plane normal to N, scaled by |N|^2.
void InPlane(const double D[3], const double N[3], double dir[3]) {
  const double nn = Dot(N, N), dn = Dot(D, N);
  for (int k = 0; k < 3; ++k) dir[k] = D[k] * nn - N[k] * dn;
}

bool OnSurface(const Bspline* c) { return c && c->dimension == 2 && c->owner; }

// The curves of an array that a step reads control point by control point: sound records
// (RecordArraySound), 3D curves of at least `least` control points, each present unless
// `absentOk` (absent tangent curves are null); else false with the error state -2. The steps
// index fixed control points (the second, the one before the last), so fewer would be read
// outside the net.
bool Curves3Sound(Bspline* const* curves, int count, int least, bool absentOk) {
  if (!RecordArraySound(curves, count)) return false;
  for (int i = 0; i < count; ++i) {
    const Bspline* c = curves[i];
    if (c ? c->kind == 1 && c->dimension == 3 && NumCtrlU(c) >= least : absentOk) continue;
    SetKernelError(-2);
    return false;
  }
  return true;
}

// Whether a curve read alongside another (its control point j with the other's j) has at
// least as many control points; else false with the error state -2.
bool CoversNet(const Bspline* wide, const Bspline* c) {
  if (!c || NumCtrlU(wide) >= NumCtrlU(c)) return true;
  SetKernelError(-2);
  return false;
}

}  // namespace

void GetClosestPntOnPlane(const double p[3], const double plane[4], double out[3]) {
  const double s = (Dot(plane, p) + plane[3]) / Dot(plane, plane);
  for (int k = 0; k < 3; ++k) out[k] = p[k] - s * plane[k];
}

void GetHoleCenterNew(Bspline** sides, int n, double centre[3], double plane[4]) {
  double sum[3] = {0, 0, 0}, nsum[3] = {0, 0, 0};
  // Side i + k is the side across the hole from the corner where side i starts.
  const int k = (n - 3) / 2 + 1;
  for (int i = 0; i < n; ++i) {
    const int j = i + k > n - 1 ? i + k - n : i + k;
    Bspline* si = sides[i];
    Bspline* sj = sides[j];
    Owned<Bspline, FreeBspline> a(
        ExtractObjFromObjGivenPar(si, 0, si->umin, si->umin + (si->umax - si->umin) / 6.0));
    if (!a || KernelFailed()) return;
    // Asked from the half to the third: the piece runs from the middle of side j back toward
    // its start, so both pieces start at u minimum of the loft.
    const double dj = sj->umax - sj->umin;
    Owned<Bspline, FreeBspline> b(
        ExtractObjFromObjGivenPar(sj, 0, sj->umin + dj / 2.0, sj->umin + dj / 3.0));
    if (!b || KernelFailed()) return;
    Bspline* pair[2] = {a.get(), b.get()};
    int ends[2] = {OnSurface(a.get()) ? 1 : 0, OnSurface(b.get()) ? 1 : 0};
    double spans[2] = {1.4, 1.4};
    int modes[2] = {0, 0};
    Owned<Bspline, FreeBspline> loft(FeatureMatchedLoft(pair, 2, nullptr, 0, 0.0, 3, ends, spans,
                                                        nullptr, 0.0, 0.0, -1, modes));
    if (!loft || KernelFailed()) {
      // A refused loft has no status of its own: the caller tests the error state.
      if (!KernelFailed()) SetKernelError(-2);
      return;
    }
    const double u = loft->umin, v = 0.5 * (loft->vmin + loft->vmax);
    double out[3][3];
    const int flags[3] = {1, 1, 1};
    Eval3DPointOnSurfArrayM(loft.get(), u, v, flags, out);
    double N[3];
    // Su x Sv goes with the square of the size and never vanishes: made unit by its own length.
    ComputeSurfaceNormal(loft.get(), u, v, out[1], out[2], N);
    const double nn = VecSize3(N);
    for (double& c : N) c /= nn;
    for (int c = 0; c < 3; ++c) sum[c] += out[0][c], nsum[c] += N[c];
  }
  for (int c = 0; c < 3; ++c) centre[c] = sum[c] / n;
  // Normals that cancel leave the plane's normal zero: the mid curves then arrive at the centre
  // with vanishing end tangents.
  NormalizeVector(nsum, 3, kUnitTol);
  GetPlnFromPtAndNorm(centre, nsum, plane);
}

namespace {

// GetTanDirFromMidPnt; *reach receives the length dir would have were it unit in the plane of
// the owner, |N|^2 |centre - p| (|centre - p| for a 3D side), the scale of its floor.
void TanDirFromMidPnt(Bspline* side, const double centre[3], const double p[3], double t,
                      double dir[3], double* reach) {
  double D[3];
  Sub(centre, p, D);
  *reach = VecSize3(D);
  if (!OnSurface(side)) {
    for (int k = 0; k < 3; ++k) dir[k] = D[k];
    return;
  }
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, side, t, 0, uv);
  double out[3][3];
  const int du[2] = {1, 0}, dv[2] = {0, 1};
  EvalPointOnGeometryM(side->owner, uv[0], uv[1], du, dv, 2, 0, out);
  double N[3];
  ComputeSurfaceNormal(side->owner, uv[0], uv[1], out[0], out[1], N);
  InPlane(D, N, dir);
  *reach *= Dot(N, N);
}

}  // namespace

void GetTanDirFromMidPnt(Bspline* side, const double centre[3], const double p[3], double t,
                         double dir[3]) {
  double reach;
  TanDirFromMidPnt(side, centre, p, t, dir, &reach);
}

void GetTanDirFromCenter(const double normal[3], const double centre[3], const double p[3],
                         double dir[3]) {
  double D[3];
  Sub(p, centre, D);
  InPlane(D, normal, dir);
}

Bspline* ConstructCubicBezeir(const double p0[3], const double p1[3], const double p2[3],
                              const double p3[3]) {
  Bspline* c = MallocCurveBspline(3, 3, 4);
  if (!c) return nullptr;
  for (int i = 0; i < 8; ++i) c->knotsU[i] = i < 4 ? 0.0 : 1.0;
  SetDomainFromKnots(c, 0);
  const double* P[4] = {p0, p1, p2, p3};
  for (int i = 0; i < 4; ++i) c->X[0][i] = P[i][0], c->Y[0][i] = P[i][1], c->Z[0][i] = P[i][2];
  return c;
}

namespace {

// The mid curve from side(t) to the centre: legs of a third of the straight distance along the
// unit start and end directions.
Bspline* MidCurveAt(Bspline* side, double t, const double centre[3], const double plane[4]) {
  double P0[3], P1[3], P2[3], T1[3], T2[3];
  EvalCrvOnSrfArray(nullptr, side, t, 0, P0);
  const double h = std::hypot(P0[0] - centre[0], P0[1] - centre[1], P0[2] - centre[2]) / 3.0;
  double reach;
  TanDirFromMidPnt(side, centre, P0, t, T1, &reach);
  NormalizeVector(T1, 3, kUnitTol * reach);
  GetTanDirFromCenter(plane, centre, P0, T2);
  NormalizeVector(T2, 3, kUnitTol * 3 * h * Dot(plane, plane));
  for (int k = 0; k < 3; ++k) P1[k] = P0[k] + h * T1[k], P2[k] = centre[k] + h * T2[k];
  return ConstructCubicBezeir(P0, P1, P2, centre);
}

}  // namespace

Bspline** MakeMidCurvesNew(Bspline** sides, int n, double t, const double centre[3],
                           const double plane[4]) {
  OwnedArray<Bspline, FreeBspline> mids;
  {
    UntrackedScope theirs;  // the array is the caller's
    mids = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  }
  if (!mids) return nullptr;
  for (int i = 0; i < n; ++i) {
    Bspline* s = sides[i];
    mids[i] = MidCurveAt(s, s->umin + (s->umax - s->umin) * t, centre, plane);
    if (!mids[i]) return nullptr;
  }
  return mids.release();
}

int GetAllMidCurves(Bspline** sides, int n, const double centre[3], const double plane[4],
                    Bspline** out) {
  if (!RecordArraySound(sides, n)) return 0;
  int count = 0;
  for (int s = 0; s < n; ++s) {
    const Bspline* side = sides[s];
    const double e = 1e-6 * (side->umax - side->umin);
    const int p = side->degreeU;
    double prev = side->umin;
    // The interior knots, then the end knot.
    for (int k = 0; k <= side->interiorU; ++k) {
      const double t = k < side->interiorU ? side->knotsU[p + 1 + k] : side->umax;
      // The end of the last side is the start of side 0: the loop closes without a curve there.
      if (s == n - 1 && k == side->interiorU) return count;
      if (k > 0 && t - prev < e) continue;
      out[count] = MidCurveAt(sides[s], t, centre, plane);
      if (!out[count]) {
        for (int i = 0; i < count; ++i) {
          FreeBspline(out[i]);
          out[i] = nullptr;
        }
        return 0;
      }
      ++count;
      prev = t;
    }
  }
  return count;
}

// ---- Half-side position and tangent curves ------------------------------------------------------

namespace {

// Samples of a side's length where only its scale is wanted.
constexpr int kLengthSamples = 200;

void Pt(const Bspline* c, int j, double p[3]) { p[0] = c->X[0][j], p[1] = c->Y[0][j], p[2] = c->Z[0][j]; }
void SetPt(Bspline* c, int j, const double p[3]) { c->X[0][j] = p[0], c->Y[0][j] = p[1], c->Z[0][j] = p[2]; }
double Len(const double a[3]) { return std::hypot(a[0], a[1], a[2]); }

// Frees the curves of an array of count and nulls the entries (the array stays).
void ClearCurves(Bspline** arr, int count) {
  for (int i = 0; i < count; ++i) {
    if (arr[i]) FreeBspline(arr[i]);
    arr[i] = nullptr;
  }
}

// The tangent curve of one half: the cross derivative of the side's owner over the half's range,
// guided between the half's two neighbours, on the half's knots.
Bspline* HalfTangent(Bspline* half, Bspline* cos, Bspline* sideA, Bspline* sideB, int iso,
                     double tol) {
  Owned<Bspline, FreeBspline> dir(GetDirCurve(half, sideA, sideB));
  if (!dir || KernelFailed()) return nullptr;
  Owned<Bspline, FreeBspline> piece(ExtractObjFromObjGivenPar(cos, 0, half->umin, half->umax));
  if (!piece || KernelFailed()) return nullptr;
  Bspline* curve = piece.get();
  Bspline* guide = dir.get();
  Bspline** d = CreateDerivativeCurves(&curve, &guide, nullptr, nullptr, 0, tol, -1, 1, 1, iso,
                                       half->knotsU, NumKnotsU(half), half->degreeU);
  if (!d) return nullptr;
  Bspline* tan = d[0];
  Free(d);
  return tan;
}

// The set of facing halves across mid curve i + 1 with their tangent curves; its size.
int FacingSet(Bspline** sidePos, Bspline** sideTan, int n, int i, Bspline* set[4], int has[2]) {
  const int a = 2 * i + 1, b = (2 * i + 4) % (2 * n);
  int k = 0;
  set[k++] = sidePos[a];
  if ((has[0] = sideTan[a] != nullptr)) set[k++] = sideTan[a];
  set[k++] = sidePos[b];
  if ((has[1] = sideTan[b] != nullptr)) set[k++] = sideTan[b];
  return k;
}

// The reference points of side i: control point 1 of the previous side's second half (side 0
// takes its own first half's: the index is held at 0, not wrapped) and of the next side's first
// half.
void SideReferencePoints(Bspline** sidePos, int n, int i, double pts[6]) {
  Pt(sidePos[i == 0 ? 0 : 2 * i - 1], 1, pts);
  Pt(sidePos[(2 * i + 2) % (2 * n)], 1, pts + 3);
}

}  // namespace

void GetSidePosAndTanCurves(Bspline** posSides, Bspline** cosSides, Bspline** midPos,
                            int* isoFlags, double tol, int* sideCont, int n, Bspline** sidePos,
                            Bspline** sideTan) {
  if (!RecordArraySound(posSides, n) || (cosSides && !RecordArraySound(cosSides, n)) ||
      (midPos && !RecordArraySound(midPos, n)))
    return;
  // The entries this call writes start empty, so that a failure frees only what it made (the
  // caller's array may hold anything there).
  for (int i = 0; i < n; ++i) {
    sidePos[2 * i] = sidePos[2 * i + 1] = nullptr;
    if (sideCont && sideCont[i] >= 1) sideTan[2 * i] = sideTan[2 * i + 1] = nullptr;
  }
  for (int i = 0; i < n; ++i) {
    Bspline* s = posSides[i];
    const double tm = s->umin + (s->umax - s->umin) * 0.5;
    sidePos[2 * i] = ExtractObjFromObjGivenPar(s, 0, s->umin, tm);
    if (sidePos[2 * i]) sidePos[2 * i + 1] = ExtractObjFromObjGivenPar(s, 0, tm, s->umax);
    if (!sidePos[2 * i] || !sidePos[2 * i + 1] || KernelFailed()) {
      ClearCurves(sidePos, 2 * n);
      return;
    }
  }
  for (int i = 0; i < n; ++i) {
    if (!sideCont || sideCont[i] < 1) continue;
    const int iso = isoFlags ? isoFlags[i] : -1;
    sideTan[2 * i] = HalfTangent(sidePos[2 * i], cosSides[i], sidePos[i == 0 ? 2 * n - 1 : 2 * i - 1],
                                 midPos[i], iso, tol);
    if (sideTan[2 * i] && !KernelFailed())
      sideTan[2 * i + 1] = HalfTangent(sidePos[2 * i + 1], cosSides[i], midPos[i],
                                       sidePos[(2 * i + 2) % (2 * n)], iso, tol);
    if (!sideTan[2 * i] || !sideTan[2 * i + 1] || KernelFailed()) {
      if (!KernelFailed()) SetKernelError(-2);
      ClearCurves(sidePos, 2 * n);
      ClearCurves(sideTan, 2 * n);
      return;
    }
  }
  ReverseNI1Curves(sidePos, sideTan, n);
}

void ReverseNI1Curves(Bspline** sidePos, Bspline** sideTan, int n) {
  for (int i = 0; i < n; ++i) {
    reverseBspline(sidePos[2 * i + 1]);
    if (sideTan[2 * i + 1]) reverseBspline(sideTan[2 * i + 1]);
  }
}

void MakeSideCrvsDegreeCompatible(Bspline** sidePos, Bspline** sideTan, int n) {
  for (int i = 0; i < n && !KernelFailed(); ++i) {
    Bspline* set[4];
    int has[2];
    EquateDegOfObjSet(set, nullptr, FacingSet(sidePos, sideTan, n, i, set, has));
  }
}

void MakeSideCrvsKnotCompatible(Bspline** sidePos, Bspline** sideTan, int n) {
  for (int i = 0; i < n && !KernelFailed(); ++i) {
    Bspline* set[4];
    int has[2];
    MakeObjSetCompatible(set, nullptr, FacingSet(sidePos, sideTan, n, i, set, has), 0);
  }
}

void PutSideTanVecToTanCurves(Bspline** sidePos, Bspline** sideTan, int n, double* scratch) {
  if (!Curves3Sound(sidePos, 2 * n, 2, false) || !RecordArraySound(sideTan, 2 * n)) return;
  for (int i = 0; i < n; ++i) {
    if (!sideTan[2 * i] || !sideTan[2 * i + 1]) continue;
    double* pts = scratch + 6 * i;
    SideReferencePoints(sidePos, n, i, pts);
    GetSideScaledDerivCntrl(sideTan[2 * i], sideTan[2 * i + 1], sidePos[2 * i], sidePos[2 * i + 1],
                            pts, 1.0, 0);
  }
}

void GetSideScaledDerivCntrl(Bspline* tan0, Bspline* tan1, Bspline* pos0, Bspline* pos1,
                             const double pts[6], double s, int vary) {
  if (!RecordsSound({tan0, tan1, pos0, pos1})) return;
  if (tan0->dimension == 2 || tan1->dimension == 2 || pos0->dimension == 2 ||
      pos1->dimension == 2)
    return;
  Bspline* const four[4] = {tan0, tan1, pos0, pos1};
  if (!Curves3Sound(four, 4, 1, false) || !CoversNet(pos0, tan0) || !CoversNet(pos1, tan1)) return;
  // The ratio of each half's corner leg (to the neighbour's second control point) to its cross
  // derivative at the corner.
  double P[3], D[3], leg[3];
  Pt(pos0, 0, P);
  Pt(tan0, 0, D);
  Sub(P, pts, leg);
  const double m0 = Len(leg) / Len(D);
  Pt(pos1, 0, P);
  Pt(tan1, 0, D);
  Sub(P, pts + 3, leg);
  const double m1 = Len(leg) / Len(D);
  const double mean = (m0 + m1) / 2;
  const bool uniform = vary == 0 || std::fabs(1 - mean / m0) < 0.01;
  Bspline* tans[2] = {tan0, tan1};
  Bspline* poss[2] = {pos0, pos1};
  const double ms[2] = {m0, m1};
  for (int h = 0; h < 2; ++h) {
    const int N = NumCtrlU(tans[h]);
    const double off = std::fabs(ms[h] - mean);
    const double step = N > 1 ? off / (N - 1) : 0.0;
    for (int j = 0; j < N; ++j) {
      // From the half's own ratio at its corner to the mean at M_i.
      const double f = uniform ? mean : (mean <= ms[h] ? mean + (off - j * step) : mean - (off - j * step));
      Pt(poss[h], j, P);
      Pt(tans[h], j, D);
      for (int k = 0; k < 3; ++k) P[k] += s * f * D[k];
      SetPt(tans[h], j, P);
    }
  }
}

void CleanSideCrvs(Bspline** sidePos, Bspline** sideTan, int n, double tol, double angle) {
  if (!RecordArraySound(sidePos, 2 * n) || !RecordArraySound(sideTan, 2 * n)) return;
  for (int i = 0; i < n; ++i) {
    Bspline* set[4];
    int has[2];
    const int size = FacingSet(sidePos, sideTan, n, i, set, has);
    const Bspline* first = sidePos[2 * i + 1];
    if (first->interiorU < 1) continue;
    TrackingScope scope;
    double* cand = MallocArray<double>(first->interiorU);
    if (!cand) return;
    for (int k = 0; k < first->interiorU; ++k) cand[k] = first->knotsU[first->degreeU + 1 + k];
    if (CleanLoftCurves(set, cand, first->interiorU, size, has, tol, angle) != 0) return;
  }
}

void RescaleSideTanCurves(Bspline** sidePos, Bspline** sideTan, int n) {
  if (!Curves3Sound(sidePos, 2 * n, 2, false) || !Curves3Sound(sideTan, 2 * n, 1, true)) return;
  for (int h = 0; h < 2 * n; ++h)
    if (!CoversNet(sidePos[h], sideTan[h])) return;
  for (int i = 0; i < n; ++i) {
    if (!sideTan[2 * i] || !sideTan[2 * i + 1]) continue;
    double pts[6];
    SideReferencePoints(sidePos, n, i, pts);
    for (int h = 2 * i; h <= 2 * i + 1; ++h)
      for (int j = 0; j < NumCtrlU(sideTan[h]); ++j) {
        double P[3], T[3];
        Pt(sidePos[h], j, P);
        Pt(sideTan[h], j, T);
        Sub(T, P, T);
        SetPt(sideTan[h], j, T);
      }
    GetSideScaledDerivCntrl(sideTan[2 * i], sideTan[2 * i + 1], sidePos[2 * i], sidePos[2 * i + 1],
                            pts, 1.0, 1);
  }
}

namespace {

// Control point j of a and control point k of b both set to their average.
void AverageCtrl(Bspline* a, int j, Bspline* b, int k) {
  double p[3], q[3];
  Pt(a, j, p);
  Pt(b, k, q);
  for (int c = 0; c < 3; ++c) p[c] = 0.5 * (p[c] + q[c]);
  SetPt(a, j, p);
  SetPt(b, k, p);
}

}  // namespace

void TwistCompatibleAtCornerJoints(Bspline** sideTan, int n) {
  if (!Curves3Sound(sideTan, 2 * n, 2, true)) return;
  for (int i = 0; i < n; ++i) {
    Bspline* a = sideTan[2 * i + 1];
    Bspline* b = sideTan[(2 * i + 2) % (2 * n)];
    if (a && b) AverageCtrl(a, 1, b, 1);
  }
}

// ---- Mid tangent curves, centre twist and tangent-plane condition ------------------------------

namespace {

// Legs whose cosine with each other (or a leg's length against the legs it is compared with)
// is below this share carry no ratio.
constexpr double kHandleTol = 1e-10;

// Fractions of the parameter range taken by the first and the last knot span (1 without
// interior knots).
double FirstSpanFraction(const Bspline* c) {
  return (c->knotsU[c->degreeU + 1] - c->umin) / (c->umax - c->umin);
}
double LastSpanFraction(const Bspline* c) {
  return (c->umax - c->knotsU[c->degreeU + c->interiorU]) / (c->umax - c->umin);
}

// The handle ratio: the scalar c with w = c v, in least squares (w . v / v . v), so that it does
// not depend on how the hole is turned; false when v or w has no length or w is (nearly)
// perpendicular to v, where no ratio is usable.
bool HandleRatio(const double v[3], const double w[3], double* ratio) {
  const double vw = Dot(v, w), lv = Len(v), lw = Len(w);
  if (!(std::fabs(vw) > kHandleTol * lv * lw)) return false;
  *ratio = vw / (lv * lv);
  return true;
}

// The point of a half next to M_i stretched over the half's last span: P_L + (P_L-1 - P_L) / r.
void Handle(const Bspline* half, double E[3]) {
  const int L = NumCtrlU(half) - 1;
  const double r = LastSpanFraction(half);
  double P[3], Q[3];
  Pt(half, L, P);
  Pt(half, L - 1, Q);
  for (int k = 0; k < 3; ++k) E[k] = P[k] + (Q[k] - P[k]) / r;
}

}  // namespace

void MidCurveCurvatureCorrection(Bspline** midPos, Bspline** sidePos, Bspline** sideTan, int n) {
  if (!Curves3Sound(midPos, n, 2, false) || !RecordArraySound(sidePos, 2 * n) ||
      !Curves3Sound(sideTan, 2 * n, 1, true))
    return;
  for (int i = 0; i < n; ++i) {
    if (!sideTan[2 * i]) continue;
    double Q[3], P0[3], P1[3];
    Pt(sideTan[2 * i], NumCtrlU(sideTan[2 * i]) - 1, Q);
    const Bspline* half = sidePos[(2 * i + 2) % (2 * n)];
    if (half->interiorU > 0) {
      const double r = FirstSpanFraction(half);
      Pt(midPos[i], 0, P0);
      for (int k = 0; k < 3; ++k) P1[k] = P0[k] + (Q[k] - P0[k]) / r;
      SetPt(midPos[i], 1, P1);
    } else {
      SetPt(midPos[i], 1, Q);
    }
  }
}

void GetDesignParams(Bspline** midPos, Bspline** sidePos, int n, double* a, double* b, double* c,
                     double* d, double** handles) {
  *handles = nullptr;
  if (!Curves3Sound(midPos, n, 2, false) || !Curves3Sound(sidePos, 2 * n, 2, false)) return;
  double* E = MallocArray<double>(6 * n);
  if (!E) return;
  for (int i = 0; i < n; ++i) {
    a[i] = 0.0, d[i] = 1.0;
    Handle(sidePos[2 * i], E + 6 * i);
    Handle(sidePos[2 * i + 1], E + 6 * i + 3);
  }
  for (int i = 0; i < n; ++i) {
    double M[3], v[3], w[3];
    Pt(midPos[i], 0, M);
    Sub(M, E + 6 * i + 3, v);
    Sub(E + 6 * i, M, w);
    // A side whose handles give no usable ratio is taken as evenly split (the hole filler needs
    // a finite ratio).
    double ratio = 1.0;
    if (!HandleRatio(v, w, &ratio)) ratio = 1.0;
    c[i] = d[i] * ratio;
  }
  for (int i = 0; i < n; ++i) {
    const Bspline* m = midPos[i];
    const Bspline* prev = midPos[(i + n - 1) % n];
    const Bspline* next = midPos[(i + 1) % n];
    double PL[3], PL1[3], Rp[3], Rn[3], u[3];
    Pt(m, NumCtrlU(m) - 1, PL);
    Pt(m, NumCtrlU(m) - 2, PL1);
    Pt(prev, NumCtrlU(prev) - 2, Rp);
    Pt(next, NumCtrlU(next) - 2, Rn);
    Sub(PL1, PL, u);
    // b u = (Rp - PL) d - (PL - Rn) c in least squares, whatever the turn of the hole. A mid
    // curve arriving with no end leg (a zero centre normal) gives no b: 0 keeps it finite.
    double r[3];
    for (int q = 0; q < 3; ++q) r[q] = (Rp[q] - PL[q]) * d[i] - (PL[q] - Rn[q]) * c[i];
    const double uu = Dot(u, u);
    b[i] = uu > 0.0 ? Dot(r, u) / uu : 0.0;
  }
  *handles = E;
}

void FillMidTanCurves(Bspline** midPos, int n, double* a, double* b, double* c, double* d,
                      const double* handles, Bspline** midTan) {
  // The tangent curves are the cubic Bezier curves GetMidTanCurves makes: four points written.
  if (!Curves3Sound(midPos, n, 3, false) || !Curves3Sound(midTan, 2 * n, 4, false)) return;
  for (int j = 0; j < 2 * n; ++j) {
    const int i = j / 2;
    const Bspline* nb = midPos[j % 2 == 0 ? (i + n - 1) % n : (i + 1) % n];
    double T0[3], T1[3], T3[3];
    for (int k = 0; k < 3; ++k) T0[k] = handles[3 * j + k];
    Pt(nb, NumCtrlU(nb) - 2, T3);
    for (int k = 0; k < 3; ++k) T1[k] = 0.5 * (T0[k] + T3[k]);
    SetPt(midTan[j], 0, T0);
    SetPt(midTan[j], 1, T1);
    SetPt(midTan[j], 3, T3);
  }
  GetCenterTwistPoints(midPos, n, a, b, c, d, midTan);
}

void GetCenterTwistPoints(Bspline** midPos, int n, double* a, double* b, double* c, double* d,
                          Bspline** midTan) {
  if (!Curves3Sound(midPos, n, 3, false) || !Curves3Sound(midTan, 2 * n, 2, false)) return;
  for (int i = 0; i < n; ++i)
    if (midPos[i]->degreeU < 1) {  // the rows divide by the degree
      SetKernelError(-2);
      return;
    }
  TrackingScope scope;
  double* rhs = MallocArray<double>(3 * n);
  double* x = MallocArray<double>(3 * n);
  Owned<double*, matrix_free_ff> A(allocate_matrix_ff(n, n));
  if (!rhs || !x || !A) return;
  // Row r belongs to mid curve 0 for r = 0 and to mid curve n - r otherwise.
  for (int r = 0; r < n; ++r) {
    for (int col = 0; col < n; ++col) A[r][col] = 0.0;
    A[r][r] = 1.0;
    if (r == 0)
      A[0][n - 1] = c[0];
    else
      A[r][r - 1] = c[n - r];
    const int k = r == 0 ? 0 : n - r;
    const Bspline* m = midPos[k];
    const int p = m->degreeU, L = NumCtrlU(m) - 1;
    double PL[3], PL1[3], PL2[3];
    Pt(m, L, PL);
    Pt(m, L - 1, PL1);
    Pt(m, L - 2, PL2);
    for (int q = 0; q < 3; ++q)
      rhs[q * n + r] = ((d[k] + c[k] + a[k]) * PL1[q] - a[k] * PL[q]) / p +
                       (b[k] * PL2[q] + (d[k] - b[k] + c[k]) * PL1[q]) * (p - 1) / p;
  }
  for (int q = 0; q < 3; ++q)
    if (SolveLinearSystem_ff(A.get(), n, rhs + q * n, x + q * n) != 0) {
      SetKernelError(-2);
      return;
    }
  for (int r = 0; r < n; ++r) {
    const double X[3] = {x[r], x[n + r], x[2 * n + r]};
    const int k = n - r;
    Bspline* t0 = midTan[r == 0 ? 0 : 2 * k];
    Bspline* t1 = midTan[r == 0 ? 2 * n - 1 : 2 * k - 1];
    SetPt(t0, NumCtrlU(t0) - 2, X);
    SetPt(t1, NumCtrlU(t1) - 2, X);
  }
}

void ForceTangnetPlaneCondition(Bspline** midPos, int n, double* a, double* b, double* c,
                                double* d, Bspline** midTan) {
  for (int i = 0; i < n; ++i) {
    const Bspline* m = midPos[i];
    const int p = m->degreeU;
    double P0[3], P1[3], P2[3], Te[3], To[3];
    Pt(m, 0, P0);
    Pt(m, 1, P1);
    Pt(m, 2, P2);
    Pt(midTan[2 * i], 1, Te);
    Pt(midTan[2 * i + 1], 1, To);
    for (int k = 0; k < 3; ++k) {
      const double Q = ((d[i] - b[i] + c[i]) * P1[k] + b[i] * P0[k]) / p +
                       ((d[i] + c[i] + a[i]) * P1[k] - a[i] * P2[k]) * (p - 1) / p;
      const double rho = Q - Te[k] - c[i] * To[k];
      // With c = 0 the other curve does not enter the condition: Te takes the whole residual.
      if (c[i] == 0.0) {
        Te[k] += rho;
      } else {
        Te[k] += rho / 2;
        To[k] += rho / (2 * c[i]);
      }
    }
    SetPt(midTan[2 * i], 1, Te);
    SetPt(midTan[2 * i + 1], 1, To);
  }
}

void ScaleMidTanCurves(Bspline** sidePos, Bspline** midPos, int n, Bspline** midTan) {
  if (!RecordArraySound(sidePos, 2 * n) || !Curves3Sound(midPos, n, 1, false) ||
      !Curves3Sound(midTan, 2 * n, 1, false))
    return;
  for (int j = 0; j < 2 * n; ++j)
    if (!sidePos[j] || !CoversNet(midPos[j / 2], midTan[j])) {
      SetKernelError(-2);
      return;
    }
  for (int j = 0; j < 2 * n; ++j) {
    const double r = LastSpanFraction(sidePos[j]);
    const Bspline* m = midPos[j / 2];
    for (int q = 0; q < NumCtrlU(midTan[j]); ++q) {
      double P[3], T[3];
      Pt(m, q, P);
      Pt(midTan[j], q, T);
      for (int k = 0; k < 3; ++k) T[k] = P[k] + r * (T[k] - P[k]);
      SetPt(midTan[j], q, T);
    }
  }
}

void GetMidTanCurves(Bspline** midPos, Bspline** sidePos, int* centreCont, int n,
                     Bspline** midTan) {
  if (!centreCont || centreCont[0] == 0) return;
  TrackingScope scope;
  double* prm = MallocArray<double>(4 * n);
  if (!prm) return;
  double *a = prm, *b = prm + n, *c = prm + 2 * n, *d = prm + 3 * n;
  const double zero[3] = {0, 0, 0};
  for (int i = 0; i < n; ++i) {
    midTan[2 * i] = ConstructCubicBezeir(zero, zero, zero, zero);
    if (midTan[2 * i]) midTan[2 * i + 1] = CopyBsplineStruct(midTan[2 * i]);
    if (!midTan[2 * i] || !midTan[2 * i + 1]) {
      ClearCurves(midTan, 2 * n);
      return;
    }
  }
  double* handles = nullptr;
  GetDesignParams(midPos, sidePos, n, a, b, c, d, &handles);
  if (!handles || KernelFailed()) {
    ClearCurves(midTan, 2 * n);
    return;
  }
  FillMidTanCurves(midPos, n, a, b, c, d, handles, midTan);
  ForceTangnetPlaneCondition(midPos, n, a, b, c, d, midTan);
  ScaleMidTanCurves(sidePos, midPos, n, midTan);
}

void MakeMidAndSideDegreeCompatible(Bspline** midPos, Bspline** midTan, Bspline** sidePos,
                                    Bspline** sideTan, int n) {
  for (int i = 0; i < n && !KernelFailed(); ++i) {
    const int a = 2 * i + 1, b = (2 * i + 4) % (2 * n);
    Bspline* set[7];
    int k = 0;
    set[k++] = midPos[(i + 1) % n];
    set[k++] = sidePos[a];
    set[k++] = sidePos[b];
    Bspline* maybe[4] = {sideTan[a], sideTan[b], midTan[(2 * i + 2) % (2 * n)],
                         midTan[(2 * i + 3) % (2 * n)]};
    for (Bspline* m : maybe)
      if (m) set[k++] = m;
    EquateDegOfObjSet(set, nullptr, k);
  }
}

void MakeMidAndSideKnotCompatible(Bspline** midPos, Bspline** midTan, Bspline** sidePos, int n) {
  for (int i = 0; i < n && !KernelFailed(); ++i) {
    Bspline* set[4];
    int k = 0;
    set[k++] = midPos[(i + 1) % n];
    set[k++] = sidePos[2 * i + 1];
    Bspline* maybe[2] = {midTan[(2 * i + 2) % (2 * n)], midTan[(2 * i + 3) % (2 * n)]};
    for (Bspline* m : maybe)
      if (m) set[k++] = m;
    MakeObjSetCompatible(set, nullptr, k, 0);
  }
}

void TwistCompatibleAtCenterJoints(Bspline** midTan, int n) {
  if (!Curves3Sound(midTan, 2 * n, 2, true)) return;
  for (int i = 0; i < n; ++i) {
    Bspline* a = midTan[2 * i + 1];
    Bspline* b = midTan[(2 * i + 2) % (2 * n)];
    if (a && b) AverageCtrl(a, NumCtrlU(a) - 2, b, NumCtrlU(b) - 2);
  }
}

void TwistCompatibleAtMiddleJoints(Bspline** sideTan, Bspline** midTan, int n) {
  if (!Curves3Sound(sideTan, 2 * n, 2, true) || !Curves3Sound(midTan, 2 * n, 2, true)) return;
  for (int j = 0; j < 2 * n; ++j)
    if (sideTan[j] && midTan[j]) AverageCtrl(sideTan[j], NumCtrlU(sideTan[j]) - 2, midTan[j], 1);
}

// ---- N-sided hole filling -----------------------------------------------------------------------

int MallocBlendArrays(BlendArrays* arr, int n) {
  *arr = BlendArrays{};
  TrackingScope scope;
  Bspline** midPos = CallocArray<Bspline*>(n);
  Bspline** midTan = CallocArray<Bspline*>(2 * n);
  Bspline** sidePos = CallocArray<Bspline*>(2 * n);
  Bspline** sideTan = CallocArray<Bspline*>(2 * n);
  Bspline** boundaries = CallocArray<Bspline*>(4 * n);
  Bspline** derivatives = CallocArray<Bspline*>(4 * n);
  double* scratch = CallocArray<double>(6 * n);
  if (!midPos || !midTan || !sidePos || !sideTan || !boundaries || !derivatives || !scratch)
    return -2;
  scope.keep();
  *arr = BlendArrays{midPos, midTan, sidePos, sideTan, boundaries, derivatives, scratch};
  return 0;
}

void FreeBlendArrays(BlendArrays* arr, int n) {
  Bspline** lists[6] = {arr->midPos, arr->midTan, arr->sidePos, arr->sideTan, arr->boundaries,
                        arr->derivatives};
  const int counts[6] = {n, 2 * n, 2 * n, 2 * n, 4 * n, 4 * n};
  for (int l = 0; l < 6; ++l) {
    if (!lists[l]) continue;
    ClearCurves(lists[l], counts[l]);
    Free(lists[l]);
  }
  if (arr->scratch) Free(arr->scratch);
  *arr = BlendArrays{};
}

void GetMidPosCurves(Bspline** midCurves, int n, Bspline** midPos) {
  for (int i = 0; i < n; ++i)
    if (!(midPos[i] = CopyBsplineStruct(midCurves[i]))) {
      ClearCurves(midPos, n);
      return;
    }
}

void FillCurveArrays(BlendArrays* arr, int n) {
  Bspline** B = arr->boundaries;
  Bspline** D = arr->derivatives;
  // Every mid curve bounds two patches: patch i takes a copy, patch i - 1 the curve itself.
  for (int i = 0; i < n; ++i)
    if (!(B[4 * i] = CopyBsplineStruct(arr->midPos[i]))) return;
  auto move = [](Bspline*& from) {
    Bspline* c = from;
    from = nullptr;
    return c;
  };
  for (int i = 0; i < n; ++i) {
    const int m = 2 * n;
    B[4 * i + 1] = move(arr->midPos[(i + 1) % n]);
    B[4 * i + 2] = move(arr->sidePos[(2 * i + 2) % m]);
    B[4 * i + 3] = move(arr->sidePos[2 * i + 1]);
    D[4 * i] = move(arr->midTan[2 * i + 1]);
    D[4 * i + 1] = move(arr->midTan[(2 * i + 2) % m]);
    D[4 * i + 2] = move(arr->sideTan[(2 * i + 2) % m]);
    D[4 * i + 3] = move(arr->sideTan[2 * i + 1]);
  }
}

void ReverseUCurves(Bspline** boundaries, Bspline** derivatives, int n) {
  for (int i = 0; i < n; ++i)
    for (int e = 4 * i + 1; e < 4 * i + 4; e += 2) {
      reverseBspline(boundaries[e]);
      if (derivatives[e]) reverseBspline(derivatives[e]);
    }
}

void EquateRationalityOfBlendCurves(Bspline** boundaries, Bspline** derivatives, int n) {
  if (n < 1 || !Curves3Sound(boundaries, 4 * n, 1, false) || !derivatives ||
      !RecordArraySound(derivatives, 4 * n)) {
    SetKernelError(-2);
    return;
  }
  TrackingScope scope;
  Bspline** set = MallocArray<Bspline*>(8 * n);
  if (!set) return;
  int k = 0;
  for (int i = 0; i < 4 * n; ++i) set[k++] = boundaries[i];
  for (int i = 0; i < 4 * n; ++i)
    if (derivatives[i]) set[k++] = derivatives[i];
  EquateRationOfObjSet(set, k);
  if (KernelFailed()) return;
  for (int i = 0; i < k; ++i)
    if (ReparametrizeRationalCurve(set[i]) != 0) {
      SetKernelError(-2);
      return;
    }
}

void GetAllBlendCurves(Bspline** posSides, Bspline** cosSides, Bspline** midCurves, int* isoFlags,
                       int* sideCont, int* centreCont, int n, double tol, double angle,
                       Bspline*** boundaries, Bspline*** derivatives, int clean) {
  *boundaries = *derivatives = nullptr;
  BlendArrays arr;
  if (MallocBlendArrays(&arr, n) != 0) return;
  auto failed = [&] {
    if (!KernelFailed()) return false;
    FreeBlendArrays(&arr, n);
    return true;
  };
  GetMidPosCurves(midCurves, n, arr.midPos);
  if (failed()) return;
  GetSidePosAndTanCurves(posSides, cosSides, arr.midPos, isoFlags, tol, sideCont, n, arr.sidePos,
                         arr.sideTan);
  if (failed()) return;
  MakeSideCrvsDegreeCompatible(arr.sidePos, arr.sideTan, n);
  if (failed()) return;
  MakeSideCrvsKnotCompatible(arr.sidePos, arr.sideTan, n);
  if (failed()) return;
  PutSideTanVecToTanCurves(arr.sidePos, arr.sideTan, n, arr.scratch);
  if (clean) CleanSideCrvs(arr.sidePos, arr.sideTan, n, tol, angle);
  if (failed()) return;
  RescaleSideTanCurves(arr.sidePos, arr.sideTan, n);
  TwistCompatibleAtCornerJoints(arr.sideTan, n);
  MidCurveCurvatureCorrection(arr.midPos, arr.sidePos, arr.sideTan, n);
  GetMidTanCurves(arr.midPos, arr.sidePos, centreCont, n, arr.midTan);
  if (failed()) return;
  MakeMidAndSideDegreeCompatible(arr.midPos, arr.midTan, arr.sidePos, arr.sideTan, n);
  if (failed()) return;
  MakeMidAndSideKnotCompatible(arr.midPos, arr.midTan, arr.sidePos, n);
  if (failed()) return;
  TwistCompatibleAtCenterJoints(arr.midTan, n);
  TwistCompatibleAtMiddleJoints(arr.sideTan, arr.midTan, n);
  FillCurveArrays(&arr, n);
  if (failed()) return;
  ReverseUCurves(arr.boundaries, arr.derivatives, n);
  EquateRationalityOfBlendCurves(arr.boundaries, arr.derivatives, n);
  if (failed()) return;
  *boundaries = arr.boundaries;
  *derivatives = arr.derivatives;
  // The network now lives in the two output arrays: only the working blocks go.
  arr.boundaries = arr.derivatives = nullptr;
  FreeBlendArrays(&arr, n);
}

Bspline** BlendNHole(Bspline** boundaries, Bspline** derivatives, int n) {
  OwnedArray<Bspline, FreeBspline> patches;
  {
    UntrackedScope theirs;  // the array is the caller's
    patches = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  }
  if (!patches) return nullptr;
  Bspline* none[4] = {nullptr, nullptr, nullptr, nullptr};
  for (int i = 0; i < n; ++i) {
    patches[i] = LinearBlendSurface(boundaries + 4 * i, derivatives + 4 * i, none, 1);
    if (!patches[i]) return nullptr;
  }
  return patches.release();
}

Bspline* CreateBlendSurface1Proptnl(Bspline** curves, int n, int* orders, double* scales,
                                    double tol, double angle, int threeD, int reparamMode,
                                    int countA, int countB) {
  Bspline **pos = nullptr, **d1 = nullptr, **d2 = nullptr;
  Bspline* s = CreateBlendSurface1(curves, &pos, &d1, &d2, n, orders, scales, tol, angle, threeD,
                                   reparamMode, countA, countB);
  if (pos || d1 || d2) FreeDerivBsplineArrays(pos, d1, d2, n);
  if (!s) return nullptr;
  Bspline* pair[2] = {s, s};
  int dirs[2] = {1, 0};  // u takes the control net's speed of v
  MakeParOfTwoObjProptnl(pair, dirs, 0, 0);
  return s;
}

namespace {

// Refusals of the hole filler (error state untouched): n other than 3 and 5, a side value below
// 0, 2 or above 4, a centre value so, or centre values that differ.
bool HoleRequestsValid(int n, const int* sideCont, const int* centreCont) {
  if (n != 3 && n != 5) return false;
  auto bad = [](int v) { return v < 0 || v == 2 || v > 4; };
  for (int i = 0; i < n; ++i) {
    if (bad(sideCont[i]) || bad(centreCont[i])) return false;
    if (i < n - 1 && centreCont[i] != centreCont[i + 1]) return false;
  }
  return true;
}

// Iso flags, then the effective continuity: a curve on a surface keeps a tangent request only on
// an iso line of a non-rational owner of cross degree 2 or more (else 1); a 3D side asking 1 or 2
// gets 0.
void EffectiveContinuity(Bspline** sides, int n, const int* sideCont, int* flags) {
  for (int i = 0; i < n; ++i) {
    Bspline* s = sides[i];
    flags[i] = IsCurveAnIsoPar(s, 0);
    int c = sideCont[i];
    if (OnSurface(s)) {
      if (c > 1 && (GetCrossDegreeOfCurveOnSurf(s) < 2 || flags[i] == -1 || s->rational ||
                    s->owner->rational))
        c = 1;
    } else if (c == 1 || c == 2) {
      c = 0;
    }
    flags[n + i] = c;
  }
}

// The snipped loop of a hole: position curves, the implied-tangent replacements of 3D sides asking
// 4 (work[i], their continuity made 1; null elsewhere) and the curves on surfaces cut alike.
// False on failure (everything made freed, error state set).
bool SnipHoleLoop(Bspline** sides, int n, int* flags, double tol, int samples,
                  OwnedArray<Bspline, FreeBspline>* pos, OwnedArray<Bspline, FreeBspline>* cos,
                  Bspline** replaced) {
  TrackingScope scope;
  double *starts = nullptr, *ends = nullptr;
  Bspline** p = GetAllClockWiseSnippedPosCrvLoop(sides, n, flags, tol, samples, &starts, &ends);
  if (!p) {
    if (!KernelFailed()) SetKernelError(-2);
    return false;
  }
  pos->reset(p, n);
  Owned<double, Free> s0(starts), s1(ends);
  Bspline** work = MallocArray<Bspline*>(n);
  if (!work) return false;
  for (int i = 0; i < n; ++i) {
    work[i] = sides[i];
    replaced[i] = nullptr;
    if (sides[i]->dimension != 3 || flags[n + i] != 4) continue;
    // The strip leaves the side along the mean of its neighbours' end directions.
    double a[3], b[3], ua[3], ub[3];
    EvalCrvOnSrfArray(nullptr, p[(i + n - 1) % n], p[(i + n - 1) % n]->umax, 1, a);
    EvalCrvOnSrfArray(nullptr, p[(i + 1) % n], p[(i + 1) % n]->umin, 1, b);
    VecNormalize3(a, ua);
    VecNormalize3(b, ub);
    replaced[i] = CreateImpliedTangentBndryCrv(sides[i], (ub[0] - ua[0]) / 2, (ub[1] - ua[1]) / 2,
                                               (ub[2] - ua[2]) / 2);
    if (!replaced[i]) {
      if (!KernelFailed()) SetKernelError(-2);
      return false;
    }
    work[i] = replaced[i];
    flags[n + i] = 1;
  }
  Bspline** c = GetAllClockWiseSnippedCrvOnSrf(work, n, flags, starts, ends);
  if (!c) {
    if (!KernelFailed()) SetKernelError(-2);
    return false;
  }
  cos->reset(c, n);
  return true;
}

// An implied-tangent curve and the strip it lies on.
void FreeReplacement(Bspline* c) {
  if (!c) return;
  Bspline* strip = c->owner;
  FreeBspline(c);
  FreeBspline(strip);
}

}  // namespace

namespace {

// The steps of the fill on sides already checked, tol and angle already clamped.
Bspline** FillCheckedHole(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                          double angle, int samples) {
  int flags[10];
  Bspline* replaced[5] = {};
  EffectiveContinuity(sides, n, sideCont, flags);
  OwnedArray<Bspline, FreeBspline> pos, cos;
  Bspline** result = nullptr;
  if (SnipHoleLoop(sides, n, flags, tol, samples, &pos, &cos, replaced)) {
    double centre[3], plane[4];
    GetHoleCenterNew(cos.get(), n, centre, plane);
    OwnedArray<Bspline, FreeBspline> mids;
    if (!KernelFailed()) mids.reset(MakeMidCurvesNew(cos.get(), n, 0.5, centre, plane), n);
    Bspline **bnd = nullptr, **der = nullptr;
    if (mids)
      GetAllBlendCurves(pos.get(), cos.get(), mids.get(), flags, flags + n, centreCont, n, tol,
                        angle, &bnd, &der, 1);
    OwnedArray<Bspline, FreeBspline> b(bnd, 4 * n), d(der, 4 * n);
    if (bnd) result = BlendNHole(bnd, der, n);
  }
  // The curves cut from a replacement keep it as their owner: it goes after them.
  cos.reset();
  for (Bspline* r : replaced) FreeReplacement(r);
  return result;
}

}  // namespace

// The fill's directions, handle ratios and Newton steps are set for a hole of unit size: it is
// made on copies of the sides in the unit frame of the hole and mapped back, so that a hole
// gives the same patches at every size and anywhere in space.
Bspline** FillNSidedHole(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                         double angle, int samples) {
  if (!sides || !sideCont || !centreCont || !HoleRequestsValid(n, sideCont, centreCont))
    return nullptr;
  if (tol < 0) tol = 0;
  if (angle < 0 || angle > 90) angle = 0;
  for (int i = 0; i < n; ++i)
    if (!sides[i] || (sides[i]->dimension == 2 && !sides[i]->owner)) {
      SetKernelError(-2);
      return nullptr;
    }
  UnitFrame frame;
  if (!CurvesUnitFrame(sides, n, &frame))
    return FillCheckedHole(sides, n, sideCont, centreCont, tol, angle, samples);
  Bspline* work[5] = {};
  OwnedArray<Bspline, FreeBspline> owners(CallocArray<Bspline*>(n), n), loose(CallocArray<Bspline*>(n), n);
  if (!owners || !loose) return nullptr;
  if (!CurvesInUnitFrame(sides, n, frame, work, owners.get(), loose.get())) return nullptr;
  Bspline** result = FillCheckedHole(work, n, sideCont, centreCont, tol / frame.size, angle, samples);
  if (result)
    for (int i = 0; i < n; ++i) ObjectFromUnitFrame(result[i], frame);
  // Loose copies point at the owner copies: they go first.
  loose.reset();
  return result;
}

Bspline** FillNSidedHoleWCenter(Bspline** posSides, Bspline** cosSides, int n, double* centre,
                                double* plane, int* isoFlags, int* sideCont, int* centreCont,
                                double tol, double angle, int clean) {
  Bspline** result = nullptr;
  {
    OwnedArray<Bspline, FreeBspline> mids(MakeMidCurvesNew(cosSides, n, 0.5, centre, plane), n);
    Bspline **bnd = nullptr, **der = nullptr;
    if (mids)
      GetAllBlendCurves(posSides, cosSides, mids.get(), isoFlags, sideCont, centreCont, n, tol,
                        angle, &bnd, &der, clean);
    OwnedArray<Bspline, FreeBspline> b(bnd, 4 * n), d(der, 4 * n);
    if (bnd) result = BlendNHole(bnd, der, n);
  }
  if (!result) {
    // A failed second step consumes the first step's curves.
    OwnedArray<Bspline, FreeBspline> p(posSides, n), c(cosSides, n);
  }
  return result;
}

// ---- Cap boundaries: splitting, cross-boundary directions, three-way division -------------------

void GetKnotsOutOfTanTol(Bspline* obj, int dir, double t, double angle, double** knots,
                         int* count) {
  (void)dir;  // curves run in u; a surface records nothing
  *knots = nullptr;
  *count = 0;
  if (!RecordsSound({obj}) || obj->kind != 1 || obj->interiorU < 1) return;
  const int nCtrl = NumCtrlU(obj);
  int span = obj->degreeU;
  FindLowKnotIndex(obj->knotsU, obj->degreeU, t, &span, nCtrl);
  double* out = MallocArray<double>(obj->interiorU);
  if (!out) return;
  double ref[3];
  EvalCrvOnSrfArray(nullptr, obj, t, 1, ref);
  int k = 0;
  for (int idx = span + 1; idx <= nCtrl - 2; ++idx) {
    double D[3];
    EvalCrvOnSrfArray(nullptr, obj, obj->knotsU[idx], 1, D);
    if (AngleBetweenVectors(ref, D) >= angle) {
      out[k++] = obj->knotsU[idx];
      for (int c = 0; c < 3; ++c) ref[c] = D[c];
    }
  }
  if (k == 0) {
    Free(out);
    return;
  }
  *knots = out;
  *count = k;
}

void GetNewBndryArrays(Bspline** pos, Bspline** cos, int n, int* a, int* b, int* c,
                       Bspline*** newPos, Bspline*** newCos, int* newN, int** newA, int** newB,
                       int** newC) {
  *newPos = *newCos = nullptr;
  *newA = *newB = *newC = nullptr;
  *newN = 0;
  TrackingScope scope;
  double** knots = CallocArray<double*>(n);
  int* counts = CallocArray<int>(n);
  if (!knots || !counts) return;
  int total = n;
  for (int i = 0; i < n; ++i) {
    GetKnotsOutOfTanTol(pos[i], 0, pos[i]->umin, 90.0, &knots[i], &counts[i]);
    if (KernelFailed()) return;
    total += counts[i];
  }
  OwnedArray<Bspline, FreeBspline> P, C;
  int *A, *B, *Cv;
  {
    UntrackedScope theirs;  // the new arrays are the caller's
    P = OwnedArray<Bspline, FreeBspline>::Zeroed(total);
    C = OwnedArray<Bspline, FreeBspline>::Zeroed(total);
    A = MallocArray<int>(total), B = MallocArray<int>(total), Cv = MallocArray<int>(total);
  }
  Owned<int, Free> ownA(A), ownB(B), ownC(Cv);
  if (!P || !C || !A || !B || !Cv) return;
  for (int i = 0, w = 0; i < n; ++i) {
    const int k = counts[i];
    for (int j = 0; j <= k; ++j) A[w + j] = a[i], B[w + j] = b[i], Cv[w + j] = c[i];
    if (k == 0) {
      // One owner per record: an unsplit side is copied.
      P[w] = CopyBsplineStruct(pos[i]);
      C[w] = CopyBsplineStruct(cos[i]);
    } else if (SplitObjectToNObjects(pos[i], k, knots[i], 0, P.get() + w) != 0 ||
               SplitObjectToNObjects(cos[i], k, knots[i], 0, C.get() + w) != 0) {
      if (!KernelFailed()) SetKernelError(-2);
      return;
    }
    for (int j = 0; j <= k; ++j)
      if (!P[w + j] || !C[w + j]) {
        if (!KernelFailed()) SetKernelError(-2);
        return;
      }
    w += k + 1;
  }
  *newPos = P.release();
  *newCos = C.release();
  *newA = ownA.release(), *newB = ownB.release(), *newC = ownC.release();
  *newN = total;
}

void GetUnitCrossBoundaryDeriv(Bspline* cos, double t, double dir[3]) {
  dir[0] = dir[1] = dir[2] = 0.0;
  if (!OnSurface(cos)) return;
  double reach = 0.0;
  // C = N x T at parameter s, and whether it points into the owner's trimmed domain.
  auto cross = [&](double s, double C[3], bool testIn) {
    double uv[2], duv[2];
    Eval2DPointOnCurve2Array(nullptr, cos, s, 0, uv);
    Eval2DPointOnCurve2Array(nullptr, cos, s, 1, duv);
    double out[3][3];
    const int du[2] = {1, 0}, dv[2] = {0, 1};
    EvalPointOnGeometryM(cos->owner, uv[0], uv[1], du, dv, 2, 0, out);
    double T[3], N[3];
    for (int k = 0; k < 3; ++k) T[k] = out[0][k] * duv[0] + out[1][k] * duv[1];
    ComputeSurfaceNormal(cos->owner, uv[0], uv[1], out[0], out[1], N);
    C[0] = N[1] * T[2] - N[2] * T[1];
    C[1] = N[2] * T[0] - N[0] * T[2];
    C[2] = N[0] * T[1] - N[1] * T[0];
    // |N x T| goes with the cube of the size: the floor is a share of |N| |T|.
    reach = VecSize3(N) * VecSize3(T);
    return testIn && CheckIfVectorGoesIn(cos, uv[0], uv[1], C, out[0], out[1], N) == 1;
  };
  double Cm[3];
  // The side is decided once, at the middle, so every point of the curve points the same way.
  const bool in = cross(0.5 * (cos->umin + cos->umax), Cm, true);
  cross(t, dir, false);
  if (in)
    for (int k = 0; k < 3; ++k) dir[k] = -dir[k];
  if (reach > 0.0) NormalizeVector(dir, 3, kUnitTol * reach);
}

namespace {

// GetUnitCrossBoundaryBspl with a line of the given length: made that long from the start, as a
// line one unit long added to the coordinates of a large part far from the origin would keep
// few digits of its direction.
Bspline* CrossBoundaryLine(Bspline* cos, double t, Bspline* neighbour, double tn, double length) {
  if (!OnSurface(cos)) {
    SetKernelError(-2);
    return nullptr;
  }
  double P[3], D[3], Q[3];
  EvalCrvOnSrfArray(nullptr, cos, t, 0, P);
  GetUnitCrossBoundaryDeriv(cos, t, D);
  double L[3] = {D[0], D[1], D[2]};
  if (OnSurface(neighbour)) {
    double P2[3], D2[3];
    EvalCrvOnSrfArray(nullptr, neighbour, tn, 0, P2);
    GetUnitCrossBoundaryDeriv(neighbour, tn, D2);
    for (int k = 0; k < 3; ++k) P[k] = 0.5 * (P[k] + P2[k]), L[k] = 0.5 * (D[k] + D2[k]);
  }
  for (int k = 0; k < 3; ++k) Q[k] = P[k] + length * L[k];
  return MkLine3(P, Q, nullptr);
}

// GetCrossCurves with lines of the given length.
void CrossLines(Bspline* cos, Bspline** lineStart, Bspline** lineEnd, Bspline* prevCos,
                Bspline* nextCos, double length) {
  *lineStart = CrossBoundaryLine(cos, cos->umin, prevCos, prevCos ? prevCos->umax : 0.0, length);
  *lineEnd = *lineStart
                 ? CrossBoundaryLine(cos, cos->umax, nextCos, nextCos ? nextCos->umin : 0.0, length)
                 : nullptr;
  if (!*lineEnd && *lineStart) {
    FreeBspline(*lineStart);
    *lineStart = nullptr;
  }
}

}  // namespace

Bspline* GetUnitCrossBoundaryBspl(Bspline* cos, double t, Bspline* neighbour, double tn) {
  return CrossBoundaryLine(cos, t, neighbour, tn, 1.0);
}

void GetCrossCurves(Bspline* cos, Bspline** lineStart, Bspline** lineEnd, Bspline* prevCos,
                    Bspline* nextCos) {
  CrossLines(cos, lineStart, lineEnd, prevCos, nextCos, 1.0);
}

Bspline** Get3DDerivativeVectors(Bspline** pos, Bspline** cos, int n, int* isoFlags,
                                 int* sideCont) {
  OwnedArray<Bspline, FreeBspline> out;
  {
    UntrackedScope theirs;  // the array is the caller's
    out = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  }
  if (!out) return nullptr;
  // The cross lines and the vectors are as long as a mean side of the loop, not one unit of
  // length: the guide the lines make and the strips the vectors span keep their shape at every
  // size.
  double perimeter = 0.0;
  for (int i = 0; i < n; ++i)
    perimeter += GetPartCurveLength(pos[i], pos[i]->umin, pos[i]->umax, kLengthSamples);
  const double reach = perimeter > 0.0 && std::isfinite(perimeter) ? perimeter / n : 1.0;
  for (int i = 0; i < n; ++i) {
    if (sideCont[i] < 1) continue;
    Bspline *a = nullptr, *b = nullptr;
    CrossLines(cos[i], &a, &b, cos[(i + n - 1) % n], cos[(i + 1) % n], reach);
    if (!a) return nullptr;
    Owned<Bspline, FreeBspline> la(a), lb(b);
    Owned<Bspline, FreeBspline> dir(GetDirCurve(pos[i], a, b));
    if (!dir) return nullptr;
    Bspline* guide = dir.get();
    Bspline** d = CreateDerivativeCurves(&cos[i], &guide, nullptr, nullptr, 0, 0.0, -1, 1, 1,
                                         isoFlags[i], pos[i]->knotsU, NumKnotsU(pos[i]),
                                         pos[i]->degreeU);
    if (!d) return nullptr;
    out[i] = d[0];
    Free(d);
    if (!out[i] || KernelFailed()) {
      if (!KernelFailed()) SetKernelError(-2);
      return nullptr;
    }
    for (int j = 0; j < NumCtrlU(out[i]); ++j) {
      double D[3];
      Pt(out[i], j, D);
      for (double& c : D) c *= reach;
      SetPt(out[i], j, D);
    }
  }
  return out.release();
}

void Get3DDerivativeCurves(Bspline** pos, Bspline** deriv, int n) {
  if (!Curves3Sound(pos, n, 1, false) || !Curves3Sound(deriv, n, 1, true)) return;
  for (int i = 0; i < n; ++i)
    if (!CoversNet(pos[i], deriv[i])) return;
  for (int i = 0; i < n; ++i) {
    if (!deriv[i]) continue;
    for (int j = 0; j < NumCtrlU(deriv[i]); ++j) {
      double P[3], D[3];
      Pt(pos[i], j, P);
      Pt(deriv[i], j, D);
      Sub(P, D, D);
      SetPt(deriv[i], j, D);
    }
  }
}

int GetBndryDivisionPoints(Bspline** pos, int n, int div[3], double par[3]) {
  if (!Curves3Sound(pos, n, 1, false)) return -2;
  TrackingScope scope;
  double* cum = MallocArray<double>(n);
  if (!cum) return -2;
  double L = 0.0;
  for (int i = 0; i < n; ++i) cum[i] = L += GetPartCurveLength(pos[i], pos[i]->umin, pos[i]->umax, 1000);
  // Gaps and the end of a division's side are judged at one percent of the loop.
  const double e = 0.01 * L;
  for (int i = 0; i < n; ++i) {
    const Bspline* before = pos[(i + n - 1) % n];
    double a[3], b[3];
    Pt(before, NumCtrlU(before) - 1, a);
    Pt(pos[i], 0, b);
    Sub(a, b, a);
    if (Len(a) > e) {
      SetKernelError(-12);
      return -2;
    }
  }
  div[0] = 0;
  par[0] = pos[0]->umin;
  int i = 0;
  for (int d = 1; d <= 2; ++d) {
    const double T = L * d / 3.0;
    while (i < n - 1 && !(cum[i] > T)) ++i;
    const double prev = i > 0 ? cum[i - 1] : 0.0;
    if (cum[i] - T >= e || i == n - 1) {
      div[d] = i;
      const double local = T - prev;
      const Bspline* s = pos[i];
      par[d] = local >= e ? s->umin + (s->umax - s->umin) * local / (cum[i] - prev) : s->umin;
    } else {
      div[d] = i + 1;
      par[d] = pos[i + 1]->umin;
    }
  }
  return 0;
}

Bspline** GetBndryDivisionCurves(Bspline** curves, int n, int div[3], double par[3]) {
  OwnedArray<Bspline, FreeBspline> arcs;
  {
    UntrackedScope theirs;  // the array is the caller's
    arcs = OwnedArray<Bspline, FreeBspline>::Zeroed(3);
  }
  if (!arcs || !curves[0]) return arcs.release();
  TrackingScope scope;
  // The loop as a list in which each division starts a curve.
  OwnedArray<Bspline, FreeBspline> list = OwnedArray<Bspline, FreeBspline>::Zeroed(n + 3);
  if (!list) return nullptr;
  int count = 0, start[3] = {0, 0, 0};
  for (int i = 0; i < n; ++i) {
    if (!curves[i]) {
      SetKernelError(-2);
      return nullptr;
    }
    Owned<Bspline, FreeBspline> cur(CopyBsplineStruct(curves[i]));
    if (!cur) return nullptr;
    for (int d = 0; d < 3; ++d) {
      if (div[d] != i) continue;
      Bspline* pieces[2] = {nullptr, nullptr};
      double t = par[d];
      const int r = SplitObjectToNObjects(cur.get(), 1, &t, 0, pieces);
      if (r == -2) {
        // At an end of the curve: the division starts this curve or the next.
        ClearKernelError();
        start[d] = count + (t - cur->umin <= cur->umax - t ? 0 : 1);
        continue;
      }
      if (r != 0 || !pieces[0] || !pieces[1]) {
        if (pieces[0]) FreeBspline(pieces[0]);
        if (pieces[1]) FreeBspline(pieces[1]);
        if (!KernelFailed()) SetKernelError(-2);
        return nullptr;
      }
      list[count++] = pieces[0];
      cur.reset(pieces[1]);
      start[d] = count;
    }
    list[count++] = cur.release();
  }
  // Each arc joined left to right, one below the degree, both sides moved half-way.
  for (int k = 0; k < 3; ++k) {
    const int from = start[k], to = k < 2 ? start[k + 1] : count;
    if (to <= from) {
      SetKernelError(-2);
      return nullptr;
    }
    Owned<Bspline, FreeBspline> arc(CopyBsplineStruct(list[from]));
    if (!arc) return nullptr;
    StitchInfo info{list[from]->degreeU - 1, 2, 2, 3, -1.0, -1.0, 1.0, 1.0, 1.0, 0.0};
    for (int j = from + 1; j < to; ++j) {
      Bspline* pair[3] = {arc.get(), list[j], nullptr};
      int bndry[2] = {2, 0};
      Bspline* joined;
      {
        UntrackedScope kept;  // the join is made in the current scope; the arc outlives ours
        joined = BlendTwoObjects(bndry, pair, nullptr, nullptr, nullptr, &info);
      }
      if (!joined) return nullptr;
      arc.reset(joined);
    }
    arcs[k] = arc.release();
  }
  return arcs.release();
}

// ---- Virtual surfaces and the two-step fill -----------------------------------------------------

Bspline** CreateVirtualSurfs(Bspline** posSides, Bspline** cosSides, int n, int* isoFlags,
                             int* sideCont, Bspline*** curves, double tol, double angle) {
  *curves = nullptr;
  TrackingScope scope;
  OwnedArray<Bspline, FreeBspline> deriv(
      Get3DDerivativeVectors(posSides, cosSides, n, isoFlags, sideCont), n);
  if (!deriv) return nullptr;
  Get3DDerivativeCurves(posSides, deriv.get(), n);
  OwnedArray<Bspline, FreeBspline> surfs, crvs;
  {
    UntrackedScope theirs;  // the arrays are the caller's
    surfs = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
    crvs = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  }
  if (!surfs || !crvs) return nullptr;
  for (int i = 0; i < n; ++i) {
    if (!posSides[i] || !deriv[i]) {
      if (!(crvs[i] = CopyBsplineStruct(posSides[i]))) return nullptr;
      continue;
    }
    Owned<Bspline, FreeBspline> pos(CopyBsplineStruct(posSides[i]));
    if (!pos) return nullptr;
    Bspline* pair[2] = {pos.get(), deriv[i]};
    if (pos->interiorU > 0) {
      double* cand = MallocArray<double>(pos->interiorU);
      if (!cand) return nullptr;
      for (int k = 0; k < pos->interiorU; ++k) cand[k] = pos->knotsU[pos->degreeU + 1 + k];
      int flags[2] = {0, 0};
      if (CleanLoftCurves(pair, cand, pos->interiorU, 2, flags, tol, angle) != 0) return nullptr;
    }
    int ends[2] = {0, 0};
    surfs[i] = Curve3ToSurf(2, pair, nullptr, 3, ends);
    if (!surfs[i]) {
      if (!KernelFailed()) SetKernelError(-2);
      return nullptr;
    }
    crvs[i] = MakeIsoparCurve2(surfs[i], 3, -1.0);
    if (!crvs[i]) return nullptr;
  }
  // The boundary curves are not on their surfaces' lists: the caller frees them first.
  *curves = crvs.release();
  return surfs.release();
}

double* FillNSidedHoleInit(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                           double angle, int samples, Bspline*** posSides, Bspline*** cosSides,
                           Bspline*** virtualCurves, Bspline*** virtualSurfs, double plane[4],
                           int** flags) {
  *posSides = *cosSides = *virtualCurves = *virtualSurfs = nullptr;
  *flags = nullptr;
  if (!sides || !sideCont || !centreCont || !HoleRequestsValid(n, sideCont, centreCont))
    return nullptr;
  if (tol < 0) tol = 0;
  if (angle < 0 || angle > 90) angle = 0;
  int* f;
  double* centre;
  {
    UntrackedScope theirs;  // the flags and the centre are the caller's
    f = MallocArray<int>(2 * n);
    centre = MallocArray<double>(3);
  }
  Owned<int, Free> ownF(f);
  Owned<double, Free> ownCentre(centre);
  if (!f || !centre) return nullptr;
  EffectiveContinuity(sides, n, sideCont, f);
  OwnedArray<Bspline, FreeBspline> pos, cs;
  Bspline* replaced[5] = {};
  if (!SnipHoleLoop(sides, n, f, tol, samples, &pos, &cs, replaced)) {
    cs.reset();
    for (Bspline* r : replaced) FreeReplacement(r);
    return nullptr;
  }
  // The replacements take their sides' places in the caller's array: the curves on surfaces cut
  // from them keep them as owners, so the caller keeps them alive.
  for (int i = 0; i < n; ++i)
    if (replaced[i]) sides[i] = replaced[i];
  Bspline** vcurves = nullptr;
  OwnedArray<Bspline, FreeBspline> vsurfs(
      CreateVirtualSurfs(pos.get(), cs.get(), n, f, f + n, &vcurves, tol, angle), n);
  if (!vsurfs) return nullptr;
  OwnedArray<Bspline, FreeBspline> vc(vcurves, n);
  GetHoleCenterNew(cs.get(), n, centre, plane);
  if (KernelFailed()) {
    // Each boundary curve goes before the surface it lies on.
    vc.reset();
    return nullptr;
  }
  *posSides = pos.release();
  *cosSides = cs.release();
  *virtualCurves = vc.release();
  *virtualSurfs = vsurfs.release();
  *flags = ownF.release();
  return ownCentre.release();
}

// ---- N-boundary caps ----------------------------------------------------------------------------

void ShiftBsplInArray(Bspline** a, int n, int k) {
  if (n < 2) return;
  for (int s = 0; s < ((k % n) + n) % n; ++s) {
    Bspline* last = a[n - 1];
    for (int i = n - 1; i > 0; --i) a[i] = a[i - 1];
    a[0] = last;
  }
}

namespace {

// Skins the curve and its control-row curve (made compatible) into a cubic strip; with a null
// row the strip is null and the curve copied. The strip's boundary 3 on it goes to *curve.
bool SkinStrip(Bspline* curve, Bspline* row, Bspline** strip, Bspline** onStrip) {
  *strip = *onStrip = nullptr;
  if (!row) return (*onStrip = CopyBsplineStruct(curve)) != nullptr;
  Owned<Bspline, FreeBspline> a(CopyBsplineStruct(curve)), b(CopyBsplineStruct(row));
  if (!a || !b) return false;
  Bspline* pair[2] = {a.get(), b.get()};
  EquateDegOfObjSet(pair, nullptr, 2);
  EquateRationOfObjSet(pair, 2);
  MakeObjSetCompatible(pair, nullptr, 2, 0);
  if (KernelFailed()) return false;
  int ends[2] = {0, 0};
  Owned<Bspline, FreeBspline> s(Curve3ToSurf(2, pair, nullptr, 3, ends));
  if (!s) {
    if (!KernelFailed()) SetKernelError(-2);
    return false;
  }
  *onStrip = MakeIsoparCurve2(s.get(), 3, -1.0);
  if (!*onStrip) return false;
  *strip = s.release();
  return true;
}

// count strips of SkinStrip(curves[map(j)], rows[j]) into new caller's arrays; the curves go
// before the strips when freed.
Bspline** SkinStrips(Bspline** curves, int step, Bspline** rows, int count, Bspline*** onStrips) {
  *onStrips = nullptr;
  OwnedArray<Bspline, FreeBspline> strips, on;
  {
    UntrackedScope theirs;  // the arrays are the caller's
    strips = OwnedArray<Bspline, FreeBspline>::Zeroed(count);
    on = OwnedArray<Bspline, FreeBspline>::Zeroed(count);
  }
  if (!strips || !on) return nullptr;
  for (int j = 0; j < count; ++j) {
    Bspline *s = nullptr, *c = nullptr;
    const bool ok = SkinStrip(curves[j / step], rows ? rows[j] : nullptr, &s, &c);
    strips[j] = s;
    on[j] = c;
    if (!ok) return nullptr;
  }
  *onStrips = on.release();
  return strips.release();
}

// Frees an array of curves lying on the strips of another, curves first.
void FreeStripsAndCurves(Bspline** strips, Bspline** curves, int count) {
  if (curves) FreeBsplineArray(curves, count);
  if (strips) FreeBsplineArray(strips, count);
}

}  // namespace

Bspline** Get3LoftSurfAroundCap(Bspline** arcs, Bspline** arcDerivs, Bspline*** curves) {
  return SkinStrips(arcs, 1, arcDerivs, 3, curves);
}

Bspline** GetMidLoftSurf(Bspline** mids, Bspline** midTans, Bspline*** curves) {
  return SkinStrips(mids, 2, midTans, 6, curves);
}

Bspline** GetMidTanCurvesCap(Bspline** mids, Bspline** arcs, int* centreCont) {
  Bspline* halves[6] = {};
  Bspline* none[6] = {};
  int zero[3] = {0, 0, 0};
  GetSidePosAndTanCurves(arcs, nullptr, nullptr, nullptr, 0.0, zero, 3, halves, none);
  if (KernelFailed()) return nullptr;
  // The mid curves start at the arcs' starts: the half before each start comes first.
  ShiftBsplInArray(halves, 6, 1);
  OwnedArray<Bspline, FreeBspline> tans;
  {
    UntrackedScope theirs;  // the array is the caller's
    tans = OwnedArray<Bspline, FreeBspline>::Zeroed(6);
  }
  if (tans) GetMidTanCurves(mids, halves, centreCont, 3, tans.get());
  ClearCurves(halves, 6);
  if (!tans || KernelFailed()) return nullptr;
  return tans.release();
}

int CleanLoftCurvesOneSide(Bspline** set, double* knots, int count, int setSize, int useDeviation,
                           double tol, double angle) {
  if (!knots || count < 1) return 0;
  // The deviation reads the first two curves of the set against each other.
  if (!RecordArraySound(set, setSize) || setSize < 2 || !set[0] || !set[1]) {
    SetKernelError(-2);
    return -2;
  }
  double t = 0.0;
  if (angle != 0.0) {
    t = tol;
    if (useDeviation) {
      double dev = kNoValue;
      GetBndryDeviation(set[0], set[1], angle, &dev);
      t = std::min(t, dev);
    }
  }
  double dev = 0.0;
  RemoveKnotsOfObjSet(set, setSize, 0, 3, knots, count, 0, t, &dev);
  return KernelFailed() ? -2 : 0;
}

Bspline** FillCapHoleNew(Bspline** midLoftCurves, Bspline** pos, Bspline** derivs, int n,
                         double* centre, double* plane, int cont, double tol, double angle) {
  TrackingScope scope;
  OwnedArray<Bspline, FreeBspline> copies = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  OwnedArray<Bspline, FreeBspline> dcopies = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!copies || !dcopies) return nullptr;
  int interior = 0;
  for (int i = 0; i < n; ++i) {
    if (!(copies[i] = CopyBsplineStruct(pos[i]))) return nullptr;
    const bool withDeriv = cont == 1 && derivs && derivs[i];
    if (withDeriv && !(dcopies[i] = CopyBsplineStruct(derivs[i]))) return nullptr;
    Bspline* c = copies[i];
    if (c->interiorU > 0) {
      double* cand = MallocArray<double>(c->interiorU);
      if (!cand) return nullptr;
      for (int k = 0; k < c->interiorU; ++k) cand[k] = c->knotsU[c->degreeU + 1 + k];
      Bspline* set[2] = {c, dcopies[i]};
      if (CleanLoftCurvesOneSide(set, cand, c->interiorU, withDeriv ? 2 : 1, withDeriv ? 1 : 0,
                                 tol, angle) != 0)
        return nullptr;
      Free(cand);
    }
    interior += c->interiorU;
  }
  // The first mid-loft curve, the radial curves in boundary order, the second mid-loft curve.
  OwnedArray<Bspline, FreeBspline> radial =
      OwnedArray<Bspline, FreeBspline>::Zeroed(interior + n + 1);
  if (!radial) return nullptr;
  const int k = GetAllMidCurves(copies.get(), n, centre, plane, radial.get() + 1);
  if (KernelFailed()) return nullptr;
  // Every radial curve takes part, the two next to the closing seam included: k + 2 entries.
  Bspline** list = MallocArray<Bspline*>(k + 2);
  if (!list) return nullptr;
  list[0] = midLoftCurves[0];
  for (int j = 1; j <= k; ++j) list[j] = radial[j];
  list[k + 1] = midLoftCurves[1];
  // Tangent to the mid lofts where they exist (a curve on one), else through the mid curve.
  int ends[2] = {OnSurface(list[0]) ? 1 : 0, OnSurface(list[k + 1]) ? 1 : 0};
  double spans[2] = {1.0, 1.0};
  int modes[2] = {1, 1};
  Owned<Bspline, FreeBspline> cap(NonFeatureMatchedLoft(k + 2, list, 0.0, 3, ends, spans, nullptr,
                                                        tol, angle, -1, modes, 0, 0));
  if (!cap) {
    if (!KernelFailed()) SetKernelError(-2);
    return nullptr;
  }
  Bspline** out;
  {
    UntrackedScope theirs;  // the array is the caller's
    out = MallocArray<Bspline*>(1);
  }
  if (!out) return nullptr;
  out[0] = cap.release();
  return out;
}

Bspline** FillNBoundaryCap(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                           double angle) {
  return FillNBoundaryCapNew(sides, n, sideCont, centreCont, tol, angle);
}

Bspline** FillNBoundaryCapNew(Bspline** sides, int n, int* sideCont, int* centreCont, double tol,
                              double angle) {
  if (!sides || !sideCont || !centreCont || n < 1) return nullptr;
  if (tol < 0) tol = 0;
  if (angle < 0 || angle > 90) angle = 0;
  for (int i = 0; i < n; ++i)
    if (sideCont[i] < 0 || sideCont[i] > 1 || centreCont[i] < 0 || centreCont[i] > 1)
      return nullptr;
  TrackingScope scope;
  int* flags = MallocArray<int>(3 * n);
  if (!flags) return nullptr;
  EffectiveContinuity(sides, n, sideCont, flags);
  // The least request holds for the whole cap.
  int cont = 1, centreValue = 1;
  for (int i = 0; i < n; ++i) {
    cont = std::min(cont, std::min(flags[n + i], 1));
    centreValue = std::min(centreValue, centreCont[i]);
  }
  for (int i = 0; i < n; ++i) flags[n + i] = cont, flags[2 * n + i] = centreValue;

  double *starts = nullptr, *ends = nullptr;
  OwnedArray<Bspline, FreeBspline> pos(
      GetAllClockWiseSnippedPosCrvLoop(sides, n, flags, tol, -1, &starts, &ends), n);
  Owned<double, Free> s0(starts), s1(ends);
  if (!pos) return nullptr;
  OwnedArray<Bspline, FreeBspline> cs(GetAllClockWiseSnippedCrvOnSrf(sides, n, flags, starts, ends),
                                      n);
  if (!cs) return nullptr;

  Bspline **np = nullptr, **nc = nullptr;
  int newN = 0, *na = nullptr, *nb = nullptr, *ncv = nullptr;
  GetNewBndryArrays(pos.get(), cs.get(), n, flags, flags + n, flags + 2 * n, &np, &nc, &newN, &na,
                    &nb, &ncv);
  OwnedArray<Bspline, FreeBspline> newPos(np, newN), newCos(nc, newN);
  Owned<int, Free> oa(na), ob(nb), oc(ncv);
  if (!np) return nullptr;
  OwnedArray<Bspline, FreeBspline> deriv(
      Get3DDerivativeVectors(np, nc, newN, na, nb), newN);
  if (!deriv) return nullptr;
  Get3DDerivativeCurves(np, deriv.get(), newN);

  int div[3];
  double par[3];
  if (GetBndryDivisionPoints(np, newN, div, par) != 0) return nullptr;
  OwnedArray<Bspline, FreeBspline> arcs(GetBndryDivisionCurves(np, newN, div, par), 3);
  if (!arcs) return nullptr;
  OwnedArray<Bspline, FreeBspline> arcDerivs(GetBndryDivisionCurves(deriv.get(), newN, div, par), 3);
  if (!arcDerivs) return nullptr;
  Bspline** arcCurves = nullptr;
  Bspline** arcLofts = Get3LoftSurfAroundCap(arcs.get(), arcDerivs.get(), &arcCurves);
  if (!arcLofts) return nullptr;
  double centre[3], plane[4];
  GetHoleCenterNew(arcCurves, 3, centre, plane);
  Bspline** mids = KernelFailed() ? nullptr : MakeMidCurvesNew(arcCurves, 3, 0.0, centre, plane);
  FreeStripsAndCurves(arcLofts, arcCurves, 3);
  if (!mids) return nullptr;
  OwnedArray<Bspline, FreeBspline> ownMids(mids, 3);
  int centreConts[3] = {centreValue, centreValue, centreValue};
  OwnedArray<Bspline, FreeBspline> midTans(GetMidTanCurvesCap(mids, arcs.get(), centreConts), 6);
  if (!midTans) return nullptr;
  Bspline** midLoftCurves = nullptr;
  Bspline** midLofts = GetMidLoftSurf(mids, midTans.get(), &midLoftCurves);
  if (!midLofts) return nullptr;
  Bspline** result;
  {
    TrackingScope nested;
    result = FillCapHoleNew(midLoftCurves, np, deriv.get(), newN, centre, plane, cont, tol, angle);
    if (result) nested.keep();
  }
  FreeStripsAndCurves(midLofts, midLoftCurves, 6);
  if (!result) return nullptr;
  return result;
}

Bspline** FillCapHole(Bspline** outer, Bspline** inner, int contB, int contA, double tol,
                      double angle) {
  OwnedArray<Bspline, FreeBspline> out;
  {
    UntrackedScope theirs;  // the array is the caller's
    out = OwnedArray<Bspline, FreeBspline>::Zeroed(9);
  }
  if (!out) return nullptr;
  for (int k = 0; k < 3; ++k) {
    Bspline* sides[3] = {outer[2 * k + 1], inner[k], outer[(2 * k + 2) % 6]};
    int sc[3] = {contA, contB, contA};
    int cc[3] = {contA, contA, contA};
    Bspline** three = FillNSidedHole(sides, 3, sc, cc, tol, angle, 2);
    if (!three) return nullptr;
    for (int j = 0; j < 3; ++j) out[3 * k + j] = three[j];
    Free(three);
  }
  return out.release();
}
