#include "construct/extend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/knots.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "curve/endspan.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/smooth.h"
#include "stitch/srfstitc.h"
#include "surface/srfextend.h"

// ---- Extrapolation of the end span ----------------------------------------------------------

Bspline* MakeExtendBspline(Bspline* obj, int end, double dt) {
  // A step that is not a positive number would leave the new end knots in or before the old span.
  if (!BsplineShapeSound(obj) || !(dt > 0.0) || !std::isfinite((end == 0 ? obj->umin : obj->umax) + dt)) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> e(MallocNullBspline());
  if (!e) return nullptr;
  const int d = obj->degreeU, n = NumCtrlU(obj);
  const bool surface = obj->kind == 2;
  e->kind = obj->kind;
  e->dimension = obj->dimension;
  e->rational = obj->rational;
  e->owner = obj->owner;
  e->degreeU = d;
  e->interiorU = obj->interiorU + d + 1;
  e->degreeV = obj->degreeV;
  e->interiorV = obj->interiorV;
  e->closedV = obj->closedV;
  if (AllocateBsplineArrays(e.get()) < 0 || KernelFailed()) return nullptr;
  const bool atStart = end == 0;
  const int nk = NumKnotsU(obj), shift = atStart ? d + 1 : 0;
  for (int i = 0; i < nk; ++i) e->knotsU[i + shift] = obj->knotsU[i];
  const double newEnd = atStart ? obj->umin - dt : obj->umax + dt;
  for (int i = 0; i <= d; ++i) e->knotsU[atStart ? i : nk + i] = newEnd;
  if (surface) std::memcpy(e->knotsV, obj->knotsV, sizeof(double) * NumKnotsV(obj));
  const int rows = surface ? NumCtrlV(obj) : 1, ne = n + d + 1;
  double** src[4] = {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr, obj->rational ? obj->W : nullptr};
  double** dst[4] = {e->X, e->Y, e->dimension == 3 ? e->Z : nullptr, e->rational ? e->W : nullptr};
  for (int c = 0; c < 4; ++c) {
    if (!dst[c]) continue;
    for (int r = 0; r < rows; ++r) {
      // Weight 1 on the new points keeps the record sound until they are filled.
      std::fill(dst[c][r], dst[c][r] + ne, c == 3 ? 1.0 : 0.0);
      std::memcpy(dst[c][r] + shift, src[c][r], sizeof(double) * n);
    }
  }
  SetDomainFromKnots(e.get(), 0);
  if (surface) SetDomainFromKnots(e.get(), 1);
  if (obj->quadricType == 25 && obj->quadric) {
    e->quadric = DuplicateQuadricInfo(obj->quadric, QuadricDoubles(25));
    if (!e->quadric) return nullptr;
    e->quadricType = 25;
  }
  scope.keep();
  return e.release();
}

void FillExtendCoefi(Bspline* ext, int end) {
  // The record is one MakeExtendBspline made: its new control points (weights 1) are what this
  // fills, so its structure, domain and knots are checked, not its whole net.
  if (!RecordShapesSound({ext})) return;
  if (!(ext->umin <= ext->umax) || !KnotVectorSound(ext->knotsU, ext->degreeU, NumCtrlU(ext)) ||
      (ext->kind == 2 && !KnotVectorSound(ext->knotsV, ext->degreeV, NumCtrlV(ext)))) {
    SetKernelError(-2);
    return;
  }
  // The old end span's derivatives read min(d, 3) knot intervals before the old end.
  if (NumCtrlU(ext) - ext->degreeU - 1 < std::max(1, std::min(ext->degreeU, 3))) {
    SetKernelError(-2);
    return;
  }
  // The start case is the end case of the reversed record.
  if (end == 0) ReverseDirection(ext, 0);
  const int d = ext->degreeU, n = NumCtrlU(ext) - d - 1;
  const double* k = ext->knotsU;
  const double h0 = k[n] - k[n - 1];
  const double h1 = d >= 2 ? k[n - 1] - k[n - 2] : 0.0;
  const double h2 = d >= 3 ? k[n - 2] - k[n - 3] : 0.0;
  const double L = ext->umax - k[n];
  const bool rat = ext->rational != 0;
  double** C[4] = {ext->X, ext->Y, ext->dimension == 3 ? ext->Z : nullptr, rat ? ext->W : nullptr};
  const int rows = ext->kind == 2 ? NumCtrlV(ext) : 1;
  for (int r = 0; r < rows; ++r) {
    // Homogeneous points n - 4 .. n + 3 (those that exist), the weight as a fourth coordinate.
    double H[4][8] = {};
    const int lo = std::max(0, n - 4);
    for (int c = 0; c < 4; ++c) {
      if (!C[c]) continue;
      for (int i = lo; i < n; ++i) {
        const double w = rat && c < 3 ? C[3][r][i] : 1.0;
        H[c][i - (n - 4)] = C[c][r][i] * w;
      }
    }
    for (int c = 0; c < 4; ++c) {
      if (!C[c]) continue;
      double* h = H[c] + 4;  // h[-1] = P, h[-2] = Q1, h[-3] = Q2, h[-4] = Q3
      const double P = h[-1], Q1 = h[-2];
      const double D1 = (P - Q1) / h0;
      h[0] = P;
      h[1] = P + L * D1;
      if (d >= 2) {
        const double D1p = (Q1 - h[-3]) / (h1 + h0);
        h[2] = 2.0 * h[1] - h[0] + (D1 - D1p) * L * L / h0;
        if (d >= 3) {
          const double D2p = (h[-3] - h[-4]) / (h2 + h1 + h0);
          const double B = L * L * L * ((D1 - D1p) / h0 - (D1p - D2p) / (h1 + h0)) / h0;
          h[3] = 3.0 * (h[2] - h[1]) + h[0] + B;
        }
      }
    }
    const int made = std::min(d, 3);
    for (int i = 0; i <= made; ++i) {
      const double w = rat ? H[3][4 + i] : 1.0;
      for (int c = 0; c < 3; ++c)
        if (C[c]) C[c][r][n + i] = H[c][4 + i] / w;
      if (rat) C[3][r][n + i] = w;
    }
    for (int i = n + 4; i <= n + d; ++i) {
      for (int c = 0; c < 3; ++c)
        if (C[c]) C[c][r][i] = 2.0 * C[c][r][i - 1] - C[c][r][i - 2];
      if (rat) C[3][r][i] = C[3][r][i - 1];
    }
  }
  if (end == 0) ReverseDirection(ext, 0);
}

namespace {

// The extension's length is met to this fraction (its polyline measure is finer than that).
constexpr double kLengthAgreement = 1e-6;
// Rounds of matching the parameter step to the length; each multiplies the step by the ratio of
// asked to measured length, which settles in a few when the length grows smoothly with the step.
constexpr int kLengthRounds = 40;
// Polyline steps for the measure of one line across the added part.
constexpr int kLengthSteps = 1000;

// obj with its end span continued by dt in parameter (v edges computed on a transposed copy, so
// that obj is never touched: a flip back after a failure would itself be refused). Null on
// failure.
Bspline* ExtrapolatedBy(Bspline* obj, int end, bool inV, double dt) {
  Owned<Bspline, FreeBspline> flipped(inV ? GetSrfBsplineTranspose(obj) : nullptr);
  if (inV && (!flipped || KernelFailed())) return nullptr;
  Owned<Bspline, FreeBspline> ext(MakeExtendBspline(inV ? flipped.get() : obj, end, dt));
  if (ext) FillExtendCoefi(ext.get(), end);
  if (!ext || KernelFailed() || (inV && FlipBspline(ext.get()) != 0)) return nullptr;
  return ext.release();
}

// The length of the part ext added to obj across the edge: of a curve its arc; of a surface the
// shortest arc across over 2 n + 1 lines along the edge (n the control points along it), the
// mean when the shortest is under a thousandth of the longest (a collapsed edge), as the
// by-length bridges measure. -1 on failure.
double AddedLength(Bspline* ext, const Bspline* obj, int edge, bool inV) {
  const bool atMin = EdgeAtMinimum(edge);
  if (obj->kind == 1) {
    const double t1 = atMin ? ext->umin : obj->umax, t2 = atMin ? obj->umin : ext->umax;
    return GetPartCurveLength(ext, t1, t2, kLengthSteps);
  }
  const double lo = inV ? obj->umin : obj->vmin, hi = inV ? obj->umax : obj->vmax;
  const double a = inV ? (atMin ? ext->vmin : obj->vmax) : (atMin ? ext->umin : obj->umax);
  const double b = inV ? (atMin ? obj->vmin : ext->vmax) : (atMin ? obj->umin : ext->umax);
  const int lines = 2 * (inV ? NumCtrlU(obj) : NumCtrlV(obj)) + 1;
  double shortest = kEmptyBoxBound, longest = 0.0, sum = 0.0;
  for (int i = 0; i < lines; ++i) {
    const double s = lo + (hi - lo) * i / (lines - 1);
    Owned<Bspline, FreeBspline> iso(inV ? IsoCurve3(ext, s, 0.0, 1) : IsoCurve3(ext, 0.0, s, 0));
    if (!iso || KernelFailed()) return -1.0;
    const double L = GetPartCurveLength(iso.get(), a, b, kLengthSteps);
    shortest = std::min(shortest, L);
    longest = std::max(longest, L);
    sum += L;
  }
  return shortest < 1e-3 * longest ? sum / lines : shortest;
}

}  // namespace

Bspline* ExtendObjectByLengthG2(Bspline* obj, double length, int, int edge) {
  if (!RecordsSound({obj}) || !std::isfinite(length)) {
    SetKernelError(-2);
    return nullptr;
  }
  const bool surface = obj->kind == 2;
  const bool inV = surface && (edge == 1 || edge == 3);
  double a, b, S;
  if (surface) {
    a = inV ? obj->vmin : obj->umin;
    b = inV ? obj->vmax : obj->umax;
    S = ControlPolygonSpan(obj, inV ? 1 : 0, 0);
  } else {
    const int d = obj->degreeU;
    a = edge == 0 ? obj->umin : obj->knotsU[d + obj->interiorU];
    b = edge == 0 ? obj->knotsU[d + 1] : obj->umax;
    S = GetPartCurveLength(obj, a, b, 1000);
  }
  // An end without length gives no parameter speed to extrapolate with.
  if (!(S > 0.0) || !std::isfinite(S)) {
    SetKernelError(-2);
    return nullptr;
  }
  const int end = surface ? (inV ? (edge == 1 ? 2 : 0) : edge) : (edge == 0 ? 0 : 2);
  // The first step from the parameter speed; then the step is matched to the length of the
  // added part (a curve on a surface keeps the first step: it is cut back at the surface's edge).
  double dt = (b - a) / S * length;
  Owned<Bspline, FreeBspline> ext(ExtrapolatedBy(obj, end, inV, dt));
  if (!ext) return MadeOrFailed<Bspline>(nullptr);
  if (obj->dimension == 3 && length > 0.0) {
    for (int round = 0;; ++round) {
      const double L = AddedLength(ext.get(), obj, edge, inV);
      if (KernelFailed()) return nullptr;
      if (!(L > 0.0) || !std::isfinite(L) || round == kLengthRounds) {
        SetKernelError(-2);
        return nullptr;
      }
      if (std::fabs(L - length) <= kLengthAgreement * length) break;
      dt *= std::clamp(length / L, 0.1, 10.0);
      ext.reset(ExtrapolatedBy(obj, end, inV, dt));
      if (!ext) return MadeOrFailed<Bspline>(nullptr);
    }
  }
  const int dir = inV ? 1 : 0;
  const KnotDirection kd = DirectionOf(ext.get(), dir);
  const double t = end == 0 ? kd.knots[kd.p + 1] : kd.knots[kd.nCtrl - 1];
  const int copies = std::min(kd.p + 1, 4);
  double values[4] = {t, t, t, t}, dev = 0.0;
  Bspline* e = ext.get();
  if (RemoveKnotsOfObjSet(&e, 1, dir, 2, values, copies, 0, 0.0, &dev) != copies || KernelFailed()) {
    if (!KernelFailed()) SetKernelError(-2);
    return nullptr;
  }
  return ext.release();
}

// ---- Extension ------------------------------------------------------------------------------

namespace {

Bspline* ExtendSoundObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                           int uniform, int edge, int cont, double scale) {
  const bool noTarget = !targetCurve && !targetPoint;
  if (noTarget) {
    const int lowered = PrepareExtension(obj, edge, cont);
    if (lowered != 2 || length == 0.0)
      return ExtendObjectByBridge(obj, length, uniform, edge, lowered, scale);
    Bspline* ext = ExtendObjectByLengthG2(obj, length, uniform, edge);
    if (!ext) return nullptr;
    if (obj->kind == 1 && obj->dimension == 2) {
      Bspline* cut = SnipExtensionAtDomainEdge(ext, obj, edge == 0);
      FreeBspline(ext);
      return cut;
    }
    HandCurvesOver(obj, ext);
    return ext;
  }
  cont = PrepareExtension(obj, edge, cont);
  Owned<Bspline, FreeBspline> bridge(
      BridgeObject(obj, targetCurve, targetPoint, length, uniform, edge, cont));
  if (!bridge) return nullptr;
  bool tiny = false;
  Bspline* moved = ExtensionByTinyBridge(obj, bridge.get(), edge, true, &tiny);
  if (tiny) return moved;
  StitchInfo info = {cont, 0, 1, 3, -1.0, -1.0, 1.0, scale, 1.0, 0.0};
  if (cont >= bridge->degreeU) {
    InsertNKnotsToObject(1, 1, 0, bridge.get(), 1, nullptr);
    if (KernelFailed()) return nullptr;
  }
  Bspline* pair[3] = {obj, bridge.get(), nullptr};
  int bndry[2] = {edge, 0};
  return BlendTwoObjects(bndry, pair, nullptr, nullptr, nullptr, &info);
}

}  // namespace

Bspline* ExtendObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                      int uniform, int edge, int cont, double scale) {
  if (!RecordsSound({obj}) || (targetCurve && !RecordsSound({targetCurve})) ||
      (targetPoint && !AllFinite(targetPoint, obj->dimension)) || !std::isfinite(length) || !std::isfinite(scale) ||
      cont < 0 || cont > 2) {
    SetKernelError(-2);
    return nullptr;
  }
  Bspline* ext = ExtendSoundObject(obj, targetCurve, targetPoint, length, uniform, edge, cont, scale);
  // The blend onto a rational object's bridge can take weights through zero: such a result is
  // no extension, and the curves it was handed go back to obj.
  if (!ext || BsplineSound(ext)) return ext;
  HandCurvesOver(ext, obj);
  return SoundRecordOrFailed(ext);
}

Bspline* SnipCrvOnSrfAtSrfEdge(Bspline* ext, Bspline* orig, int atStart) {
  return SnipExtensionAtDomainEdge(ext, orig, atStart);
}

void CascadeKnotVecOfObjSet(Bspline** objs, int n, int* dirs) { CascadeKnotVectors(objs, n, dirs); }

// ---- Bridge patches -------------------------------------------------------------------------

Bspline* MakeBridgeObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                          int uniform, int edge, int cont) {
  return BridgeObject(obj, targetCurve, targetPoint, length, uniform, edge, cont);
}

void MakeBPatchFromObjEdgeToCurve3(Bspline* obj, int edge, double* x, double* y, double* z,
                                   double* w, Bspline** patch) {
  BridgePatchToTargets(obj, edge, x, y, z, w, patch);
}

int MakeBPatchOfCnToObj(Bspline* obj, int edge, double length, int uniform, int cont,
                        Bspline** patch) {
  return BridgePatchByLength(obj, edge, length, uniform, cont, patch);
}

int PutEndSpanOfObjToBpatch(Bspline* obj, int dir, int edge) { return InsertEndSpanKnots(obj, dir, edge); }

void Reflect3DVector1(double* ax, double* ay, double* az, double* bx, double* by, double* bz,
                      int strideA, int strideB, int n, double* ox, double* oy, double* oz) {
  ReflectPointsThrough(ax, ay, az, bx, by, bz, strideA, strideB, n, ox, oy, oz);
}

void Reflect3DVector2(double* ax, double* ay, double* az, double* bx, double* by, double* bz,
                      double* cx, double* cy, double* cz, int stride, int n, double* ox,
                      double* oy, double* oz) {
  MirrorInNormalPlanes(ax, ay, az, bx, by, bz, cx, cy, cz, stride, n, ox, oy, oz);
}

void FindExtremeLinesInGrid(double* x, double* y, double* z, int pointStride, int lineStride,
                            int pointsPerLine, int lines, double out[2]) {
  GridLineLengthExtremes(x, y, z, pointStride, lineStride, pointsPerLine, lines, out);
}

void ScaleMatWithRespectToVec(double* m, double* ref, double s, int n, int stride) {
  ScaleAboutReference(m, ref, s, n, stride);
}

void MakeCntrlMatUniformLength(Bspline* srf, double length, int dir) {
  StretchLinesToLength(srf, length, dir);
}
