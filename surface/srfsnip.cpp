#include "surface/srfsnip.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/kinsert.h"
#include "bspline/measure.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/crvbrk.h"
#include "curve/crvoffst.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"

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

// ---- Snipping a surface at an iso-parameter line --------------------------------------------

namespace {

// Where the pieces of a split meet: the knot insertion moves a cut within its tolerance of a
// knot onto that knot, and the curves and loops are cut where the pieces really meet, so that
// they end on the pieces' edges and the pieces tile the face.
double SplitValue(const Bspline* lowPiece, int uCut) { return uCut ? lowPiece->umax : lowPiece->vmax; }

double CurveStartPar(const Bspline* c) { return c->knotsU[c->degreeU]; }
double CurveEndPar(const Bspline* c) { return c->knotsU[c->degreeU + c->interiorU + 1]; }

// A sample of a 2D curve no farther than this share of the cut direction's range past the line
// counts as lying on the line's low side: corners put on the line by the loop's own construction
// stay there. A share, not a length, so that a domain of any width and place is cut alike.
const double kOnLineShare = 1e-3;

// The coordinate across the cut (u for a u cut) and the one along it.
double AcrossCut(const double uv[2], int uCut) { return uCut ? uv[0] : uv[1]; }
double AlongCut(const double uv[2], int uCut) { return uCut ? uv[1] : uv[0]; }

double CoordAt(const Bspline* c, double s, int uCut) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c, s, 0, uv);
  return AcrossCut(uv, uCut);
}

// Five samples per knot span at 0, 0.2, .., 0.8 of the span, then the last knot.
int CutSampleCount(const Bspline* c) { return 5 * (c->interiorU + 1) + 1; }
void CutSampleParams(const Bspline* c, double* t) {
  const int p = c->degreeU;
  int k = 0;
  for (int s = 0; s <= c->interiorU; ++s) {
    const double a = c->knotsU[p + s], b = c->knotsU[p + s + 1];
    for (int j = 0; j < 5; ++j) t[k++] = a + 0.2 * j * (b - a);
  }
  t[k] = CurveEndPar(c);
}

double RateAt(const Bspline* c, double s, int uCut) {
  double d[2];
  Eval2DPointOnCurve2Array(nullptr, c, s, 1, d);
  return AcrossCut(d, uCut);
}

// Where in [a, b] the coordinate across the cut turns back, its rate at a having the sign of ra
// and at b the other one: bisection until the bracket stops shrinking.
double TurnBetween(const Bspline* c, int uCut, double a, double b, double ra) {
  for (int it = 0; it < 200; ++it) {
    const double m = 0.5 * (a + b);
    if (m <= a || m >= b) break;
    if ((RateAt(c, m, uCut) > 0) == (ra > 0))
      a = m;
    else
      b = m;
  }
  return 0.5 * (a + b);
}

// The samples of CutSampleParams with their coordinates across the cut in ts and cs (room for
// 2 CutSampleCount - 1 values), and between two samples on one side of the line L the place
// where the curve turns back, when it lies more than tol past the line: a round loop the line
// cuts near its extreme passes the line and comes back within one sample interval, and would
// otherwise lie on one side whole, its cap beyond the line lost to the other side's pieces.
// A polyline turns back only at its vertices, which are samples. The number of samples, or -1
// when memory ran out.
int SampleAcrossLine(const Bspline* c, int uCut, double L, double tol, double* ts, double* cs) {
  const int n = CutSampleCount(c);
  Owned<double, Free> base(MallocArray<double>(n));
  if (!base || KernelFailed()) return -1;
  CutSampleParams(c, base.get());
  auto past = [&](double x) { return x > L + tol ? 1 : x < L - tol ? -1 : 0; };
  int m = 0;
  double previous = 0.0;
  for (int i = 0; i < n; ++i) {
    const double here = CoordAt(c, base[i], uCut);
    if (i > 0 && c->degreeU > 1 && base[i] > base[i - 1]) {
      // Rates just inside the interval: a sample on a knot may sit on a corner.
      const double a = base[i - 1], b = base[i], inset = 1e-9 * (b - a);
      const double ra = RateAt(c, a + inset, uCut), rb = RateAt(c, b - inset, uCut);
      const bool oneSide = (previous - L > tol) == (here - L > tol);
      if (oneSide && ((ra > 0 && rb < 0) || (ra < 0 && rb > 0))) {
        const double s = TurnBetween(c, uCut, a + inset, b - inset, ra);
        const double at = CoordAt(c, s, uCut);
        const int side = previous - L > tol ? 1 : -1;
        if (past(at) == -side) {
          ts[m] = s;
          cs[m++] = at;
        }
      }
    }
    ts[m] = base[i];
    cs[m++] = here;
    previous = here;
  }
  return m;
}

// The parameter in [a, b] where the curve's coordinate across the cut reaches L (ca and cb its
// coordinates at a and b): linear interpolation, then false position. Across a bracket (ca and
// cb on either side of L) the crossing is followed to round-off, so that a curved loop is cut
// where it meets the line and its pieces tile the face to round-off: an end kept twice has its
// distance from the line halved (Illinois), and it stops when the coordinate is within a few
// units of round-off of L or the bracket no longer shrinks. Ends on one side (one within tol
// past the line counts as on it) take the first value within tol of L instead, from iterates
// that may leave [a, b]; that search stops early when an iterate moves the coordinate by no
// more than 1e-4 tol or the two ends' coordinates agree. 100 steps at most either way.
double RefineLineCrossing(const Bspline* c, int uCut, double L, double a, double b, double ca,
                          double cb, double tol) {
  if (ca == cb) return a;
  double s = a + (L - ca) / (cb - ca) * (b - a);
  double cs = CoordAt(c, s, uCut);
  if ((ca < L && cb > L) || (ca > L && cb < L)) {
    const double roundoff = 16 * DBL_EPSILON * (std::fabs(L) + std::fabs(cb - ca));
    double fa = ca - L, fb = cb - L, fs = cs - L;
    int kept = 0;  // the end kept by the last step: 1 a, 2 b
    for (int it = 0; it < 100 && std::fabs(fs) > roundoff; ++it) {
      // An iterate replaces the end on its side of L, so that the bracket keeps the line: a
      // curve that bulges past an end within it reaches farther than that end.
      if ((fs > 0) == (fa > 0)) {
        a = s, fa = fs;
        if (kept == 2) fb *= 0.5;
        kept = 2;
      } else {
        b = s, fb = fs;
        if (kept == 1) fa *= 0.5;
        kept = 1;
      }
      const double next = a - fa / (fb - fa) * (b - a);
      if (next == s || next == a || next == b) break;
      s = next;
      fs = CoordAt(c, s, uCut) - L;
    }
    return s;
  }
  for (int it = 0; it < 100 && std::fabs(L - cs) > tol; ++it) {
    if ((cs > L) == (ca > L)) {
      a = s;
      ca = cs;
    } else {
      b = s;
      cb = cs;
    }
    if (cb == ca) break;
    s = a + (L - ca) / (cb - ca) * (b - a);
    const double previous = cs;
    cs = CoordAt(c, s, uCut);
    if (std::fabs(cs - previous) <= 1e-4 * tol) break;
  }
  return s;
}

// Where the curve meets the line L at the crossing parameter s of a bracket (round-off as in
// RefineLineCrossing). A knot span too short for its parameters to be told apart (two knots
// 1e-12 apart carrying a whole side of a polyline loop) leaves the curve at the nearest
// parameter short of the line by up to half the step to the next one, a sizeable share of that
// side: between s and its neighbouring parameter on the line's other side the curve is a chord,
// and the crossing is taken where the chord meets the line.
void LineCrossingPoint(const Bspline* c, int uCut, double L, double s, double roundoff, double uv[2]) {
  Eval2DPointOnCurve2Array(nullptr, c, s, 0, uv);
  const double fs = AcrossCut(uv, uCut) - L;
  if (std::fabs(fs) <= roundoff) return;
  for (const double towards : {-HUGE_VAL, HUGE_VAL}) {
    const double n = std::nextafter(s, towards);
    if (n < CurveStartPar(c) || n > CurveEndPar(c)) continue;
    double other[2];
    Eval2DPointOnCurve2Array(nullptr, c, n, 0, other);
    const double fn = AcrossCut(other, uCut) - L;
    if (fn * fs > 0) continue;
    const double w = fs / (fs - fn);
    for (int k = 0; k < 2; ++k) uv[k] += w * (other[k] - uv[k]);
    return;
  }
}

void FreeListNodes(BsplineList* n) {
  while (n) {
    BsplineList* next = n->next;
    Free(n);
    n = next;
  }
}

// A trim loop's curve may reach out of the domain by this share of the domain's range on each
// side: the control polygon of a curve running along the domain's edge lies partly outside it.
// A curve any farther out bounds nothing of the face, and its coordinates would swamp the
// pieces' loops and areas and the tolerances taken from them.
const double kLoopReachShare = 1.0;

// The curves a snip of the sound surface srf reads, checked before it changes anything: the 2D
// curves of its curve list sound (bsvalid) and of degree 1 or more, as the cuts need, and with
// loops so every curve of its trim loops, a curve in the parameter plane whose control points
// lie no farther outside the domain than kLoopReachShare of its range in each direction. false
// with the error state -2 otherwise. The surface was checked already: its curves are read
// without it.
bool SnipCurvesSound(const Bspline* srf, bool loops) {
  auto readable = [](const Bspline* c) { return BsplineSound(c) && c->degreeU >= 1; };
  bool sound = true;
  for (const BsplineList* n = srf->curves; n && sound; n = n->next)
    if (n->item && n->item->kind == 1 && n->item->dimension == 2) sound = readable(n->item);
  const double ru = kLoopReachShare * (srf->umax - srf->umin);
  const double rv = kLoopReachShare * (srf->vmax - srf->vmin);
  for (const TrimList* loop = loops ? srf->trims : nullptr; loop && sound; loop = loop->next)
    for (const BsplineList* n = loop->loopCurves; n && sound; n = n->next) {
      const Bspline* c = n->item;
      sound = c && c->kind == 1 && c->dimension == 2 && readable(c);
      for (int i = 0; sound && i < NumCtrlU(c); ++i)
        sound = c->X[0][i] >= srf->umin - ru && c->X[0][i] <= srf->umax + ru &&
                c->Y[0][i] >= srf->vmin - rv && c->Y[0][i] <= srf->vmax + rv;
    }
  if (!sound) SetKernelError(-2);
  return sound;
}

// The trimmed cut takes its tolerances, the boundary loop and the loops' reach from the domain
// fields while the pieces are cut at the knots: fields outside the knots' range (a huge or
// infinite bound) would make every tolerance swallow the face and the cut report empty pieces
// as a success.
bool DomainWithinKnots(const Bspline* srf) {
  const KnotDirection du = DirectionOf(srf, 0), dv = DirectionOf(srf, 1);
  const double su = 1e-6 * (du.hi - du.lo), sv = 1e-6 * (dv.hi - dv.lo);
  return srf->umin >= du.lo - su && srf->umax <= du.hi + su && srf->vmin >= dv.lo - sv &&
         srf->vmax <= dv.hi + sv;
}

// The piece nodes of a side after the first (made by the trimmed snip) go back to the heap.
void FreeExtraPieceNodes(SnipSide* side) {
  if (!side || !side->first) return;
  for (SnipPiece* n = side->first->next; n;) {
    SnipPiece* next = n->next;
    Free(n);
    n = next;
  }
  side->first->next = nullptr;
  side->count = 1;
}

}  // namespace

int IsBetweenTwoPoints(double a, double b, double x) {
  return (x > a && x < b) || (x > b && x < a) ? 1 : 0;
}

int CheckCurveBoundsUV(Bspline* curve, double umin, double umax, double vmin, double vmax, int uCut) {
  double cu0 = 0, cu1 = 0, cv0 = 0, cv1 = 0;
  GetCurveOnSurfMinMaxSurfParams(curve, &cu0, &cu1, &cv0, &cv1);
  if (uCut) return cu0 >= umin - 0.001 && cu1 <= umax + 0.001 ? 1 : 0;
  return cv0 >= vmin - 0.001 && cv1 <= vmax + 0.001 ? 1 : 0;
}

int DivideCurveIntoPortions(Bspline* curve, Bspline* lowPiece, Bspline* highPiece, int uCut,
                            BsplineList** lowList, BsplineList** highList, int isTrimPiece) {
  if (!HasPieceableForm(curve) || curve->kind != 1 || curve->dimension != 2 || !lowPiece ||
      !highPiece)
    return -2;
  const int n = CutSampleCount(curve);
  Owned<double, Free> ts(MallocArray<double>(n)), cs(MallocArray<double>(n));
  Owned<int, Free> side(MallocArray<int>(n));
  if (!ts || !cs || !side || KernelFailed()) return -2;
  const double lo = uCut ? lowPiece->umin : lowPiece->vmin;
  const double hi = uCut ? lowPiece->umax : lowPiece->vmax;
  const double tol = 1e-6 * (hi - lo);
  const double onLine =
      kOnLineShare * (uCut ? highPiece->umax - lowPiece->umin : highPiece->vmax - lowPiece->vmin);
  CutSampleParams(curve, ts.get());
  for (int i = 0; i < n; ++i) {
    cs[i] = CoordAt(curve, ts[i], uCut);
    side[i] = cs[i] >= lo - onLine && cs[i] <= hi + onLine ? 1 : 2;
  }
  // A portion goes to the piece of its side and to that side's list.
  auto hand = [&](Bspline* part, int s) {
    Bspline* piece = s == 1 ? lowPiece : highPiece;
    AppendBsplToSurfCrvList(part, piece);
    if (!KernelFailed()) AppendBsplToList(s == 1 ? lowList : highList, part);
    return !KernelFailed();
  };
  Owned<Bspline, FreeBspline> rest;  // what is left of the curve after the last cut; null: all
  double previous[2] = {-100.0, -100.0};
  for (int i = 1; i < n; ++i) {
    if (side[i] == side[i - 1]) continue;
    Bspline* from = rest ? rest.get() : curve;
    double s = RefineLineCrossing(curve, uCut, hi, ts[i - 1], ts[i], cs[i - 1], cs[i], tol);
    // A curve that only touches the line at an end of what is left is not cut there.
    if (!CheckIfParIsInternal(from, 0, s)) continue;
    Bspline* parts[2] = {nullptr, nullptr};
    if (SplitObjectToNObjects(from, 1, &s, 0, parts) != 0 || !parts[0] || !parts[1]) {
      FreeBspline(parts[0]);
      FreeBspline(parts[1]);
      return -2;
    }
    Owned<Bspline, FreeBspline> second(parts[1]);
    {
      Owned<Bspline, FreeBspline> first(parts[0]);
      if (!hand(first.get(), side[i - 1])) return -2;
      first.release();  // its piece owns it now
    }
    const int last = NumCtrlU(parts[0]) - 1;
    const double crossing[2] = {parts[0]->X[0][last], parts[0]->Y[0][last]};
    if (isTrimPiece && previous[0] != -100.0) {
      // The stretch just handed over has its counterpart on the other piece along the line.
      const int other = 3 - side[i - 1];
      Bspline* otherPiece = other == 1 ? lowPiece : highPiece;
      const int edge = uCut ? (other == 2 ? 0 : 2) : (other == 2 ? 3 : 1);
      Bspline* e = SurfPartEdge2CurveOnSurface(previous[0], previous[1], crossing[0], crossing[1], edge);
      if (KernelFailed()) return -2;
      if (e) {
        e->owner = otherPiece;
        if (!AppendBsplToList(other == 1 ? lowList : highList, e)) {
          FreeBspline(e);
          return -2;
        }
      }
    }
    previous[0] = crossing[0];
    previous[1] = crossing[1];
    rest.reset(second.release());
  }
  Bspline* last = rest ? rest.release() : CopyBsplineStruct(curve);
  if (!last) return -2;
  if (!hand(last, side[n - 1])) {
    FreeBspline(last);
    return -2;
  }
  return 0;
}

int CheckAndSnipCurvesToSurfs(Bspline* srf, double t, int uCut, Bspline* lowPiece,
                              Bspline* highPiece, int nCurves, int* work) {
  // The segment on the cut line across the whole domain, 1 % longer at both ends.
  double q0[2], q1[2];
  if (uCut) {
    const double m = 0.01 * (srf->vmax - srf->vmin);
    q0[0] = q1[0] = t;
    q0[1] = srf->vmin - m;
    q1[1] = srf->vmax + m;
  } else {
    const double m = 0.01 * (srf->umax - srf->umin);
    q0[1] = q1[1] = t;
    q0[0] = srf->umin - m;
    q1[0] = srf->umax + m;
  }
  BsplineList *lowOut = nullptr, *highOut = nullptr;
  // Edge curves stand only in the side lists: they go with the lists' nodes.
  auto dropLists = [&]() {
    for (BsplineList* list : {lowOut, highOut}) {
      for (BsplineList* n = list; n; n = n->next) {
        bool listed = false;
        for (BsplineList* c = n->item->owner ? n->item->owner->curves : nullptr; c; c = c->next)
          listed = listed || c->item == n->item;
        if (!listed) FreeBspline(n->item);
      }
      FreeListNodes(list);
    }
    lowOut = highOut = nullptr;
  };
  int i = 0;
  for (BsplineList* node = srf->curves; node && i < nCurves; node = node->next, ++i) {
    Bspline* crv = node->item;
    if (work) work[i] = 0;
    if (!crv || crv->kind != 1 || crv->dimension != 2) continue;
    const int k = Curve2IntersectCount(crv, 5, q0, q1);
    if (work) work[i] = k;
    if (KernelFailed()) {
      dropLists();
      return -2;
    }
    if (k > 0) {
      const int r = DivideCurveIntoPortions(crv, lowPiece, highPiece, uCut, &lowOut, &highOut,
                                            IsTrimPiece(crv));
      if (r != 0) {
        dropLists();
        return -2;
      }
      continue;
    }
    Bspline* copy = CopyBsplineStruct(crv);
    if (!copy) {
      dropLists();
      return -2;
    }
    // A curve that does not cross the line lies on one side of it: low when its box ends by the line.
    double cu0 = 0, cu1 = 0, cv0 = 0, cv1 = 0;
    GetCurveOnSurfMinMaxSurfParams(copy, &cu0, &cu1, &cv0, &cv1);
    const bool low = uCut ? cu1 - t <= kOnLineShare * (srf->umax - srf->umin)
                          : cv1 - t <= kOnLineShare * (srf->vmax - srf->vmin);
    PutBsplToSurfCrvList(copy, low ? lowPiece : highPiece);
    if (KernelFailed()) {
      FreeBspline(copy);
      dropLists();
      return -2;
    }
  }
  dropLists();
  return 0;
}

int SnipNoTrimSurfaceBspline(Bspline* srf, double t, int uCut, SnipSide** low, SnipSide** high) {
  TrackingScope scope;
  Bspline* made[2] = {nullptr, nullptr};
  double cut = t;
  if (!srf || srf->kind != 2 || SplitObjectToNObjects(srf, 1, &cut, uCut ? 0 : 1, made) != 0 ||
      !made[0] || !made[1]) {
    FreeBspline(made[0]);
    FreeBspline(made[1]);
    (*low)->first->piece = srf;
    (*high)->first->piece = nullptr;
    return 0;
  }
  Owned<Bspline, FreeBspline> lowPiece(made[0]), highPiece(made[1]);
  if (srf->curves && !SnipCurvesSound(srf, false)) return -2;
  if (srf->curves) {
    const int n = GetNumCurvePieces(srf->curves);
    Owned<int, Free> work(MallocArray<int>(n));
    if (!work || KernelFailed()) return -2;
    if (CheckAndSnipCurvesToSurfs(srf, t, uCut, lowPiece.get(), highPiece.get(), n, work.get()) != 0)
      return -2;
  }
  // Each piece's u takes the parametric speed of its v; its curves follow.
  for (Bspline* p : {lowPiece.get(), highPiece.get()}) {
    Bspline* pair[2] = {p, p};
    const int dirs[2] = {1, 0};
    ProportionPairParams(pair, dirs, 0, 1, 0);
  }
  if (KernelFailed()) return -2;
  (*low)->first->piece = lowPiece.release();
  (*high)->first->piece = highPiece.release();
  scope.keep();
  return 1;
}

int SnipSurfaceBspline(Bspline* srf, double t, int uCut, SnipSide** low, SnipSide** high) {
  if (srf && srf->trims) return SnipTrimSurfaceBspline(srf, t, uCut, low, high);
  return SnipNoTrimSurfaceBspline(srf, t, uCut, low, high);
}

int SnipSurfaceIntoTwoParts(Bspline* srf, int uCut, SnipSide** low, SnipSide** high) {
  if (!HasPieceableForm(srf) || srf->kind != 2) {
    SetKernelError(-2);
    return -2;
  }
  const KnotDirection d = DirectionOf(srf, uCut ? 0 : 1);
  // The knot at or below the middle; never the range start, so a direction without interior
  // knots offers only its range end, where no cut can be made.
  int span = d.p;
  FindLowKnotIndex(d.knots, d.p, 0.5 * (d.lo + d.hi), &span, d.nCtrl);
  if (span == d.p) ++span;
  const double t = d.knots[span];
  const bool trimmed = srf->trims != nullptr;
  if (SnipSurfaceBspline(srf, t, uCut, low, high) != 1) {
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  if (trimmed) {
    for (SnipSide* side : {*low, *high})
      for (SnipPiece* n = side->first; n; n = n->next)
        if (n->piece && !n->piece->trims) {
          FreeBspline(n->piece);
          n->piece = nullptr;
        }
  }
  return 1;
}

Bspline* RemoveBsplFromBsplList(Bspline* obj, BsplineList** list) {
  for (BsplineList** at = list; *at; at = &(*at)->next) {
    if ((*at)->item != obj) continue;
    BsplineList* node = *at;
    *at = node->next;
    Free(node);
    return obj;
  }
  return nullptr;
}

// A loop of curves on the domain's sides is the domain's box when it encloses all but this
// share of the domain's area (its curves meet the corners within round-off).
const double kBoxAreaShare = 1e-6;

int RemoveOuterBoundaryTrimCurve(Bspline* srf) {
  if (!srf || !srf->trims || srf->trims->next || srf->trims->hole) return 0;
  // Curves on the domain's sides also make loops that enclose less than the domain: one that
  // runs along a side and back encloses nothing. The loop is the box when it encloses the
  // domain's area: the integral of u dv round it, which only the curves at one u carry.
  double area = 0.0;
  for (BsplineList* n = srf->trims->loopCurves; n; n = n->next) {
    const int kind = IsoParameterKind(n->item, 1);
    if (kind < 1) return 0;
    if (kind != 1) continue;
    double a[2], b[2];
    Eval2DPointOnCurve2Array(nullptr, n->item, CurveStartPar(n->item), 0, a);
    Eval2DPointOnCurve2Array(nullptr, n->item, CurveEndPar(n->item), 0, b);
    area += 0.5 * (a[0] + b[0] - 2.0 * srf->umin) * (b[1] - a[1]);
  }
  const double box = (srf->umax - srf->umin) * (srf->vmax - srf->vmin);
  if (!(std::fabs(area) >= (1.0 - kBoxAreaShare) * box)) return 0;
  FreeTrimCurveBsplines(srf->trims);
  srf->trims = nullptr;
  return 0;
}

int SplitSurfaceBspline(Bspline* srf, int maxU, int maxV, BsplineList** list, int freeInput) {
  if (!srf || srf->kind != 2 || !list) {
    SetKernelError(-2);
    return -2;
  }
  const int nu = NumCtrlU(srf), nv = NumCtrlV(srf);
  if (nu <= maxU && nv <= maxV) return 0;
  const int uCut = nu > maxU && !(nv > maxV && nu < nv) ? 1 : 0;
  TrackingScope scope;
  SnipPiece* lowNode = CallocArray<SnipPiece>(1);
  SnipPiece* highNode = CallocArray<SnipPiece>(1);
  SnipSide* lowSide = CallocArray<SnipSide>(1);
  SnipSide* highSide = CallocArray<SnipSide>(1);
  if (!lowNode || !highNode || !lowSide || !highSide || KernelFailed()) return -2;
  lowSide->first = lowNode;
  highSide->first = highNode;
  lowSide->count = highSide->count = 1;
  if (SnipSurfaceIntoTwoParts(srf, uCut, &lowSide, &highSide) != 1) return -2;

  const bool looked = *list != nullptr;
  // The side records are scratch; the pieces go to the caller's list, in nodes of its own. They
  // are all listed before srf leaves the list (and is freed): a node that cannot be had takes
  // the listed pieces off again, and the list and srf stay as they were.
  int failed = 0;
  for (SnipSide* side : {lowSide, highSide})
    for (SnipPiece* n = side->first; n && !failed; n = n->next) {
      if (!n->piece) continue;
      UntrackedScope owned;
      if (!AppendBsplToList(list, n->piece)) failed = 1;
    }
  if (failed) {
    for (SnipSide* side : {lowSide, highSide})
      for (SnipPiece* n = side->first; n; n = n->next) {
        if (!n->piece) continue;
        RemoveBsplFromBsplList(n->piece, list);
        FreeBspline(n->piece);
        n->piece = nullptr;
      }
    FreeExtraPieceNodes(lowSide);
    FreeExtraPieceNodes(highSide);
    return -2;
  }
  const bool found = looked && RemoveBsplFromBsplList(srf, list) != nullptr;
  if (freeInput && (!looked || found)) FreeBspline(srf);
  // A piece that cannot be cut further stays listed whole: the list still covers the surface.
  for (SnipSide* side : {lowSide, highSide})
    for (SnipPiece* n = side->first; n; n = n->next) {
      if (failed || !n->piece) continue;
      RemoveOuterBoundaryTrimCurve(n->piece);
      if ((NumCtrlU(n->piece) > maxU || NumCtrlV(n->piece) > maxV) &&
          SplitSurfaceBspline(n->piece, maxU, maxV, list, 1) != 0)
        failed = 1;
    }
  FreeExtraPieceNodes(lowSide);
  FreeExtraPieceNodes(highSide);
  return failed ? -2 : 0;
}

// ---- Snipping trimmed surfaces --------------------------------------------------------------

namespace {

void FreeCrossings(SnipCrossingList* list) {
  for (SnipCrossing* n = list->first; n;) {
    SnipCrossing* next = n->next;
    Free(n);
    n = next;
  }
  list->first = nullptr;
  list->count = 0;
}

// Before the first node whose coord is smaller; after equal ones.
bool InsertCrossing(SnipCrossingList* list, BsplineList* curveNode, int flag, double coord,
                    double param) {
  SnipCrossing* c = CallocArray<SnipCrossing>(1);
  if (!c || KernelFailed()) return false;
  c->curveNode = curveNode;
  c->flag = flag;
  c->coord = coord;
  c->param = param;
  SnipCrossing** at = &list->first;
  while (*at && (*at)->coord >= coord) at = &(*at)->next;
  c->next = *at;
  *at = c;
  ++list->count;
  return true;
}

// Crossings at one place along the line (within tol), as where a hole touches the outer loop at
// a corner on the line, are put in the order the walk pairs them: around a side's regions the
// boundary enters and leaves the side in turn along the line, so the flags alternate. The turn
// is taken from a crossing that has its place to itself; a group whose flags cannot follow it
// stays as it was. Where every crossing shares its place, as where a hole of a snip's own piece
// runs along its outer loop on both of the piece's sides, the turn is taken from the top: the
// line meets the outer loop first there, so the first outer-loop crossing of the first place
// goes first. false when memory ran out.
bool AlternateTiedCrossings(SnipCrossingList* list, double tol, TrimList* loops) {
  const int n = list->count;
  if (n < 3) return true;
  TrackingScope scope;
  SnipCrossing** at = MallocArray<SnipCrossing*>(n);
  if (!at || KernelFailed()) return false;
  int m = 0;
  for (SnipCrossing* c = list->first; c && m < n; c = c->next) at[m++] = c;
  auto tied = [&](int i, int j) { return std::fabs(at[i]->coord - at[j]->coord) <= tol; };
  int anchor = -1;
  for (int i = 0; i < m && anchor < 0; ++i)
    if ((i == 0 || !tied(i, i - 1)) && (i + 1 == m || !tied(i, i + 1))) anchor = i;
  if (anchor < 0) {
    for (int i = 0; i < m && (i == 0 || tied(i, i - 1)) && anchor < 0; ++i) {
      TrimList* loop = nullptr;
      if (GetTrimCurveOfTrimPiece(at[i]->curveNode, loops, &loop) && !loop->hole) anchor = i;
    }
    if (anchor < 0) return true;
    std::rotate(at, at + anchor, at + anchor + 1);
    anchor = 0;
  }
  auto expected = [&](int i) {
    const int f = at[anchor]->flag;
    return (i - anchor) % 2 == 0 ? f : 3 - f;
  };
  for (int g = 0; g < m;) {
    int e = g + 1;
    while (e < m && tied(e, e - 1)) ++e;
    // Place the group's crossings on the flags expected at its positions, keeping the order of
    // those with one flag; the group is left alone when its flags do not match them.
    int want1 = 0, have1 = 0;
    for (int i = g; i < e; ++i) {
      want1 += expected(i) == 1;
      have1 += at[i]->flag == 1;
    }
    if (e - g > 1 && want1 == have1) {
      SnipCrossing* group[2][8];
      int count[2] = {0, 0};
      if (e - g <= 8) {
        for (int i = g; i < e; ++i) {
          const int k = at[i]->flag == 1 ? 0 : 1;
          group[k][count[k]++] = at[i];
        }
        int taken[2] = {0, 0};
        for (int i = g; i < e; ++i) {
          const int k = expected(i) == 1 ? 0 : 1;
          at[i] = group[k][taken[k]++];
        }
      }
    }
    g = e;
  }
  for (int i = 0; i < m; ++i) at[i]->next = i + 1 < m ? at[i + 1] : nullptr;
  list->first = at[0];
  return true;
}

// The node after `node` in its loop, the loop's first after its last.
BsplineList* NextInLoop(BsplineList* node, TrimList* loop) {
  return node->next ? node->next : loop->loopCurves;
}

int LoopLength(const TrimList* loop) { return GetNumCurvePieces(loop->loopCurves); }

// Frees every piece the sides hold (with their curves and loops) and leaves each side its one
// empty first node: what a failed trimmed snip hands back.
void DropSidePieces(SnipSide* side) {
  for (SnipPiece* n = side->first; n; n = n->next) {
    FreeBspline(n->piece);
    n->piece = nullptr;
    n->curves = nullptr;
    n->loop = nullptr;
  }
  side->first->next = nullptr;
  side->count = 1;
}

// The coefficient across the cut (u for a u cut) of control point i of a 2D curve.
double& AcrossCoef(Bspline* c, int i, int uCut) { return uCut ? c->X[0][i] : c->Y[0][i]; }

bool ClampedCurve(const Bspline* c) {
  const int p = c->degreeU, last = NumCtrlU(c) + p;
  return c->knotsU[0] == c->knotsU[p] && c->knotsU[last] == c->knotsU[last - p];
}

// The cut line of a side: its pieces keep one edge across the cut of the face (to round-off of
// the split), the other one, moved the farther from the face's, is the line.
double SideLine(const Bspline* srf, const Bspline* piece, int uCut) {
  const double lo = uCut ? piece->umin : piece->vmin, hi = uCut ? piece->umax : piece->vmax;
  const double faceLo = uCut ? srf->umin : srf->vmin, faceHi = uCut ? srf->umax : srf->vmax;
  return std::fabs(hi - faceHi) >= std::fabs(lo - faceLo) ? hi : lo;
}

// A part's end (its last control point when last) where CurvePart cut the curve at param puts
// it on the crossing there, at coord along the line: the curve at the crossing's parameter may
// miss the line by a step of that parameter (LineCrossingPoint), which would leave the part's
// end off the pieces' common edge and apart from the line's stretch closing the region.
void EndOnCrossing(Bspline* part, const Bspline* curve, double param, bool last, double line,
                   double coord, int uCut) {
  const double tol = 1e-6 * (CurveEndPar(curve) - CurveStartPar(curve));
  const bool cut = param - CurveStartPar(curve) > tol && CurveEndPar(curve) - param > tol;
  if (!cut || part->kind != 1 || part->dimension != 2 || !ClampedCurve(part)) return;
  const int i = last ? NumCtrlU(part) - 1 : 0;
  AcrossCoef(part, i, uCut) = line;
  (uCut ? part->Y : part->X)[0][i] = coord;
}

// The part of a copy of curve after param (when param lies inside it) or before it.
Bspline* CurvePart(Bspline* curve, double from, double to) {
  const double tol = 1e-6 * (CurveEndPar(curve) - CurveStartPar(curve));
  const bool cutFrom = from - CurveStartPar(curve) > tol;
  const bool cutTo = CurveEndPar(curve) - to > tol;
  if (!cutFrom && !cutTo) return CopyBsplineStruct(curve);
  return ExtractObjFromObjGivenPar(curve, 0, cutFrom ? from : CurveStartPar(curve),
                                   cutTo ? to : CurveEndPar(curve));
}

}  // namespace

int FindCurveIntersectionParams(Bspline* curve, int uCut, Bspline* srf, double t, double** params,
                                double** coords, int** flags, int** kinds, int* count) {
  *params = *coords = nullptr;
  *flags = *kinds = nullptr;
  *count = 0;
  if (!HasPieceableForm(curve) || curve->kind != 1 || curve->dimension != 2 || !srf) return -2;
  const double tol = 1e-6 * (uCut ? srf->umax - srf->umin : srf->vmax - srf->vmin);
  const int room = 2 * CutSampleCount(curve) - 1;
  Owned<double, Free> ts(MallocArray<double>(room)), cs(MallocArray<double>(room));
  // A crossing needs a change of side between two samples: n - 1 of them at most.
  double* p = MallocArray<double>(room);
  double* c = MallocArray<double>(room);
  int* f = MallocArray<int>(room);
  int* k = MallocArray<int>(room);
  const int n = ts && cs && !KernelFailed() ? SampleAcrossLine(curve, uCut, t, tol, ts.get(), cs.get()) : -1;
  if (n < 0 || !p || !c || !f || !k || KernelFailed()) {
    Free(p);
    Free(c);
    Free(f);
    Free(k);
    return -2;
  }
  // A sample is on the line, and counts as low, only within the parameter tolerance: a corner
  // any farther past the line is past it, and the curves meeting there cross the line beside it.
  auto side = [&](int i) { return cs[i] - t <= tol ? 1 : 2; };
  const double t0 = CurveStartPar(curve), t1 = CurveEndPar(curve);
  const double ends = 1e-6 * (t1 - t0);
  const double alongTol = 1e-6 * (uCut ? srf->vmax - srf->vmin : srf->umax - srf->umin);
  int m = 0;
  int lastCross = -1;  // the sample interval of the last crossing made
  for (int i = 1; i < n; ++i) {
    if (side(i) == side(i - 1)) continue;
    // A sample within tol past the line counts as on it, so both may lie past it: the crossing
    // is then taken at that sample, not where the line would meet the curve beyond the two.
    const double s = std::clamp(RefineLineCrossing(curve, uCut, t, ts[i - 1], ts[i], cs[i - 1], cs[i], tol),
                                ts[i - 1], ts[i]);
    double uv[2];
    if ((cs[i - 1] - t) * (cs[i] - t) < 0)
      LineCrossingPoint(curve, uCut, t, s, 16 * DBL_EPSILON * (std::fabs(t) + std::fabs(cs[i] - cs[i - 1])), uv);
    else
      Eval2DPointOnCurve2Array(nullptr, curve, s, 0, uv);
    const bool inside = s - t0 >= ends && t1 - s >= ends;
    // A curve coming down onto the line and going back up from one place on it, as a
    // tessellated loop does at a vertex where it touches the line, does not cross there: the
    // two crossings would share their place and leave the walk nothing between them. So too
    // where a round loop dips within the tolerance past the line and back over less than the
    // curve's parameter tolerance: no part of the curve could be taken between them.
    if (m > 0 && side(i) == 2 && f[m - 1] == 1 && k[m - 1] == 3 && inside &&
        (std::fabs(AlongCut(uv, uCut) - c[m - 1]) <= alongTol || s - p[m - 1] < ends)) {
      bool onLine = true;
      for (int j = lastCross; j < i && onLine; ++j) onLine = t - cs[j] <= tol;
      if (onLine) {
        --m;
        continue;
      }
    }
    lastCross = i;
    p[m] = s;
    c[m] = AlongCut(uv, uCut);
    f[m] = side(i - 1) == 1 ? 2 : 1;
    k[m] = inside ? 3 : (s - t0 < ends ? side(i) : side(i - 1));
    ++m;
  }
  *params = p;
  *coords = c;
  *flags = f;
  *kinds = k;
  *count = m;
  return 0;
}

int InsertIntoIn_Outlist(BsplineList* curveNode, SnipCrossingList* lowList,
                         SnipCrossingList* highList, const double* coords, const int* flags,
                         const double* params, const int* kinds, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if ((kinds[i] == 1 || kinds[i] == 3) &&
        !InsertCrossing(lowList, curveNode, flags[i], coords[i], params[i]))
      return -2;
    if ((kinds[i] == 2 || kinds[i] == 3) &&
        !InsertCrossing(highList, curveNode, flags[i] == 1 ? 2 : 1, coords[i], params[i]))
      return -2;
  }
  return 0;
}

int GetInOutListForTrimCurves(Bspline* srf, double t, int uCut, SnipCrossingList* lowList,
                              SnipCrossingList* highList) {
  FreeCrossings(lowList);
  FreeCrossings(highList);
  // Across the line and along it: each a share of its own direction's range.
  const double tol = 1e-6 * (uCut ? srf->umax - srf->umin : srf->vmax - srf->vmin);
  const double alongTol = 1e-6 * (uCut ? srf->vmax - srf->vmin : srf->umax - srf->umin);
  for (TrimList* loop = srf->trims; loop; loop = loop->next) {
    int m = 0;
    for (BsplineList* node = loop->loopCurves; node; node = node->next) ++m;
    if (m == 0) continue;
    // Every curve's crossings first: a loop's corner on the line is seen by the two curves that
    // meet there, and only both together tell a pass from one side to the other from a touch.
    struct Crossings {
      BsplineList* node;
      double *params, *coords;
      int *flags, *kinds, n;
    };
    Crossings* all = CallocArray<Crossings>(m);
    if (!all || KernelFailed()) return -2;
    auto release = [&]() {
      for (int i = 0; i < m; ++i) {
        Free(all[i].params);
        Free(all[i].coords);
        Free(all[i].flags);
        Free(all[i].kinds);
      }
      Free(all);
    };
    int i = 0;
    for (BsplineList* node = loop->loopCurves; node; node = node->next, ++i) {
      Crossings& c = all[i];
      c.node = node;
      if (FindCurveIntersectionParams(node->item, uCut, srf, t, &c.params, &c.coords, &c.flags, &c.kinds, &c.n) != 0) {
        release();
        return -2;
      }
    }
    // A crossing at a curve's end that lies on the line: the end's index in the curve's
    // crossings (ascending in parameter), or -1.
    auto endOnLine = [&](const Crossings& c, bool atStart) {
      if (c.n == 0) return -1;
      const int k = atStart ? 0 : c.n - 1;
      const Bspline* curve = c.node->item;
      const double t0 = CurveStartPar(curve), t1 = CurveEndPar(curve), ends = 1e-6 * (t1 - t0);
      const bool near = atStart ? c.params[k] - t0 < ends : t1 - c.params[k] < ends;
      return c.kinds[k] != 3 && near && std::fabs(CoordAt(curve, atStart ? t0 : t1, uCut) - t) <= tol ? k : -1;
    };
    // One more crossing on a curve's end, for the side `kind`, in its place in parameter order:
    // the curve's other end may meet the line at a corner still to be read.
    auto add = [&](Crossings& c, double param, double coord, int flag, int kind) {
      const int n = c.n + 1;
      double* p = MallocArray<double>(n);
      double* q = MallocArray<double>(n);
      int* f = MallocArray<int>(n);
      int* k = MallocArray<int>(n);
      if (!p || !q || !f || !k || KernelFailed()) {
        Free(p);
        Free(q);
        Free(f);
        Free(k);
        return false;
      }
      int at = 0;
      while (at < c.n && c.params[at] <= param) ++at;
      for (int j = 0, to = 0; j < c.n; ++j, ++to) {
        if (to == at) ++to;
        p[to] = c.params[j];
        q[to] = c.coords[j];
        f[to] = c.flags[j];
        k[to] = c.kinds[j];
      }
      p[at] = param;
      q[at] = coord;
      f[at] = flag;
      k[at] = kind;
      Free(c.params);
      Free(c.coords);
      Free(c.flags);
      Free(c.kinds);
      c.params = p;
      c.coords = q;
      c.flags = f;
      c.kinds = k;
      c.n = n;
      return true;
    };
    // At a corner on the line the curve arriving and the one leaving each record a crossing,
    // for the side beyond the corner they lie on, only where that is the high side (a point on
    // the line counts as low). Both do when the loop touches the line from above and turns
    // back: no crossing. One does when the loop passes through the corner: the other side's
    // region is bounded there too, at the end of the curve arriving from it (or the start of
    // the curve leaving into it).
    for (int a = 0; a < m; ++a) {
      Crossings &in = all[a], &out = all[(a + 1) % m];
      const int e = endOnLine(in, false), b = endOnLine(out, true);
      bool made = true;
      if (e >= 0 && b >= 0 && (m > 1 || e != b) && std::fabs(in.coords[e] - out.coords[b]) <= alongTol) {
        in.kinds[e] = out.kinds[b] = 0;
      } else if (b >= 0) {
        made = add(in, CurveEndPar(in.node->item), out.coords[b], out.flags[b], out.kinds[b] == 1 ? 2 : 1);
      } else if (e >= 0) {
        made = add(out, CurveStartPar(out.node->item), in.coords[e], in.flags[e], in.kinds[e] == 1 ? 2 : 1);
      }
      if (!made) {
        release();
        return -2;
      }
    }
    for (i = 0; i < m; ++i) {
      Crossings& c = all[i];
      if (c.n == 0) continue;
      // Ascending along the line, the other arrays following through an index array.
      Owned<int, Free> ids(MallocArray<int>(c.n));
      Owned<double, Free> sp(MallocArray<double>(c.n));
      Owned<int, Free> sf(MallocArray<int>(c.n)), sk(MallocArray<int>(c.n));
      if (!ids || !sp || !sf || !sk || KernelFailed()) {
        release();
        return -2;
      }
      for (int k = 0; k < c.n; ++k) ids[k] = k;
      HeapSort2FloatInt4(c.n, c.coords, ids.get());
      for (int k = 0; k < c.n; ++k) {
        sp[k] = c.params[ids[k]];
        sf[k] = c.flags[ids[k]];
        sk[k] = c.kinds[ids[k]];
      }
      if (InsertIntoIn_Outlist(c.node, lowList, highList, c.coords, sf.get(), sp.get(), sk.get(), c.n) != 0) {
        release();
        return -2;
      }
    }
    release();
  }
  if (!AlternateTiedCrossings(lowList, alongTol, srf->trims) ||
      !AlternateTiedCrossings(highList, alongTol, srf->trims))
    return -2;
  return 0;
}

int FindNextParam(BsplineList* curveNode, SnipCrossing* firstCrossing, double t, double* param,
                  int* flag, double* coord) {
  const SnipCrossing* best = nullptr;
  for (const SnipCrossing* c = firstCrossing; c; c = c->next)
    if (c->curveNode == curveNode && c->param > t && (!best || c->param < best->param)) best = c;
  if (!best) return 0;
  *param = best->param;
  *flag = best->flag;
  *coord = best->coord;
  return 1;
}

void FindNextInParam(SnipCrossingList* crossings, double coord, double* coordOut, double* param,
                     BsplineList** curveNode, int leaving) {
  // The crossing of *curveNode at *param when it is listed at coord (several may share the
  // place), else the first at coord.
  SnipCrossing* at = nullptr;
  SnipCrossing* before = nullptr;
  for (SnipCrossing *c = crossings->first, *prev = nullptr; c && !at; prev = c, c = c->next)
    if (c->coord == coord && c->curveNode == *curveNode && c->param == *param) at = c, before = prev;
  if (!at) {
    at = crossings->first;
    while (at && at->coord != coord) {
      before = at;
      at = at->next;
    }
  }
  if (!at) return;
  SnipCrossing* to = at;
  if (leaving) {
    if (at->next) to = at->next;
  } else if (before) {
    to = before;
  } else {
    // The first node's predecessor is the last node.
    while (to->next) to = to->next;
  }
  *coordOut = to->coord;
  *param = to->param;
  *curveNode = to->curveNode;
}

int FindNextMaxFromTop(SnipCrossingList* crossings, double* coord, double* param,
                       BsplineList** curveNode) {
  for (SnipCrossing* c = crossings->first; c; c = c->next)
    if (!c->used && c->flag == 1) {
      *coord = c->coord;
      *param = c->param;
      *curveNode = c->curveNode;
      return 1;
    }
  return 0;
}

namespace {

// The first crossing of this parameter (on this curve, when one is given) marked used.
void MarkCrossing(SnipCrossingList* crossings, const BsplineList* curveNode, double param,
                  TrimList* loop) {
  for (SnipCrossing* c = crossings->first; c; c = c->next)
    if (c->param == param && (!curveNode || c->curveNode == curveNode)) {
      c->used = 1;
      c->loop = loop;
      return;
    }
}

}  // namespace

void MarkIsUsedField(SnipCrossingList* crossings, double param, TrimList* loop) {
  for (SnipCrossing* c = crossings->first; c; c = c->next)
    if (c->param == param) {
      c->used = 1;
      c->loop = loop;
      return;
    }
}

// Method: the side's crossings lie along the cut line in decreasing coordinate, each entering
// (flag 1) or leaving (flag 2) the side. From an entering crossing the walk follows the trim
// loop to the next crossing on it (a leaving one), collecting the curves and parts in between
// for the current piece, then jumps along the line to the neighbouring crossing, which enters
// again, until it is back at the crossing where the region started. An unused entering
// crossing then starts the next region, on a new piece. Every step uses up an entering
// crossing, so a walk that takes more steps than there are crossings can never close: -2.
int DivideTrimCurvesIntoPortions(Bspline* srf, SnipCrossingList* crossings, SnipSide** side,
                                 int uCut) {
  SnipCrossing* head = crossings->first;
  if (!head || !(*side)->first || !(*side)->first->piece) return -2;
  const double line = SideLine(srf, (*side)->first->piece, uCut);
  Owned<Bspline, FreeBspline> templ(CopyBsplineStruct((*side)->first->piece));
  if (!templ) return -2;
  SnipPiece* current = (*side)->first;
  while (current->next) current = current->next;
  BsplineList* node = head->curveNode;
  TrimList* loop = nullptr;
  if (!GetTrimCurveOfTrimPiece(node, srf->trims, &loop)) return -2;

  int leaving = 0;
  double param = head->param, coord = head->coord;
  if (head->flag == 2) {
    // Start at the next crossing along the loop from the first one.
    leaving = 1;
    int flag = 0;
    double at = param;
    bool found = false;
    for (int k = 0; k <= LoopLength(loop) && !found; ++k) {
      found = FindNextParam(node, crossings->first, at, &param, &flag, &coord) == 1;
      if (!found) {
        node = NextInLoop(node, loop);
        at = CurveStartPar(node->item) - 1e-6 * (CurveEndPar(node->item) - CurveStartPar(node->item));
      }
    }
    if (!found) return -2;
  }
  double startCoord = coord, startParam = param;
  BsplineList* startNode = node;
  BsplineList* collected = nullptr;
  auto collect = [&](Bspline* part) {
    AppendBsplToSurfCrvList(part, current->piece);
    return !KernelFailed() && AppendBsplToList(&collected, part) != nullptr;
  };
  const int bound = crossings->count + 1;
  for (int steps = 0;; ++steps) {
    if (steps > bound) {
      FreeListNodes(collected);
      return -2;
    }
    if (!GetTrimCurveOfTrimPiece(node, srf->trims, &loop)) {
      FreeListNodes(collected);
      return -2;
    }
    // Crossings of different curves may share a parameter: each is marked on its own curve.
    MarkCrossing(crossings, node, param, loop);
    // Along the loop from this crossing to the next one on it.
    double from = param, next = 0.0, nextCoord = 0.0;
    int flag = 0;
    bool reached = false;
    for (int k = 0; k <= LoopLength(loop); ++k) {
      reached = FindNextParam(node, crossings->first, from, &next, &flag, &nextCoord) == 1;
      Bspline* part = CurvePart(node->item, from, reached ? next : CurveEndPar(node->item));
      if (part && k == 0) EndOnCrossing(part, node->item, from, false, line, coord, uCut);
      if (part && reached) EndOnCrossing(part, node->item, next, true, line, nextCoord, uCut);
      if (!part || !collect(part)) {
        FreeBspline(part);
        FreeListNodes(collected);
        return -2;
      }
      if (reached) break;
      node = NextInLoop(node, loop);
      from = CurveStartPar(node->item) - 1e-6 * (CurveEndPar(node->item) - CurveStartPar(node->item));
    }
    // Along its loop a region's boundary leaves the side at the next crossing; another one
    // entering there means crossings that do not describe the side's regions.
    if (!reached || (flag != 2 && (node != startNode || next != startParam))) {
      FreeListNodes(collected);
      return -2;
    }
    MarkCrossing(crossings, node, next, loop);
    // Along the line to the neighbouring crossing; the region is closed at the crossing it
    // started from (another at the same place along the line belongs to another stretch).
    double reachedCoord = nextCoord;
    param = next;
    FindNextInParam(crossings, nextCoord, &reachedCoord, &param, &node, leaving);
    coord = reachedCoord;
    if (reachedCoord != startCoord || node != startNode || param != startParam) continue;
    current->curves = collected;
    collected = nullptr;
    GetCurveListExtremes(current->curves, &current->umin, &current->umax, &current->vmin,
                         &current->vmax);
    if (!FindNextMaxFromTop(crossings, &coord, &param, &node)) return 0;
    SnipPiece* fresh = CallocArray<SnipPiece>(1);
    Bspline* copy = fresh ? CopyBsplineStruct(templ.get()) : nullptr;
    if (!fresh || !copy) {
      Free(fresh);
      return -2;
    }
    fresh->piece = copy;
    current->next = fresh;
    current = fresh;
    ++(*side)->count;
    startCoord = coord;
    startParam = param;
    startNode = node;
  }
}

void MakeOuterTrimOnAllSurfaces(SnipSide* side) {
  for (SnipPiece* n = side->first; n; n = n->next) {
    if (!n->curves || !n->piece) continue;
    GetCurveListExtremes(n->curves, &n->umin, &n->umax, &n->vmin, &n->vmax);
    double cu[4], cv[4];
    TrimList* loop = nullptr;
    // A short stretch of the line between two crossings, or of a loop beside it, stays.
    if (ConstructTrimCurveListWithin(n->piece, n->curves, 0, 0, cu, cv, 0, 0, 1, nullptr, &loop,
                                     kWalkGapShare * ControlPointDiagonal(n->piece)) == 0)
      n->loop = loop;
  }
}

namespace {

// Whether the piece of node n on side s (0 low) holds the box: its region's box when it has
// one, else its domain, with the slack GetSurfaceForTheCurve names.
bool PieceBoxHolds(const SnipPiece* n, int s, double umin, double umax, double vmin, double vmax) {
  if (!n->piece) return false;
  const double share = s == 0 ? kOnLineShare : 1e-6;
  const double su = share * (n->piece->umax - n->piece->umin);
  const double sv = share * (n->piece->vmax - n->piece->vmin);
  const double bu0 = n->curves ? n->umin : n->piece->umin;
  const double bu1 = n->curves ? n->umax : n->piece->umax;
  const double bv0 = n->curves ? n->vmin : n->piece->vmin;
  const double bv1 = n->curves ? n->vmax : n->piece->vmax;
  return umin - bu0 > -su && umax - bu1 < su && vmin - bv0 > -sv && vmax - bv1 < sv;
}

// The piece whose region holds curves that cross no line (a loop, or a part of a loose curve).
// Regions on one side may lie in each other's boxes (a U below the line round a tongue hanging
// from it, each reaching the line), so where several boxes hold the curves, the piece whose
// trimmed area holds the most of their samples takes them: curves on the trimmed area lie in one
// region, touching its boundary at most, and no two regions overlap. Where no region holds a
// sample, the first piece whose box holds them. Null when no box holds them.
Bspline* PieceHoldingCurves(BsplineList* curves, double umin, double umax, double vmin, double vmax,
                            SnipSide* low, SnipSide* high) {
  Bspline* best = nullptr;
  int bestCount = 0, candidates = 0;
  for (int s = 0; s < 2; ++s)
    for (SnipPiece* n = (s == 0 ? low : high)->first; n; n = n->next)
      if (PieceBoxHolds(n, s, umin, umax, vmin, vmax) && ++candidates == 1) best = n->piece;
  if (candidates < 2) return best;
  const int perCurve = 4;
  for (int s = 0; s < 2; ++s)
    for (SnipPiece* n = (s == 0 ? low : high)->first; n; n = n->next) {
      // A piece without a region of its own holds nothing.
      if (!n->curves || !n->piece->trims || !PieceBoxHolds(n, s, umin, umax, vmin, vmax)) continue;
      int count = 0;
      for (BsplineList* c = curves; c; c = c->next)
        for (int k = 0; k < perCurve; ++k) {
          const double a = CurveStartPar(c->item), b = CurveEndPar(c->item);
          double uv[2];
          Eval2DPointOnCurve2Array(nullptr, c->item, a + (b - a) * (k + 0.5) / perCurve, 0, uv);
          count += IsPointInTrim(n->piece, uv[0], uv[1]);
        }
      if (count > bestCount) {
        bestCount = count;
        best = n->piece;
      }
    }
  return best;
}

}  // namespace

int GetSurfaceForTheCurve(double umin, double umax, double vmin, double vmax, SnipSide* low,
                          SnipSide* high, Bspline** piece, SnipPiece** node) {
  for (int s = 0; s < 2; ++s) {
    for (SnipPiece* n = (s == 0 ? low : high)->first; n; n = n->next) {
      if (PieceBoxHolds(n, s, umin, umax, vmin, vmax)) {
        *piece = n->piece;
        if (node) *node = n;
        return 1;
      }
    }
  }
  return 0;
}

int PlaceOtherCurvesOnSurfaces(SnipSide* low, SnipSide* high, double t, Bspline* srf, int uCut) {
  // A part goes to the piece that holds it (PieceHoldingCurves); a part no piece's box holds is
  // dropped.
  auto place = [&](Bspline* part) {
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    GetCurveOnSurfMinMaxSurfParams(part, &u0, &u1, &v0, &v1);
    BsplineList one = {nullptr, part};
    Bspline* piece = PieceHoldingCurves(&one, u0, u1, v0, v1, low, high);
    if (KernelFailed()) {
      FreeBspline(part);
      return false;
    }
    if (!piece) {
      FreeBspline(part);
      return true;
    }
    PutBsplToSurfCrvList(part, piece);
    if (KernelFailed()) FreeBspline(part);
    return !KernelFailed();
  };
  for (BsplineList* node = srf->curves; node; node = node->next) {
    Bspline* crv = node->item;
    if (!crv || crv->dimension != 2 || IsTrimPiece(crv)) continue;
    double *params = nullptr, *coords = nullptr;
    int *flags = nullptr, *kinds = nullptr, n = 0;
    if (FindCurveIntersectionParams(crv, uCut, srf, t, &params, &coords, &flags, &kinds, &n) != 0)
      return -2;
    Owned<double, Free> op(params), oc(coords);
    Owned<int, Free> of(flags), ok(kinds);
    double from = CurveStartPar(crv);
    for (int i = 0; i < n; ++i) {
      if (params[i] <= from || !CheckIfParIsInternal(crv, 0, params[i])) continue;
      Bspline* part = ExtractObjFromObjGivenPar(crv, 0, from, params[i]);
      if (!part || !place(part)) return -2;
      from = params[i];
    }
    Bspline* last = CurvePart(crv, from, CurveEndPar(crv));
    if (!last || !place(last)) return -2;
  }
  return 0;
}

int IsTrimCurveUsedBefore(TrimList* loop, SnipCrossingList* lowCrossings,
                          SnipCrossingList* highCrossings) {
  for (SnipCrossingList* list : {lowCrossings, highCrossings})
    for (SnipCrossing* c = list->first; c; c = c->next)
      if (c->loop == loop) return 1;
  return 0;
}

int PlaceOtherTrimCurves(SnipSide* low, SnipSide* high, SnipCrossingList* lowCrossings,
                         SnipCrossingList* highCrossings, Bspline* srf) {
  for (TrimList* loop = srf->trims; loop; loop = loop->next) {
    if (IsTrimCurveUsedBefore(loop, lowCrossings, highCrossings)) continue;
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    GetCurveListExtremes(loop->loopCurves, &u0, &u1, &v0, &v1);
    Bspline* piece = PieceHoldingCurves(loop->loopCurves, u0, u1, v0, v1, low, high);
    if (!piece) continue;
    if (KernelFailed()) return -2;
    BsplineList* copies = nullptr;
    bool ok = true;
    for (BsplineList* n = loop->loopCurves; n && ok; n = n->next) {
      Bspline* c = CopyBsplineStruct(n->item);
      ok = c != nullptr;
      if (ok) AppendBsplToSurfCrvList(c, piece);
      ok = ok && !KernelFailed() && AppendBsplToList(&copies, c) != nullptr;
      // A copy the piece's list could not take belongs to no one; one it took goes with it.
      if (!ok) FreeBspline(c);
    }
    if (!ok) {
      FreeListNodes(copies);
      return -2;
    }
    // A loop of srf meets end to end already: its short sides are part of it, not gaps to
    // close (the gap tolerance of a small face is a tenth of its size, a small hole's sides
    // shorter than that). It stays what it was, hole or outer loop, whichever loop its piece
    // received first: a snip's own pieces list their holes before their outer loop.
    double cu[4], cv[4];
    TrimList* made = nullptr;
    ConstructTrimCurveListWithin(piece, copies, loop->hole ? 1 : 0, 0, cu, cv, 0, 0, 1, nullptr,
                                 &made, kWalkGapShare * ControlPointDiagonal(piece));
  }
  return 0;
}

namespace {

// A point within tol of the cut counts as on it (FindCurveIntersectionParams), so a crossing may
// be taken that far from the line: the ends of the walk's parts lying so are put exactly on the
// pieces' common edge t, where the loop is then closed along it. Ends that were equal stay so.
void PutEndsOnCut(SnipSide* side, double t, int uCut, double tol) {
  for (SnipPiece* n = side->first; n; n = n->next)
    for (BsplineList* node = n->curves; node; node = node->next) {
      Bspline* c = node->item;
      if (!c || c->kind != 1 || c->dimension != 2 || !ClampedCurve(c)) continue;
      for (int i : {0, NumCtrlU(c) - 1}) {
        double& a = AcrossCoef(c, i, uCut);
        if (std::fabs(a - t) <= tol) a = t;
      }
    }
}

// A region whose boundary lies all on the line (a loop's side along it, walked there and back
// along the line), or all on one line across it (a spike or slit of a loop, no wider than the
// tolerance along the line, walked there and back, as where a hole runs along the face's edge),
// encloses nothing of the side: its curves go, and its piece keeps no loop, as a piece the
// trimmed area does not reach.
void DropRegionsWithoutWidth(SnipSide* side, double t, int uCut, double tol, double alongTol) {
  for (SnipPiece* n = side->first; n; n = n->next) {
    if (!n->curves || !n->piece) continue;
    const double lo = uCut ? n->umin : n->vmin, hi = uCut ? n->umax : n->vmax;
    const double from = uCut ? n->vmin : n->umin, to = uCut ? n->vmax : n->umax;
    if (!(std::fabs(lo - t) <= tol && std::fabs(hi - t) <= tol) && !(to - from <= alongTol)) continue;
    for (BsplineList* node = n->curves; node; node = node->next) FreeBspline(node->item);
    FreeListNodes(n->curves);
    n->curves = nullptr;
  }
}

}  // namespace

int SnipTrimSurfaceBspline(Bspline* srf, double t, int uCut, SnipSide** low, SnipSide** high) {
  // A surface the cut cannot read fails the cut, as without loops; loops and curves it cannot
  // read are refused before the boundary loop is added.
  if (!srf || srf->kind != 2 || !BsplineSound(srf)) return SnipNoTrimSurfaceBspline(srf, t, uCut, low, high);
  if (!DomainWithinKnots(srf)) {
    SetKernelError(-2);
    (*low)->first->piece = srf;
    (*high)->first->piece = nullptr;
    return 0;
  }
  if (!SnipCurvesSound(srf, true)) return -2;
  if (!IsOuterTrim(srf)) {
    TrimList* boundary = CreateSurfBoundaryAsTrimCurveBspline(srf);
    if (!boundary) return -2;
    AddOrderedTrimCurve(srf, boundary);
  }
  TrackingScope scope;
  SnipCrossingList lowList = {nullptr, 0}, highList = {nullptr, 0};
  Bspline* made[2] = {nullptr, nullptr};
  double cut = t;
  if (SplitObjectToNObjects(srf, 1, &cut, uCut ? 0 : 1, made) != 0 || !made[0] || !made[1]) {
    FreeBspline(made[0]);
    FreeBspline(made[1]);
    (*low)->first->piece = srf;
    (*high)->first->piece = nullptr;
    return 0;
  }
  (*low)->first->piece = made[0];
  (*high)->first->piece = made[1];
  t = SplitValue(made[0], uCut);
  for (SnipSide* s : {*low, *high}) {
    s->first->curves = nullptr;
    s->first->loop = nullptr;
  }
  ReverseInnerRelToOuter(srf);
  int r = GetInOutListForTrimCurves(srf, t, uCut, &lowList, &highList);
  if (r == 0 && lowList.first) r = DivideTrimCurvesIntoPortions(srf, &lowList, low, uCut);
  if (r == 0 && highList.first) r = DivideTrimCurvesIntoPortions(srf, &highList, high, uCut);
  const double tol = 1e-6 * (uCut ? srf->umax - srf->umin : srf->vmax - srf->vmin);
  if (r == 0) {
    PutEndsOnCut(*low, t, uCut, tol);
    PutEndsOnCut(*high, t, uCut, tol);
    const double alongTol = 1e-6 * (uCut ? srf->vmax - srf->vmin : srf->umax - srf->umin);
    DropRegionsWithoutWidth(*low, t, uCut, tol, alongTol);
    DropRegionsWithoutWidth(*high, t, uCut, tol, alongTol);
    MakeOuterTrimOnAllSurfaces(*low);
    MakeOuterTrimOnAllSurfaces(*high);
    r = PlaceOtherCurvesOnSurfaces(*low, *high, t, srf, uCut);
  }
  if (r == 0) r = PlaceOtherTrimCurves(*low, *high, &lowList, &highList, srf);
  if (r != 0 || KernelFailed()) {
    DropSidePieces(*low);
    DropSidePieces(*high);
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  FreeCrossings(&lowList);
  FreeCrossings(&highList);
  scope.keep();
  return 1;
}
