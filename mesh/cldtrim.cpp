#include "mesh/cldtrim.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "cloud/psubdiv.h"
#include "curve/crvutil.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "mesh/cldpoly.h"
#include "mesh/pgr2cld.h"
#include "mesh/trianum.h"
#include "platform/tstubs.h"

namespace {

// Resizes a caller's array in place of the field: a refused size leaves the field's block.
template <class T>
bool Resize(T*& field, int n) {
  T* moved = ReallocArray(field, n);
  if (!moved) return false;
  field = moved;
  return true;
}

}  // namespace

int ReallocCldXYZArrays(Cloud* mesh, int n) {
  if (!mesh || n < mesh->npts) return 0;
  if (n == 0) return 1;
  const int old = mesh->npts;
  TrackingScope scope;
  if (!Resize(mesh->x, n) || !Resize(mesh->y, n) || !Resize(mesh->z, n)) return 0;
  // Absent normals are made in the scope and enter the mesh only once every resize succeeded, so
  // a failure frees them without touching the mesh.
  const bool made = !mesh->nx;
  float* normals[3] = {nullptr, nullptr, nullptr};
  if (made) {
    for (float*& a : normals)
      if (!(a = MallocArray<float>(n))) return 0;
  } else if (!Resize(mesh->nx, n) || !Resize(mesh->ny, n) || !Resize(mesh->nz, n)) {
    return 0;
  }
  for (float*& c : mesh->colour)
    if (c && !Resize(c, n)) return 0;
  if (mesh->reliability && !Resize(mesh->reliability, n)) return 0;
  scope.keep();
  if (made) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < old; ++j) normals[i][j] = -1.0f;
    mesh->nx = normals[0];
    mesh->ny = normals[1];
    mesh->nz = normals[2];
  }
  for (int j = old; j < n; ++j) {
    mesh->nx[j] = mesh->ny[j] = mesh->nz[j] = -1.0f;
    for (float* c : mesh->colour)
      if (c) c[j] = 0.33f;
    if (mesh->reliability) mesh->reliability[j] = 0;
  }
  return 1;
}

int ReallocCldPolyList(Cloud* mesh, int n) {
  if (!mesh || n < mesh->ntri) return 0;
  if (n == 0) {
    FreeAndNull(mesh->tri);
    return 1;
  }
  return Resize(mesh->tri, n) ? 1 : 0;
}

// ---- Trimming to a curve --------------------------------------------------------------------------

namespace {

// The refiners' step output when the tangent vanishes (or the curve is refused before a step).

// Closest curve points of the vertices looked at while trimming: record slot[v] (-1: none yet)
// holds three doubles; room starts at five records per loop edge and doubles when full.
struct ClosestPointCache {
  int* slot = nullptr;
  double* pts = nullptr;
  int n = 0;
  int room = 0;

  bool Init(int npts, int loopCount) {
    slot = MallocArray<int>(npts);
    room = std::max(5 * loopCount, 8);
    pts = MallocArray<double>(room, 3);
    if (!slot || !pts) return false;
    std::fill(slot, slot + npts, -1);
    return true;
  }
  // The closest curve point of vertex v, computed on first use; null on failure.
  const double* Get(const Cloud* mesh, int v, Bspline* curve, CurveSampleCache* samples) {
    if (slot[v] >= 0) return pts + 3 * slot[v];
    if (n == room) {
      double* grown = ReallocArray(pts, 2 * room, 3);
      if (!grown) return nullptr;
      pts = grown;
      room *= 2;
    }
    double p[3];
    GetCldPoint(mesh, v, p);
    if (!GetClosestCurvePoint(curve, p, samples, pts + 3 * n, nullptr)) return nullptr;
    slot[v] = n++;
    return pts + 3 * slot[v];
  }
};

// 1 when a triangle other than t whose flag is not 1 holds v.
bool HeldByAnotherLiveTriangle(IndexNode* const* heads, int v, int t, const int* triFlags) {
  for (const IndexNode* n = heads[v]; n; n = n->next)
    if (n->index != t && triFlags[n->index] != 1) return true;
  return false;
}

void RemoveAt(int* array, int position, int* n) {
  std::memmove(array + position, array + position + 1, sizeof(int) * (*n - position - 1));
  --*n;
}

}  // namespace

int GetClosestCurvePoint(Bspline* curve, const double p[3], CurveSampleCache* cache, double closest[3],
                         double* parameter) {
  if (!curve || !cache || (curve->dimension != 3 && curve->dimension != 2)) return 0;
  double t = 0.0, C[3];
  if (cache->Estimate(curve, p, &t, C) != 0) return 0;
  double distSq = 0.0, stepSq = kNoValue;
  const int r = curve->dimension == 3
                    ? FindClosestPointCurve3(curve, p, C, curve->umin, curve->umax, &t, &distSq, &stepSq, 7)
                    : FindClosestPointCurveOnSurf(curve, p, C, curve->umin, curve->umax, &t, &distSq, &stepSq, 7);
  // The refiners answer -2 also when seven iterations do not settle or the foot is held at an
  // end of the domain; their point is still the best at hand. Only a vanishing tangent (or a
  // refused curve, which writes no step) leaves nothing to use.
  if (r != 0 && !(stepSq < kNoValue)) return 0;
  for (int k = 0; k < 3; ++k) closest[k] = C[k];
  if (parameter) *parameter = t;
  return 1;
}

namespace {

// The area vector of a loop of points: the sum over its spans a -> b (Newell).
void AddNewellTerm(const double a[3], const double b[3], double normal[3]) {
  normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
  normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
  normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
}

// Unit axes u, w of the plane across normal, right-handed with it: a loop turning
// counter-clockwise about normal runs counter-clockwise in (u, w). false for a zero normal.
bool PlaneAxes(const double normal[3], double u[3], double w[3]) {
  const double size = std::sqrt(VecDotProd3(normal, normal));
  if (!(size > 0)) return false;
  const double nn[3] = {normal[0] / size, normal[1] / size, normal[2] / size};
  const double other[3] = {std::fabs(nn[0]) < 0.6 ? 1.0 : 0.0, std::fabs(nn[0]) < 0.6 ? 0.0 : 1.0, 0.0};
  VecCrossProd3(nn, other, u);
  const double lu = std::sqrt(VecDotProd3(u, u));
  for (int k = 0; k < 3; ++k) u[k] /= lu;
  VecCrossProd3(nn, u, w);
  return true;
}

// The distance of (x, y) from the polygon of n points (closed by its first).
double GapToPolygon(double x, double y, int n, const double* xs, const double* ys) {
  double gap = HUGE_VAL;
  for (int k = 0; k < n; ++k) {
    const double a[2] = {xs[k], ys[k]}, b[2] = {xs[(k + 1) % n], ys[(k + 1) % n]}, q[2] = {x, y};
    double foot[2], d2, s;
    LineSegPnt2DMinDistSq(q, a, b, foot, &d2, &s);
    gap = std::min(gap, d2);
  }
  return std::sqrt(gap);
}

// How far past the curve, as a share of the loop's longest span, a kept point may lie: the
// closest point of a polyline curve's corner or of a curve refined in a few steps may miss the
// true one by a little.
constexpr double kBeyondShare = 1e-3;

// Whether the trim would keep mesh beyond the curve: the loop's nv ordered vertices, placed on
// their closest curve points, bound on their mean plane the region the kept triangles lie on (the
// side their triangles on the loop lie, inside or outside). A kept point that is not on the loop
// and lies on the other side stays beyond the curve where its closest curve point lies nearer
// the region than it does, by more than kBeyondShare of the loop's longest span: a point between
// a span and the arc it cuts off has the arc farther out, one beyond the curve (or beyond the
// chord that closes an open curve's ends) has the curve between it and the region. Where the
// curve runs through triangles too large to peel, no loop vertex is near enough to it to go.
// Triangles with a held point (fixedPoints) are passed over. A loop without area bounds no
// region: every kept point off it must then lie on the curve. 1 beyond, 0 not, -1 when memory
// runs out or a closest point fails.
int KeptBeyondLoop(const Cloud* mesh, IndexNode* const* heads, const int* verts, int nv, ClosestPointCache& closest,
                   Bspline* curve, CurveSampleCache* samples, const int* pointFlags, const int* triFlags,
                   const int* fixedPoints) {
  TrackingScope scope;
  double* xs = MallocArray<double>(std::max(nv, 1));
  double* ys = MallocArray<double>(std::max(nv, 1));
  unsigned char* onLoop = CallocArray<unsigned char>(mesh->npts);
  if (!xs || !ys || !onLoop) return -1;
  auto at = [&](int k) { return closest.pts + 3 * closest.slot[verts[k]]; };
  double normal[3] = {0, 0, 0}, longest = 0;
  for (int k = 0; k < nv; ++k) {
    const double *a = at(k), *b = at((k + 1) % nv);
    AddNewellTerm(a, b, normal);
    longest = std::max(longest, VecDist3(a, b));
    onLoop[verts[k]] = 1;
  }
  // The kept triangles, bar those with a held point (they stay as the caller asked, wherever
  // they lie).
  auto judged = [&](int t) {
    const int32_t* c = mesh->tri[t].v;
    return !triFlags[t] && !(fixedPoints && (fixedPoints[c[0]] == 1 || fixedPoints[c[1]] == 1 || fixedPoints[c[2]] == 1));
  };
  const double size = std::sqrt(VecDotProd3(normal, normal));
  double u[3], w[3];
  if (nv < 3 || !(size > 1e-9 * longest * longest) || !PlaneAxes(normal, u, w)) {
    // The loop on the curve bounds nothing (an open curve draws it onto one arc): a kept point
    // off the loop stays beyond the curve unless it lies on it, within kBeyondShare of the
    // mesh's size.
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (int i = 0; i < mesh->npts; ++i) {
      double p[3];
      GetCldPoint(mesh, i, p);
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    }
    const double reach = kBeyondShare * VecDist3(lo, hi);
    for (int t = 0; t < mesh->ntri; ++t) {
      if (!judged(t)) continue;
      for (int32_t v : mesh->tri[t].v) {
        if (onLoop[v] || pointFlags[v]) continue;
        const double* onCurve = closest.Get(mesh, v, curve, samples);
        if (!onCurve) return -1;
        double p[3];
        GetCldPoint(mesh, v, p);
        if (VecDist3(p, onCurve) > reach) return 1;
      }
    }
    return 0;
  }
  for (int k = 0; k < nv; ++k) xs[k] = VecDotProd3(at(k), u), ys[k] = VecDotProd3(at(k), w);
  // Which side the kept triangles on the loop lie: left of the loop's way (inside) or right.
  int inside = 0;
  for (int k = 0; k < nv; ++k) {
    int T = -1;
    if (!FindPolyWithOutsideVerts(mesh, heads, verts[k], verts[(k + 1) % nv], triFlags, &T)) continue;
    for (int32_t c : mesh->tri[T].v) {
      if (c == verts[k] || c == verts[(k + 1) % nv]) continue;
      double p[3];
      GetCldPoint(mesh, c, p);
      const double* q = onLoop[c] ? closest.pts + 3 * closest.slot[c] : p;
      const double px = VecDotProd3(q, u) - xs[k], py = VecDotProd3(q, w) - ys[k];
      const double ex = xs[(k + 1) % nv] - xs[k], ey = ys[(k + 1) % nv] - ys[k];
      inside += ex * py - ey * px > 0 ? 1 : -1;
    }
  }
  for (int t = 0; t < mesh->ntri; ++t) {
    if (!judged(t)) continue;
    const int32_t* c = mesh->tri[t].v;
    for (int k = 0; k < 3; ++k) {
      const int v = c[k];
      if (onLoop[v] || pointFlags[v]) continue;
      double p[3];
      GetCldPoint(mesh, v, p);
      const double x = VecDotProd3(p, u), y = VecDotProd3(p, w);
      if ((IsPointInPoly2D(x, y, nv, xs, ys) == 1) == (inside >= 0)) continue;
      // On the wrong side: beyond the curve unless its closest curve point lies as far out.
      const double* onCurve = closest.Get(mesh, v, curve, samples);
      if (!onCurve) return -1;
      const double cx = VecDotProd3(onCurve, u), cy = VecDotProd3(onCurve, w);
      const bool cOut = (IsPointInPoly2D(cx, cy, nv, xs, ys) == 1) != (inside >= 0);
      const double out = cOut ? GapToPolygon(cx, cy, nv, xs, ys) : 0.0;
      if (GapToPolygon(x, y, nv, xs, ys) > out + kBeyondShare * longest) return 1;
    }
  }
  return 0;
}

// ---- Cutting triangles too large to peel ------------------------------------------------------
//
// Method: the closed curve becomes a polyline that follows it within a chord tolerance; the mesh
// is seen along the polyline's mean plane, on a copy in the curve's unit frame. The polyline's
// first point is put into the triangle it lies over (the nearest in space where several do), and
// each span is then threaded from triangle to triangle: from the span's start vertex the
// triangle whose corner wedge holds the span's direction is found by turning round the vertex,
// and the span either ends in it (the triangle, or the edge the end lies on, is split there) or
// leaves it across the far edge (that edge and the triangle beyond are split at the crossing, and
// the walk goes on from the new vertex). Points within a snap distance of a vertex or an edge are
// taken as on it. The spans so become a closed chain of mesh edges; every triangle reached from
// the given loop without crossing the chain goes, the rest stays. The mesh is written only once
// the cut is whole.

// Chord tolerance of the polyline relative to the curve's size; a subdivision tolerance given
// tightens it, down to kCutFinestChord (which bounds the number of spans).
constexpr double kCutChord = 1e-3;
constexpr double kCutFinestChord = 1e-6;
// Starting parameter intervals per knot span, so that the midpoint test meets no interval whose
// ends and middle lie on one line while it bends between (a quadratic span of a circle turns up
// to half a turn), and bisections of one at most.
constexpr int kCutIntervalsPerSpan = 4;
constexpr int kCutMostBisections = 24;
// Points closer than this (relative to the curve's size) are one point, and no less than a few
// float spacings of the coordinates, so new points stay apart once written as floats.
constexpr double kCutSnap = 1e-7;
constexpr double kCutFloatSpacings = 8.0 * 0x1p-24;

enum CutResult {
  kCutDone = 0,
  kCutNoMemory,
  kCutOpenCurve,
  kCutNoArea,
  kCutNoCurvePoint,
  kCutLeavesMesh,
  kCutFold,
  kCutBranchedEdge,
  kCutNotParted,
  kCutHeldBeyond
};

const char* const kCutReasons[] = {
    "",
    "",
    "the curve is not closed",
    "the curve bounds no area",
    "a point of the curve cannot be evaluated",
    "the curve leaves the mesh",
    "the mesh folds over along the curve, seen across the curve's plane",
    "an edge the curve crosses has more than two triangles",
    "the curve does not part the loop from the rest of the mesh",
    "points held fixed lie beyond the curve",
};

// Grows an array of `per` values an entry to room for need entries (doubling); false when
// memory runs out (the array stays as it was).
template <class T>
bool GrowTo(T*& a, int& room, int need, int per) {
  if (need <= room) return true;
  const int grown = std::max(need, 2 * room);
  T* moved = ReallocArray(a, grown, per);
  if (!moved) return false;
  a = moved;
  room = grown;
  return true;
}

// The closed curve as a polyline in model space, its last point (the first again) dropped.
struct CurvePolyline {
  double* p = nullptr;
  int n = 0, room = 0;
  Bspline* curve = nullptr;
  double tol = 0;

  bool Add(const double q[3]) {
    if (!GrowTo(p, room, n + 1, 3)) return false;
    std::copy(q, q + 3, p + 3 * n++);
    return true;
  }
  bool At(double t, double out[3]) const {
    // A refused curve leaves out as it was.
    out[0] = out[1] = out[2] = std::nan("");
    Eval3DPointOnBsplOnSurfArray(nullptr, curve, t, 0, 0, out);
    return std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]);
  }
  // Adds the points of (t0, t1], a at t0 and b at t1, bisecting while the midpoint strays from
  // the chord by more than the tolerance. kCutDone, or the failure.
  int Refine(double t0, const double a[3], double t1, const double b[3], int depth) {
    double m[3], foot[3], d2, s;
    const double tm = 0.5 * (t0 + t1);
    if (!At(tm, m)) return kCutNoCurvePoint;
    LineSegPntMinDistSq(m, a, b, foot, &d2, &s);
    if (d2 > tol * tol && depth < kCutMostBisections) {
      if (const int r = Refine(t0, a, tm, m, depth + 1)) return r;
      return Refine(tm, m, t1, b, depth + 1);
    }
    return Add(b) ? kCutDone : kCutNoMemory;
  }
};

// The polyline of a closed curve: within kCutChord of the curve's size, or within givenTol where
// that is tighter (not below kCutFinestChord of the size; givenTol <= 0 gives none).
int SampleClosedCurve(Bspline* curve, double givenTol, CurvePolyline* line) {
  line->curve = curve;
  const int intervals = kCutIntervalsPerSpan * (curve->interiorU + 1);
  const double t0 = curve->umin, span = curve->umax - curve->umin;
  if (!(span > 0)) return kCutOpenCurve;
  // The curve's size from the starting points sets the tolerance.
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, q[3];
  for (int k = 0; k <= intervals; ++k) {
    if (!line->At(t0 + span * k / intervals, q)) return kCutNoCurvePoint;
    for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], q[c]), hi[c] = std::max(hi[c], q[c]);
  }
  const double size = VecDist3(lo, hi);
  if (!(size > 0)) return kCutNoArea;
  line->tol = kCutChord * size;
  if (givenTol > 0) line->tol = std::clamp(givenTol, kCutFinestChord * size, line->tol);
  double a[3], b[3];
  if (!line->At(t0, a) || !line->Add(a)) return line->n ? kCutNoMemory : kCutNoCurvePoint;
  for (int k = 1; k <= intervals; ++k) {
    const double ta = t0 + span * (k - 1) / intervals, tb = k == intervals ? curve->umax : t0 + span * k / intervals;
    if (!line->At(ta, a) || !line->At(tb, b)) return kCutNoCurvePoint;
    if (const int r = line->Refine(ta, a, tb, b, 0)) return r;
  }
  if (VecDist3(line->p, line->p + 3 * (line->n - 1)) > kCutFinestChord * size) return kCutOpenCurve;
  --line->n;
  return line->n >= 3 ? kCutDone : kCutNoArea;
}

// The mesh being cut: points in the curve's unit frame and seen along its plane, triangles with
// the triangle across each edge, and the chain of edges the polyline has become.
struct CutMesh {
  double* pt = nullptr;  // five per point: in space, then seen along the plane
  int np = 0, pointRoom = 0;
  int* v = nullptr;   // three per triangle
  int* nb = nullptr;  // across edge (v[k], v[k + 1]): a triangle, -1 none, -2 more than one
  int nt = 0, triRoom = 0, nbRoom = 0;
  int64_t* chain = nullptr;  // (low << 32) | high vertex of each edge
  int nchain = 0, chainRoom = 0;
  double snap = 0;

  const double* P(int a) const { return pt + 5 * a + 3; }
  const double* P3(int a) const { return pt + 5 * a; }
  // (b - a) x (q - a): positive where a, b, q turn counter-clockwise.
  double Orient(const double* a, const double* b, const double* q) const {
    return (b[0] - a[0]) * (q[1] - a[1]) - (b[1] - a[1]) * (q[0] - a[0]);
  }
  bool Room(int points, int triangles) {
    return GrowTo(pt, pointRoom, np + points, 5) && GrowTo(v, triRoom, nt + triangles, 3) &&
           GrowTo(nb, nbRoom, nt + triangles, 3);
  }
  int AddPoint(const double q3[3], const double q2[2]) {
    std::copy(q3, q3 + 3, pt + 5 * np);
    std::copy(q2, q2 + 2, pt + 5 * np + 3);
    return np++;
  }
  void Set(int t, int a, int b, int c, int n0, int n1, int n2) {
    v[3 * t] = a, v[3 * t + 1] = b, v[3 * t + 2] = c;
    nb[3 * t] = n0, nb[3 * t + 1] = n1, nb[3 * t + 2] = n2;
  }
  // Triangle u's link across edge x-y now points to t.
  void Relink(int u, int x, int y, int t) {
    if (u < 0) return;
    for (int k = 0; k < 3; ++k) {
      const int a = v[3 * u + k], b = v[3 * u + (k + 1) % 3];
      if ((a == x && b == y) || (a == y && b == x)) nb[3 * u + k] = t;
    }
  }
  // Triangle t becomes three round the new point; its number, or -1 when memory runs out.
  int SplitTriangle(int t, const double q3[3], const double q2[2]) {
    if (!Room(1, 2)) return -1;
    const int w = AddPoint(q3, q2);
    const int a = v[3 * t], b = v[3 * t + 1], c = v[3 * t + 2];
    const int nab = nb[3 * t], nbc = nb[3 * t + 1], nca = nb[3 * t + 2];
    const int t1 = nt++, t2 = nt++;
    Set(t, a, b, w, nab, t1, t2);
    Set(t1, b, c, w, nbc, t2, t);
    Set(t2, c, a, w, nca, t, t1);
    Relink(nbc, b, c, t1);
    Relink(nca, c, a, t2);
    return w;
  }
  // Triangle t halved at point w on its edge k (a, b): t keeps the half holding a, the new one
  // (returned) holds b, both facing t's way; their links across the halved edge are left open.
  int Halve(int t, int k, int w) {
    const int a = v[3 * t + k], b = v[3 * t + (k + 1) % 3], c = v[3 * t + (k + 2) % 3];
    const int nbc = nb[3 * t + (k + 1) % 3], nca = nb[3 * t + (k + 2) % 3];
    const int t2 = nt++;
    Set(t, a, w, c, -1, t2, nca);
    Set(t2, w, b, c, -1, nbc, t);
    Relink(nbc, b, c, t2);
    return t2;
  }
  // Edge k of t and the triangle across it split at the new point; its number, -1 when memory
  // runs out, -2 for an edge of more than two triangles.
  int SplitEdge(int t, int k, const double q3[3], const double q2[2]) {
    const int u = nb[3 * t + k];
    if (u == -2) return -2;
    if (!Room(1, 4)) return -1;
    const int w = AddPoint(q3, q2);
    const int a = v[3 * t + k], b = v[3 * t + (k + 1) % 3];
    const int t2 = Halve(t, k, w);
    if (u < 0) return w;
    int j = 0;
    while (j < 2 && !((v[3 * u + j] == a || v[3 * u + j] == b) &&
                      (v[3 * u + (j + 1) % 3] == a || v[3 * u + (j + 1) % 3] == b)))
      ++j;
    const bool sameWay = v[3 * u + j] == a;
    const int u2 = Halve(u, j, w);
    // The half of u holding a lies against t, the half holding b against t2.
    const int ua = sameWay ? u : u2, ub = sameWay ? u2 : u;
    nb[3 * t] = ua, nb[3 * t2] = ub, nb[3 * ua] = t, nb[3 * ub] = t2;
    return w;
  }
  bool AddChain(int a, int b) {
    if (a == b) return true;
    if (!GrowTo(chain, chainRoom, nchain + 1, 1)) return false;
    chain[nchain++] = (int64_t(std::min(a, b)) << 32) | int64_t(std::max(a, b));
    return true;
  }
  bool InChain(int a, int b) const {
    const int64_t key = (int64_t(std::min(a, b)) << 32) | int64_t(std::max(a, b));
    return std::binary_search(chain, chain + nchain, key);
  }
  double Dist(const double* a, const double* b) const { return std::hypot(a[0] - b[0], a[1] - b[1]); }

  // The triangle round vertex a whose corner wedge at a holds direction d, turning from t
  // counter-clockwise, then clockwise where the fan opens. kCutDone with *wedge and a's corner
  // number in it, or the failure. A direction along a rim edge of an open fan (a curve following
  // the mesh's rim) lies on the fan's limit, where round-off can put it a hair outside: where no
  // wedge holds it exactly, one within the snap distance of its end does.
  int Wedge(int a, int t, const double d[2], int* wedge, int* corner) const {
    const double* pa = P(a);
    const double q[2] = {pa[0] + d[0], pa[1] + d[1]};
    for (int pass = 0; pass < 2; ++pass)
      for (int turn = 0; turn < 2; ++turn) {
        int s = t;
        for (int steps = 0; steps <= nt; ++steps) {
          int i = 0;
          while (i < 3 && v[3 * s + i] != a) ++i;
          if (i == 3) return kCutFold;
          const double *pb = P(v[3 * s + (i + 1) % 3]), *pc = P(v[3 * s + (i + 2) % 3]);
          if (!(Orient(pa, pb, pc) > 0)) return kCutFold;
          const double slackB = pass ? snap * Dist(pa, pb) : 0.0, slackC = pass ? snap * Dist(pa, pc) : 0.0;
          if (Orient(pa, pb, q) >= -slackB && Orient(pa, pc, q) <= slackC) {
            *wedge = s, *corner = i;
            return kCutDone;
          }
          const int next = nb[3 * s + (turn == 0 ? (i + 2) % 3 : i)];
          if (next < 0 || next == t) break;
          s = next;
        }
      }
    return kCutFold;
  }

  // Threads the span from vertex *a (on triangle *t) to q (q3 in space) through the mesh, or to
  // the vertex target (q then its place; -1 for a new point). On return *a is the span's end
  // vertex and *t a triangle holding it.
  int Thread(int* a, int* t, const double q3[3], const double q2[2], int target) {
    const int most = 4 * nt + 16;
    for (int step = 0; step < most; ++step) {
      if (*a == target) return kCutDone;
      const double* pa = P(*a);
      if (target < 0 && Dist(pa, q2) <= snap) return kCutDone;
      const double d[2] = {q2[0] - pa[0], q2[1] - pa[1]};
      int s = -1, i = -1;
      if (const int r = Wedge(*a, *t, d, &s, &i)) return r;
      const int b = v[3 * s + (i + 1) % 3], c = v[3 * s + (i + 2) % 3];
      const double *pb = P(b), *pc = P(c);
      constexpr int kNone = -3;
      int next = kNone;
      if (b == target || (target < 0 && Dist(pb, q2) <= snap)) next = b;
      if (c == target || (target < 0 && Dist(pc, q2) <= snap)) next = c;
      if (next == kNone && target < 0) {
        // The end lies on an edge from a, short of its far end: that edge is split there.
        for (int j = 1; j <= 2 && next == kNone; ++j) {
          const double* pe = P(v[3 * s + (i + j) % 3]);
          const double len = Dist(pa, pe), along = (d[0] * (pe[0] - pa[0]) + d[1] * (pe[1] - pa[1])) / len;
          if (std::fabs(Orient(pa, pe, q2)) <= snap * len && along > 0 && along < len)
            next = SplitEdge(s, (i + (j == 1 ? 0 : 2)) % 3, q3, q2);
        }
        if (next == -1) return kCutNoMemory;
        if (next == -2) return kCutBranchedEdge;
      }
      if (next == kNone) {
        const double lbc = Dist(pb, pc), across = Orient(pb, pc, q2);
        if (across >= -snap * lbc) {
          // The end lies in s or on its far edge: no vertex stands there in a mesh, so a vertex
          // target means a fold.
          if (target >= 0) return kCutFold;
          next = across <= snap * lbc ? SplitEdge(s, (i + 1) % 3, q3, q2) : SplitTriangle(s, q3, q2);
          if (next == -1) return kCutNoMemory;
          if (next == -2) return kCutBranchedEdge;
        } else {
          // The span leaves s across its far edge, at b + f (c - b).
          const double ob = d[0] * (pb[1] - pa[1]) - d[1] * (pb[0] - pa[0]);
          const double oc = d[0] * (pc[1] - pa[1]) - d[1] * (pc[0] - pa[0]);
          const double f = ob == oc ? 0.5 : std::clamp(ob / (ob - oc), 0.0, 1.0);
          const double x2[2] = {pb[0] + f * (pc[0] - pb[0]), pb[1] + f * (pc[1] - pb[1])};
          if (Dist(x2, pb) <= snap) {
            next = b;
          } else if (Dist(x2, pc) <= snap) {
            next = c;
          } else {
            const int across = nb[3 * s + (i + 1) % 3];
            if (across == -1) return kCutLeavesMesh;
            if (across == -2) return kCutBranchedEdge;
            const double *qb = P3(b), *qc = P3(c);
            const double x3[3] = {qb[0] + f * (qc[0] - qb[0]), qb[1] + f * (qc[1] - qb[1]),
                                  qb[2] + f * (qc[2] - qb[2])};
            next = SplitEdge(s, (i + 1) % 3, x3, x2);
            if (next == -1) return kCutNoMemory;
          }
        }
      }
      if (!AddChain(*a, next)) return kCutNoMemory;
      *a = next;
      *t = s;
    }
    return kCutFold;
  }
};

// Cuts the mesh along the closed curve and removes what lies between the given loop and the
// curve (method above). kCutDone with the mesh changed and *finalEdges the edges of the chain
// that bound the kept triangles (the result's loop along the curve), or the failure with the
// mesh as it was (but for room in its arrays); kCutNoMemory also after the points were written,
// the triangles then split but none removed.
int CutAlongCurve(Cloud* mesh, IndexNode* const* heads, const int* loop, int loopCount, const int32_t* edgePairs,
                  Bspline* curve, const int* fixedPoints, double subdivideTol, int* finalEdges) {
  TrackingScope scope;
  CurvePolyline line;
  if (const int r = SampleClosedCurve(curve, subdivideTol == -1.0 ? 0.0 : subdivideTol, &line)) return r;
  const int nl = line.n, n0 = mesh->npts, t0 = mesh->ntri;

  // The polyline's unit frame and mean plane; the floats' spacing there sets the snap distance.
  double* xyz = MallocArray<double>(nl, 3);
  double* q2 = MallocArray<double>(nl, 2);
  if (!xyz || !q2) return kCutNoMemory;
  double largest = 0;
  for (int k = 0; k < nl; ++k)
    for (int c = 0; c < 3; ++c) xyz[c * nl + k] = line.p[3 * k + c], largest = std::max(largest, std::fabs(line.p[3 * k + c]));
  const UnitFrame frame = UnitFrameOfPoints(xyz, xyz + nl, xyz + 2 * nl, nl, false);
  double normal[3] = {0, 0, 0};
  for (int k = 0; k < nl; ++k) PointToUnitFrame(frame, line.p + 3 * k, line.p + 3 * k);
  for (int k = 0; k < nl; ++k) AddNewellTerm(line.p + 3 * k, line.p + 3 * ((k + 1) % nl), normal);
  double u[3], w[3];
  if (!PlaneAxes(normal, u, w)) return kCutNoArea;
  for (int i = 0; i < n0; ++i)
    largest = std::max({largest, std::fabs(double(mesh->x[i])), std::fabs(double(mesh->y[i])), std::fabs(double(mesh->z[i]))});

  CutMesh m;
  m.snap = std::max(kCutSnap, kCutFloatSpacings * largest / frame.size);
  if (!m.Room(n0, t0)) return kCutNoMemory;
  for (int i = 0; i < n0; ++i) {
    double p[3];
    GetCldPoint(mesh, i, p);
    PointToUnitFrame(frame, p, p);
    const double p2[2] = {VecDotProd3(p, u), VecDotProd3(p, w)};
    m.AddPoint(p, p2);
  }
  for (int t = 0; t < t0; ++t) {
    const int32_t* c = mesh->tri[t].v;
    for (int k = 0; k < 3; ++k) {
      const int a = c[k], b = c[(k + 1) % 3];
      int across = -1;
      for (const IndexNode* node = heads[a]; node; node = node->next)
        if (node->index != t && PolygonHasVertex(mesh, node->index, b)) across = across == -1 ? node->index : -2;
      m.v[3 * t + k] = a;
      m.nb[3 * t + k] = across;
    }
  }
  m.nt = t0;
  for (int k = 0; k < nl; ++k) q2[2 * k] = VecDotProd3(line.p + 3 * k, u), q2[2 * k + 1] = VecDotProd3(line.p + 3 * k, w);

  // The triangle over the first polyline point, the nearest in space where several are.
  int start = -1;
  double nearest = HUGE_VAL;
  for (int t = 0; t < t0; ++t) {
    const int* c = m.v + 3 * t;
    const double *pa = m.P(c[0]), *pb = m.P(c[1]), *pc = m.P(c[2]);
    const double area = m.Orient(pa, pb, pc);
    if (area == 0) continue;
    const double l[3] = {m.Orient(pb, pc, q2) / area, m.Orient(pc, pa, q2) / area, m.Orient(pa, pb, q2) / area};
    const double len[3] = {m.Dist(pb, pc), m.Dist(pc, pa), m.Dist(pa, pb)};
    bool over = true;
    for (int k = 0; k < 3; ++k) over = over && l[k] * std::fabs(area) >= -m.snap * len[k];
    if (!over) continue;
    double foot[3];
    for (int k = 0; k < 3; ++k) foot[k] = l[0] * m.P3(c[0])[k] + l[1] * m.P3(c[1])[k] + l[2] * m.P3(c[2])[k];
    const double d = VecDist3(foot, line.p);
    if (d < nearest) nearest = d, start = t;
  }
  if (start < 0) return kCutLeavesMesh;
  // Seen from the side that shows the start triangle counter-clockwise.
  {
    const int* c = m.v + 3 * start;
    if (m.Orient(m.P(c[0]), m.P(c[1]), m.P(c[2])) < 0) {
      for (int i = 0; i < m.np; ++i) m.pt[5 * i + 4] = -m.pt[5 * i + 4];
      for (int k = 0; k < nl; ++k) q2[2 * k + 1] = -q2[2 * k + 1];
    }
  }
  // The first point: a corner of the start triangle, on an edge of it, or inside.
  int first = -3;
  {
    const int* c = m.v + 3 * start;
    for (int k = 0; k < 3 && first == -3; ++k)
      if (m.Dist(m.P(c[k]), q2) <= m.snap) first = c[k];
    for (int k = 0; k < 3 && first == -3; ++k) {
      const double *pa = m.P(c[k]), *pb = m.P(c[(k + 1) % 3]);
      if (std::fabs(m.Orient(pa, pb, q2)) <= m.snap * m.Dist(pa, pb)) first = m.SplitEdge(start, k, line.p, q2);
    }
    if (first == -3) first = m.SplitTriangle(start, line.p, q2);
    if (first < 0) return first == -2 ? kCutBranchedEdge : kCutNoMemory;
  }
  int a = first, at = start;
  for (int k = 1; k <= nl; ++k) {
    const int r = k < nl ? m.Thread(&a, &at, line.p + 3 * k, q2 + 2 * k, -1) : m.Thread(&a, &at, line.p, q2, first);
    if (r) return r;
  }
  std::sort(m.chain, m.chain + m.nchain);

  // Everything reached from the loop without crossing the chain goes.
  char* onLoop = CallocArray<char>(n0);
  char* gone = CallocArray<char>(m.nt);
  int* stack = MallocArray<int>(m.nt);
  int* pointFlags = CallocArray<int>(m.np);
  int* triFlags = CallocArray<int>(m.nt);
  char* kept = CallocArray<char>(m.np);
  if (!onLoop || !gone || !stack || !pointFlags || !triFlags || !kept) return kCutNoMemory;
  for (int k = 0; k < loopCount; ++k)
    for (int end = 0; end < 2; ++end) {
      const int p = edgePairs[2 * loop[k] + end];
      if (p >= 0 && p < n0) onLoop[p] = 1;
    }
  int top = 0, removed = 0;
  for (int t = 0; t < m.nt; ++t)
    for (int k = 0; k < 3 && !gone[t]; ++k) {
      const int pa = m.v[3 * t + k], pb = m.v[3 * t + (k + 1) % 3];
      // A loop edge, or a piece of one the chain split; not one the chain runs along (where the
      // curve follows the mesh's rim, nothing lies beyond it there).
      const bool ea = pa >= n0 || onLoop[pa], eb = pb >= n0 || onLoop[pb];
      if (m.nb[3 * t + k] == -1 && ea && eb && (pa < n0 || pb < n0) && !m.InChain(pa, pb))
        gone[t] = 1, stack[top++] = t;
    }
  while (top > 0) {
    const int t = stack[--top];
    ++removed;
    for (int k = 0; k < 3; ++k) {
      const int s = m.nb[3 * t + k];
      if (s < 0 || gone[s] || m.InChain(m.v[3 * t + k], m.v[3 * t + (k + 1) % 3])) continue;
      gone[s] = 1;
      stack[top++] = s;
    }
  }
  if (removed == 0 || removed == m.nt) return kCutNotParted;
  int bounding = 0;
  for (int t = 0; t < m.nt; ++t)
    for (int k = 0; k < 3; ++k) {
      const int p = m.v[3 * t + k], s = m.nb[3 * t + k];
      if (!gone[t]) kept[p] = 1;
      if (gone[t] && fixedPoints && p < n0 && fixedPoints[p] == 1) return kCutHeldBeyond;
      // A chain edge between a kept triangle and a removed one (or none) is on the result's loop.
      if (!gone[t] && (s == -1 || (s >= 0 && gone[s])) && m.InChain(p, m.v[3 * t + (k + 1) % 3])) ++bounding;
    }

  // The cut is whole: the mesh takes it.
  if (!ReallocCldXYZArrays(mesh, m.np) || !ReallocCldPolyList(mesh, m.nt)) return kCutNoMemory;
  for (int i = n0; i < m.np; ++i) {
    double p[3];
    PointFromUnitFrame(frame, m.P3(i), p);
    mesh->x[i] = float(p[0]);
    mesh->y[i] = float(p[1]);
    mesh->z[i] = float(p[2]);
  }
  mesh->npts = m.np;
  mesh->ntri = m.nt;
  for (int t = 0; t < m.nt; ++t) {
    for (int k = 0; k < 3; ++k) mesh->tri[t].v[k] = m.v[3 * t + k];
    MakeCldPolyPlane(mesh, &mesh->tri[t]);
    triFlags[t] = gone[t];
    // A point goes with the last triangle that held it.
    for (int k = 0; k < 3; ++k) pointFlags[m.v[3 * t + k]] |= gone[t];
  }
  for (int i = 0; i < m.np; ++i) pointFlags[i] &= !kept[i];
  if (!DeleteCldVertsAndPolys(mesh, pointFlags, triFlags)) return kCutNoMemory;
  if (!ReallocCldXYZArrays(mesh, mesh->npts) || !ReallocCldPolyList(mesh, mesh->ntri)) return kCutNoMemory;
  if (mesh->isVert && !CloudSetIsVerts(mesh)) return kCutNoMemory;
  *finalEdges = bounding;
  return kCutDone;
}

// Corners of a triangle whose distances from the curve differ by less than this share of its
// longest edge, or by two float spacings of their coordinates (each corner rounded by up to half
// of one, and as much again for the curve's own round-off), are equally near it: corners on the
// curve differ from their closest curve points by round-off only.
constexpr double kPeelTie = 1e-6;
constexpr double kPeelTieFloatSpacings = 2.0 * 0x1p-24;

// Whether corner v of the triangle with corners p (numbers ids, distances gap from the curve) is
// as near the curve as the nearest of the other two, within kPeelTie.
bool AsNearAsTheOthers(const double p[3][3], const double gap[3], const int32_t ids[3], int v) {
  double longest = 0.0, largest = 0.0, others = HUGE_VAL, own = HUGE_VAL;
  for (int k = 0; k < 3; ++k) {
    longest = std::max(longest, VecDist3(p[k], p[(k + 1) % 3]));
    for (int i = 0; i < 3; ++i) largest = std::max(largest, std::fabs(p[k][i]));
    if (ids[k] == v)
      own = gap[k];
    else
      others = std::min(others, gap[k]);
  }
  return own <= others + kPeelTie * longest + kPeelTieFloatSpacings * largest;
}

// Whether the loop the peel leaves, on its closest curve points, spans less than this share of
// the area the closed curve bounds: its triangles are then too large for the curve (a dense
// mesh's loop, a polygon inscribed in the curve, falls short by its spans' sagittas, a few
// hundredths at most), and the cut follows the curve instead.
constexpr double kPeelAreaShare = 0.9;

// Also where two loop vertices go to one curve point (a span and the triangle on it would
// collapse, or the loop pinches there). false for an open curve or one that cannot be sampled (the
// peel stands), and when memory runs out.
bool PeelTooCoarse(const int* verts, int nv, const ClosestPointCache& closest, Bspline* curve) {
  TrackingScope scope;
  CurvePolyline line;
  if (nv < 1 || SampleClosedCurve(curve, 0.0, &line) != kCutDone) return false;
  const double snap = kCutSnap * line.tol / kCutChord;
  auto at = [&](int k) { return closest.pts + 3 * closest.slot[verts[k]]; };
  // Two loop vertices (or one met twice, where the loop pinches) on one curve point: by x, then
  // the neighbours within the snap distance.
  int* byX = MallocArray<int>(nv);
  if (!byX) return false;
  for (int k = 0; k < nv; ++k) byX[k] = k;
  std::sort(byX, byX + nv, [&](int a, int b) { return at(a)[0] < at(b)[0]; });
  for (int i = 0; i < nv; ++i)
    for (int j = i + 1; j < nv && at(byX[j])[0] - at(byX[i])[0] <= snap; ++j)
      if (VecDist3(at(byX[i]), at(byX[j])) <= snap) return true;
  double loopNormal[3] = {0, 0, 0}, curveNormal[3] = {0, 0, 0};
  for (int k = 0; k < nv; ++k) AddNewellTerm(at(k), at((k + 1) % nv), loopNormal);
  for (int k = 0; k < line.n; ++k) AddNewellTerm(line.p + 3 * k, line.p + 3 * ((k + 1) % line.n), curveNormal);
  return std::sqrt(VecDotProd3(loopNormal, loopNormal)) < kPeelAreaShare * std::sqrt(VecDotProd3(curveNormal, curveNormal));
}

}  // namespace

int TrimCloudWithCurve(Cloud* mesh, int* loopEdges, int* loopCount, Bspline* curve, int32_t* edgePairs,
                       IndexNode* const* vertexEdgeLists, const int* fixedPoints, double subdivideTol) {
  if (!mesh || !loopEdges || !loopCount || !curve || !edgePairs || !vertexEdgeLists || *loopCount < 1 ||
      mesh->ntri < 1 || !MeshCornersNamePoints(mesh, nullptr))
    return 0;
  TrackingScope scope;
  CurveSampleCache samples;
  const int n = mesh->npts, ntri = mesh->ntri;
  auto** heads = MallocArray<IndexNode*>(n);
  auto* nodes = MallocArray<IndexNode>(ntri, 3);
  int* pointFlags = CallocArray<int>(n);
  int* triFlags = CallocArray<int>(ntri);
  ClosestPointCache closest;
  if (!heads || !nodes || !pointFlags || !triFlags || !closest.Init(n, *loopCount)) return 0;
  MakePolyPointers(mesh, heads, nodes);
  auto fixed = [&](int v) { return fixedPoints && fixedPoints[v] == 1; };

  // The loop as given, put back when the trim is refused.
  const int givenCount = *loopCount;
  int* given = MallocArray<int>(givenCount);
  if (!given) return 0;
  std::copy(loopEdges, loopEdges + givenCount, given);
  // The points on a rim of the mesh other than the loop given (a hole): a peel that reaches one
  // has run through a curve that crosses the hole, or pinches its loop against the hole, and its
  // loop no longer bounds what it keeps.
  char* onOtherRim = CallocArray<char>(n);
  if (!onOtherRim) return 0;
  for (int t = 0; t < ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = mesh->tri[t].v[k], b = mesh->tri[t].v[(k + 1) % 3];
      bool shared = false;
      for (const IndexNode* node = heads[a]; node && !shared; node = node->next)
        shared = node->index != t && PolygonHasVertex(mesh, node->index, b);
      if (shared) continue;
      bool inGiven = false;
      for (const IndexNode* e = vertexEdgeLists[a]; e && !inGiven; e = e->next)
        inGiven = (edgePairs[2 * e->index] == b || edgePairs[2 * e->index + 1] == b) &&
                IntInArray(e->index, given, givenCount, nullptr);
      if (!inGiven) onOtherRim[a] = onOtherRim[b] = 1;
    }
  bool reachedOtherRim = false;
  auto reaches = [&](int T) {
    const int32_t* c = mesh->tri[T].v;
    return onOtherRim[c[0]] || onOtherRim[c[1]] || onOtherRim[c[2]];
  };

  // Peeling. Triangles and corners are only flagged here, so a failure leaves the mesh as it was.
  int count = *loopCount;
  for (int i = 0; i < count;) {
    const int e = loopEdges[i];
    int T = -1;
    // A loop edge without a live triangle is left as it is.
    if (!GetPolyWithOutsideEdge(mesh, heads, edgePairs, e, triFlags, &T)) {
      ++i;
      continue;
    }
    int32_t te[3];
    const int inLoop = GetNumPolyEdgesInLoop(mesh, T, edgePairs, vertexEdgeLists, loopEdges, count, te);
    int nearest = -1;
    double best = HUGE_VAL, gap[3], corner[3][3];
    for (int k = 0; k < 3; ++k) {
      const int v = mesh->tri[T].v[k];
      const double* c = closest.Get(mesh, v, curve, &samples);
      if (!c) return 0;
      GetCldPoint(mesh, v, corner[k]);
      const double* p = corner[k];
      const double d = (c[0] - p[0]) * (c[0] - p[0]) + (c[1] - p[1]) * (c[1] - p[1]) + (c[2] - p[2]) * (c[2] - p[2]);
      gap[k] = std::sqrt(d);
      if (d < best) best = d, nearest = v;
    }
    // An isolated triangle (all three edges in the loop) and a triangle with an edge missing
    // from the lists stay.
    if (inLoop == 3 || te[0] < 0 || te[1] < 0 || te[2] < 0) {
      ++i;
      continue;
    }
    if (inLoop == 2) {
      // An ear: f is its other loop edge, g its inner edge.
      int f = -1, g = -1;
      for (int k = 0; k < 3; ++k) {
        if (te[k] == e) continue;
        if (IntInArray(te[k], loopEdges, count, nullptr))
          f = te[k];
        else
          g = te[k];
      }
      const int shared = FindCommonEdgeVertex(edgePairs, e, f);
      // A fixed corner is never cut off either, nor one as near the curve as the ear's others
      // (a curve along the loop itself, through all three corners, keeps the ear whichever corner
      // comes first).
      if (f < 0 || g < 0 || shared < 0 || shared == nearest || fixed(shared) ||
          AsNearAsTheOthers(corner, gap, mesh->tri[T].v, shared)) {
        ++i;
        continue;
      }
      reachedOtherRim = reachedOtherRim || reaches(T);
      triFlags[T] = 1;
      // The corner goes only when no live triangle keeps it (a vertex where the mesh pinches).
      if (!HeldByAnotherLiveTriangle(heads, shared, T, triFlags)) pointFlags[shared] = 1;
      loopEdges[i] = g;
      int fpos = 0;
      IntInArray(f, loopEdges, count, &fpos);
      RemoveAt(loopEdges, fpos, &count);
      if (fpos < i) --i;
      continue;
    }
    int opposite = -1;
    for (int k = 0; k < 3; ++k) {
      const int v = mesh->tri[T].v[k];
      if (v != edgePairs[2 * e] && v != edgePairs[2 * e + 1]) opposite = v;
    }
    if (opposite != nearest || fixed(opposite)) {
      ++i;
      continue;
    }
    reachedOtherRim = reachedOtherRim || reaches(T);
    triFlags[T] = 1;
    int placed = 0;
    for (int k = 0; k < 3; ++k) {
      if (te[k] == e) continue;
      if (placed++ == 0)
        loopEdges[i] = te[k];
      else
        loopEdges[count++] = te[k];
    }
  }
  *loopCount = count;

  // The loop vertices in order, closed by repeating the first, moved onto the curve.
  int* verts = MallocArray<int>(count + 1);
  if (!verts) return 0;
  const int nv = GetLoopVerticesInOrder(mesh, loopEdges, edgePairs, count, verts);
  if (nv < 1) return 0;
  verts[nv] = verts[0];
  for (int k = 0; k < nv; ++k)
    if (!closest.Get(mesh, verts[k], curve, &samples)) return 0;
  const int beyond =
      KeptBeyondLoop(mesh, heads, verts, nv, closest, curve, &samples, pointFlags, triFlags, fixedPoints);
  const bool coarse = beyond == 0 && (reachedOtherRim || PeelTooCoarse(verts, nv, closest, curve));
  auto restore = [&] {
    std::copy(given, given + givenCount, loopEdges);
    *loopCount = givenCount;
  };
  if (beyond < 0) {
    restore();
    return 0;
  }
  if (beyond > 0 || coarse) {
    // Nothing was changed by the peel: the triangles too large for it are cut along the curve.
    // Where the cut cannot be made, a peel that keeps nothing beyond the curve stands.
    int finalEdges = 0;
    const int cut =
        CutAlongCurve(mesh, heads, given, givenCount, edgePairs, curve, fixedPoints, subdivideTol, &finalEdges);
    if (cut == kCutDone) {
      restore();
      *loopCount = finalEdges;
      return 1;
    }
    if (cut == kCutNoMemory || beyond > 0 || reachedOtherRim) restore();
    if (cut == kCutNoMemory) return 0;
    if (reachedOtherRim) {
      InfoMessageFormat("%s: %s\n",
                        MSGstr("Trim refused: the peel runs into a hole of the mesh the curve crosses, and the mesh "
                               "cannot be cut along the curve"),
                        MSGstr(kCutReasons[cut]));
      return 0;
    }
    if (beyond > 0) {
      InfoMessageFormat("%s: %s\n",
                        MSGstr("Trim refused: the curve runs through triangles too large to peel, and they cannot "
                               "be cut along it"),
                        MSGstr(kCutReasons[cut]));
      return 0;
    }
  }
  for (int k = 0; k < nv; ++k) {
    const int v = verts[k];
    const double* c = closest.pts + 3 * closest.slot[v];
    mesh->x[v] = float(c[0]);
    mesh->y[v] = float(c[1]);
    mesh->z[v] = float(c[2]);
    if (mesh->nx) mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
  }
  for (int t = 0; t < mesh->ntri; ++t) MakeCldPolyPlane(mesh, &mesh->tri[t]);

  if (subdivideTol != -1.0 &&
      !SubdivideLoopPolys(mesh, loopEdges, nv + 1, subdivideTol, edgePairs, verts, curve, &samples, triFlags))
    return 0;

  // Compaction: points and triangles the subdivision added are kept. The points go through the
  // cloud's own sampling, which carries every per-point array (colours and reliability
  // included) with its point.
  int* allPoints = CallocArray<int>(mesh->npts);
  int* allTris = CallocArray<int>(mesh->ntri);
  if (!allPoints || !allTris) return 0;
  std::copy(pointFlags, pointFlags + n, allPoints);
  std::copy(triFlags, triFlags + ntri, allTris);
  if (!DeleteCldVertsAndPolys(mesh, allPoints, allTris)) return 0;
  if (!ReallocCldXYZArrays(mesh, mesh->npts) || !ReallocCldPolyList(mesh, mesh->ntri)) return 0;
  if (mesh->isVert && !CloudSetIsVerts(mesh)) return 0;
  return 1;
}

int SubdivideLoopPolys(Cloud* mesh, int* /*loopEdges*/, int loopVertexCount, double tol, int32_t* /*edgePairs*/,
                       const int* loopVertices, Bspline* curve, CurveSampleCache* cache,
                       const int* deletedTriangles) {
  if (!mesh || !loopVertices || !curve || !cache) return 0;
  if (loopVertexCount < 2) return 1;
  // An absolute floor: spans are never split finer than this however tight the request.
  double workTol = std::max(tol, 0.1);
  TrackingScope scope;
  const int ntri0 = mesh->ntri;
  int pointRoom = std::max(2 * mesh->npts, mesh->npts + 1);
  int triRoom = std::max(2 * ntri0, ntri0 + 2);
  if (!ReallocCldXYZArrays(mesh, pointRoom) || !ReallocCldPolyList(mesh, triRoom)) return 0;
  auto** heads = MallocArray<IndexNode*>(pointRoom);
  // List nodes come in blocks of four per starting triangle: the first holds the lists as built
  // (three per triangle), later ones the six of each split.
  const int blockSize = std::max(4 * ntri0, 6);
  IndexNode* nodes = MallocArray<IndexNode>(blockSize);
  int* flags = CallocArray<int>(triRoom);
  int vertRoom = 5 * loopVertexCount;
  int* verts = MallocArray<int>(vertRoom);
  if (!heads || !nodes || !flags || !verts) return 0;
  std::fill(heads, heads + pointRoom, nullptr);
  MakePolyPointers(mesh, heads, nodes);
  int used = 3 * ntri0;
  if (deletedTriangles) std::copy(deletedTriangles, deletedTriangles + ntri0, flags);
  std::copy(loopVertices, loopVertices + loopVertexCount, verts);
  int nv = loopVertexCount;

  // A span whose midpoint keeps its distance is given up after this many splits whatever the
  // change: by then it is shorter than the float coordinates can tell apart.
  constexpr int kMostAttempts = 60;
  int attempts = 0;
  double previous = 0.0;
  for (int i = 0; i + 1 < nv;) {
    const int a = verts[i], b = verts[i + 1];
    double pa[3], pb[3], m[3], c[3];
    GetCldPoint(mesh, a, pa);
    GetCldPoint(mesh, b, pb);
    for (int k = 0; k < 3; ++k) m[k] = 0.5 * (pa[k] + pb[k]);
    if (!GetClosestCurvePoint(curve, m, cache, c, nullptr)) return 0;
    const double d = VecDist3(c, m);
    ++attempts;
    const bool stalled = attempts >= 5 && std::fabs(d - previous) < 0.2 * previous;
    previous = d;
    if (d >= workTol && !stalled && attempts < kMostAttempts) {
      int T = -1;
      // No live triangle on the span: nothing to split (no point is added either), next span.
      if (!FindPolyWithOutsideVerts(mesh, heads, a, b, flags, &T)) {
        ++i;
        continue;
      }
      if (mesh->npts == pointRoom) {
        auto** grownHeads = ReallocArray(heads, 2 * pointRoom);
        if (!grownHeads) return 0;
        heads = grownHeads;
        if (!ReallocCldXYZArrays(mesh, 2 * pointRoom)) return 0;
        std::fill(heads + pointRoom, heads + 2 * pointRoom, nullptr);
        pointRoom *= 2;
      }
      if (mesh->ntri == triRoom) {
        int* grownFlags = ReallocArray(flags, 2 * triRoom);
        if (!grownFlags) return 0;
        flags = grownFlags;
        if (!ReallocCldPolyList(mesh, 2 * triRoom)) return 0;
        std::fill(flags + triRoom, flags + 2 * triRoom, 0);
        triRoom *= 2;
      }
      if (used + 6 > blockSize) {
        if (!(nodes = MallocArray<IndexNode>(blockSize))) return 0;
        used = 0;
      }
      if (nv == vertRoom) {
        int* grown = ReallocArray(verts, 2 * vertRoom);
        if (!grown) return 0;
        verts = grown;
        vertRoom *= 2;
      }
      const int v = mesh->npts++;
      mesh->x[v] = float(c[0]);
      mesh->y[v] = float(c[1]);
      mesh->z[v] = float(c[2]);
      mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
      SplitCloudPoly(mesh, T, a, b, v, heads, nodes, &used);
      InsertPtInArray(v, verts, i, nv++);
      continue;  // the span from a to the new point next
    }
    i += attempts == 1 ? 1 : 2;
    if (attempts >= 5 && d > workTol) workTol = d;
    attempts = 0;
  }
  return 1;
}

// ---- Loop and polygon helpers -------------------------------------------------------------------

int FindPolyWithOutsideVerts(const Cloud* mesh, IndexNode* const* vertexTriangleHeads, int a, int b,
                             const int* triangleFlags, int* triangle) {
  if (a == b) return 0;
  // a's list in list order, as FindAllPolysWithVert gives the triangles on edge a-b.
  for (const IndexNode* n = vertexTriangleHeads[a]; n; n = n->next) {
    const int t = n->index;
    if (!PolygonHasVertex(mesh, t, b)) continue;
    if (triangleFlags && triangleFlags[t] == 1) continue;
    *triangle = t;
    return 1;
  }
  return 0;
}

int GetPolyWithOutsideEdge(const Cloud* mesh, IndexNode* const* vertexTriangleHeads, const int32_t* edgePairs,
                           int edge, const int* triangleFlags, int* triangle) {
  return FindPolyWithOutsideVerts(mesh, vertexTriangleHeads, edgePairs[2 * edge], edgePairs[2 * edge + 1],
                                  triangleFlags, triangle);
}

int GetNumPolyEdgesInLoop(const Cloud* mesh, int triangle, const int32_t* edgePairs, IndexNode* const* vertexEdgeLists,
                          const int* loopEdges, int loopCount, int32_t edges[3]) {
  FindPolygonEdges(mesh, triangle, edgePairs, vertexEdgeLists, edges);
  int in = 0;
  for (int k = 0; k < 3; ++k) in += edges[k] >= 0 && IntInArray(edges[k], loopEdges, loopCount, nullptr);
  return in;
}

int GetLoopVerticesInOrder(const Cloud* /*mesh*/, const int* loopEdges, const int32_t* edgePairs, int n,
                           int* vertices) {
  if (n < 1 || !loopEdges || !edgePairs || !vertices) return 0;
  TrackingScope scope;
  char* taken = CallocArray<char>(n);
  if (!taken) return 0;
  int current = edgePairs[2 * loopEdges[0]];
  int written = 0;
  vertices[written++] = current;
  while (written < n) {
    int next = -1;
    for (int k = 0; k < n && next < 0; ++k) {
      if (taken[k]) continue;
      const int a = edgePairs[2 * loopEdges[k]], b = edgePairs[2 * loopEdges[k] + 1];
      if (a == current || b == current) {
        taken[k] = 1;
        next = a == current ? b : a;
      }
    }
    if (next < 0) break;
    vertices[written++] = current = next;
  }
  return written;
}

void InsertPtInArray(int value, int* array, int position, int n) {
  const int at = position + 1;
  if (at < n) std::memmove(array + at + 1, array + at, sizeof(int) * (n - at));
  array[at] = value;
}

void SetIndexTable(const int* flags, int* shift, int n) {
  int flagged = 0;
  for (int i = 0; i < n; ++i) {
    if (flags[i] == 1) {
      shift[i] = 0;
      ++flagged;
    } else {
      shift[i] = -flagged;
    }
  }
}

int IsPointInPoly2D(double x, double y, int n, const double* xs, const double* ys) {
  if (n < 3 || !xs || !ys) return 0;
  double xmin = xs[0], ymin = ys[0], xmax = xs[0], ymax = ys[0];
  for (int i = 1; i < n; ++i) {
    xmin = std::min(xmin, xs[i]), xmax = std::max(xmax, xs[i]);
    ymin = std::min(ymin, ys[i]), ymax = std::max(ymax, ys[i]);
  }
  // The far point lies 100 and 50 polygon sizes beyond the lower left corner (units for a
  // polygon of size 1), so that the on-boundary test (s below 1e-6 along the ray) keeps its
  // meaning at every scale.
  const double size = std::max(xmax - xmin, ymax - ymin) > 0.0 ? std::max(xmax - xmin, ymax - ymin) : 1.0;
  const double fx = xmin - 100.0 * size, fy = ymin - 50.0 * size;
  int crossings = 0;
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    double s = 0.0, t = 0.0;
    if (!Intersect2DSegments(x, y, fx, fy, xs[i], ys[i], xs[j], ys[j], &s, &t)) continue;
    if (s < 1e-6) return 0;
    // A crossing at a polygon vertex counts once, on the edge that ends there.
    if (t > 0.0) ++crossings;
  }
  return crossings % 2;
}

void FindEdgePoints(const Cloud* mesh, const int32_t* edgePairs, int edge, double a[3], double b[3]) {
  const auto names = [mesh](int v) { return v >= 0 && v < mesh->npts; };
  if (!mesh || !edgePairs || edge < 0 || !names(edgePairs[2 * edge]) || !names(edgePairs[2 * edge + 1])) {
    a[0] = a[1] = a[2] = b[0] = b[1] = b[2] = 0.0;
    return;
  }
  GetCldPoint(mesh, edgePairs[2 * edge], a);
  GetCldPoint(mesh, edgePairs[2 * edge + 1], b);
}

int PolysHaveCommonVertex(const Cloud* mesh, int t1, int t2) {
  if (!TriangleInMesh(mesh, t1)) return 0;
  for (int k = 0; k < 3; ++k)
    if (PolygonHasVertex(mesh, t2, mesh->tri[t1].v[k])) return 1;
  return 0;
}

int FindCommonEdgeVertex(const int32_t* edgePairs, int e1, int e2) {
  const int a = edgePairs[2 * e1], b = edgePairs[2 * e1 + 1];
  const int c = edgePairs[2 * e2], d = edgePairs[2 * e2 + 1];
  if (a == c || a == d) return a;
  if (b == c || b == d) return b;
  return -1;
}

// ---- Refinement and small edits -----------------------------------------------------------------

namespace {

bool Selected(const Cloud* mesh, int t, const uint8_t* pointMask, const uint8_t* triangleMask) {
  const int32_t* v = mesh->tri[t].v;
  if (pointMask && !pointMask[v[0]] && !pointMask[v[1]] && !pointMask[v[2]]) return false;
  return !(triangleMask && !triangleMask[t]);
}

// Appends a point (room already made); its normal is to be computed.
int AppendPoint(Cloud* mesh, const double p[3]) {
  const int v = mesh->npts++;
  mesh->x[v] = float(p[0]);
  mesh->y[v] = float(p[1]);
  mesh->z[v] = float(p[2]);
  if (mesh->nx) mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
  return v;
}

// Appends triangle (a, b, c) with its plane (room already made); returns its number.
int AppendTriangle(Cloud* mesh, int a, int b, int c) {
  const int t = mesh->ntri++;
  CloudTriangle& tri = mesh->tri[t];
  tri.v[0] = a, tri.v[1] = b, tri.v[2] = c;
  MakeCldPolyPlane(mesh, &tri);
  return t;
}

// Brings the arrays to the counts; a refused shrink only leaves spare room, so it is no failure.
void TrimToCounts(Cloud* mesh) {
  const bool failedBefore = KernelFailed();
  const bool trimmed = ReallocCldXYZArrays(mesh, mesh->npts) && ReallocCldPolyList(mesh, mesh->ntri);
  if (!trimmed && !failedBefore) ClearKernelError();
}

}  // namespace

int SubdivideCldPolys(Cloud* mesh, int fourWay, const uint8_t* pointMask, const uint8_t* triangleMask) {
  return fourWay ? SubdividePolysInto4Polys(mesh, pointMask, triangleMask)
                 : SubdividePolysInto3Polys(mesh, pointMask, triangleMask);
}

int SubdividePolysInto3Polys(Cloud* mesh, const uint8_t* pointMask, const uint8_t* triangleMask) {
  if (!MeshCornersNamePoints(mesh, nullptr)) return 0;
  const int ntri0 = mesh->ntri;
  if (!ReallocCldXYZArrays(mesh, mesh->npts + ntri0) || !ReallocCldPolyList(mesh, 3 * ntri0)) return 0;
  for (int t = 0; t < ntri0; ++t) {
    if (!Selected(mesh, t, pointMask, triangleMask)) continue;
    double p[3][3], centroid[3];
    FindPolyVertsAndNorms(mesh, t, nullptr, p, nullptr);
    for (int k = 0; k < 3; ++k) centroid[k] = (p[0][k] + p[1][k] + p[2][k]) * 0.3333333333333333;
    const int c = AppendPoint(mesh, centroid);
    const CloudTriangle parent = mesh->tri[t];
    AppendTriangle(mesh, c, parent.v[1], parent.v[2]);
    AppendTriangle(mesh, parent.v[0], c, parent.v[2]);
    mesh->tri[t].v[2] = c;
    MakeCldPolyPlane(mesh, &mesh->tri[t]);
  }
  return CloudSetSomeNormVerts(mesh) ? 1 : 0;
}

int SubdividePolysInto4Polys(Cloud* mesh, const uint8_t* pointMask, const uint8_t* triangleMask) {
  if (!mesh) return 0;
  const int ntri0 = mesh->ntri;
  if (ntri0 < 1) return 1;
  if (!MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, edges.receive(), corners.receive(), &nedges)) return 0;
  int* mid = MallocArray<int>(nedges);
  if (!mid) return 0;
  std::fill(mid, mid + nedges, -1);
  // Room grows in steps of 100 points and triangles.
  int pointRoom = mesh->npts + std::min(nedges, 100);
  int triRoom = ntri0 + std::min(3 * ntri0, 100);
  int result = ReallocCldXYZArrays(mesh, pointRoom) && ReallocCldPolyList(mesh, triRoom);
  for (int t = 0; result && t < ntri0; ++t) {
    if (!Selected(mesh, t, pointMask, triangleMask)) continue;
    int e[3];
    for (int k = 0; k < 3; ++k) {
      e[k] = int(corners[3 * t + k] - edges.get()) / 2;
      if (mid[e[k]] >= 0) continue;
      if (mesh->npts == pointRoom) {
        if (!ReallocCldXYZArrays(mesh, pointRoom + 100)) {
          result = 0;
          break;
        }
        pointRoom += 100;
      }
      double a[3], b[3], m[3];
      FindEdgePoints(mesh, edges.get(), e[k], a, b);
      for (int j = 0; j < 3; ++j) m[j] = 0.5 * (a[j] + b[j]);
      mid[e[k]] = AppendPoint(mesh, m);
    }
    if (!result) break;
    if (mesh->ntri + 4 > triRoom) {
      if (!ReallocCldPolyList(mesh, triRoom + 100)) {
        result = 0;
        break;
      }
      triRoom += 100;
    }
    AppendTriangle(mesh, mid[e[0]], mid[e[1]], mid[e[2]]);
    // Corner triangle at the vertex two consecutive edges share, keeping the parent's sense.
    for (int k = 0; k < 3; ++k) {
      const int first = e[k], second = e[(k + 1) % 3];
      const int v = FindCommonEdgeVertex(edges.get(), first, second);
      if (k < 2) {
        AppendTriangle(mesh, v, mid[second], mid[first]);
      } else {
        CloudTriangle& parent = mesh->tri[t];
        parent.v[0] = v, parent.v[1] = mid[second], parent.v[2] = mid[first];
        MakeCldPolyPlane(mesh, &parent);
      }
    }
  }
  TrimToCounts(mesh);
  return result;
}

int DividePolyAtPickedPoint(Cloud* mesh, const int* triangles, const double* s, const double* t, int count) {
  if (count < 1) return 1;
  if (!triangles || !s || !t || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  const int ntri0 = mesh->ntri;
  if (!ReallocCldXYZArrays(mesh, mesh->npts + count) || !ReallocCldPolyList(mesh, ntri0 + 2 * count)) return 0;
  const int slots = mesh->npts + count;
  auto** heads = MallocArray<IndexNode*>(slots);
  // An edge pick splits two triangles, six nodes each.
  auto* nodes = MallocArray<IndexNode>(3L * ntri0 + 12L * count);
  int result = heads && nodes;
  if (result) {
    std::fill(heads, heads + slots, nullptr);
    MakePolyPointers(mesh, heads, nodes);
    int used = 3 * ntri0;
    for (int k = 0; k < count && result; ++k) {
      int vertex = -1;
      result = CreateNewPolys(mesh, triangles[k], s[k], t[k], heads, nodes, &used, &vertex);
    }
  }
  TrimToCounts(mesh);
  return result;
}

int CreateNewPolys(Cloud* mesh, int triangle, double s, double t, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                   int* nodesUsed, int* vertex) {
  constexpr double kTol = 1e-6;
  if (triangle < 0 || triangle >= mesh->ntri || !std::isfinite(s) || !std::isfinite(t)) return 0;
  const double u = 1.0 - s - t;
  // A pick outside the triangle would fold the mesh.
  if (s < -kTol || t < -kTol || u < -kTol) return 0;
  const CloudTriangle parent = mesh->tri[triangle];
  const int32_t* c = parent.v;
  if (s + t < kTol) return *vertex = c[2], 1;
  if (1.0 - s < kTol) return *vertex = c[0], 1;
  if (1.0 - t < kTol) return *vertex = c[1], 1;
  double p[3][3], q[3];
  FindPolyVertsAndNorms(mesh, triangle, nullptr, p, nullptr);
  if (s >= kTol && t >= kTol && u >= kTol) {
    for (int k = 0; k < 3; ++k) q[k] = s * p[0][k] + t * p[1][k] + u * p[2][k];
    const int v = *vertex = AppendPoint(mesh, q);
    for (int k = 0; k < 3; ++k) DeleteVertexPoly(vertexTriangleHeads, c[k], triangle);
    for (int k = 0; k < 3; ++k) {
      int child = triangle;
      if (k > 0) {
        child = mesh->ntri++;
        mesh->tri[child] = parent;
      }
      mesh->tri[child].v[k] = v;
      UpdatePolyPointers(mesh, child, vertexTriangleHeads, nodeStore, nodesUsed);
      MakeCldPolyPlane(mesh, &mesh->tri[child]);
    }
    return 1;
  }
  int a, b;
  if (s < kTol) {
    a = c[1], b = c[2];
    for (int k = 0; k < 3; ++k) q[k] = t * p[1][k] + (1.0 - t) * p[2][k];
  } else if (t >= kTol) {
    a = c[0], b = c[1];
    for (int k = 0; k < 3; ++k) q[k] = s * p[0][k] + t * p[1][k];
  } else {
    a = c[0], b = c[2];
    for (int k = 0; k < 3; ++k) q[k] = s * p[0][k] + (1.0 - s) * p[2][k];
  }
  const int v = *vertex = AppendPoint(mesh, q);
  // The triangles on the edge, at most two, gathered before the splits relink the lists.
  int on[2], n = 0;
  for (const IndexNode* node = vertexTriangleHeads[a]; node && n < 2; node = node->next)
    if (PolygonHasVertex(mesh, node->index, b)) on[n++] = node->index;
  for (int k = 0; k < n; ++k) SplitCloudPoly(mesh, on[k], a, b, v, vertexTriangleHeads, nodeStore, nodesUsed);
  return 1;
}

int RemoveLongCldPolys(Cloud* mesh, double maxLength, const uint8_t* pointMask) {
  if (!mesh || mesh->ntri < 1 || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  int* flags = CallocArray<int>(mesh->ntri);
  if (!flags) return 0;
  const double limit = maxLength * maxLength;
  int removed = 0;
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    if (pointMask && !pointMask[v[0]] && !pointMask[v[1]] && !pointMask[v[2]]) continue;
    double p[3][3];
    FindPolyVertsAndNorms(mesh, t, nullptr, p, nullptr);
    for (int k = 0; k < 3; ++k) {
      const double* a = p[k];
      const double* b = p[(k + 1) % 3];
      const double d = (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
      if (d >= limit) {
        flags[t] = 1;
        ++removed;
        break;
      }
    }
  }
  if (removed == 0) return 0;
  return DeleteCldVertsAndPolys(mesh, nullptr, flags) ? removed : 0;
}

namespace {

// ---- Capping every loop --------------------------------------------------------------------------

using Tri3 = double[3][3];

// How far triangles are drawn toward their centroids before the crossing test: triangles that
// only share corners or an edge then no longer touch, while any real overlap stays.
constexpr double kCapShrink = 1e-5;
// Ears whose corner angle is within this (radians) of 0 or pi are flat.
constexpr double kFlatEar = 1e-6;
// The longest loop capped by the table of least areas (its time grows as the cube of the length).
constexpr int kMaxTableLoop = 200;
// A cap with a corner angle below this (radians) has its diagonals flipped towards the largest
// least angle: the ear clipper leaves flat triangles along straight runs of a loop (collinear
// points, as meshers write a straight edge), which fans from the corners avoid.
constexpr double kLeastCapAngle = M_PI / 180.0;
// How many ears the clipper tries, least angle first, before it gives a loop up.
constexpr int kEarCandidates = 64;
// Up to this many loops, a triangle is tried against each loop's box; beyond, against a grid of them.
constexpr int kMaxFilterBoxes = 32;
// How often the table is made again after barring the triangles of its answer that cross the mesh,
// and the work of all rounds together (a round costs the cube of the loop's length): a loop of
// 63 points gets every round, one of 100 eight, one of 200 one, so no loop costs more than about
// 8e6 steps.
constexpr int kTableRounds = 32;
constexpr double kTableWork = 8e6;
// How many of the shortest chords a loop too long for the table is tried cut along.
constexpr int kSplitChords = 8;
// How many pieces one long loop's cutting may cap in all: kSplitPieces, and two more for every
// kSplitPieceLength of its length (a sound cut of a loop into pieces of the table's length
// takes about one per hundred).
constexpr int kSplitPieces = 8;
constexpr int kSplitPieceLength = 50;
// Two triangles whose boxes only touch along an axis on which each reaches at least this part of
// its box's largest side are parted there by shrinking (kCapShrink) by some twenty times the
// crossing test's tolerance, so they cannot cross: the common case of mesh triangles beside a
// hole's cap, spared the test.
constexpr double kTouchReach = 1e-2;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Sub(const double a[3], const double b[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = a[k] - b[k];
}

void Cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// Twice the signed area of (a, b, c) in the plane of coordinates i, j.
double Orient2(const double a[3], const double b[3], const double c[3], int i, int j) {
  return (b[i] - a[i]) * (c[j] - a[j]) - (b[j] - a[j]) * (c[i] - a[i]);
}

bool InTriangle2(const double p[3], const Tri3& t, int i, int j, double tol) {
  const double d0 = Orient2(t[0], t[1], p, i, j), d1 = Orient2(t[1], t[2], p, i, j), d2 = Orient2(t[2], t[0], p, i, j);
  return (d0 >= -tol && d1 >= -tol && d2 >= -tol) || (d0 <= tol && d1 <= tol && d2 <= tol);
}

// Segment p-q against triangle t lying in the plane of p and q: the segment crosses an edge or an
// end lies inside; i, j are the coordinates kept after dropping the normal's largest.
bool CoplanarSegmentMeets(const double p[3], const double q[3], const Tri3& t, int i, int j, double tol) {
  if (InTriangle2(p, t, i, j, tol) || InTriangle2(q, t, i, j, tol)) return true;
  for (int k = 0; k < 3; ++k) {
    const double* a = t[k];
    const double* b = t[(k + 1) % 3];
    const double s1 = Orient2(p, q, a, i, j), s2 = Orient2(p, q, b, i, j);
    const double s3 = Orient2(a, b, p, i, j), s4 = Orient2(a, b, q, i, j);
    if (((s1 > tol && s2 < -tol) || (s1 < -tol && s2 > tol)) && ((s3 > tol && s4 < -tol) || (s3 < -tol && s4 > tol)))
      return true;
  }
  return false;
}

// Segment p-q against triangle t of unit normal n: distances within tol, and areas within
// areaTol in the coplanar case, count as touching.
bool SegmentMeets(const double p[3], const double q[3], const Tri3& t, const double n[3], double tol, double areaTol) {
  double d[3];
  Sub(p, t[0], d);
  const double dp = Dot(n, d);
  Sub(q, t[0], d);
  const double dq = Dot(n, d);
  if ((dp > tol && dq > tol) || (dp < -tol && dq < -tol)) return false;
  const double an[3] = {std::fabs(n[0]), std::fabs(n[1]), std::fabs(n[2])};
  const int drop = an[0] >= an[1] && an[0] >= an[2] ? 0 : an[1] >= an[2] ? 1 : 2;
  const int i = (drop + 1) % 3, j = (drop + 2) % 3;
  if (std::fabs(dp) <= tol && std::fabs(dq) <= tol) return CoplanarSegmentMeets(p, q, t, i, j, areaTol);
  const double s = std::clamp(dp / (dp - dq), 0.0, 1.0);
  double x[3];
  for (int k = 0; k < 3; ++k) x[k] = p[k] + s * (q[k] - p[k]);
  for (int k = 0; k < 3; ++k) {
    double e[3], w[3], c[3];
    Sub(t[(k + 1) % 3], t[k], e);
    Sub(x, t[k], w);
    Cross(e, w, c);
    if (Dot(c, n) < -tol * std::sqrt(Dot(e, e))) return false;
  }
  return true;
}

// Whether two triangles cross or overlap anywhere other than where they share corners or an edge.
// Triangles without area never do.
// A triangle drawn in toward its centroid for the crossing test, with its unit normal and size;
// flat when it has no area.
struct ShrunkTriangle {
  Tri3 s;
  double normal[3];
  double size;
  bool flat;
  explicit ShrunkTriangle(const Tri3& t) {
    double c[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) c[k] += t[i][k] / 3;
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) s[i][k] = t[i][k] + kCapShrink * (c[k] - t[i][k]);
    double e1[3], e2[3];
    Sub(s[1], s[0], e1);
    Sub(s[2], s[0], e2);
    Cross(e1, e2, normal);
    const double len = std::sqrt(Dot(normal, normal));
    flat = !(len > 0.0);
    for (int k = 0; k < 3 && !flat; ++k) normal[k] /= len;
    size = std::sqrt(std::max(Dot(e1, e1), Dot(e2, e2)));  // the longer side's length: sqrt keeps the order
  }
};

bool TrianglesCross(const ShrunkTriangle& a, const ShrunkTriangle& b) {
  if (a.flat || b.flat) return false;
  const Tri3* shrunk[2] = {&a.s, &b.s};
  const double* normal[2] = {a.normal, b.normal};
  const double size = std::max(a.size, b.size);
  const double tol = 1e-9 * size;
  // All corners of one strictly on one side of the other's plane: apart. Both in one plane:
  // apart when an edge line of one has the other wholly outside.
  bool flat = true;
  for (int h = 0; h < 2; ++h) {
    int above = 0, below = 0;
    for (int i = 0; i < 3; ++i) {
      double d[3];
      Sub((*shrunk[1 - h])[i], (*shrunk[h])[0], d);
      const double side = Dot(normal[h], d);
      above += side > tol;
      below += side < -tol;
    }
    if (above == 3 || below == 3) return false;
    flat = flat && above == 0 && below == 0;
  }
  if (flat) {
    const double an[3] = {std::fabs(normal[0][0]), std::fabs(normal[0][1]), std::fabs(normal[0][2])};
    const int drop = an[0] >= an[1] && an[0] >= an[2] ? 0 : an[1] >= an[2] ? 1 : 2;
    const int i = (drop + 1) % 3, j = (drop + 2) % 3;
    for (int h = 0; h < 2; ++h) {
      const double turn = Orient2((*shrunk[h])[0], (*shrunk[h])[1], (*shrunk[h])[2], i, j) > 0.0 ? 1.0 : -1.0;
      for (int k = 0; k < 3; ++k) {
        bool outside = true;
        for (int q = 0; q < 3 && outside; ++q)
          outside =
              turn * Orient2((*shrunk[h])[k], (*shrunk[h])[(k + 1) % 3], (*shrunk[1 - h])[q], i, j) < -tol * size;
        if (outside) return false;
      }
    }
    return true;
  }
  for (int h = 0; h < 2; ++h)
    for (int i = 0; i < 3; ++i)
      if (SegmentMeets((*shrunk[h])[i], (*shrunk[h])[(i + 1) % 3], *shrunk[1 - h], normal[1 - h], tol, tol * size))
        return true;
  return false;
}
void TrianglePoints(const Cloud* mesh, const int32_t* v, Tri3& t) {
  for (int i = 0; i < 3; ++i) GetCldPoint(mesh, v[i], t[i]);
}

// Many boxes (6 doubles each: min, max) marked on a coarse grid over them, cells about the size of
// the largest box, so that whether a box may meet one of them takes a look at a few cells.
struct NearBoxes {
  double lo[3] = {0.0, 0.0, 0.0};
  double hi[3] = {0.0, 0.0, 0.0};
  double cell = 1.0;
  double perCell = 1.0;  // 1 / cell: any rounding of it keeps cells in the order of x, all they need
  int dims[3] = {1, 1, 1};
  unsigned char* marked = nullptr;

  int CellOf(double x, int k) const {
    const double c = (x - lo[k]) * perCell;
    return !(c > 0.0) ? 0 : c >= dims[k] - 1 ? dims[k] - 1 : static_cast<int>(c);  // a NaN to the first
  }
  bool Build(const double* boxes, int n) {
    double largest = 0.0;
    for (int k = 0; k < 3; ++k) lo[k] = HUGE_VAL, hi[k] = -HUGE_VAL;
    for (int q = 0; q < n; ++q) {
      const double* b = boxes + 6L * q;
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], b[k]), hi[k] = std::max(hi[k], b[3 + k]);
        largest = std::max(largest, b[3 + k] - b[k]);
      }
    }
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-30});
    cell = std::max(largest, extent * 1e-3);
    // No more cells than a few per box.
    for (;;) {
      long cells = 1;
      for (int k = 0; k < 3; ++k) {
        dims[k] = static_cast<int>(std::min((hi[k] - lo[k]) / cell, 1e6)) + 1;
        cells *= dims[k];
      }
      if (cells <= 8L * n + 64) break;
      cell *= 1.5;
    }
    perCell = 1.0 / cell;
    marked = CallocArray<unsigned char>(static_cast<long>(dims[0]) * dims[1] * dims[2]);
    if (!marked) return false;
    for (int q = 0; q < n; ++q) {
      const double* b = boxes + 6L * q;
      ForCells(b[0], b[1], b[2], b[3], b[4], b[5], [&](long c) {
        marked[c] = 1;
        return false;
      });
    }
    return true;
  }
  template <class Visit>
  bool ForCells(double x0, double y0, double z0, double x1, double y1, double z1, Visit visit) const {
    const int i0 = CellOf(x0, 0), i1 = CellOf(x1, 0), j0 = CellOf(y0, 1), j1 = CellOf(y1, 1);
    const int k0 = CellOf(z0, 2), k1 = CellOf(z1, 2);
    for (int k = k0; k <= k1; ++k)
      for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i)
          if (visit(i + static_cast<long>(dims[0]) * (j + static_cast<long>(dims[1]) * k))) return true;
    return false;
  }
  // A point's cell along each axis (clamped to the grid) and the sides of the boxes' span it lies
  // beyond (a bit for each of below x, y, z, above x, y, z).
  struct PointCell {
    int32_t at[3];
    int32_t beyond;
  };
  PointCell* PointCells(const Cloud* mesh) const {
    PointCell* cells = MallocArray<PointCell>(std::max(mesh->npts, 1));
    if (!cells) return nullptr;
    for (int v = 0; v < mesh->npts; ++v) {
      const float p[3] = {mesh->x[v], mesh->y[v], mesh->z[v]};
      PointCell& c = cells[v];
      c.beyond = 0;
      for (int k = 0; k < 3; ++k) {
        c.beyond |= (p[k] < lo[k]) << k | (p[k] > hi[k]) << (3 + k);
        c.at[k] = CellOf(p[k], k);
      }
    }
    return cells;
  }
  // Whether the triangle of corners a, b, c may meet one of the boxes: its box meets their span (its
  // corners do not all lie beyond one side) and a marked cell. CellOf keeps the order of
  // coordinates, so the cells of the triangle's box run between those of its corners: read
  // without the box.
  bool MeetsCorners(const PointCell& a, const PointCell& b, const PointCell& c) const {
    if (a.beyond & b.beyond & c.beyond) return false;
    int from[3], to[3];
    for (int k = 0; k < 3; ++k) {
      from[k] = std::min({a.at[k], b.at[k], c.at[k]});
      to[k] = std::max({a.at[k], b.at[k], c.at[k]});
    }
    for (int k = from[2]; k <= to[2]; ++k)
      for (int j = from[1]; j <= to[1]; ++j)
        for (int i = from[0]; i <= to[0]; ++i)
          if (marked[i + static_cast<long>(dims[0]) * (j + static_cast<long>(dims[1]) * k)]) return true;
    return false;
  }
};

// The mesh's triangles binned on a uniform grid, to find those near a cap triangle without a
// pass over the mesh per loop. A triangle no wider than a cell in any direction sits in the one
// cell of its box's low corner, so a query looks one cell further down; the few wider ones are
// kept apart and looked at by every query.
struct TriangleBins {
  double lo[3] = {0.0, 0.0, 0.0};
  double cell = 1.0;
  double perCell = 1.0;  // as NearBoxes's
  int dims[3] = {1, 1, 1};
  int32_t* start = nullptr;  // per cell and one more: where its triangles begin in items
  int32_t* items = nullptr;  // kept numbers (below)
  int32_t* wide = nullptr;
  int nwide = 0;
  int32_t* keptTri = nullptr;  // per kept triangle, its number in the mesh (ascending)
  int nkept = 0;
  float* boxes = nullptr;      // per kept triangle: min x, y, z, max x, y, z
  ShrunkTriangle* shrunk = nullptr;  // those made so far
  int nshrunk = 0;
  int32_t* slot = nullptr;  // per kept triangle, where it is among those made, -1 before
  // Searched instead of the cells where a few triangles reaching far beyond the rest (corners
  // near the float range) leave nearly all others in one cell or among the wide ones.
  NearTree* tree = nullptr;

  int CellOf(double x, int k) const {
    const double c = (x - lo[k]) * perCell;
    return !(c > 0.0) ? 0 : c >= dims[k] - 1 ? dims[k] - 1 : static_cast<int>(c);  // a NaN to the first
  }
  long CellIndex(const float* b) const {
    return CellOf(b[0], 0) + static_cast<long>(dims[0]) * (CellOf(b[1], 1) + static_cast<long>(dims[1]) * CellOf(b[2], 2));
  }
  bool Wide(const float* b) const { return b[3] - b[0] > cell || b[4] - b[1] > cell || b[5] - b[2] > cell; }

  // Bins the triangles whose boxes meet one of the nboxes boxes (6 doubles each: min, max), the
  // only ones a query inside them can meet. With many boxes, those meeting a cell of a coarse grid
  // that one of the boxes meets: a few more, found without trying every box. In the same pass,
  // counts into *marked the kept triangles' corners at points `mark` flags (points inside the
  // boxes, so that every triangle at one is kept).
  bool Build(const Cloud* mesh, const double* near, int nboxes, const unsigned char* mark, long* marked) {
    const int n = mesh->ntri;
    boxes = MallocArray<float>(6, std::max(n, 1));
    keptTri = MallocArray<int32_t>(std::max(n, 1));
    if (!boxes || !keptTri) return false;
    NearBoxes filter;
    Owned<NearBoxes::PointCell, Free> corner;
    if (nboxes > kMaxFilterBoxes) {
      if (!filter.Build(near, nboxes)) return false;
      corner.reset(filter.PointCells(mesh));
      if (!corner) return false;
    }
    double all[6] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, sumSize = 0.0;
    nkept = 0;
    *marked = 0;
    for (int t = 0; t < n; ++t) {
      float* b = boxes + 6L * nkept;
      const int32_t* v = mesh->tri[t].v;
      if (corner && !filter.MeetsCorners(corner[v[0]], corner[v[1]], corner[v[2]])) continue;
      for (int k = 0; k < 3; ++k) {
        const float* c = k == 0 ? mesh->x : k == 1 ? mesh->y : mesh->z;
        b[k] = std::min({c[v[0]], c[v[1]], c[v[2]]});
        b[3 + k] = std::max({c[v[0]], c[v[1]], c[v[2]]});
      }
      bool kept = static_cast<bool>(corner);
      for (int q = 0; q < nboxes && !kept; ++q) {
        const double* box = near + 6L * q;
        kept = !(b[0] > box[3] || b[1] > box[4] || b[2] > box[5] || b[3] < box[0] || b[4] < box[1] || b[5] < box[2]);
      }
      if (!kept) continue;
      *marked += mark[v[0]] + mark[v[1]] + mark[v[2]];
      keptTri[nkept++] = t;
      for (int k = 0; k < 3; ++k) all[k] = std::min(all[k], double(b[k])), all[3 + k] = std::max(all[3 + k], double(b[3 + k]));
      // In doubles: a triangle from near -3e38 to near 3e38 spans more than a float holds.
      sumSize += std::max({double(b[3]) - b[0], double(b[4]) - b[1], double(b[5]) - b[2]});
    }
    if (nkept == 0) {  // nothing near: every query finds nothing
      start = CallocArray<int32_t>(2);
      return start != nullptr;
    }
    const double extent = std::max({all[3] - all[0], all[4] - all[1], all[5] - all[2], 1e-30});
    cell = std::max(2.0 * sumSize / nkept, extent * 1e-6);
    for (int k = 0; k < 3; ++k) lo[k] = all[k];
    // Cells about twice a triangle's size, no more than eight per triangle (cell numbers fit an
    // int32), few wide triangles. Finer cells than one per triangle leave a query fewer
    // triangles to try where the kept triangles lie thinly over their box, as round scattered holes.
    const long maxCells = std::min(8L * nkept + 64L, long{INT32_MAX});
    for (;;) {
      long cells = 1;
      for (int k = 0; k < 3; ++k) {
        dims[k] = static_cast<int>(std::min((all[3 + k] - all[k]) / cell, 1e6)) + 1;
        cells *= dims[k];
      }
      nwide = 0;
      if (cells <= maxCells)
        for (int i = 0; i < nkept; ++i) nwide += Wide(boxes + 6L * i);
      if (cells <= maxCells && nwide <= nkept / 16) break;
      cell *= 1.5;
    }
    perCell = 1.0 / cell;
    const long ncells = static_cast<long>(dims[0]) * dims[1] * dims[2];
    start = CallocArray<int32_t>(ncells + 1);
    items = MallocArray<int32_t>(std::max(nkept - nwide, 1));
    wide = MallocArray<int32_t>(std::max(nwide, 1));
    shrunk = MallocArray<ShrunkTriangle>(nkept);
    slot = MallocArray<int32_t>(nkept);
    if (!start || !items || !wide || !shrunk || !slot) return false;
    // slot holds each triangle's cell (-1 wide) while they are binned.
    nwide = 0;
    for (int i = 0; i < nkept; ++i) {
      slot[i] = Wide(boxes + 6L * i) ? -1 : static_cast<int32_t>(CellIndex(boxes + 6L * i));
      if (slot[i] < 0) wide[nwide++] = i;
      else ++start[slot[i] + 1];
    }
    for (long c = 0; c < ncells; ++c) start[c + 1] += start[c];
    for (int i = 0; i < nkept; ++i)
      if (slot[i] >= 0) items[start[slot[i]]++] = i;
    for (long c = ncells; c > 0; --c) start[c] = start[c - 1];
    start[0] = 0;
    std::fill(slot, slot + nkept, -1);
    long crowd = 0;
    for (long c = 0; c < ncells; ++c) crowd = std::max(crowd, long{start[c + 1] - start[c]});
    if (crowd + nwide <= kCrowdedCells) return true;
    double* wideBoxes = MallocArray<double>(6, nkept);
    if (!wideBoxes) return false;
    std::copy(boxes, boxes + 6L * nkept, wideBoxes);
    tree = BuildBoxTree(wideBoxes, nkept);
    return tree != nullptr;
  }

  // Kept triangle i drawn in for the crossing test, made once on first asking (the ones made lie
  // side by side, in the order asked).
  const ShrunkTriangle& Shrunk(const Cloud* mesh, int i) {
    if (slot[i] < 0) {
      Tri3 t;
      TrianglePoints(mesh, mesh->tri[keptTri[i]].v, t);
      new (&shrunk[nshrunk]) ShrunkTriangle(t);
      slot[i] = nshrunk++;
    }
    return shrunk[slot[i]];
  }

  // Calls visit(i) for every kept triangle i whose box meets the given one, leaving out those that
  // only touch it along an axis where both reach across (kTouchReach; for the query, as reaches
  // says): there shrinking parts them. Stops at a true result.
  template <class Visit>
  bool AnyNear(const double bmin[3], const double bmax[3], const bool reaches[3], Visit visit) const {
    auto meets = [&](int i) {
      const float* b = boxes + 6L * i;
      if (b[0] > bmax[0] || b[1] > bmax[1] || b[2] > bmax[2] || b[3] < bmin[0] || b[4] < bmin[1] || b[5] < bmin[2])
        return false;
      const double own = kTouchReach * std::max({b[3] - b[0], b[4] - b[1], b[5] - b[2]});
      for (int k = 0; k < 3; ++k)
        if ((b[3 + k] <= bmin[k] || b[k] >= bmax[k]) && reaches[k] && b[3 + k] - b[k] >= own)
          return false;
      return true;
    };
    if (tree) {
      // Every box meeting the query's lies within the query's half diagonal of its centre.
      double centre[3], half2 = 0.0, far = 0.0;
      for (int k = 0; k < 3; ++k) {
        centre[k] = 0.5 * bmin[k] + 0.5 * bmax[k];
        const double e = 0.5 * (bmax[k] - bmin[k]);
        half2 += e * e, far = std::max(far, std::fabs(centre[k]));
      }
      const double reach = std::sqrt(half2) * (1.0 + 1e-9) + 1e-14 * far;
      bool found = false;
      SearchNearTree(*tree, centre, [&] { return found ? -1.0 : reach * reach; }, [&](int i, double) {
        found = found || (meets(i) && visit(i));
      });
      return found;
    }
    for (int w = 0; w < nwide; ++w)
      if (meets(wide[w]) && visit(wide[w])) return true;
    int c0[3], c1[3];
    for (int k = 0; k < 3; ++k) c0[k] = CellOf(bmin[k] - cell, k), c1[k] = CellOf(bmax[k], k);
    for (int k = c0[2]; k <= c1[2]; ++k)
      for (int j = c0[1]; j <= c1[1]; ++j)
        for (int i = c0[0]; i <= c1[0]; ++i) {
          const long c = i + static_cast<long>(dims[0]) * (j + static_cast<long>(dims[1]) * k);
          for (int32_t at = start[c]; at < start[c + 1]; ++at)
            if (meets(items[at]) && visit(items[at])) return true;
        }
    return false;
  }
};

// Caps one loop at a time by clipping ears, the ear of least inner angle first. An ear is taken
// only when its new edge is not an edge of the mesh or of a cap made before and it crosses no
// mesh triangle near it and no triangle of its own cap; where the least angle's ear would, the
// next candidate is tried. Projected on the loop's mean plane, an ear must also be convex and
// hold no other loop vertex; when no ear passes that, any ear passing the first two tests does.
struct LoopCapper {
  Cloud* mesh = nullptr;
  IndexNode** around = nullptr;  // vertex-to-triangle lists of the loop vertices, caps entering as they are made
  IndexNode* nodes = nullptr;
  int used = 0;                  // nodes of the block taken
  TriangleBins bins;
  // One loop's scratch, room for the longest loop.
  int n = 0;
  int32_t* verts = nullptr;
  int32_t* prev = nullptr;
  int32_t* next = nullptr;
  double* angle = nullptr;  // inner angle, above pi where the loop turns back
  int32_t* order = nullptr;
  double (*pts)[3] = nullptr;
  int32_t* caps = nullptr;  // this loop's triangles, three loop positions each
  int32_t* saved = nullptr;  // the caps as they were before flips
  double* px = nullptr;     // the loop projected on its mean plane
  double* py = nullptr;
  int ncaps = 0;
  double normal[3] = {0.0, 0.0, 0.0};
  int piecesLeft = 0;  // pieces a cut loop may still try (SplitCap)

  bool Alloc(int room) {
    verts = MallocArray<int32_t>(room);
    prev = MallocArray<int32_t>(room);
    next = MallocArray<int32_t>(room);
    angle = MallocArray<double>(room);
    order = MallocArray<int32_t>(2 * room + 2);
    pts = reinterpret_cast<double(*)[3]>(MallocArray<double>(3, room));
    caps = MallocArray<int32_t>(3, room);
    saved = MallocArray<int32_t>(3, room);
    px = MallocArray<double>(room);
    py = MallocArray<double>(room);
    return verts && prev && next && angle && order && pts && caps && saved && px && py;
  }

  bool HasEdge(int a, int b) const {
    for (const IndexNode* t = around[a]; t; t = t->next)
      if (PolygonHasVertex(mesh, t->index, b)) return true;
    return false;
  }

  void UpdateAngle(int m) {
    const double* p = pts[prev[m]];
    const double* c = pts[m];
    const double* q = pts[next[m]];
    double a[3], b[3], x[3];
    Sub(p, c, a);
    Sub(q, c, b);
    Cross(b, a, x);
    const double inner = std::atan2(std::sqrt(Dot(x, x)), Dot(a, b));
    angle[m] = Dot(x, normal) > 0.0 ? inner : 2 * M_PI - inner;
  }

  bool CrossesNear(const Tri3& ear) { return CrossesMesh(ear) || CrossesOwnCap(ear); }

  // The triangle's box, and along which axes it reaches across (kTouchReach).
  static void ReachingBox(const Tri3& t, double bmin[3], double bmax[3], bool reaches[3]) {
    for (int k = 0; k < 3; ++k) {
      bmin[k] = std::min({t[0][k], t[1][k], t[2][k]});
      bmax[k] = std::max({t[0][k], t[1][k], t[2][k]});
    }
    const double reach = kTouchReach * std::max({bmax[0] - bmin[0], bmax[1] - bmin[1], bmax[2] - bmin[2]});
    for (int k = 0; k < 3; ++k) reaches[k] = bmax[k] - bmin[k] >= reach;
  }

  bool CrossesMesh(const Tri3& ear) {
    double bmin[3], bmax[3];
    bool reaches[3];
    ReachingBox(ear, bmin, bmax, reaches);
    // Drawn in only when some mesh triangle is near enough to be tried.
    std::optional<ShrunkTriangle> shrunk;
    return bins.AnyNear(bmin, bmax, reaches, [&](int i) {
      if (!shrunk) shrunk.emplace(ear);
      return TrianglesCross(*shrunk, bins.Shrunk(mesh, i));
    });
  }

  bool CrossesOwnCap(const Tri3& ear) const {
    const ShrunkTriangle shrunk(ear);
    for (int c = 0; c < ncaps; ++c) {
      Tri3 other;
      TriangleAt(c, other);
      if (TrianglesCross(shrunk, ShrunkTriangle(other))) return true;
    }
    return false;
  }

  // Seen along the normal, q lies in the ear (its border included).
  bool InEar(const Tri3& ear, const double q[3]) const {
    for (int k = 0; k < 3; ++k) {
      double e[3], w[3], c[3];
      Sub(ear[(k + 1) % 3], ear[k], e);
      Sub(q, ear[k], w);
      Cross(e, w, c);
      if (Dot(c, normal) < 0.0) return false;
    }
    return true;
  }

  bool EarAllowed(int m, bool strict) {
    const int p = prev[m], q = next[m];
    // Straight on or turning right back, the ear has no area: clipping it would only hide the
    // vertex in a flat triangle and leave the span to a later ear.
    const double inner = angle[m] > M_PI ? 2 * M_PI - angle[m] : angle[m];
    if (inner < kFlatEar || inner > M_PI - kFlatEar) return false;
    if (strict && angle[m] > M_PI) return false;
    if (n > 3 && HasEdge(verts[p], verts[q])) return false;
    const Tri3 ear = {{pts[p][0], pts[p][1], pts[p][2]}, {pts[m][0], pts[m][1], pts[m][2]}, {pts[q][0], pts[q][1], pts[q][2]}};
    if (strict)
      for (int r = next[q]; r != p; r = next[r])
        if (InEar(ear, pts[r])) return false;
    return !CrossesNear(ear);
  }

  void TriangleAt(int c, Tri3& t) const {
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) t[i][k] = pts[caps[3 * c + i]][k];
  }

  // The loop cut into ears on its mean plane (BreakPolyToTriangle), taken when the projected
  // triangles tile the projected loop (their unsigned areas sum to its area: none turns over and
  // no two overlap) and none makes a mesh edge or crosses the mesh.
  // The loop's first count points projected on its mean plane into px, py (counter-clockwise
  // about the normal), their largest coordinate and twice the projected loop's area into *size
  // and *area when given; false when the normal vanishes or the projected loop has no area.
  bool ProjectCount(int count, double* size = nullptr, double* area = nullptr) {
    const double len = std::sqrt(Dot(normal, normal));
    if (!(len > 0.0)) return false;
    const double w[3] = {normal[0] / len, normal[1] / len, normal[2] / len};
    const double seed[3] = {std::fabs(w[0]) < 0.6 ? 1.0 : 0.0, std::fabs(w[0]) < 0.6 ? 0.0 : 1.0, 0.0};
    double u[3], v[3];
    Cross(seed, w, u);
    const double ul = std::sqrt(Dot(u, u));
    for (int k = 0; k < 3; ++k) u[k] /= ul;
    Cross(w, u, v);
    double sum = 0.0, largest = 0.0;
    for (int i = 0; i < count; ++i) {
      double d[3];
      Sub(pts[i], pts[0], d);
      px[i] = Dot(d, u), py[i] = Dot(d, v);
      largest = std::max({largest, std::fabs(px[i]), std::fabs(py[i])});
    }
    for (int i = 0; i < count; ++i) {
      const int j = i + 1 < count ? i + 1 : 0;
      sum += px[i] * py[j] - px[j] * py[i];
    }
    if (size) *size = largest;
    if (area) *area = sum;
    return sum > 0.0;
  }

  bool ProjectedCap(int count, bool checkCrossing = true) {
    double area = 0.0, size = 0.0;
    ncaps = 0;
    if (!ProjectCount(count, &size, &area)) return false;
    for (int i = 0; i < count; ++i) order[i] = i;
    if (!BreakPolyToTriangle(count, order, px, py, &ncaps, caps) || ncaps != count - 2) return false;
    double sum = 0.0;
    for (int c = 0; c < ncaps; ++c) {
      const int* t = caps + 3 * c;
      const double a = (px[t[1]] - px[t[0]]) * (py[t[2]] - py[t[0]]) - (py[t[1]] - py[t[0]]) * (px[t[2]] - px[t[0]]);
      sum += std::fabs(a);  // flat ones along straight runs count as nothing
    }
    if (std::fabs(sum - area) > 1e-9 * size * size) return false;
    // One look round the whole cap first: a mesh triangle that only touches the cap's box, along
    // an axis every cap triangle reaches across, only touches each cap triangle's box there and is
    // passed over by each one's look too; when no other is near, none can cross the mesh.
    if (checkCrossing) {
      double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
      bool allReach[3] = {true, true, true};
      for (int c = 0; c < ncaps; ++c) {
        Tri3 tri;
        TriangleAt(c, tri);
        double bmin[3], bmax[3];
        bool reaches[3];
        ReachingBox(tri, bmin, bmax, reaches);
        for (int k = 0; k < 3; ++k)
          lo[k] = std::min(lo[k], bmin[k]), hi[k] = std::max(hi[k], bmax[k]), allReach[k] = allReach[k] && reaches[k];
      }
      checkCrossing = bins.AnyNear(lo, hi, allReach, [](int) { return true; });
    }
    for (int c = 0; c < ncaps; ++c) {
      const int* t = caps + 3 * c;
      for (int k = 0; k < 3; ++k) {
        const int a = t[k], b = t[(k + 1) % 3];
        if (next[a] != b && next[b] != a && HasEdge(verts[a], verts[b])) return false;
      }
      Tri3 tri;
      TriangleAt(c, tri);
      if (checkCrossing && CrossesMesh(tri)) return false;
    }
    return true;
  }

  // The cap of least area (by the table of least areas of the loop's stretches) among those
  // making no mesh edge and, with checkCrossing, whose triangles cross neither the mesh nor one
  // another. The crossing test, the costly one, is made only on the triangles of the table's
  // answer: those that fail are barred and the table made again. For the loops the clipper gets
  // stuck on; false for a loop too long for the table or when no such cap is found.
  bool LeastAreaCap(int count, bool checkCrossing) {
    if (count > kMaxTableLoop) return false;
    TrackingScope scope;
    const long cells = static_cast<long>(count) * count;
    const long words = (cells * count + 63) / 64;
    double* W = MallocArray<double>(cells);
    int32_t* K = MallocArray<int32_t>(cells);
    unsigned char* diagonal = MallocArray<unsigned char>(cells);  // 1 where the chord may be used
    uint64_t* barred = CallocArray<uint64_t>(words);
    uint64_t* passed = CallocArray<uint64_t>(words);
    if (!W || !K || !diagonal || !barred || !passed) return false;
    auto at = [count](int i, int j) { return static_cast<long>(i) * count + j; };
    auto bit = [&](int i, int k, int j) { return at(i, j) * count + k; };
    for (int i = 0; i < count; ++i)
      for (int j = i + 1; j < count; ++j)
        diagonal[at(i, j)] = j == i + 1 || (i == 0 && j == count - 1) || !HasEdge(verts[i], verts[j]);
    const double perRound = static_cast<double>(count) * count * count;
    const int rounds = std::max(1, std::min(kTableRounds, static_cast<int>(kTableWork / perRound)));
    for (int round = 0; round < rounds; ++round) {
      for (int i = 0; i + 1 < count; ++i) W[at(i, i + 1)] = 0.0;
      for (int gap = 2; gap < count; ++gap)
        for (int i = 0, j = gap; j < count; ++i, ++j) {
          double best = HUGE_VAL;
          K[at(i, j)] = -1;
          if (diagonal[at(i, j)])
            for (int k = i + 1; k < j; ++k) {
              const double wk = W[at(i, k)] + W[at(k, j)];
              if (!(wk < best)) continue;
              const long b = bit(i, k, j);
              if (barred[b >> 6] >> (b & 63) & 1) continue;
              double u[3], v[3], x[3];
              Sub(pts[k], pts[i], u);
              Sub(pts[j], pts[i], v);
              Cross(u, v, x);
              const double area = 0.5 * std::sqrt(Dot(x, x));
              if (!(area > kFlatEar * std::max(Dot(u, u), Dot(v, v))) || !(wk + area < best)) continue;
              best = wk + area;
              K[at(i, j)] = k;
            }
          W[at(i, j)] = best;
        }
      if (!(W[at(0, count - 1)] < HUGE_VAL)) return false;
      // The chosen triangles, stretch by stretch from the whole loop (order holds the stack).
      ncaps = 0;
      int depth = 0;
      order[depth++] = 0, order[depth++] = count - 1;
      while (depth > 0) {
        const int j = order[--depth], i = order[--depth];
        if (j - i < 2) continue;
        const int k = K[at(i, j)];
        caps[3 * ncaps] = i, caps[3 * ncaps + 1] = k, caps[3 * ncaps + 2] = j;
        ++ncaps;
        order[depth++] = i, order[depth++] = k, order[depth++] = k, order[depth++] = j;
      }
      if (!checkCrossing) return true;
      bool sound = true;
      for (int c = 0; c < ncaps; ++c) {
        const long b = bit(caps[3 * c], caps[3 * c + 1], caps[3 * c + 2]);
        if (passed[b >> 6] >> (b & 63) & 1) continue;
        Tri3 tri;
        TriangleAt(c, tri);
        if (CrossesMesh(tri)) barred[b >> 6] |= uint64_t{1} << (b & 63), sound = false;
        else passed[b >> 6] |= uint64_t{1} << (b & 63);
      }
      if (!sound) continue;
      for (int c = 0; c < ncaps; ++c) {
        Tri3 a, b;
        TriangleAt(c, a);
        for (int d = c + 1; d < ncaps; ++d) {
          TriangleAt(d, b);
          if (TrianglesCross(ShrunkTriangle(a), ShrunkTriangle(b))) return false;
        }
      }
      return true;
    }
    return false;
  }

  // The sine of the smallest corner angle of the triangle of loop positions a, b, c: twice its
  // area over the product of its two longer sides (the smallest angle lies between them).
  double LeastSine(int a, int b, int c) const {
    double u[3], v[3], w[3], x[3];
    Sub(pts[b], pts[a], u);
    Sub(pts[c], pts[b], v);
    Sub(pts[a], pts[c], w);
    Cross(u, v, x);
    const double s[3] = {Dot(u, u), Dot(v, v), Dot(w, w)};
    const double shortest = std::min({s[0], s[1], s[2]});
    const double longer = s[0] * s[1] * s[2] / (shortest > 0.0 ? shortest : 1.0);
    return longer > 0.0 ? std::sqrt(Dot(x, x) / longer) : 0.0;
  }

  double CapLeastSine() const {
    double least = 1.0;
    for (int c = 0; c < ncaps; ++c) least = std::min(least, LeastSine(caps[3 * c], caps[3 * c + 1], caps[3 * c + 2]));
    return least;
  }

  // Where the cap has a corner angle below kLeastCapAngle (flat triangles along straight runs of
  // the loop), Lawson's flips: a diagonal shared by two cap triangles that form a convex
  // quadrilateral seen along the normal is swapped for the other when that raises the smaller of
  // the two triangles' least angles, until no swap does. Each swap raises the sorted list of the
  // triangles' least angles, so the flips end; on a plane they end at the constrained Delaunay
  // cap, whose least angle is the largest any cap over the loop's points has. No swap makes a
  // mesh edge; with checkCrossing, the cap goes back to what it was when one of the triangles the
  // swaps made crosses a mesh triangle (checked once at the end: far cheaper than at each swap).
  // Nothing is swapped unless every cap triangle turns counter-clockwise seen along the normal, or
  // is flat (the cap then tiles the projected loop and a swap inside a convex quadrilateral keeps
  // it so). False only when memory runs out.
  bool MakeFairer(int count, bool checkCrossing) {
    double size = 0.0;
    const double floorSine = std::sin(kLeastCapAngle);
    if (ncaps < 2 || CapLeastSine() >= floorSine || !ProjectCount(count, &size)) return true;
    auto turn = [&](int a, int b, int c) {
      return (px[b] - px[a]) * (py[c] - py[a]) - (py[b] - py[a]) * (px[c] - px[a]);
    };
    // Flat triangles turn either way by round-off.
    for (int t = 0; t < ncaps; ++t)
      if (!(turn(caps[3 * t], caps[3 * t + 1], caps[3 * t + 2]) > -1e-9 * size * size)) return true;
    TrackingScope scope;
    // across[3t + k]: the side of the triangle beyond side k of triangle t (corners k, k + 1), -1
    // on the loop; sides are matched through their ends' keys in sorted order.
    int32_t* across = MallocArray<int32_t>(3, ncaps);
    int32_t* sides = MallocArray<int32_t>(3, ncaps);
    unsigned char* changed = CallocArray<unsigned char>(ncaps);
    if (!across || !sides || !changed) return false;
    std::copy(caps, caps + 3 * ncaps, saved);
    auto key = [&](int side) {
      const int a = caps[side], b = caps[side / 3 * 3 + (side % 3 + 1) % 3];
      return static_cast<int64_t>(std::min(a, b)) * count + std::max(a, b);
    };
    for (int s = 0; s < 3 * ncaps; ++s) sides[s] = s, across[s] = -1;
    std::sort(sides, sides + 3 * ncaps, [&](int a, int b) { return key(a) < key(b); });
    for (int i = 0; i + 1 < 3 * ncaps; ++i)
      if (key(sides[i]) == key(sides[i + 1])) across[sides[i]] = sides[i + 1], across[sides[i + 1]] = sides[i];
    for (int pass = 0, flipped = 1; flipped && pass < 4 * count; ++pass) {
      flipped = 0;
      for (int s = 0; s < 3 * ncaps; ++s) {
        const int o = across[s];
        if (o < 0) continue;
        const int t = s / 3, k = s % 3, u = o / 3, l = o % 3;
        // Triangle t runs a, b, c, triangle u runs b, a, d: the quadrilateral a, d, b, c.
        const int a = caps[3 * t + k], b = caps[3 * t + (k + 1) % 3], c = caps[3 * t + (k + 2) % 3];
        const int d = caps[3 * u + (l + 2) % 3];
        if (!(turn(a, d, c) > 0.0) || !(turn(d, b, c) > 0.0)) continue;
        if (std::abs(c - d) == 1 || std::abs(c - d) == count - 1) continue;
        const double before = std::min(LeastSine(a, b, c), LeastSine(b, a, d));
        if (!(std::min(LeastSine(a, d, c), LeastSine(d, b, c)) > before * (1.0 + 1e-9))) continue;
        if (HasEdge(verts[c], verts[d])) continue;
        changed[t] = changed[u] = 1;
        // The outer sides: b-c and c-a of t, a-d and d-b of u.
        const int bc = across[3 * t + (k + 1) % 3], ca = across[3 * t + (k + 2) % 3];
        const int ad = across[3 * u + (l + 1) % 3], db = across[3 * u + (l + 2) % 3];
        // t becomes a, d, c (sides a-d, d-c, c-a), u becomes d, b, c (sides d-b, b-c, c-d).
        caps[3 * t] = a, caps[3 * t + 1] = d, caps[3 * t + 2] = c;
        caps[3 * u] = d, caps[3 * u + 1] = b, caps[3 * u + 2] = c;
        const int link[6][2] = {{3 * t, ad}, {3 * t + 1, 3 * u + 2}, {3 * t + 2, ca},
                                {3 * u, db}, {3 * u + 1, bc}, {3 * u + 2, 3 * t + 1}};
        for (const auto& [side, other] : link) {
          across[side] = other;
          if (other >= 0) across[other] = side;
        }
        flipped = 1;
      }
    }
    for (int t = 0; t < ncaps && checkCrossing; ++t) {
      Tri3 tri;
      TriangleAt(t, tri);
      if (changed[t] && CrossesMesh(tri)) {
        std::copy(saved, saved + 3 * ncaps, caps);
        break;
      }
    }
    return true;
  }

  // The loop's points, links and mean plane normal (Newell's sum, pointing the way it turns).
  void Setup(int count) {
    n = count;
    ncaps = 0;
    for (int i = 0; i < n; ++i) {
      GetCldPoint(mesh, verts[i], pts[i]);
      prev[i] = i > 0 ? i - 1 : n - 1;
      next[i] = i + 1 < n ? i + 1 : 0;
    }
    normal[0] = normal[1] = normal[2] = 0.0;
    for (int i = 0; i < n; ++i) {
      const double* a = pts[i];
      const double* b = pts[next[i]];
      normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
      normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
      normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
  }

  // Caps the loop verts[0..count) (mesh points, in the order the cap runs) into caps: on its
  // plane where that is sound, else by clipping ears in 3D, else by the table of least areas,
  // else (a loop too long for the table) cut in two along a chord, each piece capped so.
  // 1 capped soundly; 0 capped although a cap triangle crosses the mesh (which then itself folds
  // over there: no sound cap was found); -1 left open: a loop without area (a slit), which fits
  // no plane; -2 left open, every cap tried making an edge the mesh has.
  int CapLoop(int count) {
    Setup(count);
    double perimeter = 0.0;
    for (int i = 0; i < count; ++i) perimeter += VecDist3(pts[i], pts[next[i]]);
    if (!(std::sqrt(Dot(normal, normal)) > 1e-9 * perimeter * perimeter)) return -1;
    if (CapInSpace(count) || LeastAreaCap(count, true)) {
      MakeFairer(count, true);
      return 1;
    }
    Setup(count);
    if (SplitCap(count, true)) {
      MakeFairer(count, true);
      return 1;
    }
    if (!ProjectedCap(count, false) && !LeastAreaCap(count, false) && !SplitCap(count, false)) return -2;
    MakeFairer(count, false);
    return 0;
  }

  // A loop too long for the table cut along a chord into two loops, each capped on its own (on
  // its own plane, by ears or the table, cut again while still too long) into caps, in positions
  // of the whole loop. Chords are tried shortest first against the shorter way round between their
  // ends, among those leaving each piece between a third and a half of the loop (so the cuts go
  // no deeper than the logarithm of the length) and making no mesh edge, until one gives two caps
  // that are sound (with checkCrossing: neither crosses the mesh nor the other). The pieces meet
  // only at the chord, which each runs once: no edge gets a third triangle. False, the loop as it
  // was, when no chord tried does.
  bool SplitCap(int count, bool checkCrossing, bool outermost = true) {
    if (count <= kMaxTableLoop) return false;
    // Pieces that fail are cut again along other chords: the budget keeps a loop no cap suits
    // from trying every chord at every depth.
    if (outermost) piecesLeft = kSplitPieces + 2 * count / kSplitPieceLength;
    TrackingScope scope;
    int32_t* whole = MallocArray<int32_t>(count);
    double* along = MallocArray<double>(count + 1);  // path length from position 0
    int32_t* piece = MallocArray<int32_t>(count);    // a piece's positions in the whole loop
    int32_t* out = MallocArray<int32_t>(3, count);
    int64_t* chords = MallocArray<int64_t>(kSplitChords);
    double* scores = MallocArray<double>(kSplitChords);
    if (!whole || !along || !piece || !out || !chords || !scores) return false;
    std::copy(verts, verts + count, whole);
    along[0] = 0.0;
    for (int i = 0; i < count; ++i) along[i + 1] = along[i] + VecDist3(pts[i], pts[i + 1 < count ? i + 1 : 0]);
    // The best few chords, kept sorted by score.
    int nchords = 0;
    for (int i = 0; i < count; ++i)
      for (int gap = (count + 2) / 3; gap <= count / 2; ++gap) {
        const int j = (i + gap) % count;
        if (gap == count / 2 && j < i) continue;  // the same chord from its other end
        const double path = std::min(std::fabs(along[j] - along[i]), along[count] - std::fabs(along[j] - along[i]));
        const double score = VecDist3(pts[i], pts[j]) / path;
        if (!(score > 0.0 && score < HUGE_VAL) || (nchords == kSplitChords && !(score < scores[nchords - 1]))) continue;
        if (HasEdge(verts[i], verts[j])) continue;
        int at = std::min(nchords, kSplitChords - 1);
        for (; at > 0 && !(scores[at - 1] <= score); --at) {
          scores[at] = scores[at - 1], chords[at] = chords[at - 1];
        }
        scores[at] = score, chords[at] = static_cast<int64_t>(std::min(i, j)) * count + std::max(i, j);
        nchords = std::min(nchords + 1, kSplitChords);
      }
    for (int c = 0; c < nchords; ++c) {
      const int i = static_cast<int>(chords[c] / count), j = static_cast<int>(chords[c] % count);
      int made = 0, firstPiece = 0;
      bool capped = true;
      for (int side = 0; side < 2 && capped; ++side) {
        // Side 0 runs i..j, side 1 runs j..i round the end: each keeps the loop's sense.
        const int from = side == 0 ? i : j, to = side == 0 ? j : i;
        int m = 0;
        for (int q = from;; q = q + 1 < count ? q + 1 : 0) {
          piece[m] = q, verts[m] = whole[q], ++m;
          if (q == to) break;
        }
        capped = piecesLeft-- > 0 && CapPiece(m, checkCrossing);
        for (int t = 0; capped && t < ncaps; ++t)
          for (int k = 0; k < 3; ++k) out[3 * made + 3 * t + k] = piece[caps[3 * t + k]];
        if (capped) made += ncaps;
        if (side == 0) firstPiece = made;
      }
      std::copy(whole, whole + count, verts);
      Setup(count);
      if (!capped || made != count - 2) continue;
      std::copy(out, out + 3 * made, caps);
      ncaps = made;
      if (!checkCrossing || !PiecesCross(firstPiece)) return true;
    }
    ncaps = 0;
    return false;
  }

  // A piece of a cut loop, verts[0..count), capped as CapLoop caps a loop (its mean plane its own).
  bool CapPiece(int count, bool checkCrossing) {
    Setup(count);
    const bool capped = checkCrossing ? CapInSpace(count) || LeastAreaCap(count, true)
                                : ProjectedCap(count, false) || LeastAreaCap(count, false);
    if (capped) return MakeFairer(count, checkCrossing);
    Setup(count);
    return SplitCap(count, checkCrossing, false);
  }

  // Whether a cap triangle of the first `first` crosses one of the rest, the pairs whose boxes
  // meet tried.
  bool PiecesCross(int first) const {
    TrackingScope scope;
    double* boxes = MallocArray<double>(6, std::max(ncaps, 1));
    if (!boxes) return true;
    for (int c = 0; c < ncaps; ++c) {
      Tri3 t;
      TriangleAt(c, t);
      bool reaches[3];
      ReachingBox(t, boxes + 6L * c, boxes + 6L * c + 3, reaches);
    }
    for (int a = 0; a < first; ++a)
      for (int b = first; b < ncaps; ++b) {
        const double* x = boxes + 6L * a;
        const double* y = boxes + 6L * b;
        if (x[0] > y[3] || x[1] > y[4] || x[2] > y[5] || y[0] > x[3] || y[1] > x[4] || y[2] > x[5]) continue;
        Tri3 ta, tb;
        TriangleAt(a, ta);
        TriangleAt(b, tb);
        if (TrianglesCross(ShrunkTriangle(ta), ShrunkTriangle(tb))) return true;
      }
    return false;
  }

  // The first two ways of CapLoop; false when the clipper finds no ear at some stage.
  bool CapInSpace(int count) {
    if (ProjectedCap(count)) return true;
    ncaps = 0;
    for (int i = 0; i < n; ++i) UpdateAngle(i);
    int any = 0;
    while (n > 3) {
      int k = 0, least = any;
      for (int i = next[any];; i = next[i]) {
        order[k++] = i;
        if (angle[i] < angle[least]) least = i;
        if (i == any) break;
      }
      int m = EarAllowed(least, true) ? least : -1;
      if (m < 0) {
        // The next candidates by angle, a bounded number of them: a long loop where many fail
        // goes on to the table or is reported rather than taking time of the cube of its length.
        const int tried = std::min(k, kEarCandidates);
        std::partial_sort(order, order + tried, order + k,
                          [&](int a, int b) { return angle[a] < angle[b] || (angle[a] == angle[b] && a < b); });
        for (int pass = 0; pass < 2 && m < 0; ++pass)
          for (int i = 0; i < tried && m < 0; ++i)
            if ((pass > 0 || order[i] != least) && EarAllowed(order[i], pass == 0)) m = order[i];
      }
      if (m < 0) return false;
      const int p = prev[m], q = next[m];
      caps[3 * ncaps] = p, caps[3 * ncaps + 1] = m, caps[3 * ncaps + 2] = q;
      ++ncaps;
      next[p] = q, prev[q] = p;
      --n;
      UpdateAngle(p), UpdateAngle(q);
      any = p;
    }
    const int p = prev[any], q = next[any];
    const Tri3 last = {{pts[p][0], pts[p][1], pts[p][2]}, {pts[any][0], pts[any][1], pts[any][2]}, {pts[q][0], pts[q][1], pts[q][2]}};
    if (CrossesNear(last)) return false;
    caps[3 * ncaps] = p, caps[3 * ncaps + 1] = any, caps[3 * ncaps + 2] = q;
    ++ncaps;
    return true;
  }

  // Appends this loop's cap to the mesh (which has the room) and to the vertex lists.
  void Commit() {
    for (int c = 0; c < ncaps; ++c) {
      CloudTriangle& t = mesh->tri[mesh->ntri];
      for (int k = 0; k < 3; ++k) t.v[k] = verts[caps[3 * c + k]];
      MakeCldPolyPlane(mesh, &t);
      UpdatePolyPointers(mesh, mesh->ntri, around, nodes, &used);
      ++mesh->ntri;
    }
  }
};

// How often the mesh triangles on the loop's edges run them along the loop's order, less how often
// against it: above 0, a cap facing the mesh's way runs the loop the other way round.
int RunsAlongMesh(const Cloud* mesh, IndexNode* const* around, const int32_t* verts, int n) {
  int along = 0;
  for (int i = 0; i < n; ++i) {
    const int v = verts[i], w = verts[i + 1 < n ? i + 1 : 0];
    for (const IndexNode* t = around[v]; t; t = t->next) {
      const int32_t* c = mesh->tri[t->index].v;
      for (int k = 0; k < 3; ++k)
        if (c[k] == v && c[(k + 1) % 3] == w) ++along;
        else if (c[k] == w && c[(k + 1) % 3] == v) --along;
    }
  }
  return along;
}

// The loop's vertices in walking order into verts, turned so that the loop runs against the
// mesh triangles on its edges (as a cap facing the mesh's way runs); false for an open chain.
bool LoopVertices(const Cloud* mesh, const int32_t* edges, const IndexNode* head, IndexNode* const* around,
                  int32_t* verts, int* count) {
  const IndexNode* second = head->next;
  if (!second || !second->next) return false;
  const int a = edges[2 * head->index], b = edges[2 * head->index + 1];
  const int s0 = edges[2 * second->index], s1 = edges[2 * second->index + 1];
  int v = (a == s0 || a == s1) ? b : a, n = 0;
  for (const IndexNode* e = head; e; e = e->next) {
    const int x = edges[2 * e->index], y = edges[2 * e->index + 1];
    if (x != v && y != v) return false;
    verts[n++] = v;
    v = x == v ? y : x;
  }
  if (v != verts[0]) return false;
  if (RunsAlongMesh(mesh, around, verts, n) > 0) std::reverse(verts + 1, verts + n);
  *count = n;
  return true;
}

// (b - a) x (c - a) of three mesh points.
void TriangleNormalOf(const Cloud* mesh, int a, int b, int c, double out[3]) {
  double pa[3], pb[3], pc[3], u[3], w[3];
  GetCldPoint(mesh, a, pa);
  GetCldPoint(mesh, b, pb);
  GetCldPoint(mesh, c, pc);
  for (int k = 0; k < 3; ++k) u[k] = pb[k] - pa[k], w[k] = pc[k] - pa[k];
  VecCrossProd3(u, w, out);
}

// Points of a slit whose places along it differ by less than this share of its length are one
// place: two points there that are not one point would need welding, not zipping.
constexpr double kSlitSamePlace = 1e-9;
// A slit's points lie within this share of its length of the line through its ends. So does a
// thin loop whose every cap crosses the mesh (a T-junction whose middle points stray into the
// triangle across, the mesh overlapping itself there), zipped too: the fans follow the points
// whichever side they stray to.
constexpr double kSlitOffLine = 1e-2;

// Zips the slit of the n loop vertices in c->verts (a loop without area, as where two faces meet
// at a T-junction without sharing points): seen from its two ends the loop is two chains along a
// line; each mesh triangle on an edge of one chain is split, as a fan from its far corner facing
// its way, at the points of the other chain inside that edge, so that both chains run through the
// same points and share their edges. The n - 2 new triangles go into the mesh's room and the
// lists. false with nothing changed where the points do not lie along a line, a chain turns back,
// two points of the chains are at one place, an edge of a fan is already an edge of the mesh, or
// a fan triangle would turn over against the triangle it comes from.
bool ZipSlit(LoopCapper* c, int n) {
  Cloud* mesh = c->mesh;
  const int32_t* v = c->verts;
  double(*p)[3] = c->pts;
  double* t = c->angle;  // place along the slit, 0 at one end, 1 at the other
  for (int i = 0; i < n; ++i) GetCldPoint(mesh, v[i], p[i]);
  int e1 = 0, e2 = 0;
  for (int i = 0; i < n; ++i)
    if (VecDist3(p[i], p[0]) > VecDist3(p[e1], p[0])) e1 = i;
  for (int i = 0; i < n; ++i)
    if (VecDist3(p[i], p[e1]) > VecDist3(p[e2], p[e1])) e2 = i;
  const double length = VecDist3(p[e1], p[e2]);
  if (!(length > 0)) return false;
  double d[3];
  for (int k = 0; k < 3; ++k) d[k] = (p[e2][k] - p[e1][k]) / length;
  for (int i = 0; i < n; ++i) {
    double off[3];
    for (int k = 0; k < 3; ++k) off[k] = p[i][k] - p[e1][k];
    t[i] = VecDotProd3(off, d) / length;
    for (int k = 0; k < 3; ++k) off[k] -= t[i] * length * d[k];
    if (!(std::sqrt(VecDotProd3(off, off)) <= kSlitOffLine * length)) return false;
  }
  // From e1 the loop runs forward to e2 with t rising, then back to e1 with t falling.
  for (int i = e1; i != e2; i = (i + 1) % n)
    if (!(t[(i + 1) % n] > t[i])) return false;
  for (int i = e2; i != e1; i = (i + 1) % n)
    if (!(t[(i + 1) % n] < t[i])) return false;
  // Each loop edge i (v[i] -> v[i + 1]) and the points of the other chain inside it, in order
  // from the edge's start, in plan[firstOf[i] .. firstOf[i + 1]); checked whole before the mesh
  // changes.
  int32_t* plan = c->order;
  int32_t* firstOf = c->prev;
  int planned = 0;
  for (int i = 0; i < n; ++i) {
    firstOf[i] = planned;
    const int j = (i + 1) % n;
    const double lo = std::min(t[i], t[j]), hi = std::max(t[i], t[j]);
    // Walked on from the edge's end, the rest of its chain lies beyond the edge and the other
    // chain's points come from the edge's end towards its start.
    for (int k = (j + 1) % n; k != i; k = (k + 1) % n) {
      if (std::fabs(t[k] - t[i]) <= kSlitSamePlace || std::fabs(t[k] - t[j]) <= kSlitSamePlace) return false;
      if (t[k] > lo && t[k] < hi) plan[planned++] = k;
    }
    std::reverse(plan + firstOf[i], plan + planned);
  }
  firstOf[n] = planned;
  if (planned != n - 2) return false;
  // The triangle on each edge with points; its fan's edges to the far corner must be new.
  int32_t* tri = c->next;
  int32_t* far = c->caps;
  for (int i = 0; i < n; ++i) {
    tri[i] = -1;
    if (firstOf[i + 1] == firstOf[i]) continue;
    const int a = v[i], b = v[(i + 1) % n];
    for (const IndexNode* node = c->around[a]; node && tri[i] < 0; node = node->next)
      if (PolygonHasVertex(mesh, node->index, b)) tri[i] = node->index;
    if (tri[i] < 0) return false;
    const int32_t* w = mesh->tri[tri[i]].v;
    far[i] = w[0] != a && w[0] != b ? w[0] : w[1] != a && w[1] != b ? w[1] : w[2];
    for (int r = 0; r < n; ++r)
      if (v[r] == far[i]) return false;
    for (int q = firstOf[i]; q < firstOf[i + 1]; ++q)
      if (c->HasEdge(v[plan[q]], far[i])) return false;
    // Each fan triangle faces as the triangle does: its points run from a to b, or b to a.
    const int k = w[2] == far[i] ? 0 : w[0] == far[i] ? 1 : 2;
    const bool along = w[k] == a;
    double whole[3], piece[3];
    TriangleNormalOf(mesh, w[k], w[(k + 1) % 3], far[i], whole);
    for (int q = 0; q <= firstOf[i + 1] - firstOf[i]; ++q) {
      const int from = q == 0 ? a : v[plan[firstOf[i] + q - 1]];
      const int to = q == firstOf[i + 1] - firstOf[i] ? b : v[plan[firstOf[i] + q]];
      if (along) TriangleNormalOf(mesh, from, to, far[i], piece);
      else TriangleNormalOf(mesh, to, from, far[i], piece);
      if (!(VecDotProd3(whole, piece) > 0)) return false;
    }
  }
  for (int i = 0; i < n; ++i) {
    if (tri[i] < 0) continue;
    const int T = tri[i], x = far[i];
    int32_t* w = mesh->tri[T].v;
    int k = 0;
    while (w[(k + 2) % 3] != x) ++k;
    const int u = w[k], end = w[(k + 1) % 3];
    const int count = firstOf[i + 1] - firstOf[i];
    // The points in the triangle's own sense, u to end.
    auto point = [&](int q) { return v[plan[u == v[i] ? firstOf[i] + q : firstOf[i + 1] - 1 - q]]; };
    // T keeps the first piece; its node moves from end's list to the first point's.
    w[(k + 1) % 3] = point(0);
    MakeCldPolyPlane(mesh, &mesh->tri[T]);
    for (IndexNode** link = &c->around[end]; *link; link = &(*link)->next)
      if ((*link)->index == T) {
        IndexNode* node = *link;
        *link = node->next;
        node->next = c->around[point(0)];
        c->around[point(0)] = node;
        break;
      }
    for (int q = 0; q < count; ++q) {
      CloudTriangle& piece = mesh->tri[mesh->ntri];
      piece.v[0] = point(q), piece.v[1] = q + 1 < count ? point(q + 1) : end, piece.v[2] = x;
      MakeCldPolyPlane(mesh, &piece);
      UpdatePolyPointers(mesh, mesh->ntri, c->around, c->nodes, &c->used);
      ++mesh->ntri;
    }
  }
  return true;
}

}  // namespace

struct HoleCapper : LoopCapper {};

namespace {

// BeginHoleCaps on a mesh whose corners are known to name points.
HoleCapper* StartHoleCaps(Cloud* mesh, const int32_t* edges, IndexNode* const* loops, int nloops, long room) {
  // Each loop's box: every cap triangle lies inside its loop's.
  double* loopBoxes = MallocArray<double>(6, std::max(nloops, 1));
  HoleCapper* c = MallocArray<HoleCapper>(1);
  unsigned char* onLoop = CallocArray<unsigned char>(mesh->npts);
  if (!loopBoxes || !c || !onLoop) return nullptr;
  new (c) HoleCapper();
  int longest = 0;
  for (int l = 0; l < nloops; ++l) {
    double* box = loopBoxes + 6L * l;
    std::fill(box, box + 3, HUGE_VAL);
    std::fill(box + 3, box + 6, -HUGE_VAL);
    int size = 0;
    for (const IndexNode* e = loops[l]; e; e = e->next, ++size)
      for (int end = 0; end < 2; ++end) {
        double p[3];
        onLoop[edges[2 * e->index + end]] = 1;
        GetCldPoint(mesh, edges[2 * e->index + end], p);
        for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
      }
    longest = std::max(longest, size);
  }
  // Triangle lists are only ever read at loop vertices (caps have only those): only theirs are made.
  long marked = 0;
  if (!c->Alloc(longest + 1) || !c->bins.Build(mesh, loopBoxes, nloops, onLoop, &marked)) return nullptr;
  c->mesh = mesh;
  c->around = MallocArray<IndexNode*>(mesh->npts);
  c->nodes = MallocArray<IndexNode>(marked + 3 * room);
  c->used = static_cast<int>(marked);
  if (!c->around || !c->nodes) return nullptr;
  // Every triangle at a loop vertex is near its loop, so the kept ones give the lists; in the order
  // of MakeMarkedPolyPointers.
  std::fill(c->around, c->around + mesh->npts, nullptr);
  IndexNode* node = c->nodes;
  for (int i = 0; i < c->bins.nkept; ++i) {
    const int t = c->bins.keptTri[i];
    for (int k = 0; k < 3; ++k) {
      const int32_t v = mesh->tri[t].v[k];
      if (onLoop[v]) *node = {c->around[v], t}, c->around[v] = node++;
    }
  }
  return c;
}

}  // namespace

HoleCapper* BeginHoleCaps(Cloud* mesh, const int32_t* edges, IndexNode* const* loops, int nloops, long room) {
  if (!MeshCornersNamePoints(mesh, nullptr)) return nullptr;
  return StartHoleCaps(mesh, edges, loops, nloops, room);
}

int HoleCapsSound(HoleCapper* c, const int* tri, int count) {
  TrackingScope scope;
  // Every cap edge as (low, high), to count the caps' own uses of it beside the mesh's.
  int64_t* keys = MallocArray<int64_t>(3, std::max(count, 1));
  if (!keys) return 0;
  for (int t = 0; t < count; ++t)
    for (int k = 0; k < 3; ++k) {
      const int64_t a = tri[3 * t + k], b = tri[3 * t + (k + 1) % 3];
      keys[3 * t + k] = std::min(a, b) << 32 | std::max(a, b);
    }
  std::sort(keys, keys + 3L * count);
  for (long i = 0; i < 3L * count;) {
    long j = i;
    while (j < 3L * count && keys[j] == keys[i]) ++j;
    const int a = static_cast<int>(keys[i] >> 32), b = static_cast<int>(keys[i] & 0xffffffff);
    int uses = static_cast<int>(j - i);
    for (const IndexNode* t = c->around[a]; t && uses <= 2; t = t->next) uses += PolygonHasVertex(c->mesh, t->index, b);
    if (uses > 2) return 0;
    i = j;
  }
  for (int t = 0; t < count; ++t) {
    Tri3 p;
    TrianglePoints(c->mesh, tri + 3 * t, p);
    if (c->CrossesMesh(p)) return 0;
  }
  return 1;
}

int CapHoleLoop(HoleCapper* c, const int* verts, int n, int* tri) {
  std::copy(verts, verts + n, c->verts);
  const bool turned = RunsAlongMesh(c->mesh, c->around, c->verts, n) > 0;
  if (turned) std::reverse(c->verts + 1, c->verts + n);
  const int capped = c->CapLoop(n);
  if (capped >= 0)
    for (int t = 0; t < c->ncaps; ++t)
      for (int k = 0; k < 3; ++k) tri[3 * t + k] = c->verts[c->caps[3 * t + k]];
  return capped;
}

int CapAllLoops(Cloud* mesh) {
  if (!mesh) {
    SetKernelError(-2);
    return 1;
  }
  if (mesh->ntri < 1) return 1;
  // The search grids are sized from the points' extent, which a non-finite point leaves without a size.
  if (!CloudPointsFinite(mesh)) {
    SetKernelError(-2);
    return 1;
  }
  Owned<int32_t, Free> edges;
  Owned<IndexNode*, Free> loops;
  Owned<int, Free> sizes;
  Owned<IndexNode, Free> loopNodes;
  int nloops = 0;
  if (!MakeBoundaryLoops(mesh, edges.receive(), loops.receive(), &nloops, sizes.receive(), loopNodes.receive())) {
    // No loop, no memory, or a triangle that names no point (the loop finding refuses it without
    // a pass of its own, and the mesh is still untouched): only the last is a failure of the call.
    if (!MeshCornersNamePoints(mesh, nullptr)) SetKernelError(-2);
    return 1;
  }
  long room = 0;
  for (int l = 0; l < nloops; ++l) room += std::max(sizes[l] - 2, 0);
  if (mesh->ntri + room > INT32_MAX || !ReallocCldPolyList(mesh, static_cast<int>(mesh->ntri + room))) return 1;
  TrackingScope scope;
  HoleCapper* capper = StartHoleCaps(mesh, edges.get(), loops.get(), nloops, room);
  if (!capper) {
    ReallocCldPolyList(mesh, mesh->ntri);
    return 1;
  }
  bool unsound = false;
  // Slits, and thin loops every cap of which crosses the mesh, are zipped once every other hole is
  // capped: a zip splits mesh triangles the caps' checks hold.
  int* later = MallocArray<int>(nloops);
  int nlater = 0;
  if (!later) {
    ReallocCldPolyList(mesh, mesh->ntri);
    return 1;
  }
  // Each hole not capped soundly is named with the reason.
  auto report = [&](int l, bool closed, int capped) {
    if (capped == 0 || capped == -2) unsound = true;
    const char* why = !closed       ? " left open: its edges run no single closed way round"
                      : capped == -1 ? " left open: it has no area (a slit) and its sides cannot be zipped"
                      : capped == -2 ? " left open: every cap tried (on its plane, by ears, by least area, a long loop cut along its shortest chords) would give an edge of the mesh a third triangle"
                      : capped == 0  ? " capped across a fold of the mesh: no cap avoids crossing it"
                                     : nullptr;
    if (why) InfoMessageFormat("%s %d %s%s\n", MSGstr("Hole"), l + 1, MSGstr("of the mesh"), MSGstr(why));
  };
  for (int l = 0; l < nloops; ++l) {
    int n = 0;
    // Open chains are skipped.
    const bool closed = LoopVertices(mesh, edges.get(), loops[l], capper->around, capper->verts, &n);
    const int capped = closed ? capper->CapLoop(n) : 1;
    if (closed && (capped == -1 || capped == 0)) {
      later[nlater++] = l;
      continue;
    }
    if (closed && capped >= 0) capper->Commit();
    report(l, closed, capped);
  }
  for (int s = 0; s < nlater; ++s) {
    const int l = later[s];
    int n = 0;
    LoopVertices(mesh, edges.get(), loops[l], capper->around, capper->verts, &n);
    if (ZipSlit(capper, n)) continue;
    LoopVertices(mesh, edges.get(), loops[l], capper->around, capper->verts, &n);
    const int capped = capper->CapLoop(n);
    if (capped >= 0) capper->Commit();
    report(l, true, capped);
  }
  ReallocCldPolyList(mesh, mesh->ntri);
  if (unsound) SetKernelError(-2);
  return 1;
}
