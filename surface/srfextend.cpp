#include "surface/srfextend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cutcurves.h"
#include "bspline/isocurve.h"
#include "bspline/kremove.h"
#include "bspline/measure.h"
#include "bspline/knots.h"
#include "bspline/objjoin.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "curve/endspan.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/srfsnip.h"

namespace {

// Below this fraction of the part's size a by-length patch is refused and a bridge counts as no
// extension at all.
constexpr double kShortestBridge = 0.001;

// The diagonal of the box of an object's control points in its own coordinates ((u, v) for a
// curve on a surface, the units its bridges are made in).
double OwnControlDiagonal(const Bspline* obj) {
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound}, hi[3];
  for (int k = 0; k < 3; ++k) hi[k] = -lo[k];
  const int rows = obj->kind == 2 ? NumCtrlV(obj) : 1, n = NumCtrlU(obj);
  double** c[3] = {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr};
  for (int k = 0; k < 3; ++k)
    for (int r = 0; r < rows && c[k]; ++r)
      for (int i = 0; i < n; ++i) {
        lo[k] = std::min(lo[k], c[k][r][i]);
        hi[k] = std::max(hi[k], c[k][r][i]);
      }
  double sq = 0.0;
  for (int k = 0; k < 3; ++k)
    if (c[k]) sq += (hi[k] - lo[k]) * (hi[k] - lo[k]);
  return std::sqrt(sq);
}

// The control points of an object as rows across an edge: row r counted from the edge inward,
// point k along it, both addressed in the flat coefficient block.
struct EdgeRows {
  int nAcross;  // rows
  int nAlong;   // points per row
  int first;    // flat index of row 0, point 0
  int inward;   // flat step from row r to row r + 1
  int along;    // flat step from point k to point k + 1
  int at(int r, int k) const { return first + r * inward + k * along; }
};

EdgeRows RowsAtEdge(const Bspline* obj, int edge) {
  const int dir = DirectionAcrossEdge(obj, edge);
  const int nU = NumCtrlU(obj);
  EdgeRows e{};
  e.nAcross = dir ? NumCtrlV(obj) : nU;
  e.nAlong = obj->kind == 2 ? (dir ? nU : NumCtrlV(obj)) : 1;
  const int step = dir ? nU : 1;
  e.along = dir ? 1 : nU;
  e.first = EdgeAtMinimum(edge) ? 0 : (e.nAcross - 1) * step;
  e.inward = EdgeAtMinimum(edge) ? step : -step;
  return e;
}

// A new record, outside every scope, with arrays for the given shape. Null on failure.
Bspline* NewRecord(int kind, int dimension, int rational, int pu, int iu, int pv, int iv) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> b(MallocNullBspline());
  if (!b || KernelFailed()) return nullptr;
  b->kind = kind;
  b->dimension = dimension;
  b->rational = rational;
  b->degreeU = pu;
  b->interiorU = iu;
  b->degreeV = kind == 2 ? pv : 0;
  b->interiorV = kind == 2 ? iv : 0;
  if (AllocateBsplineArrays(b.get()) < 0 || KernelFailed()) return nullptr;
  scope.keep();
  return b.release();
}

// Degree, interior count and knots of the direction along an edge (surfaces only).
struct AlongData {
  int p;
  int interior;
  const double* knots;
  double lo, hi;
};

AlongData AlongEdge(const Bspline* obj, int edge) {
  const bool alongV = DirectionAcrossEdge(obj, edge) == 0;
  if (alongV) return {obj->degreeV, obj->interiorV, obj->knotsV, obj->vmin, obj->vmax};
  return {obj->degreeU, obj->interiorU, obj->knotsU, obj->umin, obj->umax};
}

}  // namespace

// ---- Bridge patches -----------------------------------------------------------------------

namespace {

double PolylineLength(const double* x, const double* y, const double* z, int start, int stride,
                      int count) {
  double len = 0.0;
  for (int i = 1; i < count; ++i) {
    const int a = start + (i - 1) * stride, b = a + stride;
    const double dz = z ? z[b] - z[a] : 0.0;
    len += std::sqrt((x[b] - x[a]) * (x[b] - x[a]) + (y[b] - y[a]) * (y[b] - y[a]) + dz * dz);
  }
  return len;
}

}  // namespace

void GridLineLengthExtremes(const double* x, const double* y, const double* z, int pointStride,
                            int lineStride, int pointsPerLine, int lines, double out[2]) {
  if (!out) return;
  out[0] = 1.797693e308;
  out[1] = 0.0;
  if (!x || !y || pointStride < 0 || lineStride < 0) return;
  for (int l = 0; l < lines; ++l) {
    const double len = PolylineLength(x, y, z, l * lineStride, pointStride, pointsPerLine);
    out[0] = std::min(out[0], len);
    out[1] = std::max(out[1], len);
  }
}

void ScaleAboutReference(double* m, const double* ref, double s, int n, int stride) {
  if (!ref || n < 1 || stride < 1) return;
  for (int i = 0; i < n; ++i) m[i] = ref[i % stride] + s * (m[i] - ref[i % stride]);
}

void StretchLinesToLength(Bspline* srf, double length, int dir) {
  if (!RecordShapesSound({srf}) || srf->kind != 2 || !(length >= 1e-6)) return;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  const int lines = dir ? nU : nV, points = dir ? nV : nU;
  const int pointStride = dir ? nU : 1, lineStride = dir ? 1 : nU;
  if (points < 2) return;
  double* c[3] = {srf->X[0], srf->Y[0], srf->dimension == 3 ? srf->Z[0] : nullptr};
  for (int l = 0; l < lines; ++l) {
    const double L = PolylineLength(c[0], c[1], c[2], l * lineStride, pointStride, points);
    // A line this much shorter than the target is a collapsed one: lengthening its last leg
    // would make a spike.
    if (!(L < length) || L / length <= 0.001) continue;
    const int last = l * lineStride + (points - 1) * pointStride, prev = last - pointStride;
    double s = PolylineLength(c[0], c[1], c[2], prev, pointStride, 2);
    if (s < 1e-10) s = 1e-10;
    const double f = (length - L + s) / s;
    for (double* v : c)
      if (v) v[last] = v[prev] + f * (v[last] - v[prev]);
  }
}

int BridgePatchToTargets(Bspline* obj, int edge, const double* x, const double* y,
                         const double* z, const double* w, Bspline** patch) {
  *patch = nullptr;
  if (!BsplineShapeSound(obj) || !x || !y) {
    SetKernelError(-2);
    return 0;
  }
  const bool surface = obj->kind == 2;
  const int d = DirectionAcrossEdge(obj, edge) ? obj->degreeV : obj->degreeU;
  const EdgeRows rows = RowsAtEdge(obj, edge);
  const bool has3 = obj->dimension == 3;
  // u runs across (0 at the edge, 1 at the targets), v along the edge.
  const AlongData al = surface ? AlongEdge(obj, edge) : AlongData{};
  Owned<Bspline, FreeBspline> b(NewRecord(obj->kind, obj->dimension, obj->rational, d, 0,
                                          al.p, al.interior));
  if (!b) return 0;
  if (obj->dimension == 2) b->owner = obj->owner;
  for (int i = 0; i <= d; ++i) b->knotsU[i] = 0.0, b->knotsU[d + 1 + i] = 1.0;
  if (surface) std::memcpy(b->knotsV, al.knots, sizeof(double) * (rows.nAlong + al.p + 1));
  const double* src[4] = {obj->X[0], obj->Y[0], has3 ? obj->Z[0] : nullptr,
                          obj->rational ? obj->W[0] : nullptr};
  const double* tgt[4] = {x, y, z, w};
  double* dst[4] = {b->X[0], b->Y[0], has3 ? b->Z[0] : nullptr,
                    obj->rational ? b->W[0] : nullptr};
  for (int c = 0; c < 4; ++c) {
    if (!dst[c]) continue;
    for (int k = 0; k < rows.nAlong; ++k) {
      const double S = src[c][rows.at(0, k)];
      // A curve's target point carries no weight of its own.
      const double T = tgt[c] ? tgt[c][k] : (c == 3 ? 1.0 : 0.0);
      for (int i = 0; i < d; ++i) dst[c][k * (d + 1) + i] = S + i * (T - S) / d;
      dst[c][k * (d + 1) + d] = T;
    }
  }
  SetDomainFromKnots(b.get(), 0);
  if (surface) SetDomainFromKnots(b.get(), 1);
  *patch = b.release();
  return 1;
}

int BridgePatchByLength(Bspline* obj, int edge, double length, int uniform, int cont,
                        Bspline** patch) {
  *patch = nullptr;
  if (!BsplineShapeSound(obj) || cont < 0 || cont > 2) {
    SetKernelError(-2);
    return 0;
  }
  // The length is the caller's, in 3D also for a curve on a surface.
  if (std::fabs(length) < kShortestBridge * ControlPointDiagonal(obj)) return 0;
  const bool surface = obj->kind == 2;
  const int dir = DirectionAcrossEdge(obj, edge);
  const KnotDirection across = DirectionOf(obj, dir);
  const int d = across.p, dP = std::min(d, 3);
  // The span next to the edge; with curvature continuity its Bezier rows are mirrored.
  const double dk = EdgeAtMinimum(edge) ? across.knots[d + 1] - across.knots[d]
                                         : across.knots[across.nCtrl] - across.knots[across.nCtrl - 1];
  bool ownedSpan = false;
  Bspline* src = cont == 2 ? BezierEndSpan(obj, edge, &ownedSpan) : obj;
  if (!src) return 0;
  Owned<Bspline, FreeBspline> spanHold(ownedSpan ? src : nullptr);
  const EdgeRows rows = RowsAtEdge(src, edge);
  if (rows.nAcross < (cont == 2 ? std::min(dP, 3) + 1 : 2)) {
    SetKernelError(-2);
    return 0;
  }
  // u runs along the edge, v across it (0 at the edge).
  const AlongData al = surface ? AlongEdge(obj, edge) : AlongData{};
  Owned<Bspline, FreeBspline> b(surface ? NewRecord(2, 3, obj->rational, al.p, al.interior, dP, 0)
                                        : NewRecord(1, obj->dimension, obj->rational, dP, 0, 0, 0));
  if (!b) return 0;
  if (obj->dimension == 2) b->owner = obj->owner;
  const int n = rows.nAlong;
  const bool has3 = obj->dimension == 3;
  double* P[3] = {b->X[0], b->Y[0], has3 ? b->Z[0] : nullptr};
  const double* S[3] = {src->X[0], src->Y[0], has3 ? src->Z[0] : nullptr};
  // Patch row r holds points r n .. r n + n - 1.
  for (int c = 0; c < 3; ++c)
    if (P[c])
      for (int k = 0; k < n; ++k) P[c][k] = S[c][rows.at(0, k)];
  ReflectPointsThrough(S[0] + rows.at(1, 0), S[1] + rows.at(1, 0), S[2] ? S[2] + rows.at(1, 0) : nullptr,
                       P[0], P[1], P[2], rows.along, 1, n, P[0] + n, P[1] + n, P[2] ? P[2] + n : nullptr);
  for (int r = 2; r <= dP; ++r) {
    if (cont == 2) {
      MirrorInNormalPlanes(S[0] + rows.at(1, 0), S[1] + rows.at(1, 0),
                           S[2] ? S[2] + rows.at(1, 0) : nullptr, S[0] + rows.at(0, 0),
                           S[1] + rows.at(0, 0), S[2] ? S[2] + rows.at(0, 0) : nullptr,
                           S[0] + rows.at(r, 0), S[1] + rows.at(r, 0),
                           S[2] ? S[2] + rows.at(r, 0) : nullptr, rows.along, n, P[0] + r * n,
                           P[1] + r * n, P[2] ? P[2] + r * n : nullptr);
      continue;
    }
    for (int c = 0; c < 3; ++c)
      if (P[c])
        for (int k = 0; k < n; ++k)
          P[c][r * n + k] = 2.0 * P[c][(r - 1) * n + k] - P[c][(r - 2) * n + k];
  }
  double ext[2];
  GridLineLengthExtremes(P[0], P[1], P[2], n, 1, dP + 1, n, ext);
  double L0;
  if (ext[1] < 1e-10)
    L0 = 1e-10;
  else if (uniform && surface)
    L0 = ext[1];
  else
    L0 = ext[0] / ext[1] < 0.001 ? 0.5 * (ext[0] + ext[1]) : ext[0];
  if (obj->dimension == 2 && obj->owner) {
    // A curve in its owner's parameter plane: the length in parameter units.
    Bspline* o = obj->owner;
    const double span = ControlPolygonSpan(o, 0, 1) + ControlPolygonSpan(o, 1, 1);
    if (span > 0.0) length *= ((o->umax - o->umin) + (o->vmax - o->vmin)) / span;
  }
  const double ratio = length / L0;
  for (int c = 0; c < 3; ++c)
    if (P[c]) ScaleAboutReference(P[c] + n, P[c], ratio, dP * n, n);
  if (uniform && surface) StretchLinesToLength(b.get(), length, 1);
  double* kn = surface ? b->knotsV : b->knotsU;
  if (surface) std::memcpy(b->knotsU, al.knots, sizeof(double) * (n + al.p + 1));
  for (int i = 0; i <= dP; ++i) kn[i] = 0.0, kn[dP + 1 + i] = dk * ratio;
  if (obj->rational) {
    for (int r = 0; r <= dP; ++r)
      for (int k = 0; k < n; ++k) b->W[0][r * n + k] = src->W[0][rows.at(r, k)];
  }
  SetDomainFromKnots(b.get(), 0);
  if (surface) SetDomainFromKnots(b.get(), 1);
  *patch = b.release();
  return 1;
}

Bspline* BridgeObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                      int uniform, int edge, int cont) {
  if (!BsplineSound(obj) || cont < 0 || cont > 2 || (targetPoint && !AllFinite(targetPoint, obj->dimension))) {
    SetKernelError(-2);
    return nullptr;
  }
  Bspline* patch = nullptr;
  if (obj->kind == 2 && targetCurve) {
    if (!BsplineSound(targetCurve) || targetCurve->kind != 1 || targetCurve->dimension != 3) {
      SetKernelError(-2);
      return nullptr;
    }
    Bspline* pair[2] = {obj, targetCurve};
    int bndry[2] = {edge, 0};
    int dirs[2] = {edge == 0 || edge == 2 ? 1 : 0, 0};
    if (MatchBoundaryDirections(pair, bndry, 2) < 0 || KernelFailed()) return nullptr;
    RaiseToCommonDegree(pair, dirs, 2);
    if (KernelFailed()) return nullptr;
    MatchRationality(pair, 2);
    if (KernelFailed()) return nullptr;
    MakeKnotVectorsCompatible(pair, dirs, 2, 1);
    if (KernelFailed()) return nullptr;
    const Bspline* t = targetCurve;
    if (NumCtrlU(t) != RowsAtEdge(obj, edge).nAlong) {
      SetKernelError(-2);
      return nullptr;
    }
    BridgePatchToTargets(obj, edge, t->X[0], t->Y[0], t->Z[0], t->rational ? t->W[0] : nullptr,
                         &patch);
    return patch ? SoundRecordOrFailed(patch) : nullptr;
  }
  if (targetPoint) {
    // A surface's boundary needs one target per control point along it; a single point has one.
    if (obj->kind == 2) {
      SetKernelError(-2);
      return nullptr;
    }
    const double* z = obj->dimension == 3 ? targetPoint + 2 : nullptr;
    BridgePatchToTargets(obj, edge, targetPoint, targetPoint + 1, z, nullptr, &patch);
    return patch ? SoundRecordOrFailed(patch) : nullptr;
  }
  BridgePatchByLength(obj, edge, length, uniform, cont, &patch);
  return patch ? SoundRecordOrFailed(patch) : nullptr;
}

// ---- Extension by a bridge ----------------------------------------------------------------

Bspline* SnipExtensionAtDomainEdge(Bspline* ext, Bspline* orig, int atStart) {
  if (!ext || ext->kind != 1 || ext->dimension != 2) return ext;
  Bspline* srf = ext->owner;
  if (!srf || !orig) {
    SetKernelError(-2);
    return nullptr;
  }
  // Room for the join parameter besides the crossings.
  Owned<double, Free> crossHold(MallocArray<double>(kMaxBoundaryCrossings + 1));
  double* cross = crossHold.get();
  if (!cross) return nullptr;
  int count = 0;
  if (DomainBoundaryCrossings(ext, cross, &count) != 0) return nullptr;
  const double tj = atStart ? orig->umin : orig->umax;
  const double tolU = 1e-4 * (srf->umax - srf->umin), tolV = 1e-4 * (srf->vmax - srf->vmin);
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, orig, tj, 0, uv);
  const bool onEdge = std::fabs(uv[0] - srf->umin) <= tolU || std::fabs(uv[0] - srf->umax) <= tolU ||
                      std::fabs(uv[1] - srf->vmin) <= tolV || std::fabs(uv[1] - srf->vmax) <= tolV;
  if (onEdge) {
    cross[count++] = tj;
    std::sort(cross, cross + count);
  }
  if (count < 3) return CopyBsplineStruct(ext);
  const double tol = 1e-6 * (orig->umax - orig->umin);
  int at = -1;
  if (atStart) {
    for (int i = 0; i < count; ++i)
      if (cross[i] < tj || std::fabs(cross[i] - tj) <= tol) at = i;
  } else {
    for (int i = count - 1; i >= 0; --i)
      if (cross[i] >= tj || std::fabs(cross[i] - tj) <= tol) at = i;
  }
  // No crossing on the required side, or the cut would fall on the extension's own end: the
  // extension is kept whole.
  const double etol = 1e-6 * (ext->umax - ext->umin);
  if (at < 0 || cross[at] <= ext->umin + etol || cross[at] >= ext->umax - etol)
    return CopyBsplineStruct(ext);
  double par = cross[at];
  Bspline* pieces[2] = {nullptr, nullptr};
  if (SplitObjectToNObjects(ext, 1, &par, 0, pieces) != 0) return nullptr;
  Bspline* kept = atStart ? pieces[1] : pieces[0];
  FreeBspline(atStart ? pieces[0] : pieces[1]);
  if (!kept) return nullptr;
  const int i = atStart ? 0 : NumCtrlU(kept) - 1;
  double& u = kept->X[0][i];
  double& v = kept->Y[0][i];
  if (std::fabs(u - srf->umin) <= tolU) u = srf->umin;
  if (std::fabs(u - srf->umax) <= tolU) u = srf->umax;
  if (std::fabs(v - srf->vmin) <= tolV) v = srf->vmin;
  if (std::fabs(v - srf->vmax) <= tolV) v = srf->vmax;
  return kept;
}

void CascadeKnotVectors(Bspline** objs, int n, const int* dirs) {
  for (int i = 0; i + 1 < n; ++i) {
    Bspline* A = objs[i];
    Bspline* B = objs[i + 1];
    if (A == B) continue;
    const int da = A->kind == 2 && dirs && dirs[i] ? 1 : 0;
    const int db = B->kind == 2 && dirs && dirs[i + 1] ? 1 : 0;
    const KnotDirection a = DirectionOf(A, da), b = DirectionOf(B, db);
    const double shift = a.knots[a.nCtrl + a.p] - b.knots[0];
    for (int j = 0; j < b.nCtrl + b.p + 1; ++j) b.knots[j] += shift;
    if (B->kind == 2) PropotionCurveListCoefi(B->curves, 1.0, shift, db);
    SetDomainFromKnots(B, db);
  }
}

int PrepareExtension(Bspline* obj, int edge, int cont) {
  if (obj->kind == 2) DeleteTrimInfoOfBsplSet(&obj, 1);
  const int d = DirectionAcrossEdge(obj, edge) ? obj->degreeV : obj->degreeU;
  return d < 2 && d < cont ? d : cont;
}

void HandCurvesOver(Bspline* obj, Bspline* result) {
  if (obj->kind != 2 || !result || result == obj) return;
  for (BsplineList* l = obj->curves; l; l = l->next)
    if (l->item) l->item->owner = result;
  // The result's own list (none for the records made here) stays behind the handed curves.
  BsplineList** tail = &obj->curves;
  while (*tail) tail = &(*tail)->next;
  *tail = result->curves;
  result->curves = obj->curves;
  obj->curves = nullptr;
}

Bspline* ExtensionByTinyBridge(Bspline* obj, Bspline* bridge, int edge, bool toTarget,
                               bool* tiny) {
  *tiny = ControlPolygonSpan(bridge, toTarget ? 0 : 1, 0) <
          kShortestBridge * OwnControlDiagonal(obj);
  if (!*tiny) return nullptr;
  Bspline* copy = CopyBsplineStruct(obj);
  if (!copy) return nullptr;
  if (obj->kind == 1) {
    const int i = edge == 0 ? 0 : NumCtrlU(copy) - 1;
    const int last = NumCtrlU(bridge) - 1;
    copy->X[0][i] = bridge->X[0][last];
    copy->Y[0][i] = bridge->Y[0][last];
    if (copy->dimension == 3) copy->Z[0][i] = bridge->Z[0][last];
    return copy;
  }
  // The far line: across a target patch u runs across, across a by-length patch v does.
  const int srcIndex = toTarget ? NumCtrlU(bridge) - 1 : NumCtrlV(bridge) - 1;
  const int dstIsColumn = edge == 0 || edge == 2;
  const int dstIndex = edge == 0 || edge == 3 ? 0 : (dstIsColumn ? NumCtrlU(copy) : NumCtrlV(copy)) - 1;
  CopyControlLineOfSurf(copy, bridge, dstIsColumn, toTarget ? 1 : 0, dstIndex, srcIndex);
  return copy;
}

Bspline* ExtendObjectByBridge(Bspline* obj, double length, int uniform, int edge, int cont,
                              double scale) {
  if (!BsplineShapeSound(obj) || cont < 0 || cont > 2) {
    SetKernelError(-2);
    return nullptr;
  }
  cont = PrepareExtension(obj, edge, cont);
  if (length == 0.0) {
    Bspline* copy = CopyBsplineStruct(obj);
    HandCurvesOver(obj, copy);
    return copy;
  }
  if (cont == 2) {
    SetKernelError(-2);
    return nullptr;
  }
  Owned<Bspline, FreeBspline> bridge(BridgeObject(obj, nullptr, nullptr, length, uniform, edge, cont));
  if (!bridge) return nullptr;
  bool tiny = false;
  Bspline* moved = ExtensionByTinyBridge(obj, bridge.get(), edge, false, &tiny);
  if (tiny) return moved;

  const int acrossObj = DirectionAcrossEdge(obj, edge);
  Bspline* pair[3] = {obj, bridge.get(), nullptr};
  int bndry[2] = {edge, 3};
  OrientPairEndToStart(bndry, pair);
  const bool reoriented = bndry[0] != edge;
  int along[2] = {acrossObj ? 0 : 1, 0};
  int across[2] = {acrossObj, 1};
  RaiseToCommonDegree(pair, along, 2);
  if (KernelFailed()) return nullptr;
  RaiseToCommonDegree(pair, across, 2);
  if (KernelFailed()) return nullptr;
  MatchRationality(pair, 2);
  if (KernelFailed()) return nullptr;
  CascadeKnotVectors(pair, 2, across);
  double t = 0.0;
  Owned<Bspline, FreeBspline> joined(JoinObjectPair(pair, nullptr, along, &t, 1));
  if (!joined || KernelFailed()) return nullptr;
  MarkClosedFromControlPoints(joined.get());
  ScaleDerivativeAtKnot(joined.get(), t, acrossObj, scale, 0, cont);
  if (cont > 0) {
    double seam[2] = {t, t}, dev = 0.0;
    Bspline* j = joined.get();
    if (RemoveKnotsOfObjSet(&j, 1, acrossObj, 2, seam, cont, 0, 0.0, &dev) != cont || KernelFailed()) {
      if (!KernelFailed()) SetKernelError(-2);
      return nullptr;
    }
  }
  if (obj->kind == 1 && obj->dimension == 2) {
    Bspline* snipped = SnipExtensionAtDomainEdge(joined.get(), obj, 0);
    if (!snipped) return nullptr;
    joined.reset(snipped);
  }
  HandCurvesOver(obj, joined.get());
  if (reoriented) ReverseDirection(joined.get(), acrossObj);
  return joined.release();
}
