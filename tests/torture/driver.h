// The seeded bad-input driver: generated inputs (about 30 % sound, 50 % with one defect, 20 %
// with several: NaN, infinite or huge coordinates, zero or negative counts, degenerate or
// decreasing knots, degrees out of range, null knot arrays, coincident points, empty meshes,
// triangles naming missing points) through the public entry points of every floor. Every call
// must end in success with finite results, or in its documented failure (a failure status or
// null, and for a null record or a call that returns nothing the error state set) with its
// inputs exactly as they were; nothing may crash, trip a sanitizer or leave a tracking scope
// open. The inputs are small, so every call's work is bounded by their sizes.
//
// Seeds 0 .. SEAMWELD_TORTURE_SEEDS - 1 (default kCiSeeds) per entry point, from
// SEAMWELD_TORTURE_FIRST (default 0): a campaign runs more of them. SEAMWELD_TORTURE_TRACE names
// every call before it runs, to find the one that crashed.
#pragma once

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/minmax.h"
#include "foundation/umalloc_hooks.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/torture/meshes.h"

namespace torture {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kCiSeeds = 50;

// One call: its random stream and how many defects it may still spend.
class Call {
 public:
  Call(const std::string& entry, unsigned seed) : entry_(entry), seed_(seed), rng_(0x70b1a5u ^ (seed * 2654435761u)) {
    const double r = U(0.0, 1.0);
    budget_ = r < 0.3 ? 0 : r < 0.8 ? 1 : I(2, 3);
  }
  double U(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }
  int I(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }
  bool Chance(double p) { return U(0.0, 1.0) < p; }
  // True when a defect is spent here (with chance p while defects remain).
  bool Spend(double p = 0.5) {
    if (budget_ < 1 || !Chance(p)) return false;
    --budget_;
    return true;
  }
  // A length scale of the sizes the kernel must handle alike, and a place far from the origin.
  double Size() { return std::pow(10.0, U(-4.0, 4.0)); }
  const std::string& Entry() const { return entry_; }
  unsigned Seed() const { return seed_; }
  std::mt19937& Rng() { return rng_; }

  // A positive scalar near `good`, or a bad one.
  double Scalar(double good) {
    if (!Spend(0.4)) return good;
    const double bad[] = {kNaN, kInf, -kInf, -good, 0.0, 1e300, -1e300, 1e-300};
    return bad[I(0, 7)];
  }
  // A count near `good`, or a bad one.
  int Count(int good) {
    if (!Spend(0.3)) return good;
    const int bad[] = {0, -5, INT_MAX, INT_MIN, INT_MAX - 2, 1000 * good + 7, 1};
    return bad[I(0, 6)];
  }
  // A degree in 1..3, or one out of range.
  int Degree(int good) {
    if (!Spend(0.3)) return good;
    const int bad[] = {0, -1, 23, 40, INT_MAX};
    return bad[I(0, 4)];
  }

 private:
  std::string entry_;
  unsigned seed_;
  std::mt19937 rng_;
  int budget_ = 0;
};

// n points (arrays sized max(n, 1)) on a sphere, a cylinder, a cone, a plane or a circle of a
// random size and place, with a defect spent on a NaN, infinite, huge or coincident point, a
// collapsed set or a bad count.
struct Points {
  std::vector<double> x, y, z;
  int n = 0;
  std::vector<float> fx, fy, fz;  // the same in floats
  void Floats() {
    fx.assign(x.begin(), x.end()), fy.assign(y.begin(), y.end()), fz.assign(z.begin(), z.end());
  }
  bool operator==(const Points& o) const {
    auto same = [](const auto& a, const auto& b) {
      return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0;
    };
    return n == o.n && same(x, o.x) && same(y, o.y) && same(z, o.z) && same(fx, o.fx) && same(fy, o.fy) &&
           same(fz, o.fz);
  }
};

inline Points MakePoints(Call& c, int nMin, int nMax, bool flat = false) {
  Points p;
  p.n = c.I(nMin, nMax);
  const double s = c.Size(), o[3] = {c.U(-1e4, 1e4) * s, c.U(-1e4, 1e4) * s, c.U(-1e4, 1e4) * s};
  const int shape = flat ? 4 : c.I(0, 4);
  for (int i = 0; i < p.n; ++i) {
    const double a = c.U(0.0, 2.0 * M_PI), h = c.U(-1.0, 1.0), b = c.U(-1.0, 1.0);
    double q[3];
    switch (shape) {
      case 0: {  // sphere
        const double r = std::sqrt(1.0 - h * h);
        q[0] = r * std::cos(a), q[1] = r * std::sin(a), q[2] = h;
        break;
      }
      case 1: q[0] = std::cos(a), q[1] = std::sin(a), q[2] = 2.0 * h; break;             // cylinder
      case 2: q[0] = (1.5 + h) * std::cos(a), q[1] = (1.5 + h) * std::sin(a), q[2] = h; break;  // cone
      case 3: q[0] = h, q[1] = b, q[2] = 0.1 * h * b; break;                              // gentle sheet
      default: q[0] = std::cos(a), q[1] = std::sin(a), q[2] = 0.0; break;                 // circle
    }
    for (int k = 0; k < 3; ++k) (k == 0 ? p.x : k == 1 ? p.y : p.z).push_back(o[k] + s * q[k]);
  }
  if (p.n > 0 && c.Spend(0.6)) {
    const int i = c.I(0, p.n - 1);
    std::vector<double>& axis = c.Chance(0.34) ? p.x : c.Chance(0.5) ? p.y : p.z;
    switch (c.I(0, 4)) {
      case 0: axis[i] = kNaN; break;
      case 1: axis[i] = c.Chance(0.5) ? kInf : -kInf; break;
      case 2: axis[i] = c.Chance(0.5) ? 3e38 : -1e300; break;
      case 3:  // every point the same
        for (int j = 0; j < p.n; ++j) p.x[j] = p.x[0], p.y[j] = p.y[0], p.z[j] = p.z[0];
        break;
      default:  // all on one line
        for (int j = 0; j < p.n; ++j) p.y[j] = p.y[0], p.z[j] = p.z[0];
        break;
    }
  }
  if (c.Spend(0.2)) p.n = c.Chance(0.5) ? 0 : -3;
  if (p.x.empty()) p.x = p.y = p.z = {0.0};
  p.Floats();
  return p;
}

// A record as built, for the checks: its arrays' real sizes (the counts may be made to lie) and
// the fields a defect changed, put back before it is freed so that the free reads what it made.
struct Record {
  Bspline* b = nullptr;
  int knotsU = 0, knotsV = 0, ctrl = 0;
  double* savedKnots = nullptr;
  int saved[6] = {};
  bool lied = false;
};

// Everything of a record an entry point may change, compared bit for bit; read within the real
// array sizes.
struct RecordImage {
  std::vector<int> ints;
  std::vector<double> reals;
  explicit RecordImage(const Record& r) {
    const Bspline* b = r.b;
    ints = {b->kind, b->dimension, b->rational, b->degreeU, b->degreeV, b->interiorU, b->interiorV};
    reals = {b->umin, b->umax, b->vmin, b->vmax};
    if (b->knotsU) reals.insert(reals.end(), b->knotsU, b->knotsU + r.knotsU);
    if (b->knotsV) reals.insert(reals.end(), b->knotsV, b->knotsV + r.knotsV);
    for (double** m : {b->X, b->Y, b->Z, b->W})
      if (m) reals.insert(reals.end(), m[0], m[0] + r.ctrl);
  }
  bool operator==(const RecordImage& o) const {
    return ints == o.ints && reals.size() == o.reals.size() &&
           std::memcmp(reals.data(), o.reals.data(), reals.size() * sizeof(double)) == 0;
  }
};

// Whether the record is as in `before`; its arrays are read only while its counts are as they
// were, since a call that changed them may also have resized the arrays.
inline bool Unchanged(const Record& r, const RecordImage& before) {
  const Bspline* b = r.b;
  const std::vector<int> ints = {b->kind, b->dimension, b->rational, b->degreeU, b->degreeV, b->interiorU, b->interiorV};
  return ints == before.ints && RecordImage(r) == before;
}

// Frees the records of one call, the lies put back first.
class Records {
 public:
  ~Records() {
    // Newest first: a curve made on a surface goes before its owner.
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      Record& r = *it;
      if (!r.b) continue;
      if (r.lied) {
        Bspline* b = r.b;
        if (!b->knotsU && r.savedKnots) b->knotsU = r.savedKnots;
        b->kind = r.saved[0], b->dimension = r.saved[1], b->degreeU = r.saved[2], b->interiorU = r.saved[3];
        b->degreeV = r.saved[4], b->interiorV = r.saved[5];
      }
      FreeBspline(r.b);
    }
  }
  Record& Add(Bspline* b) {
    made_.push_back(Record{b});
    Record& r = made_.back();
    if (b) {
      r.knotsU = NumKnotsU(b), r.knotsV = b->kind == 2 ? NumKnotsV(b) : 0;
      r.ctrl = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
      const int s[6] = {b->kind, b->dimension, b->degreeU, b->interiorU, b->degreeV, b->interiorV};
      std::copy(s, s + 6, r.saved);
    }
    return r;
  }
  // A record handed out by an entry point (freed with the call).
  Bspline* Keep(Bspline* b) {
    if (b) made_.push_back(Record{b});
    return b;
  }

 private:
  std::deque<Record> made_;  // references handed out stay valid
};

// Spends a defect on the record: a NaN or infinite coefficient or knot, knots that decrease,
// coefficients near the double range, a weight not positive, a degree past the limit, a null
// knot array, an interior count of -2 or INT_MAX - 2, a bad kind.
inline void Spoil(Call& c, Record& r) {
  Bspline* b = r.b;
  if (!b || !c.Spend(0.6)) return;
  const bool surf = b->kind == 2;
  const int dir = surf ? c.I(0, 1) : 0;
  double* k = dir ? b->knotsV : b->knotsU;
  const int K = dir ? r.knotsV : r.knotsU;
  double** rows[3] = {b->X, b->Y, b->Z ? b->Z : b->X};
  switch (c.I(0, 11)) {
    case 0: rows[c.I(0, 2)][0][c.I(0, r.ctrl - 1)] = kNaN; break;
    case 1: k[c.I(0, K - 1)] = c.Chance(0.5) ? kInf : -kInf; break;
    case 2: k[c.I(0, K - 1)] = kNaN; break;
    case 3: std::reverse(k, k + K); break;
    case 4:
      for (int i = 0; i < r.ctrl; ++i) rows[c.I(0, 2)][0][i] = c.Chance(0.5) ? 1e300 : -1e300;
      break;
    case 5:
      if (b->W) {
        b->W[0][c.I(0, r.ctrl - 1)] = c.Chance(0.5) ? 0.0 : -1.0;
        break;
      }
      [[fallthrough]];
    case 6: r.lied = true, (dir ? b->degreeV : b->degreeU) = 23; break;
    case 7:
      r.lied = true;
      r.savedKnots = b->knotsU;
      b->knotsU = nullptr;
      break;
    case 8: r.lied = true, (dir ? b->interiorV : b->interiorU) = -2; break;
    case 9: r.lied = true, (dir ? b->interiorV : b->interiorU) = INT_MAX - 2; break;
    case 10: r.lied = true, b->kind = c.Chance(0.5) ? 0 : 7; break;
    default:
      for (int i = 0; i < K; ++i) k[i] = k[0];  // a domain of no length
      break;
  }
}

// The record's size for scaled arguments: its control points' extent while its counts are true.
inline double Scale(const Record& r) { return r.b && BsplineShapeSound(r.b) ? RefScale(r.b) : 1.0; }

// A random clamped 3D (or 2D) curve of a random size and place, perhaps rational, spoilt or not.
inline Record& MakeCurve(Call& c, Records& keep, int dim = 3, int degree = 0, int nCtrl = 0) {
  const int p = degree > 0 ? degree : c.I(1, 3);
  const int n = nCtrl > 0 ? nCtrl : p + 1 + c.I(0, 5);
  Bspline* b = BuildRandomCurve(c.Rng()(), p, n, dim, c.Chance(0.2));
  if (b) {
    const double s = c.Size(), o[3] = {c.U(-1e4, 1e4) * s, c.U(-1e4, 1e4) * s, c.U(-1e4, 1e4) * s};
    double** rows[3] = {b->X, b->Y, b->Z};
    for (int k = 0; k < dim; ++k)
      for (int i = 0; i < n; ++i) rows[k][0][i] = o[k] + s * rows[k][0][i];
  }
  Record& r = keep.Add(b);
  Spoil(c, r);
  return r;
}

// A gently curved sheet z = z0 + a (x - x0) + bend (x - x0)(y - y0) / s over [x0, x0 + s] x
// [y0, y0 + s w], and its knots' options; a second sheet near it keeps the footprint.
struct Sheet {
  PatchOptions o;
  double s = 1.0, z0 = 0.0, a = 0.0, bend = 0.0;
};
inline void RandomSheetKnots(Call& c, PatchOptions& o) {
  o.degreeU = c.I(1, 3), o.degreeV = c.I(1, 3);
  o.nu = o.degreeU + 1 + c.I(0, 3), o.nv = o.degreeV + 1 + c.I(0, 3);
}
inline Sheet RandomSheet(Call& c) {
  Sheet h;
  PatchOptions& o = h.o;
  RandomSheetKnots(c, o);
  h.s = c.Size();
  const double x0 = c.U(-1e4, 1e4) * h.s, y0 = c.U(-1e4, 1e4) * h.s;
  h.z0 = c.U(-1e4, 1e4) * h.s;
  o.x0 = x0, o.x1 = x0 + h.s, o.y0 = y0, o.y1 = y0 + h.s * c.U(0.5, 2.0);
  o.layout = c.Chance(0.5) ? KnotLayout::Uniform : KnotLayout::Random;
  o.rational = c.Chance(0.2);
  o.seed = c.Rng()();
  h.a = c.U(-0.5, 0.5), h.bend = c.U(-0.3, 0.3);
  return h;
}
inline Record& AddSheet(Call& c, Records& keep, const Sheet& h) {
  Bspline* b = BuildFunctionPatch(
      [&](double x, double y) { return h.z0 + h.a * (x - h.o.x0) + h.bend * (x - h.o.x0) * (y - h.o.y0) / h.s; },
      h.o);
  Record& r = keep.Add(b);
  Spoil(c, r);
  return r;
}

// A gently curved bicubic (or lower) sheet of a random size and place, spoilt or not.
inline Record& MakeSurface(Call& c, Records& keep) { return AddSheet(c, keep, RandomSheet(c)); }

// Two records for a call on a pair: `call` gets both, the records' keeper, and a test that tells
// whether both are still as they were made (nothing may change them on a refusal); a pair with a
// record that could not be made is skipped.
template <class Make, class F>
void OnPair(Call& c, Make make, F call) {
  Records keep;
  Record& a = make(c, keep);
  Record& b = make(c, keep);
  if (!a.b || !b.b) return;
  const RecordImage ia(a), ib(b);
  call(a, b, keep, [&] { return RecordImage(a) == ia && RecordImage(b) == ib; });
}
template <class F>
void OnCurvePair(Call& c, F call) {
  OnPair(c, [](Call& cc, Records& keep) -> Record& { return MakeCurve(cc, keep); }, call);
}
template <class F>
void OnSurfacePair(Call& c, F call) {
  OnPair(c, [](Call& cc, Records& keep) -> Record& { return MakeSurface(cc, keep); }, call);
}

// A mesh: an open tube, a closed octahedron or an open sheet of a random size and place (with
// fins: edges of more than two triangles), with a defect spent on a NaN, infinite or huge point, a triangle naming a missing point or one point
// twice, no triangles, or every point in one place.
struct MeshCase {
  Cloud* mesh = nullptr;
  ~MeshCase() {
    if (mesh) FreeCloud(mesh);
  }
};

// The mesh with 1 to 3 fins on one edge of triangle t: triangles on the edge beyond the two it
// had, each to a new point off the edge, so that the edge is used by 3 to 5 triangles.
inline Cloud* AddFins(Call& c, Cloud* m, int t) {
  std::vector<std::array<double, 3>> pts;
  std::vector<TestTriangle> tris;
  for (int i = 0; i < m->npts; ++i) pts.push_back({m->x[i], m->y[i], m->z[i]});
  for (int i = 0; i < m->ntri; ++i) tris.push_back({m->tri[i].v[0], m->tri[i].v[1], m->tri[i].v[2]});
  const int e = c.I(0, 2), a = tris[t][e], b = tris[t][(e + 1) % 3];
  const double len = std::hypot(pts[b][0] - pts[a][0], pts[b][1] - pts[a][1], pts[b][2] - pts[a][2]);
  for (int f = c.I(1, 3); f > 0; --f) {
    std::array<double, 3> apex;
    for (int k = 0; k < 3; ++k) apex[k] = 0.5 * (pts[a][k] + pts[b][k]) + len * c.U(-1.0, 1.0);
    tris.push_back({a, b, int(pts.size())});
    pts.push_back(apex);
  }
  FreeCloud(m);
  return MakeTestMesh(pts, tris);
}

inline void SpoilMesh(Call& c, Cloud* m);

inline Cloud* MakeMesh(Call& c, bool fins = false) {
  const double s = c.Size(), o[3] = {c.U(-1e4, 1e4) * s, c.U(-1e4, 1e4) * s, c.U(-1e4, 1e4) * s};
  const int shape = c.I(0, 2);
  const bool closed = shape == 0;
  Cloud* m = closed ? MakeOctahedronMesh(s, o)
             : shape == 1 ? MakeTubeMesh(c.I(4, 10), c.I(2, 5), s, s * c.U(0.5, 3.0))
                          : MakeGridMesh(c.I(2, 7), c.I(2, 7), [](int, int) { return true; }, s / 7.0);
  if (m && fins) m = AddFins(c, m, c.I(0, m->ntri - 1));
  if (!m) return nullptr;
  if (!closed)
    for (int i = 0; i < m->npts; ++i) m->x[i] += float(o[0]), m->y[i] += float(o[1]), m->z[i] += float(o[2]);
  SpoilMesh(c, m);
  return m;
}

// A dome over a square, flat along its rim, of nMin x nMin to nMax x nMax vertices (by default
// over 4,000 triangles) of a random size and place with one to three vertices thrown near the float range, as a corrupted file gives them:
// every sound vertex and triangle then shares one cell of a grid over the mesh's extent, which
// the mesh searches answer with a tree instead. Defects as MakeMesh spends them.
// *size and o receive the sound field's extent and its lowest corner (x, y, mean z).
inline Cloud* MakeCrowdedMesh(Call& c, double* size, double o[3], int nMin = 47, int nMax = 52) {
  const int n = c.I(nMin, nMax);
  const double s = c.Size();
  for (int k = 0; k < 3; ++k) o[k] = c.U(-1e4, 1e4) * s;
  *size = s;
  const double h = s / (n - 1), wave = c.U(0.0, 0.2);
  Cloud* m = MakeGridMesh(n, n, [](int, int) { return true; }, h);
  if (!m) return nullptr;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int k = i + n * j;
      m->x[k] += float(o[0]), m->y[k] += float(o[1]);
      m->z[k] = float(o[2] + wave * s * std::sin(M_PI * i / (n - 1)) * std::sin(M_PI * j / (n - 1)));
    }
  for (int k = c.I(1, 3); k > 0; --k) {
    const int v = c.I(0, m->npts - 1);
    m->z[v] = c.Chance(0.5) ? 3e38f : -3e38f;
    if (c.Chance(0.5)) m->x[v] = 2.9e38f;
  }
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
  SpoilMesh(c, m);
  return m;
}

// Spends a defect on the mesh (see MakeMesh).
inline void SpoilMesh(Call& c, Cloud* m) {
  if (c.Spend(0.6)) {
    const int i = c.I(0, m->npts - 1), t = c.I(0, m->ntri - 1);
    switch (c.I(0, 6)) {
      case 0: m->x[i] = std::numeric_limits<float>::quiet_NaN(); break;
      case 1: m->y[i] = std::numeric_limits<float>::infinity(); break;
      case 2: m->z[i] = 3e38f; break;
      case 3: m->tri[t].v[c.I(0, 2)] = c.Chance(0.5) ? -1 : m->npts + c.I(0, 3); break;
      case 4: m->tri[t].v[1] = m->tri[t].v[0]; break;
      case 5: m->ntri = 0; break;
      default:
        for (int j = 0; j < m->npts; ++j) m->x[j] = m->x[0], m->y[j] = m->y[0], m->z[j] = m->z[0];
        break;
    }
  }
}

// The diagonal of a mesh's box (not a number when a point is not).
inline double MeshSize(const Cloud* m) {
  double b[6];
  GetCloudMinMax(m, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  return std::hypot(b[3] - b[0], b[4] - b[1], b[5] - b[2]);
}

// Frees a singly linked list of nodes from the kernel's allocator (the nodes only).
template <class Node>
void FreeNodes(Node* head) {
  while (head) {
    Node* next = head->next;
    Free(head);
    head = next;
  }
}

inline bool AllFiniteD(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// A cloud (or mesh) a call hands back as a success: finite points, corners naming points.
inline bool SoundCloud(const Cloud* c) {
  return c && c->npts >= 0 && CloudPointsFinite(c) && MeshCornersNamePoints(c, nullptr);
}

// Outcome counts per entry point and the longest call, printed at the end.
struct Tally {
  struct Line {
    int success = 0, failure = 0;
    double slowest = 0.0;
    long slowestSeed = 0;
  };
  std::map<std::string, Line> lines;
  void Print(const char* title) const {
    std::printf("%s\n  %-36s %8s %8s %12s %8s\n", title, "entry point", "success", "failure", "slowest ms", "seed");
    for (const auto& [name, l] : lines)
      std::printf("  %-36s %8d %8d %12.2f %8ld\n", name.c_str(), l.success, l.failure, 1e3 * l.slowest, l.slowestSeed);
  }
};

// Runs every entry of the table over the seed range; an entry's body reports through Check.
class Driver : public KernelTest {
 protected:
  struct Entry {
    const char* name;
    std::function<void(Call&)> run;
  };

  // The outcome of one call: success must come with finite outputs, failure with the failure
  // reported (failureReported: the status or null says so, and for makers and void calls the
  // error state) and the inputs unchanged.
  void Check(Call& c, bool success, bool finiteOutputs, bool failureReported, bool inputsUnchanged) {
    Tally::Line& line = tally_.lines[c.Entry()];
    ++(success ? line.success : line.failure);
    auto fault = [&](const char* what) {
      ++faults_;
      ADD_FAILURE() << c.Entry() << " seed " << c.Seed() << ": " << what;
    };
    if (success && !finiteOutputs) fault("success with a value that is not finite");
    if (!success && !failureReported) fault("failure not reported as documented");
    if (!success && !inputsUnchanged) fault("failure changed its inputs");
  }

  // A record maker over one generated curve or surface: a sound record, or null with the error
  // state set and the record it read unchanged.
  void RecordMaker(Call& c, bool surface, const std::function<Bspline*(Bspline*)>& make) {
    Records keep;
    Record& r = surface ? MakeSurface(c, keep) : MakeCurve(c, keep);
    if (!r.b) return;
    const RecordImage before(r);
    Bspline* made = keep.Keep(make(r.b));
    Check(c, made != nullptr, !made || BsplineSound(made), KernelFailed(), RecordImage(r) == before);
  }
  // The same over generated points.
  void PointsMaker(Call& c, Points p, const std::function<Bspline*(Points&)>& make) {
    Records keep;
    const Points before = p;
    Bspline* made = keep.Keep(make(p));
    Check(c, made != nullptr, !made || BsplineSound(made), KernelFailed(), p == before);
  }

  // Every entry runs on the seeds that are multiples of `every` (costly entries: a few calls in
  // CI, more in a campaign).
  void Run(const char* title, const std::vector<Entry>& entries, int every = 1) {
    const char* env = std::getenv("SEAMWELD_TORTURE_SEEDS");
    const char* first = std::getenv("SEAMWELD_TORTURE_FIRST");
    const long seeds = env ? std::atol(env) : kCiSeeds;
    const long from = first ? std::atol(first) : 0;
    const bool trace = std::getenv("SEAMWELD_TORTURE_TRACE") != nullptr;  // names each call first
    for (const Entry& e : entries)
      for (long s = from; s < from + seeds; ++s) {
        if (s % every != 0) continue;
        ClearKernelError();
        Call c(e.name, static_cast<unsigned>(s));
        if (trace) std::fprintf(stderr, "%s seed %ld\n", e.name, s);
        const auto start = std::chrono::steady_clock::now();
        e.run(c);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Tally::Line& line = tally_.lines[e.name];
        if (took > line.slowest) line.slowest = took, line.slowestSeed = s;
        ClearKernelError();
        if (MallocTrackLevel() != 0) {
          ADD_FAILURE() << e.name << " seed " << s << ": a tracking scope left open";
          return;
        }
        if (HasFatalFailure()) return;
      }
    tally_.Print(title);
    EXPECT_EQ(faults_, 0);
  }

  Tally tally_;
  int faults_ = 0;
};

}  // namespace torture
