#include "mesh/trianum.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pgr2cld.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/trimutils.h"

namespace {

void WriteTriangle(int a, int b, int c, int* count, int* tri) {
  int* t = tri + 3L * *count;
  t[0] = a;
  t[1] = b;
  t[2] = c;
  ++*count;
}

bool AllFinite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// How far (relative to the edge's length) a vertex may lie off an ear's loop edge and still
// count as on it: far above the round-off of projected coordinates, far below any gap a loop
// is meant to have.
constexpr double kOnEarEdge = 1e-9;

bool OnEarEdge(const double a[2], const double b[2], const double p[2]) {
  double foot[2], d2 = 0.0, w = 0.0;
  LineSegPnt2DMinDistSq(p, a, b, foot, &d2, &w);
  const double ex = b[0] - a[0], ey = b[1] - a[1];
  return w > 0.0 && w < 1.0 && d2 <= kOnEarEdge * kOnEarEdge * (ex * ex + ey * ey);
}

// A vertex blocks the ear (prev, m, next) when it lies strictly inside it (the built
// point-in-triangle test counts the outline as inside, so its weights decide: all three
// positive), or on one of the ear's two loop edges: there the loop touches itself, as after
// earlier ears along a straight run, and clipping the ear would cover the outside beyond it.
bool BlocksEar(const double prev[2], const double m[2], const double next[2], const double p[2]) {
  double wa = 0.0, wb = 0.0;
  if (IsPointInTriangle2Dw(m, next, prev, p, &wa, &wb) && wa > 0.0 && wb > 0.0 && wa + wb < 1.0) return true;
  return OnEarEdge(m, prev, p) || OnEarEdge(m, next, p);
}

// The box of an ear widened by the reach of its loop edges: no vertex outside it blocks the ear.
struct EarReach {
  double lo[2], hi[2];
  bool Holds(const double p[2]) const { return p[0] >= lo[0] && p[0] <= hi[0] && p[1] >= lo[1] && p[1] <= hi[1]; }
};

EarReach ReachOfEar(const double prev[2], const double m[2], const double next[2]) {
  const double reach = kOnEarEdge * (std::fabs(prev[0] - m[0]) + std::fabs(prev[1] - m[1]) +
                                     std::fabs(next[0] - m[0]) + std::fabs(next[1] - m[1]));
  EarReach r;
  for (int k = 0; k < 2; ++k) {
    r.lo[k] = std::min({prev[k], m[k], next[k]}) - reach;
    r.hi[k] = std::max({prev[k], m[k], next[k]}) + reach;
  }
  return r;
}

// ---- Ear clipping at the leftmost vertex ------------------------------------------------------
//
// A polygon waiting to be clipped is a cycle of vertex records. The splitting rules lay out both
// parts of a split in their parent's order (the run lo..hi, and 0..lo followed by hi..n-1), and an
// ear leaves the order of the rest alone, so a vertex's input position (its key) orders every
// polygon as its array would: "the first on ties" and the corner written first in a last
// triangle are the least key. Each polygon also keeps its vertices in a list ascending by
// (x, key): its head is the ear's corner, and the blockers are searched along it only as far as
// the ear's greatest x, the first one met being the blocker of least x. Split parts are kept on
// an explicit stack, the part between the diagonal's ends (in loop order) on top.

struct EarVertex {
  double p[2];
  int idx;
  int key;
  int prev, next;     // the polygon's cycle
  int lower, higher;  // ascending (x, key); -1 past either end
};

struct EarPolygon {
  int least;  // head of the (x, key) list: the leftmost vertex
  int count;
};

struct EarWork {
  EarVertex* v = nullptr;
  int used = 0;
  EarPolygon* pending = nullptr;
  int depth = 0;
  int* gather = nullptr;
};

// Links the k vertices named in g into an ascending (x, key) list; returns its head.
int LinkAscending(EarVertex* v, int* g, int k) {
  std::sort(g, g + k, [v](int a, int b) {
    return v[a].p[0] < v[b].p[0] || (v[a].p[0] == v[b].p[0] && v[a].key < v[b].key);
  });
  for (int i = 0; i < k; ++i) {
    v[g[i]].lower = i > 0 ? g[i - 1] : -1;
    v[g[i]].higher = i + 1 < k ? g[i + 1] : -1;
  }
  return g[0];
}

void UnlinkAscending(EarVertex* v, int i) {
  if (v[i].lower >= 0) v[v[i].lower].higher = v[i].higher;
  if (v[i].higher >= 0) v[v[i].higher].lower = v[i].lower;
}

// Splits the polygon along the diagonal m-b into the run lo..hi (triangulated first) and the run
// hi..lo. Only the smaller run is visited: its vertices leave the polygon's list for one of their
// own, and it gets copies of the diagonal's ends, so splitting costs the smaller part's size.
void SplitEarPolygon(EarWork& w, EarPolygon poly, int m, int b) {
  EarVertex* v = w.v;
  const int lo = v[m].key < v[b].key ? m : b;
  const int hi = lo == m ? b : m;
  int s1 = v[lo].next, s2 = v[hi].next;
  while (s1 != hi && s2 != lo) s1 = v[s1].next, s2 = v[s2].next;
  const bool firstIsSmaller = s1 == hi;
  const int from = firstIsSmaller ? lo : hi, to = firstIsSmaller ? hi : lo;

  int g = 0;
  for (int s = v[from].next; s != to; s = v[s].next) {
    UnlinkAscending(v, s);
    w.gather[g++] = s;
  }
  const int firstInner = v[from].next, lastInner = v[to].prev;
  const int fromCopy = w.used++, toCopy = w.used++;
  v[fromCopy] = v[from];
  v[toCopy] = v[to];
  v[fromCopy].next = firstInner;
  v[firstInner].prev = fromCopy;
  v[lastInner].next = toCopy;
  v[toCopy].prev = lastInner;
  v[toCopy].next = fromCopy;
  v[fromCopy].prev = toCopy;
  v[from].next = to;
  v[to].prev = from;
  w.gather[g] = fromCopy;
  w.gather[g + 1] = toCopy;

  const EarPolygon smaller{LinkAscending(v, w.gather, g + 2), g + 2};
  const EarPolygon larger{poly.least, poly.count - g};  // m, its least, stays in it
  w.pending[w.depth++] = firstIsSmaller ? larger : smaller;
  w.pending[w.depth++] = firstIsSmaller ? smaller : larger;
}

// Clips ears off the polygon until it is done or split (its parts then wait on the stack).
void ClipEars(EarWork& w, EarPolygon poly, int* count, int* tri) {
  EarVertex* v = w.v;
  for (;;) {
    const int m = poly.least, prev = v[m].prev, next = v[m].next;
    if (poly.count == 3) {
      int a = m, b = next, c = prev;
      while (v[a].key > v[b].key || v[a].key > v[c].key) {
        const int t = a;
        a = b, b = c, c = t;
      }
      WriteTriangle(v[a].idx, v[b].idx, v[c].idx, count, tri);
      return;
    }
    // Nothing left of m's x can block, nor anything beyond the ear's box (widened for the
    // vertices on its edges).
    const double* pp = v[prev].p;
    const double* pm = v[m].p;
    const double* pn = v[next].p;
    const double reach = kOnEarEdge * (std::fabs(pp[0] - pm[0]) + std::fabs(pp[1] - pm[1]) +
                                       std::fabs(pn[0] - pm[0]) + std::fabs(pn[1] - pm[1]));
    const double maxX = std::max(pp[0], pn[0]) + reach;
    const double minY = std::min({pp[1], pm[1], pn[1]}) - reach, maxY = std::max({pp[1], pm[1], pn[1]}) + reach;
    int blocker = -1;
    for (int s = v[m].higher; s >= 0 && v[s].p[0] <= maxX; s = v[s].higher) {
      const int id = v[s].idx;
      if (id == v[m].idx || id == v[prev].idx || id == v[next].idx) continue;
      if (v[s].p[1] < minY || v[s].p[1] > maxY) continue;
      if (BlocksEar(pp, pm, pn, v[s].p)) {
        blocker = s;
        break;
      }
    }
    if (blocker >= 0) {
      SplitEarPolygon(w, poly, m, blocker);
      return;
    }
    WriteTriangle(v[prev].idx, v[m].idx, v[next].idx, count, tri);
    v[prev].next = next;
    v[next].prev = prev;
    poly.least = v[m].higher;
    v[poly.least].lower = -1;
    --poly.count;
  }
}

// ---- Loops in space -----------------------------------------------------------------------------

// A loop copied into scratch of the current scope, with room for `room` entries.
struct SpaceLoop {
  int n = 0;
  int* idx = nullptr;
  double* x = nullptr;
  double* y = nullptr;
  double* z = nullptr;
};

bool AllocLoop(SpaceLoop& loop, long room) {
  loop.idx = MallocArray<int>(room);
  loop.x = MallocArray<double>(room);
  loop.y = MallocArray<double>(room);
  loop.z = MallocArray<double>(room);
  return loop.idx && loop.x && loop.y && loop.z;
}

void CopyLoopEntries(const SpaceLoop& from, int i, const SpaceLoop& to, int j, int k) {
  std::memmove(to.idx + j, from.idx + i, sizeof(int) * k);
  std::memmove(to.x + j, from.x + i, sizeof(double) * k);
  std::memmove(to.y + j, from.y + i, sizeof(double) * k);
  std::memmove(to.z + j, from.z + i, sizeof(double) * k);
}

SpaceLoop LoopAt(const SpaceLoop& loop, int offset, int n) {
  return {n, loop.idx + offset, loop.x + offset, loop.y + offset, loop.z + offset};
}

// Float copies for the plane fit, room for the whole loop.
struct FitScratch {
  float* x = nullptr;
  float* y = nullptr;
  float* z = nullptr;
};

// Projects the n points along the normal of their least-squares plane into (X, Y): the fitted
// normal becomes +z, so counter-clockwise in (X, Y) is counter-clockwise seen from its tip.
// false when the points fit no plane.
bool ProjectOnBestPlane(const SpaceLoop& loop, const FitScratch& f, double* X, double* Y) {
  for (int i = 0; i < loop.n; ++i) {
    f.x[i] = static_cast<float>(loop.x[i]);
    f.y[i] = static_cast<float>(loop.y[i]);
    f.z[i] = static_cast<float>(loop.z[i]);
  }
  PlaneEq plane;
  if (!PlaneFit(f.x, f.y, f.z, loop.n, plane)) return false;
  const double origin[3] = {0.0, 0.0, 0.0}, normal[3] = {plane[0], plane[1], plane[2]};
  Xform M;
  TransformToZAxis(origin, normal, M);
  for (int i = 0; i < loop.n; ++i) {
    const double p[3] = {loop.x[i], loop.y[i], loop.z[i]};
    double q[3];
    VecTrans3(p, M, q);
    X[i] = q[0];
    Y[i] = q[1];
  }
  return true;
}

bool UsableSpaceLoop(int n, const int* idx, const double* x, const double* y, const double* z, const int* count,
                     const int* tri) {
  return n >= 3 && idx && x && y && z && count && tri && AllFinite(x, n) && AllFinite(y, n) && AllFinite(z, n);
}

// Copies the caller's loop into scratch with the given room and drops repeated indices.
bool CopyDistinctLoop(int n, const int* idx, const double* x, const double* y, const double* z, int room,
                      SpaceLoop& loop) {
  if (!AllocLoop(loop, room)) return false;
  const SpaceLoop given{n, const_cast<int*>(idx), const_cast<double*>(x), const_cast<double*>(y),
                        const_cast<double*>(z)};
  CopyLoopEntries(given, 0, loop, 0, n);
  loop.n = n;
  RemoveDuplicateVertices(&loop.n, loop.idx, loop.x, loop.y, loop.z);
  return true;
}

// ---- Sharpest corner first ----------------------------------------------------------------------
//
// Each part is a region of one scratch loop: a split leaves the second part at the region's start
// and the first part right behind it, and the first is triangulated (splitting further behind
// itself) before the second, so the live regions always lie back to back. Every split adds two
// vertices and every split or ear takes one from the sum of (count - 3) over the parts, so there
// are at most n - 3 splits and the scratch never needs more than 3n entries. A part that was
// reversed to run counter-clockwise waits on the stack under its two halves and reverses the
// order of all their triangles after them, so that every triangle follows the input loop's order.

struct SharpPart {
  int offset;
  int count;
  int firstTriangle;  // *count when the part began
  int reversed;
  int waiting;  // split: its halves are above it on the stack
};

struct SharpWork {
  SpaceLoop loop;     // the regions, room 3n
  SpaceLoop split;    // a first part on its way behind the second, room n
  double* X = nullptr;  // the current region's projection, parallel to loop
  double* Y = nullptr;
  double* value = nullptr;  // corner values, parallel to loop
  FitScratch fit;
  SharpPart* stack = nullptr;
  int depth = 0;
};

// 0 straight on, up to 2 for a full turn back, by the angle in space between the edges into and
// out of vertex i (c2 the squared cosine); negative where the projected loop turns clockwise. A
// zero-length edge has no turn: it counts as straight on.
double CornerValue(const SharpWork& w, int o, int c, int i) {
  const int a = o + (i > 0 ? i - 1 : c - 1), p = o + i, b = o + (i + 1 < c ? i + 1 : 0);
  const double* x = w.loop.x;
  const double* y = w.loop.y;
  const double* z = w.loop.z;
  const double u[3] = {x[p] - x[a], y[p] - y[a], z[p] - z[a]};
  const double v[3] = {x[b] - x[p], y[b] - y[p], z[b] - z[p]};
  const double uu = VecDotProd3(u, u), vv = VecDotProd3(v, v), uv = VecDotProd3(u, v);
  const double den = uu * vv;
  const double c2 = den > 0.0 ? uv * uv / den : 1.0;
  double value = den > 0.0 ? (uv >= 0.0 ? 1.0 - c2 : 1.0 + c2) : 0.0;
  const double turn = (w.X[p] - w.X[a]) * (w.Y[b] - w.Y[p]) - (w.Y[p] - w.Y[a]) * (w.X[b] - w.X[p]);
  if (turn < 0.0) value = -value;
  return value;
}

void ReverseTrianglesSince(int first, int count, int* tri) {
  for (int t = first; t < count; ++t) std::swap(tri[3 * t], tri[3 * t + 2]);
}

// Begins a part: drops repeats, writes a triangle outright, or fits, projects and orients it.
// 0 failure, 1 done, 2 ready for clipping.
int BeginSharpPart(SharpWork& w, SharpPart& part, int* count, int* tri) {
  SpaceLoop r = LoopAt(w.loop, part.offset, part.count);
  RemoveDuplicateVertices(&r.n, r.idx, r.x, r.y, r.z);
  part.count = r.n;
  part.firstTriangle = *count;
  if (r.n < 3) return 0;
  if (r.n == 3) {
    WriteTriangle(r.idx[0], r.idx[1], r.idx[2], count, tri);
    return 1;
  }
  double* X = w.X + part.offset;
  double* Y = w.Y + part.offset;
  if (!ProjectOnBestPlane(r, w.fit, X, Y)) return 0;
  SetCounterClock2DPoly(r.n, r.idx, X, Y, &part.reversed);
  if (part.reversed) {
    std::reverse(r.x, r.x + r.n);
    std::reverse(r.y, r.y + r.n);
    std::reverse(r.z, r.z + r.n);
  }
  return 2;
}

// Clips the part's sharpest corners until it is done; a split leaves it waiting under its halves.
void ClipSharpest(SharpWork& w, SharpPart& part, int* count, int* tri) {
  const int o = part.offset;
  int c = part.count;
  int* idx = w.loop.idx + o;
  for (int i = 0; i < c; ++i) w.value[o + i] = CornerValue(w, o, c, i);
  while (c > 3) {
    int m = 0;
    double best = -3.0;  // below every corner value
    for (int i = 0; i < c; ++i)
      if (w.value[o + i] > best) best = w.value[o + i], m = i;
    const int prev = m > 0 ? m - 1 : c - 1, next = m + 1 < c ? m + 1 : 0;
    const double a[2] = {w.X[o + prev], w.Y[o + prev]}, b[2] = {w.X[o + m], w.Y[o + m]},
                 e[2] = {w.X[o + next], w.Y[o + next]};
    const double pm[3] = {w.loop.x[o + m], w.loop.y[o + m], w.loop.z[o + m]};
    const EarReach box = ReachOfEar(a, b, e);
    int nearest = -1;
    double nearestD2 = 0.0;
    for (int i = 0; i < c; ++i) {
      if (i == prev || i == m || i == next) continue;
      const double p[2] = {w.X[o + i], w.Y[o + i]};
      if (!box.Holds(p) || !BlocksEar(a, b, e, p)) continue;
      const double q[3] = {w.loop.x[o + i], w.loop.y[o + i], w.loop.z[o + i]};
      double d[3];
      VecDiff3(q, pm, d);
      const double d2 = VecDotProd3(d, d);
      if (nearest < 0 || d2 < nearestD2) nearest = i, nearestD2 = d2;
    }
    if (nearest >= 0) {
      // First part lo..hi behind the second part 0..lo, hi..c-1.
      const int lo = std::min(m, nearest), hi = std::max(m, nearest);
      const int c1 = hi - lo + 1, c2 = c - hi + lo + 1;
      CopyLoopEntries(w.loop, o + lo, w.split, 0, c1);
      CopyLoopEntries(w.loop, o + hi, w.loop, o + lo + 1, c - hi);
      CopyLoopEntries(w.split, 0, w.loop, o + c2, c1);
      part.count = c;
      part.waiting = 1;
      w.stack[w.depth++] = part;
      w.stack[w.depth++] = SharpPart{o, c2, 0, 0, 0};
      w.stack[w.depth++] = SharpPart{o + c2, c1, 0, 0, 0};
      return;
    }
    WriteTriangle(idx[prev], idx[m], idx[next], count, tri);
    const int tail = c - m - 1;
    CopyLoopEntries(w.loop, o + m + 1, w.loop, o + m, tail);
    std::memmove(w.X + o + m, w.X + o + m + 1, sizeof(double) * tail);
    std::memmove(w.Y + o + m, w.Y + o + m + 1, sizeof(double) * tail);
    std::memmove(w.value + o + m, w.value + o + m + 1, sizeof(double) * tail);
    if (--c == 3) break;
    const int before = m > 0 ? m - 1 : c - 1, after = m < c ? m : 0;
    w.value[o + before] = CornerValue(w, o, c, before);
    w.value[o + after] = CornerValue(w, o, c, after);
  }
  WriteTriangle(idx[0], idx[1], idx[2], count, tri);
  if (part.reversed) ReverseTrianglesSince(part.firstTriangle, *count, tri);
}

// Every array of the work in one block: at most 3n loop entries (see the note above
// SharpPart), n for a part in transit, float copies for the fit and a waiting part and two
// halves per split. With base null only the size is worked out.
constexpr long kScratchAlign = alignof(double);

constexpr long ScratchRoundUp(long bytes) { return (bytes + kScratchAlign - 1) / kScratchAlign * kScratchAlign; }

constexpr long LaySharpWork(SharpWork& w, int n, unsigned char* base) {
  long at = 0;
  auto take = [&]<class T>(T*& p, long k) {
    p = base ? reinterpret_cast<T*>(base + at) : nullptr;
    at += ScratchRoundUp(static_cast<long>(sizeof(T)) * k);
  };
  const long room = 3L * n;
  take(w.loop.idx, room), take(w.loop.x, room), take(w.loop.y, room), take(w.loop.z, room);
  take(w.split.idx, n), take(w.split.x, n), take(w.split.y, n), take(w.split.z, n);
  take(w.X, room), take(w.Y, room), take(w.value, room);
  take(w.fit.x, n), take(w.fit.y, n), take(w.fit.z, n);
  take(w.stack, 2L * n);
  return at;
}

constexpr long SharpWorkBytes(int n) {
  SharpWork w;
  return LaySharpWork(w, n, nullptr);
}

// Rings of a point removal are small: their work fits on the stack, no allocation.
constexpr int kStackRing = 32;
// Polygons of up to this many vertices are cut into triangles in scratch on the stack.
constexpr int kStackEars = 16;

}  // namespace

// ---- Planar loops -------------------------------------------------------------------------------

int BreakPolyToTriangle(int n, const int* idx, const double* x, const double* y, int* count, int* tri) {
  if (n < 3 || !idx || !x || !y || !count || !tri) return 0;
  if (!AllFinite(x, n) || !AllFinite(y, n)) return 0;
  if (n == 3) {
    WriteTriangle(idx[0], idx[1], idx[2], count, tri);
    return 1;
  }
  TrackingScope scope;
  EarWork w;
  // Every split adds two vertex copies and one pending part, and every split or ear takes one
  // from the sum of (count - 3) over the parts: at most n - 3 splits. A short polygon (the common
  // hole) works on the stack.
  EarVertex stackVertices[3 * kStackEars];
  EarPolygon stackPending[kStackEars];
  int stackGather[kStackEars];
  const bool onStack = n <= kStackEars;
  w.v = onStack ? stackVertices : MallocArray<EarVertex>(3, n);
  w.pending = onStack ? stackPending : MallocArray<EarPolygon>(n);
  w.gather = onStack ? stackGather : MallocArray<int>(n);
  if (!w.v || !w.pending || !w.gather) return 0;
  for (int i = 0; i < n; ++i) {
    EarVertex& e = w.v[i];
    e.p[0] = x[i];
    e.p[1] = y[i];
    e.idx = idx[i];
    e.key = i;
    e.prev = i > 0 ? i - 1 : n - 1;
    e.next = i + 1 < n ? i + 1 : 0;
    w.gather[i] = i;
  }
  w.used = n;
  w.pending[w.depth++] = EarPolygon{LinkAscending(w.v, w.gather, n), n};
  while (w.depth > 0) {
    const EarPolygon poly = w.pending[--w.depth];
    ClipEars(w, poly, count, tri);
  }
  return 1;
}

void SetCounterClock2DPoly(int n, int* idx, double* x, double* y, int* flag) {
  *flag = 0;
  if (n < 2) return;
  int left = 0;
  double xmax = x[0];
  for (int i = 1; i < n; ++i) {
    if (x[i] < x[left] || (x[i] == x[left] && y[i] < y[left])) left = i;
    xmax = std::max(xmax, x[i]);
  }
  if (xmax == x[left]) return;
  // Crossings of the middle vertical line; the crossing on edge i -> i+1 sits at position
  // i + 1/2, kept doubled (2i + 1) against the leftmost vertex's 2 * left.
  const double mid = (x[left] + xmax) / 2;
  int top = -1, bottom = -1;
  double yTop = 0.0, yBottom = 0.0;
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    const double lo = std::min(x[i], x[j]), hi = std::max(x[i], x[j]);
    if (!((lo < mid && hi >= mid) || (hi > mid && lo <= mid))) continue;
    const double yc = y[i] + (mid - x[i]) * (y[j] - y[i]) / (x[j] - x[i]);
    if (top < 0 || yc > yTop) top = 2 * i + 1, yTop = yc;
    if (bottom < 0 || yc < yBottom) bottom = 2 * i + 1, yBottom = yc;
  }
  const int l = 2 * left;
  // Counter-clockwise from the leftmost vertex the loop passes below the middle first.
  const bool clockwise = (l < top && top < bottom) || (top < bottom && bottom < l) || (bottom < l && l < top);
  if (!clockwise) return;
  std::reverse(idx, idx + n);
  std::reverse(x, x + n);
  std::reverse(y, y + n);
  *flag = 1;
}

int IsPoint2DInList(double px, double py, double qx, double qy, const double* x, const double* y,
                    int n) {
  return PointInPolygonByFarPoint(px, py, qx, qy, x, y, n);
}

int IsList2DInList(const double* x, const double* y, int n, double qx, double qy, const double* X,
                   const double* Y, int N) {
  if (n < 1 || !x || !y || (N > 0 && (!X || !Y))) return 0;
  const int tested = std::min(n, 21);
  int inside = 0;
  for (int i = 0; i < tested; ++i) inside += IsPoint2DInList(x[i], y[i], qx, qy, X, Y, N);
  return inside > tested - inside ? 1 : 0;
}

// ---- Loops in space -----------------------------------------------------------------------------

void RemoveDuplicateVertices(int* n, int* idx, double* x, double* y, double* z) {
  int kept = 0;
  for (int i = 0; i < *n; ++i) {
    if (IntInArray(idx[i], idx, kept, nullptr)) continue;
    idx[kept] = idx[i];
    x[kept] = x[i];
    y[kept] = y[i];
    z[kept] = z[i];
    ++kept;
  }
  *n = kept;
}

int BreakPoly3DToTriangle(int n, const int* idx, const double* x, const double* y, const double* z,
                          int* count, int* tri) {
  if (!UsableSpaceLoop(n, idx, x, y, z, count, tri)) return 0;
  TrackingScope scope;
  SpaceLoop loop;
  if (!CopyDistinctLoop(n, idx, x, y, z, n, loop)) return 0;
  const int k = loop.n;
  if (k < 3) return 0;
  if (k == 3) {
    WriteTriangle(loop.idx[0], loop.idx[1], loop.idx[2], count, tri);
    return 1;
  }
  FitScratch fit{MallocArray<float>(k), MallocArray<float>(k), MallocArray<float>(k)};
  if (!fit.x || !fit.y || !fit.z) return 0;
  // The projection may overwrite the copy: the 3D points are not needed after it.
  if (!ProjectOnBestPlane(loop, fit, loop.x, loop.y)) {
    for (int i = 1; i + 1 < k; ++i) WriteTriangle(loop.idx[0], loop.idx[i], loop.idx[i + 1], count, tri);
    return 1;
  }
  return BreakPolyToTriangle(k, loop.idx, loop.x, loop.y, count, tri);
}

int BreakPoly3DToTriangleToo(int n, const int* idx, const double* x, const double* y, const double* z,
                             int* count, int* tri) {
  if (!UsableSpaceLoop(n, idx, x, y, z, count, tri)) return 0;
  alignas(kScratchAlign) unsigned char ring[SharpWorkBytes(kStackRing)];
  const Owned<unsigned char, Free> large(n > kStackRing ? MallocArray<unsigned char>(SharpWorkBytes(n)) : nullptr);
  if (n > kStackRing && !large) return 0;
  SharpWork w;
  LaySharpWork(w, n, large ? large.get() : ring);
  const SpaceLoop given{n, const_cast<int*>(idx), const_cast<double*>(x), const_cast<double*>(y),
                        const_cast<double*>(z)};
  CopyLoopEntries(given, 0, w.loop, 0, n);
  w.stack[w.depth++] = SharpPart{0, n, 0, 0, 0};
  while (w.depth > 0) {
    SharpPart part = w.stack[--w.depth];
    if (part.waiting) {
      if (part.reversed) ReverseTrianglesSince(part.firstTriangle, *count, tri);
      continue;
    }
    const int begun = BeginSharpPart(w, part, count, tri);
    if (begun == 0) return 0;
    if (begun == 2) ClipSharpest(w, part, count, tri);
  }
  return 1;
}

// ---- Capping holes ------------------------------------------------------------------------------

namespace {

struct LoopBox {
  double lo[2];
  double hi[2];
};

LoopBox BoxOfLoop(int n, const double* x, const double* y) {
  LoopBox b{{x[0], y[0]}, {x[0], y[0]}};
  for (int i = 1; i < n; ++i) {
    b.lo[0] = std::min(b.lo[0], x[i]), b.hi[0] = std::max(b.hi[0], x[i]);
    b.lo[1] = std::min(b.lo[1], y[i]), b.hi[1] = std::max(b.hi[1], y[i]);
  }
  return b;
}

// A triangulated outer loop, where its triangles (with those of its holes) begin and how many
// loops (it and its holes) they cap.
struct CapGroup {
  int outer;
  int firstTriangle;
  int loops;
};

// Work still waiting in the capper: a set of loops to sort (order[start .. start + len)), or an
// outer loop order[start] to cap with the holes after it. Pending tasks hold disjoint loops, so
// there are never more than k of them.
struct CapTask {
  int cap;
  int start;
  int len;
};

// The loop set of CreateCapPolysRecursive.
struct CapLoops {
  const int* counts;
  const int* const* idx;
  const double* const* x;
  const double* const* y;
};

// Caps the outer loop order[0] with the holes order[1 .. len), appending at most `room` - *count
// triangles; the triangles of a failed cap are not counted.
int CapOuterWithHoles(const CapLoops& s, const int* order, int len, int* count, int* tri, long room,
                      int* counts, const int** idx, const double** x, const double** y) {
  long made = -2;
  for (int i = 0; i < len; ++i) made += s.counts[order[i]] + (i > 0 ? 2 : 0);
  if (made > room - *count) {
    SetKernelError(-2);  // the room the caller sized cannot hold them: refuse rather than overrun
    return 0;
  }
  const int before = *count;
  int done;
  if (len == 1) {
    const int o = order[0];
    done = BreakPolyToTriangle(s.counts[o], s.idx[o], s.x[o], s.y[o], count, tri);
  } else {
    for (int i = 0; i < len; ++i) {
      const int l = order[i];
      counts[i] = s.counts[l], idx[i] = s.idx[l], x[i] = s.x[l], y[i] = s.y[l];
    }
    done = MakeInnerOuterPoly2D(len - 1, counts, idx, x, y, count, tri);
  }
  if (!done) *count = before;
  return done;
}

// The capper's rules (see CreateCapPolysRecursive) with the recursion on sets of loops kept on an
// explicit stack, in the same order: the loops outside the outer loop first, then the outer loop
// with its holes, then the loops nested in the holes. groups (room k, may be null) receive the
// outer loops capped.
int CapLoopSet(int k, const CapLoops& s, int* count, int* tri, long room, CapGroup* groups, int* ngroups) {
  if (k < 1) return 0;
  TrackingScope scope;
  LoopBox* box = MallocArray<LoopBox>(k);
  int* order = MallocArray<int>(k);
  int* sorted = MallocArray<int>(k);
  unsigned char* kind = MallocArray<unsigned char>(k);
  CapTask* tasks = MallocArray<CapTask>(k);
  int* counts = MallocArray<int>(k);
  const int** idx = MallocArray<const int*>(k);
  const double** x = MallocArray<const double*>(k);
  const double** y = MallocArray<const double*>(k);
  if (!box || !order || !sorted || !kind || !tasks || !counts || !idx || !x || !y) return 0;
  for (int l = 0; l < k; ++l) {
    if (s.counts[l] < 1) return 0;
    box[l] = BoxOfLoop(s.counts[l], s.x[l], s.y[l]);
    order[l] = l;
  }
  // Far point of a loop: beyond its box's upper right corner.
  auto farX = [&](int l) { return 2 * box[l].hi[0] - box[l].lo[0]; };
  auto farY = [&](int l) { return 2 * box[l].hi[1] - box[l].lo[1]; };
  auto inside = [&](int l, int of) {
    return IsList2DInList(s.x[l], s.y[l], s.counts[l], farX(of), farY(of), s.x[of], s.y[of], s.counts[of]) == 1;
  };
  enum : unsigned char { kOutside, kOuter, kHole, kNested };
  int depth = 0;
  tasks[depth++] = CapTask{0, 0, k};
  while (depth > 0) {
    const CapTask task = tasks[--depth];
    int* set = order + task.start;
    if (task.cap) {
      if (groups) groups[(*ngroups)++] = CapGroup{set[0], *count, task.len};
      if (!CapOuterWithHoles(s, set, task.len, count, tri, room, counts, idx, x, y)) return 0;
      continue;
    }
    int outer = set[0];
    double largest = -1.0;
    for (int i = 0; i < task.len; ++i) {
      const LoopBox& b = box[set[i]];
      const double area = (b.hi[0] - b.lo[0]) * (b.hi[1] - b.lo[1]);
      if (area > largest) largest = area, outer = set[i];
    }
    for (int i = 0; i < task.len; ++i) {
      const int l = set[i];
      kind[l] = l == outer ? kOuter : inside(l, outer) ? kHole : kOutside;
    }
    for (int i = 0; i < task.len; ++i) {
      const int l = set[i];
      if (kind[l] == kOutside || kind[l] == kOuter) continue;
      for (int j = 0; j < task.len; ++j) {
        const int m = set[j];
        if (m == l || kind[m] == kOutside || kind[m] == kOuter) continue;
        if (inside(l, m)) {
          kind[l] = kNested;
          break;
        }
      }
    }
    // Lay the set out as outside loops, outer loop, holes, nested loops, each in the set's order.
    int n = 0;
    int counted[4] = {0, 0, 0, 0};
    for (const unsigned char want : {kOutside, kOuter, kHole, kNested})
      for (int i = 0; i < task.len; ++i)
        if (kind[set[i]] == want) sorted[n++] = set[i];
    for (int i = 0; i < task.len; ++i) ++counted[kind[set[i]]];
    std::copy(sorted, sorted + task.len, set);
    const int outside = counted[kOutside], holes = counted[kHole], nested = counted[kNested];
    if (nested > 0) tasks[depth++] = CapTask{0, task.start + outside + 1 + holes, nested};
    tasks[depth++] = CapTask{1, task.start + outside, 1 + holes};
    if (outside > 0) tasks[depth++] = CapTask{0, task.start, outside};
  }
  return 1;
}

}  // namespace

int CreateCapPolysRecursive(int k, const int* counts, const int* const* idx, const double* const* x,
                            const double* const* y, int* count, int* tri) {
  if (k < 1 || !counts || !idx || !x || !y || !count || !tri) return 0;
  const CapLoops s{counts, idx, x, y};
  int ngroups = 0;
  return CapLoopSet(k, s, count, tri, std::numeric_limits<long>::max(), nullptr, &ngroups);
}

int MakeInnerOuterPoly2D(int h, const int* counts, const int* const* idx, const double* const* x,
                         const double* const* y, int* count, int* tri) {
  if (h < 0 || !counts || !idx || !x || !y || !count || !tri) return 0;
  TrackingScope scope;
  long total = 0;
  for (int i = 0; i <= h; ++i) {
    if (counts[i] < 1) return 0;
    total += counts[i];
  }
  const long room = total + 2L * h;
  int* cnt = MallocArray<int>(h + 1);
  int* id = MallocArray<int>(room);
  double* X = MallocArray<double>(room);
  double* Y = MallocArray<double>(room);
  if (!cnt || !id || !X || !Y) return 0;
  for (int i = 0, at = 0; i <= h; at += counts[i], ++i) {
    cnt[i] = counts[i];
    std::copy(idx[i], idx[i] + counts[i], id + at);
    std::copy(x[i], x[i] + counts[i], X + at);
    std::copy(y[i], y[i] + counts[i], Y + at);
  }
  if (!MakeAnOuterPoly2D(h, cnt, id, X, Y)) return 0;
  return BreakPolyToTriangle(cnt[0], id, X, Y, count, tri);
}

int MakeAnOuterPoly2D(int h, int* counts, int* idx, double* x, double* y) {
  if (h <= 0) return 1;
  if (!counts || !idx || !x || !y) return 0;
  long total = 0;
  for (int i = 0; i <= h; ++i) {
    if (counts[i] < 1) return 0;
    total += counts[i];
  }
  TrackingScope scope;
  const long room = total + 2L * h;
  int* mi = MallocArray<int>(room);
  double* mx = MallocArray<double>(room);
  double* my = MallocArray<double>(room);
  Bbox* boxes = MallocArray<Bbox>(h);
  if (!mi || !mx || !my || !boxes) return 0;
  for (int j = 0, at = counts[0]; j < h; at += counts[1 + j], ++j) {
    const LoopBox b = BoxOfLoop(counts[1 + j], x + at, y + at);
    boxes[j][0] = b.lo[0], boxes[j][1] = b.lo[1], boxes[j][2] = 0.0;
    boxes[j][3] = b.hi[0], boxes[j][4] = b.hi[1], boxes[j][5] = 0.0;
  }
  for (int holes = h; holes > 0; --holes) {
    const int no = counts[0];
    // The outer vertex and hole closest by the box; a later pair at an equal distance wins.
    int o = 0, j = 0;
    double best = HUGE_VAL;
    for (int i = 0; i < no; ++i) {
      const double p[2] = {x[i], y[i]};
      for (int q = 0; q < holes; ++q) {
        const double d = Distance2DBetPtAndBbox(p, boxes[q]);
        if (d <= best) best = d, o = i, j = q;
      }
    }
    int at = no;
    for (int q = 0; q < j; ++q) at += counts[1 + q];
    const int nh = counts[1 + j];
    // The bridge ends at the nearer end of the hole's edge nearest to vertex o.
    const double p[2] = {x[o], y[o]};
    int h0 = 0;
    double nearest = HUGE_VAL;
    for (int i = 0; i < nh; ++i) {
      const int i1 = i + 1 < nh ? i + 1 : 0;
      const double a[2] = {x[at + i], y[at + i]}, b[2] = {x[at + i1], y[at + i1]};
      double foot[2], d2 = 0.0, w = 0.0;
      LineSegPnt2DMinDistSq(p, a, b, foot, &d2, &w);
      if (d2 < nearest) nearest = d2, h0 = w >= 0.5 ? i : i1;
    }
    long m = 0;
    auto put = [&](long i) { mi[m] = idx[i], mx[m] = x[i], my[m] = y[i], ++m; };
    for (int i = 0; i <= o; ++i) put(i);
    for (int i = h0; i >= 0; --i) put(at + i);
    for (int i = nh - 1; i >= h0; --i) put(at + i);
    for (int i = o; i < no; ++i) put(i);
    long end = no;
    for (int q = 0; q < holes; ++q) end += counts[1 + q];
    for (long i = no; i < end; ++i)
      if (i < at || i >= at + nh) put(i);
    std::copy(mi, mi + m, idx);
    std::copy(mx, mx + m, x);
    std::copy(my, my + m, y);
    counts[0] = no + nh + 2;
    for (int q = j; q + 1 < holes; ++q) {
      counts[1 + q] = counts[2 + q];
      std::copy(boxes[q + 1], boxes[q + 1] + 6, boxes[q]);
    }
  }
  return 1;
}

namespace {

// The z-axis transform of the points' least-squares plane (its normal taken to +z about the
// origin); false when they fit no plane.
bool BestPlaneTransform(int n, const float* x, const float* y, const float* z, Xform M) {
  PlaneEq plane;
  if (!PlaneFit(x, y, z, n, plane)) return false;
  const double origin[3] = {0.0, 0.0, 0.0}, normal[3] = {plane[0], plane[1], plane[2]};
  TransformToZAxis(origin, normal, M);
  return true;
}

}  // namespace

namespace {

// The first edge of a cap's outer loop as the cap runs it (first -> the other end), to be
// compared with the mesh triangle on that edge.
struct CapEdgeProbe {
  int lo, hi;
  int group;
  int first;
};

// Turns over every cap whose outer loop's first edge runs the same way in the cap as in the mesh
// triangle on it (found in one pass over the mesh's edges), so that the caps face the mesh's way.
bool OrientCapsLikeMesh(const Cloud* mesh, const CapLoops& s, const CapGroup* groups, int ngroups, int count,
                        int* tri) {
  CapEdgeProbe* probes = MallocArray<CapEdgeProbe>(ngroups);
  signed char* same = CallocArray<signed char>(ngroups);  // 1 same way, -1 opposite, 0 not found
  if (!probes || !same) return false;
  int nprobes = 0;
  for (int g = 0; g < ngroups; ++g) {
    const int o = groups[g].outer;
    if (s.counts[o] < 2 || s.idx[o][0] == s.idx[o][1]) continue;
    const int a = s.idx[o][0], b = s.idx[o][1];
    probes[nprobes++] = CapEdgeProbe{std::min(a, b), std::max(a, b), g, a};
  }
  auto before = [](const CapEdgeProbe& p, const CapEdgeProbe& q) { return p.lo < q.lo || (p.lo == q.lo && p.hi < q.hi); };
  std::sort(probes, probes + nprobes, before);
  for (int t = 0; t < mesh->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int u = mesh->tri[t].v[k], w = mesh->tri[t].v[(k + 1) % 3];
      const CapEdgeProbe key{std::min(u, w), std::max(u, w), 0, 0};
      for (const CapEdgeProbe* p = std::lower_bound(probes, probes + nprobes, key, before);
           p < probes + nprobes && !before(key, *p); ++p)
        if (!same[p->group]) same[p->group] = p->first == u ? 1 : -1;
    }
  for (int g = 0; g < ngroups; ++g) {
    if (same[g] != 1) continue;
    const int end = g + 1 < ngroups ? groups[g + 1].firstTriangle : count;
    ReverseTrianglesSince(groups[g].firstTriangle, end, tri);
  }
  return true;
}

// A cap corner angle below this (radians) marks a sliver, as CapAllLoops's caps avoid them.
constexpr double kSliverAngle = M_PI / 180.0;

// Whether one of the count triangles (mesh vertex numbers) has a corner angle below kSliverAngle.
bool HasSliver(const Cloud* mesh, const int* tri, int count) {
  for (int t = 0; t < count; ++t)
    for (int k = 0; k < 3; ++k) {
      double a[3], b[3], c[3], u[3], w[3], x[3];
      GetCldPoint(mesh, tri[3 * t + k], a);
      GetCldPoint(mesh, tri[3 * t + (k + 1) % 3], b);
      GetCldPoint(mesh, tri[3 * t + (k + 2) % 3], c);
      VecDiff3(b, a, u);
      VecDiff3(c, a, w);
      VecCrossProd3(u, w, x);
      if (!(std::atan2(VecSize3(x), VecDotProd3(u, w)) >= kSliverAngle)) return true;
    }
  return false;
}

// Where the cap of a group reuses an edge of the mesh or crosses the mesh near the hole: a lone
// loop's cap is made again as CapAllLoops makes it (the same number of triangles), kept with the
// error state set where the mesh folds over at the loop as it does there; false when that leaves
// the loop open or the group has holes (no other cap of an outer loop with its holes). A sound
// cap of a lone loop with a sliver is made again so too and kept when that one is sound.
bool MendUnsoundCaps(Cloud* mesh, const int32_t* edges, int nloops, IndexNode* const* loopHeads, const CapLoops& s,
                     const CapGroup* groups, int ngroups, int count, int* tri, bool* folded) {
  HoleCapper* capper = BeginHoleCaps(mesh, edges, loopHeads, nloops, 0);
  if (!capper) return false;
  for (int g = 0; g < ngroups; ++g) {
    const int first = groups[g].firstTriangle, end = g + 1 < ngroups ? groups[g + 1].firstTriangle : count;
    const int o = groups[g].outer;
    const bool lone = groups[g].loops == 1 && end - first == s.counts[o] - 2;
    if (HoleCapsSound(capper, tri + 3 * first, end - first)) {
      if (!lone || !HasSliver(mesh, tri + 3 * first, end - first)) continue;
      TrackingScope scope;
      int* kept = MallocArray<int>(3, end - first);
      if (!kept) return false;
      std::copy(tri + 3 * first, tri + 3 * end, kept);
      if (CapHoleLoop(capper, s.idx[o], s.counts[o], tri + 3 * first) != 1)
        std::copy(kept, kept + 3 * (end - first), tri + 3 * first);
      continue;
    }
    if (!lone) return false;
    const int capped = CapHoleLoop(capper, s.idx[o], s.counts[o], tri + 3 * first);
    if (capped < 0) return false;
    *folded = *folded || capped == 0;
  }
  return !MemoryErrorSet();
}

// Walks the loops head to tail into vertex lists (an open loop gets the last edge's far end too),
// projects them onto the least-squares plane of their vertices in counter-clockwise order and
// caps them into tri (room triangles), each cap facing the mesh's way, then mends unsound caps.
int CapMeshLoops(Cloud* mesh, const int32_t* edges, int nloops, IndexNode* const* loopHeads, long total,
                 long room, int* count, int* tri, bool* folded) {
  TrackingScope scope;
  int* counts = MallocArray<int>(nloops);
  int** idx = MallocArray<int*>(nloops);
  double** X = MallocArray<double*>(nloops);
  double** Y = MallocArray<double*>(nloops);
  int* vid = MallocArray<int>(total);
  double* vx = MallocArray<double>(total);
  double* vy = MallocArray<double>(total);
  int* points = MallocArray<int>(total);
  float* fx = MallocArray<float>(total);
  float* fy = MallocArray<float>(total);
  float* fz = MallocArray<float>(total);
  CapGroup* groups = MallocArray<CapGroup>(nloops);
  if (!counts || !idx || !X || !Y || !vid || !vx || !vy || !points || !fx || !fy || !fz || !groups) return 0;
  long at = 0;
  for (int l = 0; l < nloops; ++l) {
    idx[l] = vid + at, X[l] = vx + at, Y[l] = vy + at;
    const long start = at;
    const IndexNode* last = nullptr;
    for (const IndexNode* e = loopHeads[l]; e; e = e->next) vid[at++] = edges[2 * e->index], last = e;
    if (last && edges[2 * last->index + 1] != vid[start]) vid[at++] = edges[2 * last->index + 1];
    counts[l] = static_cast<int>(at - start);
  }
  for (long i = 0; i < total; ++i)
    if (vid[i] < 0 || vid[i] >= mesh->npts) return 0;
  // The plane of the loop vertices, each counted once, in point order.
  std::copy(vid, vid + total, points);
  std::sort(points, points + total);
  const int m = static_cast<int>(std::unique(points, points + total) - points);
  for (int i = 0; i < m; ++i) fx[i] = mesh->x[points[i]], fy[i] = mesh->y[points[i]], fz[i] = mesh->z[points[i]];
  Xform M;
  if (!BestPlaneTransform(m, fx, fy, fz, M)) return 0;
  for (long i = 0; i < total; ++i) {
    double p[3], q[3];
    GetCldPoint(mesh, vid[i], p);
    VecTrans3(p, M, q);
    vx[i] = q[0], vy[i] = q[1];
  }
  for (int l = 0; l < nloops; ++l) {
    int reversed = 0;
    SetCounterClock2DPoly(counts[l], idx[l], X[l], Y[l], &reversed);
  }
  const CapLoops s{counts, idx, X, Y};
  int ngroups = 0;
  if (!CapLoopSet(nloops, s, count, tri, room, groups, &ngroups)) return 0;
  return OrientCapsLikeMesh(mesh, s, groups, ngroups, *count, tri) &&
                 MendUnsoundCaps(mesh, edges, nloops, loopHeads, s, groups, ngroups, *count, tri, folded)
             ? 1
             : 0;
}

}  // namespace

int CapModel(Cloud* mesh, int32_t* edges, int nloops, IndexNode* const* loopHeads) {
  if (!mesh || !edges || nloops < 1 || !loopHeads || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  MakeEdgeVertsConsistent(edges, loopHeads, nloops);
  long total = 0;
  for (int l = 0; l < nloops; ++l) {
    const IndexNode* last = nullptr;
    for (const IndexNode* e = loopHeads[l]; e; e = e->next) ++total, last = e;
    if (last && edges[2 * last->index + 1] != edges[2 * loopHeads[l]->index]) ++total;
  }
  // Each outer loop with h holes gives (its vertices + theirs + 2h - 2) triangles: the room has
  // no slack beyond the 2 per loop, and the capper refuses rather than overrun it.
  const long room = total + 2L * nloops;
  // At the caller's level, as the mesh's own triangle array grows there.
  Owned<int, Free> tri(MallocArray<int>(3, room));
  if (!tri) return 0;
  int count = 0;
  bool folded = false;
  if (!CapMeshLoops(mesh, edges, nloops, loopHeads, total, room, &count, tri.get(), &folded)) return 0;
  if (!ReallocCldPolyList(mesh, mesh->ntri + count)) return 0;
  for (int t = 0; t < count; ++t) {
    CloudTriangle& c = mesh->tri[mesh->ntri + t];
    for (int k = 0; k < 3; ++k) c.v[k] = tri[3 * t + k];
    MakeCldPolyPlane(mesh, &c);
  }
  mesh->ntri += count;
  if (folded) SetKernelError(-2);
  return 1;
}

int SpecCapPolys(const float* x, const float* y, const float* z, int k, IndexNode* const* loopHeads,
                 const Xform xform, int* count, int* tri) {
  if (!x || !y || !z || k < 1 || !loopHeads || !count || !tri) return 0;
  TrackingScope scope;
  int* counts = MallocArray<int>(k);
  int** idx = MallocArray<int*>(k);
  double** X = MallocArray<double*>(k);
  double** Y = MallocArray<double*>(k);
  if (!counts || !idx || !X || !Y) return 0;
  for (int l = 0; l < k; ++l) {
    int n = 0;
    for (const IndexNode* e = loopHeads[l]; e; e = e->next) ++n;
    counts[l] = n;
    idx[l] = MallocArray<int>(n);
    X[l] = MallocArray<double>(n);
    Y[l] = MallocArray<double>(n);
    if (n > 0 && (!idx[l] || !X[l] || !Y[l])) return 0;
    n = 0;
    for (const IndexNode* e = loopHeads[l]; e; e = e->next, ++n) {
      const int i = e->index;
      const double p[3] = {x[i], y[i], z[i]};
      double q[3];
      VecTrans3(p, xform, q);
      idx[l][n] = i, X[l][n] = q[0], Y[l][n] = q[1];
    }
    int reversed = 0;
    SetCounterClock2DPoly(n, idx[l], X[l], Y[l], &reversed);
  }
  *count = 0;
  return CreateCapPolysRecursive(k, counts, idx, X, Y, count, tri);
}

int CapModelBySplitting(const Cloud* mesh, const int* idx, int n, int* count, int* tri) {
  if (!mesh || !idx || n < 3 || !count || !tri) return 0;
  for (int i = 0; i < n; ++i)
    if (idx[i] < 0 || idx[i] >= mesh->npts) return 0;
  *count = 0;
  if (n == 3) {
    WriteTriangle(idx[0], idx[1], idx[2], count, tri);
    return 1;
  }
  auto point = [&](int i, double p[3]) { GetCldPoint(mesh, idx[i], p); };
  // The two sharpest turns by the signed squared cosine between a vertex's edges (-1 for a full
  // turn back, 1 for straight on); vertex 0 is not looked at.
  int c1 = -1, c2 = -1;
  double v1 = HUGE_VAL, v2 = HUGE_VAL;
  for (int i = 1; i < n; ++i) {
    double p0[3], p1[3], p2[3], a[3], b[3];
    point(i - 1, p0), point(i, p1), point(i + 1 < n ? i + 1 : 0, p2);
    VecDiff3(p1, p0, a);
    VecDiff3(p2, p1, b);
    const double aa = VecDotProd3(a, a), bb = VecDotProd3(b, b), ab = VecDotProd3(a, b);
    if (aa * bb < 1e-10) continue;
    const double value = (ab < 0.0 ? -1.0 : 1.0) * ab * ab / (aa * bb);
    if (value < v1) {
      v2 = v1, c2 = c1;
      v1 = value, c1 = i;
    } else if (value < v2) {
      v2 = value, c2 = i;
    }
  }
  if (c2 < 0 || v2 > 0.5 || std::abs(c1 - c2) == 1) {
    c1 = 0, c2 = n - 1;  // no split
  } else if (c1 > c2) {
    std::swap(c1, c2);
  }
  TrackingScope scope;
  int* pid = MallocArray<int>(n);
  double* px = MallocArray<double>(n);
  double* py = MallocArray<double>(n);
  double* pz = MallocArray<double>(n);
  float* fx = MallocArray<float>(n);
  float* fy = MallocArray<float>(n);
  float* fz = MallocArray<float>(n);
  if (!pid || !px || !py || !pz || !fx || !fy || !fz) return 0;
  // Piece A is the run c1..c2, piece B the run 0..c1 followed by c2..n-1.
  auto piece = [&](int m, auto at) {
    for (int j = 0; j < m; ++j) {
      const int i = at(j);
      double p[3];
      point(i, p);
      pid[j] = idx[i], px[j] = p[0], py[j] = p[1], pz[j] = p[2];
      fx[j] = static_cast<float>(p[0]), fy[j] = static_cast<float>(p[1]), fz[j] = static_cast<float>(p[2]);
    }
    Xform M;
    if (!BestPlaneTransform(m, fx, fy, fz, M)) return 0;
    Transform3DArrays(px, py, pz, m, M);
    return BreakPoly3DToTriangle(m, pid, px, py, pz, count, tri);
  };
  if (!piece(c2 - c1 + 1, [&](int j) { return c1 + j; })) return 0;
  const int mB = n - c2 + c1 + 1;
  if (mB > 2 && !piece(mB, [&](int j) { return j <= c1 ? j : c2 + j - c1 - 1; })) return 0;
  return 1;
}

// ---- Closing between two loops ------------------------------------------------------------------

namespace {

// One span pair's strip: from the longer span L (loop 0 on a tie) and the other O, triangles
// (L[i], L[i+1], O[j]) and, while O has vertices left, (O[j], O[j+1], L[i]); emit returns false
// to stop.
template <class Emit>
bool ZigzagStrip(int* const* loops, const int* span0, const int* span1, Emit emit) {
  const int size0 = span0[1] - span0[0] + 1, size1 = span1[1] - span1[0] + 1;
  const bool zeroIsLong = size0 >= size1;
  const int* L = zeroIsLong ? loops[0] : loops[1];
  const int* O = zeroIsLong ? loops[1] : loops[0];
  const int* ls = zeroIsLong ? span0 : span1;
  const int* os = zeroIsLong ? span1 : span0;
  for (int i = ls[0], j = os[0]; i < ls[1] && j <= os[1];) {
    if (!emit(L[i], L[i + 1], O[j])) return false;
    ++i;
    if (j != os[1]) {
      if (!emit(O[j], O[j + 1], L[i])) return false;
      ++j;
    }
  }
  return true;
}

// The plug: both loops lifted, capped and joined by the strips, in plug numbers (every vertex of
// loop 0, then every vertex of loop 1).
Cloud* MakePlug(const Cloud* mesh, int* const* loops, int* const* spans, int spanCount, const int* sizes) {
  TrackingScope scope;
  const int n0 = sizes[0], n1 = sizes[1], nv = n0 + n1;
  long room = n0 + n1 - 4;
  for (int k = 0; k < spanCount; ++k)
    room += spans[0][2 * k + 1] - spans[0][2 * k] + spans[1][2 * k + 1] - spans[1][2 * k];
  float* verts = MallocArray<float>(3, nv);
  int* plugOf = MallocArray<int>(mesh->npts);
  int* number = MallocArray<int>(nv);
  double* x = MallocArray<double>(nv);
  double* y = MallocArray<double>(nv);
  double* z = MallocArray<double>(nv);
  int* tri = MallocArray<int>(3, std::max(room, 1L));
  if (!verts || !plugOf || !number || !x || !y || !z || !tri) return nullptr;
  double p0[3], p1[3];
  GetCldPoint(mesh, loops[0][0], p0);
  GetCldPoint(mesh, loops[1][0], p1);
  const double lift = 1.5 * VecDist3(p0, p1);
  for (int i = 0; i < nv; ++i) {
    const int v = i < n0 ? loops[0][i] : loops[1][i - n0];
    double p[3];
    GetCldPoint(mesh, v, p);
    p[2] += lift;
    number[i] = i, x[i] = p[0], y[i] = p[1], z[i] = p[2];
    for (int k = 0; k < 3; ++k) verts[3 * i + k] = static_cast<float>(p[k]);
    plugOf[v] = i;  // a vertex of both loops keeps its loop-1 number
  }
  int count = 0;
  if (!BreakPoly3DToTriangleToo(n0, number, x, y, z, &count, tri)) return nullptr;
  if (!BreakPoly3DToTriangleToo(n1, number + n0, x + n0, y + n0, z + n0, &count, tri)) return nullptr;
  for (int k = 0; k < spanCount; ++k)
    ZigzagStrip(loops, spans[0] + 2 * k, spans[1] + 2 * k, [&](int a, int b, int c) {
      int* t = tri + 3L * count++;
      t[0] = plugOf[a], t[1] = plugOf[b], t[2] = plugOf[c];
      return true;
    });
  Bbox box;
  Cloud* plug = MakePolyCld(count, tri, 3 * count, verts, nv, box);
  if (plug && KernelFailed()) {
    FreeCloud(plug);  // a cloud that lost its triangles is no plug
    return nullptr;
  }
  return plug;
}

}  // namespace

Cloud* CreatePlugForHole(Cloud* mesh, int** loops, int** spans, int spanCount, int* loopSizes, int* triangleRoom,
                         short* flags) {
  static_cast<void>(flags);  // the plug's box would land in it: the box goes to a local instead
  if (!mesh || !loops || !loops[0] || !loops[1] || !loopSizes || !triangleRoom || spanCount < 0) return nullptr;
  if (spanCount > 0 && (!spans || !spans[0] || !spans[1])) return nullptr;
  const int sizes[2] = {loopSizes[0], loopSizes[1]};
  for (int side = 0; side < 2; ++side) {
    if (sizes[side] < 1) return nullptr;
    for (int i = 0; i < sizes[side]; ++i)
      if (loops[side][i] < 0 || loops[side][i] >= mesh->npts) return nullptr;
    for (int k = 0; k < spanCount; ++k) {
      const int start = spans[side][2 * k], end = spans[side][2 * k + 1];
      if (start < 0 || end < start || end >= sizes[side]) return nullptr;
    }
  }
  Owned<Cloud, FreeCloud> plug(MakePlug(mesh, loops, spans, spanCount, sizes));
  if (!plug) return nullptr;
  // The strips go into the mesh at the caller's level, as its triangle array grows there.
  auto append = [&](int a, int b, int c) {
    if (mesh->ntri + 2 >= *triangleRoom) {
      long room = std::max(*triangleRoom, 1);
      while (mesh->ntri + 2 >= room) room *= 2;
      if (room > std::numeric_limits<int>::max() || !ReallocCldPolyList(mesh, static_cast<int>(room))) return false;
      *triangleRoom = static_cast<int>(room);
    }
    CloudTriangle& t = mesh->tri[mesh->ntri];
    t.v[0] = a, t.v[1] = b, t.v[2] = c;
    MakeCldPolyPlane(mesh, &t);
    ++mesh->ntri;
    return true;
  };
  for (int k = 0; k < spanCount; ++k) {
    loopSizes[0] = spans[0][2 * k + 1] - spans[0][2 * k] + 1;
    loopSizes[1] = spans[1][2 * k + 1] - spans[1][2 * k] + 1;
    if (!ZigzagStrip(loops, spans[0] + 2 * k, spans[1] + 2 * k, append)) return nullptr;
  }
  return plug.release();
}

// ---- Caps with dowel sockets --------------------------------------------------------------------

void GetDowellCoords(double size, double cx, double cy, double xs[4], double ys[4]) {
  const double h = size / 2;
  xs[0] = cx - h, ys[0] = cy - h;
  xs[1] = cx + h, ys[1] = cy - h;
  xs[2] = cx + h, ys[2] = cy + h;
  xs[3] = cx - h, ys[3] = cy + h;
}

namespace {

int OtherEnd(const int32_t* edges, int e, int v) { return edges[2 * e] == v ? edges[2 * e + 1] : edges[2 * e]; }

// The boundary edges between listed vertices and what the walks need of them.
struct ListedEdges {
  const int32_t* edges;
  IndexNode* const* at;   // vertex-to-edge lists
  unsigned char* marked;  // per edge: not yet walked
  int* count;             // per vertex: marked edges
  int* visited;           // branch vertices of one search, room `room`, doubled when full
  int nvisited;
  int room;
};

void Unmark(ListedEdges& g, int e) {
  g.marked[e] = 0;
  --g.count[g.edges[2 * e]];
  --g.count[g.edges[2 * e + 1]];
}

bool Visited(const ListedEdges& g, int v) { return std::find(g.visited, g.visited + g.nvisited, v) != g.visited + g.nvisited; }

bool Visit(ListedEdges& g, int v) {
  if (g.nvisited == g.room) {
    int* grown = ReallocArray(g.visited, 2L * g.room);
    if (!grown) return false;
    g.visited = grown, g.room *= 2;
  }
  g.visited[g.nvisited++] = v;
  return true;
}

// The marked edge of `from` to go on along so as to reach target: each of from's marked edges is
// followed through vertices with one other marked edge; a visited vertex sends the search to
// from's next edge, target answers, a dead end fails the whole search, and a branch vertex is
// visited and searched in turn, its answer being the way on. -1 for no answer. The depth is at
// most the number of branch vertices.
int ExistsPathExclude(int from, int target, ListedEdges& g) {
  for (const IndexNode* n = g.at[from]; n; n = n->next) {
    const int first = n->index;
    if (!g.marked[first]) continue;
    int e = first, v = from;
    for (;;) {
      const int u = OtherEnd(g.edges, e, v);
      if (Visited(g, u)) break;
      if (u == target) return first;
      int next = -1, others = 0;
      for (const IndexNode* m = g.at[u]; m; m = m->next)
        if (g.marked[m->index] && m->index != e && others++ == 0) next = m->index;
      if (others == 0) return -1;
      if (others > 1) {
        if (!Visit(g, u)) return -1;
        next = ExistsPathExclude(u, target, g);
        if (next < 0) return -1;
      }
      e = next, v = u;
    }
  }
  return -1;
}

// Walks the loops of edges between listed vertices into loopEdges (loop l is loopEdges[start[l]
// .. start[l + 1])); false for an odd count, a branch with no way back or no memory.
bool WalkListedLoops(const Cloud* mesh, const int32_t* edges, int nedges, IndexNode* const* at, int vertexCount,
                     const int* vertices, int* loopEdges, int* start, int* nloops) {
  unsigned char* flagged = CallocArray<unsigned char>(mesh->npts);
  ListedEdges g{edges, at, CallocArray<unsigned char>(nedges), CallocArray<int>(mesh->npts), MallocArray<int>(20), 0,
                20};
  if (!flagged || !g.marked || !g.count || !g.visited) return false;
  for (int i = 0; i < vertexCount; ++i) flagged[vertices[i]] = 1;
  for (int e = 0; e < nedges; ++e) {
    const int a = edges[2 * e], b = edges[2 * e + 1];
    if (a == b || !flagged[a] || !flagged[b]) continue;
    g.marked[e] = 1;
    ++g.count[a], ++g.count[b];
  }
  for (int i = 0; i < vertexCount; ++i)
    if (g.count[vertices[i]] % 2) return false;
  int used = 0;
  *nloops = 0;
  for (int i = 0; i < vertexCount; ++i) {
    const int s = vertices[i];
    if (!flagged[s]) continue;
    for (int times = g.count[s] / 2; times > 0; --times) {
      int e = -1;
      for (const IndexNode* n = at[s]; n && e < 0; n = n->next)
        if (g.marked[n->index]) e = n->index;
      if (e < 0) break;
      start[(*nloops)++] = used;
      Unmark(g, e);
      loopEdges[used++] = e;
      for (int w = OtherEnd(edges, e, s); w != s; w = OtherEnd(edges, e, w)) {
        if (g.count[w] == 1) {
          e = -1;
          for (const IndexNode* n = at[w]; n && e < 0; n = n->next)
            if (g.marked[n->index]) e = n->index;
          flagged[w] = 0;
        } else {
          g.nvisited = 0;
          if (!Visit(g, w)) return false;
          e = ExistsPathExclude(w, s, g);
          if (e < 0) return false;
        }
        Unmark(g, e);
        loopEdges[used++] = e;
      }
    }
  }
  start[*nloops] = used;
  return true;
}

// Appends a point at frame (fx, fy, fz), mapped back to world; its normal (-1, -1, -1) and other
// data were set when the arrays grew.
int AppendFramePoint(Cloud* mesh, const Xform frameToWorld, double fx, double fy, double fz) {
  const double p[3] = {fx, fy, fz};
  double q[3];
  VecTrans3(p, frameToWorld, q);
  const int i = mesh->npts++;
  mesh->x[i] = static_cast<float>(q[0]), mesh->y[i] = static_cast<float>(q[1]), mesh->z[i] = static_cast<float>(q[2]);
  return i;
}

// The bottom of a socket whose top corners are the points top[4]: the square of 0.9 its size about
// the top's centre, `size` below or above the top level (sense +1 along the cap direction when
// depthSense is set or the positions were frame ones, else -1), appended as points.
void GetDowellCoordsWTaper(Cloud* mesh, double size, const int top[4], int bottom[4], const void* positionsInWorld,
                           int depthSense, const Xform worldToFrame, const Xform frameToWorld) {
  double cx = 0.0, cy = 0.0, level = 0.0;
  for (int k = 0; k < 4; ++k) {
    double p[3], q[3];
    GetCldPoint(mesh, top[k], p);
    VecTrans3(p, worldToFrame, q);
    cx += q[0] / 4, cy += q[1] / 4, level = q[2];
  }
  const double sense = depthSense || !positionsInWorld ? 1.0 : -1.0;
  double xs[4], ys[4];
  GetDowellCoords(0.9 * size, cx, cy, xs, ys);
  for (int k = 0; k < 4; ++k) bottom[k] = AppendFramePoint(mesh, frameToWorld, xs[k], ys[k], level + sense * size);
}

void AppendTriangle(Cloud* mesh, int a, int b, int c) {
  CloudTriangle& t = mesh->tri[mesh->ntri++];
  t.v[0] = a, t.v[1] = b, t.v[2] = c;
  MakeCldPolyPlane(mesh, &t);
}

}  // namespace

int STLPolygonCap(Cloud* mesh, double dirX, double dirY, double dirZ, double w, int vertexCount, const int* vertices,
                  const int* dowelCount, const double* dowelSizes, const void* positionsInWorld, int depthSense,
                  double* dowelPositions) {
  static_cast<void>(w);  // never read
  if (!mesh || mesh->ntri < 1 || !mesh->tri || vertexCount < 0 || (vertexCount > 0 && !vertices) ||
      !MeshCornersNamePoints(mesh, nullptr))
    return 0;
  const int nd = dowelCount ? *dowelCount : 0;
  if (nd < 0 || (nd > 0 && (!dowelSizes || !dowelPositions))) return 0;
  for (int i = 0; i < vertexCount; ++i)
    if (vertices[i] < 0 || vertices[i] >= mesh->npts) return 0;
  if (8L * nd > std::numeric_limits<int>::max() - mesh->npts) return 0;
  if (!ReallocCldXYZArrays(mesh, mesh->npts + 8 * nd)) return 0;
  TrackingScope scope;
  int32_t* edgeBlock = nullptr;
  int32_t** corners = nullptr;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, &edgeBlock, &corners, &nedges)) return 0;
  Owned<int32_t, Free> edges(edgeBlock);
  Owned<int32_t*, Free> cornerEdges(corners);
  IndexNode** at = MallocArray<IndexNode*>(mesh->npts);
  IndexNode* atNodes = MallocArray<IndexNode>(2, nedges);
  int* loopEdges = MallocArray<int>(nedges);
  int* start = MallocArray<int>(nedges + 1);
  if (!at || !atNodes || !loopEdges || !start) return 0;
  MakeEdgePointers(mesh, edges.get(), nedges, at, atNodes);
  int nloops = 0;
  if (!WalkListedLoops(mesh, edges.get(), nedges, at, vertexCount, vertices, loopEdges, start, &nloops)) return 0;

  Xform M, back;
  const double origin[3] = {0.0, 0.0, 0.0}, direction[3] = {dirX, dirY, dirZ};
  TransformToZAxis(origin, direction, M);
  if (mat_inverse4(M, back) != 0) return 0;
  // Per loop its vertices in frame x and y: each loop starts at the end of its first edge that
  // the second does not share; then the dowel squares, four points each.
  const int k = nloops + nd;
  const long total = start[nloops] + 4L * nd;
  int* counts = MallocArray<int>(k);
  const int** idx = MallocArray<const int*>(k);
  const double** X = MallocArray<const double*>(k);
  const double** Y = MallocArray<const double*>(k);
  int* vid = MallocArray<int>(total);
  double* vx = MallocArray<double>(total);
  double* vy = MallocArray<double>(total);
  int* sockets = MallocArray<int>(4L * nd + 1);  // each socket's top corners as appended
  if (!counts || !idx || !X || !Y || !vid || !vx || !vy || !sockets) return 0;
  double level = 0.0;
  long used = 0;
  for (int l = 0; l < nloops; ++l) {
    const int* le = loopEdges + start[l];
    const int m = start[l + 1] - start[l];
    int v = edges[2 * le[0]];
    if (m > 1 && (v == edges[2 * le[1]] || v == edges[2 * le[1] + 1])) v = edges[2 * le[0] + 1];
    counts[l] = m, idx[l] = vid + used, X[l] = vx + used, Y[l] = vy + used;
    for (int j = 0; j < m; ++j) {
      double p[3], q[3];
      GetCldPoint(mesh, v, p);
      VecTrans3(p, M, q);
      vid[used] = v, vx[used] = q[0], vy[used] = q[1], level = q[2];
      ++used;
      v = OtherEnd(edges.get(), le[j], v);
    }
  }
  for (int d = 0; d < nd; ++d) {
    double* pos = dowelPositions + 3 * d;
    if (positionsInWorld) {
      double q[3];
      VecTrans3(pos, M, q);
      pos[0] = q[0], pos[1] = q[1], pos[2] = q[2];
    }
    double xs[4], ys[4];
    GetDowellCoords(dowelSizes[d], pos[0], pos[1], xs, ys);
    const int l = nloops + d;
    counts[l] = 4, idx[l] = vid + used, X[l] = vx + used, Y[l] = vy + used;
    for (int c = 0; c < 4; ++c, ++used) {
      vid[used] = sockets[4 * d + c] = AppendFramePoint(mesh, back, xs[c], ys[c], level);
      vx[used] = xs[c], vy[used] = ys[c];
    }
  }
  if (k == 0) return 1;
  for (int l = 0; l < k; ++l) {
    int reversed = 0;
    SetCounterClock2DPoly(counts[l], const_cast<int*>(idx[l]), const_cast<double*>(X[l]), const_cast<double*>(Y[l]),
                          &reversed);
  }
  // Room for the loop vertices, four per dowel and two per loop, the dowel squares counted among
  // the loops. (A vertex where two loops meet is a vertex of both: counting the listed vertices
  // instead would leave the room short there.)
  const long room = total + 2L * k;
  int* tri = MallocArray<int>(3, room);
  if (!tri) return 0;
  int count = 0;
  const CapLoops s{counts, idx, X, Y};
  int ngroups = 0;
  if (!CapLoopSet(k, s, &count, tri, room, nullptr, &ngroups)) return 0;
  if (count == 0) return 1;
  if (10L * nd + count > std::numeric_limits<int>::max() - mesh->ntri) return 0;
  if (!ReallocCldPolyList(mesh, mesh->ntri + count + 10 * nd)) return 0;
  for (int t = 0; t < count; ++t) AppendTriangle(mesh, tri[3 * t], tri[3 * t + 1], tri[3 * t + 2]);
  for (int d = 0; d < nd; ++d) {
    int t[5], b[5];
    std::copy(sockets + 4 * d, sockets + 4 * d + 4, t);
    GetDowellCoordsWTaper(mesh, dowelSizes[d], t, b, positionsInWorld, depthSense, M, back);
    t[4] = t[0], b[4] = b[0];
    for (int c = 1; c <= 4; ++c) {
      AppendTriangle(mesh, t[c - 1], t[c], b[c - 1]);
      AppendTriangle(mesh, t[c], b[c], b[c - 1]);
    }
    AppendTriangle(mesh, b[0], b[1], b[2]);
    AppendTriangle(mesh, b[0], b[2], b[3]);
  }
  return CloudSetSomeNormVerts(mesh) ? 1 : 0;
}
