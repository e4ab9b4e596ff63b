#include "stitch/userdef.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "bspline/bsvalid.h"
#include "bspline/creverse.h"
#include "bspline/ctrlnubs.h"
#include "bspline/isocurve.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/shrink.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "curve/mkline3.h"
#include "foundation/cloudrec.h"
#include "stitch/crossder.h"
#include "stitch/loftrows.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"
#include "surface/railsweep.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"

namespace {

// A zeroed array of n curve pointers kept out of every tracking scope: it goes to the caller.
Bspline** CallerCurveArray(int n) {
  UntrackedScope kept;
  return CallocArray<Bspline*>(n);
}

bool OnSurface(const Bspline* c) {
  return BsplineShapeSound(c) && c->kind == 1 && c->dimension == 2 && c->owner;
}

// Each of the n records sound (bsvalid); else false with the error state -2.
bool AllSound(Bspline* const* records, int n) {
  for (int i = 0; i < n; ++i)
    if (!RecordsSound({records[i]})) return false;
  return true;
}

// The iso form of one curve on a non-rational surface, or null when its ends do not share a u
// or a v (the running direction is then unknown: *tried stays false).
Bspline* IsoFormAlong(Bspline* crv, Bspline* guide, double** result, int magMode, int mode,
                      int samples, int order, bool* tried) {
  Bspline* srf = crv->owner;
  double a[2], b[2];
  Eval2DPointOnCurve2Array(nullptr, crv, crv->umin, 0, a);
  Eval2DPointOnCurve2Array(nullptr, crv, crv->umax, 0, b);
  const double tolU = 1e-6 * (srf->umax - srf->umin), tolV = 1e-6 * (srf->vmax - srf->vmin);
  int dir;
  if (std::fabs(b[0] - a[0]) >= tolU && std::fabs(b[1] - a[1]) <= tolV)
    dir = 0;  // runs in u at v = a[1]
  else if (std::fabs(b[0] - a[0]) <= tolU)
    dir = 1;  // runs in v at u = a[0]
  else
    return *tried = false, nullptr;
  *tried = true;
  int flip = 0;
  if (order > 0 && guide) {
    double G[3], S[3], D[3];
    EvalCrvOnSrfArray(nullptr, guide, guide->umin, 0, G);
    Eval3DPointOnSurfArray(srf, a[0], a[1], 0, 0, S);
    const bool acrossU = std::fabs(b[0] - a[0]) < 1e-6;
    Eval3DPointOnSurfArray(srf, a[0], a[1], acrossU ? 1 : 0, acrossU ? 0 : 1, D);
    flip = D[0] * (G[0] - S[0]) + D[1] * (G[1] - S[1]) + D[2] * (G[2] - S[2]) < 0.0;
  }
  const double iso = dir == 0 ? a[1] : a[0];
  const double t0 = dir == 0 ? a[0] : a[1], t1 = dir == 0 ? b[0] : b[1];
  // The iso curve is made running with the surface's parameter and the guide is read along it
  // point by point: a curve running the other way reads a guide turned with it.
  Owned<Bspline, FreeBspline> turned;
  if (t1 < t0 && guide) {
    turned.reset(CopyBsplineStruct(guide));
    if (!turned) return nullptr;
    reverseBspline(turned.get());
    guide = turned.get();
  }
  Bspline* d = IsoDerivativeCurve(srf, guide, result, magMode, mode, samples, iso, std::fmin(t0, t1),
                                  std::fmax(t0, t1), dir, order, flip, 1, 1);
  if (!d) return nullptr;
  if (t1 < t0) {
    ReverseDirection(d, 0);
    if (result && *result) std::reverse(*result, *result + NumCtrlU(d));
  }
  const double ra = d->umin, rb = d->umax, ca = crv->umin, cb = crv->umax;
  if (ra != ca || rb != cb) {
    const double s = (cb - ca) / (rb - ra);
    for (int i = 0; i < NumKnotsU(d); ++i) d->knotsU[i] = d->knotsU[i] * s + (ca - ra * s);
    d->umin = ca, d->umax = cb;
  }
  return d;
}

}  // namespace

Bspline** CreateDerivativeCurves(Bspline** curves, Bspline** guides, double** guideResults,
                                 int* params, int mode, double tol, int flag, int order, int n,
                                 int isoFlag, double* knots, int knotCount, int degree) {
  if (curves && n > 0 && !AllSound(curves, n)) return nullptr;
  if (guides && n > 0)
    for (int i = 0; i < n; ++i)
      if (guides[i] && !RecordsSound({guides[i]})) return nullptr;
  (void)tol;
  if (!curves || n < 1) return nullptr;
  Bspline** out = CallerCurveArray(n);
  if (!out) return nullptr;
  OwnedArray<Bspline, FreeBspline> made(out, n);
  for (int i = 0; i < n; ++i) {
    Bspline* c = curves[i];
    if (!OnSurface(c)) {
      if (order != 0) continue;
      if (!(made[i] = CopyBsplineStruct(c))) return nullptr;
      continue;
    }
    Bspline* guide = guides ? guides[i] : nullptr;
    const bool want = guideResults && guide && order == 1;
    double** result = want ? &guideResults[i] : nullptr;
    const int magMode = params ? params[i] : 0;
    if (isoFlag != -1 && !c->rational && !c->owner->rational) {
      bool tried = false;
      made[i] = IsoFormAlong(c, guide, result, magMode, mode, flag, order, &tried);
      // Flagged iso but its ends differ in both u and v: no running direction, no curve.
      if (!tried) continue;
    } else {
      made[i] = NonIsoDerivativeCurve(c, guide, result, want, magMode, mode, flag, order, knots,
                                      knotCount, degree);
    }
    if (!made[i]) return nullptr;
  }
  return made.release();
}

int GetCrossDegreeOfCurveOnSurf(Bspline* curve) {
  if (!OnSurface(curve)) return -2;
  double a[2], b[2];
  Eval2DPointOnCurve2Array(nullptr, curve, curve->umin, 0, a);
  Eval2DPointOnCurve2Array(nullptr, curve, curve->umax, 0, b);
  return std::fabs(b[0] - a[0]) >= 1e-6 ? curve->owner->degreeV : curve->owner->degreeU;
}

int GetCntrlPtsToFix(Bspline* pos[4], Bspline* d1[4], Bspline* d2[4], int flags[4],
                     double** valuesOut, int** indicesOut, int* countOut, int nU, int nV) {
  return BoundaryCurvePointsToHold(pos, d1, d2, flags, valuesOut, indicesOut, countOut, nU, nV);
}

// ---- Cross-direction curves ------------------------------------------------------------------

namespace {

bool Is3DCurve(const Bspline* c) {
  return BsplineShapeSound(c) && c->kind == 1 && c->dimension == 3;
}

void CtrlPoint(const Bspline* c, int i, double p[3]) {
  p[0] = c->X[0][i], p[1] = c->Y[0][i], p[2] = c->Z[0][i];
}

void SetCtrlPoint(Bspline* c, int i, const double p[3]) {
  c->X[0][i] = p[0], c->Y[0][i] = p[1], c->Z[0][i] = p[2];
}

double Dist3(const double a[3], const double b[3]) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// The curve's end control point at `end` (0 start, 2 end) and the next one inward from it.
void EndLeg(const Bspline* end, int which, const Bspline* side, int sideEnd, double A[3],
            double B[3]) {
  CtrlPoint(end, which == 0 ? 0 : NumCtrlU(end) - 1, A);
  CtrlPoint(side, sideEnd == 0 ? 1 : NumCtrlU(side) - 2, B);
}

}  // namespace

void GetClosestCurveEnds(Bspline* curveA, Bspline* curveB, int* endA, int* endB) {
  if (!Is3DCurve(curveA) || !Is3DCurve(curveB) || !endA || !endB) {
    SetKernelError(-2);
    return;
  }
  double a0[3], a1[3], b0[3], b1[3];
  CtrlPoint(curveA, 0, a0), CtrlPoint(curveA, NumCtrlU(curveA) - 1, a1);
  CtrlPoint(curveB, 0, b0), CtrlPoint(curveB, NumCtrlU(curveB) - 1, b1);
  const double d[4] = {Dist3(a0, b0), Dist3(a0, b1), Dist3(a1, b0), Dist3(a1, b1)};
  const double least = std::min({d[0], d[1], d[2], d[3]});
  // Every pair at the least distance overwrites the answer, so a tie goes to the later pair.
  const int ends[4][2] = {{0, 0}, {0, 2}, {2, 0}, {2, 2}};
  for (int k = 0; k < 4; ++k)
    if (d[k] == least) *endA = ends[k][0], *endB = ends[k][1];
}

void ScaleLineToGivenLen(const double p0[3], double p1[3], double length, double newLength) {
  for (int k = 0; k < 3; ++k) p1[k] = p0[k] + (p1[k] - p0[k]) * newLength / length;
}

Bspline* GetDirCurve(Bspline* curve, Bspline* sideA, Bspline* sideB) {
  if (!Is3DCurve(curve) || !Is3DCurve(sideA) || !Is3DCurve(sideB) || NumCtrlU(sideA) < 2 ||
      NumCtrlU(sideB) < 2) {
    SetKernelError(-2);
    return nullptr;
  }
  int ea = 0, sa = 0, eb = 0, sb = 0;
  GetClosestCurveEnds(curve, sideA, &ea, &sa);
  GetClosestCurveEnds(curve, sideB, &eb, &sb);
  double A0[3], B0[3], A1[3], B1[3];
  EndLeg(curve, ea, sideA, sa, A0, B0);
  EndLeg(curve, eb, sideB, sb, A1, B1);
  const double d0 = Dist3(A0, B0), d1 = Dist3(A1, B1);
  // A leg of no length has no direction to scale along: there is no side to point into.
  if (!(d0 > 0.0) || !(d1 > 0.0)) {
    SetKernelError(-2);
    return nullptr;
  }
  // The offset is the shorter leg, but never below 1% of the shortest control polygon, so
  // that a side starting with a tiny leg still gives a curve clearly apart from the boundary.
  const double L = 0.01 * std::min({GetObjSpanInParDir(curve, 0, 0), GetObjSpanInParDir(sideA, 0, 0),
                                    GetObjSpanInParDir(sideB, 0, 0)});
  const double len = std::max(std::min(d0, d1), L);
  ScaleLineToGivenLen(A0, B0, d0, len);
  ScaleLineToGivenLen(A1, B1, d1, len);
  Owned<Bspline, FreeBspline> line0(MkLine3(A0, B0, nullptr)), line1(MkLine3(A1, B1, nullptr));
  Owned<Bspline, FreeBspline> copy(CopyBsplineStruct(curve));
  if (!line0 || !line1 || !copy || KernelFailed()) return nullptr;
  // The rails start at the profile's end control points: they touch to round-off of the curves'
  // size, whatever the size and wherever they lie.
  Bspline* const three[3] = {copy.get(), line0.get(), line1.get()};
  const double touch = 1e-10 * ControlPointSetDiagonal(three, 3);
  Owned<Bspline, FreeBspline> sweep(SweepProfileAlongRails(copy.get(), line0.get(), line1.get(), touch));
  if (!sweep || KernelFailed()) return nullptr;
  // The far ends of the rails: the sweep's rows follow the profile, its v the rails.
  Bspline* out = MakeIsoparCurve3(sweep.get(), sweep->umin, sweep->vmax, 0);
  if (!out || KernelFailed()) {
    if (out) FreeBspline(out);
    return nullptr;
  }
  Bspline* pair[2] = {out, curve};
  if (CheckBsplDirRelToBspl(pair, nullptr) == 1) reverseBspline(out);
  return out;
}

// ---- Position curves of a loop, snipped where neighbours meet ---------------------------------

void MakePosCurvesTouch(Bspline** pos, Bspline** loopCurves, int n) {
  bool fit = n < 1 || (pos && loopCurves);
  for (int i = 0; fit && i < n; ++i) fit = Is3DCurve(pos[i]);
  if (!fit) {
    SetKernelError(-2);
    return;
  }
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    Bspline* a = pos[i];
    Bspline* b = pos[j];
    const int last = NumCtrlU(a) - 1;
    double pa[3], pb[3];
    CtrlPoint(a, last, pa);
    CtrlPoint(b, 0, pb);
    const bool threeDi = !OnSurface(loopCurves[i]), threeDj = !OnSurface(loopCurves[j]);
    // A curve on a surface keeps its ends: only a 3D curve yields.
    if (threeDi == threeDj) {
      const double m[3] = {0.5 * (pa[0] + pb[0]), 0.5 * (pa[1] + pb[1]), 0.5 * (pa[2] + pb[2])};
      SetCtrlPoint(a, last, m);
      SetCtrlPoint(b, 0, m);
    } else if (threeDi) {
      SetCtrlPoint(a, last, pb);
    } else {
      SetCtrlPoint(b, 0, pa);
    }
  }
}

Bspline** GetAllClockWiseSnippedPosCrvLoop(Bspline** curves, int n, int* isoFlags, double tol,
                                           int flag, double** startParams, double** endParams) {
  if (!curves || n < 1 || !isoFlags || !startParams || !endParams) {
    SetKernelError(-2);
    return nullptr;
  }
  if (!AllSound(curves, n)) return nullptr;
  if (!std::isfinite(tol)) {
    SetKernelError(-2);
    return nullptr;
  }
  *startParams = *endParams = nullptr;
  Bspline** arr = CallerCurveArray(n);
  OwnedArray<Bspline, FreeBspline> pos(arr, n);
  if (!pos) return nullptr;
  for (int i = 0; i < n; ++i) {
    Bspline** one = CreateDerivativeCurves(&curves[i], nullptr, nullptr, nullptr, 0, tol, flag, 0,
                                           1, isoFlags[i], nullptr, 0, 3);
    if (one) pos[i] = one[0], Free(one);
    if (!pos[i] || KernelFailed()) return nullptr;
  }
  double *starts = nullptr, *ends = nullptr;
  {
    UntrackedScope kept;  // the snip parameters are the caller's
    if (n == 1) {
      starts = MallocArray<double>(1), ends = MallocArray<double>(1);
      if (starts && ends) starts[0] = pos[0]->umin, ends[0] = pos[0]->umax;
    } else {
      int* dirs = nullptr;
      const int status = FindAllCurve3Intersections(pos.get(), n, &dirs, &starts, &ends);
      if (dirs) Free(dirs);
      if (status < 0) {
        if (starts) Free(starts);
        if (ends) Free(ends);
        starts = ends = nullptr;
      }
    }
  }
  if (!starts || !ends || KernelFailed()) {
    if (starts) Free(starts);
    if (ends) Free(ends);
    if (!KernelFailed()) SetKernelError(-2);
    return nullptr;
  }
  MakePosCurvesTouch(pos.get(), curves, n);
  *startParams = starts, *endParams = ends;
  return pos.release();
}

Bspline** GetAllClockWiseSnippedCrvOnSrf(Bspline** curves, int n, int* isoFlags,
                                         double* startParams, double* endParams) {
  (void)isoFlags;
  if (!curves || n < 1 || !startParams || !endParams || !AllFinite(startParams, n) ||
      !AllFinite(endParams, n)) {
    SetKernelError(-2);
    return nullptr;
  }
  if (!AllSound(curves, n)) return nullptr;
  Bspline** arr = CallerCurveArray(n);
  OwnedArray<Bspline, FreeBspline> snips(arr, n);
  if (!snips) return nullptr;
  for (int i = 0; i < n; ++i) {
    snips[i] = ExtractObjFromObjGivenPar(curves[i], 0, startParams[i], endParams[i]);
    if (!snips[i] || KernelFailed()) return nullptr;
  }
  return snips.release();
}

void FreeDerivBsplineArrays(Bspline** pos, Bspline** d1, Bspline** d2, int n) {
  if (pos) FreeBsplineArray(pos, n);
  if (d1) FreeBsplineArray(d1, n);
  if (d2) FreeBsplineArray(d2, n);
}

namespace {

// Unit tangent of a 3D curve at its start (end 0) or end.
void UnitTangent(const Bspline* c, int end, double t[3]) {
  Eval3DPointOnCurve3Array(c, end == 0 ? c->umin : c->umax, 1, t);
  const double len = std::hypot(t[0], t[1], t[2]);
  if (len > 0.0)
    for (int k = 0; k < 3; ++k) t[k] /= len;
}

// A curve on a temporary strip made for an implied tangent, and the strip, freed together.
struct ImpliedSide {
  Bspline* curve = nullptr;
  Bspline* strip = nullptr;
};

}  // namespace

Bspline** GetAllSnippedDerivativeCurves(Bspline** curves, int* orders, int* isoFlags, double tol,
                                        int flag) {
  constexpr int n = 4;
  if (!curves || !orders || !isoFlags) {
    SetKernelError(-2);
    return nullptr;
  }
  for (int i = 0; i < n; ++i)
    if (orders[i] < 0 || orders[i] > 4) {
      SetKernelError(-2);
      return nullptr;
    }
  double *startsRaw = nullptr, *endsRaw = nullptr;
  OwnedArray<Bspline, FreeBspline> pos(
      GetAllClockWiseSnippedPosCrvLoop(curves, n, isoFlags, tol, flag, &startsRaw, &endsRaw), n);
  Owned<double, Free> starts(startsRaw), ends(endsRaw);
  if (!pos) return nullptr;

  // A 3D side of order 4 leaves its curve along the mean of its neighbours' end directions: it
  // is cut and differentiated as a curve on a strip that carries that direction.
  ImpliedSide implied[n];
  auto freeImplied = [&implied]() {
    for (ImpliedSide& s : implied) {
      if (s.curve) FreeBspline(s.curve);
      if (s.strip) FreeBspline(s.strip);
      s = ImpliedSide{};
    }
  };
  Bspline* cut[n];
  double s0[n], s1[n];
  for (int i = 0; i < n; ++i) {
    cut[i] = curves[i], s0[i] = starts[i], s1[i] = ends[i];
    if (OnSurface(curves[i]) || orders[i] != 4) continue;
    double Tp[3], Tn[3];
    UnitTangent(pos[(i + n - 1) % n], 2, Tp);
    UnitTangent(pos[(i + 1) % n], 0, Tn);
    Bspline* c = CreateImpliedTangentBndryCrv(curves[i], 0.5 * (Tn[0] - Tp[0]), 0.5 * (Tn[1] - Tp[1]),
                                              0.5 * (Tn[2] - Tp[2]));
    if (!c || KernelFailed()) {
      if (c) FreeBspline(c->owner), FreeBspline(c);
      freeImplied();
      return nullptr;
    }
    implied[i].curve = c, implied[i].strip = c->owner;
    orders[i] = 1;
    cut[i] = c;
    // The snip parameters belong to the 3D curve's range: carried over onto the strip's.
    const double a = curves[i]->umin, b = curves[i]->umax;
    const double s = (c->umax - c->umin) / (b - a);
    s0[i] = c->umin + (s0[i] - a) * s, s1[i] = c->umin + (s1[i] - a) * s;
  }
  OwnedArray<Bspline, FreeBspline> snips(GetAllClockWiseSnippedCrvOnSrf(cut, n, isoFlags, s0, s1), n);
  starts.reset(), ends.reset();
  // The snipped curves keep the strips as owners: only the curves made on them go now.
  for (ImpliedSide& s : implied)
    if (s.curve) FreeBspline(s.curve), s.curve = nullptr;
  if (!snips) {
    freeImplied();
    return nullptr;
  }

  OwnedArray<Bspline, FreeBspline> dirs = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  int total = n;
  for (int i = 0; i < n; ++i) total += orders[i];
  Bspline** packedRaw = CallerCurveArray(total);
  OwnedArray<Bspline, FreeBspline> packed(packedRaw, total);
  bool ok = dirs && packed;
  for (int i = 0; ok && i < n; ++i)
    if (orders[i] > 0) {
      dirs[i] = GetDirCurve(pos[i], pos[(i + 1) % n], pos[(i + n - 1) % n]);
      ok = dirs[i] && !KernelFailed();
    }
  for (int i = 0, w = 0; ok && i < n; ++i) {
    packed[w++] = pos[i], pos[i] = nullptr;
    Bspline* p = packed[w - 1];
    for (int k = 1; ok && k <= orders[i]; ++k) {
      Bspline** one = CreateDerivativeCurves(&snips[i], &dirs[i], nullptr, nullptr, 0, tol, flag, k,
                                             1, isoFlags[i], p->knotsU, NumKnotsU(p), p->degreeU);
      if (one) packed[w] = one[0], Free(one);
      ok = packed[w++] && !KernelFailed();
    }
  }
  // Curves cut from a strip go before the strip they live on.
  snips.reset();
  freeImplied();
  if (!ok) return nullptr;
  return packed.release();
}

// ---- Linear blend of boundary and derivative rows --------------------------------------------

namespace {

double CtrlWeight(const Bspline* c, int i) { return c->rational ? c->W[0][i] : 1.0; }

// How many rows a side fixes beyond its position curve: its second row, then its third.
int Depth(Bspline** d1, Bspline** d2, int side) {
  return d1[side] ? (d2[side] ? 2 : 1) : 0;
}

// Writes control point i of curve c into net point (row, col): x and y always, z with threeD,
// the weight on a rational net.
void PutNetPoint(Bspline* srf, int row, int col, const Bspline* c, int i, int threeD) {
  srf->X[row][col] = c->X[0][i];
  srf->Y[row][col] = c->Y[0][i];
  if (threeD) srf->Z[row][col] = c->Z[0][i];
  if (srf->rational) srf->W[row][col] = CtrlWeight(c, i);
}

// Every curve the net reads: 3D, with the control counts of its side's direction, and room for
// the rows fixed on both sides of each direction.
bool BlendRowsFit(Bspline** pos, Bspline** d1, Bspline** d2) {
  for (int i = 0; i < 4; ++i)
    if (!Is3DCurve(pos[i]) || (d2[i] && !d1[i])) return false;
  const int nV = NumCtrlU(pos[0]), nU = NumCtrlU(pos[1]);
  for (int i = 0; i < 4; ++i) {
    const int want = i % 2 == 0 ? nV : nU;
    if (NumCtrlU(pos[i]) != want) return false;
    for (Bspline* r : {d1[i], d2[i]})
      if (r && (!Is3DCurve(r) || NumCtrlU(r) != want)) return false;
  }
  return Depth(d1, d2, 0) + Depth(d1, d2, 2) < nU && Depth(d1, d2, 3) + Depth(d1, d2, 1) < nV;
}

// The net of srf is the one the curves make (BlendRowsFit): a 3D surface with pos[1]'s control
// count along u and pos[0]'s along v.
bool BlendNetFits(const Bspline* srf, Bspline** pos, Bspline** d1, Bspline** d2) {
  return BsplineShapeSound(srf) && srf->kind == 2 && srf->dimension == 3 && pos &&
         BlendRowsFit(pos, d1, d2) && NumCtrlU(srf) == NumCtrlU(pos[1]) && NumCtrlV(srf) == NumCtrlU(pos[0]);
}

}  // namespace

void MakeSurfBndry(Bspline* srf, Bspline** pos, Bspline** d1, Bspline** d2, int threeD) {
  Bspline* none[4] = {};
  if (!d1) d1 = none;
  if (!d2) d2 = none;
  if (!BlendNetFits(srf, pos, d1, d2)) {
    SetKernelError(-2);
    return;
  }
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  if (!threeD)
    for (int j = 0; j < nV; ++j)
      for (int i = 0; i < nU; ++i) srf->Z[j][i] = 0.0;
  // Rows are v, columns are u: sides 3 and 1 give rows, sides 0 and 2 columns.
  for (int i = 0; i < nU; ++i) {
    PutNetPoint(srf, 0, i, pos[3], i, threeD);
    PutNetPoint(srf, nV - 1, i, pos[1], i, threeD);
    if (d1[3]) PutNetPoint(srf, 1, i, d1[3], i, threeD);
    if (d1[1]) PutNetPoint(srf, nV - 2, i, d1[1], i, threeD);
    if (d2[3]) PutNetPoint(srf, 2, i, d2[3], i, threeD);
    if (d2[1]) PutNetPoint(srf, nV - 3, i, d2[1], i, threeD);
  }
  // Columns after rows: where both write, the column stands.
  for (int j = 0; j < nV; ++j) {
    PutNetPoint(srf, j, 0, pos[0], j, threeD);
    PutNetPoint(srf, j, nU - 1, pos[2], j, threeD);
    if (d1[0]) PutNetPoint(srf, j, 1, d1[0], j, threeD);
    if (d1[2]) PutNetPoint(srf, j, nU - 2, d1[2], j, threeD);
    if (d2[0]) PutNetPoint(srf, j, 2, d2[0], j, threeD);
    if (d2[2]) PutNetPoint(srf, j, nU - 3, d2[2], j, threeD);
  }
}

void BlendSurface(Bspline** pos, Bspline** d1, Bspline** d2, Bspline* srf, int threeD) {
  Bspline* none[4] = {};
  if (!d1) d1 = none;
  if (!d2) d2 = none;
  // The Coons weights come from the knots: they must be a knot vector's.
  if (!BlendNetFits(srf, pos, d1, d2) || !KnotVectorSound(srf->knotsU, srf->degreeU, NumCtrlU(srf)) ||
      !KnotVectorSound(srf->knotsV, srf->degreeV, NumCtrlV(srf))) {
    SetKernelError(-2);
    return;
  }
  MakeSurfBndry(srf, pos, d1, d2, threeD);
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  const int c0 = Depth(d1, d2, 0), c2 = nU - 1 - Depth(d1, d2, 2);
  const int r3 = Depth(d1, d2, 3), r1 = nV - 1 - Depth(d1, d2, 1);
  if (c2 - c0 < 2 || r1 - r3 < 2) return;
  TrackingScope scope;
  double* gu = FindParamValuesOfCoefi(srf, 0);
  double* gv = FindParamValuesOfCoefi(srf, 1);
  if (!gu || !gv) return;
  double** M[4] = {srf->X, srf->Y, threeD ? srf->Z : nullptr, srf->rational ? srf->W : nullptr};
  // The bilinearly blended Coons rule on the net, between the innermost fixed rows and columns,
  // weighted by the normalised Greville parameters.
  for (int j = r3 + 1; j < r1; ++j) {
    const double b = (gv[j] - gv[r3]) / (gv[r1] - gv[r3]);
    for (int i = c0 + 1; i < c2; ++i) {
      const double a = (gu[i] - gu[c0]) / (gu[c2] - gu[c0]);
      for (double** m : M) {
        if (!m) continue;
        m[j][i] = (1 - a) * m[j][c0] + a * m[j][c2] + (1 - b) * m[r3][i] + b * m[r1][i] -
                  (1 - a) * (1 - b) * m[r3][c0] - a * (1 - b) * m[r3][c2] - (1 - a) * b * m[r1][c0] -
                  a * b * m[r1][c2];
      }
    }
  }
}

Bspline* LinearBlendSurface(Bspline** pos, Bspline** d1, Bspline** d2, int threeD) {
  Bspline* none[4] = {};
  if (!d1) d1 = none;
  if (!d2) d2 = none;
  if (!pos || !BlendRowsFit(pos, d1, d2)) {
    SetKernelError(-2);
    return nullptr;
  }
  Bspline* srf;
  {
    UntrackedScope kept;  // the surface is the caller's
    srf = MallocInitSurfaceBspline();
  }
  if (!srf) return nullptr;
  Owned<Bspline, FreeBspline> held(srf);
  const Bspline* u = pos[1];
  const Bspline* v = pos[0];
  srf->degreeU = u->degreeU, srf->interiorU = u->interiorU, srf->umin = u->umin, srf->umax = u->umax;
  srf->degreeV = v->degreeU, srf->interiorV = v->interiorU, srf->vmin = v->umin, srf->vmax = v->umax;
  srf->rational = u->rational;
  if (AllocateBsplineArrays(srf) < 0) return nullptr;
  std::copy(u->knotsU, u->knotsU + NumKnotsU(u), srf->knotsU);
  std::copy(v->knotsU, v->knotsU + NumKnotsU(v), srf->knotsV);
  BlendSurface(pos, d1, d2, srf, threeD);
  if (KernelFailed()) return nullptr;
  return held.release();
}

// ---- Derivative control rows and corners -----------------------------------------------------

namespace {

// The neighbours of each side at its start (a) and end (b), and whether both touch it with
// their end (else their start); sides 2 and 3 are already reversed.
constexpr int kSideA[4] = {3, 0, 3, 0};
constexpr int kSideB[4] = {1, 2, 1, 2};
constexpr bool kTouchAtEnd[4] = {false, true, true, false};

// The k-th control point (k from 1) of c counted from its start or its end.
// A curve shorter than k reads and writes its far end instead of past it.
int KthIndex(const Bspline* c, bool atEnd, int k) {
  const int m = NumCtrlU(c);
  return std::clamp(atEnd ? m - k : k - 1, 0, m - 1);
}

void KthFromEnd(const Bspline* c, bool atEnd, int k, double p[3]) {
  CtrlPoint(c, KthIndex(c, atEnd, k), p);
}

void SetKthFromEnd(Bspline* c, bool atEnd, int k, const double p[3]) {
  SetCtrlPoint(c, KthIndex(c, atEnd, k), p);
}

// The k-th control points of side i's two neighbours from their touching ends, as six doubles.
void NeighbourPoints(Bspline** pos, int i, int k, double out[6]) {
  KthFromEnd(pos[kSideA[i]], kTouchAtEnd[i], k, out);
  KthFromEnd(pos[kSideB[i]], kTouchAtEnd[i], k, out + 3);
}

// row := row - pos, control point by control point: a control row back to a derivative.
void RowToDerivative(Bspline* row, const Bspline* pos) {
  for (int i = 0; i < NumCtrlU(pos); ++i) {
    row->X[0][i] -= pos->X[0][i];
    row->Y[0][i] -= pos->Y[0][i];
    row->Z[0][i] -= pos->Z[0][i];
  }
}

void AverageInto(double a[3], double b[3]) {
  for (int k = 0; k < 3; ++k) a[k] = b[k] = 0.5 * (a[k] + b[k]);
}

}  // namespace

int GetControlPtsForAllCurves(Bspline** pos, Bspline** d1, Bspline** d2, int n, int* orders,
                              double* scales, double corners[][12]) {
  (void)orders;
  for (int i = 0; i < n && i < 4; ++i) {
    if (!d1[i]) continue;
    NeighbourPoints(pos, i, 2, corners[i]);
    ScaledDerivativeRow(d1[i], pos[i], corners[i], scales[i], 0);
    if (!d2[i]) continue;
    NeighbourPoints(pos, i, 3, corners[i] + 6);
    ScaledDerivativeRow(d2[i], pos[i], corners[i] + 6, scales[i], 0);
  }
  return 0;
}

int RescaleDerivativeCurves(Bspline** pos, Bspline** d1, Bspline** d2, int n, int* orders,
                            double* scales, double corners[][12]) {
  (void)orders;
  for (int i = 0; i < n && i < 4; ++i) {
    if (!d1[i] || NumCtrlU(d1[i]) != NumCtrlU(pos[i])) continue;
    double P[6];
    NeighbourPoints(pos, i, 2, P);
    RowToDerivative(d1[i], pos[i]);
    ScaledDerivativeRow(d1[i], pos[i], P, scales[i], 1);
    if (!d2[i] || NumCtrlU(d2[i]) != NumCtrlU(pos[i])) continue;
    NeighbourPoints(pos, i, 3, P);
    // A third row is remade only when a neighbour's third point moved since it was made.
    if (Dist3(P, corners[i] + 6) >= 0.001 || Dist3(P + 3, corners[i] + 9) >= 0.001) {
      RowToDerivative(d2[i], pos[i]);
      ScaledDerivativeRow(d2[i], pos[i], P, scales[i], 1);
    }
  }
  return 0;
}

int MakeCurvesCompatibleByPrecedence(Bspline** pos, Bspline** d1, Bspline** d2, int n) {
  Bspline* none[4] = {};
  if (!d1) d1 = none;
  if (!d2) d2 = none;
  // Every side is read as a neighbour of another.
  bool fit = n < 1 || pos;
  for (int i = 0; fit && n > 0 && i < 4; ++i)
    fit = Is3DCurve(pos[i]) && (!d1[i] || Is3DCurve(d1[i])) && (!d2[i] || Is3DCurve(d2[i]));
  if (!fit) {
    SetKernelError(-2);
    return -2;
  }
  // Position curves rule over first rows, first rows over second rows.
  for (int i = 0; i < n && i < 4; ++i) {
    if (!d1[i]) continue;
    const int a = kSideA[i], b = kSideB[i];
    const bool atEnd = kTouchAtEnd[i];
    double p[3];
    KthFromEnd(pos[a], atEnd, 2, p), SetKthFromEnd(d1[i], false, 1, p);
    KthFromEnd(pos[b], atEnd, 2, p), SetKthFromEnd(d1[i], true, 1, p);
    if (!d2[i]) continue;
    KthFromEnd(pos[a], atEnd, 3, p), SetKthFromEnd(d2[i], false, 1, p);
    KthFromEnd(pos[b], atEnd, 3, p), SetKthFromEnd(d2[i], true, 1, p);
    if (d1[a]) KthFromEnd(d1[a], atEnd, 3, p), SetKthFromEnd(d2[i], false, 2, p);
    if (d1[b]) KthFromEnd(d1[b], atEnd, 3, p), SetKthFromEnd(d2[i], true, 2, p);
  }
  return 0;
}

int MakeCurvesTwistCompatibleCorner(Bspline** posPair, Bspline** d1Pair, Bspline** d2Pair,
                                    int* ends) {
  Bspline** rows[3] = {posPair, d1Pair, d2Pair};
  // Control points are read and written by position, as 3D points: every pair used must be two
  // 3D curves of a sound structure.
  for (int k = 0; k < 3 && rows[k] && rows[k][0] && rows[k][1]; ++k)
    if (!Is3DCurve(rows[k][0]) || !Is3DCurve(rows[k][1])) {
      SetKernelError(-2);
      return -2;
    }
  const bool e0 = ends[0] != 0, e1 = ends[1] != 0;
  // The corner, then the twist point, then the (2, 2) point: each the mean of the two sides'.
  for (int k = 0; k < 3; ++k) {
    Bspline** r = rows[k];
    if (!r || !r[0] || !r[1]) break;
    double p[3], q[3];
    KthFromEnd(r[0], e0, k + 1, p), KthFromEnd(r[1], e1, k + 1, q);
    AverageInto(p, q);
    SetKthFromEnd(r[0], e0, k + 1, p), SetKthFromEnd(r[1], e1, k + 1, q);
  }
  return 0;
}

int MakeCurvesTwistCompatible(Bspline** pos, Bspline** d1, Bspline** d2, int n) {
  // Corner c joins sides kCorner[c][0] and [1], at their ends (1) or starts (0).
  constexpr int kCorner[4][4] = {{0, 1, 1, 0}, {1, 2, 1, 1}, {2, 3, 0, 1}, {3, 0, 0, 0}};
  for (int c = 0; c < 4 && n == 4; ++c) {
    const int s = kCorner[c][0], t = kCorner[c][1];
    Bspline* p[2] = {pos[s], pos[t]};
    Bspline* q[2] = {d1[s], d1[t]};
    Bspline* r[2] = {d2[s], d2[t]};
    int ends[2] = {kCorner[c][2], kCorner[c][3]};
    MakeCurvesTwistCompatibleCorner(p, q, r, ends);
  }
  return 0;
}

// ---- Four-sided blend ------------------------------------------------------------------------

namespace {

// The present curves of the given sides: pos, d1, and d2 only with its d1.
int SidesSet(Bspline** pos, Bspline** d1, Bspline** d2, std::initializer_list<int> sides,
             Bspline* set[12]) {
  int k = 0;
  for (int i : sides) {
    if (pos[i]) set[k++] = pos[i];
    if (d1[i]) set[k++] = d1[i];
    if (d1[i] && d2[i]) set[k++] = d2[i];
  }
  return k;
}

}  // namespace

int EquateRationalityOfAllCurves(Bspline** pos, Bspline** d1, Bspline** d2) {
  if (!pos || !d1 || !d2 || !AllSound(pos, 4) || !RecordArraySound(d1, 4) || !RecordArraySound(d2, 4)) {
    SetKernelError(-2);
    return -2;
  }
  if (!pos[0]->rational && !pos[1]->rational && !pos[2]->rational && !pos[3]->rational) return 0;
  Bspline* set[12];
  const int k = SidesSet(pos, d1, d2, {0, 1, 2, 3}, set);
  EquateRationOfObjSet(set, k);
  for (int i = 0; i < 4; ++i)
    for (Bspline* c : {pos[i], d1[i], d2[i]})
      if (c) ReparametrizeRationalCurve(c);
  return KernelFailed() ? -2 : 0;
}

int MakeDegreeOfAllCurvesCompatible(Bspline** pos, Bspline** d1, Bspline** d2) {
  for (int k = 0; k < 2; ++k) {
    Bspline* set[12];
    const int m = SidesSet(pos, d1, d2, {k, k + 2}, set);
    // A derivative row of another degree than its curve must be raised too, or the pair
    // cannot share one knot vector.
    bool differ = false;
    for (int i = 1; i < m; ++i) differ = differ || set[i]->degreeU != set[0]->degreeU;
    if (differ) EquateDegOfObjSet(set, nullptr, m);
    if (KernelFailed()) return -2;
  }
  return 0;
}

int MakeParOfAllCurvesCompatible(Bspline** pos, Bspline** d1, Bspline** d2) {
  for (int k = 0; k < 2; ++k) {
    Bspline* set[12];
    const int m = SidesSet(pos, d1, d2, {k, k + 2}, set);
    MakeObjSetCompatible(set, nullptr, m, 0);
    if (KernelFailed()) return -2;
  }
  return 0;
}

int InsertAdditionalKnotsIfNeeded(Bspline** pos, Bspline** d1, Bspline** d2, int* orders) {
  for (int k = 0; k < 2; ++k) {
    // Across the pair (k, k + 2) the net holds the rows fixed by the two other sides.
    const int need = orders[(k + 3) % 4] + orders[(k + 1) % 4] + 2;
    const int m = NumCtrlU(pos[k]);
    if (need <= m) continue;
    InsertNKnotsToObject(1, need - m, 0, pos[k], 1, nullptr);
    if (KernelFailed()) return -2;
    Bspline* other = pos[k + 2];
    double* C = nullptr;
    int nC = 0;
    if (PutInCKnotsOfBNotInA(other->knotsU, NumKnotsU(other), pos[k]->knotsU, NumKnotsU(pos[k]), &C,
                             &nC) < 0)
      return -2;
    Owned<double, Free> held(C);
    for (Bspline* c : {other, d1[k], d1[k] ? d2[k] : nullptr, d1[k + 2], d1[k + 2] ? d2[k + 2] : nullptr})
      if (c && nC > 0) InsertNKnotsToObject(1, nC, 0, c, 2, C);
    if (KernelFailed()) return -2;
  }
  return 0;
}

int CleanBlendCurves(Bspline** pos, Bspline** d1, Bspline** d2, int* orders, double tol,
                     double angle) {
  if (!AllFinite({tol, angle})) {
    SetKernelError(-2);
    return -2;
  }
  if (tol < 1e-6 && angle < 1e-6) return 0;
  if (!pos || !d1 || !d2 || !orders) {
    SetKernelError(-2);
    return -2;
  }
  // A row set is cleaned on its first curve's knots: each of its curves must have them.
  for (int i = 0; i < 4; ++i)
    for (Bspline* c : {pos[i], d1[i], d2[i]}) {
      if (!c && c != pos[i]) continue;  // no row there
      if (!RecordsSound({c}) || c->kind != 1 || c->dimension != 3 || c->degreeU != pos[i % 2]->degreeU ||
          c->interiorU != pos[i % 2]->interiorU) {
        SetKernelError(-2);
        return -2;
      }
    }
  for (int k = 0; k < 2; ++k) {
    const int s = k, t = k + 2;
    // Ordered like the rows of a loft, so that its ends are the two position curves and their
    // neighbours the first rows.
    Bspline* set[6];
    int m = 0;
    set[m++] = pos[s];
    if (orders[s] >= 1 && d1[s]) set[m++] = d1[s];
    if (orders[s] >= 2 && d1[s] && d2[s]) set[m++] = d2[s];
    if (orders[t] >= 2 && d1[t] && d2[t]) set[m++] = d2[t];
    if (orders[t] >= 1 && d1[t]) set[m++] = d1[t];
    set[m++] = pos[t];
    const int interior = set[0]->interiorU;
    if (interior < 1) continue;
    TrackingScope scope;
    double* knots = MallocArray<double>(interior);
    if (!knots) return -2;
    std::copy(set[0]->knotsU + set[0]->degreeU + 1, set[0]->knotsU + set[0]->degreeU + 1 + interior,
              knots);
    int ends[2] = {orders[s], orders[t]};
    if (CleanCurveRowKnots(set, knots, interior, m, ends, tol, angle) != 0) return -2;
  }
  return 0;
}

namespace {

// The blend's working curves until they go to the caller.
struct BlendRows {
  Bspline* pos[4] = {};
  Bspline* d1[4] = {};
  Bspline* d2[4] = {};
  ~BlendRows() {
    for (int i = 0; i < 4; ++i)
      for (Bspline* c : {pos[i], d1[i], d2[i]})
        if (c) FreeBspline(c);
  }
  // Each curve in place replaced by f(curve) (the old one freed); false when one failed.
  template <class F>
  bool Replace(int i, F f) {
    for (Bspline** c : {&pos[i], &d1[i], &d2[i]}) {
      if (!*c) continue;
      Bspline* made = f(*c);
      if (!made) return false;
      FreeBspline(*c);
      *c = made;
    }
    return true;
  }
};

Bspline** HandOver(Bspline* const src[4]) {
  Bspline** arr = CallerCurveArray(4);
  if (arr) std::copy(src, src + 4, arr);
  return arr;
}

}  // namespace

Bspline* CreateBlendSurface1(Bspline** curves, Bspline*** posOut, Bspline*** d1Out,
                             Bspline*** d2Out, int n, int* orders, double* scales, double tol,
                             double angle, int threeD, int reparamMode, int countA, int countB) {
  if (n != 4 || !curves || !orders || !scales) {
    SetKernelError(-2);
    return nullptr;
  }
  if (tol < 0.0) tol = 0.0;
  if (angle < 0.0 || angle > 90.0) angle = 0.0;
  int ord[4], iso[4];
  for (int i = 0; i < 4; ++i) {
    Bspline* c = curves[i];
    ord[i] = orders[i];
    if (ord[i] < 0 || ord[i] > 4 || !BsplineShapeSound(c) || c->kind != 1) {
      SetKernelError(-2);
      return nullptr;
    }
    iso[i] = OnSurface(c) ? IsoParameterKind(c, 0) : -1;
    if (!OnSurface(c)) {
      if (ord[i] != 0 && ord[i] != 4) {
        SetKernelError(-2);
        return nullptr;
      }
      continue;
    }
    // The net carries at most two rows per side, and an implied tangent is for 3D curves only.
    if (ord[i] == 3) ord[i] = 2;
    if (ord[i] == 4) ord[i] = 1;
    const bool exact = GetCrossDegreeOfCurveOnSurf(c) >= 2 && (iso[i] == 1 || iso[i] == 2) &&
                       !c->rational && !c->owner->rational;
    if (!exact) ord[i] = std::min(ord[i], 1);
  }
  Bspline** packed = GetAllSnippedDerivativeCurves(curves, ord, iso, tol, -1);
  if (!packed) return nullptr;
  BlendRows rows;
  for (int i = 0, w = 0; i < 4; ++i) {
    rows.pos[i] = packed[w++];
    if (ord[i] >= 1) rows.d1[i] = packed[w++];
    if (ord[i] >= 2) rows.d2[i] = packed[w++];
  }
  Free(packed);
  Bspline** pos = rows.pos;
  Bspline** d1 = rows.d1;
  Bspline** d2 = rows.d2;
  // Sides 2 and 3 follow the loop against the net's u and v.
  for (int i = 2; i < 4; ++i)
    for (Bspline* c : {pos[i], d1[i], d2[i]})
      if (c) reverseBspline(c);
  if (threeD && EquateRationalityOfAllCurves(pos, d1, d2) != 0) return nullptr;
  if (MakeDegreeOfAllCurvesCompatible(pos, d1, d2) != 0 ||
      MakeParOfAllCurvesCompatible(pos, d1, d2) != 0 ||
      InsertAdditionalKnotsIfNeeded(pos, d1, d2, ord) != 0 || KernelFailed())
    return nullptr;
  if (reparamMode != 0) {
    for (int i = 0; i < 4; ++i) {
      // The targets count control points in every mode.
      const int target = i % 2 == 0 ? countA : countB;
      bool ok;
      if (reparamMode == 1) {
        ok = rows.Replace(i, [target](Bspline* c) { return RefitCurveUniform(c, target); });
      } else {
        ok = true;
        for (Bspline* c : {pos[i], d1[i], d2[i]}) {
          if (!c) continue;
          double dev = 0.0;
          RemoveKnotsOfObjSet(&c, 1, 0, 4, nullptr, 0, target - c->degreeU - 1, 0.001, &dev);
        }
      }
      if (!ok || KernelFailed()) return nullptr;
    }
  }
  double corners[4][12] = {};
  GetControlPtsForAllCurves(pos, d1, d2, 4, ord, scales, corners);
  if (KernelFailed()) return nullptr;
  if (reparamMode == 0 && CleanBlendCurves(pos, d1, d2, ord, tol, angle) != 0) return nullptr;
  if (InsertAdditionalKnotsIfNeeded(pos, d1, d2, ord) != 0) return nullptr;
  RescaleDerivativeCurves(pos, d1, d2, 4, ord, scales, corners);
  MakeCurvesCompatibleByPrecedence(pos, d1, d2, 4);
  MakeCurvesTwistCompatible(pos, d1, d2, 4);
  if (KernelFailed()) return nullptr;
  Bspline* srf = LinearBlendSurface(pos, d1, d2, threeD);
  if (!srf) return nullptr;
  Bspline*** outs[3] = {posOut, d1Out, d2Out};
  Bspline** made[3] = {};
  for (int k = 0; k < 3; ++k)
    if (outs[k] && !(made[k] = HandOver(k == 0 ? pos : k == 1 ? d1 : d2))) {
      for (Bspline** m : made)
        if (m) Free(m);
      FreeBspline(srf);
      return nullptr;
    }
  for (int k = 0; k < 3; ++k)
    if (outs[k]) *outs[k] = made[k];
  // Arrays the caller did not ask for take their curves with them.
  for (int i = 0; i < 4; ++i) {
    if (posOut) pos[i] = nullptr;
    if (d1Out) d1[i] = nullptr;
    if (d2Out) d2[i] = nullptr;
  }
  return srf;
}

// ---- Cloud points to surface parameters ------------------------------------------------------

namespace {

// FindInitU and SolveForUV on a surface checked once for all the points of a cloud.
void InitialUV(const Bspline* srf, double x, double y, double* u, double* v, const double* gu,
               const double* gv) {
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  double best = kNoValue;
  int bi = 0, bj = 0;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      const double dx = srf->X[j][i] - x, dy = srf->Y[j][i] - y, d = dx * dx + dy * dy;
      if (d < best) best = d, bi = i, bj = j;
    }
  *u = gu[bi], *v = gv[bj];
}

// The larger x or y extent of the control net, at least the smallest positive double: the
// solver's tolerances are fractions of it, so one surface at any scale maps alike.
double NetXYSize(const Bspline* srf) {
  double lo[2] = {kNoValue, kNoValue}, hi[2] = {-kNoValue, -kNoValue};
  for (int j = 0; j < NumCtrlV(srf); ++j)
    for (int i = 0; i < NumCtrlU(srf); ++i) {
      lo[0] = std::min(lo[0], srf->X[j][i]), hi[0] = std::max(hi[0], srf->X[j][i]);
      lo[1] = std::min(lo[1], srf->Y[j][i]), hi[1] = std::max(hi[1], srf->Y[j][i]);
    }
  return std::max({hi[0] - lo[0], hi[1] - lo[1], std::numeric_limits<double>::min()});
}

int SolveUV(Bspline* srf, double x, double y, double* u, double* v) {
  const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  // Squared x-y errors in units of the surface's size (1e-10 converged, 1e-7 accepted), and the
  // Jacobian's determinant against that size per parameter range.
  const double s = NetXYSize(srf), s2 = s * s;
  const double detTol = 1e-6 * s2 / ((srf->umax - srf->umin) * (srf->vmax - srf->vmin));
  auto clampIn = [&]() {
    *u = std::clamp(*u, srf->umin, srf->umax);
    *v = std::clamp(*v, srf->vmin, srf->vmax);
  };
  for (int it = 0; it < 7; ++it) {
    clampIn();
    double out[3][3];
    if (EvalPointOnGeometryM(srf, *u, *v, du, dv, 3, 0, out) != 0) return -2;
    const double ex = x - out[0][0], ey = y - out[0][1];
    if (ex * ex + ey * ey < 1e-10 * s2) return 0;
    const double* Su = out[1];
    const double* Sv = out[2];
    const double det = Su[0] * Sv[1] - Sv[0] * Su[1];
    if (std::fabs(det) > detTol) {
      *u += (ex * Sv[1] - ey * Sv[0]) / det;
      *v += (ey * Su[0] - ex * Su[1]) / det;
    } else {
      // No Newton step: the larger error alone, along the parameter that moves that
      // coordinate most.
      const int c = std::fabs(ex) > std::fabs(ey) ? 0 : 1;
      const double e = c == 0 ? ex : ey;
      if (std::fabs(Su[c]) >= std::fabs(Sv[c]) && Su[c] != 0.0)
        *u += e / Su[c];
      else if (Sv[c] != 0.0)
        *v += e / Sv[c];
    }
  }
  clampIn();
  double P[3];
  Eval3DPointOnSurfArray(srf, *u, *v, 0, 0, P);
  const double ex = x - P[0], ey = y - P[1];
  return ex * ex + ey * ey < 1e-7 * s2 ? 0 : -2;
}

}  // namespace

void FindInitU(Bspline* srf, double x, double y, double* u, double* v, double* gu, double* gv) {
  if (!RecordShapesSound({srf})) return;
  if (srf->kind != 2 || !u || !v || !gu || !gv) {
    SetKernelError(-2);
    return;
  }
  InitialUV(srf, x, y, u, v, gu, gv);
}

int SolveForUV(Bspline* srf, double x, double y, double* u, double* v) {
  if (!RecordsSound({srf})) return -2;
  if (srf->kind != 2 || srf->dimension != 3 || !u || !v || !AllFinite({x, y, *u, *v})) {
    SetKernelError(-2);
    return -2;
  }
  return SolveUV(srf, x, y, u, v);
}

int xy2uv(Bspline* srf, Cloud* cloud, const double box[6]) {
  if (!BsplineShapeSound(srf) || srf->kind != 2 || srf->dimension != 3 || !cloud || !box ||
      cloud->npts < 0) {
    SetKernelError(-2);
    return -2;
  }
  const int n = cloud->npts;
  TrackingScope scope;
  Owned<float, Free> nu, nv, nz;
  {
    UntrackedScope kept;  // the cloud's new arrays: only the cloud's free releases them
    nu.reset(MallocArray<float>(n > 0 ? n : 1));
    nv.reset(MallocArray<float>(n > 0 ? n : 1));
    nz.reset(MallocArray<float>(n > 0 ? n : 1));
  }
  double* gu = FindParamValuesOfCoefi(srf, 0);
  double* gv = FindParamValuesOfCoefi(srf, 1);
  if (!nu || !nv || !nz || !gu || !gv) return -2;
  // Points farther apart than this are solved afresh rather than from the previous answer.
  const double dx = box[3] - box[0], dy = box[4] - box[1];
  const double restart = (dx * dx + dy * dy) / std::max({srf->interiorU, srf->interiorV, 1}) * 0.125;
  double zMin = kNoValue, zMax = -kNoValue;
  double uLo = srf->umax, uHi = srf->umin, vLo = srf->vmax, vHi = srf->vmin;
  int kept = 0;
  bool prevSolved = false;
  double px = 0.0, py = 0.0, u = 0.0, v = 0.0;
  for (int i = 0; i < n; ++i) {
    const double x = cloud->x[i], y = cloud->y[i];
    const double d2 = (x - px) * (x - px) + (y - py) * (y - py);
    if (!prevSolved || d2 > restart) InitialUV(srf, x, y, &u, &v, gu, gv);
    prevSolved = SolveUV(srf, x, y, &u, &v) == 0;
    px = x, py = y;
    if (!prevSolved) continue;
    nu[kept] = static_cast<float>(u), nv[kept] = static_cast<float>(v), nz[kept] = cloud->z[i];
    ++kept;
    zMin = std::min(zMin, static_cast<double>(cloud->z[i]));
    zMax = std::max(zMax, static_cast<double>(cloud->z[i]));
    uLo = std::min(uLo, u), uHi = std::max(uHi, u), vLo = std::min(vLo, v), vHi = std::max(vHi, v);
  }
  FreeAndNull(cloud->x), FreeAndNull(cloud->y), FreeAndNull(cloud->z);
  cloud->x = nu.release(), cloud->y = nv.release(), cloud->z = nz.release();
  cloud->npts = kept, cloud->nptsBuilt = kept, cloud->type = 0;
  cloud->zMin = zMin, cloud->zMax = zMax;
  if (kept == 0) {
    SetKernelError(-100);
    return -2;
  }
  if (uHi - uLo < 0.01 * (srf->umax - srf->umin) || vHi - vLo < 0.01 * (srf->vmax - srf->vmin)) {
    SetKernelError(100);
    return -2;
  }
  return 0;
}
