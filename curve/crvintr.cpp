#include "curve/crvintr.h"

#include <cfloat>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "foundation/coreglob.h"
#include "bspline/ctrlnubs.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/geometry.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// A refined pair is a meeting when its gap lies below this share of the curves' size: far
// above the round-off the refiners reach at a crossing, far below any gap of a near miss
// worth reporting, and the same at every unit of length.
const double kMeetingGap = 1e-7;

// A node of one curve's subdivision tree: Greville parameters first .. first + count - 1.
struct CrvSubdivNode {
  CrvSubdivNode* child[2];
  double box[6];
  int first;
  int count;
  int state;  // -99 not split yet, -1 leaf (one Greville interval)
  int boxReady;
  double t0, t1;
};

// One curve of a CrvIntersect call: Greville parameters and the exact box of the curve over
// each Greville interval (6 doubles per interval: minimum x, y, z, maximum x, y, z; a curve in a
// parameter plane boxed there, with z 0).
struct CurveSide {
  Bspline* curve;
  int n;
  double* g;
  double* leafBox;
  double* bez;  // homogeneous Bezier points of span s at row s - degree; null: no hull boxes
  bool closes;  // the curve ends where it starts: its two ends are one point
  bool stalls;  // the curve stands still over some span (SpanStandsStill within the overlap gap)
};

// Box of the curve over [lo, hi] within one piece: by the convex hull property the cut piece's
// control points bound it (weights positive). Exact and without sampling.
void SubPieceBox(const double* bez, int p, double k0, double k1, double lo, double hi, double box[6]) {
  double d[kMaxSplineDegree + 1][4];
  BezierSubPiece(bez, p, k0, k1, lo, hi, d);
  for (int j = 0; j <= p; ++j)
    for (int q = 0; q < 3; ++q) {
      const double x = d[j][q] / d[j][3];
      if (x < box[q]) box[q] = x;
      if (x > box[q + 3]) box[q + 3] = x;
    }
}

// Exact box of the curve over [a, b] from the Bezier points of the spans it meets; *first is a
// span at or left of a (callers with rising a pass it back).
void ExactBox(const CurveSide& c, double a, double b, int* first, double box[6]) {
  const int p = c.curve->degreeU, n = c.n;
  const double* k = c.curve->knotsU;
  for (int q = 0; q < 3; ++q) {
    box[q] = kEmptyBoxBound;
    box[q + 3] = -kEmptyBoxBound;
  }
  while (*first + 1 < n && k[*first + 1] <= a) ++*first;
  for (int s = *first; s < n && k[s] <= b; ++s) {
    const double lo = a > k[s] ? a : k[s], hi = b < k[s + 1] ? b : k[s + 1];
    if (k[s] < k[s + 1] && lo <= hi) SubPieceBox(c.bez + 4 * (p + 1) * (s - p), p, k[s], k[s + 1], lo, hi, box);
  }
}

// A circular cone holding every tangent of a non-rational curve over [a, b]: the derivative of
// a Bezier piece is a positive combination of its hodograph vectors (the differences of its
// control points), so their directions bound it. False when there is none narrower than a
// half space (or the curve is rational).
bool TangentCone(const CurveSide& c, double a, double b, double axis[3], double* halfAngle) {
  if (c.curve->rational) return false;
  const int p = c.curve->degreeU, n = c.n;
  const double* k = c.curve->knotsU;
  double h[4 * kMaxSplineDegree][3];
  int nh = 0;
  for (int s = p; s < n && k[s] <= b; ++s) {
    const double lo = a > k[s] ? a : k[s], hi = b < k[s + 1] ? b : k[s + 1];
    if (!(k[s] < k[s + 1]) || !(lo < hi)) continue;
    if (nh + p > 4 * kMaxSplineDegree) return false;
    double d[kMaxSplineDegree + 1][4];
    BezierSubPiece(c.bez + 4 * (p + 1) * (s - p), p, k[s], k[s + 1], lo, hi, d);
    for (int j = 0; j < p; ++j) {
      const double v[3] = {d[j + 1][0] - d[j][0], d[j + 1][1] - d[j][1], d[j + 1][2] - d[j][2]};
      const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (!(len > 0.0)) continue;  // a vanishing difference adds no direction
      for (int q = 0; q < 3; ++q) h[nh][q] = v[q] / len;
      ++nh;
    }
  }
  if (nh == 0) return false;
  for (int q = 0; q < 3; ++q) axis[q] = 0.0;
  for (int i = 0; i < nh; ++i)
    for (int q = 0; q < 3; ++q) axis[q] += h[i][q];
  const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  if (!(len > 0.0)) return false;
  double cosHalf = 1.0;
  for (int q = 0; q < 3; ++q) axis[q] /= len;
  for (int i = 0; i < nh; ++i) cosHalf = std::fmin(cosHalf, h[i][0] * axis[0] + h[i][1] * axis[1] + h[i][2] * axis[2]);
  if (!(cosHalf > 0.0)) return false;
  *halfAngle = std::acos(std::fmin(cosHalf, 1.0));
  return true;
}


// Weights not all positive void the convex hull property: then every piece is boxed by the
// whole curve's box grown to be safe, so pruning keeps every pair.
bool PositiveWeights(const Bspline* c) {
  if (!c->rational || !c->W) return true;
  for (int i = 0; i < NumCtrlU(c); ++i)
    if (!(c->W[0][i] > 0.0)) return false;
  return true;
}

void UniteBoxes(double* into, const double* box) {
  for (int q = 0; q < 3; ++q) {
    if (box[q] < into[q]) into[q] = box[q];
    if (box[q + 3] > into[q + 3]) into[q + 3] = box[q + 3];
  }
}

// Box of a node: the union of its Greville intervals' boxes, grown by the margins.
void NodeBox(const CurveSide& c, double size, CrvSubdivNode* node) {
  double* b = node->box;
  b[0] = b[1] = b[2] = kEmptyBoxBound;
  b[3] = b[4] = b[5] = -kEmptyBoxBound;
  for (int i = node->first; i + 1 < node->first + node->count; ++i) UniteBoxes(b, c.leafBox + 6 * i);
  GrowBoxForOverlap(b, size);
  node->boxReady = 1;
}

CrvSubdivNode* NewNode(int first, int count, double t0, double t1) {
  CrvSubdivNode* n = CallocArray<CrvSubdivNode>(1);
  if (!n) return nullptr;
  n->first = first;
  n->count = count;
  n->state = -99;
  n->t0 = t0;
  n->t1 = t1;
  return n;
}

// The order the search finds meetings in hangs on round-off (which refinement reaches a meeting
// first); rising parameters on the first curve are the same at every unit of length. Insertion
// sort of the values: the nodes stay where they are.
void SortByFirstParameter(CrvIntrList* list) {
  if (list->count < 2) return;
  for (CrvIntrNode* n = list->first->next; n; n = n->next) {
    const double t1 = n->t1, t2 = n->t2;
    CrvIntrNode* m = n;
    for (; m->prev && (m->prev->t1 > t1 || (m->prev->t1 == t1 && m->prev->t2 > t2)); m = m->prev) {
      m->t1 = m->prev->t1;
      m->t2 = m->prev->t2;
    }
    m->t1 = t1;
    m->t2 = t2;
  }
}

// Splits a node once; the children share the middle Greville parameter.
int SplitNode(const CurveSide& c, double size, CrvSubdivNode* node) {
  if (node->count == 2) {
    node->state = -1;
    return 0;
  }
  if (node->child[0]) return 0;
  const int half = (node->count - 1) / 2, mid = node->first + half;
  node->child[0] = NewNode(node->first, half + 1, node->t0, c.g[mid]);
  node->child[1] = NewNode(mid, node->count - half, c.g[mid], node->t1);
  if (!node->child[0] || !node->child[1]) return -2;
  NodeBox(c, size, node->child[0]);
  NodeBox(c, size, node->child[1]);
  return 0;
}

// Two axis-aligned boxes meet when their ranges overlap on every axis (touching counts).
bool CrvIntersectBoxes(const CrvSubdivNode* A, const CrvSubdivNode* B) {
  for (int q = 0; q < 3; ++q)
    if (A->box[q] > B->box[q + 3] || B->box[q] > A->box[q + 3]) return false;
  return true;
}

// The Greville interval of s, kept when s lies in interval i already.
int GrevilleInterval(const CurveSide& c, double s, int i) {
  if (s >= c.g[i] && s <= c.g[i + 1]) return i;
  if (s < c.g[0]) return 0;
  if (s > c.g[c.n - 1]) return c.n - 2;
  int j = c.n - 2;
  while (j > 0 && c.g[j] > s) --j;
  return j;
}

// Pieces whose boxes are both below this share of the size are not split further: a meeting
// refined from their middle stands for the pair. Two crossings closer than this (which only
// near-tangent curves have) may count once; overlapping curves cost a bounded number of pairs.
const double kSmallestPiece = 1e-3;

// The round-off of a point of a curve per term of its basis, as a share of its largest
// coordinate (about five units in the last place).
const double kEvalRoundOff = 1e-15;

// Where two curves coincide: an interval on each (the second's in either order), both ends
// listed as meetings.
struct Stretch {
  double a0, a1, b0, b1;
};
const int kMostStretches = 32;

// An overlap: the curves within this share of their size of each other (round-off, well below
// any gap of curves that merely cross at a small angle)...
const double kOverlapGap = 1e-11;
// ...or within this share of their largest coordinate, where that is larger: curves placed far
// from their origin carry the round-off of their coordinates as data (two pieces of one curve,
// each cut where it lies, differ by some units in the last place of those).
const double kCoordRoundOff = 32.0 * DBL_EPSILON;
// ...over a length along them of at least this share of their size. A crossing at an angle a
// keeps the curves that close over 2 kOverlapGap / a of the size: below this length down to
// angles of 1e-9.
const double kOverlapLength = 0.05;

struct Search {
  CurveSide a, b;
  double size;     // the larger diagonal of the two curves' boxes
  double overlapGap;  // curves closer than this run together (see kOverlapGap)
  double reach;    // the curves' largest coordinate where they lie (their round-off is data)
  double meetSq;   // squared gap below which a refined pair is a meeting
  int** marks;
  CrvIntrList* list;
  Stretch* stretches;  // kMostStretches slots
  int stretchCount;
  bool stopAtOverlap;  // the caller asked for the overlap test: an overlap ends the search
};

// Pieces whose tangent cones share no direction, either way round, meet at most once: the chord
// between two meetings would lie in both cones (up to its sign on the second curve).
bool MeetAtMostOnce(const Search& s, double a0, double a1, double b0, double b1) {
  double ax[3], bx[3], ha, hb;
  if (!TangentCone(s.a, a0, a1, ax, &ha) || !TangentCone(s.b, b0, b1, bx, &hb)) return false;
  const double c = std::fmax(-1.0, std::fmin(1.0, ax[0] * bx[0] + ax[1] * bx[1] + ax[2] * bx[2]));
  const double between = std::acos(c), margin = ha + hb + 1e-9;
  return between > margin && M_PI - between > margin;
}

// The points of both curves at (tA, tB) (2D curves in their parameter plane, z 0) and,
// with D, their first derivatives.
void PairPoints(const Search& s, double tA, double tB, double P[2][3], double D[2][3] = nullptr) {
  static const int du[2] = {0, 1}, dv[2] = {0, 0};
  double a[2][3], b[2][3];
  EvalPointOnGeometryM(s.a.curve, tA, 0.0, du, dv, D ? 2 : 1, 0, a);
  EvalPointOnGeometryM(s.b.curve, tB, 0.0, du, dv, D ? 2 : 1, 0, b);
  for (int k = 0; k < 3; ++k) {
    P[0][k] = a[0][k];
    P[1][k] = b[0][k];
    if (D) {
      D[0][k] = a[1][k];
      D[1][k] = b[1][k];
    }
  }
}

double PairGapSq(const Search& s, double tA, double tB) {
  double P[2][3];
  PairPoints(s, tA, tB, P);
  return (P[1][0] - P[0][0]) * (P[1][0] - P[0][0]) + (P[1][1] - P[0][1]) * (P[1][1] - P[0][1]) +
         (P[1][2] - P[0][2]) * (P[1][2] - P[0][2]);
}

// The sine of the crossing angle of the pair at (tA, tB) as a vector, the unit tangents' cross
// product: two neighbouring crossings of two curves turn opposite ways (the second curve passes
// to one side of the first and back).
void CrossingTurn(const Search& s, double tA, double tB, double turn[3]) {
  double P[2][3], D[2][3];
  PairPoints(s, tA, tB, P, D);
  VecCrossProd3(D[0], D[1], turn);
  const double scale = VecSize3(D[0]) * VecSize3(D[1]);
  for (int k = 0; k < 3; ++k) turn[k] = scale > 0.0 ? turn[k] / scale : 0.0;
}

// The middle of two parameters of a curve, the short way round: a curve that closes runs on
// through the point where it starts, so two parameters beside its two ends lie close together
// across it.
double MiddleParam(const CurveSide& c, double a, double b) {
  const double range = c.curve->umax - c.curve->umin, mid = 0.5 * (a + b);
  if (!c.closes || std::fabs(a - b) <= 0.5 * range) return mid;
  return mid + 0.5 * range <= c.curve->umax ? mid + 0.5 * range : mid - 0.5 * range;
}

// Whether a refined meeting (sA, sB) is one listed already, whose node is returned. Two
// meetings are told apart by distance in space, never by parameter: one farther along the
// first curve than the smallest piece is another. Two nearer ones that turn opposite ways by
// more than round-off are two crossings when they lie farther apart than four times the sum of
// their places' uncertainties along the curves (each gap, at least the last place of the
// coordinates, over the sine of its angle): two crossings close together, however close,
// while a touching refined to either side of its vertex (gaps rising as the square of the
// distance) stays one. Else a nearer one is the same only when the curves stay together between
// the two: the gap at the middle of the two parameter pairs within twice the larger of their
// own gaps, or within the round-off of evaluating them, or each curve's point at its middle
// parameter within that of the other curve; otherwise the curves parted and met again (or the
// second curve passed the same point twice).
double FootOn(const Search& s, bool onFirst, double t, double* u);
bool IsStretchEnd(const Search& s, double tA, double tB);
CrvIntrNode* SameMeeting(const Search& s, double sA, double sB) {
  if (s.list->count == 0) return nullptr;
  double P[2][3], turn[3], ownSq = -1.0;
  PairPoints(s, sA, sB, P);
  const double nearSq = (kSmallestPiece * s.size) * (kSmallestPiece * s.size);
  // Round-off of a point's coordinates: curves that lie far from the origin carry the digits
  // of the size they lost there (the search runs in the unit frame, where that is data), a few
  // units in the last place of the largest coordinate per term of the basis.
  double reach = std::fmax(s.size, s.reach);
  for (int k = 0; k < 3; ++k) reach = std::fmax(reach, std::fabs(P[0][k]));
  const double lastPlace = DBL_EPSILON * reach;
  const double noise = kEvalRoundOff * (s.a.curve->degreeU + s.b.curve->degreeU + 2) * reach;
  // Turns below this are round-off of the tangents (the derivatives lose the digits the points do).
  const double clearTurn = 1e3 * noise / s.size;
  CrvIntrNode* n = s.list->first;
  for (int i = 0; i < s.list->count; ++i, n = n->next) {
    double Q[2][3], other[3];
    PairPoints(s, n->t1, n->t2, Q);
    double apartSq = 0.0;
    for (int k = 0; k < 3; ++k) apartSq += (Q[0][k] - P[0][k]) * (Q[0][k] - P[0][k]);
    if (apartSq > nearSq) continue;
    if (ownSq < 0.0) {  // only a meeting near another needs its gap and turn
      ownSq = PairGapSq(s, sA, sB);
      CrossingTurn(s, sA, sB, turn);
    }
    const double otherSq = PairGapSq(s, n->t1, n->t2);
    // Two ends of stretches are one only when the curves are together at their middles: a
    // curve that runs along the other and back again is two stretches, whose far ends are one
    // point in space and two meetings (the curves seen there at a corner may seem to cross).
    if (IsStretchEnd(s, sA, sB) && IsStretchEnd(s, n->t1, n->t2)) {
      const double middleSq = PairGapSq(s, MiddleParam(s.a, sA, n->t1), MiddleParam(s.b, sB, n->t2));
      if (middleSq <= 4.0 * std::fmax(ownSq, otherSq) + noise * noise) return n;
      continue;
    }
    CrossingTurn(s, n->t1, n->t2, other);
    const double sine = VecSize3(turn), otherSine = VecSize3(other);
    if (VecDotProd3(turn, other) < 0.0 && sine > clearTurn && otherSine > clearTurn) {
      const double unsure = std::fmax(std::sqrt(ownSq), lastPlace) / sine +
                            std::fmax(std::sqrt(otherSq), lastPlace) / otherSine;
      if (apartSq > 16.0 * unsure * unsure) continue;
      return n;
    }
    const double endsSq = std::fmax(ownSq, otherSq), togetherSq = 4.0 * endsSq + noise * noise;
    const double mA = MiddleParam(s.a, sA, n->t1), mB = MiddleParam(s.b, sB, n->t2);
    if (PairGapSq(s, mA, mB) <= togetherSq) return n;
    // Where one curve turns back on itself between the two (a cusp on the other curve's line)
    // the middles of the parameters part though the curves do not: then each curve's middle
    // lies on the other curve, its foot sought from either meeting.
    bool together = true;
    for (const bool onFirst : {false, true}) {
      const double from[2] = {onFirst ? sA : sB, onFirst ? n->t1 : n->t2};
      double best = kEmptyBoxBound;
      for (const double start : from) {
        double u = start;
        best = std::fmin(best, FootOn(s, onFirst, onFirst ? mB : mA, &u));
      }
      together = together && best <= togetherSq;
    }
    if (together) return n;
  }
  return nullptr;
}

bool ListedWithin(const CrvIntrList* list, double a0, double a1, double b0, double b1) {
  if (list->count == 0) return false;
  for (const CrvIntrNode* n = list->first; n; n = n->next)
    if (n->t1 >= a0 && n->t1 <= a1 && n->t2 >= b0 && n->t2 <= b1) return true;
  return false;
}

// The foot on one curve (the second; the first with onFirst) of the other's point at t, from
// *u kept within [lo, hi] (Gauss-Newton on the squared gap, a few steps from a close start); the
// squared gap there, at the foot handed back: a last step (where the curve stands still, the gap
// over a vanishing speed, it may leap along the curve far off the point) is measured too.
double FootWithin(const Search& s, bool onFirst, double t, double lo, double hi, double* u) {
  const int on = onFirst ? 0 : 1;
  double P[2][3], D[2][3], gapSq = 0.0;
  bool stepped = false;
  for (int it = 0; it < 8; ++it) {
    PairPoints(s, onFirst ? *u : t, onFirst ? t : *u, P, D);
    const double r[3] = {P[1 - on][0] - P[on][0], P[1 - on][1] - P[on][1], P[1 - on][2] - P[on][2]};
    gapSq = VecDotProd3(r, r);
    stepped = false;
    const double dd = VecDotProd3(D[on], D[on]);
    if (!(dd > 0.0)) break;
    const double next = std::fmin(hi, std::fmax(lo, *u + VecDotProd3(r, D[on]) / dd));
    if (next == *u) break;
    *u = next;
    stepped = true;
  }
  if (stepped) {  // the other curve's point at t is P[1 - on] still
    static const int du[1] = {0}, dv[1] = {0};
    double q[1][3];
    EvalPointOnGeometryM(onFirst ? s.a.curve : s.b.curve, *u, 0.0, du, dv, 1, 0, q);
    const double r[3] = {P[1 - on][0] - q[0][0], P[1 - on][1] - q[0][1], P[1 - on][2] - q[0][2]};
    gapSq = VecDotProd3(r, r);
  }
  return gapSq;
}

double FootOn(const Search& s, bool onFirst, double t, double* u) {
  const Bspline* C = onFirst ? s.a.curve : s.b.curve;
  return FootWithin(s, onFirst, t, C->umin, C->umax, u);
}

double BoxDiagonal(const double box[6]) {
  double d2 = 0.0;
  for (int q = 0; q < 3; ++q) d2 += (box[q + 3] - box[q]) * (box[q + 3] - box[q]);
  return std::sqrt(d2);
}

// Whether the curve stands still over span i (k[i] < k[i + 1]): its Bezier points there, which
// hold it, within `gap` of each other (a vertex doubled, a round-off apart in space). False where
// the hull says nothing (weights not all positive).
bool SpanStandsStill(const CurveSide& c, int i, double gap) {
  const int p = c.curve->degreeU;
  if (!c.bez || !(c.curve->knotsU[i] < c.curve->knotsU[i + 1])) return false;
  const double* b = c.bez + 4 * (p + 1) * (i - p);
  double box[6];
  for (int q = 0; q < 3; ++q) box[q] = box[q + 3] = b[q] / b[3];
  for (int j = 1; j <= p; ++j)
    for (int q = 0; q < 3; ++q) {
      const double x = b[4 * j + q] / b[4 * j + 3];
      box[q] = std::fmin(box[q], x);
      box[q + 3] = std::fmax(box[q + 3], x);
      if (box[q + 3] - box[q] > gap) return false;  // the usual answer, known early
    }
  return BoxDiagonal(box) <= gap;
}

// SpanStandsStill within the overlap gap, asked only of a curve that stands still somewhere
// (the walks ask it at every step).
bool StandsStill(const Search& s, const CurveSide& c, int i) {
  return c.stalls && SpanStandsStill(c, i, s.overlapGap);
}

// FootOn from *u, and the foot within every span of the curve near *u (within `window`) from its
// middle, the smallest gap kept: on a polyline a step from one span overshoots a corner, one that
// lands on a span where the curve stands still (a vertex doubled, knots a round-off apart) stops
// there, and past a corner a round-off from the point the distance has a second minimum, a share
// of the overlap gap from the point, which a step from either side may run into.
double NearestFootOn(const Search& s, bool onFirst, double t, double window, double* u) {
  const CurveSide& c = onFirst ? s.a : s.b;
  const Bspline* C = c.curve;
  const double* k = C->knotsU;
  const int p = C->degreeU, n = NumCtrlU(C);
  const double from = *u;
  auto gapAt = [&](double v) { return onFirst ? PairGapSq(s, v, t) : PairGapSq(s, t, v); };
  FootOn(s, onFirst, t, u);
  double best = gapAt(*u);
  // A span where the curve stands still has no length along it: the window runs on across it
  // to the span beyond, however long it is in parameter (a vertex doubled at ordinary spacing).
  double lo = from - window, hi = from + window;
  for (int i = p; i < n; ++i)
    if (k[i] <= hi && k[i + 1] > hi && StandsStill(s, c, i)) hi = k[i + 1] + window;
  for (int i = n - 1; i >= p; --i)
    if (k[i + 1] >= lo && k[i] < lo && StandsStill(s, c, i)) lo = k[i] - window;
  for (int i = p; i < n; ++i) {
    if (!(k[i] < k[i + 1]) || k[i + 1] < lo || k[i] > hi) continue;
    double v = 0.5 * (k[i] + k[i + 1]);
    FootWithin(s, onFirst, t, k[i], k[i + 1], &v);
    if (const double g = gapAt(v); g < best) {
      best = g;
      *u = v;
    }
  }
  return best;
}

// Whether the curve may stand still or turn a corner within `window` of t, where a foot step
// from one side stops or overshoots: a polyline, or a span there far shorter than the window
// (a knot repeated, or a cluster of knots a round-off apart) or standing still. Elsewhere a step
// moves off t and NearestFootOn finds nothing the steps do not.
bool CornerOrClusterNear(const Search& s, const CurveSide& c, double t, double window) {
  const Bspline* C = c.curve;
  const double* k = C->knotsU;
  const int p = C->degreeU, n = NumCtrlU(C);
  if (p <= 1) return true;
  for (int i = p; i < n; ++i)
    if (k[i + 1] >= t - window && k[i] <= t + window && (k[i + 1] - k[i] < 1e-3 * window || StandsStill(s, c, i)))
      return true;
  return false;
}

// The knot of the curve nearest to t on the way back to `from` (both included: a walk may
// start on the knot where the curves part), or up to `behind` beyond `from` (a refinement onto
// that corner may stop a round-off past it, on the leg where the curves part), no farther than
// `window` from t; false when there is none.
bool LastBreakpointPassed(const Bspline* c, double from, double t, double behind, double window, double* knot) {
  const double* U = c->knotsU;
  const int p = c->degreeU, n = NumCtrlU(c);
  const double dir = t > from ? 1.0 : -1.0;
  bool found = false;
  for (int i = p + 1; i < n; ++i) {
    const double x = U[i];
    if (dir * (x - from) >= -behind && dir * (t - x) >= 0.0 && dir * (t - x) <= window &&
        (!found || dir * (x - *knot) > 0.0)) {
      *knot = x;
      found = true;
    }
  }
  return found;
}

// Two polynomial (or rational) pieces that coincide over any length are one curve over both
// their spans, so where two curves part inside both ranges they part at a knot of one or the
// other. The walk stops where their gap passes the overlap gap, which past a tangential parting
// lies beyond the true end by up to the square root of that gap (the cube root where the second
// derivatives agree too: 1e-4 of the range). So the end goes back to the last knot the walk
// passed, of either curve, within kSmallestPiece of the range, where the curves are together;
// the other curve's parameter there is the foot of that knot's point, exact to round-off.
bool EndAtBreakpoint(const Search& s, double sA, double sB, int dir, double* tA, double* tB) {
  const Bspline *A = s.a.curve, *B = s.b.curve;
  const double gapSq = s.overlapGap * s.overlapGap;
  double bestA = *tA, bestB = *tB;
  bool found = false;
  double x = 0.0;
  // A knot behind the walk's start, within the overlap gap of it along the curve, counts as
  // passed: the start, a refined pair, may lie a round-off past the corner where the curves part.
  double P[2][3], D[2][3];
  PairPoints(s, sA, sB, P, D);
  const double speedA = VecSize3(D[0]), speedB = VecSize3(D[1]);
  const double behindA = speedA > 0.0 ? s.overlapGap / speedA : 0.0, behindB = speedB > 0.0 ? s.overlapGap / speedB : 0.0;
  if (LastBreakpointPassed(A, sA, *tA, behindA, kSmallestPiece * (A->umax - A->umin), &x)) {
    double u = *tB;
    if (FootOn(s, false, x, &u) <= gapSq) {
      bestA = x;
      bestB = u;
      found = true;
    }
  }
  if (*tB != sB && LastBreakpointPassed(B, sB, *tB, behindB, kSmallestPiece * (B->umax - B->umin), &x)) {
    double u = *tA;
    // Of two knots the one nearer the walk's end: a knot behind the end lies on the stretch.
    // (A knot of the other curve past the end but within the overlap gap of it, where the curves
    // part with agreeing second derivatives, can stand for the end: the gap there is a few
    // units in the last place.)
    if (FootOn(s, true, x, &u) <= gapSq && (!found || dir * (u - bestA) > 0.0)) {
      bestA = u;
      bestB = x;
      found = true;
    }
  }
  if (!found) return false;
  *tA = bestA;
  *tB = bestB;
  return true;
}

// A walk ends a share of the overlap gap short of a curve's end where a foot on a polyline stops
// on a vertex doubled a round-off apart, or a step overshoots a corner: the gap stays below the
// overlap gap over a length of the order of that gap, longer than the spans of a cluster of
// knots, and the foot on the second curve may have gone the wrong way along it. So an end of the
// first curve just ahead of the walk's end, or an end of the second just beside it, within the
// overlap gap of the other curve, ends the stretch (of two, the one with the smaller gap), its
// partner the foot. The second curve's end must not lie behind the walk's start (sA), but for
// the overlap gap, or twice the gap of the start (sA, sB) where that is larger: a refinement may
// end that far beyond the end of a stretch (off the stretch, the nearest point of the second
// curve its end, where a cluster of knots makes the curve jump just past it).
bool EndAhead(const Search& s, double sA, double sB, int dir, double* tA, double* tB) {
  const Bspline *A = s.a.curve, *B = s.b.curve;
  const double windowA = kSmallestPiece * (A->umax - A->umin), windowB = kSmallestPiece * (B->umax - B->umin);
  double best = s.overlapGap * s.overlapGap, endA = *tA, endB = *tB;
  bool found = false;
  for (const double e : {A->umin, A->umax}) {
    double u = *tB;
    if (dir * (e - *tA) < 0.0 || std::fabs(e - *tA) > windowA) continue;
    if (const double g = NearestFootOn(s, false, e, windowB, &u); found ? g < best : g <= best) {
      best = g;
      endA = e;
      endB = u;
      found = true;
    }
  }
  double start[2][3], P[2][3];
  PairPoints(s, sA, sB, start);
  const double behind = std::fmax(s.overlapGap, 2.0 * VecDist3(start[0], start[1]));
  for (const double e : {B->umin, B->umax}) {
    double u = *tA;
    if (std::fabs(e - *tB) > windowB) continue;
    const double g = NearestFootOn(s, true, e, windowA, &u);
    if (found ? !(g < best) : !(g <= best)) continue;
    PairPoints(s, u, e, P);
    if (dir * (u - sA) < 0.0 && VecDist3(P[0], start[0]) > behind) continue;
    best = g;
    endA = u;
    endB = e;
    found = true;
  }
  if (!found) return false;
  *tA = endA;
  *tB = endB;
  return true;
}

// Whether the point of the first curve halfway from tA to nA has its foot on the second between
// tB and nB, within the overlap gap: the curves run together from one pair to the other. A foot
// on the second curve sought the other way from a long step may land on the point the first
// reached, but elsewhere along the second curve (across the seam of a closed curve), the curves
// parting in between.
bool TogetherBetween(const Search& s, double tA, double tB, double nA, double nB) {
  double u = 0.5 * (tB + nB);
  return FootWithin(s, false, 0.5 * (tA + nA), std::fmin(tB, nB), std::fmax(tB, nB), &u) <= s.overlapGap * s.overlapGap;
}

// Whether a curve turns back along the other between (tA, tB) and (nA, nB), inside a span: the
// tangents, taken just inside the step at either end, run the same way at one end and opposite
// ways at the other. Ends where a curve barely moves over the step (a stall, a vertex doubled)
// say nothing.
bool TurnsBetween(const Search& s, double tA, double tB, double nA, double nB) {
  // Just inside, so that a step's end on a knot gives the tangent of the side stepped over.
  const double e = 1e-6;
  double sign[2];
  for (int end = 0; end < 2; ++end) {
    const double a = end ? nA - e * (nA - tA) : tA + e * (nA - tA);
    const double b = end ? nB - e * (nB - tB) : tB + e * (nB - tB);
    double P[2][3], D[2][3];
    PairPoints(s, a, b, P, D);
    const double la = VecSize3(D[0]), lb = VecSize3(D[1]);
    if (!(la * std::fabs(nA - tA) > s.overlapGap) || !(lb * std::fabs(nB - tB) > s.overlapGap)) return false;
    // Curves running together have parallel tangents; within 60 degrees of that they tell a way.
    const double c = VecDotProd3(D[0], D[1]) / (la * lb);
    if (std::fabs(c) < 0.5) return false;
    sign[end] = c;
  }
  return sign[0] * sign[1] < 0.0;
}

// Whether the curve may turn back between t0 and t1 inside a span, where it should run the way
// of `chord` (the first curve's from the step's start to its end): one of the hodograph vectors
// of its pieces there (their derivative is a positive combination of them) runs against it.
// Vectors that move the curve less than the overlap gap (a stall, a vertex doubled) say
// nothing; nor do rational curves.
bool MayTurnBetween(const Search& s, const CurveSide& c, double t0, double t1, const double chord[3]) {
  const Bspline* C = c.curve;
  const double len = VecSize3(chord);
  if (C->rational || !c.bez || !(len > s.overlapGap)) return false;
  const int p = C->degreeU, n = c.n;
  const double* k = C->knotsU;
  const double lo = std::fmin(t0, t1), hi = std::fmax(t0, t1), way = t1 > t0 ? 1.0 : -1.0;
  for (int sp = p; sp < n && k[sp] <= hi; ++sp) {
    const double a = lo > k[sp] ? lo : k[sp], b = hi < k[sp + 1] ? hi : k[sp + 1];
    if (!(k[sp] < k[sp + 1]) || !(a < b)) continue;
    double d[kMaxSplineDegree + 1][4];
    BezierSubPiece(c.bez + 4 * (p + 1) * (sp - p), p, k[sp], k[sp + 1], a, b, d);
    for (int j = 0; j < p; ++j) {
      const double v[3] = {d[j + 1][0] - d[j][0], d[j + 1][1] - d[j][1], d[j + 1][2] - d[j][2]};
      // More than 120 degrees from the chord: no bend of a piece over one step turns it so far.
      if (VecSize3(v) > s.overlapGap && way * VecDotProd3(v, chord) < -0.5 * VecSize3(v) * len) return true;
    }
  }
  return false;
}

// Whether either curve may turn back along the other over the step from (tA, tB) to (nA, nB):
// a step across such a turn lands on the way back while the second curve's parameter still runs
// on (the turn of one curve inside a span, or two turns of the other).
bool TurnWithin(const Search& s, double tA, double tB, double nA, double nB) {
  double P[2][3], Q[2][3], chord[3];
  PairPoints(s, tA, tB, P);
  PairPoints(s, nA, nB, Q);
  for (int q = 0; q < 3; ++q) chord[q] = Q[0][q] - P[0][q];
  return TurnsBetween(s, tA, tB, nA, nB) || MayTurnBetween(s, s.a, tA, nA, chord) ||
         MayTurnBetween(s, s.b, tB, nB, chord);
}

// Whether the second curve's knots strictly between tB and nB lie on the first between tA and
// nA, within the overlap gap and in their order along it: where the curves run together the
// second curve's path from tB to nB is the first's from tA to nA. A curve that passes one point
// twice (a polyline through another's corner, out along a leg and back) offers a foot on either
// pass there, and a step whose foot hops to the other pass takes the second curve round its turn
// in between, a knot whose point lies beyond nA or behind one passed before. Knots a round-off
// of the range from another (a cluster, across which the curve jumps) are not looked at: there
// two copies of one curve differ by the round-off of the jump, far above the overlap gap.
bool KnotsRunAlong(const Search& s, double tA, double tB, double nA, double nB, double paramNoise) {
  const Bspline* B = s.b.curve;
  const double* k = B->knotsU;
  const int p = B->degreeU, n = NumCtrlU(B);
  const int dir = nB > tB ? 1 : -1;
  double u = tA;
  for (int j = 0; j < n - p - 1; ++j) {
    const int i = dir > 0 ? p + 1 + j : n - 1 - j;
    const double x = k[i];
    if (dir * (x - tB) <= 0.0 || dir * (nB - x) <= 0.0 || (j > 0 && x == k[i - dir])) continue;
    int below = i, above = i;  // the distinct knots either side
    while (below > p && k[below] == x) --below;
    while (above < n && k[above] == x) ++above;
    if ((k[below] != x && x - k[below] <= paramNoise) || (k[above] != x && k[above] - x <= paramNoise)) continue;
    const double lo = std::fmin(u, nA), hi = std::fmax(u, nA);
    double v = std::fmin(hi, std::fmax(lo, tA + (x - tB) / (nB - tB) * (nA - tA)));
    if (FootWithin(s, true, x, lo, hi, &v) > s.overlapGap * s.overlapGap) return false;
    u = v;
  }
  return true;
}

// Where a curve turns back along the other inside a span (its speed vanishing there: a control
// polygon folded back along the other curve), the other curve's parameter turns or the walk
// runs off the turn's point, and no knot ends the stretch: it ends at the turn, the zero of the
// turning curve's derivative along the other's tangent. The zero is found by halving between a
// parameter behind the walk's end (within the smallest piece, not behind its start) and one as
// far past it, where that component has opposite signs; the first curve is tried, then the
// second (from the way its parameter went); the partner is the foot.
bool EndAtTurn(const Search& s, double sA, double sB, int dir, double* tA, double* tB) {
  const double gapSq = s.overlapGap * s.overlapGap;
  for (const bool onFirst : {true, false}) {
    const Bspline* C = onFirst ? s.a.curve : s.b.curve;
    const double t = onFirst ? *tA : *tB, from = onFirst ? sA : sB;
    const double way = onFirst ? dir : (t > from ? 1.0 : t < from ? -1.0 : 0.0);
    if (way == 0.0) continue;
    const double w = kSmallestPiece * (C->umax - C->umin);
    double in = t - way * w, out = std::fmin(C->umax, std::fmax(C->umin, t + way * w));
    if (way * (in - from) < 0.0) in = from;
    // The other curve's tangent at the foot of the point behind the end, on the stretch: a
    // foot sought where a curve turns is unsure (its speed vanishes there), that one is not.
    double partner = onFirst ? *tB : *tA, P[2][3], D[2][3], along[3];
    FootOn(s, !onFirst, in, &partner);
    PairPoints(s, onFirst ? in : partner, onFirst ? partner : in, P, D);
    for (int q = 0; q < 3; ++q) along[q] = D[onFirst ? 1 : 0][q];
    auto component = [&](double x) {
      PairPoints(s, onFirst ? x : partner, onFirst ? partner : x, P, D);
      return VecDotProd3(D[onFirst ? 0 : 1], along);
    };
    const double cIn = component(in);
    if (!(cIn * component(out) < 0.0)) continue;
    for (int it = 0; it < 200; ++it) {
      const double mid = 0.5 * (in + out);
      if (mid == in || mid == out) break;
      if ((component(mid) > 0.0) == (cIn > 0.0))
        in = mid;
      else
        out = mid;
    }
    FootOn(s, !onFirst, in, &partner);
    if ((onFirst ? PairGapSq(s, in, partner) : PairGapSq(s, partner, in)) > gapSq) continue;
    *tA = onFirst ? in : partner;
    *tB = onFirst ? partner : in;
    return true;
  }
  return false;
}

// From the meeting (sA, sB), how far the curves run together (within the overlap gap) along
// the first curve, one way (dir 1 or -1): steps that double while the curves stay together and
// halve where they part, down to round-off of the range. *endA, *endB the last pair together.
// A stretch that ends where the second curve ends ends exactly there, at the foot on the first
// curve of that end (where the first curve ends, the steps reach its end themselves); where the
// curves part inside both ranges, it is the knot where they part (EndAtBreakpoint). True when
// the stretch ends so, where a curve ends or at a knot; false when the walk found no knot to end
// at (the curves only come within the overlap gap of each other, as at a crossing at a tiny
// angle). A stretch that ends where a curve turns back inside a span ends at the turn
// (EndAtTurn), which counts as a knot.
bool RunTogether(const Search& s, double sA, double sB, int dir, double* endA, double* endB) {
  const Bspline *A = s.a.curve, *B = s.b.curve;
  const double range = A->umax - A->umin, gapSq = s.overlapGap * s.overlapGap;
  const double windowA = kSmallestPiece * range, windowB = kSmallestPiece * (B->umax - B->umin);
  // The second curve's parameter runs one way along a stretch. Where the first curve turns back
  // along the second (a polyline doubling back on itself, its corner on the other curve) that
  // parameter turns too: the stretch ends at the turn and the way back is another one, each end
  // listed. A step stops at the first curve's knots, where such a corner lies, so that no step
  // passes one and lands on the way back; a step that takes the second curve's parameter back from
  // the farthest one reached, against the way the walk went, is one off the stretch, and so is one
  // whose foot runs on round a turn of the second curve to its way back (KnotsRunAlong), or across a
  // turn of either curve inside a span (TurnWithin). Moves within the meeting gap are no way at all:
  // a foot is unsure by that much where a curve stands still, or jumps across knots a round-off
  // apart (where it may also jump to and fro by round-off of the parameter). The way is measured
  // from the foot of the start.
  const double* kA = A->knotsU;
  const int lastKnotA = NumCtrlU(A) + A->degreeU;
  const double paramNoise = 1e-11 * (B->umax - B->umin);
  double sense = 0.0, startB = sB;
  FootOn(s, false, sA, &startB);
  double farB = startB;
  auto moved = [&](double from, double to) {
    if (!(std::fabs(to - from) > paramNoise)) return false;
    double P[2][3], Q[2][3];
    PairPoints(s, sA, from, P);
    PairPoints(s, sA, to, Q);
    return VecDist3(P[1], Q[1]) > kMeetingGap * s.size;
  };
  double tA = sA, tB = sB, step = kSmallestPiece * range;
  while (step > 1e-13 * range) {
    double nextA = std::fmin(A->umax, std::fmax(A->umin, tA + dir * step));
    for (int i = 0; i <= lastKnotA; ++i)
      if (dir * (kA[i] - tA) > 0.0 && dir * (nextA - kA[i]) > 0.0) nextA = kA[i];
    if (nextA == tA) break;
    double P[2][3], D[2][3];
    PairPoints(s, tA, tB, P, D);
    const double dd = VecDotProd3(D[1], D[1]);
    double nextB = dd > 0.0 ? tB + (nextA - tA) * VecDotProd3(D[0], D[1]) / dd : tB;
    nextB = std::fmin(B->umax, std::fmax(B->umin, nextB));  // the foot search keeps it there only where it moves
    // On a corner the tangents are those of one side each, and where the second curve runs
    // backwards the step predicted on it may head up the wrong leg: the other way is tried too.
    // Where the second curve stands still at tB (a vertex doubled a round-off apart) neither
    // foot moves off it: the foot within each span near tB is sought then.
    double otherB = std::fmin(B->umax, std::fmax(B->umin, 2.0 * tB - nextB)), nearB = tB;
    if (FootOn(s, false, nextA, &nextB) <= gapSq ||
        (otherB != nextB && FootOn(s, false, nextA, &otherB) <= gapSq &&
         TogetherBetween(s, tA, tB, nextA, otherB) && (nextB = otherB, true)) ||
        (CornerOrClusterNear(s, s.b, tB, windowB) && NearestFootOn(s, false, nextA, windowB, &nearB) <= gapSq &&
         (nextB = nearB, true))) {
      if ((sense * (nextB - farB) < 0.0 && moved(farB, nextB)) || !KnotsRunAlong(s, tA, tB, nextA, nextB, paramNoise) ||
          TurnWithin(s, tA, tB, nextA, nextB)) {
        step *= 0.5;
        continue;
      }
      if (sense == 0.0 && moved(startB, nextB)) sense = nextB > startB ? 1.0 : -1.0;
      if (sense * (nextB - farB) > 0.0) farB = nextB;
      tA = nextA;
      tB = nextB;
      step *= 2.0;
    } else {
      step *= 0.5;
    }
  }
  // Where the first curve ends, the second's foot of that end stops short of the second's own
  // end where its speed vanishes there (control points that coincide): the point is the same to
  // round-off, the parameter anywhere along the stall. When the curves end together, the stretch
  // ends where both curves end.
  if (tA == A->umin || tA == A->umax)
    for (const double e : {B->umin, B->umax})
      if (std::fabs(tB - e) <= kSmallestPiece * (B->umax - B->umin) && PairGapSq(s, tA, e) <= gapSq &&
          PairGapSq(s, tA, 0.5 * (tB + e)) <= gapSq)
        tB = e;
  bool atBreak = true;
  if ((tB == B->umin || tB == B->umax) && tA != A->umin && tA != A->umax) {
    double footA = tA;
    if (NearestFootOn(s, true, tB, windowA, &footA) <= gapSq) tA = footA;
  } else if (tA != A->umin && tA != A->umax) {
    if (!EndAhead(s, sA, sB, dir, &tA, &tB))
      atBreak = EndAtBreakpoint(s, sA, sB, dir, &tA, &tB) || EndAtTurn(s, sA, sB, dir, &tA, &tB);
  } else if (tB != B->umin && tB != B->umax) {
    // The first curve's end reached: the second's parameter is the foot there, which a step
    // may have left a share of the overlap gap short of on a polyline.
    double footB = tB;
    if (NearestFootOn(s, false, tA, windowB, &footB) < PairGapSq(s, tA, tB)) tB = footB;
  }
  // Where the second curve stands still over a span just ahead of the end, the way its parameter
  // went (a vertex doubled where the stretch ends, at ordinary knot spacing), the whole stall is
  // one point with the end, on the first curve: the stretch runs on across it to its far side, as
  // a walk along that curve as the first has it. Spans a round-off of the range long (a cluster
  // of knots) are no stall: across them the curve jumps, by as much as the overlap gap.
  const double* kB = B->knotsU;
  const int nB = NumCtrlU(B), pB = B->degreeU;
  for (int j = 0; j < nB - pB && sense != 0.0; ++j) {
    const int i = sense > 0.0 ? pB + j : nB - 1 - j;
    const double near = sense > 0.0 ? kB[i] : kB[i + 1], far = sense > 0.0 ? kB[i + 1] : kB[i];
    if (sense * (tB - near) >= -paramNoise && sense * (far - tB) > 0.0 && std::fabs(far - near) > paramNoise &&
        StandsStill(s, s.b, i) && PairGapSq(s, tA, far) <= gapSq)
      tB = far;
  }
  *endA = tA;
  *endB = tB;
  return atBreak;
}

// Whether the meeting (sA, sB) lies on a stretch where the curves coincide over a length of at
// least kOverlapLength of the size, or of kSmallestPiece where both its ends lie at knots or
// curve ends; the stretch then goes to *out.
bool OverlapAt(const Search& s, double sA, double sB, Stretch* out) {
  double P[2][3], D[2][3];
  // Tangents more than 1e-6 apart: a crossing.
  auto alongAt = [&](double tA, double tB) {
    PairPoints(s, tA, tB, P, D);
    double N[3];
    VecCrossProd3(D[0], D[1], N);
    return VecDotProd3(N, N) <= 1e-12 * VecDotProd3(D[0], D[0]) * VecDotProd3(D[1], D[1]);
  };
  // On a corner inside a stretch (a vertex of polylines running along each other) each curve's
  // tangent is that of one side, and the two curves' sides need not match (a curve runs along
  // the other backwards): the tangents just before and after it on each curve are tried too,
  // the walks below telling a stretch from a crossing.
  const Bspline* ca = s.a.curve;
  const Bspline* cb = s.b.curve;
  const double hA = 1e-9 * (ca->umax - ca->umin), hB = 1e-9 * (cb->umax - cb->umin);
  bool along = alongAt(sA, sB);
  for (const double dA : {-hA, hA})
    for (const double dB : {-hB, hB})
      along = along || alongAt(std::clamp(sA + dA, ca->umin, ca->umax), std::clamp(sB + dB, cb->umin, cb->umax));
  if (!along) return false;
  bool startAtBreak = RunTogether(s, sA, sB, -1, &out->a0, &out->b0);
  const bool endAtBreak = RunTogether(s, sA, sB, 1, &out->a1, &out->b1);
  // Both walks took the second curve the same way: the meeting lies where the first curve turns
  // back along the second, each walk on a stretch of its own. The stretch is the one ahead; the
  // walk back from its far end ends at the turn.
  double ends[3][2][3];
  PairPoints(s, out->a0, out->b0, ends[0]);
  PairPoints(s, sA, sB, ends[1]);
  PairPoints(s, out->a1, out->b1, ends[2]);
  const double meetGap = kMeetingGap * s.size;
  if ((out->b0 - sB) * (out->b1 - sB) > 0.0 && VecDist3(ends[0][1], ends[1][1]) > meetGap &&
      VecDist3(ends[2][1], ends[1][1]) > meetGap)
    startAtBreak = RunTogether(s, out->a1, out->b1, -1, &out->a0, &out->b0);
  // Its length along the first curve (a polyline of 16 chords): a stretch that closes on
  // itself has ends close together.
  double length = 0.0, Q[2][3];
  PairPoints(s, out->a0, out->b0, Q);
  for (int i = 1; i <= 16; ++i) {
    PairPoints(s, out->a0 + (out->a1 - out->a0) * i / 16.0, sB, P);
    length += VecDist3(P[0], Q[0]);
    for (int k = 0; k < 3; ++k) Q[0][k] = P[0][k];
  }
  // A shorter stretch is one still when it ends at both ends where a curve ends or at a knot,
  // as coinciding pieces do (a curve lying on the other from end to end, a polyline running
  // along a line between two corners), but not below the smallest piece, which stands for a
  // point.
  return length >= kOverlapLength * s.size ||
         (startAtBreak && endAtBreak && length >= kSmallestPiece * s.size);
}

// The pair of pieces lies within a stretch already found.
bool InStretch(const Search& s, double a0, double a1, double b0, double b1) {
  for (int i = 0; i < s.stretchCount; ++i) {
    const Stretch& t = s.stretches[i];
    const double bLo = std::fmin(t.b0, t.b1), bHi = std::fmax(t.b0, t.b1);
    if (a0 >= t.a0 && a1 <= t.a1 && b0 >= bLo && b1 <= bHi) return true;
  }
  return false;
}

// Newton steps on the crossing C1(t1) = C2(t2) from (*sA, *sB): the linearised gap
// r = C2 - C1 = s1 C1' - s2 C2' is solved in the plane of the two tangents through their cross
// product N = C1' x C2' (s1 = (r x C2') . N / N . N, s2 = (r x C1') . N / N . N), which keeps
// its relative accuracy at angles down to round-off, where the normal equations' determinant
// cancels to nothing. A step is kept when the gap falls (else halved, at most 40 times);
// parameters stay in their ranges. Ends at a step of round-off of the ranges or when no step
// helps; *gapSq is the last gap.
void PolishCrossing(const Search& s, double* sA, double* sB, double* gapSq) {
  const Bspline *A = s.a.curve, *B = s.b.curve;
  double P[2][3], D[2][3];
  PairPoints(s, *sA, *sB, P, D);
  double f = 0.0;
  for (int k = 0; k < 3; ++k) f += (P[1][k] - P[0][k]) * (P[1][k] - P[0][k]);
  for (int it = 0; it < 60 && f > 0.0; ++it) {
    const double r[3] = {P[1][0] - P[0][0], P[1][1] - P[0][1], P[1][2] - P[0][2]};
    double N[3], rB[3], rA[3];
    VecCrossProd3(D[0], D[1], N);
    VecCrossProd3(r, D[1], rB);
    VecCrossProd3(r, D[0], rA);
    const double nn = VecDotProd3(N, N);
    if (!(nn > 0.0)) break;
    const double s1 = VecDotProd3(rB, N) / nn, s2 = VecDotProd3(rA, N) / nn;
    bool moved = false;
    double step = 1.0, a = *sA, b = *sB;
    for (int h = 0; h < 40 && !moved; ++h, step *= 0.5) {
      a = std::fmin(A->umax, std::fmax(A->umin, *sA + step * s1));
      b = std::fmin(B->umax, std::fmax(B->umin, *sB + step * s2));
      if (a == *sA && b == *sB) break;
      const double g = PairGapSq(s, a, b);
      moved = g < f;
      if (moved) f = g;
    }
    if (!moved) break;
    const bool tiny = std::fabs(a - *sA) <= 1e-15 * (A->umax - A->umin) && std::fabs(b - *sB) <= 1e-15 * (B->umax - B->umin);
    *sA = a;
    *sB = b;
    if (tiny) break;
    PairPoints(s, *sA, *sB, P, D);
  }
  *gapSq = f;
}

// Refines the pair from (*sA, *sB): true when it ends at a meeting (the parameters there). The
// closest-pair refinement (not stopped by nearly parallel tangents, so a touching and a
// crossing at a small angle are followed) is finished by Newton steps on the crossing.
bool RefineMeeting(Search& s, double* sA, double* sB) {
  double gapSq = 0.0;
  int r;
  if (s.a.curve->dimension == 2) {
    r = RefineCurve2IntersectionPoint(s.a.curve, s.b.curve, sA, sB, &gapSq, 30);
    if (r == -2) {  // nearly parallel tangents: the closest pair in the plane instead
      ClampRefinerParam(*sA, s.a.curve->umin, s.a.curve->umax);
      ClampRefinerParam(*sB, s.b.curve->umin, s.b.curve->umax);
      r = 0;
    }
  } else {
    r = RefineCurvesClosestPoint(s.a.curve, s.b.curve, sA, sB, &gapSq, 30);
    // Polylines converge slowly from the middle of a piece: one more round.
    if ((s.a.curve->degreeU == 1 || s.b.curve->degreeU == 1) && gapSq > s.meetSq)
      r = RefineCurvesClosestPoint(s.a.curve, s.b.curve, sA, sB, &gapSq, 30);
    // A vanishing tangent stops the refinement where a curve stands still (repeated control
    // points, a polyline's repeated vertex); a pair that got within the meeting gap there has met.
    if (r == -2 && PairGapSq(s, *sA, *sB) <= s.meetSq) r = 0;
  }
  if (r == -2) return false;
  // A gap at round-off already is as good as Newton gets it.
  if (gapSq > (1e-15 * s.size) * (1e-15 * s.size)) PolishCrossing(s, sA, sB, &gapSq);
  return gapSq <= s.meetSq;
}

// One end of a stretch found, as listed.
bool IsStretchEnd(const Search& s, double tA, double tB) {
  for (int i = 0; i < s.stretchCount; ++i) {
    const Stretch& t = s.stretches[i];
    if ((t.a0 == tA && t.b0 == tB) || (t.a1 == tA && t.b1 == tB)) return true;
  }
  return false;
}

// (tA, tB) and (uA, uB) are the two ends of one stretch: apart along it, however close in
// space (a closed curve along itself, or along itself reversed, ends where it starts).
bool EndsOfOneStretch(const Search& s, double tA, double tB, double uA, double uB) {
  for (int i = 0; i < s.stretchCount; ++i) {
    const Stretch& t = s.stretches[i];
    if ((t.a0 == tA && t.b0 == tB && t.a1 == uA && t.b1 == uB) ||
        (t.a1 == tA && t.b1 == tB && t.a0 == uA && t.b0 == uB))
      return true;
  }
  return false;
}

// The first curve's points at tA and uA lie within the overlap gap of each other.
bool WithinOverlapGap(const Search& s, double tA, double uA, double tB) {
  double P[2][3], Q[2][3];
  PairPoints(s, tA, tB, P);
  PairPoints(s, uA, tB, Q);
  return VecDist3(P[0], Q[0]) <= s.overlapGap;
}

// Lists the meeting unless it is listed already: 1 listed, 0 not, -2 out of memory. The mark
// of its Greville intervals (hint iA, iB; the intervals found are left there) is set.
int ListMeeting(Search& s, double sA, double sB, int& iA, int& iB) {
  iA = GrevilleInterval(s.a, sA, iA);
  iB = GrevilleInterval(s.b, sB, iB);
  // Closer than the overlap gap the test of coinciding curves tells no two points apart: a
  // stretch's end stands for a meeting that close (a refinement beside the end that stops a
  // round-off past it or short of it, on a cluster of knots), found before the stretch or after.
  if (IsStretchEnd(s, sA, sB)) {
    CrvIntrNode* n = s.list->first;
    for (int i = 0; i < s.list->count; ++i, n = n->next)
      if (!IsStretchEnd(s, n->t1, n->t2) && WithinOverlapGap(s, sA, n->t1, sB)) {
        n->t1 = sA;
        n->t2 = sB;
        return 0;
      }
  } else {
    for (int i = 0; i < s.stretchCount; ++i)
      for (const double e : {s.stretches[i].a0, s.stretches[i].a1})
        if (WithinOverlapGap(s, sA, e, sB)) return 0;
  }
  CrvIntrNode* same = SameMeeting(s, sA, sB);
  if (same && !EndsOfOneStretch(s, sA, sB, same->t1, same->t2)) {
    // The same meeting found again: the pair with the smaller gap stands for it. Along a
    // stretch every point has no gap, so there a stretch's end, where the curves part, stands
    // for any point refined onto the stretch beside it, and is never replaced by one.
    if (IsStretchEnd(s, same->t1, same->t2)) return 0;
    if (IsStretchEnd(s, sA, sB) || PairGapSq(s, sA, sB) < PairGapSq(s, same->t1, same->t2)) {
      same->t1 = sA;
      same->t2 = sB;
    }
    return 0;
  }
  CrvIntrNode* node = s.list->first;
  if (s.list->count > 0) {
    UntrackedScope untracked;  // the list's nodes are the caller's
    node = CallocArray<CrvIntrNode>(1);
    if (!node) return -2;
    node->prev = s.list->last;
    s.list->last->next = node;
    s.list->last = node;
  }
  node->t1 = sA;
  node->t2 = sB;
  ++s.list->count;
  s.marks[iA][iB] = 1;
  return 1;
}

// Drops the listed meetings for which drop(node) holds: the values of the nodes kept move up
// and the nodes left over are freed, the list's first node always kept.
template <class Drop>
void DropListed(CrvIntrList* list, Drop drop) {  // drop may rewrite a node it keeps
  CrvIntrNode* to = list->first;
  CrvIntrNode* lastKept = nullptr;
  int kept = 0;
  CrvIntrNode* n = list->first;
  for (int i = 0; i < list->count; ++i, n = n->next) {
    if (drop(n)) continue;
    to->t1 = n->t1;
    to->t2 = n->t2;
    lastKept = to;
    to = to->next;
    ++kept;
  }
  if (kept == list->count) return;
  CrvIntrNode* tail = lastKept ? lastKept : list->first;
  for (CrvIntrNode* m = tail->next; m;) {
    CrvIntrNode* next = m->next;
    Free(m);
    m = next;
  }
  tail->next = nullptr;
  list->last = tail;
  list->count = kept;
}

// Meetings listed before a stretch was found that lie on it (refined onto a vertex doubled a
// round-off apart, where the walks along the curves stall, so that no stretch was found from
// them) are points of it, passed over as its other points are: dropped, ends of other stretches
// kept.
void DropMeetingsOnStretches(Search& s) {
  DropListed(s.list, [&](const CrvIntrNode* n) {
    return InStretch(s, n->t1, n->t1, n->t2, n->t2) && !IsStretchEnd(s, n->t1, n->t2);
  });
}

// A stretch that runs across the seam of a curve that closes is found as two, one ending where
// that curve ends and one starting where it starts, at one point of the other curve: that
// point lies on the stretch, where the curves run on together, and is no meeting. Stretches so
// joined that close on themselves (a closed curve along a closed curve, every end joined) are
// listed by their ends at the seams still, as a closed curve along itself is; where the joined
// stretches end somewhere, the meetings listed at their joins are dropped.
void DropSeamJoins(Search& s) {
  const Bspline *A = s.a.curve, *B = s.b.curve;
  if ((!s.a.closes && !s.b.closes) || s.stretchCount < 1) return;
  const int ends = 2 * s.stretchCount;
  auto endAt = [&](int e, double* tA, double* tB) {
    const Stretch& t = s.stretches[e / 2];
    *tA = e % 2 ? t.a1 : t.a0;
    *tB = e % 2 ? t.b1 : t.b0;
  };
  auto seamApart = [](const Bspline* c, double x, double y) {
    return (x == c->umin && y == c->umax) || (x == c->umax && y == c->umin);
  };
  auto samePair = [&](double tA, double tB, double uA, double uB) {
    double P[2][3], Q[2][3];
    PairPoints(s, tA, tB, P);
    PairPoints(s, uA, uB, Q);
    return VecDist3(P[0], Q[0]) <= s.overlapGap && VecDist3(P[1], Q[1]) <= s.overlapGap;
  };
  // Where one curve's seam joins two stretches and the other curve's parameter runs on through
  // the join the way it came, the stretch goes on across the seam; where it turns back there,
  // the curve that closes turns back along the other at its seam, and the join is two ends.
  auto turnsAt = [&](int e, int f) {
    double tA, tB, uA, uB, oA, oB, pA, pB;
    endAt(e, &tA, &tB);
    endAt(f, &uA, &uB);
    endAt(e ^ 1, &oA, &oB);
    endAt(f ^ 1, &pA, &pB);
    const bool atA = s.a.closes && seamApart(A, tA, uA), atB = s.b.closes && seamApart(B, tB, uB);
    if (atA && !atB) return (tB - oB) * (pB - uB) < 0.0;
    if (atB && !atA) return (tA - oA) * (pA - uA) < 0.0;
    return false;
  };
  int joinedTo[2 * kMostStretches], group[kMostStretches];
  for (int i = 0; i < s.stretchCount; ++i) group[i] = i;
  auto root = [&](int i) {
    while (group[i] != i) i = group[i];
    return i;
  };
  for (int e = 0; e < ends; ++e) {
    joinedTo[e] = -1;
    double tA, tB, uA, uB;
    endAt(e, &tA, &tB);
    for (int f = 0; f < ends && joinedTo[e] < 0; ++f) {
      if (f == e) continue;
      endAt(f, &uA, &uB);
      if (((s.a.closes && seamApart(A, tA, uA)) || (s.b.closes && seamApart(B, tB, uB))) && samePair(tA, tB, uA, uB) &&
          !turnsAt(e, f)) {
        joinedTo[e] = f;
        group[root(e / 2)] = root(f / 2);
      }
    }
  }
  bool open[kMostStretches] = {};
  for (int e = 0; e < ends; ++e)
    if (joinedTo[e] < 0) open[root(e / 2)] = true;
  // An end at a seam joined to no stretch may still run on across the seam along a part
  // shorter than the smallest piece, too short to be found as a stretch: where the walk across
  // the seam ends where a curve ends or at a knot, off the seam, that is the stretch's end, and
  // the meetings listed at the seam, on that part (refined to the meeting gap) or beside its end
  // stand for it.
  for (int e = 0; e < ends; ++e) {
    double tA, tB;
    endAt(e, &tA, &tB);
    const bool seamA = s.a.closes && (tA == A->umin || tA == A->umax);
    const bool seamB = s.b.closes && (tB == B->umin || tB == B->umax);
    if (joinedTo[e] >= 0 || (!seamA && !seamB)) continue;
    const double fromA = seamA ? A->umin + A->umax - tA : tA, fromB = seamB ? B->umin + B->umax - tB : tB;
    // Across the seam a stretch found already, not joined as the way turns back there.
    bool found = false;
    for (int f = 0; f < ends && !found; ++f) {
      double uA, uB;
      endAt(f, &uA, &uB);
      found = f != e && (!seamA || uA == fromA) && (!seamB || uB == fromB) && samePair(uA, uB, fromA, fromB);
    }
    if (found) continue;
    double endA, endB, P[2][3], Q[2][3];
    if (!RunTogether(s, fromA, fromB, e % 2 ? 1 : -1, &endA, &endB)) continue;
    PairPoints(s, fromA, fromB, P);
    PairPoints(s, endA, endB, Q);
    if (VecDist3(P[0], Q[0]) <= s.overlapGap) continue;
    // A meeting refined beside that end, the curves together between (as SameMeeting has it).
    const double endSq = PairGapSq(s, endA, endB);
    auto besideEnd = [&](double uA, double uB) {
      double R[2][3];
      PairPoints(s, uA, uB, R);
      const double g = std::fmax(PairGapSq(s, uA, uB), endSq);
      return VecDist3(R[0], Q[0]) <= kSmallestPiece * s.size && g <= s.meetSq &&
             PairGapSq(s, MiddleParam(s.a, uA, endA), MiddleParam(s.b, uB, endB)) <= 4.0 * g + s.overlapGap * s.overlapGap;
    };
    bool placed = false;
    DropListed(s.list, [&](CrvIntrNode* n) {
      const bool onPart = std::fmin(fromA, endA) <= n->t1 && n->t1 <= std::fmax(fromA, endA) &&
                          std::fmin(fromB, endB) <= n->t2 && n->t2 <= std::fmax(fromB, endB) &&
                          PairGapSq(s, n->t1, n->t2) <= s.meetSq;
      if (!onPart && !samePair(n->t1, n->t2, tA, tB) && !besideEnd(n->t1, n->t2)) return false;
      if (placed) return true;
      n->t1 = endA;
      n->t2 = endB;
      placed = true;
      return false;
    });
  }
  DropListed(s.list, [&](const CrvIntrNode* n) {
    for (int e = 0; e < ends; ++e) {
      double tA, tB;
      endAt(e, &tA, &tB);
      if (joinedTo[e] >= 0 && open[root(e / 2)] && samePair(n->t1, n->t2, tA, tB)) return true;
    }
    return false;
  });
}

int RefineAndList(Search& s, double sA, double sB, int& iA, int& iB) {
  return RefineMeeting(s, &sA, &sB) ? ListMeeting(s, sA, sB, iA, iB) : 0;
}

// A bound on the halvings of a pair of Greville intervals, against round-off keeping boxes apart
// from shrinking.
const int kMaxHalvings = 30;

// The control points of the curve over [a, b] (the cut pieces of the spans it meets), whose
// convex hull holds it.
struct PieceHull {
  static const int kMax = 4 * (kMaxSplineDegree + 1);
  double p[kMax][3];
  int n = 0;
  void Box(double box[6]) const {
    for (int q = 0; q < 3; ++q) {
      box[q] = kEmptyBoxBound;
      box[q + 3] = -kEmptyBoxBound;
    }
    for (int i = 0; i < n; ++i)
      for (int q = 0; q < 3; ++q) {
        box[q] = std::fmin(box[q], p[i][q]);
        box[q + 3] = std::fmax(box[q + 3], p[i][q]);
      }
  }
};

// False when the piece meets more spans than the hull holds.
bool CutPiece(const CurveSide& c, double a, double b, PieceHull* h) {
  const int p = c.curve->degreeU, n = c.n;
  const double* k = c.curve->knotsU;
  h->n = 0;
  for (int s = p; s < n && k[s] <= b; ++s) {
    const double lo = a > k[s] ? a : k[s], hi = b < k[s + 1] ? b : k[s + 1];
    if (!(k[s] < k[s + 1]) || lo > hi) continue;
    if (h->n + p + 1 > PieceHull::kMax) return false;
    double d[kMaxSplineDegree + 1][4];
    BezierSubPiece(c.bez + 4 * (p + 1) * (s - p), p, k[s], k[s + 1], lo, hi, d);
    for (int j = 0; j <= p; ++j, ++h->n)
      for (int q = 0; q < 3; ++q) h->p[h->n][q] = d[j][q] / d[j][3];
  }
  return h->n > 0;
}

// The ranges of the hulls along a direction. They are only compared, so they grow by
// comparisons (which pass over a NaN as fmin and fmax do, and whose zeros' signs nothing reads)
// rather than by calls to fmin and fmax: this test runs on every pair of pieces the search meets.
bool ApartAlong(const PieceHull& A, const PieceHull& B, const double d[3], double margin) {
  double loA = kEmptyBoxBound, hiA = -kEmptyBoxBound, loB = kEmptyBoxBound, hiB = -kEmptyBoxBound;
  for (int i = 0; i < A.n; ++i) {
    const double x = d[0] * A.p[i][0] + d[1] * A.p[i][1] + d[2] * A.p[i][2];
    loA = x < loA ? x : loA;
    hiA = x > hiA ? x : hiA;
  }
  for (int i = 0; i < B.n; ++i) {
    const double x = d[0] * B.p[i][0] + d[1] * B.p[i][1] + d[2] * B.p[i][2];
    loB = x < loB ? x : loB;
    hiB = x > hiB ? x : hiB;
  }
  return loA > hiB + margin || loB > hiA + margin;
}

// True when a plane separates the hulls: tried across the coordinate axes and across the normal
// of either piece's chord toward the other piece (the slab about a nearly straight piece, far
// tighter than its box when the curves are tilted).
bool HullsApart(const PieceHull& A, const PieceHull& B, double margin) {
  for (int q = 0; q < 3; ++q) {
    const double axis[3] = {q == 0 ? 1.0 : 0.0, q == 1 ? 1.0 : 0.0, q == 2 ? 1.0 : 0.0};
    if (ApartAlong(A, B, axis, margin)) return true;
  }
  double w[3];
  for (int q = 0; q < 3; ++q) w[q] = 0.5 * (B.p[0][q] + B.p[B.n - 1][q] - A.p[0][q] - A.p[A.n - 1][q]);
  for (const PieceHull* h : {&A, &B}) {
    double c[3], d[3];
    for (int q = 0; q < 3; ++q) c[q] = h->p[h->n - 1][q] - h->p[0][q];
    const double cc = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
    if (!(cc > 0.0)) continue;
    const double f = (w[0] * c[0] + w[1] * c[1] + w[2] * c[2]) / cc;
    for (int q = 0; q < 3; ++q) d[q] = w[q] - f * c[q];
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(len > 0.0)) continue;
    for (double& x : d) x /= len;
    if (ApartAlong(A, B, d, margin)) return true;
  }
  return false;
}

// Lists what a refinement met at (sA, sB), on no stretch known yet, its Greville intervals iA
// and iB: where the curves coincide about it, the stretch they share (its ends stand for it, the
// meetings on it dropped; *shared set); else the meeting. 99 where the search stops at an
// overlap, -2 on failure, else 0.
int ListMet(Search& s, double sA, double sB, int& iA, int& iB, bool* shared) {
  Stretch t;
  *shared = s.stretchCount < kMostStretches && OverlapAt(s, sA, sB, &t);
  if (!*shared) return ListMeeting(s, sA, sB, iA, iB) == -2 ? -2 : 0;
  if (s.stopAtOverlap) return 99;
  s.stretches[s.stretchCount++] = t;
  DropMeetingsOnStretches(s);
  int jA = iA, jB = iB;
  return ListMeeting(s, t.a0, t.b0, iA, iB) == -2 || ListMeeting(s, t.a1, t.b1, jA, jB) == -2 ? -2 : 0;
}

// Every meeting of the pieces over [a0, a1] and [b0, b1] (parts of one pair of Greville
// intervals), by halving both: a pair whose exact boxes are apart has none; a pair whose tangent
// cones admit at most one has it where the refinement from its middle ends, when that lies in
// the pair; other pairs, and pairs whose refinement went astray, are halved, down to pieces of
// kSmallestPiece of the size, refined from their middle. 0, or -2 out of memory.
int ResolvePair(Search& s, double a0, double a1, double b0, double b1, int depth) {
  if (InStretch(s, a0, a1, b0, b1)) return 0;
  PieceHull A, B;
  double boxA[6], boxB[6];
  // The hulls are exact: round-off is all the margin they need to hold no crossing. But where a
  // curve ends, a pair apart by less than the meeting gap may still hold a meeting: curves made a
  // round-off apart, in a chain or one ending on the other, meet at their closest approach, which
  // a refinement from the pair's middle reaches. Such a pair is refined so once, unless a meeting
  // in it is listed already, and never halved. Inner pairs that close are passed over: beside a
  // touching every pair along it is, and refining them all cost a fifth more on circles.
  const double margin = 1e-12 * s.size;
  const auto holdsEnd = [](const CurveSide& c, double t0, double t1) {
    return !c.closes && (t0 <= c.curve->umin || t1 >= c.curve->umax);
  };
  const bool atEnd = holdsEnd(s.a, a0, a1) || holdsEnd(s.b, b0, b1);
  const double meetMargin = atEnd ? kMeetingGap * s.size : margin;
  bool near = false;
  if (CutPiece(s.a, a0, a1, &A) && CutPiece(s.b, b0, b1, &B)) {
    if (HullsApart(A, B, meetMargin)) return 0;
    near = atEnd && HullsApart(A, B, margin);
    A.Box(boxA);
    B.Box(boxB);
  } else {  // pieces over many spans of a high degree: their boxes, until halving shortens them
    int firstA = s.a.curve->degreeU, firstB = s.b.curve->degreeU;
    ExactBox(s.a, a0, a1, &firstA, boxA);
    ExactBox(s.b, b0, b1, &firstB, boxB);
    const auto apart = [&](double m) {
      for (int q = 0; q < 3; ++q)
        if (boxA[q] - m > boxB[q + 3] + m || boxB[q] - m > boxA[q + 3] + m) return true;
      return false;
    };
    if (apart(meetMargin)) return 0;
    near = atEnd && apart(margin);
  }
  if (near) {
    if (ListedWithin(s.list, a0, a1, b0, b1)) return 0;
    double sA = 0.5 * (a0 + a1), sB = 0.5 * (b0 + b1);
    int iA = GrevilleInterval(s.a, sA, 0), iB = GrevilleInterval(s.b, sB, 0);
    if (!RefineMeeting(s, &sA, &sB) || InStretch(s, sA, sA, sB, sB)) return 0;
    bool shared;
    return ListMet(s, sA, sB, iA, iB, &shared);
  }
  const double limit = kSmallestPiece * s.size;
  const bool small = depth >= kMaxHalvings || (BoxDiagonal(boxA) <= limit && BoxDiagonal(boxB) <= limit);
  const bool once = !small && MeetAtMostOnce(s, a0, a1, b0, b1);
  if (once && ListedWithin(s.list, a0, a1, b0, b1)) return 0;  // the one meeting they can have
  if (small || once) {
    double sA = 0.5 * (a0 + a1), sB = 0.5 * (b0 + b1);
    int iA = GrevilleInterval(s.a, sA, 0), iB = GrevilleInterval(s.b, sB, 0);
    const bool met = RefineMeeting(s, &sA, &sB);
    // Coinciding curves: a stretch's ends stand for it, its pairs are passed over, and a
    // refinement that ran onto it (from a pair across its end, or from pieces that are no part
    // of it: the curves meet all along it) found one of its points, not a meeting. A pair whose
    // pieces meet at most once may find a stretch so, but still holds its own meeting.
    const bool onStretch = met && InStretch(s, sA, sA, sB, sB);
    if (met && !onStretch) {
      bool shared;
      if (const int r = ListMet(s, sA, sB, iA, iB, &shared); r != 0) return r;
      if (shared && small) return 0;
    }
    if (small) {
      // Pieces this small hold two meetings only where the curves are nearly tangent, their
      // crossings close together: refinements from the first piece's ends, each on the side of
      // the meeting it starts from, find them. They are run as well where the refinement from
      // the middle found nothing: a piece small in space may still be long in parameter, a
      // curve all but standing still across it (a weight far above its neighbours'), and there
      // the steps from the middle are thrown out of the pair; from an end they start beside
      // the crossing, from the second piece's ends too, the curve that stalls being either.
      const auto fromEnd = [&](bool ofFirst, double end) {
        double eA = ofFirst ? end : sA, eB = ofFirst ? sB : end;
        FootOn(s, !ofFirst, end, ofFirst ? &eB : &eA);
        return RefineMeeting(s, &eA, &eB) && !InStretch(s, eA, eA, eB, eB) && ListMeeting(s, eA, eB, iA, iB) == -2;
      };
      for (double end : {a0, a1})
        if (fromEnd(true, end)) return -2;
      if (!met)
        for (double end : {b0, b1})
          if (fromEnd(false, end)) return -2;
      return 0;
    }
    // Within round-off of the pair's ends counts as inside: a crossing on a cut is found from
    // either side.
    const double wa = 1e-9 * (a1 - a0) + 1e-14 * std::fabs(a1), wb = 1e-9 * (b1 - b0) + 1e-14 * std::fabs(b1);
    if (met && sA >= a0 - wa && sA <= a1 + wa && sB >= b0 - wb && sB <= b1 + wb) return 0;
  }
  // A piece already below the limit is not halved (a point curve would double the pairs at
  // every level for nothing).
  const int nA = BoxDiagonal(boxA) > limit ? 2 : 1, nB = BoxDiagonal(boxB) > limit ? 2 : 1;
  const double cutsA[3] = {a0, nA == 2 ? 0.5 * (a0 + a1) : a1, a1};
  const double cutsB[3] = {b0, nB == 2 ? 0.5 * (b0 + b1) : b1, b1};
  for (int i = 0; i < nA; ++i)
    for (int j = 0; j < nB; ++j)
      if (const int r = ResolvePair(s, cutsA[i], cutsA[i + 1], cutsB[j], cutsB[j + 1], depth + 1); r != 0) return r;
  return 0;
}

int Candidate(Search& s, const CrvSubdivNode* A, const CrvSubdivNode* B) {
  // With exact boxes the pair is searched through: one meeting found in it says nothing of a
  // second (two pieces can cross twice or more).
  if (s.a.bez && s.b.bez) return ResolvePair(s, A->t0, A->t1, B->t0, B->t1, 0);
  int iA = A->first, iB = B->first;
  if (s.marks[iA][iB]) return 0;
  const double sA = 0.5 * (A->t0 + A->t1), sB = 0.5 * (B->t0 + B->t1);
  iA = GrevilleInterval(s.a, sA, iA);
  iB = GrevilleInterval(s.b, sB, iB);
  if (s.marks[iA][iB]) return 0;
  const int listed = RefineAndList(s, sA, sB, iA, iB);
  return listed == -2 ? -2 : 0;
}

int Subdivide(Search& s, CrvSubdivNode* A, CrvSubdivNode* B) {
  if (!CrvIntersectBoxes(A, B)) return 999;
  if (SplitNode(s.a, s.size, A) != 0 || SplitNode(s.b, s.size, B) != 0) return -2;
  const bool leafA = A->state == -1, leafB = B->state == -1;
  if (leafA && leafB) return Candidate(s, A, B);
  if (!leafA && !leafB) {
    CrvSubdivNode* pairs[4][2] = {{A->child[0], B->child[0]}, {A->child[1], B->child[1]},
                                  {A->child[0], B->child[1]}, {A->child[1], B->child[0]}};
    for (auto& p : pairs)
      if (const int r = Subdivide(s, p[0], p[1]); r == -2 || r == 99) return r;
  } else if (!leafA) {
    for (CrvSubdivNode* c : A->child)
      if (const int r = Subdivide(s, c, B); r == -2 || r == 99) return r;
  } else {
    for (CrvSubdivNode* c : B->child)
      if (const int r = Subdivide(s, A, c); r == -2 || r == 99) return r;
  }
  return 0;
}

// Greville parameters and the exact box of every Greville interval; *diagonal the diagonal of
// the whole curve's box.
bool MakeSide(Bspline* curve, CurveSide* side, double* diagonal) {
  side->curve = curve;
  side->n = NumCtrlU(curve);
  side->g = ObjectGrevilleParams(curve, 0);
  side->leafBox = MallocArray<double>(6, side->n - 1);
  const int p = curve->degreeU, n = side->n;
  const double* k = curve->knotsU;
  double* bez = MallocArray<double>(4 * (p + 1), n - p);  // per span s: row s - p
  if (!side->g || !side->leafBox || !bez || KernelFailed()) return false;
  const bool hull = PositiveWeights(curve);
  side->bez = hull ? bez : nullptr;
  for (int s = p; s < n && hull; ++s)
    if (k[s] < k[s + 1]) SpanBezierPoints(curve, s, bez + 4 * (p + 1) * (s - p));
  double whole[6] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  int first = p;
  for (int i = 0; i + 1 < n && hull; ++i) {
    ExactBox(*side, side->g[i], side->g[i + 1], &first, side->leafBox + 6 * i);
    UniteBoxes(whole, side->leafBox + 6 * i);
  }
  if (!hull) {
    // A generous box about the control points: every pair is refined.
    double lo[3], hi[3];
    for (int q = 0; q < 3; ++q) {
      lo[q] = kEmptyBoxBound;
      hi[q] = -kEmptyBoxBound;
    }
    for (int i = 0; i < side->n; ++i) {
      const double x[3] = {curve->X[0][i], curve->Y[0][i], curve->dimension == 2 ? 0.0 : curve->Z[0][i]};
      for (int q = 0; q < 3; ++q) {
        lo[q] = std::fmin(lo[q], x[q]);
        hi[q] = std::fmax(hi[q], x[q]);
      }
    }
    for (int i = 0; i + 1 < side->n; ++i)
      for (int q = 0; q < 3; ++q) {
        side->leafBox[6 * i + q] = -kEmptyBoxBound;
        side->leafBox[6 * i + q + 3] = kEmptyBoxBound;
      }
    for (int q = 0; q < 3; ++q) {
      whole[q] = lo[q];
      whole[q + 3] = hi[q];
    }
  }
  double d2 = 0.0;
  for (int q = 0; q < 3; ++q) d2 += (whole[q + 3] - whole[q]) * (whole[q + 3] - whole[q]);
  *diagonal = std::sqrt(d2);
  return std::isfinite(*diagonal);
}

// The curve's two ends lie within gap of each other.
bool EndsMeet(const Bspline* c, double gap) {
  static const int du[1] = {0}, dv[1] = {0};
  double a[1][3], b[1][3];
  EvalPointOnGeometryM(c, c->umin, 0.0, du, dv, 1, 0, a);
  EvalPointOnGeometryM(c, c->umax, 0.0, du, dv, 1, 0, b);
  return VecDist3(a[0], b[0]) <= gap;
}

// The frame both curves are searched in: the centre of the box of their control points (2D
// curves: of their (u, v) points) and a power of two near its longest side, so that the scaling
// is exact. Far from the origin a point of a curve of size h carries the round-off of its
// coordinates, 1e4 h away already some 1e-12 of h: as much as the overlap test's gap
// (kOverlapGap), which then reads noise as parting curves. In the frame the coordinates are of
// unit size about the origin; parameters do not change. *reach: the largest coordinate.
void SearchFrame(const Bspline* a, const Bspline* b, double centre[3], double* scale, double* reach) {
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (const Bspline* c : {a, b})
    for (int i = 0; i < NumCtrlU(c); ++i) {
      const double x[3] = {c->X[0][i], c->Y[0][i], c->dimension == 3 ? c->Z[0][i] : 0.0};
      for (int q = 0; q < 3; ++q) {
        lo[q] = std::fmin(lo[q], x[q]);
        hi[q] = std::fmax(hi[q], x[q]);
      }
    }
  double side = 0.0;
  *reach = 0.0;
  for (int q = 0; q < 3; ++q) {
    centre[q] = 0.5 * lo[q] + 0.5 * hi[q];
    side = std::fmax(side, hi[q] - lo[q]);
    *reach = std::fmax(*reach, std::fmax(std::fabs(lo[q]), std::fabs(hi[q])));
  }
  *scale = side > 0.0 && std::isfinite(side) ? std::ldexp(1.0, std::ilogb(side)) : 1.0;
}

// A copy of the curve in the frame: control points (x - centre) / scale, weights and knots as
// they are, the exact form dropped (it described the curve where it was). Null on failure.
Bspline* CopyInFrame(Bspline* c, const double centre[3], double scale) {
  Bspline* copy = CopyCurveBspline(c);
  if (!copy || KernelFailed()) return copy;
  FreeQuadricInfo(copy);
  copy->quadricType = 0;
  double* rows[3] = {copy->X[0], copy->Y[0], copy->dimension == 3 ? copy->Z[0] : nullptr};
  for (int q = 0; q < 3; ++q)
    if (rows[q])
      for (int i = 0; i < NumCtrlU(copy); ++i) rows[q][i] = (rows[q][i] - centre[q]) / scale;
  return copy;
}

}  // namespace
int CrvIntersect(Bspline* curve1, Bspline* curve2, CrvIntrList** list, double tol, int checkOverlap) {
  if (!list || !BsplineSound(curve1) || !BsplineSound(curve2) || (checkOverlap && !(tol >= 0.0 && std::isfinite(tol))))
    return -2;
  if (checkOverlap && FindIfTwoCurvesOverlap(curve1, curve2, tol) == 1) return 99;
  double centre[3], scale, reach;
  SearchFrame(curve1, curve2, centre, &scale, &reach);
  const Owned<Bspline, FreeBspline> framed1(CopyInFrame(curve1, centre, scale));
  const Owned<Bspline, FreeBspline> framed2(CopyInFrame(curve2, centre, scale));
  if (!framed1 || !framed2 || KernelFailed()) return -2;
  curve1 = framed1.get();
  curve2 = framed2.get();
  Search s;
  CrvSubdivNode* roots[2];
  // The meetings gather on a list of the call's own, handed to the caller's list at the end
  // (not when an overlap ends the search: the caller's list stays as it was).
  CrvIntrList found{};
  int rc = -2;
  bool searched = false;
  {
    UntrackedScope untracked;  // the nodes outlive the call
    found.first = found.last = CallocArray<CrvIntrNode>(1);
    if (!found.first) return -2;
  }
  {
    // Scratch of this call: trees, boxes, parameters, marks and stretches.
    TrackingScope scope;
    double size1 = 0.0, size2 = 0.0;
    const bool made = MakeSide(curve1, &s.a, &size1) && MakeSide(curve2, &s.b, &size2);
    s.size = std::fmax(size1, size2);
    s.meetSq = (kMeetingGap * s.size) * (kMeetingGap * s.size);
    s.reach = reach / scale;
    s.overlapGap = std::fmax(kOverlapGap * s.size, kCoordRoundOff * s.reach);
    for (CurveSide* c : {&s.a, &s.b}) {
      c->closes = made && EndsMeet(c->curve, s.overlapGap);
      c->stalls = false;
      if (made)
        for (int i = c->curve->degreeU; i < c->n && !c->stalls; ++i) c->stalls = SpanStandsStill(*c, i, s.overlapGap);
    }
    int* marks = made ? CallocArray<int>(s.a.n - 1, s.b.n - 1) : nullptr;
    int** rows = made ? MallocArray<int*>(s.a.n - 1) : nullptr;
    s.stretches = MallocArray<Stretch>(kMostStretches);
    s.stretchCount = 0;
    s.stopAtOverlap = checkOverlap != 0;
    roots[0] = made ? NewNode(0, s.a.n, s.a.g[0], s.a.g[s.a.n - 1]) : nullptr;
    roots[1] = made ? NewNode(0, s.b.n, s.b.g[0], s.b.g[s.b.n - 1]) : nullptr;
    if (marks && rows && s.stretches && roots[0] && roots[1] && !KernelFailed()) {
      searched = true;
      for (int i = 0; i + 1 < s.a.n; ++i) rows[i] = marks + i * (s.b.n - 1);
      s.marks = rows;
      s.list = &found;
      NodeBox(s.a, s.size, roots[0]);
      NodeBox(s.b, s.size, roots[1]);
      rc = Subdivide(s, roots[0], roots[1]);
      if (rc != -2 && rc != 99) DropSeamJoins(s);
      SortByFirstParameter(s.list);
    }
  }
  if (searched && rc != 99) {
    UntrackedScope untracked;  // the head is the caller's
    if (!*list) *list = CallocArray<CrvIntrList>(1);
    if (*list) {
      **list = found;
      return rc == -2 ? -2 : 0;
    }
  }
  ClearCrvIntrList(&found);
  return rc == 99 ? 99 : -2;
}

void ClearCrvIntrList(CrvIntrList* list) {
  if (!list) return;
  for (CrvIntrNode* n = list->first; n;) {
    CrvIntrNode* next = n->next;
    Free(n);
    n = next;
  }
  list->first = list->last = nullptr;
  list->count = 0;
}

void FreeCrvIntrList(CrvIntrList* list) {
  ClearCrvIntrList(list);
  if (list) Free(list);
}

int FindIfTwoCurvesOverlap(Bspline* curve1, Bspline* curve2, double tol) {
  if (!RecordsSound({curve1, curve2})) return 0;
  if (curve1->dimension != curve2->dimension) return 1;
  const double L1 = FindCurve3DLength(curve1), L2 = FindCurve3DLength(curve2);
  const double tolL = tol * std::fmin(L1, L2);
  Bspline* shorter = L2 < L1 ? curve2 : curve1;
  Bspline* longer = L2 < L1 ? curve1 : curve2;
  TrackingScope scope;
  int count = 0;
  Owned<double, Free> t(SampleCurvePlateProper(shorter, 4, &count));
  double* pts = t ? MallocArray<double>(3, count) : nullptr;
  if (!pts || KernelFailed()) return 0;
  for (int i = 0; i < count; ++i) {
    double* q = pts + 3 * i;
    q[0] = q[1] = q[2] = 0.0;
    EvalNpntsOnObj(shorter, 0, 0, t.get() + i, nullptr, 1, q, q + 1, q + 2);
  }
  CurveSampleCache cache;  // kept across the points of this call
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    double par, C[3], gap = kEmptyBoxBound, stepSq;  // unmeasured counts as apart
    if (cache.Estimate(longer, pts + 3 * i, &par) != 0) return 0;
    if (longer->dimension == 2)
      FindClosestPointCurveOnSurf(longer, pts + 3 * i, C, longer->umin, longer->umax, &par, &gap, &stepSq, 7);
    else
      FindClosestPointCurve3(longer, pts + 3 * i, C, longer->umin, longer->umax, &par, &gap, &stepSq, 7);
    // The squared distance is the gap compared, as callers' tolerances expect.
    if (gap > 5.0 * tolL) return 0;
    sum += gap;
  }
  return count > 0 && sum / count < tolL ? 1 : 0;
}

double FindCurve3DLength(Bspline* curve) {
  if (!BsplineSound(curve)) {
    SetKernelError(-2);
    return 0.0;
  }
  const int p = curve->degreeU, spans = curve->interiorU + 1;
  const double* k = curve->knotsU;
  double prev[3] = {0.0, 0.0, 0.0}, length = 0.0;
  for (int i = 0; i <= 5 * spans; ++i) {
    const int span = i / 5 < spans ? i / 5 : spans - 1;
    const int j = i - 5 * span;
    const double t = k[p + span] + j * 0.2 * (k[p + span + 1] - k[p + span]);
    double P[3] = {0.0, 0.0, 0.0};
    EvalNpntsOnObj(curve, 0, 0, &t, nullptr, 1, P, P + 1, P + 2);
    if (i > 0) length += VecDist3(prev, P);
    prev[0] = P[0];
    prev[1] = P[1];
    prev[2] = P[2];
  }
  // Coefficients near the double range: the length overflows.
  if (!std::isfinite(length)) {
    SetKernelError(-2);
    return 0.0;
  }
  return length;
}

int RefineCurve2IntersectionPoint(Bspline* curve1, Bspline* curve2, double* t1, double* t2,
                                  double* gapSq, int maxIter) {
  // The safeguarded Newton iteration of the parameter plane, the gap measured there; it meets at
  // kMeetingGap of the curves' size, as the subdivision does.
  if (!RecordsSound({curve1, curve2})) return -2;
  if (maxIter < 1) {
    ClampRefinerParam(*t1, curve1->umin, curve1->umax);
    ClampRefinerParam(*t2, curve2->umin, curve2->umax);
    return -2;
  }
  return RefinePlaneCurvesCrossing(curve1, curve2, t1, t2, gapSq, maxIter, 0);
}
