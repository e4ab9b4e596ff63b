#include "surface/srfsnip.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "bspline/cclone.h"
#include "bspline/creverse.h"
#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "stitch/vcnobj.h"

namespace {

// One parameter direction of an object. Knot indices run 0 .. nCtrl + p; the domain is
// [knots[p], knots[nCtrl]].
struct DirData {
  bool inV;
  int p;
  int interior;
  int nCtrl;
  double* knots;
  double lo;
  double hi;
};

DirData DirOf(const Bspline* obj, int dir) {
  const bool inV = obj->kind == 2 && dir != 0;
  DirData d{};
  d.inV = inV;
  d.p = inV ? obj->degreeV : obj->degreeU;
  d.interior = inV ? obj->interiorV : obj->interiorU;
  d.nCtrl = d.p + d.interior + 1;
  d.knots = inV ? obj->knotsV : obj->knotsU;
  d.lo = d.knots[d.p];
  d.hi = d.knots[d.nCtrl];
  return d;
}

bool Usable(const Bspline* obj) {
  if (!obj || (obj->kind != 1 && obj->kind != 2)) return false;
  if (!obj->knotsU || !obj->X || !obj->Y) return false;
  if (obj->kind == 2 && !obj->knotsV) return false;
  return obj->degreeU >= 1 && obj->degreeU <= kMaxSplineDegree &&
         (obj->kind == 1 || (obj->degreeV >= 1 && obj->degreeV <= kMaxSplineDegree));
}

// Where a cut value lands among the knots: the value itself, or the knot it lies on (the
// nearer of the span's two knots, the lower on a tie); `mult` copies of it already exist and
// `span` is the index of the last of them (or the span holding a value that is no knot).
struct Cut {
  double value;
  int mult;
  int span;
};

Cut LocateCut(const DirData& d, double t, double tol) {
  const int order = d.p + 1;
  const int nKnots = d.nCtrl + order;
  int span = d.p;
  Cut c{t, 0, 0};
  if (FindLowKnotIndex(d.knots, d.p, t, &span, d.nCtrl) == 0) {
    if (t - d.knots[span] <= d.knots[span + 1] - t) {
      c.value = d.knots[span];
      c.mult = FindMultOfValInArray(d.knots, nKnots, c.value, span, order, 0, tol);
    } else {
      c.value = d.knots[span + 1];
      c.mult = FindMultOfValInArray(d.knots, nKnots, c.value, span + 1, order, 1, tol);
      span += c.mult;
    }
  }
  c.span = span;
  return c;
}

double** Coordinate(const Bspline* b, int k) {
  switch (k) {
    case 0: return b->X;
    case 1: return b->Y;
    case 2: return b->dimension == 3 ? b->Z : nullptr;
    default: return b->rational ? b->W : nullptr;
  }
}

// Frees a block handed over by a callee's kept scope, which no scope of ours would release.
struct FreeOnExit {
  void* block;
  ~FreeOnExit() { Free(block); }
};

}  // namespace

int CheckIfParIsInternal(Bspline* obj, int dir, double t) {
  if (!Usable(obj)) return 0;
  const DirData d = DirOf(obj, dir);
  const double tol = 1e-6 * (d.hi - d.lo);
  return t - d.lo > tol && d.hi - t > tol ? 1 : 0;
}

int GetLowKnotIndexArray(const double* pars, int n, Bspline* obj, int dir, int** indices,
                         int withEnds) {
  *indices = nullptr;
  const DirData d = DirOf(obj, dir);
  const int size = withEnds ? n + 2 : n;
  int* out = static_cast<int*>(Malloc(sizeof(int) * (size > 0 ? size : 1)));
  if (!out || KernelFailed()) {
    Free(out);
    return 0;
  }
  const int first = withEnds ? 1 : 0;
  int span = d.p;
  for (int i = 0; i < n; ++i) {
    FindLowKnotIndex(d.knots, d.p, pars[i], &span, d.nCtrl);
    out[first + i] = span;
  }
  if (withEnds) {
    out[0] = 0;
    out[n + 1] = d.nCtrl + d.p;
  }
  *indices = out;
  return d.p;
}

Bspline* ExtractObjFromObj(Bspline* obj, int dir, int lowKnot, int highKnot) {
  if (!Usable(obj)) {
    SetKernelError(-2);
    return nullptr;
  }
  const DirData d = DirOf(obj, dir);
  const int count = highKnot - d.p - lowKnot;  // control points of the piece in dir
  if (lowKnot < 0 || highKnot > d.nCtrl + d.p || count < d.p + 1) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Bspline* b = MallocNullBspline();
  if (!b || KernelFailed()) return nullptr;
  b->kind = obj->kind;
  b->dimension = obj->dimension;
  b->rational = obj->rational;
  b->degreeU = obj->degreeU;
  b->degreeV = obj->degreeV;
  b->interiorU = obj->interiorU;
  b->interiorV = obj->interiorV;
  (d.inV ? b->interiorV : b->interiorU) = count - d.p - 1;
  if (AllocateBsplineArrays(b) < 0 || KernelFailed()) return nullptr;

  double* knots = d.inV ? b->knotsV : b->knotsU;
  std::memcpy(knots, d.knots + lowKnot, sizeof(double) * (highKnot - lowKnot + 1));
  if (obj->kind == 2) {
    if (d.inV) std::memcpy(b->knotsU, obj->knotsU, sizeof(double) * NumKnotsU(obj));
    else std::memcpy(b->knotsV, obj->knotsV, sizeof(double) * NumKnotsV(obj));
  }
  // Rows of the net are v, columns u: a cut in u takes a run of columns from every row, a cut
  // in v a run of whole rows.
  const int rows = obj->kind == 2 ? NumCtrlV(obj) : 1;
  const int cols = NumCtrlU(obj);
  for (int k = 0; k < 4; ++k) {
    double** src = Coordinate(obj, k);
    double** dst = Coordinate(b, k);
    if (!src || !dst) continue;
    if (d.inV) {
      for (int r = 0; r < count; ++r) std::memcpy(dst[r], src[lowKnot + r], sizeof(double) * cols);
    } else {
      for (int r = 0; r < rows; ++r) std::memcpy(dst[r], src[r] + lowKnot, sizeof(double) * count);
    }
  }
  b->umin = b->knotsU[b->degreeU];
  b->umax = b->knotsU[NumCtrlU(b)];
  if (b->kind == 2) {
    b->vmin = b->knotsV[b->degreeV];
    b->vmax = b->knotsV[NumCtrlV(b)];
  }
  b->owner = obj->owner;
  scope.keep();
  return b;
}

Bspline* ExtractObjFromObjGivenPar(Bspline* obj, int dir, double t0, double t1) {
  if (!Usable(obj)) {
    SetKernelError(-2);
    return nullptr;
  }
  const DirData d = DirOf(obj, dir);
  const double tol = 1e-6 * (d.hi - d.lo);
  // A value beyond the range would send the span search below the first span.
  t0 = std::clamp(t0, d.lo, d.hi);
  t1 = std::clamp(t1, d.lo, d.hi);
  if (std::fabs(t0 - t1) < tol) {
    SetKernelError(-9);
    return nullptr;
  }
  const bool backwards = t1 < t0;
  if (backwards) std::swap(t0, t1);

  const int order = d.p + 1;
  const bool startAtEnd = std::fabs(t0 - d.lo) < tol;
  const bool endAtEnd = std::fabs(t1 - d.hi) < tol;
  // Once t0 has full multiplicity its first copy starts the piece; t1's last copy ends it.
  int copies0 = 0, copies1 = 0, low = 0, high = 0;
  if (!startAtEnd) {
    const Cut c = LocateCut(d, t0, tol);
    t0 = c.value;
    copies0 = order - c.mult;
    low = c.span - c.mult + 1;
  }
  if (endAtEnd) {
    high = copies0 + 2 * d.p + d.interior + 1;
  } else {
    const Cut c = LocateCut(d, t1, tol);
    t1 = c.value;
    copies1 = order - c.mult;
    high = copies0 + copies1 + c.span;
  }
  // Both ends may have moved onto one knot.
  if (t1 - t0 < tol) {
    SetKernelError(-9);
    return nullptr;
  }

  // The knots go into a copy: the object itself keeps its exact coefficients, also when a
  // later step fails.
  Bspline* work = nullptr;
  if (copies0 + copies1 > 0) {
    work = CopyBsplineStruct(obj);
    if (!work) return nullptr;
    std::array<double, 2 * (kMaxSplineDegree + 1)> values{};
    for (int i = 0; i < copies0; ++i) values[i] = t0;
    for (int i = 0; i < copies1; ++i) values[copies0 + i] = t1;
    InsertNKnotsToObject(1, copies0 + copies1, dir, work, 2, values.data());
    if (KernelFailed()) {
      FreeBspline(work);
      return nullptr;
    }
  }
  Bspline* piece = ExtractObjFromObj(work ? work : obj, dir, low, high);
  if (work) {
    work->owner = nullptr;  // the copy sits in no list of the owner
    FreeBspline(work);
  }
  if (!piece) return nullptr;
  piece->owner = obj->owner;
  if (startAtEnd && endAtEnd) {
    if (d.inV) piece->closedV = obj->closedV;
    else piece->closedU = obj->closedU;
  }
  if (backwards) {
    if (piece->kind == 2) ReverseObj(piece, d.inV ? 1 : 0);
    else reverseBspline(piece);
  }
  return piece;
}

int SplitObjectToNObjects(Bspline* obj, int n, double* pars, int dir, Bspline** pieces) {
  if (n < 1) return 0;
  if (!Usable(obj) || !pars || !pieces) {
    SetKernelError(-2);
    return -2;
  }
  TrackingScope scope;
  double* cuts = static_cast<double*>(Malloc(sizeof(double) * n));
  int* slots = static_cast<int*>(Malloc(sizeof(int) * n));
  if (!cuts || !slots || KernelFailed()) return -1;
  for (int i = 0; i <= n; ++i) pieces[i] = nullptr;

  const DirData d = DirOf(obj, dir);
  const double tol = 1e-6 * (d.inV ? obj->vmax - obj->vmin : obj->umax - obj->umin);
  // A value cuts when it is internal and at least tol above the value given before it; the
  // piece ending at cut j goes to the slot of the value that made it.
  int nc = 0;
  for (int i = 0; i < n; ++i) {
    if (!CheckIfParIsInternal(obj, dir, pars[i])) continue;
    if (i > 0 && pars[i] - pars[i - 1] < tol) continue;
    if (nc > 0 && pars[i] <= cuts[nc - 1]) continue;  // out-of-order input never cuts backwards
    cuts[nc] = pars[i];
    slots[nc++] = i;
  }
  if (nc == 0) {
    SetKernelError(-2);
    return -2;
  }
  // The last piece ends at the range end: slot n, or the slot of the first value lying there.
  int endSlot = n;
  if (!CheckIfParIsInternal(obj, dir, pars[n - 1])) {
    for (int i = slots[nc - 1] + 1; i < n; ++i) {
      if (pars[i] >= d.hi - tol) {
        endSlot = i;
        break;
      }
    }
  }

  Bspline* work = obj->kind == 2 ? CopyBsplineSurface(obj) : CopyCurveBspline(obj);
  if (!work) return -1;
  InsertNKnotsToObject(-1, nc, dir, work, 2, cuts);  // snaps each cut onto a knot within tol
  if (KernelFailed()) {
    FreeBspline(work);
    return -1;
  }
  // Two cuts snapped onto one knot leave an empty piece between them: drop the later cut.
  int kept = 0;
  for (int j = 0; j < nc; ++j) {
    if (kept > 0 && cuts[j] <= cuts[kept - 1]) continue;
    cuts[kept] = cuts[j];
    slots[kept++] = slots[j];
  }
  nc = kept;

  int* idx = nullptr;
  const int p = GetLowKnotIndexArray(cuts, nc, work, dir, &idx, 1);
  if (p == 0) {
    FreeBspline(work);
    return -1;
  }
  // Inner entries are the last copy of each cut; the first piece starts at the first knot.
  idx[0] = p;
  for (int j = 0; j <= nc; ++j) {
    const int slot = j < nc ? slots[j] : endSlot;
    pieces[slot] = ExtractObjFromObj(work, dir, idx[j] - p, idx[j + 1]);
    if (!pieces[slot]) {
      FreeBsplineArrayContents(pieces, n + 1);
      FreeBspline(work);
      return -1;
    }
  }
  FreeBspline(work);
  return 0;
}

double AngleBetweenVectors(const double a[3], const double b[3]) {
  const double p = VectorMagnitude(a, 3) * VectorMagnitude(b, 3);
  const double d = VectorDotProduct(a, b, 3);
  if (std::fabs(d) < p) return std::acos(d / p) * 57.29577951308232;
  return 0.0;
}

int GetTanDiscontKnots(Bspline* curve, double angle, int* count, double** breaks) {
  if (count) *count = 0;
  if (breaks) *breaks = nullptr;
  if (!count || !breaks || !Usable(curve) || curve->kind != 1) return -2;
  if (curve->interiorU < 1) return 0;
  // A curve in a parameter plane has no 3D tangent without its surface.
  if (curve->dimension == 2 && !curve->owner) return -2;

  TrackingScope scope;
  int* mults = nullptr;
  double* values = nullptr;
  const int nd = GetDistinctKnots(curve, 0, &mults, &values, 1e-6);
  if (nd < 0 || KernelFailed()) return -2;
  FreeOnExit freeMults{mults};
  FreeOnExit freeValues{values};
  if (nd == 0) return 0;

  // Inside a run of simple knots a curve of degree 2 or more is at least C1: only a polyline
  // or a multiple knot can turn its tangent.
  int nc = 0;
  if (curve->degreeU == 1) {
    nc = nd;
  } else {
    if (nd == curve->interiorU) return 0;
    for (int i = 0; i < nd; ++i)
      if (mults[i] > 1) values[nc++] = values[i];
  }
  const double delta = 1e-6 * (curve->umax - curve->umin);
  int nb = 0;
  for (int i = 0; i < nc; ++i) {
    const double t = values[i];
    const double ts[2] = {t - delta, t + delta};
    double tangents[2][3];
    EvalNpntsOnObj2(curve, 1, 0, ts, nullptr, 2, tangents);
    if (AngleBetweenVectors(tangents[0], tangents[1]) >= angle) values[nb++] = t;
  }
  if (KernelFailed()) return -2;
  if (nb == 0) return 0;
  freeValues.block = nullptr;
  *breaks = values;
  *count = nb;
  scope.keep();
  return 0;
}

int BreakCurveAtTanDiscont(Bspline* curve, double angle, int* nPieces, Bspline*** pieces) {
  if (nPieces) *nPieces = 0;
  if (pieces) *pieces = nullptr;
  if (!nPieces || !pieces || !Usable(curve) || curve->kind != 1) return -2;
  int nb = 0;
  double* breaks = nullptr;
  if (GetTanDiscontKnots(curve, angle, &nb, &breaks) != 0) return -2;
  FreeOnExit freeBreaks{breaks};
  if (nb == 0) return 0;

  TrackingScope scope;
  Bspline** arr = static_cast<Bspline**>(Malloc(sizeof(Bspline*) * (nb + 1)));
  if (!arr || KernelFailed()) return -2;
  if (SplitObjectToNObjects(curve, nb, breaks, 0, arr) != 0) return -2;
  // Every break is an interior knot value, but keep the promise that every entry is a curve.
  int np = 0;
  for (int i = 0; i <= nb; ++i)
    if (arr[i]) arr[np++] = arr[i];
  if (np < 2) {
    FreeBsplineArrayContents(arr, np);
    return 0;
  }
  *nPieces = np;
  *pieces = arr;
  scope.keep();
  return 0;
}

int ReplaceTrimCurveWithNSubs(Bspline* curve, int n, Bspline** subs) {
  if (n < 1) return 0;
  if (!curve || !subs || curve->kind == 2 || !curve->owner) return -2;
  for (int i = 0; i < n; ++i)
    if (!subs[i] || subs[i]->kind == 2 || subs[i]->owner != curve->owner) return -2;

  BsplineList* found = nullptr;
  for (TrimList* loop = curve->owner->trims; loop && !found; loop = loop->next) {
    for (BsplineList* node = loop->loopCurves; node; node = node->next) {
      if (node->item == curve) {
        found = node;
        break;
      }
    }
  }
  if (!found) return 0;

  BsplineList* head = nullptr;
  BsplineList** tail = &head;
  for (int i = 1; i < n; ++i) {
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) {
      Free(node);
      while (head) {
        BsplineList* next = head->next;
        Free(head);
        head = next;
      }
      return -2;
    }
    node->item = subs[i];
    *tail = node;
    tail = &node->next;
  }
  // The loop runs through the pieces where it ran through the curve, in the same direction.
  *tail = found->next;
  found->item = subs[0];
  found->next = head;
  return 0;
}

int ReplaceCrvBsplWithG1ContSubs(Bspline* curve, double angle) {
  if (!curve || curve->kind != 1) return -2;
  TrackingScope scope;  // the list nodes made here belong to the surface from now on
  int np = 0;
  Bspline** pieces = nullptr;
  if (BreakCurveAtTanDiscont(curve, angle, &np, &pieces) != 0) return -2;
  if (np == 0) {
    scope.keep();
    return 0;
  }
  // Freeing a piece also takes it off the curve list; the pieces enter the trim loop last, so a
  // failure never dissolves the loop.
  auto fail = [&]() {
    FreeBsplineArray(pieces, np);
    return -2;
  };
  Bspline* owner = curve->owner;
  if (curve->dimension == 2 && owner)
    for (int i = 0; i < np; ++i) PutBsplToSurfCrvList(pieces[i], owner);
  if (KernelFailed()) return fail();
  if (ReplaceTrimCurveWithNSubs(curve, np, pieces) != 0 || KernelFailed()) return fail();
  FreeBspline(curve);
  Free(pieces);
  scope.keep();
  return 0;
}

int ReplaceSrfCrvBsplWithG1ContSubs(Bspline* surface, double angle) {
  if (!surface || surface->kind != 2) return -2;
  // The pieces are pushed at the head of the list, before the node being visited: reading the
  // successor first visits every original curve once and no piece.
  for (BsplineList* node = surface->curves; node;) {
    BsplineList* next = node->next;
    if (node->item && ReplaceCrvBsplWithG1ContSubs(node->item, angle) != 0) return -2;
    node = next;
  }
  return 0;
}

int ReplaceGroupSrfCrvBsplWithG1ContSubs(Bspline** objects, int n, double angle) {
  if (n < 1) return 0;
  if (!objects) return -2;
  for (int i = 0; i < n; ++i) {
    Bspline* obj = objects[i];
    if (!obj || obj->kind != 2) continue;
    if (ReplaceSrfCrvBsplWithG1ContSubs(obj, angle) != 0) return -2;
  }
  return 0;
}
