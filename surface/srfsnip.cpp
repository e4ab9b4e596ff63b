#include "surface/srfsnip.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bspline/cclone.h"
#include "bspline/crvlist.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/crvoffst.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"

int CheckIfParIsInternal(Bspline* obj, int dir, double t) {
  if (!HasPieceableForm(obj)) return 0;
  const KnotDirection d = DirectionOf(obj, dir);
  const double tol = 1e-6 * (d.hi - d.lo);
  return t - d.lo > tol && d.hi - t > tol ? 1 : 0;
}

int GetLowKnotIndexArray(const double* pars, int n, Bspline* obj, int dir, int** indices,
                         int withEnds) {
  *indices = nullptr;
  const KnotDirection d = DirectionOf(obj, dir);
  const int size = withEnds ? n + 2 : n;
  int* out = MallocArray<int>(size > 0 ? size : 1);
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
  return ExtractKnotRange(obj, dir, lowKnot, highKnot);
}

Bspline* ExtractObjFromObjGivenPar(Bspline* obj, int dir, double t0, double t1) {
  return ExtractParamRange(obj, dir, t0, t1);
}

int SplitObjectToNObjects(Bspline* obj, int n, double* pars, int dir, Bspline** pieces) {
  if (n < 1) return 0;
  if (!HasPieceableForm(obj) || !pars || !pieces) {
    SetKernelError(-2);
    return -2;
  }
  TrackingScope scope;
  double* cuts = MallocArray<double>(n);
  int* slots = MallocArray<int>(n);
  if (!cuts || !slots || KernelFailed()) return -1;
  for (int i = 0; i <= n; ++i) pieces[i] = nullptr;

  const KnotDirection d = DirectionOf(obj, dir);
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
  if (!count || !breaks || !HasPieceableForm(curve) || curve->kind != 1) return -2;
  if (curve->interiorU < 1) return 0;
  // A curve in a parameter plane has no 3D tangent without its surface.
  if (curve->dimension == 2 && !curve->owner) return -2;

  TrackingScope scope;
  int* mults = nullptr;
  double* values = nullptr;
  const int nd = DistinctInteriorKnots(curve, 0, &mults, &values, 1e-6);
  if (nd < 0 || KernelFailed()) return -2;
  // Handed over by the callee's kept scope, which no scope of ours would release.
  const Owned<int, Free> ownMults(mults);
  Owned<double, Free> ownValues(values);
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
  *breaks = ownValues.release();
  *count = nb;
  scope.keep();
  return 0;
}

int BreakCurveAtTanDiscont(Bspline* curve, double angle, int* nPieces, Bspline*** pieces) {
  if (nPieces) *nPieces = 0;
  if (pieces) *pieces = nullptr;
  if (!nPieces || !pieces || !HasPieceableForm(curve) || curve->kind != 1) return -2;
  int nb = 0;
  double* breaks = nullptr;
  if (GetTanDiscontKnots(curve, angle, &nb, &breaks) != 0) return -2;
  const Owned<double, Free> ownBreaks(breaks);  // handed over by the callee's kept scope
  if (nb == 0) return 0;

  TrackingScope scope;
  Bspline** arr = MallocArray<Bspline*>(nb + 1);
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
  return ReplaceInTrimLoop(curve, n, subs);
}

int ReplaceCrvBsplWithG1ContSubs(Bspline* curve, double angle) {
  if (!curve || curve->kind != 1) return -2;
  TrackingScope scope;  // the list nodes made here belong to the surface from now on
  int np = 0;
  Bspline** made = nullptr;
  if (BreakCurveAtTanDiscont(curve, angle, &np, &made) != 0) return -2;
  if (np == 0) {
    scope.keep();
    return 0;
  }
  // Freeing a piece also takes it off the curve list; the pieces enter the trim loop last, so a
  // failure never dissolves the loop.
  OwnedArray<Bspline, FreeBspline> pieces(made, np);
  Bspline* owner = curve->owner;
  if (curve->dimension == 2 && owner)
    for (int i = 0; i < np; ++i) PutBsplToSurfCrvList(pieces[i], owner);
  if (KernelFailed()) return -2;
  if (ReplaceTrimCurveWithNSubs(curve, np, pieces.get()) != 0 || KernelFailed()) return -2;
  FreeBspline(curve);
  Free(pieces.release());
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

int GetParSamplesInIntervals(const double* breaks, int n, int k, double a, double b,
                             double** samples, int* count) {
  *samples = nullptr;
  *count = 0;
  if (!breaks || n < 2) return -2;
  if (k < 3) k = 2;
  a = std::min(std::max(a, breaks[0]), breaks[n - 1]);
  b = std::min(std::max(b, breaks[0]), breaks[n - 1]);
  if (b < a) std::swap(a, b);
  double* span = nullptr;
  int nSpan = 0;
  if (GetNParValsPerSpan(breaks, n, k, &span, &nSpan) != 0) return -2;
  const Owned<double, Free> ownSpan(span);  // handed over by the callee's kept scope
  const double tol = std::fabs(breaks[n - 1] - breaks[0]) * 1e-6;
  TrackingScope scope;
  double* out = MallocArray<double>(nSpan + 2);
  if (!out || KernelFailed()) return -2;
  int c = 0;
  out[c++] = a;
  for (int i = 0; i < nSpan; ++i) {
    const double s = span[i];
    if (std::fabs(s - a) > tol && std::fabs(b - s) > tol && s > a && s < b) out[c++] = s;
  }
  if (c > 1) {
    out[c++] = b;
    scope.keep();
    *samples = out;
    *count = c;
    return 0;
  }
  // No sample between a and b: spread the k values over [a, b] itself.
  scope.release();
  const double ends[2] = {a, b};
  return GetNParValsPerSpan(ends, 2, k, samples, count);
}
