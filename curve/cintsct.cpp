#include "curve/cintsct.h"

#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "curve/crvintr.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// A refined pair that leaves a gap may be a local minimum beside a meeting elsewhere (the
// polygon estimate can lie far from it, or across a closed curve's seam, where the refiner is
// held on the domain's end): then the subdivision's meeting nearest the estimate (estA, estB)
// is the answer. Only curves of one parameter space are searched: two 3D curves, or two 2D
// curves of one owner (or none). 1 with (*t1, *t2) replaced by that meeting; 0 when there is
// none (or the curves are of different spaces); -2 when the search failed.
int MeetingNearestEstimate(Bspline* crv1, Bspline* crv2, double estA, double estB, double* t1, double* t2) {
  if (crv1->dimension != crv2->dimension || (crv1->dimension == 2 && crv1->owner != crv2->owner)) return 0;
  CrvIntrList* list = nullptr;
  const int found = CrvIntersect(crv1, crv2, &list, 0.0, 0);
  int replaced = 0;
  if (list) {
    double best = kEmptyBoxBound;
    const CrvIntrNode* node = list->first;
    for (int i = 0; i < list->count; ++i, node = node->next) {
      const double d = std::fabs(node->t1 - estA) + std::fabs(node->t2 - estB);
      if (d < best) {
        best = d;
        *t1 = node->t1;
        *t2 = node->t2;
        replaced = 1;
      }
    }
    FreeCrvIntrList(list);
  }
  return found == -2 ? -2 : replaced;
}

// The share of the curves' size below which a refined pair meets, as the subdivision counts a
// meeting; the size is the larger control-point box diagonal, an owner's for a curve on one.
const double kMeetingShare = 1e-7;

double PairSize(const Bspline* crv1, const Bspline* crv2) {
  const Bspline* a = crv1->dimension == 2 && crv1->owner ? crv1->owner : crv1;
  const Bspline* b = crv2->dimension == 2 && crv2->owner ? crv2->owner : crv2;
  return std::fmax(ControlPointDiagonal(a), ControlPointDiagonal(b));
}

bool LeavesGap(const Bspline* crv1, const Bspline* crv2, double distSq) {
  const double meet = kMeetingShare * PairSize(crv1, crv2);
  return !(distSq <= meet * meet);
}

}  // namespace

int Intersect2Curve3(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  if (!RecordsSound({crv1, crv2}) || crv1->dimension != 3 || crv2->dimension != 3) return -2;
  double a, b;
  if (FindClosestCPT3paramValue(crv1, crv2, &a, &b) != 0) return -2;
  const double estA = a, estB = b;
  double distSq;
  const int r = RefineCurve3sClosestPoint(crv1, crv2, &a, &b, &distSq, 21);
  *t1 = a;
  *t2 = b;
  if (r != 0 || !LeavesGap(crv1, crv2, distSq)) return r;
  return MeetingNearestEstimate(crv1, crv2, estA, estB, t1, t2) == -2 ? -2 : r;
}

int Intersect2Curve2(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  if (!RecordsSound({crv1, crv2}) || crv1->dimension != 2 || crv2->dimension != 2) return -2;
  double a, b;
  const int est = !crv1->owner && !crv2->owner ? FindClosestCPTparamValueCurve2(crv1, crv2, &a, &b)
                                               : FindClosestCPTparamValue(crv1, crv2, &a, &b);
  if (est != 0) return -2;
  const double estA = a, estB = b;
  double distSq;
  const int r = RefineCurve2Intersect(crv1, crv2, &a, &b, &distSq, 10);
  *t1 = a;
  *t2 = b;
  if (r == 0 && !LeavesGap(crv1, crv2, distSq)) return 0;
  // The crossing's Newton iteration stops on parallel tangents: curves that touch, or a crossing
  // beyond a seam, are the subdivision's to find; a meeting found there is a meeting.
  const int m = MeetingNearestEstimate(crv1, crv2, estA, estB, t1, t2);
  return m == -2 ? -2 : (m == 1 ? 0 : r);
}

int Intersect2Curves(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  if (!RecordsSound({crv1, crv2}) || crv1->kind != 1 || crv2->kind != 1) return -2;
  double a, b;
  const int est = crv1->dimension == 2 ? FindClosestEstParamValueCurveOnSurf(crv1, crv2, &a, &b)
                                       : FindClosestCPTparamValueCurves(crv1, crv2, &a, &b);
  if (est != 0) return -2;
  const double estA = a, estB = b;
  double distSq;
  const int r = RefineCurvesClosestPoint(crv1, crv2, &a, &b, &distSq, 10);
  *t1 = a;
  *t2 = b;
  if (r != 0 || !LeavesGap(crv1, crv2, distSq)) return r;
  return MeetingNearestEstimate(crv1, crv2, estA, estB, t1, t2) == -2 ? -2 : r;
}

// A piece shorter than this share of its curve's range is none (as ExtractParamRangeUnlessShort
// measures).
const double kShortPiece = 1e-6;

bool CurvesMeetAt(const Bspline* crv1, double t1, const Bspline* crv2, double t2) {
  if (!BsplineShapeSound(crv1) || !BsplineShapeSound(crv2)) return false;
  double a[3], b[3];
  Eval3DPointOnBsplOnSurfCoord(nullptr, crv1, t1, 0, 0, a);
  Eval3DPointOnBsplOnSurfCoord(nullptr, crv2, t2, 0, 0, b);
  const double gap = VecDist3(a, b);
  return !LeavesGap(crv1, crv2, gap * gap);
}

int FindAllCurve3Intersections(Bspline** curves, int n, int** dirs, double** starts, double** ends) {
  // With one curve the chain would intersect the curve with itself.
  if (!curves || n < 2) return -2;
  TrackingScope scope;
  double* s = MallocArray<double>(n);
  double* e = MallocArray<double>(n);
  int* d = MallocArray<int>(n);
  if (!s || !e || !d || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    s[i] = curves[i]->umin;
    e[i] = curves[i]->umax;
  }
  int status = 0;
  auto meet = [&](int a, int b, double* ta, double* tb) {
    if (Intersect2Curve3(curves[a], curves[b], ta, tb) == -2) status = -2;
  };
  if (n == 2) {
    // Two curves closing a chain meet twice: each pairing finds the meeting first along its
    // first curve, and the chain runs the two curves against each other.
    meet(0, 1, &s[0], &e[1]);
    meet(1, 0, &s[1], &e[0]);
    // Both pairings may settle on one meeting (two arcs of a circle meet alike at both ends,
    // and the polygon estimate lies as near either): then the meetings the subdivision lists
    // decide, the first along each curve, when there are two.
    const bool once = std::fabs(e[0] - s[0]) < kShortPiece * (curves[0]->umax - curves[0]->umin) ||
                      std::fabs(e[1] - s[1]) < kShortPiece * (curves[1]->umax - curves[1]->umin);
    CrvIntrList* list = nullptr;
    if (once && status == 0 && CrvIntersect(curves[0], curves[1], &list, 0.0, 0) == 0 && list->count >= 2) {
      const CrvIntrNode* first1 = list->first;  // the list rises along the first curve
      const CrvIntrNode* first2 = list->first;
      const CrvIntrNode* node = list->first;
      for (int i = 0; i < list->count; ++i, node = node->next)
        if (node->t2 < first2->t2) first2 = node;
      if (first1 != first2) {
        s[0] = first1->t1;
        e[1] = first1->t2;
        s[1] = first2->t2;
        e[0] = first2->t1;
      }
    }
    FreeCrvIntrList(list);
  } else {
    for (int i = 0; i + 1 < n; ++i) meet(i, i + 1, &e[i], &s[i + 1]);
    meet(n - 1, 0, &e[n - 1], &s[0]);
  }
  if (MemoryErrorSet()) return -2;
  for (int i = 0; i < n; ++i) {
    d[i] = e[i] >= s[i] ? 1 : -1;
    Bspline* piece = nullptr;
    int cut;
    {
      // The piece belongs to the chain from the moment it replaces the curve.
      UntrackedScope untracked;
      cut = ExtractParamRangeUnlessShort(curves[i], 0, s[i], e[i], &piece);
    }
    if (cut == 1) {
      SetKernelError(-5);
      return -5;
    }
    if (!piece) return status != 0 ? status : -2;
    FreeBspline(curves[i]);
    curves[i] = piece;
  }
  scope.keep();
  *dirs = d;
  *starts = s;
  *ends = e;
  return status;
}

void SubCurveBspline(Bspline* curve, double t0, double t1, Bspline** piece) {
  // A domain narrower than 1 yields sub-curves down to its own share of 1e-6, as any wider one
  // does down to 1e-6 itself.
  const double range = curve && curve->kind == 1 ? curve->umax - curve->umin : 1.0;
  if (std::fabs(t1 - t0) < 1e-6 * std::fmin(1.0, range)) {
    *piece = nullptr;
    SetKernelError(-2);
    return;
  }
  TrackingScope scope;
  // Falling parameters give the piece running backwards, from t0.
  Bspline* p = ExtractParamRange(curve, 0, t0, t1);
  if (!p || KernelFailed()) return;
  scope.keep();
  *piece = p;
}

// ---- crossings with the surface's knot lines ----------------------------------------------------
void GetUVKnotIndices(const double* uKnots, const double* vKnots, int nu, int nv, double u,
                      double v, int* iu, int* iv) {
  if (!uKnots || !vKnots || nu < 1 || nv < 1) return;
  auto index = [](const double* k, int n, double x) {
    if (x <= k[0]) return -1;
    for (int i = 1; i < n; ++i)
      if (k[i] > x) return i - 1;
    return n - 1;
  };
  *iu = index(uKnots, nu, u);
  *iv = index(vKnots, nv, v);
}

namespace {

// The three output arrays of the crossing search; they double whenever one free slot is left.
struct SectArrays {
  double* t = nullptr;
  double* u = nullptr;
  double* v = nullptr;
  int n = 0;
  int cap = 0;

  bool Make(int capacity) {
    cap = capacity;
    t = MallocArray<double>(cap);
    u = MallocArray<double>(cap);
    v = MallocArray<double>(cap);
    return t && u && v && !KernelFailed();
  }
  bool Append(double tt, double uu, double vv) {
    t[n] = tt;
    u[n] = uu;
    v[n] = vv;
    if (cap - ++n > 1) return true;
    double* arrays[3] = {t, u, v};
    if (!Make(2 * cap)) return false;
    double* grown[3] = {t, u, v};
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < n; ++i) grown[k][i] = arrays[k][i];
      Free(arrays[k]);
    }
    return true;
  }
};

// A crossing of one knot line inside a span: local parameter s in (0, 1), direction (0 u, 1 v)
// and the knot value.
struct KnotCrossing {
  double s;
  int dir;
  double knot;
};

// Value and derivative in s of the Bezier function sum c_i B_i,p(s) (de Casteljau).
void BezierValue(const double* c, int p, double s, double* f, double* df) {
  double d[kMaxSplineDegree + 1];
  for (int j = 0; j <= p; ++j) d[j] = c[j];
  for (int r = 1; r < p; ++r)
    for (int j = 0; j <= p - r; ++j) d[j] = (1.0 - s) * d[j] + s * d[j + 1];
  *df = p * (d[1] - d[0]);
  *f = (1.0 - s) * d[0] + s * d[1];
  if (p == 0) {
    *f = d[0];
    *df = 0.0;
  }
}

// The root of f in the bracket [a, b] (f(a) and f(b) of opposite signs, fa the sign side of a):
// Newton from the middle, a step that leaves the bracket or shrinks it by less than half
// replaced by bisection, the bracket kept around the sign change; to round-off in s.
double BracketedRoot(const double* c, int p, double a, double b, double fa) {
  double s = 0.5 * (a + b), f, df, lastWidth = b - a;
  for (int it = 0; it < 200 && b - a > 1e-16; ++it) {
    BezierValue(c, p, s, &f, &df);
    if (f == 0.0) return s;
    if ((f > 0.0) == (fa > 0.0))
      a = s;
    else
      b = s;
    double next = df != 0.0 ? s - f / df : 0.5 * (a + b);
    const double width = b - a;
    if (!(next > a && next < b) || width > 0.5 * lastWidth) next = 0.5 * (a + b);
    lastWidth = width;
    if (next == s) break;
    s = next;
  }
  return s;
}

// Every sign change of the Bezier function c (p + 1 coefficients over s in [a, b]) strictly
// inside (0, 1): a control polygon of one sign has no root (convex hull); one sign change
// with ends of opposite signs holds exactly one root (variation diminishing), refined; anything
// else is cut in halves (de Casteljau) until the pieces are round-off small, where a piece
// whose ends differ in sign is a crossing and one whose ends agree a touching, which is not.
void SignChanges(const double* c, int p, double a, double b, int dir, double knot,
                 KnotCrossing* out, int* count, int room, const double* whole, int* budget) {
  if (--*budget < 0) return;  // a guard: noise at round-off must not split without end
  int changes = 0, last = 0;
  for (int j = 0; j <= p; ++j) {
    const int sgn = c[j] > 0.0 ? 1 : (c[j] < 0.0 ? -1 : 0);
    if (sgn != 0 && last != 0 && sgn != last) ++changes;
    if (sgn != 0) last = sgn;
  }
  if (changes == 0) return;
  const bool ends = (c[0] > 0.0 && c[p] < 0.0) || (c[0] < 0.0 && c[p] > 0.0);
  if ((changes == 1 && ends) || b - a < 1e-13) {
    if (!ends || *count >= room) return;
    const double s = changes == 1 ? BracketedRoot(whole, p, a, b, c[0]) : 0.5 * (a + b);
    // A root on a span end is the breakpoint there, an entry already.
    if (s > 1e-14 && s < 1.0 - 1e-14) out[(*count)++] = {s, dir, knot};
    return;
  }
  double left[kMaxSplineDegree + 1], right[kMaxSplineDegree + 1], d[kMaxSplineDegree + 1];
  for (int j = 0; j <= p; ++j) d[j] = c[j];
  left[0] = d[0];
  right[p] = d[p];
  for (int r = 1; r <= p; ++r) {
    for (int j = 0; j <= p - r; ++j) d[j] = 0.5 * (d[j] + d[j + 1]);
    left[r] = d[0];
    right[p - r] = d[p - r];
  }
  const double m = 0.5 * (a + b);
  SignChanges(left, p, a, m, dir, knot, out, count, room, whole, budget);
  SignChanges(right, p, m, b, dir, knot, out, count, room, whole, budget);
}

}  // namespace

int GetCurve2DSurfParamSect(Bspline* curve, int* count, double** params, double** us,
                            double** vs) {
  // Method: on every polynomial piece of the curve (its Bezier form over a knot span), for every
  // knot line k of the owner in u and in v (its domain's edges included), the Bezier coefficients of w (u - k) (or
  // w (v - k)) bound the sign changes of u(t) - k: SignChanges isolates each crossing, also a
  // second one within the span, and refines it to round-off. The crossings of a span, sorted,
  // go between its two breakpoints; crossings of a u and a v line at one parameter make one
  // entry on both lines.
  Bspline* srf = curve->owner;
  if (!srf || curve->degreeU < 1 || curve->degreeU > kMaxSplineDegree) return -2;
  const int p = curve->degreeU, n = NumCtrlU(curve), m = curve->interiorU + 2;
  const double* kc = curve->knotsU;
  const double* kn[2] = {srf->knotsU + srf->degreeU, srf->knotsV + srf->degreeV};
  const int nk[2] = {srf->interiorU + 2, srf->interiorV + 2};
  const double lo[2] = {srf->umin, srf->vmin}, hi[2] = {srf->umax, srf->vmax};

  TrackingScope scope;
  SectArrays out;
  if (!out.Make(4 * m)) return -2;
  // Room for the crossings of one span: a polynomial of degree p crosses a line at most p times.
  const int capacity = (nk[0] + nk[1]) * (p + 1) + 1;
  KnotCrossing* found = MallocArray<KnotCrossing>(capacity);
  if (!found || KernelFailed()) return -2;

  double first[2];
  Eval2DPointOnCurve2Array(srf, curve, kc[p], 0, first);
  if (!out.Append(kc[p], first[0], first[1])) return -2;
  for (int s = p; s < n; ++s) {
    const double t0 = kc[s], t1 = kc[s + 1];
    int nf = 0;
    if (t0 < t1) {
      double bez[kMaxSplineDegree + 1][4];
      SpanBezierPoints(curve, s, &bez[0][0]);
      for (int dir = 0; dir < 2; ++dir) {
        double cmin = bez[0][dir] / bez[0][3], cmax = cmin;
        for (int j = 1; j <= p; ++j) {
          const double x = bez[j][dir] / bez[j][3];
          cmin = std::fmin(cmin, x);
          cmax = std::fmax(cmax, x);
        }
        // Every span boundary counts, the domain's edges too: beyond an edge the surface is
        // evaluated clamped, so a curve leaving the domain enters another piece of the map.
        for (int l = 0; l < nk[dir]; ++l) {
          const double k = kn[dir][l];
          if ((l > 0 && k == kn[dir][l - 1]) || !(k > cmin && k < cmax)) continue;
          // Coefficients at round-off of the coordinates count as zero: a curve running along
          // the line within round-off crosses it nowhere.
          double c[kMaxSplineDegree + 1];
          for (int j = 0; j <= p; ++j) {
            c[j] = bez[j][dir] - k * bez[j][3];
            if (std::fabs(c[j]) <= 1e-14 * (std::fabs(k) + hi[dir] - lo[dir]) * std::fabs(bez[j][3])) c[j] = 0.0;
          }
          int budget = 4096;
          SignChanges(c, p, 0.0, 1.0, dir, k, found, &nf, capacity, c, &budget);
        }
      }
    }
    // In order along the span (insertion sort: a span crosses few lines).
    for (int i = 1; i < nf; ++i)
      for (int j = i; j > 0 && found[j].s < found[j - 1].s; --j) std::swap(found[j], found[j - 1]);
    for (int i = 0; i < nf; ++i) {
      const double t = t0 + found[i].s * (t1 - t0);
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, curve, t, 0, uv);
      double c[2] = {std::fmin(std::fmax(uv[0], lo[0]), hi[0]), std::fmin(std::fmax(uv[1], lo[1]), hi[1])};
      c[found[i].dir] = found[i].knot;
      // The other direction's line crossed at the same parameter: one entry on both lines.
      if (i + 1 < nf && found[i + 1].dir != found[i].dir && (found[i + 1].s - found[i].s) * (t1 - t0) <= 1e-13) {
        c[found[i + 1].dir] = found[i + 1].knot;
        ++i;
      }
      if (!out.Append(t, c[0], c[1])) return -2;
    }
    {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, curve, t1, 0, uv);
      if (!out.Append(t1, uv[0], uv[1])) return -2;
    }
  }
  Free(found);  // scratch: only the three arrays outlive the call
  scope.keep();
  *count = out.n;
  *params = out.t;
  *us = out.u;
  *vs = out.v;
  return 0;
}

// ---- exact iso-parametric pieces --------------------------------------------------------------
namespace {


Bspline* ExtractIsopar(Bspline* srf, Bspline* curve, Bspline* iso, bool spatial) {
  if (!RecordsSound({srf, curve, iso}) || srf->kind != 2) return MadeOrFailed<Bspline>(nullptr);
  if (spatial ? iso->dimension < 3 : iso->dimension != 2) return nullptr;
  double ends[2][3];
  Eval3DPointOnBsplOnSurfArray(srf, curve, curve->umin, 0, 0, ends[0]);
  Eval3DPointOnBsplOnSurfArray(srf, curve, curve->umax, 0, 0, ends[1]);
  CurveSampleCache cache;
  double t[2];
  for (int k = 0; k < 2; ++k) {
    if (cache.Estimate(iso, ends[k], &t[k]) != 0) return nullptr;
    // A refiner that refuses the curve leaves the distance unmeasured: too far.
    double C[3], distSq = kEmptyBoxBound, stepSq;
    if (spatial)
      FindClosestPointCurve3(iso, ends[k], C, iso->umin, iso->umax, &t[k], &distSq, &stepSq, 7);
    else
      FindClosestPointCurveOnSurf(iso, ends[k], C, iso->umin, iso->umax, &t[k], &distSq, &stepSq, 7);
    if (std::sqrt(distSq) > 0.001) {
      if (k == 0 || !spatial) return nullptr;
      return PointCurve(cache.x, cache.y, cache.z, 3);
    }
  }
  if (std::fabs(t[0] - t[1]) < 1e-6) return spatial ? PointCurve(cache.x, cache.y, cache.z, 3) : nullptr;
  TrackingScope scope;
  // From the start's parameter to the end's: reversed when the curve runs against the iso curve.
  Bspline* piece = nullptr;
  // Too short to matter (1): the caller keeps its own curve, and no error is left behind.
  if (ExtractParamRangeUnlessShort(iso, 0, t[0], t[1], &piece) != 0 || KernelFailed()) return nullptr;
  scope.keep();
  return piece;
}

}  // namespace

Bspline* ExtractIsoparCurve2(Bspline* srf, Bspline* curve, Bspline* iso) {
  return ExtractIsopar(srf, curve, iso, false);
}

Bspline* ExtractIsoparCurve3(Bspline* srf, Bspline* curve, Bspline* iso) {
  return ExtractIsopar(srf, curve, iso, true);
}
