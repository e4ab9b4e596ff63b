#include "intersect/newtrace.h"

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/kinsert.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/premove.h"
#include "curve/crvintr.h"
#include "foundation/sort.h"
#include "intersect/filutil.h"
#include "intersect/newtrace_internal.h"
#include "surface/srfsnip.h"
#include "surface/trimutils.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "stitch/vcnobj.h"
#include "surface/srfutils.h"

namespace {

// Share of a parameter range within which a value counts as on a box line or a domain end.
constexpr double kParamTol = 1e-6;
// A partial this small against the other partial of its surface is zero: the surface's side
// is collapsed there to a point (a pole or an apex).
constexpr double kPoleShare = 1e-9;
// Iterations of the refinement while marching.
constexpr int kMarchIterations = 40;
// Nodes one marching direction may add: a branch this long has stopped making progress, and
// the march ends there instead of running on (the circling test needs its six nodes to see it).
constexpr int kMaxNodesPerDirection = 20000;
// Two traces' nodes on a seam this many point tolerances apart are the same point of it: both
// are refined onto the seam, to the point tolerance.
constexpr double kSeamMeetTolBs = 100.0;

double Lo(const Bspline* s, int dir) { return dir ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU]; }
double Hi(const Bspline* s, int dir) {
  return dir ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
}
double Range(const Bspline* s, int dir) { return Hi(s, dir) - Lo(s, dir); }

// The check of the entry points handed a pair of surfaces: both sound 3D surfaces and the
// numbers given finite; else false with the error state -2.
bool PairSound(const Bspline* s1, const Bspline* s2, std::initializer_list<double> values) {
  if (!RecordsSound({s1, s2})) return false;
  const bool ok = s1->kind == 2 && s2->kind == 2 && s1->dimension == 3 && s2->dimension == 3 &&
                  AllFinite(values);
  if (!ok) SetKernelError(-2);
  return ok;
}

// The four parameters of a point of the pair, addressed alike.
struct Params {
  double p[4];  // u1, v1, u2, v2
};
// The squared distance of two parameter quadruples.
double ParamDist2(const Params& a, const Params& b) {
  double d2 = 0.0;
  for (int q = 0; q < 4; ++q) d2 += (a.p[q] - b.p[q]) * (a.p[q] - b.p[q]);
  return d2;
}
const Bspline* SurfaceOf(int k, const Bspline* s1, const Bspline* s2) { return k < 2 ? s1 : s2; }

// Point and first partials (and with second, the second ones: Suv, Suu, Svv) at (u, v).
bool Partials(const Bspline* s, double u, double v, double (*out)[3], bool second) {
  static const int du[6] = {0, 1, 0, 1, 2, 0}, dv[6] = {0, 0, 1, 1, 0, 2};
  if (!second) return SurfaceJet(s, u, v, out) == 0;
  return EvalPointOnGeometryM(s, u, v, du, dv, 6, 0, out) == 0;
}

// Unit normal of the tangent plane at (u, v) with the point and partials; false where there is
// no usable normal.
bool TangentPlane(Bspline* s, double u, double v, double P[3], double Su[3], double Sv[3],
                  double n[3]) {
  double d[3][3];
  if (!Partials(s, u, v, d, false)) return false;
  for (int q = 0; q < 3; ++q) {
    P[q] = d[0][q];
    Su[q] = d[1][q];
    Sv[q] = d[2][q];
  }
  ComputeSurfaceNormal(s, u, v, Su, Sv, n);
  const double len = VecSize3(n);
  if (!(len > 0.0) || !std::isfinite(len)) return false;
  for (int q = 0; q < 3; ++q) n[q] /= len;
  return true;
}

}  // namespace

bool ResolveInTangentPlane(const double d[3], const double Su[3], const double Sv[3], double* du,
                           double* dv) {
  double N[3];
  VecCrossProd3(Su, Sv, N);
  const double ax = std::fabs(N[0]), ay = std::fabs(N[1]), az = std::fabs(N[2]);
  const int c = (az >= ax && az >= ay) ? 2 : (ax >= ay ? 0 : 1);
  // The determinant of the 2 x 2 system is N[c]; against |Su| |Sv| it is the sine of the
  // angle between the partials, which vanishes only where the surface has no tangent plane.
  if (!(std::fabs(N[c]) > 1e-14 * VecSize3(Su) * VecSize3(Sv))) return false;
  const int a = (c + 1) % 3, b = (c + 2) % 3;
  *du = (d[a] * Sv[b] - d[b] * Sv[a]) / N[c];
  *dv = (Su[a] * d[b] - Su[b] * d[a]) / N[c];
  return std::isfinite(*du) && std::isfinite(*dv);
}

void ReduceSmallComponents(double v[3]) {
  const double m = std::fmax(std::fabs(v[0]), std::fmax(std::fabs(v[1]), std::fabs(v[2])));
  for (int q = 0; q < 3; ++q)
    if (std::fabs(v[q]) < 1e-6 * m) v[q] = 0.0;
}

namespace {

// The pair the innermost RememberedSurfaceJets holds (none: nulls), and the points SurfaceJet kept
// of it: each takes the slot the bits of its record and parameters hash to, in place of the one
// there. 128 slots keep an interval's nodes, its pulled points and the pulls' last steps while the
// fit measures it, few pushed out early.
struct JetMemo {
  static constexpr int kSlots = 128;
  static constexpr int kShift = 57;  // the hash's top log2(kSlots) bits pick the slot
  struct Entry {
    const Bspline* s;
    std::uint64_t u, v;
    double jet[3][3];
  };
  const Bspline* pair[2] = {nullptr, nullptr};
  Entry entry[kSlots] = {};
};
// A pair remembered on one thread is no other thread's.
thread_local JetMemo jetMemo;

// Holds the pair (or none) and forgets every point kept.
void HoldPair(const Bspline* s1, const Bspline* s2) {
  jetMemo.pair[0] = s1;
  jetMemo.pair[1] = s2;
  for (JetMemo::Entry& e : jetMemo.entry) e.s = nullptr;
}

}  // namespace

RememberedSurfaceJets::RememberedSurfaceJets(const Bspline* s1, const Bspline* s2)
    : outer_{jetMemo.pair[0], jetMemo.pair[1]} {
  // Only sound surfaces are remembered: their points are then evaluated without the checks every
  // evaluation runs on a record it has not seen.
  const bool sound = s1 && s2 && s1->kind == 2 && s2->kind == 2 && BsplineSound(s1) && BsplineSound(s2);
  HoldPair(sound ? s1 : nullptr, sound ? s2 : nullptr);
}

RememberedSurfaceJets::~RememberedSurfaceJets() { HoldPair(outer_[0], outer_[1]); }

int SurfaceJet(const Bspline* s, double u, double v, double jet[3][3]) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  JetMemo& m = jetMemo;
  if (!s || (s != m.pair[0] && s != m.pair[1])) return EvalPointOnGeometryM(s, u, v, du, dv, 3, 0, jet);
  const std::uint64_t bu = std::bit_cast<std::uint64_t>(u), bv = std::bit_cast<std::uint64_t>(v);
  const std::uint64_t h =
      ((bu * 0x9E3779B97F4A7C15ull) ^ bv ^ reinterpret_cast<std::uintptr_t>(s)) * 0xD6E8FEB86659FD93ull;
  JetMemo::Entry& e = m.entry[h >> JetMemo::kShift];
  if (e.s == s && e.u == bu && e.v == bv) {
    std::memcpy(jet, e.jet, sizeof e.jet);
    return 0;
  }
  // EvalPointOnGeometryM's own steps, on a surface known sound: the basis rows of orders 0 and 1
  // in each direction, the three sums from them, handed out only when all are finite.
  static const int orders[2] = {0, 1};
  double tu[2 * (kMaxSplineDegree + 1)], tv[2 * (kMaxSplineDegree + 1)], value[3][3];
  int spanU = s->degreeU, spanV = s->degreeV;
  ComputeNubValDerivativesM(s->knotsU, u, NumKnotsU(s), s->degreeU, orders, 2, &spanU, tu);
  ComputeNubValDerivativesM(s->knotsV, v, NumKnotsV(s), s->degreeV, orders, 2, &spanV, tv);
  EvalPointOnGeometryGivenNubValsM(s, du, dv, 3, tu, tv, spanU, spanV, 0, value);
  for (const double* r : value)
    if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2])) return -2;
  std::memcpy(jet, value, sizeof value);
  e.s = s, e.u = bu, e.v = bv;
  std::memcpy(e.jet, value, sizeof value);
  return 0;
}

// ---- Records ---------------------------------------------------------------------------------

IntersectionTrace* MallocIntersectionTrace() {
  UntrackedScope own;
  return CallocArray<IntersectionTrace>(1);
}

IntersectionTraceList* MallocIntersectionTraceList() {
  IntersectionTraceList* list;
  {
    UntrackedScope own;
    list = MallocArray<IntersectionTraceList>(1);
  }
  if (!list) return nullptr;
  list->count = 0;
  list->head = list->tail = MallocIntersectionTrace();
  if (!list->head) {
    Free(list);
    return nullptr;
  }
  return list;
}

void FreeIntersectionTraceList(IntersectionTraceList* list) {
  if (!list) return;
  for (IntersectionTrace* t = list->head; t;) {
    IntersectionTrace* next = t->next;
    FreeTraceNodes(t);
    Free(t);
    t = next;
  }
  Free(list);
}

IntersectionTraceNode* AppendTraceNode(IntersectionTrace* trace, const double P[3], double u1,
                                       double v1, double u2, double v2) {
  IntersectionTraceNode* n;
  {
    UntrackedScope own;
    n = MallocArray<IntersectionTraceNode>(1);
  }
  if (!n) return nullptr;
  n->next = nullptr;
  n->prev = trace->tail;
  n->x = P[0];
  n->y = P[1];
  n->z = P[2];
  n->u1 = u1;
  n->v1 = v1;
  n->u2 = u2;
  n->v2 = v2;
  n->filletParam = 0.0;
  if (trace->tail)
    trace->tail->next = n;
  else
    trace->head = n;
  trace->tail = n;
  ++trace->nodeCount;
  return n;
}

void FreeTraceNodes(IntersectionTrace* trace) {
  for (IntersectionTraceNode* n = trace->head; n;) {
    IntersectionTraceNode* next = n->next;
    Free(n);
    n = next;
  }
  trace->head = trace->tail = trace->turn = nullptr;
  trace->nodeCount = 0;
}

// ---- Parameter arrays and boxes --------------------------------------------------------------

namespace {
int RefineCount(int degree) { return degree / 2 < 2 ? 1 : degree / 2; }
}  // namespace

int BoxArrayCount(const Bspline* srf, int dir) {
  const int n = dir ? NumCtrlV(srf) : NumCtrlU(srf);
  const int k = RefineCount(dir ? srf->degreeV : srf->degreeU);
  return n + (k - 1) * (n - 1);
}

int ModifyParamSpaceBasedOnSpans(Bspline* srf) {
  const double Lu = GetObjSpanInParDir(srf, 0, 1), Lv = GetObjSpanInParDir(srf, 1, 1);
  const int nu = NumCtrlU(srf), nv = NumCtrlV(srf);
  const double au = Lu / nu, av = Lv / nv;
  // The degenerate limit is a share of the larger average, so a net of any size is judged alike.
  const double big = std::fmax(au, av);
  int count = 0, dir = 0;
  if (av >= au) {
    if (!(au >= 1e-10 * big) || !(big > 0.0)) return -2;
    if (av / au >= 10.0) {
      count = static_cast<int>(Lv / (10.0 * au)) - nv;
      dir = 1;
    }
  } else {
    if (!(av >= 1e-10 * big)) return -2;
    if (au / av >= 10.0) count = static_cast<int>(Lu / (10.0 * av)) - nu;
  }
  if (count > 0) InsertNKnotsToObject(1, count, dir, srf, 1, nullptr);
  return 0;
}

int AddParamValuesPSpanToArray(double** array, int n, int k) {
  if (k < 1 || n < 2) return 0;
  const int m = n + k * (n - 1);
  double* out = MallocArray<double>(m);
  if (!out) return -2;
  const double* a = *array;
  int w = 0;
  for (int i = 0; i + 1 < n; ++i) {
    out[w++] = a[i];
    for (int s = 1; s <= k; ++s) out[w++] = a[i] + (a[i + 1] - a[i]) * s / (k + 1);
  }
  out[w] = a[n - 1];
  Free(*array);
  *array = out;
  return 0;
}

namespace {
int OneArray(Bspline* s, int dir, double** out) {
  double* a = FindParamValuesOfCoefi(s, dir);
  if (!a) return -2;
  *out = a;
  const int n = dir ? NumCtrlV(s) : NumCtrlU(s);
  return AddParamValuesPSpanToArray(out, n, RefineCount(dir ? s->degreeV : s->degreeU) - 1);
}
}  // namespace

int SubDivisionArray(Bspline* s1, Bspline* s2, double** u1, double** v1, double** u2,
                     double** v2) {
  if (OneArray(s1, 0, u1) || OneArray(s1, 1, v1) || OneArray(s2, 0, u2) || OneArray(s2, 1, v2))
    return -2;
  return 0;
}

int ChkPtNotInBox(const double* us, const double* vs, int i, int j, double u, double v,
                  double tolU, double tolV) {
  if (!us || !vs || i < 0 || j < 0) return 1;
  const bool inU = us[i] - tolU <= u && u <= us[i + 1] - tolU;
  const bool inV = vs[j] - tolV <= v && v <= vs[j + 1] - tolV;
  return inU && inV ? 0 : 1;
}

namespace {
void BoxOf(const double* p, int N, double t, double tol, int* box) {
  if (t < p[0]) {
    *box = 0;
  } else if (t > p[N - 1] - tol) {
    *box = N - 2;
  } else {
    for (int i = N - 2; i >= 0; --i)
      if (p[i] - tol <= t && t <= p[i + 1] - tol) {
        *box = i;
        return;
      }
  }
}
}  // namespace

void GetBoxesRange(const double* us, const double* vs, double u, double v, int NU, int NV, int* i,
                   int* j, double tolU, double tolV) {
  if (!us || !vs || !i || !j || NU < 2 || NV < 2) return;
  BoxOf(us, NU, u, tolU, i);
  BoxOf(vs, NV, v, tolV, j);
}

double FindMinimumStep(int i, const double* array) {
  return array && i >= 0 ? (array[i + 1] - array[i]) / 2.0 : 0.0;
}

void GetAllBoxesBetweenPoints(const double* us, const double* vs, double u0, double v0, double u1,
                              double v1, int i0, int j0, int i1, int j1, int* dirs, int* idx,
                              double* frac, int* count) {
  int n = 0;
  auto lines = [&](const double* p, double t0, double t1, int b0, int b1, int dir) {
    if (b1 > b0)
      for (int k = b0 + 1; k <= b1; ++k) {
        frac[n] = (p[k] - t0) / (t1 - t0);
        idx[n] = k;
        dirs[n++] = dir;
      }
    else
      for (int k = b0; k > b1; --k) {
        frac[n] = (p[k] - t0) / (t1 - t0);
        idx[n] = k - 1;
        dirs[n++] = dir;
      }
  };
  lines(us, u0, u1, i0, i1, 1);
  lines(vs, v0, v1, j0, j1, 2);
  // Insertion sort by fraction: stable, so at equal fractions the u crossing (recorded first)
  // comes first, as the marking expects; a step crosses a handful of lines.
  for (int a = 1; a < n; ++a) {
    const double f = frac[a];
    const int d = dirs[a], x = idx[a];
    int b = a - 1;
    for (; b >= 0 && frac[b] > f; --b) {
      frac[b + 1] = frac[b];
      dirs[b + 1] = dirs[b];
      idx[b + 1] = idx[b];
    }
    frac[b + 1] = f;
    dirs[b + 1] = d;
    idx[b + 1] = x;
  }
  *count = n;
}

void MarkAllBoxesBetweenPoints(const int* idx1, const int* dirs1, const int* idx2,
                               const int* dirs2, const double* frac1, const double* frac2, int i1,
                               int j1, int i2, int j2, int NU1, int /*NV1*/, int NU2, int /*NV2*/,
                               int n1, int n2, int** marks) {
  int a = 0, b = 0;
  while (a < n1 || b < n2) {
    const bool first = b >= n2 || (a < n1 && frac1[a] <= frac2[b]);
    if (first) {
      (dirs1[a] == 1 ? i1 : j1) = idx1[a];
      ++a;
    } else {
      (dirs2[b] == 1 ? i2 : j2) = idx2[b];
      ++b;
    }
    marks[j1 * (NU1 - 1) + i1][j2 * (NU2 - 1) + i2] = 1;
  }
}

// ---- Refinement and the tests of the march ---------------------------------------------------

int CheckIfBndryReached(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2) {
  if (!RecordShapesSound({s1, s2})) return 0;
  if (s1->kind != 2 || s2->kind != 2 || !u1 || !v1 || !u2 || !v2) {
    SetKernelError(-2);
    return 0;
  }
  double* p[4] = {u1, v1, u2, v2};
  int changed = 0;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, s1, s2);
    const int dir = k & 1;
    const double lo = Lo(s, dir), hi = Hi(s, dir), tol = kParamTol * (hi - lo);
    if (*p[k] > hi - tol) {
      if (*p[k] != hi) changed = 1;
      *p[k] = hi;
    } else if (*p[k] < lo + tol) {
      if (*p[k] != lo) changed = 1;
      *p[k] = lo;
    }
  }
  return changed;
}

namespace {

// Gauss-Jordan elimination with partial pivoting of the n x n system in A with its right-hand
// side in column n, left diagonal (the solution is A[k][n] / A[k][k]). False where a pivot is not
// above floor (a singular system).
bool EliminateAugmented(double A[4][5], int n, double floor) {
  for (int a = 0; a < n; ++a) {
    int piv = a;
    for (int b = a + 1; b < n; ++b)
      if (std::fabs(A[b][a]) > std::fabs(A[piv][a])) piv = b;
    if (!(std::fabs(A[piv][a]) > floor)) return false;
    for (int x = 0; x <= n; ++x) std::swap(A[a][x], A[piv][x]);
    for (int b = 0; b < n; ++b) {
      if (b == a) continue;
      const double f = A[b][a] / A[a][a];
      for (int x = a; x <= n; ++x) A[b][x] -= f * A[a][x];
    }
  }
  return true;
}

// The steps of the parameters not pinned, by least squares, so that the points meet to first
// order: S1 + S1u du1 + S1v dv1 = S2 + S2u du2 + S2v dv2 (d = S2 - S1), the pinned steps given.
// False for a singular system.
bool SolvePinned(const double* const cols[4], const double d[3], const bool pinned[4],
                 double st[4]) {
  double r[3], c[4][3];
  int freeIdx[4], nf = 0;
  for (int q = 0; q < 3; ++q) r[q] = -d[q];
  for (int k = 0; k < 4; ++k) {
    for (int q = 0; q < 3; ++q) c[k][q] = k < 2 ? cols[k][q] : -cols[k][q];
    if (pinned[k])
      for (int q = 0; q < 3; ++q) r[q] += c[k][q] * st[k];
    else
      freeIdx[nf++] = k;
  }
  if (nf == 0) return true;
  double A[4][5];  // normal equations with the right-hand side in the last column
  for (int a = 0; a < nf; ++a) {
    for (int b = 0; b < nf; ++b) A[a][b] = VecDotProd3(c[freeIdx[a]], c[freeIdx[b]]);
    A[a][nf] = -VecDotProd3(c[freeIdx[a]], r);
  }
  double trace = 0.0;
  for (int a = 0; a < nf; ++a) trace += A[a][a];
  if (!EliminateAugmented(A, nf, 1e-14 * trace)) return false;
  for (int a = 0; a < nf; ++a) st[freeIdx[a]] = A[a][nf] / A[a][a];
  return true;
}

// A step that would take parameters out of the domain: they stop on the bound they cross, and
// the others are solved again (SolvePinned), so the branch ends where it crosses the edge
// instead of wherever a clamp leaves a point off the other surface. A singular system keeps
// the plain clamp.
void KeepStepInDomain(Bspline* s1, Bspline* s2, double* const p[4], const double* const cols[4],
                      const double d[3], double st[4], bool pinned[4]) {
  for (int round = 0; round < 4; ++round) {
    bool more = false;
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, s1, s2);
      const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), v = *p[k] + st[k];
      if (!pinned[k] && (v < lo || v > hi)) {
        pinned[k] = true;
        st[k] = (v < lo ? lo : hi) - *p[k];
        more = true;
      }
    }
    if (!more || !SolvePinned(cols, d, pinned, st)) return;
  }
}

// Where the branch crosses the edge of parameter k at bound: the meeting of the two surfaces
// with that parameter held there (Gauss-Newton). True when the points meet within tol; P is
// then the point on surface 1.
bool MeetOnEdge(Bspline* s1, Bspline* s2, double* const p[4], int k, double bound, double P[3],
                double tol) {
  *p[k] = bound;
  // Held on a side the surface collapses to a pole, the parameter along that side moves no point.
  // Its partial there is round-off, which far from the origin (a small sphere 1e4 of its sizes
  // out) exceeds kPoleShare of the other: the test below then leaves it free, the system is
  // singular, and no pull onto the pole is found. It is pinned by the side instead.
  const Bspline* held = SurfaceOf(k, s1, s2);
  const bool onPole = (bound == Lo(held, k & 1) && SurfaceSideCollapsed(held, k & 1, 0)) ||
                      (bound == Hi(held, k & 1) && SurfaceSideCollapsed(held, k & 1, 1));
  for (int it = 0; it < kMarchIterations; ++it) {
    double P1[3], S1u[3], S1v[3], n1[3], P2[3], S2u[3], S2v[3], n2[3], d[3];
    if (!TangentPlane(s1, *p[0], *p[1], P1, S1u, S1v, n1) ||
        !TangentPlane(s2, *p[2], *p[3], P2, S2u, S2v, n2))
      return false;
    VecDiff3(P2, P1, d);
    if (VecDotProd3(d, d) < tol * tol) {
      for (int q = 0; q < 3; ++q) P[q] = P1[q];
      return true;
    }
    const double* cols[4] = {S1u, S1v, S2u, S2v};
    bool pinned[4] = {false, false, false, false};
    pinned[k] = true;
    if (onPole) pinned[k ^ 1] = true;
    // On a pole the partial along it vanishes: that parameter moves no point, and left free it
    // would make the system singular, so the edge's meeting with a pole could not be found.
    for (int q = 0; q < 4; ++q) {
      const double own = VecSize3(cols[q]), partner = VecSize3(cols[q ^ 1]);
      if (own <= kPoleShare * partner) pinned[q] = true;
    }
    double st[4] = {0.0, 0.0, 0.0, 0.0};
    if (!SolvePinned(cols, d, pinned, st)) return false;
    KeepStepInDomain(s1, s2, p, cols, d, st, pinned);
    for (int q = 0; q < 4; ++q) *p[q] += st[q];
  }
  return false;
}

}  // namespace

bool PullWithParamHeld(Bspline* s1, Bspline* s2, double q[4], int k, double P[3], double tol) {
  if (!q || !P || k < 0 || k > 3) {
    SetKernelError(-2);
    return false;
  }
  if (!PairSound(s1, s2, {q[0], q[1], q[2], q[3], tol})) return false;
  double* const p[4] = {&q[0], &q[1], &q[2], &q[3]};
  return MeetOnEdge(s1, s2, p, k, q[k], P, tol);
}

int NewRefineIntrPoint(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2,
                       double P[3], int iterations, int* boundary,
                       const IntersectionTraceNode* previous, double tol) {
  double* p[4] = {u1, v1, u2, v2};
  if (previous) {
    // A step that left the domain is pulled back along itself to the edge it crossed, so the
    // branch ends on the edge instead of wherever the clamp would put it.
    const double q[4] = {previous->u1, previous->v1, previous->u2, previous->v2};
    bool pinned[4] = {false, false, false, false};
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, s1, s2);
      const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), tp = kParamTol * (hi - lo);
      double bound;
      if (*p[k] > hi - tp)
        bound = hi;
      else if (*p[k] < lo + tp)
        bound = lo;
      else
        continue;
      *boundary = 1;
      if (std::fabs(*p[k] - q[k]) <= tp) continue;
      const double f = (bound - q[k]) / (*p[k] - q[k]);
      for (int m = 0; m < 4; ++m)
        if (m != k && !pinned[m]) *p[m] = q[m] + f * (*p[m] - q[m]);
      *p[k] = bound;
      pinned[k] = true;
    }
  }
  double bestGap = HUGE_VAL, gap = HUGE_VAL, best[4] = {}, bestP[3] = {};
  int bestFlag = *boundary;
  for (int it = 0; it < iterations; ++it) {
    double P1[3], S1u[3], S1v[3], n1[3], P2[3], S2u[3], S2v[3], n2[3];
    if (!TangentPlane(s1, *u1, *v1, P1, S1u, S1v, n1) || !TangentPlane(s2, *u2, *v2, P2, S2u, S2v, n2))
      return -2;
    for (int q = 0; q < 3; ++q) P[q] = P1[q];
    double d[3];
    VecDiff3(P2, P1, d);
    gap = VecDotProd3(d, d);
    if (gap < tol * tol) return 0;
    if (gap < bestGap) {
      bestGap = gap;
      for (int k = 0; k < 4; ++k) best[k] = *p[k];
      for (int q = 0; q < 3; ++q) bestP[q] = P1[q];
      bestFlag = *boundary;
    }
    *boundary = 0;
    // The common line of the tangent planes: a point X0 = P1 + a n1 + b n2 on both planes and
    // the direction n1 x n2 (unit normals: the test is on the sine of their angle).
    double dir[3];
    VecCrossProd3(n1, n2, dir);
    const double sin2 = VecDotProd3(dir, dir);
    if (!(sin2 > 1e-20)) return -2;
    const double c = VecDotProd3(n1, n2), rhs = VecDotProd3(n2, d);
    const double a = -c * rhs / sin2, b = rhs / sin2;
    double X0[3];
    for (int q = 0; q < 3; ++q) X0[q] = P1[q] + a * n1[q] + b * n2[q];
    // Feet of P1 and P2 on the line, and their midpoint M.
    const double t1 = VecDotProd3(dir, P1) - VecDotProd3(dir, X0), t2 = VecDotProd3(dir, P2) - VecDotProd3(dir, X0);
    double M[3], d1[3], d2[3];
    for (int q = 0; q < 3; ++q) {
      M[q] = X0[q] + 0.5 * (t1 + t2) / sin2 * dir[q];
      d1[q] = M[q] - P1[q];
      d2[q] = M[q] - P2[q];
    }
    double st[4];
    if (!ResolveInTangentPlane(d1, S1u, S1v, &st[0], &st[1]) ||
        !ResolveInTangentPlane(d2, S2u, S2v, &st[2], &st[3]))
      return -2;
    const double* cols[4] = {S1u, S1v, S2u, S2v};
    bool pinned[4] = {false, false, false, false};
    KeepStepInDomain(s1, s2, p, cols, d, st, pinned);
    for (int k = 0; k < 4; ++k) *p[k] += st[k];
    *boundary = CheckIfBndryReached(s1, s2, u1, v1, u2, v2);
  }
  // The legacy choice between the last and the best iterate compares a squared gap with the
  // tolerance itself; both end in -2, so only which of the two is kept depends on it.
  if (!(gap <= tol || gap == bestGap)) {
    for (int k = 0; k < 4; ++k) *p[k] = best[k];
    for (int q = 0; q < 3; ++q) P[q] = bestP[q];
    *boundary = bestFlag;
  }
  return -2;
}

int ChkCrvTouchAnotherCrv(Bspline* s1, Bspline* /*s2*/, const IntersectionTraceList* list,
                          const double* u1, const double* v1) {
  const double tu = kParamTol * Range(s1, 0), tv = kParamTol * Range(s1, 1);
  for (const IntersectionTrace* t = list->head; t && t != list->tail; t = t->next) {
    const IntersectionTraceNode* w = t->turn ? t->turn : t->tail;
    if (w && std::fabs(*u1 - w->u1) < tu && std::fabs(*v1 - w->v1) < tv) return 1;
  }
  return 0;
}

int CheckIfPointsRepeat(const IntersectionTrace* trace, double tolB) {
  const IntersectionTraceNode* t = trace->tail;
  if (!t) return 0;
  double d1 = 0.0, d6 = 0.0;
  const IntersectionTraceNode* n = t->prev;
  for (int k = 1; k <= 6; ++k, n = n->prev) {
    if (!n) return 0;
    const double d = std::sqrt((n->x - t->x) * (n->x - t->x) + (n->y - t->y) * (n->y - t->y) +
                               (n->z - t->z) * (n->z - t->z));
    if (k == 1) d1 = d;
    if (k == 6) d6 = d;
  }
  // A march that goes on in steps shorter than the threshold (round a loop smaller than it)
  // moves by five steps between the two nodes: only a difference below half a step is circling.
  return std::fabs(d1 - d6) < std::fmin(1000.0 * tolB, 0.5 * d1) ? 1 : 0;
}

// ---- Step prediction -------------------------------------------------------------------------

// Most the branch's tangent may turn over one predicted step (radians, about 29 degrees): the
// chord height's rule (tolA a hundredth of the size) turns a branch of the size's curvature
// radius by 0.28, so the bound shortens only steps along branches that curve more tightly.
constexpr double kMaxStepTurn = 0.5;

namespace {

// A branch whose direction in a parameter plane crosses a seam's line at a sine below this runs
// along the seam: its rate across it is the round-off of points refined to the tolerance, and
// its turn away from the seam no more than that.
constexpr double kAlongSeamSine = 1e-3;

// False when a step from a point on a closed direction's end (a seam: where a march continues
// a branch from the seam's far side) heads into the domain at first order yet ends beyond that
// end: the branch dips across the seam for less than the step and comes back, and the step
// jumps over the whole dip. The refinement would clamp it back onto the seam at the start, the
// march would end there and the dip would be lost. rate is the first-order rate of each
// parameter in the step's direction, move the predicted change.
bool StaysAcrossSeam(const Bspline* s1, const Bspline* s2, const double* const p[4], const double rate[4],
                     const double move[4]) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, s1, s2);
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), tol = kParamTol * (hi - lo);
    const int plane = k & 2;
    if (!(std::fabs(rate[k]) > kAlongSeamSine * std::hypot(rate[plane], rate[plane + 1]))) continue;
    if (std::fabs(*p[k] - lo) <= tol && rate[k] > 0.0 && *p[k] + move[k] < lo) return false;
    if (std::fabs(hi - *p[k]) <= tol && rate[k] < 0.0 && *p[k] + move[k] > hi) return false;
  }
  return true;
}

// The side of s on which (u, v) lies within kParamTol of its range, collapsed to a pole: the
// parameter across that side (0 u, 1 v) in *dir and its end (0 low, 1 high) in *end.
bool OnPole(const Bspline* s, double u, double v, int* dir, int* end) {
  for (int d = 0; d < 2; ++d) {
    const double x = d ? v : u, tol = kParamTol * Range(s, d);
    for (int e = 0; e < 2; ++e)
      if (std::fabs(x - (e ? Hi(s, d) : Lo(s, d))) <= tol && SurfaceSideCollapsed(s, d, e)) {
        *dir = d;
        *end = e;
        return true;
      }
  }
  return false;
}

// True when node n lies on a pole of either surface (OnPole).
bool NodeOnPole(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* n) {
  int dir, end;
  return OnPole(s1, n->u1, n->v1, &dir, &end) || OnPole(s2, n->u2, n->v2, &dir, &end);
}

// Meridians sampled round a pole to find its tangent plane and the one a step leaves along.
constexpr int kPoleMeridians = 64;
// Sine of the angle out of the pole's tangent plane beyond which a meridian shows the pole to be
// an apex: a smooth pole's meridians leave in its plane to round-off.
constexpr double kApexSine = 1e-3;

// Unit direction into the domain along the meridian at w on the pole of S across whose side
// parameter dir runs at its end `end`, its length in *len, and with second, the meridian's second
// partial.
bool Meridian(const Bspline* S, int dir, int end, double w, double M[3], double* len, double* second) {
  double d[6][3];
  const double at = end ? Hi(S, dir) : Lo(S, dir), into = end ? -1.0 : 1.0;
  if (!Partials(S, dir ? w : at, dir ? at : w, d, second != nullptr)) return false;
  for (int q = 0; q < 3; ++q) M[q] = into * d[1 + dir][q];
  *len = VecSize3(M);
  if (!(*len > 0.0) || !std::isfinite(*len)) return false;
  for (int q = 0; q < 3; ++q) M[q] /= *len;
  if (second)
    for (int q = 0; q < 3; ++q) second[q] = d[dir ? 5 : 4][q];
  return true;
}

// The unit normal n of the plane the sampled meridians leave a pole in (summed crosses of
// neighbours; its orientation not set), and the largest sine of a meridian's angle out of it:
// round-off at a smooth pole, a cone's half angle's cosine at its apex. -1 where a meridian
// cannot be evaluated or the crosses cancel.
double PoleSpread(const Bspline* S, int dir, int end, double n[3]) {
  const int round = 1 - dir;
  const double lo = Lo(S, round), range = Range(S, round);
  const bool closed = round ? S->closedV : S->closedU;
  double M[kPoleMeridians][3], len;
  for (int q = 0; q < 3; ++q) n[q] = 0.0;
  for (int i = 0; i < kPoleMeridians; ++i) {
    if (!Meridian(S, dir, end, lo + range * (i + 0.5) / kPoleMeridians, M[i], &len, nullptr)) return -1.0;
    if (i == 0) continue;
    double c[3];
    VecCrossProd3(M[i - 1], M[i], c);
    for (int q = 0; q < 3; ++q) n[q] += c[q];
  }
  if (closed) {
    double c[3];
    VecCrossProd3(M[kPoleMeridians - 1], M[0], c);
    for (int q = 0; q < 3; ++q) n[q] += c[q];
  }
  const double ln = VecSize3(n);
  if (!(ln > 0.0) || !std::isfinite(ln)) return -1.0;
  double out = 0.0;
  for (int q = 0; q < 3; ++q) n[q] /= ln;
  for (const auto& m : M) out = std::fmax(out, std::fabs(VecDotProd3(m, n)));
  return out;
}

// True when (u, v) lies on an apex of S (a pole its meridians leave out of one plane), with the
// parameter across the apex's side in *dir.
bool OnApexOf(const Bspline* S, double u, double v, int* dir) {
  int end;
  double n[3];
  return OnPole(S, u, v, dir, &end) && PoleSpread(S, *dir, end, n) > kApexSine;
}

// True when n lies on an apex of either surface.
bool OnApex(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* n) {
  int dir;
  return OnApexOf(s1, n->u1, n->v1, &dir) || OnApexOf(s2, n->u2, n->v2, &dir);
}

// For StepOffPole, at a pole of S where the meridians (Meridian) leave out of the plane normal
// to n: the meridian w lying in the
// plane normal to No along which s times S's normal beside the pole crossed with No, in the pair's
// order (the branch's direction as the march orients it there), heads away from the pole, the
// one nearest t of those; n then S's normal along it. Each sign change of M . No over the
// sampled meridians is bisected. False where no meridian in that plane heads away (the branch
// only comes into the apex this way).
bool ApexMeridian(const Bspline* S, int pole, int dir, int end, double s, const double No[3], const double t[3],
                  double* w, double n[3]) {
  const int round = 1 - dir;
  const double at = end ? Hi(S, dir) : Lo(S, dir), into = end ? -1.0 : 1.0;
  const double lo = Lo(S, round), range = Range(S, round);
  const bool closed = round ? S->closedV : S->closedU;
  auto meridian = [&](double x, double M[3], double* len, double* second) {
    return Meridian(S, dir, end, x, M, len, second);
  };
  double f[kPoleMeridians], M[3], len;
  for (int i = 0; i < kPoleMeridians; ++i) {
    if (!meridian(lo + range * (i + 0.5) / kPoleMeridians, M, &len, nullptr)) return false;
    f[i] = VecDotProd3(M, No);
  }
  const double off = at + into * 1e-3 * Range(S, dir);
  double best = -HUGE_VAL;
  for (int i = 0; i < (closed ? kPoleMeridians : kPoleMeridians - 1); ++i) {
    const double fa = f[i], fb = i + 1 < kPoleMeridians ? f[i + 1] : f[0];
    if ((fa < 0.0) == (fb < 0.0) && fa != 0.0) continue;
    double a = lo + range * (i + 0.5) / kPoleMeridians, b = a + range / kPoleMeridians, ga = fa;
    for (int it = 0; it < 60 && b - a > kParamTol * range * 1e-6; ++it) {
      const double m = 0.5 * (a + b), x = m >= lo + range ? m - range : m;
      if (!meridian(x, M, &len, nullptr)) return false;
      const double g = VecDotProd3(M, No);
      if ((g < 0.0) == (ga < 0.0)) a = m, ga = g; else b = m;
    }
    double x = 0.5 * (a + b);
    if (x >= lo + range) x -= range;
    double d[3][3], N[3], T[3];
    if (!meridian(x, M, &len, nullptr) || !Partials(S, dir ? x : off, dir ? off : x, d, false)) return false;
    VecCrossProd3(d[1], d[2], N);
    const double lN = VecSize3(N);
    if (!(lN > 0.0) || !std::isfinite(lN)) continue;
    for (double& q : N) q /= lN;
    VecCrossProd3(pole ? No : N, pole ? N : No, T);
    const double near = VecDotProd3(M, t);
    if (s * VecDotProd3(T, M) > 0.0 && near > best) best = near, *w = x, std::copy(N, N + 3, n);
  }
  return best > -HUGE_VAL;
}

// The step from a point on a pole of surface `pole` (0 or 1) across whose side parameter `dir`
// runs: there the partial round the pole vanishes, the normal is only a limit, and resolving the
// branch's direction into the pole's parameters moves only the one round it, which moves no
// point. The meridians' directions at the pole span its tangent plane (their normal oriented as
// Su x Sv beside the pole, so that N1 x N2 runs the way it does on the branch beside the pole);
// the branch leaves along that plane's line with the other surface's tangent plane, and on the
// pole's surface along the meridian heading that way. The step keeps the chord height's rule and
// kMaxStepTurn with the branch's curvature from both surfaces' normal curvatures along it, and
// each parameter within a knot span. 0, or 100 where there is no telling (the other surface on a
// pole too, the tangent planes parallel, a surface that cannot be evaluated).
int StepOffPole(Bspline* s1, Bspline* s2, double* const p[4], int pole, int dir, int end, double s, double tolA,
                const double maxStep[4]) {
  const Bspline* S = pole ? s2 : s1;
  Bspline* O = pole ? s1 : s2;
  const int round = 1 - dir, kr = 2 * pole + round, kd = 2 * pole + dir, ko = 2 * (1 - pole);
  const double at = end ? Hi(S, dir) : Lo(S, dir), into = end ? -1.0 : 1.0;
  const double lo = Lo(S, round), range = Range(S, round);
  auto meridian = [&](double w, double M[3], double* len, double* second) {
    return Meridian(S, dir, end, w, M, len, second);
  };
  const bool closed = round ? S->closedV : S->closedU;
  double n[3];
  const double spread = PoleSpread(S, dir, end, n);
  if (spread < 0.0) return 100;
  {
    // Orientation from the normal a little way off the pole.
    double d[3][3], N[3];
    const double w = lo + 0.5 * range / kPoleMeridians, off = at + into * 1e-3 * Range(S, dir);
    if (!Partials(S, dir ? w : off, dir ? off : w, d, false)) return 100;
    VecCrossProd3(d[1], d[2], N);
    if (VecDotProd3(N, n) < 0.0)
      for (double& x : n) x = -x;
  }
  double d[6][3], No[3];
  int od, oe;
  if (OnPole(O, *p[ko], *p[ko + 1], &od, &oe) || !Partials(O, *p[ko], *p[ko + 1], d, true)) return 100;
  VecCrossProd3(d[1], d[2], No);
  const double lo2 = VecSize3(No);
  if (!(lo2 > 0.0) || !std::isfinite(lo2)) return 100;
  for (int q = 0; q < 3; ++q) No[q] /= lo2;
  double T[3];
  VecCrossProd3(pole ? No : n, pole ? n : No, T);
  const double lT = VecSize3(T);
  // Tangent planes this near parallel give no direction worth stepping along.
  if (!(lT > 1e-6)) return 100;
  double t[3] = {s * T[0] / lT, s * T[1] / lT, s * T[2] / lT};
  // The meridian leaving nearest t: the best sampled one, then a golden-section search between
  // its neighbours.
  auto along = [&](double w) {
    double Mw[3], l;
    return meridian(w, Mw, &l, nullptr) ? VecDotProd3(Mw, t) : -2.0;
  };
  int best = 0;
  double bestDot = -3.0;
  for (int i = 0; i < kPoleMeridians; ++i) {
    const double dot = along(lo + range * (i + 0.5) / kPoleMeridians);
    if (dot > bestDot) bestDot = dot, best = i;
  }
  double a = lo + range * (best - 0.5) / kPoleMeridians, b = lo + range * (best + 1.5) / kPoleMeridians;
  if (!closed) a = std::fmax(a, lo), b = std::fmin(b, lo + range);
  const double g = 0.5 * (std::sqrt(5.0) - 1.0);
  for (int it = 0; it < 60 && b - a > kParamTol * range * 1e-3; ++it) {
    const double x1 = b - g * (b - a), x2 = a + g * (b - a);
    if (along(x1) >= along(x2)) b = x2; else a = x1;
  }
  double w = 0.5 * (a + b);
  if (closed) w = w < lo ? w + range : w >= lo + range ? w - range : w;
  // At an apex (a cone's) the meridians leave out of any one plane: n is only their mean, and the
  // meridian nearest t may run off the other surface altogether, the step then refined back into
  // the apex and the branch lost. There the branch leaves along a meridian lying in the other
  // surface's tangent plane, the one along which the branch beside the apex (S's normal there
  // crossed with No, as T) runs away from it; the curvature below takes S's normal along it.
  const bool apex = spread > kApexSine;
  if (apex && !ApexMeridian(S, pole, dir, end, s, No, t, &w, n)) return 100;
  double Mw[3], lm, Sdd[3];
  if (!meridian(w, Mw, &lm, Sdd)) return 100;
  if (apex) std::copy(Mw, Mw + 3, t);
  // The branch's curvature vector kappa = alpha n + beta No from the normal curvatures along t.
  double r[2], r2[2] = {0.0, 0.0};
  if (!ResolveInTangentPlane(t, d[1], d[2], &r[0], &r[1])) return 100;
  double K[3];
  for (int q = 0; q < 3; ++q) K[q] = d[4][q] * r[0] * r[0] + 2.0 * d[3][q] * r[0] * r[1] + d[5][q] * r[1] * r[1];
  const double kn = VecDotProd3(Sdd, n) / (lm * lm), ko2 = VecDotProd3(K, No), c = VecDotProd3(n, No);
  const double alpha = (kn - c * ko2) / (1.0 - c * c), beta = (ko2 - c * kn) / (1.0 - c * c);
  double kappa[3];
  for (int q = 0; q < 3; ++q) kappa[q] = alpha * n[q] + beta * No[q];
  const double lk = VecSize3(kappa);
  double h = maxStep[kd] * lm;
  if (lk * tolA > 1e-8)
    h = std::fmin(h, std::fmin(2.0 * tolA * std::sqrt(2.0 * (std::sqrt(1.0 / (lk * lk * tolA * tolA) + 1.0) + 1.0)),
                               kMaxStepTurn / lk));
  double e[3];
  for (int q = 0; q < 3; ++q) e[q] = kappa[q] - K[q];
  if (!ResolveInTangentPlane(e, d[1], d[2], &r2[0], &r2[1])) r2[0] = r2[1] = 0.0;
  for (int halving = 0; halving < 60; ++halving, h *= 0.5) {
    const double move[2] = {(r[0] + h * r2[0] / 2.0) * h, (r[1] + h * r2[1] / 2.0) * h};
    if (!(std::fabs(move[0]) < maxStep[ko] && std::fabs(move[1]) < maxStep[ko + 1] && h / lm < maxStep[kd])) continue;
    *p[kr] = w;
    *p[kd] = at + into * h / lm;
    *p[ko] += move[0];
    *p[ko + 1] += move[1];
    return 0;
  }
  return 100;
}

// NewSrfSrfStepSize on a pair the tracer has checked.
int StepSize(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2, int dir,
             double tolA, bool offPole) {
  double* p[4] = {u1, v1, u2, v2};
  double maxStep[4], range[4];
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, s1, s2);
    range[k] = Range(s, k & 1);
    maxStep[k] = range[k] / ((k & 1 ? s->interiorV : s->interiorU) + 1);
  }
  for (int k = 0; k < 2 && offPole; ++k) {
    int pd, pe;
    if (OnPole(k ? s2 : s1, *p[2 * k], *p[2 * k + 1], &pd, &pe))
      return StepOffPole(s1, s2, p, k, pd, pe, dir < 0 ? -1.0 : 1.0, tolA, maxStep);
  }
  double d1[6][3], d2[6][3];
  if (!Partials(s1, *u1, *v1, d1, true) || !Partials(s2, *u2, *v2, d2, true)) return 100;
  for (int r = 1; r < 6; ++r) {
    ReduceSmallComponents(d1[r]);
    ReduceSmallComponents(d2[r]);
  }
  double N1[3], N2[3], T[3];
  VecCrossProd3(d1[1], d1[2], N1);
  VecCrossProd3(d2[1], d2[2], N2);
  VecCrossProd3(N1, N2, T);
  const double lN1 = VecSize3(N1), lN2 = VecSize3(N2), lT = VecSize3(T);
  // Parallel normals: the sine of their angle vanishes (to round-off), there is no tangent.
  if (!(lT > 1e-14 * lN1 * lN2)) return 100;
  double t[3] = {T[0] / lT, T[1] / lT, T[2] / lT};
  double r[4];  // first-order rates du1, dv1, du2, dv2 of a unit step along t
  if (!ResolveInTangentPlane(t, d1[1], d1[2], &r[0], &r[1]) ||
      !ResolveInTangentPlane(t, d2[1], d2[2], &r[2], &r[3]))
    return 100;
  const double s = dir < 0 ? -1.0 : 1.0;
  double K1[3], K2[3];
  for (int q = 0; q < 3; ++q) {
    K1[q] = d1[4][q] * r[0] * r[0] + 2.0 * d1[3][q] * r[0] * r[1] + d1[5][q] * r[1] * r[1];
    K2[q] = d2[4][q] * r[2] * r[2] + 2.0 * d2[3][q] * r[2] * r[3] + d2[5][q] * r[3] * r[3];
  }
  const double n12 = VecDotProd3(N1, N2), nn1 = lN1 * lN1, nn2 = lN2 * lN2;
  const double c = n12 * n12 / (nn1 * nn2) - 1.0;
  // Fixed step: the smallest share of its range that an average knot span takes, as a
  // parameter length along the branch in the surface that moves faster in its parameters.
  int m = 0;
  for (int k = 1; k < 4; ++k)
    if (maxStep[k] / range[k] < maxStep[m] / range[m]) m = k;
  double L = maxStep[m];
  if (std::fabs(c) >= 1e-6) {
    const double beta = (VecDotProd3(N1, K1) * n12 - VecDotProd3(N2, K2) * nn1) / (nn1 * nn2) / c;
    const double alpha = (VecDotProd3(N1, K1) - n12 * beta) / nn1;
    double kappa[3];
    for (int q = 0; q < 3; ++q) kappa[q] = alpha * N1[q] + beta * N2[q];
    const double lk = VecSize3(kappa);
    // A curvature radius beyond 1e8 chord heights counts as straight.
    if (lk * tolA > 1e-8) {
      // The chord height's rule gives a branch that curves more tightly than the chord height
      // (a small loop round a pole) a step longer than the loop is across; the step is held to
      // kMaxStepTurn of turning, where the second-order prediction still lands near the branch.
      double h = std::fmin(
          2.0 * tolA * std::sqrt(2.0 * (std::sqrt(1.0 / (lk * lk * tolA * tolA) + 1.0) + 1.0)),
          kMaxStepTurn / lk);
      double e1[3], e2[3], r2[4];
      for (int q = 0; q < 3; ++q) {
        e1[q] = kappa[q] - K1[q];
        e2[q] = kappa[q] - K2[q];
      }
      if (ResolveInTangentPlane(e1, d1[1], d1[2], &r2[0], &r2[1]) &&
          ResolveInTangentPlane(e2, d2[1], d2[2], &r2[2], &r2[3])) {
        // The same bound in each parameter plane: where the branch turns there faster than in
        // space (a surface's speed changing fast along it), a step with a second-order term
        // beyond kMaxStepTurn of the first heads off the branch, and the halvings of
        // RefineStep keep its direction, each landing as far off as it is long.
        for (int k = 0; k < 4; k += 2) {
          const double first = std::hypot(r[k], r[k + 1]), second = std::hypot(r2[k], r2[k + 1]);
          if (second * h > kMaxStepTurn * first) h = kMaxStepTurn * first / second;
        }
        // A step that would carry a parameter across more than a knot span is shortened until
        // it does not. The fixed step below moves each parameter plane the same parameter
        // length: on surfaces of different speeds along the branch that puts the two predicted
        // points apart by a share of the step that no halving in RefineStep reduces, and the
        // march crawls on at its last halving.
        for (int halving = 0; halving < 60; ++halving, h *= 0.5) {
          double move[4];
          bool fits = true;
          for (int k = 0; k < 4; ++k) {
            move[k] = (s * r[k] + h * r2[k] / 2.0) * h;
            if (!(std::fabs(move[k]) < maxStep[k])) fits = false;
          }
          const double rate[4] = {s * r[0], s * r[1], s * r[2], s * r[3]};
          if (fits && StaysAcrossSeam(s1, s2, p, rate, move)) {
            for (int k = 0; k < 4; ++k) *p[k] += move[k];
            return 0;
          }
        }
      }
    }
  } else {
    // Nearly tangent surfaces: the tangent is ill-conditioned, so a short step (a quarter of
    // the fixed one) in the requested direction, which the refinement pulls back.
    L *= 0.25;
  }
  // Both surfaces move the same length in space, r's rates times it: the same parameter length
  // in each plane would put the two predicted points apart by a share of the step where the
  // surfaces' speeds along the branch differ (a contact along the edge of a plane and a bend
  // whose parameter runs five times faster), which no halving in RefineStep reduces, and the
  // march would crawl on at its last halving.
  const double l = std::fmax(std::hypot(r[0], r[1]), std::hypot(r[2], r[3]));
  if (l > 0.0)
    for (int k = 0; k < 4; ++k) *p[k] += s * L * r[k] / l;
  return 0;
}

}  // namespace

int NewSrfSrfStepSize(Bspline* s1, Bspline* s2, double* u1, double* v1, double* u2, double* v2,
                      const double*, const double*, const double*, const double*, int, int, int,
                      int, int dir, double tolA, double tolB) {
  if (!u1 || !v1 || !u2 || !v2) {
    SetKernelError(-2);
    return -2;
  }
  if (!PairSound(s1, s2, {*u1, *v1, *u2, *v2, tolA, tolB})) return -2;
  return StepSize(s1, s2, u1, v1, u2, v2, dir, tolA, true);
}

// ---- The march -------------------------------------------------------------------------------

namespace {

// Work of one trace: arrays, boxes and the crossing lists of a step.
struct March {
  Bspline* s1;
  Bspline* s2;
  const double* us1;
  const double* vs1;
  const double* us2;
  const double* vs2;
  int NU1, NV1, NU2, NV2;
  double tol[4];  // tu1, tv1, tu2, tv2
  int** marks;
  IntersectionTraceList* list;
  IntersectionTrace* trace;
  double tolA, tolB;
  int* dirs[2];
  int* idx[2];
  double* frac[2];
  int n[2];
  int box[2][2], prevBox[2][2], seedBox[2][2];
  bool leftSeed;
  // The seed's own refinement is running (TightenBeside).
  bool refiningSeed;
  // A seed on a pole is moved beside it onto the branch however near the other surface passes
  // the pole: the march from the pole went nowhere (Trace).
  bool seedOffPole;
  // A march from the far side of a seam at the end seamEnd of the trace `continued` (null: a
  // march from a seed), whose other end is otherEnd (null: none, a closed loop).
  const IntersectionTrace* continued;
  const IntersectionTraceNode* seamEnd;
  const IntersectionTraceNode* otherEnd;
  // The sides of s1 and s2 collapsed to a pole (PoleSides), asked once a march: the pole tests
  // run at every step and node, and each SurfaceSideCollapsed measures the whole control net.
  mutable int poleSides[2];
};

// The sides of surface j (0 s1, 1 s2) of the march collapsed to a pole (SurfaceSideCollapsed):
// bit 2 dir + end.
int PoleSides(const March& m, int j) {
  constexpr int kKnown = 16;
  int& sides = m.poleSides[j];
  if (!sides) {
    const Bspline* s = j ? m.s2 : m.s1;
    sides = kKnown;
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e)
        if (SurfaceSideCollapsed(s, d, e)) sides |= 1 << (2 * d + e);
  }
  return sides & (kKnown - 1);
}

// OnPole for surface j of the march, from its collapsed sides.
bool OnPole(const March& m, int j, double u, double v, int* dir, int* end) {
  const int sides = PoleSides(m, j);
  if (!sides) return false;
  const Bspline* s = j ? m.s2 : m.s1;
  for (int d = 0; d < 2; ++d) {
    const double x = d ? v : u, tol = kParamTol * Range(s, d);
    for (int e = 0; e < 2; ++e)
      if (std::fabs(x - (e ? Hi(s, d) : Lo(s, d))) <= tol && (sides >> (2 * d + e) & 1)) {
        *dir = d;
        *end = e;
        return true;
      }
  }
  return false;
}

// NodeOnPole for the march's surfaces.
bool NodeOnPole(const March& m, const IntersectionTraceNode* n) {
  int dir, end;
  return OnPole(m, 0, n->u1, n->v1, &dir, &end) || OnPole(m, 1, n->u2, n->v2, &dir, &end);
}

bool Marked(const March& w) {
  return w.marks[w.box[0][1] * (w.NU1 - 1) + w.box[0][0]][w.box[1][1] * (w.NU2 - 1) + w.box[1][0]] != 0;
}

// Boxes and crossings of the step from prev to cur, computed from the boxes before the step.
void UpdateBoxes(March& w, const Params& prev, const Params& cur) {
  for (int s = 0; s < 2; ++s) {
    const double* us = s ? w.us2 : w.us1;
    const double* vs = s ? w.vs2 : w.vs1;
    const int NU = s ? w.NU2 : w.NU1, NV = s ? w.NV2 : w.NV1;
    const double tu = w.tol[2 * s], tv = w.tol[2 * s + 1];
    const double u = cur.p[2 * s], v = cur.p[2 * s + 1];
    w.box[s][0] = w.prevBox[s][0];
    w.box[s][1] = w.prevBox[s][1];
    w.n[s] = 0;
    if (ChkPtNotInBox(us, vs, w.prevBox[s][0], w.prevBox[s][1], u, v, tu, tv)) {
      GetBoxesRange(us, vs, u, v, NU, NV, &w.box[s][0], &w.box[s][1], tu, tv);
      GetAllBoxesBetweenPoints(us, vs, prev.p[2 * s], prev.p[2 * s + 1], u, v, w.prevBox[s][0],
                               w.prevBox[s][1], w.box[s][0], w.box[s][1], w.dirs[s], w.idx[s],
                               w.frac[s], &w.n[s]);
    }
  }
}

}  // namespace

namespace {

// Calls visit(a, b) for every chord (a node and the one after it along the branch, or the last
// node alone) of the list's traces other than skip.
template <class Visit>
void EachChordOf(const IntersectionTrace* t, Visit visit) {
  for (const IntersectionTraceNode* a = t->head; a; a = a->next) {
    // The node after the turn node is the first of the backward march, which began at the
    // seed (the head): the branch runs between those two, not from the forward end.
    if (a == t->turn && a->next) {
      visit(a, a);
      visit(t->head, a->next);
    } else {
      visit(a, a->next ? a->next : a);
    }
  }
}

template <class Visit>
void EachChord(const IntersectionTraceList* list, const IntersectionTrace* skip, Visit visit) {
  for (const IntersectionTrace* t = list->head; t; t = t->next)
    if (t != skip) EachChordOf(t, visit);
}

// Squared distance of X from the chord a b, with the fraction of the chord at X's foot.
double ChordDistance2(const IntersectionTraceNode* a, const IntersectionTraceNode* b, const double X[3], double* f) {
  const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
  double ab[3], ax[3];
  VecDiff3(B, A, ab);
  VecDiff3(X, A, ax);
  const double l2 = VecDotProd3(ab, ab);
  *f = l2 > 0.0 ? std::fmin(1.0, std::fmax(0.0, VecDotProd3(ab, ax) / l2)) : 0.0;
  double d2 = 0.0;
  for (int q = 0; q < 3; ++q) d2 += (ax[q] - *f * ab[q]) * (ax[q] - *f * ab[q]);
  return d2;
}

}  // namespace

const IntersectionTraceNode* NearestChord(const IntersectionTraceList* list,
                                          const IntersectionTrace* skip, const double X[3],
                                          double reach, double* fraction,
                                          const IntersectionTraceNode** partner) {
  const IntersectionTraceNode* best = nullptr;
  double bestD2 = reach * reach;
  EachChord(list, skip, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double f = 0.0;
    const double d2 = ChordDistance2(a, b, X, &f);
    if (d2 <= bestD2) {
      bestD2 = d2;
      best = a;
      if (fraction) *fraction = f;
      if (partner) *partner = b;
    }
  });
  return best;
}

bool NearTracedBranch(const IntersectionTraceList* list, const IntersectionTrace* skip,
                      const double X[3], double reach) {
  return NearestChord(list, skip, X, reach, nullptr) != nullptr;
}

namespace {

Params Of(const IntersectionTraceNode* n) { return {{n->u1, n->v1, n->u2, n->v2}}; }

// True when a and b lie across a seam from each other: a parameter in a closed direction more
// than half its range apart (the branch between them, the short way round, crosses the seam).
bool AcrossSeam(const March& m, const Params& a, const Params& b) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if ((k & 1 ? s->closedV : s->closedU) && std::fabs(a.p[k] - b.p[k]) > 0.5 * Range(s, k & 1)) return true;
  }
  return false;
}

bool UnitTangent(const March& m, const Params& c, double P[3], double t[3], bool* has);

// Which way the branch at c, oriented the way the march came from prev, carries parameter k
// against the end of its range that c lies on (at +1 the upper end, -1 the lower): +1 toward it
// (the march arrives there from inside the domain), -1 away from it (the branch comes back in
// there from beyond, after a stretch outside or a dip across a seam that the step passed over),
// 0 where there is no telling (no tangent, or the surface collapsed there: a pole, an apex).
int TowardEnd(const March& w, const Params& prev, const Params& c, int k, int at) {
  double P[3], t[3], P0[3], chord[3];
  bool has = false;
  if (!UnitTangent(w, c, P, t, &has) || !has) return 0;
  Eval3DPointOnSurfCoord(w.s1, prev.p[0], prev.p[1], 0, 0, P0);
  VecDiff3(P, P0, chord);
  if (VecDotProd3(t, chord) < 0.0)
    for (double& x : t) x = -x;
  const int s = k / 2;
  double Q[3], Su[3], Sv[3], n[3], r[2];
  if (!TangentPlane(s ? w.s2 : w.s1, c.p[2 * s], c.p[2 * s + 1], Q, Su, Sv, n)) return 0;
  const double lu = VecSize3(Su), lv = VecSize3(Sv);
  if (lu <= kPoleShare * lv || lv <= kPoleShare * lu || !ResolveInTangentPlane(t, Su, Sv, &r[0], &r[1])) return 0;
  return at * r[k & 1] > 0.0 ? 1 : at * r[k & 1] < 0.0 ? -1 : 0;
}

// The first node of a trace other than the march's own lying within kSeamMeetTolBs point
// tolerances of X whose parameter in a closed direction k lies at the other end of its range from
// a's (the two meet on that seam, each from its own side) and for which accept(k, node's
// parameters) holds; null when there is none.
template <class Accept>
const IntersectionTraceNode* NodeAcrossSeam(const March& w, const double X[3], const Params& a, Accept accept) {
  for (const IntersectionTrace* t = w.list->head; t; t = t->next) {
    if (t == w.trace) continue;
    for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
      const double N[3] = {n->x, n->y, n->z};
      if (VecDist3(N, X) > kSeamMeetTolBs * w.tolB) continue;
      const Params q = Of(n);
      for (int k = 0; k < 4; ++k) {
        const Bspline* s = SurfaceOf(k, w.s1, w.s2);
        if ((k & 1 ? s->closedV : s->closedU) &&
            std::fabs(std::fabs(a.p[k] - q.p[k]) - Range(s, k & 1)) <= w.tol[k] && accept(k, q))
          return n;
      }
    }
  }
  return nullptr;
}

// True when P (parameters c, reached from prev) is a node of another trace whose parameter in a
// closed direction lies at the other end of its range from c's, where the march arrives (both
// meet on that seam, each from its own side).
bool MeetsTraceAcrossSeam(const March& w, const Params& prev, const Params& c, const double P[3]) {
  return NodeAcrossSeam(w, P, c, [&](int k, const Params& q) {
           return TowardEnd(w, prev, c, k, c.p[k] > q.p[k] ? 1 : -1) > 0;
         }) != nullptr;
}

// True when X lies along trace t (within reach of one of its chords) past its end o: its foot
// on t is not o's own point.
bool AlongPast(const IntersectionTrace* t, const IntersectionTraceNode* o, const double X[3], double reach) {
  const IntersectionTraceNode *a = nullptr, *b = nullptr;
  double near2 = reach * reach, f = 0.0;
  EachChordOf(t, [&](const IntersectionTraceNode* p, const IntersectionTraceNode* q) {
    double g = 0.0;
    const double d2 = ChordDistance2(p, q, X, &g);
    if (d2 <= near2) near2 = d2, a = p, b = q, f = g;
  });
  return a && !((a == o && (f == 0.0 || b == o)) || (b == o && f == 1.0));
}

// A march from the far side of a seam at one end of a trace whose other end stopped short of the
// seam (a step there taken for turning back, where the branch turns sharply) runs over the
// stretch between and on along the trace past that end. Where its steps are short, about such a
// turn, it may pass the end within its seed's box pair and meet the trace's marked boxes only
// beyond it: no duplicate, but the stretch the trace lacks. Its nodes along the trace past the
// end are dropped and the end itself ends this direction of the march. 1 so ended; 0 (a
// duplicate after all) when P, where it met the marks, lies elsewhere, or no node of this
// direction stays short of the end, or that node's step past it does not pass near it; -2 on no
// memory.
int EndsOnContinuedTrace(March& m, const double P[3]) {
  const IntersectionTraceNode* o = m.otherEnd;
  IntersectionTrace* tr = m.trace;
  const double reach = 2.0 * m.tolA;
  if (!o || !AlongPast(m.continued, o, P, reach)) return 0;
  double D[3] = {P[0], P[1], P[2]};
  while (tr->nodeCount > tr->directionStart) {
    IntersectionTraceNode* n = tr->tail;
    const double X[3] = {n->x, n->y, n->z};
    if (!AlongPast(m.continued, o, X, reach)) break;
    for (int q = 0; q < 3; ++q) D[q] = X[q];
    tr->tail = n->prev;
    tr->tail->next = nullptr;
    --tr->nodeCount;
    Free(n);
  }
  if (tr->nodeCount <= tr->directionStart) return 0;
  const IntersectionTraceNode* k = tr->tail;
  const double K[3] = {k->x, k->y, k->z}, O[3] = {o->x, o->y, o->z};
  const double step = VecDist3(K, D);
  if (!(VecDist3(K, O) <= step + reach && VecDist3(O, D) <= step + reach)) return 0;
  return AppendTraceNode(tr, O, o->u1, o->v1, o->u2, o->v2) ? 1 : -2;
}

// The two ends of an open trace: the forward end, and the backward end or the seed where the
// march back added nothing.
void EndsOf(const IntersectionTrace* t, const IntersectionTraceNode* ends[2]) {
  ends[0] = t->turn ? t->turn : t->tail;
  ends[1] = t->turn && t->tail != t->turn ? t->tail : t->head;
}

// The open trace other than the march's own on one of whose chords X lies within the chord
// height of that chord or of a step `step` long (OnTracedChord's bound: a node of a stretch
// through a pole, refined to the tolerance where the surfaces cross at a shallow angle, lies a few
// tolerances beside the loop, within the height of the march's step across it), at a point that
// is none of that trace's ends: X lies along it, not beyond it. With `way` (a step's chord), the
// chord runs along it to within a step's turn (kMaxStepTurn), either way. Null when there is none.
const IntersectionTrace* TraceAlong(const March& w, const double X[3], double step, const double* way) {
  const IntersectionTrace* found = nullptr;
  double best2 = HUGE_VAL;
  for (const IntersectionTrace* t = w.list->head; t; t = t->next) {
    if (t == w.trace || !t->open || t->nodeCount < 2) continue;
    const IntersectionTraceNode* ends[2];
    EndsOf(t, ends);
    EachChordOf(t, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
      double f = 0.0;
      const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
      const double within = std::fmin(2.0 * w.tolA, 0.25 * std::fmax(VecDist3(A, B), step) + w.tolB);
      const double d2 = ChordDistance2(a, b, X, &f);
      if (d2 > within * within || d2 >= best2) return;
      const IntersectionTraceNode* foot = f == 0.0 || a == b ? a : f == 1.0 ? b : nullptr;
      bool along = foot != ends[0] && foot != ends[1];
      if (along && way && a != b) {
        double ab[3];
        VecDiff3(B, A, ab);
        const double l = VecSize3(ab) * VecSize3(way);
        along = l > 0.0 && std::fabs(VecDotProd3(ab, way)) >= std::cos(kMaxStepTurn) * l;
      }
      best2 = d2;
      found = along ? t : nullptr;
    });
  }
  return found;
}

// Distance of X from the segment A B.
double SegmentDistance(const double A[3], const double B[3], const double X[3]) {
  double ab[3], ax[3];
  VecDiff3(B, A, ab);
  VecDiff3(X, A, ax);
  const double l2 = VecDotProd3(ab, ab);
  const double f = l2 > 0.0 ? std::fmin(1.0, std::fmax(0.0, VecDotProd3(ab, ax) / l2)) : 0.0;
  double d2 = 0.0;
  for (int q = 0; q < 3; ++q) d2 += (ax[q] - f * ab[q]) * (ax[q] - f * ab[q]);
  return std::sqrt(d2);
}

// A step of this many point tolerances or less (a crawl into a pole, its nodes as loose as its
// steps are long) tells a trace it runs along from one it passes beside no better than its nodes
// lie.
constexpr double kCrawlTolBs = 4.0;

// True when a step from a seed's own stretch lands on an end of another open trace, within the
// point tolerance, from a node lying off every traced branch. At a net's vertex, where several
// arms of the branch meet, the march from a seed on the vertex may take one step onto an arm
// that arrives there and turn back: its trace stops a round-off beside the vertex. A march up
// that arm from a seed on it lands on the vertex, where the short trace ends; dropped as a
// retrace of it, the whole arm went missing from every seed on it. The arm meets that trace at
// its end and stops there: a node off every branch traced has retraced nothing yet.
bool LandsOnTracedEndFromAfar(const March& m, const double P[3]) {
  const IntersectionTrace* tr = m.trace;
  if (m.continued || !tr->tail) return false;
  for (const IntersectionTrace* t = m.list->head; t; t = t->next) {
    if (t == tr || !t->open || t->nodeCount < 1) continue;
    const IntersectionTraceNode* ends[2];
    EndsOf(t, ends);
    for (const IntersectionTraceNode* e : ends) {
      const double E[3] = {e->x, e->y, e->z};
      if (VecDist3(E, P) > m.tolB) continue;
      const IntersectionTraceNode* n = tr->tail;
      const double N[3] = {n->x, n->y, n->z};
      const Params q = Of(n);
      return !NearTracedBranchAlike(m.s1, m.s2, m.list, tr, q.p, N, 2.0 * m.tolA);
    }
  }
  return false;
}

// A march from the far side of a seam reads the marks only until it leaves its seed's boxes:
// beyond them a step may land along another open trace past that trace's end (a stretch through a
// pole a few tolerances long that the loop's march passes, or the trace it continues, come round
// the loop to its other end) and run on over it, that stretch twice, while dropping either trace
// leaves a hole. The march ends on that end instead, its nodes along the trace dropped; one
// running back over the trace it continues from the seam ends at its seed. 1 so ended; 0 when the
// step is a crawl's, P lies along no open trace, or the step from the last node kept to the first
// point along the trace passes no end of it within the step's chord height; -2 on no memory.
int EndsOnTracedEnd(March& m, const double P[3]) {
  if (!m.continued) return 0;
  IntersectionTrace* tr = m.trace;
  const IntersectionTraceNode* from = tr->nodeCount > tr->directionStart ? tr->tail : tr->head;
  const double F[3] = {from->x, from->y, from->z};
  double way[3];
  VecDiff3(P, F, way);
  const double step = VecSize3(way);
  if (step <= kCrawlTolBs * m.tolB) return 0;
  const IntersectionTrace* o = TraceAlong(m, P, step, way);
  if (!o) return 0;
  // The nodes of this direction lying along o, from the tail back: they go, and the step from the
  // last one kept to the first along o passes o's end.
  int along = 0;
  const IntersectionTraceNode* keep = tr->tail;
  const double* D = P;
  double onO[3];
  while (tr->nodeCount - along > tr->directionStart) {
    const double X[3] = {keep->x, keep->y, keep->z};
    if (TraceAlong(m, X, step, nullptr) != o) break;
    for (int q = 0; q < 3; ++q) onO[q] = X[q];
    D = onO;
    ++along;
    keep = keep->prev;
  }
  if (tr->nodeCount - along <= tr->directionStart) keep = tr->head;
  const double K[3] = {keep->x, keep->y, keep->z};
  const double bound = 0.25 * VecDist3(K, D) + m.tolB;
  const IntersectionTraceNode* ends[2];
  EndsOf(o, ends);
  // The end the step from K to D passes: beside the step, between its ends, the first one passed.
  const IntersectionTraceNode* end = nullptr;
  double first = HUGE_VAL;
  for (const IntersectionTraceNode* e : ends) {
    const double E[3] = {e->x, e->y, e->z};
    double kd[3], ke[3];
    VecDiff3(D, K, kd);
    VecDiff3(E, K, ke);
    const double l2 = VecDotProd3(kd, kd), f = l2 > 0.0 ? VecDotProd3(kd, ke) / l2 : -1.0;
    // The end this march continues from the seam's far side, passed just beyond a seed refined a
    // little along the seam, is no end it runs onto where the step passes the trace's other end
    // too: a first step from the seam over a pole a few tolerances away passes both, and ended on
    // the seam end the stretch to the pole was left out of the loop (4 degrees of a small sphere's).
    const bool ownSeamEnd = o == m.continued && e == m.seamEnd && ends[0] != ends[1];
    if (f > 0.0 && f < 1.0 && SegmentDistance(K, D, E) <= bound && (f < first || end == m.seamEnd) &&
        !(ownSeamEnd && end))
      end = e, first = f;
  }
  // None passed, from the seed along the trace it continues, its other end nowhere near the step:
  // the march runs back over that trace from the seam (its seed refined off the seam beside a
  // pole, where the parameter round the pole swings) and this direction adds nothing.
  bool back = !end && o == m.continued && keep == tr->head;
  for (const IntersectionTraceNode* e : ends) {
    const double E[3] = {e->x, e->y, e->z};
    if (back && e != m.seamEnd && SegmentDistance(K, D, E) <= bound) back = false;
  }
  if (!end && !back) return 0;
  for (; along > 0; --along) {
    IntersectionTraceNode* n = tr->tail;
    tr->tail = n->prev;
    tr->tail->next = nullptr;
    --tr->nodeCount;
    Free(n);
  }
  if (back) return 1;
  const double O[3] = {end->x, end->y, end->z};
  return AppendTraceNode(tr, O, end->u1, end->v1, end->u2, end->v2) ? 1 : -2;
}

// A march from the far side of a seam only passing beside a traced branch (below).
bool PassesBesideTracedBranch(const March& m, const Params& c, const double P[3]);

// True when node n lies on the same side of a domain (an end of a direction that is not closed)
// as c, the march's point P, at another point of it (farther than kSeamMeetTolBs point
// tolerances): the branch crosses that side twice there, and P, nearest to n itself, lies on no
// chord of n's trace.
bool OtherCrossingOfSide(const March& w, const Params& c, const double P[3], const IntersectionTraceNode* n) {
  const double N[3] = {n->x, n->y, n->z};
  if (VecDist3(N, P) <= kSeamMeetTolBs * w.tolB) return false;
  const Params q = Of(n);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, w.s1, w.s2);
    if (k & 1 ? s->closedV : s->closedU) continue;
    for (const double end : {Lo(s, k & 1), Hi(s, k & 1)})
      if (std::fabs(c.p[k] - end) <= w.tol[k] && std::fabs(q.p[k] - end) <= w.tol[k]) return true;
  }
  return false;
}

// True when the step from prev, the seed of a march begun on a seam where another trace ends
// from the seam's far side (ContinueAcrossSeams), lands at c (point P) beyond that end: every
// chord within reach of P comes nearest at the end node itself, or at a node crossing the domain
// side P lies on elsewhere (OtherCrossingOfSide). A stretch from a seam to a domain side crossed
// in one step lies within the chord height of the end it continues, yet on no traced chord.
bool LeavesSeamEndBeyond(const March& w, const Params& prev, const Params& c, const double P[3], double reach) {
  const IntersectionTraceNode* head = w.trace ? w.trace->head : nullptr;
  if (!head) return false;
  const Params seed = Of(head);
  for (int k = 0; k < 4; ++k)
    if (seed.p[k] != prev.p[k]) return false;
  const double S[3] = {head->x, head->y, head->z};
  const IntersectionTraceNode* end = NodeAcrossSeam(w, S, prev, [](int, const Params&) { return true; });
  if (!end) return false;
  bool beyond = true;
  EachChord(w.list, w.trace, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double f = 0.0;
    if (ChordDistance2(a, b, P, &f) > reach * reach) return;
    const IntersectionTraceNode* foot = f == 0.0 ? a : f == 1.0 ? b : nullptr;
    if (foot != end && !(foot && OtherCrossingOfSide(w, c, P, foot))) beyond = false;
  });
  return beyond;
}

// True when P, reached by a march from the far side of a seam (ContinueAcrossSeams), lies
// beyond the ends of the traces it is near: the nearest point to P of every other trace within
// reach of it is that open trace's end node, lying on a seam. A stretch between two seams (a
// corner where a branch crosses both seams of a torus) shorter than a chord height runs from one
// trace's end to another's, within reach of both, yet on neither: the march over it is no
// duplicate.
bool BeyondSeamEnds(const March& w, const double P[3], double reach) {
  if (!w.continued) return false;
  auto onSeam = [&](const IntersectionTraceNode* n) {
    const Params q = Of(n);
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, w.s1, w.s2);
      if ((k & 1 ? s->closedV : s->closedU) &&
          std::fmin(q.p[k] - Lo(s, k & 1), Hi(s, k & 1) - q.p[k]) <= w.tol[k])
        return true;
    }
    return false;
  };
  bool any = false, beyond = true;
  for (const IntersectionTrace* t = w.list->head; t && beyond; t = t->next) {
    if (t == w.trace) continue;
    double near2 = reach * reach;
    const IntersectionTraceNode* foot = nullptr;  // the node P's nearest point is, if it is one
    bool within = false;
    EachChordOf(t, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
      double f = 0.0;
      const double d2 = ChordDistance2(a, b, P, &f);
      if (d2 > near2) return;
      near2 = d2, within = true;
      foot = f == 0.0 ? a : f == 1.0 ? b : nullptr;
    });
    if (!within) continue;
    any = true;
    const bool end = foot && t->open && (foot == t->turn || !foot->next || (foot == t->head && t->turn == t->tail));
    if (!end || !onSeam(foot)) beyond = false;
  }
  return any && beyond;
}

// True when P lies on a chord of a trace other than the march's own to within that chord's
// height, which the bound on a step's turn (kMaxStepTurn) keeps below a sixteenth of its length
// (a quarter allowed, with the point tolerance), and within reach. On a loop smaller than the
// chord height every point lies within two chord heights of every chord: a march from a seam's
// far side over the loop's other half lands off the half traced by more than that half's chords
// are high.
bool OnTracedChord(const March& w, const double P[3], double reach) {
  bool on = false;
  EachChord(w.list, w.trace, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double f = 0.0;
    const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
    const double within = std::fmin(reach, 0.25 * VecDist3(A, B) + w.tolB);
    if (!on && ChordDistance2(a, b, P, &f) <= within * within) on = true;
  });
  return on;
}

// True when the step from node `from` to P of a march continuing a trace from the far side of a
// seam (ContinueAcrossSeams) runs along that trace: the step's middle lies beside one of its
// chords between the chord's nodes, within OnTracedChord's bound. The march back from such a
// seed runs over the trace it continues; the seam stops it (LeavesAtSeed) only where the seed
// lies on the seam, and one refined off it beside a pole, where the parameter round the pole
// swings, ran back over a stretch from the pole to the seam in one step and closed the loop onto
// the pole the march's forward end had reached: that stretch came out twice. A step closing a
// gap between the trace's ends has its middle beyond both, beside no chord; one passing the
// trace's other end after coming round to it ends the march there (EndsOnContinuedTrace).
bool StepAlongContinued(const March& w, const IntersectionTraceNode* from, const double P[3]) {
  if (!w.continued) return false;
  const double M[3] = {0.5 * (from->x + P[0]), 0.5 * (from->y + P[1]), 0.5 * (from->z + P[2])};
  bool along = false;
  EachChordOf(w.continued, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double f = 0.0;
    const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
    const double within = std::fmin(2.0 * w.tolA, 0.25 * VecDist3(A, B) + w.tolB);
    if (ChordDistance2(a, b, M, &f) <= within * within && f > 0.0 && f < 1.0) along = true;
  });
  return along;
}

bool SharpKnot(const Bspline* s, int dir, double x);
bool SharpKnotBetween(const Bspline* s, int dir, double a, double b, double* knot);

bool SameParams(const March& m, const Params& a, const Params& b);

// True when the chord a b comes nearest P (parameters c; f the fraction of the chord at the
// foot) at one of its nodes, which lies with c on one line of a parameter along which a surface
// turns sharply (a sharp knot, or the seam of a closed net of degree one there), the two points
// apart. The other surface crosses that line at each: two crossings, not one point of one
// stretch, however near (a cylinder cutting a net's seam at a shallow angle crosses it twice
// within two chord heights, and the march reaching the second was dropped as retracing the
// branch that ends on the first).
bool EndsOnOtherCrossingOfLine(const March& w, const IntersectionTraceNode* a, const IntersectionTraceNode* b,
                               double f, const Params& c) {
  if (f > 0.0 && f < 1.0 && a != b) return false;
  const Params N = Of(f >= 1.0 ? b : a);
  if (SameParams(w, N, c)) return false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, w.s1, w.s2);
    const int dir = k & 1;
    const bool seam = (dir ? s->closedV : s->closedU) && (dir ? s->degreeV : s->degreeU) == 1;
    const double lo = Lo(s, dir), hi = Hi(s, dir);
    const auto onSeam = [&](double x) { return std::fabs(x - lo) <= w.tol[k] || std::fabs(x - hi) <= w.tol[k]; };
    if (seam && onSeam(N.p[k]) && onSeam(c.p[k])) return true;
    if (std::fabs(N.p[k] - c.p[k]) <= w.tol[k] && SharpKnot(s, dir, c.p[k]) && SharpKnot(s, dir, N.p[k])) return true;
  }
  return false;
}

// True when every traced chord within reach of P (parameters c) lies across a sharp knot from it,
// in some parameter of either surface, its nodes on the knot or beyond. A net's faces meet the
// other surface in stretches that bend at the creases, and where the branch passes a vertex at a
// wide angle the stretch over one face comes into it beside the stretch leaving it over the
// next, within two chord heights of that one's last chords over a share of a coarse face. P lies
// on another face than those chords, on no traced stretch: taken for a duplicate, the whole
// stretch over its face was dropped, from every seed on it. So is a chord that comes nearest P at
// a node crossing P's crease or seam elsewhere (EndsOnOtherCrossingOfLine).
bool AcrossKnotFromTracedChords(const March& w, const Params& c, const double P[3], double reach) {
  bool near = false, across = true;
  EachChord(w.list, w.trace, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double f = 0.0;
    if (!across || ChordDistance2(a, b, P, &f) > reach * reach) return;
    near = true;
    const Params A = Of(a), B = Of(b);
    across = EndsOnOtherCrossingOfLine(w, a, b, f, c);
    for (int k = 0; k < 4 && !across; ++k) {
      const Bspline* s = SurfaceOf(k, w.s1, w.s2);
      const double x = std::fabs(A.p[k] - c.p[k]) < std::fabs(B.p[k] - c.p[k]) ? A.p[k] : B.p[k];
      double knot = x;
      across = (A.p[k] - c.p[k]) * (B.p[k] - c.p[k]) > 0.0 &&
               (SharpKnot(s, k & 1, x) || SharpKnotBetween(s, k & 1, c.p[k], x, &knot)) &&
               std::fabs(knot - c.p[k]) > w.tol[k];
    }
  });
  return near && across;
}

// The seed-pair check and the marks of a step: false when the branch reached a marked pair
// before leaving its seed pair (a duplicate). A pair of boxes can hold several branches, so the
// march is a duplicate only when its point P (parameters c) also lies on a traced branch running
// its way (within two chord heights of one of its chords, NearTracedBranchAlike). A step that
// ends on a singular point (atSingular) reaches the other branches through it and is no
// duplicate for that; nor is a step from prev that ends the march on a seam (atEnd) where
// another trace ends from the seam's far side: a stretch between two seams crossed in one step
// lies within the chord height of both traces' ends, yet on neither; nor the first step from a
// seed on a seam that ends the march beyond the far side's end (LeavesSeamEndBeyond). A march
// continuing a trace from the far side of a seam is none either where it lies on no traced chord
// (OnTracedChord) or only passes beside another branch (PassesBesideTracedBranch); where it has
// come along its own trace past that trace's other end, the caller ends it there
// (EndsOnContinuedTrace). A point whose foot on that trace is the end the march continues lies
// beyond the seam, on the stretch the march traces (a loop's turn just across the seam, all of it
// within the reach of that end), not along it. Nor is a point across a crease from every traced
// chord within the reach (AcrossKnotFromTracedChords).
bool CheckAndMark(March& w, bool atSingular, bool atEnd, const Params& prev, const Params& c,
                  const double P[3]) {
  if (!w.leftSeed && (w.box[0][0] != w.seedBox[0][0] || w.box[0][1] != w.seedBox[0][1] ||
                      w.box[1][0] != w.seedBox[1][0] || w.box[1][1] != w.seedBox[1][1])) {
    const bool beyondSeam = atEnd && (MeetsTraceAcrossSeam(w, prev, c, P) ||
                                      LeavesSeamEndBeyond(w, prev, c, P, 2.0 * w.tolA));
    if (!atSingular && Marked(w) && !beyondSeam && !BeyondSeamEnds(w, P, 2.0 * w.tolA) &&
        NearTracedBranchAlike(w.s1, w.s2, w.list, w.trace, c.p, P, 2.0 * w.tolA) &&
        !AcrossKnotFromTracedChords(w, c, P, 2.0 * w.tolA) &&
        (!w.continued || OnTracedChord(w, P, 2.0 * w.tolA)) &&
        (!w.continued ||
         (w.otherEnd && AlongPast(w.continued, w.otherEnd, P, 2.0 * w.tolA) &&
          AlongPast(w.continued, w.seamEnd, P, 2.0 * w.tolA)) ||
         !PassesBesideTracedBranch(w, c, P)))
      return false;
    w.leftSeed = true;
  }
  if (w.n[0] > 0 || w.n[1] > 0)
    MarkAllBoxesBetweenPoints(w.idx[0], w.dirs[0], w.idx[1], w.dirs[1], w.frac[0], w.frac[1],
                              w.prevBox[0][0], w.prevBox[0][1], w.prevBox[1][0], w.prevBox[1][1],
                              w.NU1, w.NV1, w.NU2, w.NV2, w.n[0], w.n[1], w.marks);
  return true;
}

// (p - second) . (p - reference) <= 0 on either surface's parameters: the point has come back
// between the two points that bound the branch's start.
bool Closes(const Params& p, const Params& second, const Params& ref) {
  for (int s = 0; s < 2; ++s) {
    const int a = 2 * s, b = 2 * s + 1;
    if ((p.p[a] - second.p[a]) * (p.p[a] - ref.p[a]) + (p.p[b] - second.p[b]) * (p.p[b] - ref.p[b]) <= 0.0)
      return true;
  }
  return false;
}

// Refines c further where the normals are nearly parallel: near a crossing of branches at a
// touching, or beside a branch running side by side with another (with the singular points
// below).
void TightenNearCrossing(March& m, Params& c, double P[3]);
bool OnDomainEnd(const March& m, const Params& c);

// A point stopped on an edge is tightened along it; one flagged at an edge it has not reached
// exactly is left as the refinement gave it.
int Refine(March& w, Params& c, double P[3], int* boundary, const IntersectionTraceNode* prev) {
  const int rc = NewRefineIntrPoint(w.s1, w.s2, &c.p[0], &c.p[1], &c.p[2], &c.p[3], P, kMarchIterations,
                                    boundary, prev, w.tolB);
  if (rc == 0 && (!*boundary || OnDomainEnd(w, c))) TightenNearCrossing(w, c, P);
  return rc;
}

// A step lands on its own branch only if the chord runs along the branch's tangent at both
// ends, the same way: a step that cut across to another branch (two loops passing close where
// the surfaces are nearly tangent, or the far side of a crossing) turns the chord away from the
// tangent at the end it lands on. The chord of a step whose chord height keeps to the tracer's
// rule turns from the tangent by far less than this. An end where the normals are parallel to
// within this sine has no tangent to compare with.
constexpr double kChordTangentCos = 0.8;  // about 37 degrees
constexpr double kNoTangentSine = 1e-3;

bool UnitTangent(const March& m, const Params& c, double P[3], double t[3], bool* has) {
  double P2[3], S1u[3], S1v[3], n1[3], S2u[3], S2v[3], n2[3];
  if (!TangentPlane(m.s1, c.p[0], c.p[1], P, S1u, S1v, n1) ||
      !TangentPlane(m.s2, c.p[2], c.p[3], P2, S2u, S2v, n2))
    return false;
  VecCrossProd3(n1, n2, t);
  const double l = VecSize3(t);
  *has = l > kNoTangentSine;
  if (*has)
    for (int q = 0; q < 3; ++q) t[q] /= l;
  return true;
}

bool FollowsBranch(const March& m, const Params& prev, const Params& cur) {
  double P0[3], P1[3], t0[3], t1[3];
  bool has0 = false, has1 = false;
  if (!UnitTangent(m, prev, P0, t0, &has0) || !UnitTangent(m, cur, P1, t1, &has1)) return true;
  double c[3];
  VecDiff3(P1, P0, c);
  const double len = VecSize3(c);
  if (!(len > 0.0)) return true;
  const double a0 = has0 ? VecDotProd3(t0, c) / len : 1.0, a1 = has1 ? VecDotProd3(t1, c) / len : 1.0;
  if (has0 && std::fabs(a0) < kChordTangentCos) return false;
  if (has1 && std::fabs(a1) < kChordTangentCos) return false;
  return !(has0 && has1) || (a0 > 0.0) == (a1 > 0.0);
}

}  // namespace

// Where the surfaces come near tangency, two branches can run side by side closer than a chord
// height (a sphere a little larger than the cylinder it sits in: two circles close together),
// and a point of one lies near the other's chords. Their tangents n1 x n2 run opposite ways: the
// gap between the surfaces changes sign the other way across each. Where they come near crossing
// instead, the arcs face each other as a hyperbola's two arms do: opposite ways at the vertices,
// and beyond them turning toward the asymptotes, ever nearer a right angle but never within it,
// while one arm's own tangent turns by less than a step's kMaxStepTurn over half a chord. A chord
// whose nearer node's tangent makes an obtuse angle with the point's belongs to such a branch,
// not to the point's.
bool NearTracedBranchAlike(Bspline* s1, Bspline* s2, const IntersectionTraceList* list,
                           const IntersectionTrace* skip, const double q[4], const double X[3],
                           double reach) {
  if (!list || !q || !X) return false;
  March m = {};
  m.s1 = s1;
  m.s2 = s2;
  double P[3], t[3];
  bool has = false, known = false;  // X's tangent, found when a chord first lies within reach
  bool alike = false;
  EachChord(list, skip, [&](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double f = 0.0;
    if (alike || ChordDistance2(a, b, X, &f) > reach * reach) return;
    if (!known && !UnitTangent(m, {{q[0], q[1], q[2], q[3]}}, P, t, &has)) has = false;
    known = true;
    double Q[3], tn[3];
    bool hasNode = false;
    // A node on an apex has only the normal's limit along its parameter's meridian, which need
    // not be the branch's: the chord's other node gives the tangent.
    const IntersectionTraceNode* c = f < 0.5 ? a : b;
    if (b && b != a && OnApex(s1, s2, c)) c = c == a ? b : a;
    alike = !has || !UnitTangent(m, Of(c), Q, tn, &hasNode) || !hasNode || VecDotProd3(t, tn) > 0.0;
  });
  return alike;
}

namespace {

// ---- Singular points ---------------------------------------------------------------------------
// Where the normals of the two surfaces are parallel on the intersection, branches cross (two
// cylinders of equal radius: two ellipses through two such points) and the tangent of a branch
// is not defined: a march there either stops short or turns onto another branch. The march
// looks for such a point when the sine of the angle between the normals has fallen below
// kNearSingular, and a branch that reaches one ends on it; the other branches through it are
// traced from their own seeds and end there too. Surfaces that miss crossing by a gap g within
// tolB (cylinders of radii 1 and 1 + g) are taken to cross so: their true branches turn away
// from the point as a hyperbola's arms do, about sqrt(2 g / k) from it for the gap's curvature k
// across them, so the arcs meeting there stand for them within 1e-5 of the size only while g
// stays below about k 5e-11 of it (2.5e-10 for two cylinders of radius a fifth of the size);
// beyond that an arc passes the vertex of its branch on its way to the point
// (VertexBesideCrossing).
constexpr double kNearSingular = 0.3;
// A point where the two surfaces meet and the sine of their normals' angle is below this share
// is singular: round-off of the solve below, far below the sine where nearly tangent surfaces
// come closest without meeting so.
constexpr double kSingularSine = 1e-7;

// A sixth equation for the singular points of a contact curve, which form a curve there: the
// point on surface 1 held to the plane through X across t, or parameter k held at value.
struct ContactHold {
  int kind = 0;  // 0 none, 1 the plane, 2 the parameter
  double X[3] = {0.0, 0.0, 0.0}, t[3] = {0.0, 0.0, 0.0};
  int k = 0;
  double value = 0.0;
};

// Residual of a singular point: the gap S2 - S1, the components of surface 2's unit normal
// along surface 1's partials (zero where the normals are parallel), and the hold's equation
// (0 without one). False without normals. The partials are rates per unit of surface 1's
// parameters: times its parameter ranges they are lengths like the gap, and the solve weighs the
// equations alike whatever the domain (on a domain a million long the normals' rows had a
// millionth of their weight, and the search along a contact or into a crossing stalled).
bool SingularResidual(const March& m, const double p[4], double r[6], double* sine,
                      const ContactHold* hold = nullptr) {
  double P1[3], S1u[3], S1v[3], n1[3], P2[3], S2u[3], S2v[3], n2[3], c[3];
  if (!TangentPlane(m.s1, p[0], p[1], P1, S1u, S1v, n1) ||
      !TangentPlane(m.s2, p[2], p[3], P2, S2u, S2v, n2))
    return false;
  for (int q = 0; q < 3; ++q) r[q] = P2[q] - P1[q];
  r[3] = VecDotProd3(n2, S1u) * Range(m.s1, 0);
  r[4] = VecDotProd3(n2, S1v) * Range(m.s1, 1);
  r[5] = 0.0;
  if (hold && hold->kind == 1) {
    double d[3];
    VecDiff3(P1, hold->X, d);
    r[5] = VecDotProd3(d, hold->t);
  } else if (hold && hold->kind == 2) {
    r[5] = p[hold->k] - hold->value;
  }
  *sine = VecSize3(VecCrossProd3(n1, n2, c));
  return true;
}

// The damping of LocateSingularPoint's normal equations, a share of their trace: the least, a
// guard against a singular system, and the rise each time no halving of the step gains.
constexpr double kLeastDamping = 1e-12;
constexpr double kDampingRise = 1e4;
// A damped step is taken whole and kept only where it cuts the squared residual to this share:
// along a band where nearly tangent surfaces stay within tolB of each other the residual has a
// floor, and damped steps that barely lower it would crawl along the band for every iteration.
constexpr double kDampedGain = 0.25;

// Gauss-Newton on the equations of SingularResidual from c (a Jacobian of forward
// differences, steps halved until the residual falls, clamped to the domains; damped further
// where no halving gains, and held on an edge a step crosses). True when it
// ends on a singular point (the gap within tolB, the sine below sineLimit, a hold's plane
// within tolB or its parameter within its tolerance): c is moved there (a held parameter to
// its value) and P is its point on surface 1.
bool LocateSingularPoint(const March& m, Params& c, double P[3], const ContactHold* hold = nullptr,
                         double sineLimit = kSingularSine) {
  double p[4] = {c.p[0], c.p[1], c.p[2], c.p[3]}, r[6], sine = 1.0;
  if (!SingularResidual(m, p, r, &sine, hold)) return false;
  double norm = 0.0;
  for (double x : r) norm += x * x;
  const double holdTol = hold && hold->kind == 2 ? m.tol[hold->k] : m.tolB;
  for (int it = 0; it < 200; ++it) {
    if (std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]) <= m.tolB && sine <= sineLimit &&
        std::fabs(r[5]) <= holdTol) {
      if (hold && hold->kind == 2) p[hold->k] = hold->value;
      for (int k = 0; k < 4; ++k) c.p[k] = p[k];
      Eval3DPointOnSurfCoord(m.s1, p[0], p[1], 0, 0, P);
      return true;
    }
    double J[6][4];
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, m.s1, m.s2);
      const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), h = 1e-7 * (hi - lo);
      double q[4] = {p[0], p[1], p[2], p[3]}, rq[6], sq;
      q[k] = p[k] + h > hi ? p[k] - h : p[k] + h;
      if (!SingularResidual(m, q, rq, &sq, hold)) return false;
      for (int e = 0; e < 6; ++e) J[e][k] = (rq[e] - r[e]) / (q[k] - p[k]);
    }
    // Normal equations (J^T J) d = -J^T r with each surface's columns scaled by its larger one, a
    // trace-relative damping against a singular J. Unscaled, the columns of a small surface, whose
    // parameters turn its normal a million times faster than a large one's, would set the damping
    // and hold the large one's parameters still, leaving a gap along the tangent planes. Scaled
    // column by column, a parameter that barely moves anything (round a pole) would take wild steps.
    double N[4][5], tr = 0.0, scale[4] = {1.0, 1.0, 1.0, 1.0};
    for (int s = 0; s < 2; ++s) {
      double c = 0.0;
      for (int k = 2 * s; k < 2 * s + 2; ++k) {
        double ck = 0.0;
        for (int e = 0; e < 6; ++e) ck += J[e][k] * J[e][k];
        c = std::fmax(c, ck);
      }
      for (int k = 2 * s; k < 2 * s + 2; ++k) {
        if (c > 0.0) scale[k] = 1.0 / std::sqrt(c);
        for (int e = 0; e < 6; ++e) J[e][k] *= scale[k];
      }
    }
    for (int a = 0; a < 4; ++a) {
      for (int b = 0; b < 4; ++b) {
        N[a][b] = 0.0;
        for (int e = 0; e < 6; ++e) N[a][b] += J[e][a] * J[e][b];
      }
      N[a][4] = 0.0;
      for (int e = 0; e < 6; ++e) N[a][4] -= J[e][a] * r[e];
      tr += N[a][a];
    }
    // Where the surfaces miss crossing by a gap (see kNearSingular) the gap has a saddle at the
    // point and the least squares keep it: the linear model, trying to close it along the saddle's
    // shallow directions, steps far along them, and no halving of that step lowers the residual
    // while the step across (the normals' last turn, the gap along the tangent planes) is halved
    // away with it. The damping is then raised, Levenberg-Marquardt fashion, until the shallow
    // directions are held. A search held to a contact (hold) keeps the plain steps.
    bool moved = false, inside = true;
    // The step y (in the scaled parameters) tried whole and halved while f stays above least,
    // kept where the squared residual falls below gain times what it was. False without normals.
    auto tryStep = [&](const double y[4], double least, double gain) {
      for (double f = 1.0; f > least && !moved; f *= 0.5) {
        double q[4], rq[6], sq, nq = 0.0;
        for (int k = 0; k < 4; ++k) {
          const Bspline* s = SurfaceOf(k, m.s1, m.s2);
          q[k] = std::fmin(Hi(s, k & 1), std::fmax(Lo(s, k & 1), p[k] + f * scale[k] * y[k]));
        }
        if (!SingularResidual(m, q, rq, &sq, hold)) return false;
        for (double x : rq) nq += x * x;
        if (nq < gain * norm) {
          for (int k = 0; k < 4; ++k) p[k] = q[k];
          for (int e = 0; e < 6; ++e) r[e] = rq[e];
          norm = nq;
          sine = sq;
          moved = true;
        }
      }
      return true;
    };
    double last[4] = {0.0, 0.0, 0.0, 0.0}, lastDamping = kLeastDamping;  // the last step solved for, and its damping
    for (double damping = kLeastDamping; damping <= (hold ? kLeastDamping : 1.0) && !moved && inside;
         damping *= kDampingRise) {
      double A[4][5];
      for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 5; ++b) A[a][b] = N[a][b];
      for (int a = 0; a < 4; ++a) A[a][a] += damping * tr;
      if (!EliminateAugmented(A, 4, 0.0)) return false;
      for (int k = 0; k < 4; ++k) {
        const Bspline* s = SurfaceOf(k, m.s1, m.s2);
        last[k] = A[k][4] / A[k][k];
        const double x = p[k] + scale[k] * last[k];
        if (!(x >= Lo(s, k & 1) && x <= Hi(s, k & 1))) inside = false;
      }
      lastDamping = damping;
      const bool damped = damping > kLeastDamping;
      if (!tryStep(last, damped ? 0.5 : 1e-3, damped ? kDampedGain : 1.0)) return false;
    }
    // A point on the edge of a domain (a seam through it) is reached only to round-off across the
    // edge: the clamp cuts a step that crosses the edge without solving the others again, and the
    // search stalls beside the point. The parameters crossing their edges are held there and the
    // others solved again, as the march keeps its steps in the domain (KeepStepInDomain). A point
    // beyond the edge leaves the search no lower residual on it, and it stops.
    if (!moved && !inside && !hold) {
      double y[4], A[4][5];
      int freeIdx[4], nf = 0;
      bool held[4];
      for (int k = 0; k < 4; ++k) {
        const Bspline* s = SurfaceOf(k, m.s1, m.s2);
        const double x = p[k] + scale[k] * last[k], lo = Lo(s, k & 1), hi = Hi(s, k & 1);
        held[k] = !(x >= lo && x <= hi);
        y[k] = held[k] ? ((x < lo ? lo : hi) - p[k]) / scale[k] : 0.0;
        if (!held[k]) freeIdx[nf++] = k;
      }
      for (int a = 0; a < nf; ++a) {
        for (int b = 0; b < nf; ++b) A[a][b] = N[freeIdx[a]][freeIdx[b]];
        A[a][a] += lastDamping * tr;
        A[a][nf] = N[freeIdx[a]][4];
        for (int k = 0; k < 4; ++k)
          if (held[k]) A[a][nf] -= N[freeIdx[a]][k] * y[k];
      }
      if (nf > 0 && EliminateAugmented(A, nf, 0.0)) {
        for (int a = 0; a < nf; ++a) y[freeIdx[a]] = A[a][nf] / A[a][a];
        if (!tryStep(y, 1e-3, 1.0)) return false;
      }
    }
    if (!moved) return false;
  }
  return false;
}

// Sine of the angle between the normals at c (1 without normals).
double NormalSine(const March& m, const Params& c) {
  double r[6], sine = 1.0;
  return SingularResidual(m, c.p, r, &sine) ? sine : 1.0;
}

// Where the normals are within a sine s of parallel, the gap between the surfaces grows only
// by about s times the distance across the branch, so a point meeting them within tolB may lie
// tolB / s off it. Near a point where the surfaces touch and two branches cross, a whole disc
// meets them within tolB, and a node left anywhere in it bends the branch off the true one.
// Such a node is refined again to tolB times the sine (not below this share of tolB, past which
// the solve is round-off), and kept as it was where that does not converge.
constexpr double kLeastTightening = 1e-4;
// Along a tangential contact the surfaces' heights over the common tangent plane agree to second
// order in the contact's direction, so the difference of their second fundamental forms is
// degenerate there; where two branches cross it is indefinite, its determinant a sizeable
// negative share of its squared size (this share: branches crossing at more than about 11
// degrees). Only there is the tightening sound: along a contact the points of the disc all lie on
// it, and pulling them along it would only move them.
constexpr double kCrossingShare = 1e-2;

// True where the branches through a touching of the surfaces near c cross (see kCrossingShare).
bool NearCrossing(const March& m, const Params& c) {
  double e[2][3], H[2][2];
  if (!GapSecondForm(m.s1, m.s2, c.p, e, H)) return false;
  const double det = H[0][0] * H[1][1] - H[0][1] * H[0][1];
  const double size2 = H[0][0] * H[0][0] + 2.0 * H[0][1] * H[0][1] + H[1][1] * H[1][1];
  return det < -kCrossingShare * size2;
}

// True when the traced chord nearest X (c's point), within reach, runs against the branch at c:
// the tangent at its nearer node is turned against c's by more than kChordTangentCos's angle.
// Where two loops pass close about a near crossing, every chord of the other loop's arms lies
// within the tracer's reach and runs any way; the stretch about the other loop's turn, nearest,
// runs against the march (the gap between the surfaces changes sign the other way across it).
bool NearestChordRunsAgainst(const March& m, const Params& c, const double X[3], double reach) {
  double f = 0.0, P[3], t[3], Q[3], tn[3];
  const IntersectionTraceNode* b = nullptr;
  const IntersectionTraceNode* a = NearestChord(m.list, m.trace, X, reach, &f, &b);
  bool has = false, hasNode = false;
  return a && UnitTangent(m, c, P, t, &has) && has && UnitTangent(m, Of(f < 0.5 ? a : b), Q, tn, &hasNode) &&
         hasNode && VecDotProd3(t, tn) < -kChordTangentCos;
}

// True when a march from the far side of a seam that comes near a traced branch at c, before it
// leaves its seed's box pair, only passes beside it: the first node of this direction lies along
// no traced branch, or only beside the end the march continues (it has left the traces behind),
// or the chord nearest c's point P runs against the march (NearestChordRunsAgainst: it passes
// the other loop's turn, its first node within reach of that loop's arms), and at c the
// normals are nearly parallel with the branches through a touching there crossing (two loops
// passing close where the surfaces nearly touch, within the tracer's reach of each other over a
// stretch as long as the boxes).
bool PassesBesideTracedBranch(const March& m, const Params& c, const double P[3]) {
  const IntersectionTrace* tr = m.trace;
  const IntersectionTraceNode* first = tr->nodeCount <= tr->directionStart ? nullptr
                                       : tr->turn                          ? tr->turn->next
                                                                           : tr->head->next;
  if (!m.seamEnd || !first) return false;
  const IntersectionTraceNode* e = m.seamEnd;
  const double X[3] = {first->x, first->y, first->z};
  double f = 0.0;
  const IntersectionTraceNode* b = nullptr;
  const IntersectionTraceNode* a = NearestChord(m.list, tr, X, 2.0 * m.tolA, &f, &b);
  const bool left = !a || (a == e && (f == 0.0 || b == e)) || (b == e && f == 1.0);
  return (left || NearestChordRunsAgainst(m, c, P, 2.0 * m.tolA)) && NormalSine(m, c) < kNearSingular &&
         NearCrossing(m, c);
}

// The first parameter of c on an end of its domain (the one a node on an edge or a seam is
// tightened along, held there), or -1.
int HeldOnEnd(const March& m, const Params& c) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if (c.p[k] == Lo(s, k & 1) || c.p[k] == Hi(s, k & 1)) return k;
  }
  return -1;
}

// The point where the branch crosses the plane through X across t, from c, to within tol: the
// surfaces' gap and the point's distance from the plane brought to zero together (Newton on the
// four parameters). A step that would leave a domain (past a pole, whose parameter round it turns
// fast beside it, or an edge) is halved until it stays inside. False where the system is singular
// or the point will not stay inside.
bool PullAcross(const March& m, Params& c, const double X[3], const double t[3], double tol, double Q[3]) {
  for (int it = 0; it < kMarchIterations; ++it) {
    double P1[3], S1u[3], S1v[3], n1[3], P2[3], S2u[3], S2v[3], n2[3], d[3], off[3];
    if (!TangentPlane(m.s1, c.p[0], c.p[1], P1, S1u, S1v, n1) || !TangentPlane(m.s2, c.p[2], c.p[3], P2, S2u, S2v, n2))
      return false;
    VecDiff3(P2, P1, d);
    VecDiff3(P1, X, off);
    const double h = VecDotProd3(off, t);
    if (VecDotProd3(d, d) < tol * tol && std::fabs(h) < tol) {
      for (int q = 0; q < 3; ++q) Q[q] = P1[q];
      return true;
    }
    const double* cols[4] = {S1u, S1v, S2u, S2v};
    double A[4][5], largest = 0.0;
    for (int k = 0; k < 4; ++k) {
      for (int q = 0; q < 3; ++q) A[q][k] = k < 2 ? cols[k][q] : -cols[k][q];
      A[3][k] = k < 2 ? VecDotProd3(cols[k], t) : 0.0;
      largest = std::fmax(largest, VecSize3(cols[k]));
    }
    for (int q = 0; q < 3; ++q) A[q][4] = d[q];
    A[3][4] = -h;
    if (!EliminateAugmented(A, 4, 1e-14 * largest)) return false;
    double step[4];
    for (int k = 0; k < 4; ++k) step[k] = A[k][4] / A[k][k];
    bool inside = false;
    for (int half = 0; half < 30 && !inside; ++half) {
      inside = true;
      for (int k = 0; k < 4 && inside; ++k) {
        const Bspline* s = SurfaceOf(k, m.s1, m.s2);
        const double x = c.p[k] + std::ldexp(step[k], -half);
        inside = x >= Lo(s, k & 1) && x <= Hi(s, k & 1);
      }
      if (inside)
        for (int k = 0; k < 4; ++k) c.p[k] += std::ldexp(step[k], -half);
    }
    if (!inside) return false;
  }
  return false;
}

// PullAcross in space, for a node beside a pole, where that surface's partials nearly vanish and
// its parameter round the pole turns fast (the four-parameter solves there do not converge): each
// Newton step takes both surfaces as their tangent planes at the point's feet on them, found in
// space round the pole, and meets them and the plane through X across t. False where the planes
// are nearly parallel or the point does not meet all three within tol.
bool PullAcrossInSpace(const March& m, Params& c, const double X[3], const double t[3], double tol, double Q[3]) {
  double Y[3] = {X[0], X[1], X[2]};
  for (int it = 0; it < kMarchIterations; ++it) {
    double F[2][3], n[2][3];
    for (int j = 0; j < 2; ++j) {
      double dist, step, N[3];
      if (FindClosestUVPointGuessNorm(j ? m.s2 : m.s1, Y, F[j], &c.p[2 * j], &c.p[2 * j + 1], &dist, &step, 10,
                                      N) != 0)
        return false;
      const double l = VecSize3(N);
      if (!(l > 0.0)) return false;
      for (int q = 0; q < 3; ++q) n[j][q] = N[q] / l;
    }
    double off[3];
    VecDiff3(Y, X, off);
    if (VecDist3(F[0], F[1]) < tol && VecDist3(Y, F[0]) < tol && std::fabs(VecDotProd3(off, t)) < tol) {
      for (int q = 0; q < 3; ++q) Q[q] = F[0][q];
      return true;
    }
    // The point on all three planes (n0 . Y = n0 . F0, n1 . Y = n1 . F1, t . Y = t . X), by Cramer's
    // rule in cross products.
    double a[3], b[3], e[3];
    VecCrossProd3(n[1], t, a);
    VecCrossProd3(t, n[0], b);
    VecCrossProd3(n[0], n[1], e);
    const double det = VecDotProd3(n[0], a);
    if (!(std::fabs(det) > kLeastTightening)) return false;
    const double d0 = VecDotProd3(n[0], F[0]), d1 = VecDotProd3(n[1], F[1]), d2 = VecDotProd3(t, X);
    for (int q = 0; q < 3; ++q) Y[q] = (d0 * a[q] + d1 * b[q] + d2 * e[q]) / det;
  }
  return false;
}

// Where the branches run side by side instead of crossing (a sphere a little larger than the
// cylinder it sits in: two circles close together), a node is refined once to tolB times the
// sine. It is kept only where that kept the sine at least kSineKept of what it was (the
// surfaces cross at that angle) and moved it across the branch (along its tangent n1 x n2 by
// less than a tenth of the move) by no more than tolB over the smaller of the two sines. Along a
// tangential contact, or a band where the surfaces stay within tolB of each other (two circles
// closer than the tolerance tells apart), the sine falls with the distance from the contact, and
// the node stays as it was.
constexpr double kSineKept = 0.5;
// Below this sine the band of points meeting both surfaces within tolB is over five tolerances
// wide: a node the refinement leaves in it sends the march along a course its steps' refinements
// do not come back to (beside a small sphere's pole they land on the branch, too far from the
// step's aim to be taken, and the march crawls on ever-halving steps), and the node is pulled
// across onto the branch. Above it a node stays within a few tolerances of the branch and is
// left as the refinement gave it.
constexpr double kPullAcrossSine = 0.2;
// A seed loose beside a pole (SeedLooseBesidePole) meeting both surfaces within tolB times the
// sine still lies up to a tolerance across the branch, farther than the march's first steps round
// the pole are long (a few tenths of a tolerance): their landings on the branch are pulled farther
// than the steps and refused, and the march crawls a few degrees round the pole and stops (a small
// sphere's loop through its pole, 11-14 degrees of it traced). Such a seed is tightened to this
// share of that.
constexpr double kLooseSeedTightening = 0.1;

bool BesidePole(const Bspline* s, double u, double v);
bool SeedLooseBesidePole(const March& m, const Params& c, const double S[3]);
bool SeedBesidePole(const March& m, const Params& c, const double S[3]);
bool NodeNearPole(const March& m, const Params& c, const double S[3]);

void TightenBeside(March& m, Params& c, double P[3], double sine) {
  Params t = c;
  double Q[3];
  int flag = 0;
  const bool looseSeed = m.refiningSeed && SeedLooseBesidePole(m, c, P);
  const double tol = m.tolB * std::fmax(looseSeed ? kLooseSeedTightening * sine : sine, kLeastTightening);
  // A node on a seam or an edge keeps its parameter there: refined freely it slides off the end
  // along a branch that crosses the seam at a shallow angle (a small sphere's loop), and the march
  // that stopped for the seam ends short of it, where no continuation starts. Beside a pole the
  // free refinement stays for a seed (one on a seam a few tolerances from the pole, held there,
  // lands where the march crawls a few degrees round the pole and stops) and for a node a branch
  // through the pole passes it within (SeedBesidePole). A march's node on the seam farther off is
  // held there: freed, the step that stopped for the seam 42 tolerances from a small sphere's pole
  // slid 7e-6 of the range off it, and no continuation traced the 38 degrees on to the pole.
  const int held = HeldOnEnd(m, c);
  const bool besidePole = BesidePole(m.s1, c.p[0], c.p[1]) || BesidePole(m.s2, c.p[2], c.p[3]);
  const bool keepOnEnd = held >= 0 && !(besidePole && (m.refiningSeed || SeedBesidePole(m, c, P)));
  double* const p[4] = {&t.p[0], &t.p[1], &t.p[2], &t.p[3]};
  const bool refined = keepOnEnd ? MeetOnEdge(m.s1, m.s2, p, held, t.p[held], Q, tol)
                                 : NewRefineIntrPoint(m.s1, m.s2, &t.p[0], &t.p[1], &t.p[2], &t.p[3], Q,
                                                      4 * kMarchIterations, &flag, nullptr, tol) == 0;
  // A loose seed, or a march's node within the point tolerance of a pole the branch passes a
  // tolerance or two off (the surfaces crossing at a shallow angle there): the pole meets both
  // surfaces within it, and the node, left where the solves that do not converge beside the pole
  // leave it, sent the march crawling round the pole on steps of hundredths of a tolerance until it
  // turned back (a small sphere's loop passing beside its pole, an eighth of it left out). Such a
  // node is pulled across onto the branch, in space where the parameters will not do.
  auto inSpace = [&] { return held < 0 && (looseSeed || (!m.refiningSeed && NodeNearPole(m, c, P))); };
  if (!refined && !inSpace()) return;
  double T[3], tan[3], d[3];
  bool has = false;
  if (!UnitTangent(m, c, T, tan, &has) || !has) return;
  if (refined) VecDiff3(Q, P, d);
  // Beside a small sphere's pole the refinement can run along the branch as far as across it (the
  // tangent planes turn fast over the band the node lies in): below kPullAcrossSine the node is
  // pulled across in its own cross-section instead (PullAcross), or along the edge it lies on.
  bool across = false;
  if (!refined || std::fabs(VecDotProd3(d, tan)) > 0.1 * VecSize3(d) + 1e-3 * m.tolB) {
    if (!(sine < kPullAcrossSine) && !looseSeed) return;
    t = c;
    if (held >= 0) {
      if (!MeetOnEdge(m.s1, m.s2, p, held, t.p[held], Q, tol)) return;
    } else if (!PullAcross(m, t, P, tan, tol, Q)) {
      t = c;
      if (!inSpace() || !PullAcrossInSpace(m, t, P, tan, tol, Q)) return;
    }
    VecDiff3(Q, P, d);
    across = true;
  }
  // A node meeting both surfaces within tolB lies at most tolB over its own sine off the branch:
  // a pull across that lands farther has slid along (a seam the surfaces keep close to).
  const double move = VecSize3(d), now = NormalSine(m, t);
  if (!(now >= kSineKept * sine)) return;
  if (!(move <= m.tolB / std::fmax(across ? sine : std::fmin(sine, now), kLeastTightening))) return;
  c = t;
  for (int q = 0; q < 3; ++q) P[q] = Q[q];
}

void TightenNearCrossing(March& m, Params& c, double P[3]) {
  double sine = NormalSine(m, c);
  if (!(sine < kNearSingular)) return;
  if (!NearCrossing(m, c)) {
    TightenBeside(m, c, P, sine);
    return;
  }
  // A point on an edge of a domain (a branch's end there, or where it crosses a seam) lies as
  // loosely across the branch as any other, and is tightened along that edge, its parameter
  // held on it.
  const int held = HeldOnEnd(m, c);
  // The sine falls as the point nears the crossing, so the tolerance is tightened again from
  // where the last refinement ended, for as long as that gains.
  for (int round = 0; round < 30; ++round) {
    Params t = c;
    double Q[3];
    int flag = 0;
    const double tol = m.tolB * std::fmax(sine, kLeastTightening);
    double* const p[4] = {&t.p[0], &t.p[1], &t.p[2], &t.p[3]};
    if (held >= 0 ? !MeetOnEdge(m.s1, m.s2, p, held, t.p[held], Q, tol)
                  : NewRefineIntrPoint(m.s1, m.s2, &t.p[0], &t.p[1], &t.p[2], &t.p[3], Q, 4 * kMarchIterations,
                                       &flag, nullptr, tol) != 0)
      return;
    c = t;
    for (int q = 0; q < 3; ++q) P[q] = Q[q];
    const double was = sine;
    sine = NormalSine(m, c);
    if (!(sine < 0.5 * was) || sine < kLeastTightening) return;
  }
}

// The parameter x of s in direction dir brought into the domain: across the seam of a closed
// direction (the surface goes on from the far end there), onto the nearer end otherwise. A probe
// beside a contact running along a seam, clamped onto the seam, would land back on the contact.
double IntoDomain(const Bspline* s, int dir, double x) {
  const double lo = Lo(s, dir), hi = Hi(s, dir), range = hi - lo;
  if ((dir ? s->closedV : s->closedU) && range > 0.0 && std::fabs(x - lo) <= 2.0 * range) {
    if (x < lo) return x + range;
    if (x > hi) return x - range;
  }
  return std::fmin(hi, std::fmax(lo, x));
}

// True when the surfaces still coincide beyond the singular point x, half a step further on
// from prev (surface 1's point there within 100 tolB of surface 2, normals parallel within
// kSingularSine): x then bounds a region where the surfaces coincide, through which the march
// goes on, not a crossing of branches.
bool CoincideBeyond(const March& m, const Params& prev, const Params& x) {
  double q[4];
  for (int k = 0; k < 4; ++k)
    q[k] = IntoDomain(SurfaceOf(k, m.s1, m.s2), k & 1, x.p[k] + 0.5 * (x.p[k] - prev.p[k]));
  double B[3], P2[3], S2u[3], S2v[3], n2[3];
  Eval3DPointOnSurfCoord(m.s1, q[0], q[1], 0, 0, B);
  // The foot of B on surface 2 by steps in its tangent plane.
  for (int it = 0; it < 8; ++it) {
    double d[3], du, dv;
    if (!TangentPlane(m.s2, q[2], q[3], P2, S2u, S2v, n2)) return false;
    VecDiff3(B, P2, d);
    if (!ResolveInTangentPlane(d, S2u, S2v, &du, &dv)) return false;
    q[2] = IntoDomain(m.s2, 0, q[2] + du);
    q[3] = IntoDomain(m.s2, 1, q[3] + dv);
  }
  double r[6], sine = 1.0;
  if (!SingularResidual(m, q, r, &sine)) return false;
  return std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]) <= 100.0 * m.tolB && sine <= kSingularSine;
}

// Where the surfaces miss crossing by a gap g0 within tolB (see kNearSingular), the true
// branches about the singular point x are the hyperbola g0 + w^T H w / 2 = 0 of GapSecondForm in
// the tangent plane: each passes the point at its vertex, sqrt(-2 g0 / l) from it along the
// principal direction whose curvature l has the sign of -g0, on the side its arms come in from.
// An arc ending on x with no node there cuts the vertex off: the fit's samples between the last
// node and x lie anywhere in the band that meets both surfaces within tolB and miss the branch by
// up to the vertex's distance. A vertex within this many tolB of x is missed by no more than the
// branches' other points are.
constexpr double kVertexReach = 10.0;

// A vertex on the edge of a domain (a seam through the loops' turn) may lie beyond it by round-off:
// the steps are clamped there and the gap they leave cannot close with the plane held. The
// surfaces are met along the edge instead (v's parameter k held, P1 its point on surface 1), which
// moves the point along the branch, across the plane through X normal to `across`, by its gap over
// the normals' sine: far below tolB. False when that does not converge or leaves the plane by tolB.
bool VertexOnEdge(const March& m, Params& v, int k, const double X[3], const double across[3], double P1[3]) {
  double* const p[4] = {&v.p[0], &v.p[1], &v.p[2], &v.p[3]};
  double off[3];
  if (!MeetOnEdge(m.s1, m.s2, p, k, v.p[k], P1, kLeastTightening * m.tolB)) return false;
  VecDiff3(P1, X, off);
  return std::fabs(VecDotProd3(off, across)) <= m.tolB;
}

// The vertex of the branch coming into the singular point x (X on surface 1) from the point F on
// it, by Newton on the meeting of the surfaces in the plane through X across the vertex's
// direction (the branch crosses it there at a right angle), from the model's vertex. True with
// v and V set when it converges within the domains, farther than kVertexReach tolB from X and
// nearer X than F; false otherwise (a true crossing, the vertex across a seam).
bool VertexBesideCrossing(const March& m, const Params& x, const double X[3], const double F[3], Params& v,
                          double V[3]) {
  double e[2][3], H[2][2], r[6], sine = 1.0, P1[3], S1u[3], S1v[3], n1[3];
  if (!NearCrossing(m, x) || !GapSecondForm(m.s1, m.s2, x.p, e, H) || !SingularResidual(m, x.p, r, &sine) ||
      !TangentPlane(m.s1, x.p[0], x.p[1], P1, S1u, S1v, n1))
    return false;
  const double g0 = VecDotProd3(r, n1);
  // The principal curvatures of the gap and their directions in the basis e.
  const double mean = 0.5 * (H[0][0] + H[1][1]), half = 0.5 * (H[0][0] - H[1][1]);
  const double root = std::hypot(half, H[0][1]);
  double best = 0.0, axis[3] = {0.0, 0.0, 0.0}, across[3];
  for (double l : {mean + root, mean - root}) {
    if (!(-g0 / l > 0.0)) continue;
    const double rho = std::sqrt(-2.0 * g0 / l);
    double a = H[0][1], b = l - H[0][0];
    if (std::hypot(a, b) < std::hypot(l - H[1][1], H[0][1])) a = l - H[1][1], b = H[0][1];
    const double len = std::hypot(a, b);
    if (!(len > 0.0)) return false;
    for (int q = 0; q < 3; ++q) axis[q] = (a * e[0][q] + b * e[1][q]) / len;
    best = rho;
  }
  if (!(best > kVertexReach * m.tolB)) return false;
  double toF[3];
  VecDiff3(F, X, toF);
  if (!(best < VecSize3(toF))) return false;
  if (VecDotProd3(toF, axis) < 0.0)
    for (double& q : axis) q = -q;
  VecCrossProd3(n1, axis, across);
  // The model's vertex resolved into both surfaces' parameters, then Newton on S2 - S1 = 0 and
  // (S1 - X) . across = 0.
  double step[3], P2[3], S2u[3], S2v[3], n2[3];
  for (int q = 0; q < 3; ++q) step[q] = best * axis[q];
  if (!TangentPlane(m.s2, x.p[2], x.p[3], P2, S2u, S2v, n2)) return false;
  v = x;
  double d[4];
  if (!ResolveInTangentPlane(step, S1u, S1v, &d[0], &d[1]) || !ResolveInTangentPlane(step, S2u, S2v, &d[2], &d[3]))
    return false;
  for (int k = 0; k < 4; ++k) v.p[k] += d[k];
  for (int it = 0; it < kMarchIterations; ++it) {
    int edge = -1;  // a parameter this step was clamped on
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, m.s1, m.s2);
      const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
      if (v.p[k] < lo - m.tol[k] || v.p[k] > hi + m.tol[k]) return false;
      if (v.p[k] < lo || v.p[k] > hi) edge = k;
      v.p[k] = std::fmin(hi, std::fmax(lo, v.p[k]));
    }
    if (!TangentPlane(m.s1, v.p[0], v.p[1], P1, S1u, S1v, n1) || !TangentPlane(m.s2, v.p[2], v.p[3], P2, S2u, S2v, n2))
      return false;
    double A[4][5], g[3], off[3];
    VecDiff3(P2, P1, g);
    VecDiff3(P1, X, off);
    const double plane = VecDotProd3(off, across);
    bool met = VecSize3(g) <= kLeastTightening * m.tolB && std::fabs(plane) <= kLeastTightening * m.tolB;
    if (!met && edge >= 0 && std::fabs(plane) <= kLeastTightening * m.tolB) {
      if (!VertexOnEdge(m, v, edge, X, across, P1)) return false;
      VecDiff3(P1, X, off);
      met = true;
    }
    if (met) {
      const double toV = VecSize3(off);
      if (!(toV > kVertexReach * m.tolB && toV < VecSize3(toF))) return false;
      for (int q = 0; q < 3; ++q) V[q] = P1[q];
      return true;
    }
    const double* cols[4] = {S1u, S1v, S2u, S2v};
    for (int q = 0; q < 3; ++q) {
      for (int k = 0; k < 4; ++k) A[q][k] = k < 2 ? -cols[k][q] : cols[k][q];
      A[q][4] = -g[q];
    }
    for (int k = 0; k < 4; ++k) A[3][k] = k < 2 ? VecDotProd3(cols[k], across) : 0.0;
    A[3][4] = -plane;
    if (!EliminateAugmented(A, 4, 0.0)) return false;
    for (int k = 0; k < 4; ++k) v.p[k] += A[k][4] / A[k][k];
  }
  return false;
}

// A step from prev to cur that reaches, passes or heads for a singular point ends there: near
// one (the normals within kNearSingular of parallel at either end, or at the middle of a step
// that crosses no seam) the point is located. When
// it lies ahead of prev no farther than cur, or beyond cur by at most a quarter of the step, cur
// becomes it (1), or, where the surfaces miss crossing there, the vertex of the branch beside it
// does, and it is the node after (2). When it lies ahead of cur within another step like this
// one, along the step's direction, it is the node after cur (2, with x and X set; the march
// appends them by AppendSingularEnd): a march converging on a singular point in ever shorter
// steps would otherwise turn onto another branch there. 0 otherwise.
int EndsAtSingular(const March& m, const Params& prev, Params& cur, double P[3], Params& x,
                   double X[3]) {
  const double s0 = NormalSine(m, prev), s1 = NormalSine(m, cur);
  x = s1 <= s0 ? cur : prev;
  if (std::fmin(s0, s1) >= kNearSingular) {
    // A long step may pass the point with both ends farther off than kNearSingular, on two
    // branches through it: its middle is nearer.
    Params mid;
    for (int k = 0; k < 4; ++k) mid.p[k] = 0.5 * (prev.p[k] + cur.p[k]);
    if (AcrossSeam(m, prev, cur) || NormalSine(m, mid) >= kNearSingular) return 0;
    x = mid;
  }
  double P0[3];
  // From an end on an edge the search, held to the domain, may stall: the other end near enough
  // tries too.
  if (!LocateSingularPoint(m, x, X)) {
    x = s1 <= s0 ? prev : cur;
    if (!(std::fmax(s0, s1) < kNearSingular) || !LocateSingularPoint(m, x, X)) return 0;
  }
  if (CoincideBeyond(m, prev, x)) return 0;
  Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
  double step[3], to[3], beyond[3];
  VecDiff3(P, P0, step);
  VecDiff3(X, P0, to);
  VecDiff3(X, P, beyond);
  const double len2 = VecDotProd3(step, step), b2 = VecDotProd3(beyond, beyond);
  if (!(VecDotProd3(to, step) > 0.0)) return 0;
  // Within the step, or just beyond its end (a step stopped on an edge that touches the other
  // surface at the singular point ends there only to the square root of round-off).
  if (VecDotProd3(to, to) <= len2 + m.tolB * m.tolB || b2 <= 0.0625 * len2) {
    Params v;
    double V[3];
    if (VertexBesideCrossing(m, x, X, P0, v, V) && VecDist3(V, P0) > kVertexReach * m.tolB) {
      cur = v;
      for (int q = 0; q < 3; ++q) P[q] = V[q];
      return 2;
    }
    cur = x;
    for (int q = 0; q < 3; ++q) P[q] = X[q];
    return 1;
  }
  const double along = VecDotProd3(beyond, step);
  return b2 <= len2 && along > 0.0 && along * along >= kChordTangentCos * kChordTangentCos * b2 * len2 ? 2 : 0;
}

// A march that cannot go on near a singular point (the tangent planes too nearly parallel to
// meet in) ends on it when it lies within the step that failed: from the last node (prev,
// surface 1 point P0) toward the predicted point, no farther than it. True with x and X set.
bool SingularWithinStep(const March& m, const Params& prev, const Params& predicted, Params& x,
                        double X[3]) {
  if (NormalSine(m, prev) >= kNearSingular) return false;
  x = prev;
  if (!LocateSingularPoint(m, x, X) || CoincideBeyond(m, prev, x)) return false;
  double P0[3], Q[3], step[3], to[3];
  Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
  Eval3DPointOnSurfCoord(m.s1, predicted.p[0], predicted.p[1], 0, 0, Q);
  VecDiff3(Q, P0, step);
  VecDiff3(X, P0, to);
  return VecDotProd3(to, to) <= VecDotProd3(step, step) + m.tolB * m.tolB &&
         VecDotProd3(to, to) > m.tolB * m.tolB;
}

// Appends the singular point x (X on surface 1) that ends a march after the node at from: the
// vertex of the branch beside it first (VertexBesideCrossing), when the surfaces miss crossing
// there and it lies between the two. False on no memory.
bool AppendSingularEnd(March& m, const Params& from, const Params& x, const double X[3]) {
  Params v;
  double F[3], V[3];
  Eval3DPointOnSurfCoord(m.s1, from.p[0], from.p[1], 0, 0, F);
  if (VertexBesideCrossing(m, x, X, F, v, V) && VecDist3(V, F) > kVertexReach * m.tolB &&
      !AppendTraceNode(m.trace, V, v.p[0], v.p[1], v.p[2], v.p[3]))
    return false;
  return AppendTraceNode(m.trace, X, x.p[0], x.p[1], x.p[2], x.p[3]) != nullptr;
}

// True when a and b name the same point of the pair (every parameter within its tolerance).
bool SameParams(const March& m, const Params& a, const Params& b) {
  for (int k = 0; k < 4; ++k)
    if (std::fabs(a.p[k] - b.p[k]) > m.tol[k]) return false;
  return true;
}

// The rates of the four parameters per unit length along the branch at c, the tangent oriented
// along chord: false where there is no telling (no tangent, or a pole of either surface).
bool ParamRates(const March& m, const Params& c, const double chord[3], double r[4]) {
  double P[3], t[3];
  bool has = false;
  if (!UnitTangent(m, c, P, t, &has) || !has) return false;
  if (VecDotProd3(t, chord) < 0.0)
    for (double& x : t) x = -x;
  for (int s = 0; s < 2; ++s) {
    double Q[3], Su[3], Sv[3], n[3];
    if (!TangentPlane(s ? m.s2 : m.s1, c.p[2 * s], c.p[2 * s + 1], Q, Su, Sv, n)) return false;
    const double lu = VecSize3(Su), lv = VecSize3(Sv);
    if (lu <= kPoleShare * lv || lv <= kPoleShare * lu || !ResolveInTangentPlane(t, Su, Sv, &r[2 * s], &r[2 * s + 1]))
      return false;
  }
  return true;
}

// Samples of the cubic Hermite of a parameter over a step, in which a dip beyond a domain end is
// sought: a dip that the step's turning (kMaxStepTurn) allows spans several of them.
constexpr int kDipSamples = 32;
// Share of a step's extent in a surface's parameters within which the Hermite's nearest approach
// to a patch's edge is checked against the branch itself (EndAtDipBeyondEnd).
constexpr double kDipCheck = 0.1;

// A step from prev to cur that stays inside the domain at both ends can pass over a stretch where
// the branch dips beyond an end and back: out over a patch's edge, where the chord then stands
// for points on neither surface, or across a closed surface's seam by a closing step, which
// would close the loop past the dip (the fit cuts a dip across a seam between two nodes off it,
// not one closed onto a node on the seam). Each parameter is followed between the two nodes as
// the cubic Hermite of its values and its rates along the branch (chord length as the measure);
// one that passes an end by more than its tolerance, with the branch heading out of the domain
// where it meets that end (a meeting with the parameter held there, started from the Hermite's
// crossing), ends the step there: cur and P become that meeting, and the result is true. Only
// the closed directions (seams) or only the others are looked at, and of them only those whose
// end lies within the step's extent in their plane.
bool EndAtDipBeyondEnd(March& m, const Params& prev, Params& cur, double P[3], bool seams) {
  double P0[3], chord[3], r0[4], r1[4];
  bool rates = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if ((k & 1 ? s->closedV : s->closedU) != seams) continue;
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), tp = m.tol[k];
    const int pl = k & 2;
    const double extent = std::hypot(cur.p[pl] - prev.p[pl], cur.p[pl + 1] - prev.p[pl + 1]);
    if (std::fmin(prev.p[k], cur.p[k]) - lo >= extent && hi - std::fmax(prev.p[k], cur.p[k]) >= extent) continue;
    if (!rates) {
      Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
      VecDiff3(P, P0, chord);
      if (!ParamRates(m, prev, chord, r0) || !ParamRates(m, cur, chord, r1)) return false;
      rates = true;
    }
    const double L = VecSize3(chord);
    auto hermite = [&](int c, double t) {
      const double t2 = t * t, t3 = t2 * t;
      return (2 * t3 - 3 * t2 + 1) * prev.p[c] + (t3 - 2 * t2 + t) * L * r0[c] + (-2 * t3 + 3 * t2) * cur.p[c] +
             (t3 - t2) * L * r1[c];
    };
    // The sample nearest the end (the Hermite's farthest reach toward it), for the check below.
    int nearest = 0, toward = 0;
    double reach = -HUGE_VAL;
    for (int i = 1; i <= kDipSamples; ++i) {
      const double t = double(i) / kDipSamples, h = hermite(k, t);
      int at = h > hi + tp ? 1 : h < lo - tp ? -1 : 0;
      double tm = (i - 0.5) / kDipSamples;
      if (i == kDipSamples) {
        // No sample passed the end. The Hermite follows the branch only to the order of the
        // step's turning: where its farthest reach comes within kDipCheck of the step's extent
        // of a patch's edge, the branch is met there exactly, the other parameter of the
        // surface held; a meeting that can only be had with this parameter pinned on the edge
        // lies beyond it, and the branch left the domain between prev and there.
        if (seams || toward == 0 || reach < -kDipCheck * extent) break;
        Params x;
        for (int c = 0; c < 4; ++c)
          x.p[c] = IntoDomain(SurfaceOf(c, m.s1, m.s2), c & 1, hermite(c, double(nearest) / kDipSamples));
        double* xp[4] = {&x.p[0], &x.p[1], &x.p[2], &x.p[3]};
        double X[3];
        const double bound = toward > 0 ? hi : lo;
        if (MeetOnEdge(m.s1, m.s2, xp, k ^ 1, x.p[k ^ 1], X, m.tolB) || !(std::fabs(x.p[k] - bound) <= tp)) break;
        // The meeting with the edge is sought from halfway to there, on the side of prev.
        at = toward;
        tm = 0.5 * nearest / kDipSamples;
      } else {
        const double past = std::fmax(h - hi, lo - h);
        if (past > reach) reach = past, nearest = i, toward = h - hi > lo - h ? 1 : -1;
      }
      if (!at) continue;
      // The meeting starts between this sample and the one before, where the Hermite crosses.
      Params e;
      for (int c = 0; c < 4; ++c) e.p[c] = IntoDomain(SurfaceOf(c, m.s1, m.s2), c & 1, hermite(c, tm));
      double* ep[4] = {&e.p[0], &e.p[1], &e.p[2], &e.p[3]};
      double Q[3], ahead = 0.0;
      if (!MeetOnEdge(m.s1, m.s2, ep, k, at > 0 ? hi : lo, Q, m.tolB)) break;
      for (int q = 0; q < 4; ++q) ahead += (e.p[q] - prev.p[q]) * (cur.p[q] - prev.p[q]);
      if (!(ahead > 0.0) || SameParams(m, e, prev) || TowardEnd(m, prev, e, k, at) <= 0) break;
      TightenNearCrossing(m, e, Q);
      cur = e;
      for (int q = 0; q < 3; ++q) P[q] = Q[q];
      return true;
    }
  }
  return false;
}

// Share of a parameter's tolerance by which a step predicted along a seam passes beyond it by
// round-off (its rate across the seam, at most about 1e-13 of the range a step): a branch beside
// the seam within the tolerance but off it (a plane 1e-7 radians off a torus's seam meridian)
// passes it by ten thousand times more, and crosses it as any branch does.
constexpr double kAlongSeamOvershoot = 1e-5;

// Where the branch refined at cur (from prev, predicted past the edge of parameter k) ends at
// that edge: the meeting with the edge found from cur, when the branch arrives there from inside
// and it lies ahead within the predicted step (*along: it is to be tightened there), or, when the
// branch comes back in there from beyond the edge, the meeting found from prev, where it left
// the domain before (*along false). False when the prediction stayed inside that edge, the
// branch runs along it (a seam), or no such meeting is found.
bool EdgeCrossingAhead(const March& m, const Params& prev, const Params& predicted, double step2, int k,
                       Params& e, double Q[3], bool* along) {
  const Bspline* s = SurfaceOf(k, m.s1, m.s2);
  const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), tp = m.tol[k];
  if (!(predicted.p[k] > hi - tp || predicted.p[k] < lo + tp)) return false;
  const Params cur = e;
  double* ep[4] = {&e.p[0], &e.p[1], &e.p[2], &e.p[3]};
  const int at = predicted.p[k] > hi - tp ? 1 : -1;
  // A branch running along a seam has the parameter on the seam at both ends of the step and its
  // prediction beyond by round-off only: no crossing. Its rate across the seam is round-off too,
  // and read as coming back in (TowardEnd) it would end the step where it began.
  const double end = at > 0 ? hi : lo;
  // Nor does one beside the seam inside it, whose prediction stays inside: its rate across the
  // seam is round-off as well, and read so it ended the step back where it began, short of an
  // edge the prediction passed (a plane 1e-7 radians off a torus's u seam met it 2.2e-5 of the
  // size short of the corner with the v seam).
  const bool inside = at > 0 ? predicted.p[k] <= end : predicted.p[k] >= end;
  if ((k & 1 ? s->closedV : s->closedU) && (inside || std::fabs(predicted.p[k] - end) <= kAlongSeamOvershoot * tp) &&
      std::fabs(prev.p[k] - end) <= tp && std::fabs(cur.p[k] - end) <= tp)
    return false;
  if (!MeetOnEdge(m.s1, m.s2, ep, k, end, Q, m.tolB)) return false;
  if (TowardEnd(m, prev, e, k, at) < 0) {
    // The branch comes back in there from beyond the edge: it left the domain before, nearer
    // prev, and cur, met beyond that, lies on its way back. The branch ends where it leaves.
    e = prev;
    *along = false;
    return MeetOnEdge(m.s1, m.s2, ep, k, end, Q, m.tolB) && TowardEnd(m, prev, e, k, at) > 0;
  }
  double ahead = 0.0, dist2 = 0.0;
  for (int q = 0; q < 4; ++q) {
    ahead += (e.p[q] - prev.p[q]) * (predicted.p[q] - prev.p[q]);
    dist2 += (e.p[q] - cur.p[q]) * (e.p[q] - cur.p[q]);
  }
  *along = true;
  return ahead > 0.0 && dist2 <= step2;
}

// A chord this many point tolerances long has its direction to within 1e-2 radians (each end
// refined to the point tolerance), far inside kChordTangentCos; a shorter one is not compared.
constexpr double kComparedChordTolBs = 100.0;

// The chord toward an edge's meeting is halved this many times at most in following the
// branch there (RunsOnToEdge): down to 1/256 of a step, far below a loop's turn beside a near
// crossing that the step's chord can pass by.
constexpr int kRunOnHalvings = 8;

// True when the branch runs on from cur (surface 1 point P), where the step met it inside the
// domain, to its meeting Q (parameters e) with an edge the prediction passed: the chord between
// them runs along the branch's tangent at cur (within kChordTangentCos), and so it does from each
// point the chord's midpoints toward Q refine to, each reached from the one before along the
// branch (FollowsBranch). Where the branch turns sharply beyond cur (a loop's turn beside a near
// crossing, its arms nearly straight up to a vertex far smaller than the step), the meeting found
// from cur lies beyond the turn or on the other loop, and a step ended there would cut the turn
// off; the step ends at cur instead and the march follows the turn. The chord to a meeting on the
// other loop's arm can run along the tangent at cur, the arms meeting the chord at a small angle;
// halved toward Q it lands on the turn, from which it does not. The tangent at Q is not asked:
// the branch may turn at Q itself (a loop's vertex on a seam, its arm running straight into it);
// the chord from a point of the arm to the vertex turns from the arm's tangent there by less than
// 13 degrees, a hyperbola's most. Points nearer than kComparedChordTolBs tolerances are one, and
// across the branch at Q, where a point meeting both surfaces within tolB lies as far off as tolB
// over the normals' sine there, the halving stops that many of those distances from Q: where the
// surfaces nearly touch (a band the tolerance cannot tell two branches apart in), Q may lie
// anywhere across the band. Where the tangent or a midpoint's refinement cannot be had, there is
// no telling.
bool RunsOnToEdge(const March& m, const Params& cur, const double P[3], const Params& e, const double Q[3]) {
  const double sine = NormalSine(m, e);
  Params a = cur;
  double A[3] = {P[0], P[1], P[2]};
  for (int i = 0;; ++i) {
    double T[3], t[3], chord[3];
    bool has = false;
    VecDiff3(Q, A, chord);
    const double len = VecSize3(chord);
    if (len <= kComparedChordTolBs * m.tolB || !UnitTangent(m, a, T, t, &has) || !has) return true;
    if (std::fabs(VecDotProd3(t, chord)) < kChordTangentCos * len) return false;
    if (i == kRunOnHalvings || !(len * sine > kComparedChordTolBs * m.tolB)) return true;
    Params b;
    for (int q = 0; q < 4; ++q) b.p[q] = 0.5 * (a.p[q] + e.p[q]);
    double B[3];
    int flag = 0;
    if (NewRefineIntrPoint(m.s1, m.s2, &b.p[0], &b.p[1], &b.p[2], &b.p[3], B, kMarchIterations, &flag, nullptr,
                           m.tolB) != 0)
      return true;
    if (!FollowsBranch(m, a, b)) return false;
    a = b;
    for (int q = 0; q < 3; ++q) A[q] = B[q];
  }
}

// A point on a cone's apex is the same whatever its parameter round the apex, but the normal
// there is only the limit along its meridian, and the step's halving runs round the apex from
// it: from a seed on an apex (where the point need not lie on the meridian the branch leaves
// along, nor even near it) the check that the step follows the branch would refuse it, and the
// halved steps land back on the apex. The step is taken from the apex on the meridian it leaves
// along instead, from that meridian's boxes (so the boxes marked run along the branch). True when
// from lies on an apex.
bool OntoLeavingMeridian(March& m, Params& from, const Params& to) {
  bool apex = false;
  for (int k = 0; k < 2; ++k) {
    int dir;
    if (OnApexOf(SurfaceOf(2 * k, m.s1, m.s2), from.p[2 * k], from.p[2 * k + 1], &dir)) {
      from.p[2 * k + 1 - dir] = to.p[2 * k + 1 - dir];
      GetBoxesRange(k ? m.us2 : m.us1, k ? m.vs2 : m.vs1, from.p[2 * k], from.p[2 * k + 1], k ? m.NU2 : m.NU1,
                    k ? m.NV2 : m.NV1, &m.prevBox[k][0], &m.prevBox[k][1], m.tol[2 * k], m.tol[2 * k + 1]);
      apex = true;
    }
  }
  return apex;
}

// A step landing on an apex from beside it ends there as on any edge, but the refinement leaves
// the parameter round the apex anywhere (the apex moves with none of it), often on its range's
// end: the step then crossed every box line along the collapsed side, and the march back, taking
// half of such a step, went round the apex in the parameters onto the other branch leaving it,
// with no node on the apex (the branch's corner there cut off). The branch comes into the apex
// along the meridian it runs on: the node takes the last node's parameter round the apex. Not
// from a node where the normals are nearly parallel (kNearSingular): a march along a tangential
// contact only stands in for the contact traced whole (FollowTangentialContacts), and its piece
// run on into the apex so was kept beside the contact's, the stretch returned twice.
void OntoArrivingMeridian(const March& m, const Params& prev, Params& cur) {
  if (!(NormalSine(m, prev) >= kNearSingular)) return;
  for (int k = 0; k < 2; ++k) {
    const Bspline* s = SurfaceOf(2 * k, m.s1, m.s2);
    int dir, before;
    if (OnApexOf(s, cur.p[2 * k], cur.p[2 * k + 1], &dir) && !OnApexOf(s, prev.p[2 * k], prev.p[2 * k + 1], &before))
      cur.p[2 * k + 1 - dir] = prev.p[2 * k + 1 - dir];
  }
}

// True when x is an interior knot of surface s's parameter dir where the surface is only
// continuous, its multiplicity at least the degree (every knot of a degree-1 tessellation): the
// branch turns there, sharply.
bool SharpKnot(const Bspline* s, int dir, double x) {
  const int deg = dir ? s->degreeV : s->degreeU, interior = dir ? s->interiorV : s->interiorU;
  const double* kn = dir ? s->knotsV : s->knotsU;
  int mult = 0;
  for (int i = deg + 1; i <= deg + interior; ++i) mult += kn[i] == x;
  return mult > 0 && mult >= deg;
}

// The sharp knot of surface s's parameter dir strictly between a and b (beyond round-off of the
// range, kParamTol) nearest a.
bool SharpKnotBetween(const Bspline* s, int dir, double a, double b, double* knot) {
  const int deg = dir ? s->degreeV : s->degreeU, interior = dir ? s->interiorV : s->interiorU;
  const double* kn = dir ? s->knotsV : s->knotsU;
  const double tp = kParamTol * Range(s, dir), lo = std::fmin(a, b) + tp, hi = std::fmax(a, b) - tp;
  bool found = false;
  for (int i = deg + 1; i <= deg + interior; ++i)
    if (kn[i] > lo && kn[i] < hi && (!found || std::fabs(kn[i] - a) < std::fabs(*knot - a)) && SharpKnot(s, dir, kn[i])) {
      *knot = kn[i];
      found = true;
    }
  return found;
}

// A point on a sharp knot has the partials of the span after it; from there toward to, they are
// taken on the side toward to, a round-off away, so the chord is compared with the tangent of
// the face it runs over.
Params TowardSide(const March& m, const Params& at, const Params& to) {
  Params c = at;
  for (int k = 0; k < 4; ++k)
    if (to.p[k] < at.p[k] && SharpKnot(SurfaceOf(k, m.s1, m.s2), k & 1, at.p[k]))
      c.p[k] = std::nextafter(at.p[k], -HUGE_VAL);
  return c;
}

// Normals turning across a knot by a sine below this are one: the faces of a tessellation meet at
// degrees, while the normals of a tangent-continuous join (a rational circle's double knots)
// computed beside a pole, where the partials shrink to nothing, part by round-off magnified far
// beyond 1e-8. A turn that small cuts a step's corner by a 4000th of the step.
constexpr double kCreaseSine = 1e-3;

// True when surface s at (u, v) (on one of its sharp knots in parameter dir) has a crease there:
// its normals just before and on the knot (the span after it) part by more than kCreaseSine.
bool CreasedAcross(Bspline* s, double u, double v, int dir) {
  double a[2] = {u, v}, P[3], Su[3], Sv[3], n0[3], n1[3], x[3];
  int along, end;
  if (OnPole(s, a[0], a[1], &along, &end) || !TangentPlane(s, a[0], a[1], P, Su, Sv, n1)) return false;
  a[dir] = std::nextafter(a[dir], -HUGE_VAL);
  if (!TangentPlane(s, a[0], a[1], P, Su, Sv, n0)) return false;
  return VecSize3(VecCrossProd3(n0, n1, x)) > kCreaseSine;
}

// The same for parameter k (0..3: u1, v1, u2, v2) of the pair at e.
bool Creased(const March& m, const Params& e, int k) {
  const int o = k & 2;
  return CreasedAcross(k < 2 ? m.s1 : m.s2, e.p[o], e.p[o + 1], k & 1);
}

}  // namespace

bool OnSurfaceCrease(Bspline* s, double u, double v, int dir) {
  return SharpKnot(s, dir, dir ? v : u) && CreasedAcross(s, u, v, dir);
}

namespace {

// True when c lies on a crease of either surface: a sharp knot the normals turn across.
bool OnCrease(const March& m, const Params& c) {
  for (int k = 0; k < 4; ++k)
    if (SharpKnot(SurfaceOf(k, m.s1, m.s2), k & 1, c.p[k]) && Creased(m, c, k)) return true;
  return false;
}

// True when the step from prev to cur turns back against the march's last direction (surface
// 1's parameter rates, LastDirection; null: none yet). Not from a crease, where the branch may
// turn by any angle; the chord is still held to the tangent of the face it runs over there
// (FollowsBranch).
bool TurnsBack(const March& m, const Params& prev, const Params& cur, const double* dPrev) {
  const double du = cur.p[0] - prev.p[0], dv = cur.p[1] - prev.p[1];
  return dPrev && du * dPrev[0] + dv * dPrev[1] < 0.0 && !OnCrease(m, prev);
}

// The node the march came to `from` (its node at the step's start) from, the one before it in
// the running direction; none at the seed. The march back's first node follows the forward end
// in the trace, but was reached from the seed.
const IntersectionTraceNode* ArrivedFrom(const March& m, const IntersectionTraceNode* from) {
  const IntersectionTrace* tr = m.trace;
  if (!from || from == tr->head) return nullptr;
  if (tr->turn && from->prev == tr->turn) return tr->head;
  return from->prev;
}

// True when the step from prev, on a crease of either surface the march reached from the node
// `arrived`, goes back to the side of the crease it came from. Crossing a crease, the branch
// leaves the face it came over for the one beyond, at whatever angle (TurnsBack is off there),
// but never back into the first face: that way it only runs back over its own last chord. A
// step from the crease whose prediction was pulled onto the stretch just traced found the crease
// between (EndOnSharpKnot) where the march had crossed it, and was taken: the march went back and
// forth between the last two nodes, or back along the whole branch.
bool BacksOverCrease(const March& m, const Params& prev, const Params& cur, const IntersectionTraceNode* arrived) {
  if (!arrived) return false;
  const Params a = Of(arrived);
  for (int k = 0; k < 4; ++k) {
    const double back = a.p[k] - prev.p[k], step = cur.p[k] - prev.p[k];
    if (std::fabs(back) <= m.tol[k] || std::fabs(step) <= m.tol[k] || back * step < 0.0) continue;
    if (SharpKnot(SurfaceOf(k, m.s1, m.s2), k & 1, prev.p[k]) && Creased(m, prev, k)) return true;
  }
  return false;
}

// The point a step from `at` is predicted from: a round-off below the knot when `at` lies on a
// crease the march reached from the node `arrived` going toward the knot's lower values. A point
// on a sharp knot has the partials of the span after it, there the face the march came over,
// whose tangent runs on off the branch where the branch turns on the crease: the refinement
// pulled such a prediction back over the face just traced, and the halvings crawled along it;
// where the branch turns there by more than a right angle (a loop along the crease, a stretch
// on the face either side) no pull reached the face beyond and the march stalled on the crease.
Params StepFrom(const March& m, const Params& at, const IntersectionTraceNode* arrived) {
  Params c = at;
  if (!arrived) return c;
  const Params a = Of(arrived);
  for (int k = 0; k < 4; ++k)
    if (a.p[k] - at.p[k] > m.tol[k] && SharpKnot(SurfaceOf(k, m.s1, m.s2), k & 1, at.p[k]) && Creased(m, at, k))
      c.p[k] = std::nextafter(at.p[k], -HUGE_VAL);
  return c;
}

// The branch's point on the crease at `knot` of parameter k, met from e: it becomes end (E its
// point) when the knot is creased there, the point lies nearer `from` than `nearest` and `fits`
// the step (given the point's parameters and its distance from `from`).
template <class Fits>
void NearerOnCrease(const March& m, Params e, int k, double knot, const double from[3], Fits fits, double& nearest,
                    Params& end, double E[3]) {
  double* ep[4] = {&e.p[0], &e.p[1], &e.p[2], &e.p[3]};
  double Q[3];
  if (!MeetOnEdge(m.s1, m.s2, ep, k, knot, Q, m.tolB) || !Creased(m, e, k)) return;
  const double d = VecDist3(Q, from);
  if (d >= nearest || !fits(e, d)) return;
  nearest = d, end = e;
  for (int q = 0; q < 3; ++q) E[q] = Q[q];
}

// A step over a sharp knot (SharpKnotBetween) of either surface ends on it, on the first one the
// branch reaches (nearest prev in space): the curves through the nodes then have a node where
// the branch turns and run straight over each face, instead of cutting the turn. The crossing
// lies ahead of prev along the branch's tangent there, taken the way the chord to cur runs along
// it (the first crease reached is met over the face prev lies on, where the branch is one smooth
// arc): a branch bulging over a face between two crossings of one crease is met on either, and
// the one behind a seed beside the crease ended the first step there, against its way; the
// march went out and back and the stretch beyond that crossing was never traced.
bool EndOnSharpKnot(March& m, const Params& prev, Params& cur, double P[3], int* flag) {
  const double step2 = ParamDist2(cur, prev);
  double P0[3];
  Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
  // The way is taken only for a crossing met: most steps pass over no sharp knot.
  double way[3] = {};
  bool wayTaken = false;
  const auto takeWay = [&] {
    wayTaken = true;
    double T[3], t0[3], C[3];
    bool has = false;
    if (!UnitTangent(m, TowardSide(m, prev, cur), T, t0, &has) || !has) return;
    Eval3DPointOnSurfCoord(m.s1, cur.p[0], cur.p[1], 0, 0, C);
    VecDiff3(C, T, C);
    const double along = VecDotProd3(t0, C), len = VecSize3(C);
    if (std::fabs(along) >= kChordTangentCos * len)
      for (int q = 0; q < 3; ++q) way[q] = along > 0.0 ? t0[q] : -t0[q];
  };
  const auto ahead = [&](const Params& x) {
    if (!wayTaken) takeWay();
    double X[3];
    Eval3DPointOnSurfCoord(m.s1, x.p[0], x.p[1], 0, 0, X);
    VecDiff3(X, P0, X);
    return VecDotProd3(X, way) >= 0.0;
  };
  double nearest = HUGE_VAL;
  Params end = cur;
  double E[3] = {};
  for (int k = 0; k < 4; ++k) {
    double knot = 0.0;
    if (!SharpKnotBetween(SurfaceOf(k, m.s1, m.s2), k & 1, prev.p[k], cur.p[k], &knot)) continue;
    Params e;
    const double f = (knot - prev.p[k]) / (cur.p[k] - prev.p[k]);
    for (int q = 0; q < 4; ++q) e.p[q] = prev.p[q] + f * (cur.p[q] - prev.p[q]);
    NearerOnCrease(
        m, e, k, knot, P0, [&](const Params& x, double) { return ParamDist2(x, prev) <= step2 && ahead(x); },
        nearest, end, E);
  }
  if (nearest == HUGE_VAL) return false;
  cur = end;
  for (int q = 0; q < 3; ++q) P[q] = E[q];
  *flag = 0;
  return true;
}

// A step predicted over a crease of either surface whose point met lies short of the crease, yet
// within its own looseness along the branch of it (the point tolerance over the sine between the
// normals, as any node meeting both surfaces within it may lie off the branch), has reached the
// crease: it ends on it. Where the branch turns sharply on the crease, every refinement of a
// prediction beyond it comes back to that corner, a round-off short of the knot; left there, the
// node is on no crease, so the next step may neither turn nor cross, and the march stalled on it.
// The knot is looked for right up to the point met: a round-off short of it is the case here.
// Ten loosenesses: the pulls from beyond the corner stop anywhere within a few of them, the
// faces either side crossing the other surface at sines apart.
constexpr double kCreaseReach = 10.0;
bool OntoCreaseAhead(March& m, const Params& predicted, Params& cur, double P[3]) {
  const double reach = kCreaseReach * m.tolB / std::fmax(NormalSine(m, cur), kLeastTightening);
  double nearest = HUGE_VAL;
  Params end = cur;
  double E[3] = {};
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    const int dir = k & 1, deg = dir ? s->degreeV : s->degreeU, interior = dir ? s->interiorV : s->interiorU;
    const double* kn = dir ? s->knotsV : s->knotsU;
    const double lo = std::fmin(cur.p[k], predicted.p[k]), hi = std::fmax(cur.p[k], predicted.p[k]);
    for (int i = deg + 1; i <= deg + interior; ++i) {
      if (!(kn[i] > lo && kn[i] < hi) || !SharpKnot(s, dir, kn[i])) continue;
      NearerOnCrease(m, cur, k, kn[i], P, [&](const Params&, double d) { return d <= reach; }, nearest, end, E);
    }
  }
  if (nearest == HUGE_VAL) return false;
  cur = end;
  for (int q = 0; q < 3; ++q) P[q] = E[q];
  return true;
}

namespace {

// True when a and b lie more than half the range apart in a direction not flagged closed. A
// surface closed in shape whose flags a file left unset has its seam as an edge: a march that
// comes round to its forward end from the seam's other side meets it in space, but the branch
// between them would run the whole way across the domain in parameters.
bool JumpsAcrossDomain(const March& m, const Params& a, const Params& b) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if (!(k & 1 ? s->closedV : s->closedU) && std::fabs(a.p[k] - b.p[k]) > 0.5 * Range(s, k & 1)) return true;
  }
  return false;
}

}  // namespace

// Refines a predicted step. When the points do not meet (the step overshot the end of the
// branch at a domain edge, or jumped where the branch turns), meet farther from the predicted
// point than the step is long (on another branch), or the chord turns back against the march's
// way at the previous point (surface 1's parameters, LastDirection; dPrev null: none yet), the
// step is halved back toward the previous point and refined again; false when ten halvings do
// not reach the branch (the last halving is kept wherever it meets). A step that passes over a
// dip of the branch out over a patch's edge ends where the branch leaves (EndAtDipBeyondEnd),
// flagged as on the edge.
bool RefineStep(March& m, const Params& prev, Params& cur, double P[3], int* flag,
                const IntersectionTraceNode* from, const double* dPrev) {
  const Params predicted = cur;
  bool met = false;
  for (int k = 0; k <= 10 && !met; ++k) {
    const double f = std::ldexp(1.0, -k);
    for (int q = 0; q < 4; ++q) cur.p[q] = prev.p[q] + f * (predicted.p[q] - prev.p[q]);
    const Params aim = cur;
    *flag = 0;
    if (Refine(m, cur, P, flag, from) != 0) continue;
    // A point pulled farther than the step is long has landed on another branch.
    double pulled = ParamDist2(cur, aim);
    const double step = ParamDist2(aim, prev);
    // A point met beyond a sharp knot may lie far from the aim, the prediction having run on
    // along the face it left; the point on the knot, between prev and it, is the step's end and
    // need lie only within the step of prev.
    if (EndOnSharpKnot(m, prev, cur, P, flag) || (!*flag && OntoCreaseAhead(m, predicted, cur, P)))
      pulled = ParamDist2(cur, prev);
    met = k == 10 || ((pulled <= step || *flag) && !TurnsBack(m, prev, cur, dPrev) &&
                      !BacksOverCrease(m, prev, cur, ArrivedFrom(m, from)) &&
                      FollowsBranch(m, TowardSide(m, prev, cur), TowardSide(m, cur, prev)));
  }
  if (!met || *flag) return met;
  // The prediction left the domain but the point met inside it, short of the edge: the branch
  // ends where it crosses that edge, when that lies ahead within the predicted step and the
  // branch runs on to it from the point met (RunsOnToEdge). A
  // prediction past two edges (one of each surface, or a corner) gives two such crossings, and
  // the meeting with an edge searched from cur can be where another stretch of the branch
  // crosses it, beyond a stretch outside the other surface's domain: the branch ends at the
  // crossing it reaches first, the one nearest prev in space (the surfaces' parameters need not
  // run at like rates).
  const double step2 = ParamDist2(predicted, prev);
  double P0[3];
  Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
  Params end = cur;
  double E[3] = {P[0], P[1], P[2]}, nearest = HUGE_VAL;
  bool tighten = false;
  for (int k = 0; k < 4; ++k) {
    Params e = cur;
    double Q[3];
    bool along = false;
    if (!EdgeCrossingAhead(m, prev, predicted, step2, k, e, Q, &along)) continue;
    if (along && !RunsOnToEdge(m, cur, P, e, Q)) continue;
    const double d = VecDist3(Q, P0);
    if (d >= nearest) continue;
    nearest = d, end = e, tighten = along;
    for (int q = 0; q < 3; ++q) E[q] = Q[q];
  }
  if (nearest < HUGE_VAL) {
    if (tighten) TightenNearCrossing(m, end, E);
    cur = end;
    for (int q = 0; q < 3; ++q) P[q] = E[q];
    *flag = 1;
    EndOnSharpKnot(m, prev, cur, P, flag);
    return true;
  }
  if (EndAtDipBeyondEnd(m, prev, cur, P, false)) *flag = 1;
  EndOnSharpKnot(m, prev, cur, P, flag);
  return true;
}

// True when the march from a seed on a domain end (a seam it was put on from the far side, or an
// edge) heads out of the domain at once: the branch's rate of that parameter along the predicted
// step (to first order on surface 1) carries it beyond the end by more than its tolerance over
// the step. The way goes nowhere, as a step pulled back onto the edge does; where the branch
// crosses the seam shallowly and dips back in, the prediction lands inside beyond the dip, and a
// march from there runs back over the branch it came from.
bool LeavesAtSeed(const March& m, const Params& seed, const Params& predicted) {
  double P[3], Su[3], Sv[3], n[3], chord[3], r[4];
  if (!TangentPlane(m.s1, seed.p[0], seed.p[1], P, Su, Sv, n)) return false;
  for (int q = 0; q < 3; ++q) chord[q] = Su[q] * (predicted.p[0] - seed.p[0]) + Sv[q] * (predicted.p[1] - seed.p[1]);
  if (!ParamRates(m, seed, chord, r)) return false;
  const double L = VecSize3(chord);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    if ((std::fabs(hi - seed.p[k]) <= m.tol[k] && r[k] * L > m.tol[k]) ||
        (std::fabs(seed.p[k] - lo) <= m.tol[k] && r[k] * L < -m.tol[k]))
      return true;
  }
  return false;
}

// True when P lies within a quarter of the chord's length of the chord from a to b: a march
// coming back between two nodes in a surface's parameters closes there only so near them in
// space, the chord's height being far less than that. A branch whose far parts pass between
// the two in one surface's parameters (a loop turning back on itself there) lies farther off.
bool BesideChord(const IntersectionTraceNode* a, const IntersectionTraceNode* b, const double P[3]) {
  double f = 0.0;
  const double B[3] = {b->x, b->y, b->z};
  return ChordDistance2(a, b, P, &f) <= 0.0625 * ChordDistance2(a, a, B, &f);
}

// A march coming back to its seed closes there only arriving the way it left: the step from
// prev to P runs along the first chord, the same way, turned from it by no more than two steps'
// turning (kMaxStepTurn each, the first chord's and this one's, which overlap about the seed).
// Just past a turn far sharper than a step (a loop's vertex beside a near crossing), the march
// lies beside the first chord's end and between its nodes in the parameters, running off
// across it: closing there would return the stretch out to the turn and back as a loop. The
// first chord runs from the seed (the trace's head) to the node after it: the forward march's
// first node, or, where that march made none, the backward march's first, beside which the
// backward march then comes back to the seed it closes on.
bool ArrivesAlongFirstChord(const March& m, const IntersectionTrace* tr, const Params& prev, const double P[3]) {
  const IntersectionTraceNode *a = tr->head, *b = tr->head->next;
  const double first[3] = {b->x - a->x, b->y - a->y, b->z - a->z};
  double P0[3], step[3];
  Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
  VecDiff3(P, P0, step);
  const double l = VecSize3(first) * VecSize3(step);
  return !(l > 0.0) || VecDotProd3(first, step) >= std::cos(2.0 * kMaxStepTurn) * l;
}

// True when the step from the trace's tail to P (prev to cur in the parameters) passes over its
// whole first chord: the seed and the node after it both lie beside the step's chord (within a
// quarter of its length), in that order along it, and the seed lies between prev and cur in a
// surface's parameters. A march coming round its loop with steps longer than the first one (the
// first chord short where the march heads for a pole) lands beyond the first node, never beside
// the first chord, and would go round the loop again.
bool StepsOverFirstChord(const IntersectionTrace* tr, const Params& prev, const Params& cur, const double P[3]) {
  const IntersectionTraceNode *t = tr->tail, *a = tr->head, *b = tr->head->next;
  const double T[3] = {t->x, t->y, t->z};
  double d[3];
  VecDiff3(P, T, d);
  const double l2 = VecDotProd3(d, d);
  if (!(l2 > 0.0)) return false;
  double f[2];
  for (int i = 0; i < 2; ++i) {
    const IntersectionTraceNode* n = i ? b : a;
    const double x[3] = {n->x - T[0], n->y - T[1], n->z - T[2]};
    f[i] = VecDotProd3(x, d) / l2;
    double h2 = 0.0;
    for (int q = 0; q < 3; ++q) h2 += (x[q] - f[i] * d[q]) * (x[q] - f[i] * d[q]);
    if (!(f[i] > 0.0 && f[i] < 1.0 && h2 <= 0.0625 * l2)) return false;
  }
  return f[0] < f[1] && Closes(Of(a), prev, cur);
}

// A first chord at most this many point tolerances long is a hop over a crease, not a step: a
// march coming back lands beside it, not between its ends.
constexpr double kShortFirstChordTols = 8.0;

// True when the trace's first chord is a few point tolerances long (a seed beside a crease of a
// faceted surface, the first step only hopping over it) and P (at c) lies within that length of
// both its ends, or within two loosenesses of the branch along itself at c (the point tolerance
// over the sine between the normals): the loop has come back to its seed. Coming back across the
// crease, the march lands on it beside the chord's ends rather than between them in the
// parameters (Closes), or along the chord (ArrivesAlongFirstChord), the branch bending there;
// marching on, it went round the loop a second time. Where the branch crosses the crease
// shallowly, its two crossings met each within the point tolerance lie apart along the crease by
// more than the hop is long.
bool ReachesShortFirstChord(const March& m, const IntersectionTrace* tr, const Params& c, const double P[3]) {
  const IntersectionTraceNode *a = tr->head, *b = tr->head->next;
  const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
  const double l = VecDist3(A, B);
  if (!(l <= kShortFirstChordTols * m.tolB)) return false;
  const double reach = std::fmax(l, 2.0 * m.tolB / std::fmax(NormalSine(m, c), kLeastTightening));
  return VecDist3(P, A) <= reach && VecDist3(P, B) <= reach;
}

// True when P (at c), on a crease of either surface, lies within two loosenesses of the branch
// along itself of the trace's seed (the point tolerance over the sine between the normals at c): the
// loop has come back to its seed. A seed a little beside a crease, its first step a whole step over
// the face it lies on, is come back to across the crease: the march lands on the crease a few point
// tolerances beside the seed, behind it in the parameters (Closes) and turned from the first chord
// by the branch's bend there (ArrivesAlongFirstChord); marching on, it stepped over the first chord,
// was stopped as going round another branch's loop, and the march back went round it again.
bool LandsBesideSeed(const March& m, const IntersectionTrace* tr, const Params& c, const double P[3]) {
  const double A[3] = {tr->head->x, tr->head->y, tr->head->z}, d = VecDist3(P, A);
  // Only on a crease: elsewhere the sine may be small and the reach wide (beside two small spheres
  // touching, the branch came back off the touching point). The sine is asked for only where it can
  // tell: every step of the march comes here.
  if (d > 2.0 * m.tolB / kLeastTightening || !OnCrease(m, c)) return false;
  return d <= 2.0 * m.tolB || d <= 2.0 * m.tolB / std::fmax(NormalSine(m, c), kLeastTightening);
}

// True when P lies nearer the trace's seed (its head) than some node after it: a march closing
// its loop has gone away from the seed and comes back toward it. One that turns about an arc's
// vertex just past its first node runs back between the seed and that node in a surface's
// parameters, and beside their chord, while still moving away from the seed.
bool CameBack(const IntersectionTrace* tr, const double P[3]) {
  const double S[3] = {tr->head->x, tr->head->y, tr->head->z};
  const double d = VecDist3(P, S);
  for (const IntersectionTraceNode* n = tr->head->next; n; n = n->next) {
    const double N[3] = {n->x, n->y, n->z};
    if (VecDist3(N, S) > d) return true;
  }
  return false;
}

// The way the march runs in surface 1's parameters at its last node cur (surface 1 point P),
// reached from prev, against which the next step must not turn back: the branch's rates there
// (ParamRates, oriented by the chord), or the step's own where there are none. The step's chord
// is the branch's mean way over the step, not its way at the end: where the branch turns fast in
// those parameters, the next step runs at more than a right angle from the chord though the
// branch goes on, and every halving of it would be refused.
void LastDirection(const March& m, const Params& prev, const Params& cur, const double P[3], double d[2]) {
  double P0[3], chord[3], r[4];
  Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
  VecDiff3(P, P0, chord);
  const bool rates = ParamRates(m, cur, chord, r);
  d[0] = rates ? r[0] : cur.p[0] - prev.p[0];
  d[1] = rates ? r[1] : cur.p[1] - prev.p[1];
}

IntersectionTraceNode* Append(March& w, const Params& c, const double P[3]) {
  return AppendTraceNode(w.trace, P, c.p[0], c.p[1], c.p[2], c.p[3]);
}

bool NearestPole(const March& m, const Params& c, const double S[3], Params* on, int* k, double* dist);

// A march that has come round to where it passed eight or more nodes ago (closer than half its
// last step) without closing has been caught in a loop of another branch it jumped to: it would
// go round for ever. A node it passed across a seam from it (AcrossSeam) is no such place: the
// march comes round its own loop toward that seam, where it stops (a small loop about a pole,
// whose parameters cross the seam before the loop closes).
bool Relooped(const March& m, const IntersectionTrace* tr) {
  const IntersectionTraceNode* t = tr->tail;
  const int added = tr->nodeCount - tr->directionStart;
  if (added < 9 || !t->prev) return false;
  auto dist2 = [](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    return (a->x - b->x) * (a->x - b->x) + (a->y - b->y) * (a->y - b->y) + (a->z - b->z) * (a->z - b->z);
  };
  const double near2 = 0.25 * dist2(t, t->prev);
  // Beside a pole its parameter round it tells no side of a seam: a loop seeded on a seam beside a
  // pole crawls round the pole first, and comes round toward the seam past those nodes on the
  // pole's far side, their parameters round it short of half a turn apart. For a march from a
  // seam, a node with the pole inside the ball on its chord to the tail (on the far side of the
  // pole) is no such place either; a loop seeded beside a pole inside the domain closes there.
  const Params head = Of(tr->head), T = Of(t);
  bool fromSeam = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if ((k & 1 ? s->closedV : s->closedU) && (head.p[k] == Lo(s, k & 1) || head.p[k] == Hi(s, k & 1))) fromSeam = true;
  }
  const double A[3] = {t->x, t->y, t->z};
  Params on;
  int j = 0;
  double toPole, X[3] = {0.0, 0.0, 0.0};
  const bool pole = fromSeam && NearestPole(m, T, A, &on, &j, &toPole);
  if (pole) Eval3DPointOnSurfCoord(SurfaceOf(j, m.s1, m.s2), on.p[j & 2], on.p[(j & 2) + 1], 0, 0, X);
  auto acrossPole = [&](const IntersectionTraceNode* n) {
    if (!pole) return false;
    const double a[3] = {A[0] - X[0], A[1] - X[1], A[2] - X[2]}, b[3] = {n->x - X[0], n->y - X[1], n->z - X[2]};
    return VecDotProd3(a, b) < 0.0;
  };
  const IntersectionTraceNode* n = t;
  for (int k = 0; k < 8; ++k) n = n->prev;
  // Come round, the march runs past the node the way it ran there. Running the other way it
  // passes the far side of its own loop, thinner than its steps: a loop along a crease of a faceted
  // surface has a stretch on the face either side of it, the two a short way apart.
  auto sameWay = [&](const IntersectionTraceNode* o) {
    const double a[3] = {t->x - t->prev->x, t->y - t->prev->y, t->z - t->prev->z};
    const double b[3] = {o->next->x - o->x, o->next->y - o->y, o->next->z - o->z};
    return VecDotProd3(a, b) > 0.0;
  };
  for (int k = 8; k < added && n; ++k, n = n->prev)
    if (dist2(t, n) < near2 && !AcrossSeam(m, T, Of(n)) && !acrossPole(n) && sameWay(n)) return true;
  return false;
}

// True when the seed (trace tr's head) lies within half the last step of the tail.
bool ComesBackToSeed(const IntersectionTrace* tr) {
  const IntersectionTraceNode *t = tr->tail, *h = tr->head;
  const double T[3] = {t->x, t->y, t->z}, H[3] = {h->x, h->y, h->z}, B[3] = {t->prev->x, t->prev->y, t->prev->z};
  return VecDist3(T, H) < 0.5 * VecDist3(T, B);
}

// A march circling a loop too small for its steps steps round it evenly; a step far longer than
// the one before it (the march leaving a stretch of short steps where a surface's parameters turn
// fast, beside a pole) leaves the tail as far from the node six back as from the last without
// circling. Only steps within this factor of the one before count as even.
constexpr double kEvenSteps = 4.0;

// A march that has gone once round a loop or more over its last six steps ends within the loop's
// diameter of where they began, a third of their length at most; one whose steps lengthen by
// about three times each, leaving a pole, runs on straight, the node six back as far from the
// tail as the last step and the rest of the six together. Steps that end farther from where they
// began than this share of their length run on.
constexpr double kCirclingShare = 0.5;

bool Circling(const IntersectionTrace* tr, double tolB) {
  if (tr->nodeCount - tr->directionStart <= 7 || !CheckIfPointsRepeat(tr, tolB)) return false;
  auto dist = [](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    return std::sqrt((a->x - b->x) * (a->x - b->x) + (a->y - b->y) * (a->y - b->y) + (a->z - b->z) * (a->z - b->z));
  };
  const IntersectionTraceNode* t = tr->tail;
  double path = 0.0;
  const IntersectionTraceNode* n = t;
  for (int k = 0; k < 6; ++k, n = n->prev) path += dist(n, n->prev);
  return dist(t, t->prev) <= kEvenSteps * dist(t->prev, t->prev->prev) && dist(t, n) < kCirclingShare * path;
}

// A loop closed on a point of a closed surface's seam ends on the side of the seam it arrives
// from: a parameter of the closing node at one end of a closed direction is moved to the other
// end when that lies nearer the node before it, so that the parameters run on across the seam
// instead of jumping back over the whole domain.
void ArriveAcrossSeam(const March& m, const Params& before, Params& c) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    const bool atLo = std::fabs(c.p[k] - lo) <= m.tol[k], atHi = std::fabs(hi - c.p[k]) <= m.tol[k];
    if (atLo || atHi) c.p[k] = std::fabs(before.p[k] - lo) <= std::fabs(hi - before.p[k]) ? lo : hi;
  }
}

// True when the stretch of the branch from c to the node w, which ends the march on a seam,
// crosses another seam: c and w, its parameters moved to the end of the range c lies nearer
// (ArriveAcrossSeam), still lie across a seam (AcrossSeam). A march from w would have stopped
// there; the stretch beyond it is another trace's.
bool SeamBetween(const March& m, const Params& c, const IntersectionTraceNode* w) {
  Params e = Of(w);
  bool onSeam = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if ((k & 1 ? s->closedV : s->closedU) &&
        (std::fabs(e.p[k] - Lo(s, k & 1)) <= m.tol[k] || std::fabs(Hi(s, k & 1) - e.p[k]) <= m.tol[k]))
      onSeam = true;
  }
  if (!onSeam) return false;
  ArriveAcrossSeam(m, c, e);
  return AcrossSeam(m, c, e);
}

// True when the branch between c (point P) and e (point W), both on the end `end` of the closed
// parameter k, runs along the seam within the point tolerance: the seam's point midway between
// them, its other parameters pulled onto both surfaces with k held there, lies between them
// (farther than a quarter of their distance from each). Where the branch crosses the seam at c
// and at e instead, the surfaces meet on the seam only at those two points, and the pull lands
// on one of them, or nowhere.
bool AlongSeamBetween(const March& m, const Params& c, const Params& e, int k, double end, const double P[3],
                      const double W[3]) {
  if (AcrossSeam(m, c, e)) return false;
  double q[4], X[3];
  for (int j = 0; j < 4; ++j) {
    q[j] = 0.5 * (c.p[j] + e.p[j]);
    // e may run on past a seam of a closed direction (TouchesSeamAt): the midpoint is taken back in.
    const Bspline* s = SurfaceOf(j, m.s1, m.s2);
    if (!(j & 1 ? s->closedV : s->closedU)) continue;
    if (q[j] > Hi(s, j & 1) + m.tol[j]) q[j] -= Range(s, j & 1);
    if (q[j] < Lo(s, j & 1) - m.tol[j]) q[j] += Range(s, j & 1);
  }
  q[k] = end;
  if (!PullWithParamHeld(m.s1, m.s2, q, k, X, m.tolB)) return false;
  const double d = VecDist3(P, W);
  return VecDist3(X, P) > 0.25 * d && VecDist3(X, W) > 0.25 * d;
}

// True when the march arrives at c (point P, from prev) on a seam it leaves across there, and the
// node w lies on the same end of that closed direction at another point of the seam (farther
// than kSeamMeetTolBs point tolerances from P): a small loop crossing the seam twice, its two
// crossings closer than a step. The branch goes on from c beyond the seam and comes back to w
// from there; a chord between them along the seam stands for no part of it. Not where the
// branch only touches the seam between them, running along it within the tolerance
// (AlongSeamBetween): it comes back to w on this side, and the chord stands for that stretch.
bool LeavesBesideOnSeam(const March& m, const Params& prev, const Params& c, const double P[3],
                        const IntersectionTraceNode* w) {
  const double W[3] = {w->x, w->y, w->z};
  if (VecDist3(P, W) <= kSeamMeetTolBs * m.tolB) return false;
  const Params e = Of(w);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    for (const int at : {-1, 1}) {
      const double end = at > 0 ? Hi(s, k & 1) : Lo(s, k & 1);
      if (std::fabs(c.p[k] - end) <= m.tol[k] && std::fabs(e.p[k] - end) <= m.tol[k] &&
          TowardEnd(m, prev, c, k, at) > 0 && !AlongSeamBetween(m, c, e, k, end, P, W))
        return true;
    }
  }
  return false;
}

// The largest share of its range by which a parameter turning round a pole of either surface (the
// one along the collapsed side) changes from a to b.
double PoleTurnShare(const March& m, const Params& a, const Params& b) {
  double share = 0.0;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    const int dir = k & 1, across = 1 - dir;
    if (PoleSides(m, k >> 1) >> (2 * across) & 3)
      share = std::fmax(share, std::fabs(b.p[k] - a.p[k]) / Range(s, dir));
  }
  return share;
}

// A closing interval whose parameter round a pole turns by more than this share of its range
// passes the pole closer than it lies from either end, and its way round is the shorter one only
// up to the branch's own turning over the step. Beside small spheres' poles closings turning by
// 0.44 of the range or more came out wrong (their curves round the pole's far side, or the loop
// traced again from another seed), those turning by 0.42 or less right.
constexpr double kCloseRoundPole = 0.43;

// True when a backward march at `last` whose step landed at P short of the forward end (the turn
// node, ahead of P along the step, not on a pole) would close onto that end with an interval
// turning round a pole by more than kCloseRoundPole. The landing lies between: kept, the march
// goes on in steps to the end (the last interval turning the short way) or onto the pole.
bool ClosesRoundAPole(const March& m, const Params& last, const double P[3]) {
  const IntersectionTraceNode* w = m.trace->turn;
  if (NodeOnPole(m, w)) return false;  // its parameter round the pole marks no way
  Params c = Of(w);
  ArriveAcrossSeam(m, last, c);
  if (!(PoleTurnShare(m, last, c) > kCloseRoundPole)) return false;
  double L[3], step[3], ahead[3];
  const double W[3] = {w->x, w->y, w->z};
  Eval3DPointOnSurfCoord(m.s1, last.p[0], last.p[1], 0, 0, L);
  VecDiff3(P, L, step);
  VecDiff3(W, P, ahead);
  return VecDist3(P, W) > m.tolB && VecDotProd3(step, ahead) > 0.0;
}

// The closing node of a backward march that met the forward end (turn node w).
int CloseBackward(March& m) {
  // The loop ends where it began its forward march: the closing node is the turn node itself,
  // its parameters on a seam moved to the side the backward march arrives from, so that the
  // curves made of the trace close exactly. The closing node runs on from the last backward
  // node (the seed when there is none): the backward nodes are put before the seed in running
  // order.
  const IntersectionTraceNode* w = m.trace->turn;
  Params c = Of(w);
  ArriveAcrossSeam(m, Of(m.trace->tail == w ? m.trace->head : m.trace->tail), c);
  const double WP[3] = {w->x, w->y, w->z};
  if (!Append(m, c, WP)) return -2;
  m.trace->open = 0;
  m.list->tail = m.trace;
  return 0;
}

// The last step of the backward march as a parameter difference: from the node before the
// tail in this direction (the seed for the first backward node), or the reverse of the first
// forward step while no backward node exists. False when there is none (the trace is its seed).
bool BackwardStep(const March& m, double step[4]) {
  const IntersectionTrace* t = m.trace;
  const IntersectionTraceNode *a = nullptr, *b = nullptr;
  if (t->nodeCount > t->directionStart) {
    a = t->tail;
    b = t->tail->prev == t->turn ? t->head : t->tail->prev;
  } else if (t->head->next) {
    a = t->head;
    b = t->head->next;
  }
  if (!a || a == b) return false;
  const Params pa = Of(a), pb = Of(b);
  for (int k = 0; k < 4; ++k) step[k] = pa.p[k] - pb.p[k];
  return true;
}

// A closed surface's seam, or an edge, is no end to a march running along it: every parameter
// at a domain end was at that end before the step too. Two faces meeting along the edge they
// share meet along an edge of each, every node of the branch on both. Arriving at a seam or an
// edge still ends the march there (at a seam the branch goes on from its far side).
bool RunsAlongSeam(const March& m, const Params& prev, const Params& cur) {
  bool along = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    const bool atLo = std::fabs(cur.p[k] - lo) <= m.tol[k], atHi = std::fabs(hi - cur.p[k]) <= m.tol[k];
    if (!atLo && !atHi) continue;
    if (std::fabs(prev.p[k] - (atLo ? lo : hi)) > m.tol[k]) return false;
    along = true;
  }
  return along;
}

bool BesidePole(const Bspline* s, double u, double v);

// A touching's pull from half a chord ahead (TouchesSeamAt) must land a fifth of the chord
// ahead, and no fewer than kTouchAheadTolBs point tolerances, where the chord is too short to
// reach kSeamMeetTolBs of them at all. Round a small sphere's loop a few hundred tolerances long,
// half of it along the seam within the tolerance, the chords are some forty tolerances and the
// pull landed a quarter of one ahead: the touching was taken for a crossing, the march ended on
// the seam, the march from its far side went nowhere, and the rest of the half (a tenth of the
// loop) was left out. A crossing brings the pull back to c, within a few tolerances where it is
// shallow.
constexpr double kTouchAheadShare = 0.2;
constexpr double kTouchAheadTolBs = 8.0;

// How far ahead of the touching's point along the chord of length len the pull must land.
double TouchAhead(double len, double tolB) {
  return std::fmax(kTouchAheadTolBs * tolB, std::fmin(kSeamMeetTolBs * tolB, kTouchAheadShare * len));
}

// True when the branch at c (point P), which the march reached from prev on an end of a closed
// parameter k it was not on before, only touches the seam there: its point pulled onto both
// surfaces with k held at that end, from half the step's chord again ahead of c, lies farther ahead
// of P than kSeamMeetTolBs point tolerances (or TouchAhead of a short chord), and the branch runs
// along the seam between the two (AlongSeamBetween). Where the branch crosses the seam, the seam
// meets the other surface at c and the pull comes back to it, or lands where a dip across the seam
// comes back, the seam meeting the surfaces between them nowhere; where it touches, the branch runs
// on along the seam within the tolerance and turns back into this side, and the march follows it
// there instead of ending on the seam (a continuation from the far side would only follow the seam,
// off the branch, and leave the stretch beyond the touching to nobody). Not beside a pole, where
// every meridian, the seam's too, runs within the tolerance of a branch through the pole.
bool TouchesSeamAt(const March& m, const Params& prev, const Params& c, const double P[3]) {
  bool touches = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    const bool atLo = std::fabs(c.p[k] - lo) <= m.tol[k], atHi = std::fabs(hi - c.p[k]) <= m.tol[k];
    if (!atLo && !atHi) continue;
    if (!(k & 1 ? s->closedV : s->closedU) || std::fabs(prev.p[k] - c.p[k]) <= m.tol[k]) return false;
    const int j0 = k & ~1;
    if (BesidePole(s, c.p[j0], c.p[j0 + 1])) return false;
    double q[4], X[3], P0[3], chord[3], ahead[3];
    // Ahead no farther than a side of either domain: a touching beside where the branch crosses
    // another seam lies between c and that seam, and a pull from beyond it, clamped onto the
    // side, slides back along the seam it holds to wherever the touching's stretch lets it meet,
    // behind c as often as not, and the touching is taken for a crossing.
    double f = 0.5;
    int seam = -1;  // the closed direction whose seam cut the reach ahead last
    for (int j = 0; j < 4; ++j) {
      const Bspline* t = SurfaceOf(j, m.s1, m.s2);
      const double tlo = Lo(t, j & 1), thi = Hi(t, j & 1), a = c.p[j] + f * (c.p[j] - prev.p[j]);
      if (j != k && (a < tlo || a > thi)) {
        f = ((a < tlo ? tlo : thi) - c.p[j]) / (c.p[j] - prev.p[j]);
        seam = (j & 1 ? t->closedV : t->closedU) ? j : -1;
      }
    }
    for (int j = 0; j < 4; ++j) q[j] = c.p[j] + f * (c.p[j] - prev.p[j]);
    q[k] = atLo ? lo : hi;
    if (!PullWithParamHeld(m.s1, m.s2, q, k, X, m.tolB)) return false;
    Eval3DPointOnSurfCoord(m.s1, prev.p[0], prev.p[1], 0, 0, P0);
    VecDiff3(P, P0, chord);
    VecDiff3(X, P, ahead);
    const double len = VecSize3(chord);
    if (!(len > 0.0)) return false;
    Params e = {{q[0], q[1], q[2], q[3]}};
    if (VecDotProd3(ahead, chord) <= TouchAhead(len, m.tolB) * len) {
      // Cut short by the seam of another closed direction, the reach ahead may end within the
      // touching's stretch, too close to c to tell a touching from a crossing: the branch then
      // runs on beyond that seam, and is sought there from half the chord ahead, wrapped across
      // it (the pull, held on the far side, cannot slide back past c). e keeps that parameter
      // run on past the seam, so that c and e lie on one side of it for AlongSeamBetween.
      if (seam < 0 || f >= 0.5) return false;
      const Bspline* t = SurfaceOf(seam, m.s1, m.s2);
      const double range = Range(t, seam & 1), shift = c.p[seam] - prev.p[seam] > 0.0 ? range : -range;
      for (int j = 0; j < 4; ++j) q[j] = c.p[j] + 0.5 * (c.p[j] - prev.p[j]);
      q[k] = atLo ? lo : hi;
      q[seam] -= shift;
      if (q[seam] < Lo(t, seam & 1) || q[seam] > Hi(t, seam & 1) || !PullWithParamHeld(m.s1, m.s2, q, k, X, m.tolB))
        return false;
      VecDiff3(X, P, ahead);
      if (VecDotProd3(ahead, chord) <= TouchAhead(len, m.tolB) * len) return false;
      e = {{q[0], q[1], q[2], q[3]}};
      e.p[seam] += shift;
    }
    if (BesidePole(s, q[j0], q[j0 + 1]) || !AlongSeamBetween(m, c, e, k, q[k], P, X)) return false;
    touches = true;
  }
  return touches;
}

// A refined step that lands exactly on a domain end (the solve stopped it on the bound) has
// reached the edge as much as one clamped onto it: at an apex or pole the march would otherwise
// step on along the collapsed edge, a point in space, and mark boxes the length of it.
bool OnDomainEnd(const March& m, const Params& c) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if (c.p[k] == Lo(s, k & 1) || c.p[k] == Hi(s, k & 1)) return true;
  }
  return false;
}

// A last step that went nowhere on surface 1 can still have carried a parameter of surface 2
// the rest of the way onto an edge (that surface faster there): the branch ends on the edge,
// not the round-off short of it where its last node lies. A loop closed across a seam there then
// meets that end exactly from the seam's far side (ArriveAcrossSeam) instead of running back
// round the whole domain from just short of it. The node takes the step's parameters and point.
void ReachEdge(const March& m, const Params& c, const double P[3], IntersectionTraceNode* tail) {
  const Params t = Of(tail);
  bool reached = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if ((c.p[k] == Lo(s, k & 1) || c.p[k] == Hi(s, k & 1)) && t.p[k] != c.p[k]) reached = true;
  }
  if (!reached) return;
  tail->u1 = c.p[0], tail->v1 = c.p[1], tail->u2 = c.p[2], tail->v2 = c.p[3];
  tail->x = P[0], tail->y = P[1], tail->z = P[2];
}

// A chord passing this many point tolerances from a traced node on a pole passes the pole: a
// march beside a pole crawls toward it in ever shorter steps (its parameters turning fast there)
// and passes it within round-off of the refinement, not within a step.
constexpr double kPolePassTolBs = 4.0;

// A march back closes onto a forward end on a pole only from within this many point tolerances
// of it: the room OnBranchReach leaves for the march's chords, over which the fit places the last
// interval whatever meridian it comes in along.
constexpr double kPoleCloseTolBs = 100.0;

// The node of another trace lying on a pole that the chord from A to P of a march from the far
// side of a seam passes (within kPolePassTolBs point tolerances), null when none: a branch through
// a pole beside a seam stops on the pole, and the march continuing it across the seam has come
// round to there; beyond lies that trace's own stretch.
const IntersectionTraceNode* PassesTracedPole(const March& m, const double A[3], const double P[3]) {
  if (!m.continued) return nullptr;
  double d[3];
  for (int q = 0; q < 3; ++q) d[q] = P[q] - A[q];
  const double l2 = VecDotProd3(d, d);
  for (const IntersectionTrace* o = m.list->head; o; o = o->next) {
    if (o == m.trace) continue;
    for (const IntersectionTraceNode* n = o->head; n; n = n->next) {
      const double X[3] = {n->x - A[0], n->y - A[1], n->z - A[2]};
      const double f = l2 > 0.0 ? std::fmin(1.0, std::fmax(0.0, VecDotProd3(X, d) / l2)) : 0.0;
      if (std::hypot(X[0] - f * d[0], X[1] - f * d[1], X[2] - f * d[2]) <= kPolePassTolBs * m.tolB &&
          NodeOnPole(m, n))
        return n;
    }
  }
  return nullptr;
}

bool RoundAPole(const March& m, const Params& a, const Params& b);

// Before the node cur (point P) of a step from prev (point A) that passed through a pole of either
// surface, neither end on it: a node on the pole, on the meridian the branch arrives along (prev's
// parameter round the pole). The step lands on the opposite meridian, its parameter round the pole
// turned by half its range (RoundAPole), and the fit sampled the interval between round the pole
// instead of through it, up to 1.4 point tolerances off the surfaces. The chord must pass the
// pole within the point tolerance, from within kPoleCloseTolBs of it (from farther the branch need
// not arrive along prev's meridian), and the pole pull onto both surfaces there; false on no
// memory.
bool AppendPoleBetween(March& m, const Params& prev, const double A[3], const Params& cur, const double P[3]) {
  int dir, end;
  for (int j = 0; j < 2; ++j) {
    if (OnPole(m, j, prev.p[2 * j], prev.p[2 * j + 1], &dir, &end) ||
        OnPole(m, j, cur.p[2 * j], cur.p[2 * j + 1], &dir, &end))
      return true;
  }
  if (!RoundAPole(m, prev, cur)) return true;
  Params on;
  int k;
  double dist, X[3], Q[3];
  if (!NearestPole(m, cur, P, &on, &k, &dist)) return true;
  const int j = k & 2;
  Eval3DPointOnSurfCoord(SurfaceOf(k, m.s1, m.s2), on.p[j], on.p[j + 1], 0, 0, X);
  if (!(SegmentDistance(A, P, X) <= m.tolB) || !(VecDist3(A, X) <= kPoleCloseTolBs * m.tolB)) return true;
  on.p[j + 1 - (k & 1)] = prev.p[j + 1 - (k & 1)];
  if (!PullWithParamHeld(m.s1, m.s2, on.p, k, Q, m.tolB) || !(VecDist3(Q, X) <= m.tolB)) return true;
  return Append(m, on, Q) != nullptr;
}

// A step's landing short of a pole, the pole ahead of it by no more than this share of the step,
// reached the pole to the step's own accuracy (a quarter of it, as a step's chord height bounds).
constexpr double kPoleAheadShare = 0.25;

// Ends on the pole a march whose step from prev (point A) to cur (point P) passed the node n of
// another trace on a pole (PassesTracedPole) and landed beyond it round the pole (RoundAPole): a
// step through the pole lands on the opposite meridian, and the fit samples the interval to there
// round the pole's far side. The node takes the pole's point and the meridian the branch arrives
// along, the parameter round the pole of prev. A landing short of the pole, the pole ahead
// within kPoleAheadShare of the step, is put on it too, on its own meridian: the march stops
// there, and kept as it landed it left the loop open between it and the other trace's end on the
// pole. A landing farther short (a crawl into the pole on steps no longer than its distance from
// it, whose meridian tells nothing of the branch's), or beside the pole on the same meridian, is
// kept. True when the landing was kept short of the pole, which then lies ahead of it within
// kPolePassTolBs point tolerances (AppendTracedPole).
bool OntoTracedPole(const March& m, const Params& prev, const double A[3], const IntersectionTraceNode* n,
                    Params& cur, double P[3]) {
  const double X[3] = {n->x, n->y, n->z};
  double step[3], to[3];
  VecDiff3(P, A, step);
  VecDiff3(X, A, to);
  const double l2 = VecDotProd3(step, step), ahead = VecDotProd3(to, step);
  const bool shortOfPole = !(ahead < l2);
  if (shortOfPole && !(ahead <= (1.0 + kPoleAheadShare) * l2)) return true;
  if (!shortOfPole && !RoundAPole(m, prev, cur)) return false;
  const Params arriving = shortOfPole ? cur : prev;
  cur = Of(n);
  for (int j = 0; j < 2; ++j) {
    int dir, end;
    if (OnPole(m, j, cur.p[2 * j], cur.p[2 * j + 1], &dir, &end))
      cur.p[2 * j + 1 - dir] = arriving.p[2 * j + 1 - dir];
  }
  for (int q = 0; q < 3; ++q) P[q] = X[q];
  return false;
}

// After a landing kept short of the pole node n of another trace (OntoTracedPole), the node on
// that pole on the landing's meridian: the march stops at the landing, and without it the stretch
// on to the pole, up to kPolePassTolBs point tolerances, was left out of the loop (a small
// sphere's loop through its pole, the march from its seam's far side crawling into the pole).
// False on no memory.
bool AppendTracedPole(March& m, const IntersectionTraceNode* n, const Params& landing) {
  Params on = Of(n);
  for (int j = 0; j < 2; ++j) {
    int dir, end;
    if (OnPole(m, j, on.p[2 * j], on.p[2 * j + 1], &dir, &end))
      on.p[2 * j + 1 - dir] = landing.p[2 * j + 1 - dir];
  }
  if (SameParams(m, on, landing)) return true;
  const double X[3] = {n->x, n->y, n->z};
  return Append(m, on, X) != nullptr;
}

// The pole of either surface nearest the seed c (point S): c with the parameter across that
// pole's side put on the side (its index in c in *k), and the distance from S; false when neither
// surface has a pole.
bool NearestPole(const March& m, const Params& c, const double S[3], Params* on, int* k, double* dist) {
  *dist = HUGE_VAL;
  for (int j = 0; j < 2; ++j) {
    const Bspline* s = j ? m.s2 : m.s1;
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e) {
        Params q = c;
        q.p[2 * j + d] = e ? Hi(s, d) : Lo(s, d);
        double X[3];
        int pd, pe;
        if (!OnPole(m, j, q.p[2 * j], q.p[2 * j + 1], &pd, &pe)) continue;
        Eval3DPointOnSurfCoord(s, q.p[2 * j], q.p[2 * j + 1], 0, 0, X);
        if (VecDist3(X, S) < *dist) *dist = VecDist3(X, S), *on = q, *k = 2 * j + d;
      }
  }
  return *dist < HUGE_VAL;
}

// A march from a seed beside an apex toward it steps ever shorter (the cone's curvature round its
// axis growing as the apex nears) and, every point within the tolerance of the apex meeting both
// surfaces, crawls round it onto the other branch leaving it: the two came back as one, its corner
// at the apex rounded off (samples 1.85e-6 of the size off the surfaces). A step landing within
// the point tolerance of an apex, from a point that was not, is put on the apex, on the last
// node's meridian, where the march ends as on any edge. P is the point.
void OntoNearApex(const March& m, const Params& prev, Params& cur, double P[3]) {
  Params on;
  int k, dir, before;
  double dist, X[3];
  if (!NearestPole(m, cur, P, &on, &k, &dist) || !(dist <= m.tolB)) return;
  const Bspline* s = SurfaceOf(k, m.s1, m.s2);
  const int j = k & 2;
  if (!OnApexOf(s, on.p[j], on.p[j + 1], &dir) || OnApexOf(s, prev.p[j], prev.p[j + 1], &before)) return;
  on.p[j + 1 - dir] = prev.p[j + 1 - dir];
  if (!PullWithParamHeld(m.s1, m.s2, on.p, k, X, m.tolB)) return;
  cur = on;
  for (int q = 0; q < 3; ++q) P[q] = X[q];
}

// True when the seed c (point S) lies within kPolePassTolBs point tolerances of a pole of either
// surface: the point of the side it lies nearest, collapsed there (OnPole), in its other parameter.
bool SeedBesidePole(const March& m, const Params& c, const double S[3]) {
  Params on;
  int k;
  double dist;
  return NearestPole(m, c, S, &on, &k, &dist) && dist <= kPolePassTolBs * m.tolB;
}

// True when the seed c (point S) lies beside a pole (SeedBesidePole) but farther than the point
// tolerance from it, where no pull puts it on the pole (SeedOntoPoleOnBranch). The surfaces there
// cross at a shallow angle (a small sphere's loop through its pole, sine 0.2-0.3), and a seed the
// refinement leaves up to 2 tolerances off the branch sends the march crawling round the pole on
// ever-halving steps, each landing on the branch too far from its aim to be taken, until it turns
// back: 4-14 degrees of the loop traced, the rest lost. It is pulled across onto the branch
// (TightenBeside) below kNearSingular rather than kPullAcrossSine.
bool SeedLooseBesidePole(const March& m, const Params& c, const double S[3]) {
  Params on;
  int k;
  double dist;
  return NearestPole(m, c, S, &on, &k, &dist) && dist > m.tolB && dist <= kPolePassTolBs * m.tolB;
}

// True when the march's node c (point S) lies within the point tolerance of a pole of either
// surface (NearestPole).
bool NodeNearPole(const March& m, const Params& c, const double S[3]) {
  Params on;
  int k;
  double dist;
  return NearestPole(m, c, S, &on, &k, &dist) && dist <= m.tolB;
}

// A seed refined to within this share of the point tolerance of a pole but not onto it (its
// parameter across the pole's side a few of OnPole's tolerances off, on a small surface far below
// the point tolerance) lies on the pole. Left beside it, the march's steps turn round the pole at
// a rate of one over the distance, each moving the point by round-off, and are clamped onto the
// pole or across the seam there: no march leaves the pole and the loop through it is lost.
constexpr double kOntoPoleTolB = 0.01;

// Puts the seed c (point P) on the pole it lies within kOntoPoleTolB point tolerances of, pulled
// onto both surfaces with the parameter across the pole held on it: true; c as it was where the
// pull does not meet.
bool SeedOntoNearPole(const March& m, Params& c, double P[3]) {
  Params on;
  int k;
  double dist, X[3];
  if (!NearestPole(m, c, P, &on, &k, &dist) || !(dist > 0.0) || dist > kOntoPoleTolB * m.tolB ||
      !PullWithParamHeld(m.s1, m.s2, on.p, k, X, m.tolB))
    return false;
  c = on;
  for (int q = 0; q < 3; ++q) P[q] = X[q];
  return true;
}

// A seed lies on a pole its branch runs through when the refinement left it within a point
// tolerance of the pole and the pole within this share of the point tolerance of the other
// surface's tangent plane at the seed. A plane a point tolerance inside a pole, nearly tangent
// there, meets the sphere in a circle round the pole, which a seed moved onto it would leave.
constexpr double kPoleOnBranchShare = 0.01;

// Moves the seed c (point S on surface 1) onto a pole of either surface that its branch runs
// through (kPoleOnBranchShare): the pole's parameter set, the other surface's parameters moved in
// its tangent plane to the pole's point, S that of the new parameters on surface 1. Beside the
// pole the parameter round it turns over its whole range within round-off of a step: the
// march's predicted way in those parameters is meaningless, both marches crawled into the pole
// on ever-halving steps and the loop through it came back as a trace of one point. On the pole
// the march leaves along a meridian.
bool SeedOntoPoleOnBranch(const March& m, Params& c, double S[3]) {
  for (int k = 0; k < 2; ++k) {
    const Bspline* s = k ? m.s2 : m.s1;
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e) {
        double q[2] = {c.p[2 * k], c.p[2 * k + 1]}, X[3], Q[3], Su[3], Sv[3], n[3], g[3];
        q[d] = e ? Hi(s, d) : Lo(s, d);
        int pd, pe;
        if (!OnPole(m, k, q[0], q[1], &pd, &pe)) continue;
        Eval3DPointOnSurfCoord(s, q[0], q[1], 0, 0, X);
        if (VecDist3(X, S) > m.tolB) continue;
        const int o = 1 - k;
        Bspline* other = o ? m.s2 : m.s1;
        if (!TangentPlane(other, c.p[2 * o], c.p[2 * o + 1], Q, Su, Sv, n)) continue;
        VecDiff3(X, Q, g);
        if (std::fabs(VecDotProd3(g, n)) > kPoleOnBranchShare * m.tolB) continue;
        // One Gauss-Newton step: the pole lies within a point tolerance of Q, where the
        // tangent plane's error is of the tolerance squared over the radius of curvature.
        const double a = VecDotProd3(Su, Su), b = VecDotProd3(Su, Sv), f = VecDotProd3(Sv, Sv);
        const double ru = VecDotProd3(Su, g), rv = VecDotProd3(Sv, g), det = a * f - b * b;
        if (!(det > 0.0)) continue;
        const double du = (f * ru - b * rv) / det, dv = (a * rv - b * ru) / det;
        c.p[2 * k + d] = q[d];
        c.p[2 * o] = std::fmin(Hi(other, 0), std::fmax(Lo(other, 0), c.p[2 * o] + du));
        c.p[2 * o + 1] = std::fmin(Hi(other, 1), std::fmax(Lo(other, 1), c.p[2 * o + 1] + dv));
        Eval3DPointOnSurfCoord(m.s1, c.p[0], c.p[1], 0, 0, S);
        return true;
      }
  }
  return false;
}

// A seed on a pole stays there while the pole lies within this share of the point tolerance of the
// other surface: the curves through it then keep within the tolerance of both surfaces, and a
// seed moved beside it would lie within a fraction of a tolerance of the pole, where the march
// crawls round it. A plane 0.24 tolerances beside a small sphere's pole is traced from the pole;
// one 0.72 tolerances beside it, the branch passing 2.2 tolerances off, detoured to the pole.
constexpr double kSeedOnPoleShare = 0.5;

// A seed handed in on a pole, or refined onto one, that the other surface passes farther than
// kSeedOnPoleShare of the point tolerance from (a plane a point tolerance beside a small sphere's
// pole, the branch a few tolerances round it) is moved beside the pole onto the branch:
// of the sampled meridians' crossings with the other surface, pulled to that share of the
// tolerance, the one nearest the pole. Left on the pole the loop's curves detour to it and back,
// the stretch beside it traced twice. The free refinement does not serve: beside the pole the
// parameter round it swings and the iterates fall back onto the pole. True when moved; c and P
// as they were where no meridian meets the other surface off the pole.
bool SeedOffLoosePole(March& m, Params& c, double P[3]) {
  for (int k = 0; k < 2; ++k) {
    const Bspline* s = k ? m.s2 : m.s1;
    int d, e;
    if (!OnPole(m, k, c.p[2 * k], c.p[2 * k + 1], &d, &e)) continue;
    const int o = 1 - k, round = 2 * k + 1 - d;
    Bspline* other = o ? m.s2 : m.s1;
    double X[3], Q[3], Su[3], Sv[3], n[3], g[3];
    Eval3DPointOnSurfCoord(s, c.p[2 * k], c.p[2 * k + 1], 0, 0, X);
    if (!TangentPlane(other, c.p[2 * o], c.p[2 * o + 1], Q, Su, Sv, n)) return false;
    VecDiff3(X, Q, g);
    if (!m.seedOffPole && !(std::fabs(VecDotProd3(g, n)) > kSeedOnPoleShare * m.tolB)) return false;
    const double lo = Lo(s, 1 - d), range = Range(s, 1 - d);
    double bestDist = HUGE_VAL, bestP[3] = {0.0, 0.0, 0.0};
    Params best = c;
    for (int i = 0; i < kPoleMeridians; ++i) {
      const double w = lo + range * (i + 0.5) / kPoleMeridians;
      double M[3], len;
      if (!Meridian(s, d, e, w, M, &len, nullptr)) continue;
      Params t = c;
      t.p[round] = w;
      t.p[2 * k + d] += (e ? -1.0 : 1.0) * m.tolB / len;
      int pd, pe;
      if (!PullWithParamHeld(m.s1, m.s2, t.p, round, Q, kPoleOnBranchShare * m.tolB) ||
          OnPole(m, 0, t.p[0], t.p[1], &pd, &pe) || OnPole(m, 1, t.p[2], t.p[3], &pd, &pe))
        continue;
      const double dist = VecDist3(Q, X);
      if (dist < bestDist) {
        bestDist = dist;
        best = t;
        for (int q = 0; q < 3; ++q) bestP[q] = Q[q];
      }
    }
    if (!(bestDist < HUGE_VAL)) return false;
    c = best;
    for (int q = 0; q < 3; ++q) P[q] = bestP[q];
    return true;
  }
  return false;
}

// True when the chord from node a to P passes within kPolePassTolBs point tolerances of node n.
bool ChordPasses(const IntersectionTraceNode* a, const double P[3], const IntersectionTraceNode* n, double tolB) {
  const double d[3] = {P[0] - a->x, P[1] - a->y, P[2] - a->z};
  const double x[3] = {n->x - a->x, n->y - a->y, n->z - a->z};
  const double l2 = VecDotProd3(d, d);
  const double f = l2 > 0.0 ? std::fmin(1.0, std::fmax(0.0, VecDotProd3(x, d) / l2)) : 0.0;
  return std::hypot(x[0] - f * d[0], x[1] - f * d[1], x[2] - f * d[2]) <= kPolePassTolBs * tolB;
}

// An open branch through a pole ends there, one trace either side of it, as the marches that
// reach a pole stop on it: a trace whose seed lies on a pole and which did not close is cut in
// two at the seed, the backward nodes making a second trace that starts on the seed's point.
// The second trace goes to the end of the list. 0, or -2 on no memory.
int SplitAtSeed(March& m, IntersectionTrace* tr) {
  IntersectionTrace* back = MallocIntersectionTrace();
  if (!back) return -2;
  const double S[3] = {tr->head->x, tr->head->y, tr->head->z};
  if (!AppendTraceNode(back, S, tr->head->u1, tr->head->v1, tr->head->u2, tr->head->v2)) {
    Free(back);
    return -2;
  }
  IntersectionTraceNode* first = tr->turn->next;
  back->head->next = first;
  first->prev = back->head;
  back->tail = tr->tail;
  back->nodeCount = 1 + tr->nodeCount - tr->directionStart;
  back->turn = back->tail;
  back->open = 1;
  back->directionStart = back->nodeCount;
  tr->turn->next = nullptr;
  tr->tail = tr->turn;
  tr->nodeCount = tr->directionStart;
  back->prev = m.list->tail;
  back->next = nullptr;
  m.list->tail->next = back;
  m.list->tail = back;
  ++m.list->count;
  return 0;
}

bool WrapAcrossSeams(const March& m, Params& c);

// A seed held on a domain's edge through which branches cross (a seam through the crossing of two
// equal cylinders' ellipses) meets the branches on that edge only at the crossing: tightened along
// the edge (TightenNearCrossing) it stops beside it at the solve's round-off (kLeastTightening), a
// point of the disc about the crossing that meets both surfaces within tolB but lies on no branch.
// The march from it ran into the crossing in one step, a stub across the disc; the branches
// through the crossing are traced from their own seeds, and end on it. A seed the search leaves
// where it is is singular itself, on a contact rather than beside a crossing: faces of one plane
// side by side along an edge (the halves of a flat ring) have parallel normals all along it, and
// a difference of second forms of round-off, which may pass for a crossing's.
bool SeedBesideCrossingOnEdge(const March& m, const Params& c) {
  if (!(NormalSine(m, c) < kLeastTightening) || !NearCrossing(m, c)) return false;
  Params x = c;
  double X[3];
  if (!LocateSingularPoint(m, x, X)) return false;
  if (x.p[0] == c.p[0] && x.p[1] == c.p[1] && x.p[2] == c.p[2] && x.p[3] == c.p[3]) return false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if ((c.p[k] == Lo(s, k & 1) || c.p[k] == Hi(s, k & 1)) && std::fabs(x.p[k] - c.p[k]) <= m.tol[k]) return true;
  }
  return false;
}

// True when c, a step's landing stopped on an end of its domain that the node e lies on too
// (across a seam: ArriveAcrossSeam), pulled along that end onto both surfaces to tolB times the
// sine, lands within tolB of e. Where the branch crosses a seam at a shallow angle (a small
// sphere's loop beside its pole, sine 0.24) the points on the seam meeting both surfaces within
// tolB lie along it over more than five tolerances, and a step pulled back onto the seam stops
// anywhere in them, farther from the forward end than its own short length: left open there, the
// loop lost the stretch between, no march continuing from a seam end beside another.
bool MeetsEndAlongSeam(const March& m, const Params& c, const IntersectionTraceNode* e) {
  const int k = HeldOnEnd(m, c);
  if (k < 0) return false;
  Params to = Of(e);
  ArriveAcrossSeam(m, c, to);
  if (to.p[k] != c.p[k]) return false;
  Params t = c;
  double* const p[4] = {&t.p[0], &t.p[1], &t.p[2], &t.p[3]};
  double Q[3];
  const double E[3] = {e->x, e->y, e->z};
  return MeetOnEdge(m.s1, m.s2, p, k, c.p[k], Q, m.tolB * std::fmax(NormalSine(m, c), kLeastTightening)) &&
         VecDist3(Q, E) <= m.tolB;
}

// True when every node of the trace lies within tolB of its first.
bool WentNowhere(const IntersectionTrace* tr, double tolB) {
  for (const IntersectionTraceNode* n = tr->head; n; n = n->next)
    if (std::hypot(n->x - tr->head->x, n->y - tr->head->y, n->z - tr->head->z) > tolB) return false;
  return true;
}

int Trace(March& m, double u1, double v1, double u2, double v2) {
  IntersectionTrace* tr = m.trace;
  Params cur = {{u1, v1, u2, v2}};
  double P[3];
  int flag = 0;
  m.refiningSeed = true;
  Refine(m, cur, P, &flag, nullptr);  // the seed is used as refined, converged or not
  m.refiningSeed = false;
  // A seed a round-off beside a pole is pulled onto it; one within a point tolerance of a pole
  // that the other surface's tangent plane passes through is moved onto it in that plane.
  // One on a pole the other surface passes loosely is moved beside it.
  if (!m.continued && !SeedOffLoosePole(m, cur, P) && !SeedOntoNearPole(m, cur, P)) SeedOntoPoleOnBranch(m, cur, P);
  if (!m.continued && SeedBesideCrossingOnEdge(m, cur)) return -20;
  int poleDir, poleEnd;
  const bool seedOnPole = OnPole(m, 0, cur.p[0], cur.p[1], &poleDir, &poleEnd) ||
                          OnPole(m, 1, cur.p[2], cur.p[3], &poleDir, &poleEnd);
  for (int s = 0; s < 2; ++s) {
    GetBoxesRange(s ? m.us2 : m.us1, s ? m.vs2 : m.vs1, cur.p[2 * s], cur.p[2 * s + 1],
                  s ? m.NU2 : m.NU1, s ? m.NV2 : m.NV1, &m.seedBox[s][0], &m.seedBox[s][1],
                  m.tol[2 * s], m.tol[2 * s + 1]);
    m.box[s][0] = m.seedBox[s][0];
    m.box[s][1] = m.seedBox[s][1];
  }
  m.marks[m.seedBox[0][1] * (m.NU1 - 1) + m.seedBox[0][0]]
         [m.seedBox[1][1] * (m.NU2 - 1) + m.seedBox[1][0]] = 1;
  const Params seed = cur;
  // A loop through a pole seeded beside it comes back crawling round the pole from another side:
  // its parameters round the pole never come back between the seed's and its first node's
  // (Closes), and the march ran on over its first nodes. A step that passes the seed within
  // kPolePassTolBs point tolerances, having gone farther from it (CameBack), closes the loop there.
  const bool seedBesidePole = !m.continued && !seedOnPole && SeedBesidePole(m, cur, P);
  Params ref = seed, second = seed;
  tr->head = tr->tail = tr->turn = nullptr;
  tr->nodeCount = 0;
  if (!Append(m, cur, P)) return -2;
  tr->open = 1;
  tr->directionStart = 1;
  m.leftSeed = false;

  // Forward march.
  double dPrev[2] = {0.0, 0.0};
  bool stop = false;
  for (;;) {
    Params prev = cur;
    for (int s = 0; s < 2; ++s)
      for (int q = 0; q < 2; ++q) m.prevBox[s][q] = m.box[s][q];
    cur = StepFrom(m, prev, ArrivedFrom(m, tr->tail));
    if (StepSize(m.s1, m.s2, &cur.p[0], &cur.p[1], &cur.p[2], &cur.p[3], 1, m.tolA, tr->nodeCount == 1) == 100) {
      if (tr->nodeCount < 2) return -20;
      const Params a = Of(tr->tail), b = Of(tr->tail->prev);
      for (int k = 0; k < 4; ++k) cur.p[k] += a.p[k] - b.p[k];
    }
    const bool fromApex = tr->nodeCount == 1 && OntoLeavingMeridian(m, prev, cur);
    if (tr->nodeCount == 1 && LeavesAtSeed(m, prev, cur)) break;
    const Params predicted = cur;
    if (!RefineStep(m, prev, cur, P, &flag, tr->tail, tr->nodeCount > 1 ? dPrev : nullptr)) {
      Params x;
      double X[3];
      if (SingularWithinStep(m, prev, predicted, x, X) && !Append(m, x, X)) return -2;
      break;
    }
    OntoArrivingMeridian(m, prev, cur);
    OntoNearApex(m, prev, cur, P);
    // A step clamped onto a pole of a closed surface may be given the seam's parameter round it
    // on the far end of its range from the arriving meridian, though within a quarter turn of it
    // across the seam: the branch comes in along prev's meridian (not round the pole,
    // RoundAPole), and the interval to the seam's end swept round the pole in the parameters; the
    // march was taken for turning back there and the stretch into the pole dropped. The node
    // takes prev's parameter round the pole. So does a loop seeded on a pole coming back to it,
    // however far round from prev's the crossing of the pole's side put the landing (the seam's
    // end, near the meridian the loop leaves along, half a turn on): the step still came in
    // along prev's meridian, and taken for turning back it dropped the last stretch of the loop
    // (16 degrees of a small sphere's loop through its pole).
    for (int j = 0; j < 2; ++j) {
      int pd, pe, bd, be;
      const Bspline* s = j ? m.s2 : m.s1;
      if (!OnPole(m, j, cur.p[2 * j], cur.p[2 * j + 1], &pd, &pe) ||
          OnPole(m, j, prev.p[2 * j], prev.p[2 * j + 1], &bd, &be))
        continue;
      const int k = 2 * j + 1 - pd;
      Params across = cur;
      across.p[k] += cur.p[k] > prev.p[k] ? -Range(s, 1 - pd) : Range(s, 1 - pd);
      const bool backToSeed = seedOnPole && !m.continued && RoundAPole(m, prev, cur);
      if ((pd ? s->closedU : s->closedV) && (!RoundAPole(m, prev, across) || backToSeed)) cur.p[k] = prev.p[k];
    }
    stop = flag || CheckIfBndryReached(m.s1, m.s2, &cur.p[0], &cur.p[1], &cur.p[2], &cur.p[3]) || OnDomainEnd(m, cur);
    if (stop && !flag) Eval3DPointOnSurfCoord(m.s1, cur.p[0], cur.p[1], 0, 0, P);
    if (stop && (RunsAlongSeam(m, prev, cur) || TouchesSeamAt(m, prev, cur, P))) stop = false;
    Params x;
    double X[3];
    const int singular = EndsAtSingular(m, prev, cur, P, x, X);
    if (singular) stop = true;
    const double du = cur.p[0] - prev.p[0], dv = cur.p[1] - prev.p[1];
    // The first step from a seed a tolerance or two beside a pole onto it moves surface 1's
    // parameters by no more than their tolerances where surface 1 has no pole there, yet goes
    // farther than the point tolerance: it went somewhere, and ends the march on the pole with a
    // node. Dropped, the stretch from the seed to the pole was left out of the loop (the march
    // back went round it to the pole from the other side).
    int pd, pe;
    const bool ontoPole = tr->nodeCount == 1 &&
                          (OnPole(m, 0, cur.p[0], cur.p[1], &pd, &pe) || OnPole(m, 1, cur.p[2], cur.p[3], &pd, &pe)) &&
                          std::hypot(P[0] - tr->tail->x, P[1] - tr->tail->y, P[2] - tr->tail->z) > m.tolB;
    if (stop && std::fabs(du) < m.tol[0] && std::fabs(dv) < m.tol[1] && !ontoPole) {
      // The seed too: one a round-off short of surface 2's seam beside its pole, where the
      // parameter round the pole turns fast, left the forward end off the seam, and no march
      // from the seam's far side traced the stretch from there to the pole (a tenth of a small
      // sphere's loop).
      ReachEdge(m, cur, P, tr->tail);
      break;
    }
    if (TurnsBack(m, prev, cur, tr->nodeCount > 1 ? dPrev : nullptr)) {
      stop = false;
      break;
    }
    UpdateBoxes(m, prev, cur);
    // A march from a seam's far side that reaches a pole another trace ended on stops there
    // (PassesTracedPole): the boxes that trace marked about the pole hold no stretch of this one.
    const double before[3] = {tr->tail->x, tr->tail->y, tr->tail->z};
    const IntersectionTraceNode* tracedPole = PassesTracedPole(m, before, P);
    const bool ontoTracedPole = tracedPole != nullptr;
    if (!CheckAndMark(m, singular != 0 || ontoTracedPole, stop, prev, cur, P)) {
      // Two branches leave an apex: this way runs onto one traced already, the march back may
      // still take the other.
      if (fromApex) break;
      const int ended = EndsOnContinuedTrace(m, P);
      if (ended == -2) return -2;
      if (ended) break;
      if (LandsOnTracedEndFromAfar(m, P)) {
        if (!Append(m, cur, P)) return -2;
        break;
      }
      FreeTraceNodes(tr);
      return -20;
    }
    if (!singular) {
      const int joined = EndsOnTracedEnd(m, P);
      if (joined == -2) return -2;
      if (joined) break;
    }
    const bool poleAhead = tracedPole && OntoTracedPole(m, prev, before, tracedPole, cur, P);
    if (tr->nodeCount == 1) {
      second = cur;
    } else if (ChkCrvTouchAnotherCrv(m.s1, m.s2, m.list, &cur.p[0], &cur.p[1])) {
      stop = true;
    } else if (tr->nodeCount > 4 &&
               ((BesideChord(tr->head, tr->head->next, P) && Closes(cur, second, ref) &&
                 ArrivesAlongFirstChord(m, tr, prev, P)) ||
                (seedBesidePole && ChordPasses(tr->tail, P, tr->head, m.tolB)) ||
                StepsOverFirstChord(tr, prev, cur, P) || ReachesShortFirstChord(m, tr, cur, P) ||
                LandsBesideSeed(m, tr, cur, P)) &&
               CameBack(tr, P)) {
      const double H[3] = {tr->head->x, tr->head->y, tr->head->z};
      Params closing = seed;
      ArriveAcrossSeam(m, Of(tr->tail), closing);
      if (!Append(m, closing, H)) return -2;
      tr->open = 0;
      tr->directionStart = 0;
      m.list->tail = tr;
      return 0;
    }
    if (SameParams(m, cur, Of(tr->tail))) break;  // a step that went nowhere (the seed on an edge)
    if (!AppendPoleBetween(m, prev, before, cur, P) || !Append(m, cur, P)) return -2;
    if (poleAhead && !AppendTracedPole(m, tracedPole, cur)) return -2;
    if (ontoTracedPole) stop = true;
    if (singular == 2 && !AppendSingularEnd(m, cur, x, X)) return -2;
    LastDirection(m, prev, cur, P, dPrev);
    if (Circling(tr, m.tolB)) stop = true;
    // A loop seeded beside a pole comes back toward the seed in steps far longer than those of its
    // crawl round the pole, whose nodes then lie within half the last step of the tail (Relooped)
    // one step before the march passes the seed and closes the loop there: it has come round its
    // own loop, not another branch's. So does a loop seeded beside a crease of a faceted surface,
    // whose first step only hopped onto the crease: coming round, the march lands within half its
    // last step of the seed and of that first node, one step short of them. Stopped there, the
    // march back from the seed passed the forward end's last two nodes in its first step and went
    // round the loop a second time.
    if (Relooped(m, tr) &&
        !((seedBesidePole || (!m.continued && OnCrease(m, Of(tr->head->next)))) && ComesBackToSeed(tr)))
      stop = true;
    if (tr->nodeCount - tr->directionStart > kMaxNodesPerDirection) stop = true;
    if (stop) break;
  }

  // A seed kept on a pole whose forward march went nowhere (its steps landing on the pole again,
  // across the seam, the other surface passing the pole within a fraction of the tolerance) would
  // leave the march back to turn back at once and the loop untraced: the seed is moved beside the
  // pole onto the branch and the trace starts again from there.
  if (seedOnPole && !m.continued && !m.seedOffPole && WentNowhere(tr, m.tolB)) {
    FreeTraceNodes(tr);
    m.seedOffPole = true;
    return Trace(m, u1, v1, u2, v2);
  }

  // A loop seeded on a pole comes back to it at another parameter of the pole, where the march
  // stops as on any pole: the seed's point is reached and the loop is closed there. Marching
  // back from the seed would go round the loop a second time the other way.
  if (seedOnPole && !m.continued && tr->nodeCount > 4 && NodeOnPole(m, tr->tail) &&
      std::hypot(tr->tail->x - tr->head->x, tr->tail->y - tr->head->y, tr->tail->z - tr->head->z) <= m.tolB) {
    Params closing = seed;
    ArriveAcrossSeam(m, Of(tr->tail->prev), closing);
    IntersectionTraceNode* e = tr->tail;
    e->u1 = closing.p[0], e->v1 = closing.p[1], e->u2 = closing.p[2], e->v2 = closing.p[3];
    e->x = tr->head->x, e->y = tr->head->y, e->z = tr->head->z;
    tr->open = 0;
    tr->directionStart = 0;
    m.list->tail = tr;
    return 0;
  }

  // Turn.
  tr->turn = tr->tail;
  cur = seed;
  tr->directionStart = tr->nodeCount;
  // The way back is the branch's at the seed, away from the first forward node: a long first
  // step over a branch that turns in surface 1's parameters (a stretch from the seed to a seam
  // in one step) leaves its chord at more than a right angle from the backward step, and the
  // branch beyond the seed would be refused.
  if (tr->nodeCount > 1) {
    const double S[3] = {tr->head->x, tr->head->y, tr->head->z};
    LastDirection(m, Of(tr->head->next), seed, S, dPrev);
  }
  ref = Of(tr->turn);
  bool haveSecond = tr->turn->prev != nullptr;
  if (haveSecond) second = Of(tr->turn->prev);
  for (int s = 0; s < 2; ++s)
    for (int q = 0; q < 2; ++q) m.box[s][q] = m.seedBox[s][q];

  // Backward march.
  stop = false;
  while (!stop) {
    Params prev = cur;
    for (int s = 0; s < 2; ++s)
      for (int q = 0; q < 2; ++q) m.prevBox[s][q] = m.box[s][q];
    if (tr->nodeCount > tr->directionStart) cur = StepFrom(m, prev, ArrivedFrom(m, tr->tail));
    if (StepSize(m.s1, m.s2, &cur.p[0], &cur.p[1], &cur.p[2], &cur.p[3], -1, m.tolA,
                 tr->nodeCount == tr->directionStart) == 100) {
      double step[4];
      if (!BackwardStep(m, step)) break;
      for (int k = 0; k < 4; ++k) cur.p[k] += step[k];
    }
    // The other branch from an apex keeps no way of the first.
    const bool fromApex = tr->nodeCount == tr->directionStart && OntoLeavingMeridian(m, prev, cur);
    if (tr->nodeCount == tr->directionStart && LeavesAtSeed(m, prev, cur)) break;
    const IntersectionTraceNode* from = tr->nodeCount > tr->directionStart ? tr->tail : tr->head;
    const Params predicted = cur;
    // The first step back from a seed on a pole of surface 1 has no way in its parameters to
    // keep: every meridian leaves the pole with like rates, the branch's other way too (a loop
    // through the pole seeded on it). Its way is kept in space instead, the step taken (halved
    // or not): away from the first forward node. A forward march of a single step (onto a seam beside the pole) keeps the
    // test: the march back would go round the loop and close onto that end, while the stretch
    // from the seam to the pole is continued from the seam's far side too.
    int pd1 = 0, pe1 = 0;
    const bool offPole = tr->nodeCount == tr->directionStart && tr->directionStart > 2 &&
                         OnPole(m, 0, prev.p[0], prev.p[1], &pd1, &pe1);
    const bool way = tr->nodeCount > 1 && !offPole && !fromApex;
    if (!RefineStep(m, prev, cur, P, &flag, from, way ? dPrev : nullptr)) {
      Params x;
      double X[3];
      if (SingularWithinStep(m, prev, predicted, x, X) && !Append(m, x, X)) return -2;
      break;
    }
    OntoArrivingMeridian(m, prev, cur);
    OntoNearApex(m, prev, cur, P);
    if (flag || CheckIfBndryReached(m.s1, m.s2, &cur.p[0], &cur.p[1], &cur.p[2], &cur.p[3]) || OnDomainEnd(m, cur)) {
      Eval3DPointOnSurfCoord(m.s1, cur.p[0], cur.p[1], 0, 0, P);
      stop = !RunsAlongSeam(m, prev, cur) && !TouchesSeamAt(m, prev, cur, P);
    }
    Params x;
    double X[3];
    const int singular = EndsAtSingular(m, prev, cur, P, x, X);
    if (singular) stop = true;
    if (TurnsBack(m, prev, cur, way ? dPrev : nullptr)) break;
    if (StepAlongContinued(m, from, P)) {
      if (EndsOnContinuedTrace(m, P) == -2) return -2;
      break;
    }
    UpdateBoxes(m, prev, cur);
    if (m.n[0] >= 5 || m.n[1] >= 5) {
      // A step across five or more box lines may have jumped past a branch: take half of it. A
      // step off a pole keeps the landing's parameter round the pole: prev's there is any, and the
      // mean of the two is another meridian, from whose middle the refinement runs back into the
      // pole (a plane through both poles of a small sphere kept one of its two meridians).
      const Params landing = cur;
      bool offPoleHalf = false;
      for (int k = 0; k < 4; ++k) cur.p[k] = 0.5 * (prev.p[k] + cur.p[k]);
      for (int j = 0; j < 2; ++j) {
        int pd, pe;
        if (!OnPole(m, j, prev.p[2 * j], prev.p[2 * j + 1], &pd, &pe)) continue;
        cur.p[2 * j + 1 - pd] = landing.p[2 * j + 1 - pd];
        offPoleHalf = true;
      }
      flag = 0;
      // Where the half does not refine onto both surfaces (along a contact, whose tangent planes
      // meet in no line, the mean of two landings may lie off it) the march ends before it: the
      // point kept would be off surface 2.
      if (Refine(m, cur, P, &flag, from) != 0) break;
      // A landing stopped on a seam gives the half the seam's parameter round the pole, a
      // meridian within the tolerance of the branch's that near the pole: the half, flagged on
      // the seam, is tightened off it and has reached no edge; the march goes on to the seam.
      if (offPoleHalf && !OnDomainEnd(m, cur)) flag = 0;
      if (!flag) stop = CheckIfBndryReached(m.s1, m.s2, &cur.p[0], &cur.p[1], &cur.p[2], &cur.p[3]);
      if (flag || stop) Eval3DPointOnSurfCoord(m.s1, cur.p[0], cur.p[1], 0, 0, P);
      if (stop && RunsAlongSeam(m, prev, cur)) stop = false;
      UpdateBoxes(m, prev, cur);
    }
    if (offPole) {
      const IntersectionTraceNode* f = tr->head->next;
      const double S[3] = {from->x, from->y, from->z}, F[3] = {f->x, f->y, f->z};
      double back[3], ahead[3];
      VecDiff3(P, S, back);
      VecDiff3(F, S, ahead);
      if (VecDotProd3(back, ahead) >= 0.0) break;
    }
    // As in the forward march: the stretch from a seam's far side into a pole another trace
    // ended on was refused for the marks about the pole, and left out of the loop (a quarter of a
    // circle through a sphere's pole).
    const double before[3] = {from->x, from->y, from->z};
    const IntersectionTraceNode* tracedPole = PassesTracedPole(m, before, P);
    const bool ontoTracedPole = tracedPole != nullptr;
    if (!CheckAndMark(m, singular != 0 || ontoTracedPole, stop, prev, cur, P)) {
      const int ended = EndsOnContinuedTrace(m, P);
      if (ended == -2) return -2;
      if (ended) break;
      if (LandsOnTracedEndFromAfar(m, P)) {
        if (!Append(m, cur, P)) return -2;
        break;
      }
      FreeTraceNodes(tr);
      return -20;
    }
    if (!singular) {
      const int joined = EndsOnTracedEnd(m, P);
      if (joined == -2) return -2;
      if (joined) break;
    }
    const bool poleAhead = tracedPole && OntoTracedPole(m, prev, before, tracedPole, cur, P);
    if (ChkCrvTouchAnotherCrv(m.s1, m.s2, m.list, &cur.p[0], &cur.p[1])) stop = true;
    if (!haveSecond) {
      second = cur;
      haveSecond = true;
    }
    if (tr->nodeCount - tr->directionStart > 4 || tr->directionStart >= 5) {
      const double dt = std::sqrt((P[0] - tr->turn->x) * (P[0] - tr->turn->x) +
                                  (P[1] - tr->turn->y) * (P[1] - tr->turn->y) +
                                  (P[2] - tr->turn->z) * (P[2] - tr->turn->z));
      // The forward end is reached within 10000 point tolerances, or within this step's chord
      // on a loop smaller than that (one of two landings either side of it lies so near). Not
      // across a seam: the march goes on to it (the stretch beyond is another trace's), rather
      // than closing with a chord across the whole parameter range; nor from a seam the march
      // leaves across onto another point of it (LeavesBesideOnSeam).
      const IntersectionTraceNode* last = tr->nodeCount > tr->directionStart ? tr->tail : tr->head;
      const double chord = std::sqrt((P[0] - last->x) * (P[0] - last->x) + (P[1] - last->y) * (P[1] - last->y) +
                                     (P[2] - last->z) * (P[2] - last->z));
      // Coming back between the forward end's last two nodes in one surface's parameters counts
      // only near the chord between them in space (a quarter of its length): a branch whose two
      // ends lie close together passes beside its forward end in a surface's parameters without
      // closing there.
      const IntersectionTraceNode* t2 = tr->turn->prev;
      const bool nearLast = !t2 || BesideChord(t2, tr->turn, P);
      // A step landing on a pole beside a forward end on a seam (not on the pole) stops there as
      // on any pole: closed onto that end, the last interval would run across the pole, its
      // parameter round the pole jumping; the stretch between is continued from the seam.
      int pd, pe;
      Params across = Of(tr->turn);
      const bool besidePole =
          dt > m.tolB && WrapAcrossSeams(m, across) &&
          (OnPole(m, 0, cur.p[0], cur.p[1], &pd, &pe) || OnPole(m, 1, cur.p[2], cur.p[3], &pd, &pe));
      // Nor across a pole another trace has ended on, nearer both the step's end and the forward
      // end than they lie apart: the loop runs through it between them, and closed there its last
      // interval would cut across the pole; the march goes on to the pole.
      bool acrossPole = false;
      if (dt > m.tolB)
        for (const IntersectionTrace* o = m.list->head; o && !acrossPole; o = o->next) {
          if (o == tr) continue;
          for (const IntersectionTraceNode* n = o->head; n && !acrossPole; n = n->next) {
            const double X[3] = {n->x, n->y, n->z}, T[3] = {tr->turn->x, tr->turn->y, tr->turn->z};
            acrossPole = VecDist3(X, P) < dt && VecDist3(X, T) < dt && VecDist3(X, T) > m.tolB &&
                         NodeOnPole(m, n);
          }
        }
      // Nor onto a forward end on a pole from farther than kPoleCloseTolBs: the end's parameter
      // round the pole is the forward march's and tells nothing of the meridian the branch comes
      // in along, which may lie across a seam the branch crosses first (SeamBetween cannot see
      // it); closed there, the last interval cut round the pole. The march goes on to the pole,
      // or to the seam, from whose far side the stretch is continued.
      const bool ontoPole = dt > kPoleCloseTolBs * m.tolB && NodeOnPole(m, tr->turn);
      // Nor with an interval round a pole whose way round it cannot tell (ClosesRoundAPole).
      const bool roundPole = ClosesRoundAPole(m, Of(last), P);
      // A step stopped on the seam the forward end lies on reaches that end however short the
      // step, where its pull along the seam meets it (MeetsEndAlongSeam).
      const bool endAlongSeam = stop && dt > m.tolB && MeetsEndAlongSeam(m, cur, tr->turn);
      // A step off a crease landing short of the forward end, the end still ahead along it, has
      // not reached that end, however near it lies or between whichever of the end's nodes it
      // falls in a surface's parameters: the branch between is the rest of the loop over the face
      // beyond the crease (a lens through a net's vertex, thinner than a step), and a closing
      // there cut it with a chord from the crease, the lens coming back out and back over the
      // face before it. The march goes on; its next step lands on the end or past it.
      double ahead[3], along[3];
      const double L[3] = {last->x, last->y, last->z}, T[3] = {tr->turn->x, tr->turn->y, tr->turn->z};
      // Where the forward march went nowhere its end is the seed, and the interval Closes asks
      // about is the march back's own first one: a loop leaving a seam it nearly touches and coming
      // back to it within a few steps (a sliver beyond the seam beside a pole) lies all within that
      // interval's disc in the parameters and runs on along its chord's way, and was closed onto the
      // seed while still going away from it. The seed is reached only coming back toward it.
      const bool backToSeed = tr->turn != tr->head || CameBack(tr, P);
      const bool reached = backToSeed && ((nearLast && Closes(cur, second, ref) &&
                                           (t2 || ArrivesAlongFirstChord(m, tr, prev, P))) ||
                                          dt < std::fmin(10000.0 * m.tolB, chord));
      const bool shortOfEnd = reached && dt > m.tolB &&
                              VecDotProd3(VecDiff3(T, P, ahead), VecDiff3(P, L, along)) > 0.0 && OnCrease(m, Of(last));
      if (((reached && !shortOfEnd) || endAlongSeam) &&
          !SeamBetween(m, cur, tr->turn) && !JumpsAcrossDomain(m, cur, Of(tr->turn)) &&
          !LeavesBesideOnSeam(m, prev, cur, P, tr->turn) && !besidePole && !acrossPole && !ontoPole && !roundPole) {
        // A closing step that passed over a dip across a seam ends where the branch leaves
        // (EndAtDipBeyondEnd): the loop is open there, the dip beyond the seam another trace's.
        // Landing short of the forward end (within this step's chord of it, on a small loop), the
        // interval closed is the one from prev to that end, and the dip may lie beyond the landing.
        bool dip = EndAtDipBeyondEnd(m, prev, cur, P, true);
        if (!dip && dt > m.tolB) {
          Params to = Of(tr->turn);
          ArriveAcrossSeam(m, Of(last), to);
          double T[3] = {tr->turn->x, tr->turn->y, tr->turn->z};
          if (EndAtDipBeyondEnd(m, prev, to, T, true)) {
            cur = to;
            for (int q = 0; q < 3; ++q) P[q] = T[q];
            dip = true;
          }
        }
        if (!dip) {
          if (!seedOnPole || m.continued || tr->directionStart < 2) return CloseBackward(m);
          // A loop seeded on a pole and closed by the march back meets its forward end beside
          // the pole (on a seam the forward march stopped at): closed there, it would run
          // through the pole between two nodes, where its parameter round the pole jumps by
          // half the range. It is cut at the seed instead (SplitAtSeed), both parts ending on
          // the pole.
          if (CloseBackward(m) == -2) return -2;
          tr->open = 1;
          return SplitAtSeed(m, tr);
        }
        stop = true;
      }
    }
    // A step that went nowhere (the seed on an edge) adds no node.
    if (SameParams(m, cur, Of(tr->nodeCount > tr->directionStart ? tr->tail : tr->head))) break;
    if (ontoTracedPole) stop = true;
    if (!AppendPoleBetween(m, prev, before, cur, P) || !Append(m, cur, P)) return -2;
    if (poleAhead && !AppendTracedPole(m, tracedPole, cur)) return -2;
    if (singular == 2 && !AppendSingularEnd(m, cur, x, X)) return -2;
    LastDirection(m, prev, cur, P, dPrev);
    if (Circling(tr, m.tolB)) stop = true;
    if (Relooped(m, tr)) stop = true;
    if (tr->nodeCount - tr->directionStart > kMaxNodesPerDirection) stop = true;
  }
  m.list->tail = tr;
  if (seedOnPole && !m.continued && tr->directionStart >= 2 && tr->nodeCount > tr->directionStart)
    return SplitAtSeed(m, tr);
  return 0;
}

}  // namespace

namespace {

// NewIntersectTrace; from the far side of a seam at the end seamEnd of the trace `continued`
// (null: from a seed), whose other end is otherEnd.
int TraceFrom(Bspline* s1, Bspline* s2, double u1, double v1, double u2, double v2, const double* us1,
              const double* vs1, const double* us2, const double* vs2, int** marks, IntersectionTraceList* list,
              double tolA, double tolB, const IntersectionTrace* continued, const IntersectionTraceNode* seamEnd,
              const IntersectionTraceNode* otherEnd) {
  March m = {};
  m.continued = continued;
  m.seamEnd = seamEnd;
  m.otherEnd = otherEnd;
  m.s1 = s1;
  m.s2 = s2;
  m.us1 = us1;
  m.vs1 = vs1;
  m.us2 = us2;
  m.vs2 = vs2;
  m.NU1 = BoxArrayCount(s1, 0);
  m.NV1 = BoxArrayCount(s1, 1);
  m.NU2 = BoxArrayCount(s2, 0);
  m.NV2 = BoxArrayCount(s2, 1);
  for (int k = 0; k < 4; ++k) m.tol[k] = kParamTol * Range(SurfaceOf(k, s1, s2), k & 1);
  m.marks = marks;
  m.list = list;
  m.trace = list->tail;
  m.tolA = tolA;
  m.tolB = tolB;
  // The work arrays are freed here on every path; the nodes belong to the trace.
  Owned<int, Free> dirs1(MallocArray<int>(m.NU1 * m.NV1)), idx1(MallocArray<int>(m.NU1 * m.NV1));
  Owned<int, Free> dirs2(MallocArray<int>(m.NU2 * m.NV2)), idx2(MallocArray<int>(m.NU2 * m.NV2));
  Owned<double, Free> frac1(MallocArray<double>(m.NU1 * m.NV1));
  Owned<double, Free> frac2(MallocArray<double>(m.NU2 * m.NV2));
  if (!dirs1 || !idx1 || !dirs2 || !idx2 || !frac1 || !frac2) return -2;
  m.dirs[0] = dirs1.get();
  m.dirs[1] = dirs2.get();
  m.idx[0] = idx1.get();
  m.idx[1] = idx2.get();
  m.frac[0] = frac1.get();
  m.frac[1] = frac2.get();
  return Trace(m, u1, v1, u2, v2);
}

}  // namespace

int NewIntersectTrace(Bspline* s1, Bspline* s2, double u1, double v1, double u2, double v2,
                      const double* us1, const double* vs1, const double* us2, const double* vs2,
                      int** marks, IntersectionTraceList* list, double tolA, double tolB) {
  return TraceFrom(s1, s2, u1, v1, u2, v2, us1, vs1, us2, vs2, marks, list, tolA, tolB, nullptr, nullptr, nullptr);
}

// ---- Tangential contact ----------------------------------------------------------------------
// Where two surfaces touch along a curve, their normals are parallel all along it: the tangent
// planes do not meet in a line, the march's steps land anywhere within the square root of the
// point tolerance of the contact, and its singular-point test ends it every few steps. The
// contact is followed instead as a curve of singular points (the equations of
// LocateSingularPoint): each step is predicted along the curve's tangent (from the last chords)
// and put onto the contact with the point held to the plane across the step, or, where the
// step leaves a domain, with the parameter held on the edge it crosses.

namespace {

// A step is kept when it lands ahead of the last node, no farther than this many predicted
// lengths from it.
constexpr double kContactReach = 2.0;
// A step whose move across a seam or an edge is below this share of its length runs along it (a
// glance of 3 degrees at most).
constexpr double kAlongSeam = 0.05;

double Distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// The step length after nodes A, B, C (C the last; A null: none): the chord height's rule on
// the circle through them, at most kMaxStepTurn of turning; a quarter of the rule on a unit
// radius without three nodes.
double ContactStep(const double* A, const double B[3], const double C[3], double tolA) {
  const double first = 0.5 * std::sqrt(2.0 * tolA);
  if (!A) return first;
  const double a = Distance(B, C), b = Distance(A, C), c = Distance(A, B);
  double ab[3], ac[3], x[3];
  VecDiff3(B, A, ab);
  VecDiff3(C, A, ac);
  const double area2 = VecSize3(VecCrossProd3(ab, ac, x));
  if (!(area2 > 0.0)) return 4.0 * first;
  const double R = a * b * c / (2.0 * area2);
  const double sag = R > tolA ? 2.0 * std::sqrt(2.0 * R * tolA - tolA * tolA) : 2.0 * R;
  return std::fmin(sag, kMaxStepTurn * R);
}

// True when a step from a to b went round a pole of a surface: the parameter turning round the
// pole (the one along its collapsed side) moved by more than kRoundPole of its range. Landed on
// the far side of the pole, the step would join two meridians in one interval, and the curves
// through such nodes sweep round the pole in the parameter plane.
constexpr double kRoundPole = 0.25;
bool RoundAPole(const March& m, const Params& a, const Params& b) { return PoleTurnShare(m, a, b) > kRoundPole; }

// A step held on a collapsed side (a cone's apex that a contact along a generator runs into): the
// side is one point whatever the parameter round it, and the normals there are only limits along
// each meridian, so the singular point's equations fix that parameter only to second order (the
// gap of a meridian turned by d from the contact grows as d squared) while the sine of the normals
// is first order in d: a prediction off the contact's meridian by round-off of its steps was never
// located, and the march halved its steps toward the apex and stopped short of it. The contact
// comes in along the last node's meridian: the surfaces are met on the side with that parameter
// kept. True with cur and P set there.
bool OntoCollapsedEdge(const March& m, const Params& from, const ContactHold& hold, Params& cur, double P[3]) {
  if (hold.kind != 2) return false;
  const int k = hold.k, s = k / 2;
  int dir;
  Params c = cur;
  c.p[k] = hold.value;
  // Only an apex: a contact through a smooth pole (a sphere's) goes on beyond it, located there.
  if (!OnApexOf(SurfaceOf(k, m.s1, m.s2), c.p[2 * s], c.p[2 * s + 1], &dir) || dir != (k & 1)) return false;
  c.p[2 * s + 1 - dir] = from.p[2 * s + 1 - dir];
  double* const p[4] = {&c.p[0], &c.p[1], &c.p[2], &c.p[3]};
  if (!MeetOnEdge(m.s1, m.s2, p, k, hold.value, P, m.tolB)) return false;
  cur = c;
  return true;
}

// Marches one way along the contact from the trace's tail (node before it: prev, null for
// none) first along t (unit), appending nodes. 1 when it ended on the domain's edge, 2 when it
// came back to the trace's head (closing node appended), 0 when it could go no further, -2 on
// no memory.
int MarchContact(March& m, double t[3]) {
  IntersectionTrace* tr = m.trace;
  const int start = tr->nodeCount;
  double travelled = 0.0;
  for (int n = 0; n < kMaxNodesPerDirection; ++n) {
    const IntersectionTraceNode* last = tr->tail;
    // The nodes before the tail in this direction (the seed's copy starts the backward one).
    const IntersectionTraceNode* before = tr->nodeCount > start ? last->prev : nullptr;
    const IntersectionTraceNode* b2 = tr->nodeCount > start + 1 ? before->prev : nullptr;
    const double L[3] = {last->x, last->y, last->z};
    double Ap[3], Bp[3];
    const double* A = nullptr;
    if (before) Bp[0] = before->x, Bp[1] = before->y, Bp[2] = before->z;
    if (b2) {
      Ap[0] = b2->x, Ap[1] = b2->y, Ap[2] = b2->z;
      A = Ap;
    }
    double h = before ? ContactStep(A, Bp, L, m.tolA) : ContactStep(nullptr, L, L, m.tolA);
    const Params from = Of(last);
    bool landed = false;
    Params cur;
    double P[3];
    bool onEdge = false, alongSeam = false;
    for (int half = 0; half < 12 && !landed; ++half, h *= 0.5) {
      double X[3], d[3], S1u[3], S1v[3], n1[3], S2u[3], S2v[3], n2[3], Q[3], dp[4];
      for (int q = 0; q < 3; ++q) X[q] = L[q] + h * t[q], d[q] = h * t[q];
      if (!TangentPlane(m.s1, from.p[0], from.p[1], Q, S1u, S1v, n1) ||
          !TangentPlane(m.s2, from.p[2], from.p[3], Q, S2u, S2v, n2))
        return 0;
      // The parameters move by the step's part in each tangent plane: t follows the chords, which
      // bow off the plane toward the normal where the contact curves, and ResolveInTangentPlane
      // drops a coordinate rather than that part. Kept, the part read as a move across a seam the
      // contact runs along (a sphere's or torus's equator), and the march stopped on the seam
      // after every step.
      double d1[3], d2[3];
      const double off1 = VecDotProd3(d, n1), off2 = VecDotProd3(d, n2);
      for (int q = 0; q < 3; ++q) d1[q] = d[q] - off1 * n1[q], d2[q] = d[q] - off2 * n2[q];
      if (!ResolveInTangentPlane(d1, S1u, S1v, &dp[0], &dp[1]) || !ResolveInTangentPlane(d2, S2u, S2v, &dp[2], &dp[3]))
        return 0;
      // The step stops on the first domain edge it crosses, except a closed surface's seam or an
      // edge that it runs along from a point on it: it stays on the seam's side, or on the edge,
      // there. Faces tangent along the edge they share touch along it, and round-off turns the
      // steps along it a hair outward.
      double f = 1.0;
      ContactHold hold;
      hold.kind = 1;
      for (int q = 0; q < 3; ++q) hold.X[q] = X[q], hold.t[q] = t[q];
      bool held[4] = {false, false, false, false};
      const double* partial[4] = {S1u, S1v, S2u, S2v};
      for (int k = 0; k < 4; ++k) {
        const Bspline* sk = SurfaceOf(k, m.s1, m.s2);
        const double lo = Lo(sk, k & 1), hi = Hi(sk, k & 1), to = from.p[k] + dp[k];
        const double bound = to > hi ? hi : to < lo ? lo : to;
        if (bound == to || !(std::fabs(dp[k]) > 0.0)) continue;
        if (std::fabs(from.p[k] - bound) <= m.tol[k] && VecSize3(partial[k]) * std::fabs(dp[k]) <= kAlongSeam * h) {
          held[k] = true;
          if (k & 1 ? sk->closedV : sk->closedU) alongSeam = true;
          continue;
        }
        const double g = (bound - from.p[k]) / dp[k];
        if (g < f) {
          f = std::fmax(0.0, g);
          hold.kind = 2;
          hold.k = k;
          hold.value = bound;
        }
      }
      if (hold.kind == 2 && std::fabs(from.p[hold.k] - hold.value) <= m.tol[hold.k]) return 1;  // on the edge already
      for (int k = 0; k < 4; ++k) cur.p[k] = held[k] ? from.p[k] : from.p[k] + f * dp[k];
      if (!LocateSingularPoint(m, cur, P, &hold) && !OntoCollapsedEdge(m, from, hold, cur, P)) continue;
      double c[3];
      VecDiff3(P, L, c);
      const double len = VecSize3(c);
      if (!(VecDotProd3(c, t) > 0.0) || len > kContactReach * h || RoundAPole(m, from, cur)) continue;
      landed = true;
      onEdge = hold.kind == 2;
    }
    // A contact that leaves a seam it ran along goes on from the seam's far side.
    if (!landed) return alongSeam ? 1 : 0;
    const double H[3] = {tr->head->x, tr->head->y, tr->head->z};
    const double step = Distance(P, L);
    travelled += step;
    // Back at the head after going round: the closing node is the head. A step held on a
    // domain's edge ends the march there instead, however near the head: across a seam the
    // parameters do not run on to the head's. Nor does a step that stops short of a seam with
    // the head beyond it (seams close together) close: the march goes on to the seam.
    if (!onEdge && travelled > 3.0 * step && Distance(P, H) < 0.75 * step && tr->nodeCount > 2) {
      Params closing = Of(tr->head);
      ArriveAcrossSeam(m, Of(tr->tail), closing);
      if (!AcrossSeam(m, cur, closing)) {
        if (!Append(m, closing, H)) return -2;
        return 2;
      }
    }
    if (!Append(m, cur, P)) return -2;
    // The tangent at the new node: the last chord turned on by half the turn between the chords.
    double u[3];
    for (int q = 0; q < 3; ++q) u[q] = (P[q] - L[q]) / step;
    if (before) {
      double w[3];
      const double lb = Distance(L, Bp);
      for (int q = 0; q < 3; ++q) w[q] = lb > 0.0 ? (L[q] - Bp[q]) / lb : u[q];
      for (int q = 0; q < 3; ++q) t[q] = 1.5 * u[q] - 0.5 * w[q];
    } else {
      for (int q = 0; q < 3; ++q) t[q] = u[q];
    }
    const double lt = VecSize3(t);
    for (int q = 0; q < 3; ++q) t[q] /= lt;
    if (onEdge) return 1;
  }
  return 0;
}

// Pieces of one contact between seams at most: a contact crosses each seam of the two surfaces
// once or twice.
constexpr int kMaxContactPieces = 8;

// The parameters (bit k for parameter k) of c at an end of a direction its surface is closed in.
int SeamsAt(const March& m, const Params& c) {
  int seams = 0;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    if (std::fabs(c.p[k] - lo) <= m.tol[k] || std::fabs(hi - c.p[k]) <= m.tol[k]) seams |= 1 << k;
  }
  return seams;
}

// Moves the parameters of c named in wrap (bits as SeamsAt's) to the other end of their range.
void WrapSeams(const March& m, int wrap, Params& c) {
  for (int k = 0; k < 4; ++k) {
    if (!(wrap >> k & 1)) continue;
    const Bspline* s = SurfaceOf(k, m.s1, m.s2);
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    c.p[k] = std::fabs(c.p[k] - lo) <= m.tol[k] ? hi : lo;
  }
}

// Moves every parameter of c at an end of a direction its surface is closed in to the other
// end: the same point, seen from the far side of the seam. False when none is at a seam.
bool WrapAcrossSeams(const March& m, Params& c) {
  const int seams = SeamsAt(m, c);
  WrapSeams(m, seams, c);
  return seams != 0;
}

void AppendTrace(IntersectionTraceList* list, IntersectionTrace* t) {
  t->prev = list->tail;
  t->next = nullptr;
  if (list->tail) list->tail->next = t;
  else list->head = t;
  list->tail = t;
  ++list->count;
}

// Goes on along a contact from the far side of the seams at *end, way (unit, updated) the
// march's there, in pieces from seam to seam (while the last march ended on one: rc 1), until a
// piece ends off every seam or within 100 point tolerances of G (two locations of one point on
// the contact). *end becomes the last end reached. 1; 0 when a piece went nowhere; -2 on no
// memory.
int ContinueContact(March& m, const IntersectionTraceNode** end, double way[3], const double G[3], int rc) {
  for (int piece = 0; piece < kMaxContactPieces && rc == 1; ++piece) {
    Params w = Of(*end);
    const double E[3] = {(*end)->x, (*end)->y, (*end)->z};
    if (!WrapAcrossSeams(m, w) || Distance(E, G) <= 100.0 * m.tolB) break;
    IntersectionTrace* next = MallocIntersectionTrace();
    if (!next) return -2;
    m.trace = next;
    next->open = 1;
    next->directionStart = 1;
    rc = Append(m, w, E) ? MarchContact(m, way) : -2;
    if (rc == -2 || next->nodeCount < 2) {
      FreeTraceNodes(next);
      Free(next);
      return rc == -2 ? -2 : 0;
    }
    next->directionStart = next->nodeCount;
    next->turn = next->tail;
    AppendTrace(m.list, next);
    *end = next->tail;
  }
  return 1;
}

// True when the probe from c by sign dp leaves surface 1's domain across an edge (not a seam)
// less than half its move from c: clamped, it would land nearer c than beyond it. A contact is
// located anywhere across the band where the surfaces stay within the point tolerance, so c
// lies on an edge the contact runs along only to within that band.
bool OffEdgeOfSurface1(const March& m, const Params& c, double sign, const double dp[4]) {
  for (int k = 0; k < 2; ++k) {
    if (k ? m.s1->closedV : m.s1->closedU) continue;
    const double lo = Lo(m.s1, k), hi = Hi(m.s1, k), to = c.p[k] + sign * dp[k], half = 0.5 * std::fabs(dp[k]);
    if ((to < lo && c.p[k] - lo <= half) || (to > hi && hi - c.p[k] <= half)) return true;
  }
  return false;
}

}  // namespace

int TraceTangentialContact(Bspline* s1, Bspline* s2, const double q[4], const double dir[3],
                           IntersectionTraceList* list, double tolA, double tolB) {
  March m = {};
  m.s1 = s1;
  m.s2 = s2;
  for (int k = 0; k < 4; ++k) m.tol[k] = kParamTol * Range(SurfaceOf(k, s1, s2), k & 1);
  m.list = list;
  m.tolA = tolA;
  m.tolB = tolB;
  Params seed = {{q[0], q[1], q[2], q[3]}};
  double P[3];
  if (!LocateSingularPoint(m, seed, P)) return 0;
  // The direction along the contact: dir within the tangent plane.
  double Q[3], Su[3], Sv[3], n[3], t[3];
  if (!TangentPlane(s1, seed.p[0], seed.p[1], Q, Su, Sv, n)) return 0;
  const double along = VecDotProd3(dir, n);
  for (int k = 0; k < 3; ++k) t[k] = dir[k] - along * n[k];
  const double lt = VecSize3(t);
  if (!(lt > 0.0)) return 0;
  for (int k = 0; k < 3; ++k) t[k] /= lt;
  // Surfaces that coincide beside the seed bound a region, not a contact curve: a first step's
  // length across the curve either way, surface 1's point off surface 2.
  {
    double w[3], S2u[3], S2v[3], n2[3];
    VecCrossProd3(n, t, w);
    const double across = ContactStep(nullptr, P, P, tolA);
    for (int k = 0; k < 3; ++k) w[k] *= across;
    Params prev[2];
    double dp[4];
    if (!TangentPlane(s2, seed.p[2], seed.p[3], Q, S2u, S2v, n2) || !ResolveInTangentPlane(w, Su, Sv, &dp[0], &dp[1]) ||
        !ResolveInTangentPlane(w, S2u, S2v, &dp[2], &dp[3]))
      return 0;
    for (int side = 0; side < 2; ++side) {
      // CoincideBeyond looks half a step on from prev: prev two steps back.
      for (int k = 0; k < 4; ++k) prev[side].p[k] = seed.p[k] - (side ? -2.0 : 2.0) * dp[k];
      // A contact on an edge of surface 1 (two faces tangent along the edge they share) has no
      // surface beyond it: the probe there, clamped back onto the edge, would land on the
      // contact and find the surfaces coinciding.
      if (OffEdgeOfSurface1(m, seed, side ? -1.0 : 1.0, dp)) continue;
      if (CoincideBeyond(m, prev[side], seed)) return 0;
    }
  }
  IntersectionTrace* tr = MallocIntersectionTrace();
  if (!tr) return -2;
  m.trace = tr;
  if (!AppendTraceNode(tr, P, seed.p[0], seed.p[1], seed.p[2], seed.p[3])) {
    Free(tr);
    return -2;
  }
  tr->open = 1;
  tr->directionStart = 1;
  int rc = MarchContact(m, t);
  double back[3] = {-t[0], -t[1], -t[2]};  // the way of the backward march, at its end after it
  if (rc == 2) {
    tr->open = 0;
    tr->directionStart = 0;
  } else if (rc >= 0) {
    // The other way from the seed, after the turn node.
    tr->turn = tr->tail;
    tr->directionStart = tr->nodeCount;
    IntersectionTraceNode* seedNode = tr->head;
    if (seedNode->next) {
      const IntersectionTraceNode* a = seedNode->next;
      const double A[3] = {a->x, a->y, a->z};
      VecDiff3(P, A, back);
    }
    const double lb = VecSize3(back);
    for (int k = 0; k < 3; ++k) back[k] /= lb;
    // The backward march starts from the seed: it is put after the turn node, as a trace
    // marched both ways holds it, and taken out again below.
    if (!AppendTraceNode(tr, P, seed.p[0], seed.p[1], seed.p[2], seed.p[3])) rc = -2;
    else rc = MarchContact(m, back);
    if (rc != -2) {
      // Drop the seed's copy after the turn node.
      IntersectionTraceNode* copy = tr->turn->next;
      if (copy) {
        tr->turn->next = copy->next;
        if (copy->next) copy->next->prev = tr->turn;
        else tr->tail = tr->turn;
        Free(copy);
        --tr->nodeCount;
      }
    }
  }
  if (rc == -2 || tr->nodeCount < 3) {
    FreeTraceNodes(tr);
    Free(tr);
    return rc == -2 ? -2 : 0;
  }
  AppendTrace(list, tr);
  if (!tr->turn) return 1;
  // A contact that crosses the seams of closed surfaces at different places: the march ended
  // on one seam; it goes on from the far side of it, in pieces from seam to seam, until it
  // reaches the end of the backward march from the seed.
  const IntersectionTraceNode* backEnd = tr->tail == tr->turn ? tr->head : tr->tail;
  const double B[3] = {backEnd->x, backEnd->y, backEnd->z};
  const IntersectionTraceNode* end = tr->turn;
  if (ContinueContact(m, &end, t, B, rc) == -2) return -2;
  // Pieces that stop short of it (at a pole, or on a seam the contact runs along) leave the
  // stretch beyond the backward end's seam to no march: it goes on from there the other way, to
  // the last end reached.
  const double F[3] = {end->x, end->y, end->z};
  if (rc == 1 && Distance(F, B) > 100.0 * tolB && ContinueContact(m, &backEnd, back, F, rc) == -2) return -2;
  return 1;
}

namespace {

// LocateSingularPoint from q under the hold (null: none) for the public entries below.
bool LocateFromParams(Bspline* s1, Bspline* s2, double q[4], double tolB, double P[3], const ContactHold* hold,
                      double sineLimit = kSingularSine) {
  March m = {};
  m.s1 = s1;
  m.s2 = s2;
  for (int k = 0; k < 4; ++k) m.tol[k] = kParamTol * Range(SurfaceOf(k, s1, s2), k & 1);
  m.tolB = tolB;
  Params c = {{q[0], q[1], q[2], q[3]}};
  if (!LocateSingularPoint(m, c, P, hold, sineLimit)) return false;
  for (int k = 0; k < 4; ++k) q[k] = c.p[k];
  return true;
}

}  // namespace

namespace {

// A partial below this share of the other: beside a pole, where resolving a direction into the
// parameters divides by round-off.
constexpr double kNearPole = 1e-4;
// Such a surface's parameters are moved this share of their ranges toward the domain's middle
// for its second fundamental form, which changes over that by the same share.
constexpr double kPoleNudge = 1e-4;

// A knot span narrower than this share of the range (two knots a round-off apart) turns the
// surface through it: its second partials grow as one over its width.
constexpr double kSliverSpan = 1e-9;

// t moved out of such spans to the next knot, into the span beyond, where the second partials
// are the surface's about that knot (moving t by less than the spans' width).
double OffSliverSpans(const double* k, int p, int n, double t) {
  const double least = kSliverSpan * (k[n] - k[p]);
  for (int i = p; i + 1 < n; ++i)
    if (t >= k[i] && t < k[i + 1] && k[i + 1] - k[i] < least) t = k[i + 1];
  return t;
}

// Point and partials Su, Sv, Suu, Suv, Svv of the surface at (u, v), or beside a pole
// (kNearPole), nudged off it (kPoleNudge); off sliver spans (kSliverSpan). False when they
// cannot be evaluated or the nudge finds no normal.
bool JetOffPoles(const Bspline* s, double u, double v, double d[6][3]) {
  static const int du[6] = {0, 1, 0, 2, 1, 0}, dv[6] = {0, 0, 1, 0, 1, 2};
  u = OffSliverSpans(s->knotsU, s->degreeU, NumCtrlU(s), u);
  v = OffSliverSpans(s->knotsV, s->degreeV, NumCtrlV(s), v);
  if (EvalPointOnGeometryM(s, u, v, du, dv, 6, 0, d) != 0) return false;
  const double lu = VecSize3(d[1]), lv = VecSize3(d[2]);
  if (std::fmin(lu, lv) > kNearPole * std::fmax(lu, lv)) return true;
  u += kPoleNudge * (u < 0.5 * (Lo(s, 0) + Hi(s, 0)) ? Range(s, 0) : -Range(s, 0));
  v += kPoleNudge * (v < 0.5 * (Lo(s, 1) + Hi(s, 1)) ? Range(s, 1) : -Range(s, 1));
  if (EvalPointOnGeometryM(s, u, v, du, dv, 6, 0, d) != 0) return false;
  const double nu = VecSize3(d[1]), nv = VecSize3(d[2]);
  return nu > kPoleShare * nv && nv > kPoleShare * nu;
}

}  // namespace

bool GapSecondForm(Bspline* s1, Bspline* s2, const double q[4], double e[2][3], double H[2][2]) {
  if (!RecordsSound({s1, s2}) || s1->kind != 2 || s2->kind != 2 || s1->dimension != 3 || s2->dimension != 3 ||
      !AllFinite({q[0], q[1], q[2], q[3]}))
    return false;
  double d[2][6][3], n[3];
  if (!JetOffPoles(s1, q[0], q[1], d[0]) || !JetOffPoles(s2, q[2], q[3], d[1])) return false;
  VecCrossProd3(d[0][1], d[0][2], n);
  const double ln = VecSize3(n), lu = VecSize3(d[0][1]);
  if (!(ln > 0.0) || !(lu > 0.0)) return false;
  for (int c = 0; c < 3; ++c) n[c] /= ln, e[0][c] = d[0][1][c] / lu;
  VecCrossProd3(n, e[0], e[1]);
  // Each form on the basis vectors resolved into the surface's parameters, measured along the
  // surface's own normal turned to surface 1's: the tangent planes coincide, but beside a pole
  // the second partials have large tangential parts that a normal off by the nudge would take in.
  double II[2][2][2];
  for (int s = 0; s < 2; ++s) {
    double a[2], b[2], ns[3];
    VecCrossProd3(d[s][1], d[s][2], ns);
    const double l = VecSize3(ns) * (VecDotProd3(ns, n) < 0.0 ? -1.0 : 1.0);
    if (!(std::fabs(l) > 0.0)) return false;
    for (int c = 0; c < 3; ++c) ns[c] /= l;
    for (int i = 0; i < 2; ++i)
      if (!ResolveInTangentPlane(e[i], d[s][1], d[s][2], &a[i], &b[i])) return false;
    const double Luu = VecDotProd3(d[s][3], ns), Luv = VecDotProd3(d[s][4], ns), Lvv = VecDotProd3(d[s][5], ns);
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j)
        II[s][i][j] = Luu * a[i] * a[j] + Luv * (a[i] * b[j] + b[i] * a[j]) + Lvv * b[i] * b[j];
  }
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) H[i][j] = II[1][i][j] - II[0][i][j];
  return std::isfinite(H[0][0]) && std::isfinite(H[0][1]) && std::isfinite(H[1][1]);
}

bool LocateContactInPlane(Bspline* s1, Bspline* s2, double q[4], const double X[3], const double t[3],
                          double tolB, double P[3]) {
  if (!RecordsSound({s1, s2}) || s1->kind != 2 || s2->kind != 2 || s1->dimension != 3 || s2->dimension != 3 ||
      !AllFinite({q[0], q[1], q[2], q[3], X[0], X[1], X[2], t[0], t[1], t[2], tolB}) || !(tolB > 0.0))
    return false;
  ContactHold hold;
  hold.kind = 1;
  for (int k = 0; k < 3; ++k) hold.X[k] = X[k], hold.t[k] = t[k];
  return LocateFromParams(s1, s2, q, tolB, P, &hold);
}

namespace {

// A parameter of a closed direction within this share of its range of an end is beside the seam;
// one within it of a collapsed side, beside the pole.
constexpr double kBesideSeam = 0.1;
// The search from a seam's far side starts this share of the range inside it: on the end itself
// its steps toward the seam are all clamped away.
constexpr double kInsideSeam = 1e-4;
// Newton steps of the search over one surface's parameters: it converges in a few from a start
// beside the touching; the count only bounds it.
constexpr int kOneSurfaceSteps = 40;
// The normals of a surface whose coordinates carry a round-off d are known only to a sine of
// about d over its size (a sphere's to d over its radius, under a third of its box's diagonal):
// a sphere 1e-5 of its host's size touching it 1e4 sizes from the origin has its normals
// rounded to 1e-7 .. 1e-6, and the search stalls there. The normals count as parallel within
// this many times that sine over the smaller surface where it exceeds kSingularSine.
constexpr double kRoundingSines = 8.0;
// Never beyond this sine: normals further apart belong to surfaces crossing, not to a touching
// the coordinates cannot resolve.
constexpr double kLargestTouchingSine = 1e-5;

// The sine within which LocateTouchingPoint takes the normals as parallel (kRoundingSines): the
// round-off is the larger of `rounding` and that of the surfaces' own largest coordinate.
double TouchingSine(const Bspline* s1, const Bspline* s2, double rounding) {
  double smaller = HUGE_VAL, largest = 0.0;
  for (const Bspline* s : {s1, s2}) {
    double lo[3], hi[3];
    ControlPointBox(s, lo, hi);
    smaller = std::fmin(smaller, std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]));
    for (int q = 0; q < 3; ++q) largest = std::fmax(largest, std::fmax(std::fabs(lo[q]), std::fabs(hi[q])));
  }
  const double d = std::fmax(rounding, DBL_EPSILON * largest);
  if (!(smaller > 0.0)) return kSingularSine;
  return std::fmin(kLargestTouchingSine, std::fmax(kSingularSine, kRoundingSines * d / smaller));
}

// True when the surface's parameters (u, v) lie beside a collapsed side (kBesideSeam).
bool BesidePole(const Bspline* s, double u, double v) {
  for (int dir = 0; dir < 2; ++dir) {
    const double x = dir ? v : u, lo = Lo(s, dir), hi = Hi(s, dir), near = kBesideSeam * (hi - lo);
    if ((x - lo <= near && SurfaceSideCollapsed(s, dir, 0)) || (hi - x <= near && SurfaceSideCollapsed(s, dir, 1)))
      return true;
  }
  return false;
}

// Beside a pole of a surface its parameters turn fast, and its partials vanish on the pole, so the
// search over both surfaces' parameters stalls there. The touching is sought over the other
// surface's parameters alone (free: 0 surface 1, 1 surface 2): its point X, X's foot on the
// surface beside the pole (found in space, round the pole), and the sines of the angles between
// the foot's normal and X's partials, zero where the normals are parallel, by Newton with
// difference quotients, each step halved until the sines fall. True when they fall to
// sineLimit with X within tolB of its foot: q and P (on surface 1) are moved there.
bool TouchingOverOneSurface(Bspline* s1, Bspline* s2, int free, double q[4], double tolB, double P[3],
                            double sineLimit) {
  Bspline* F = free ? s2 : s1;
  Bspline* O = free ? s1 : s2;
  double w[4] = {q[0], q[1], q[2], q[3]};
  double* a = &w[2 * free];
  double* o = &w[2 - 2 * free];
  // The sines at F's parameters x, y; o is moved to the foot, X and Y are F's point and the foot.
  auto sines = [&](double x, double y, double g[2], double X[3], double Y[3], double* gap) {
    double Fu[3], Fv[3], nF[3], nO[3], dist, step;
    // A foot search started on the pole may stay there, where the normal is only a limit.
    for (int dir = 0; dir < 2; ++dir) {
      const double lo = Lo(O, dir), hi = Hi(O, dir), in = kInsideSeam * (hi - lo);
      if (o[dir] - lo < in && SurfaceSideCollapsed(O, dir, 0)) o[dir] = lo + in;
      if (hi - o[dir] < in && SurfaceSideCollapsed(O, dir, 1)) o[dir] = hi - in;
    }
    if (!TangentPlane(F, x, y, X, Fu, Fv, nF) ||
        FindClosestUVPointGuessNorm(O, X, Y, &o[0], &o[1], &dist, &step, 10, nO) != 0)
      return false;
    const double l = VecSize3(nO), lu = VecSize3(Fu), lv = VecSize3(Fv);
    if (!(l > 0.0) || !(lu > 0.0) || !(lv > 0.0)) return false;
    g[0] = VecDotProd3(nO, Fu) / (l * lu);
    g[1] = VecDotProd3(nO, Fv) / (l * lv);
    *gap = std::fabs(dist);
    return std::isfinite(g[0]) && std::isfinite(g[1]);
  };
  double g[2], X[3], Y[3], gap;
  if (!sines(a[0], a[1], g, X, Y, &gap)) return false;
  for (int it = 0; it < kOneSurfaceSteps; ++it) {
    if (std::hypot(g[0], g[1]) <= sineLimit) {
      if (!(gap <= tolB)) return false;
      for (int k = 0; k < 4; ++k) q[k] = w[k];
      for (int k = 0; k < 3; ++k) P[k] = free ? Y[k] : X[k];
      return true;
    }
    double J[2][2];
    for (int k = 0; k < 2; ++k) {
      const double lo = Lo(F, k), hi = Hi(F, k), h = 1e-7 * (hi - lo);
      double b[2] = {a[0], a[1]}, gk[2], Xk[3], Yk[3], gapk;
      const double keep[2] = {o[0], o[1]};
      b[k] = a[k] + h > hi ? a[k] - h : a[k] + h;
      if (!sines(b[0], b[1], gk, Xk, Yk, &gapk)) return false;
      o[0] = keep[0], o[1] = keep[1];
      for (int e = 0; e < 2; ++e) J[e][k] = (gk[e] - g[e]) / (b[k] - a[k]);
    }
    const double det = J[0][0] * J[1][1] - J[0][1] * J[1][0];
    if (!(std::fabs(det) > 0.0)) return false;
    const double d[2] = {-(J[1][1] * g[0] - J[0][1] * g[1]) / det, -(J[0][0] * g[1] - J[1][0] * g[0]) / det};
    bool moved = false;
    for (double f = 1.0; f > 1e-3 && !moved; f *= 0.5) {
      double b[2], gb[2], Xb[3], Yb[3], gapb;
      const double keep[2] = {o[0], o[1]};
      for (int k = 0; k < 2; ++k) b[k] = std::fmin(Hi(F, k), std::fmax(Lo(F, k), a[k] + f * d[k]));
      if (sines(b[0], b[1], gb, Xb, Yb, &gapb) && std::hypot(gb[0], gb[1]) < std::hypot(g[0], g[1])) {
        a[0] = b[0], a[1] = b[1], g[0] = gb[0], g[1] = gb[1], gap = gapb;
        for (int k = 0; k < 3; ++k) X[k] = Xb[k], Y[k] = Yb[k];
        moved = true;
      } else {
        o[0] = keep[0], o[1] = keep[1];
      }
    }
    if (!moved) return false;
  }
  return false;
}

}  // namespace

bool LocateTouchingPoint(Bspline* s1, Bspline* s2, double q[4], double tolB, double P[3], double rounding) {
  if (!RecordsSound({s1, s2}) || s1->kind != 2 || s2->kind != 2 || s1->dimension != 3 || s2->dimension != 3 ||
      !AllFinite({q[0], q[1], q[2], q[3], tolB, rounding}) || !(tolB > 0.0))
    return false;
  const double sine = TouchingSine(s1, s2, rounding);
  if (LocateFromParams(s1, s2, q, tolB, P, nullptr, sine)) return true;
  // The search clamps its steps to the domains, so a touching just across a closed surface's
  // seam from q is out of its reach: it is sought again from the seam's far side, for each
  // choice of the parameters beside a seam (kBesideSeam) moved to their other ends.
  int beside[4], n = 0;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = SurfaceOf(k, s1, s2);
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    if ((k & 1 ? s->closedV : s->closedU) && std::fmin(q[k] - lo, hi - q[k]) <= kBesideSeam * (hi - lo))
      beside[n++] = k;
  }
  for (int mask = 1; mask < 1 << n; ++mask) {
    double w[4] = {q[0], q[1], q[2], q[3]};
    for (int i = 0; i < n; ++i) {
      const Bspline* s = SurfaceOf(beside[i], s1, s2);
      const double lo = Lo(s, beside[i] & 1), hi = Hi(s, beside[i] & 1);
      const double in = kInsideSeam * (hi - lo);
      if (mask >> i & 1) w[beside[i]] = w[beside[i]] - lo < hi - w[beside[i]] ? hi - in : lo + in;
    }
    if (LocateFromParams(s1, s2, w, tolB, P, nullptr, sine)) {
      for (int k = 0; k < 4; ++k) q[k] = w[k];
      return true;
    }
  }
  const bool pole1 = BesidePole(s1, q[0], q[1]), pole2 = BesidePole(s2, q[2], q[3]);
  if (pole1 != pole2) return TouchingOverOneSurface(s1, s2, pole1 ? 1 : 0, q, tolB, P, sine);
  // A touching on a seam itself is out of reach from either side: the steps are clamped at the
  // seam, short of it by a round-off that a small surface's normal turns through by more than
  // the limit. It is sought over the other surface's parameters, with the foot on the surface
  // beside its seam found in space, across the seam.
  bool tried[2] = {false, false};
  for (int i = 0; i < n; ++i) {
    const int free = beside[i] < 2 ? 1 : 0;
    if (tried[free]) continue;
    tried[free] = true;
    if (TouchingOverOneSurface(s1, s2, free, q, tolB, P, sine)) return true;
  }
  return false;
}

// ---- Branches across seams ----------------------------------------------------------------------

namespace {

// The distance along the branch of trace t from its seed (the head) to node n: forward nodes
// count ahead of the seed, backward ones (after the turn node) behind it.
double AlongBranch(const IntersectionTrace* t, const IntersectionTraceNode* n) {
  auto gap = [](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
    return Distance(A, B);
  };
  double s = 0.0;
  for (const IntersectionTraceNode* a = t->head; a && a != n && a != t->turn && a->next; a = a->next) {
    s += gap(a, a->next);
    if (a->next == n) return s;
  }
  s = 0.0;
  for (const IntersectionTraceNode *a = t->head, *b = t->turn ? t->turn->next : nullptr; b; a = b, b = b->next) {
    s -= gap(a, b);
    if (b == n) return s;
  }
  return 0.0;
}

// reach, held to a quarter of trace t's span where t is more than a few point tolerances across
// (as the driver holds the reach of a trace lying on another branch): a loop smaller than the
// reach that crosses a seam twice is traced as a half between the crossings, every node of which
// lies within the reach of either end. A trace piled on one point (a pole) keeps the reach.
double ReachWithin(const IntersectionTrace* t, double reach, double tolB) {
  double span = 0.0;
  for (const IntersectionTraceNode* a = t->head; a; a = a->next)
    for (const IntersectionTraceNode* b = a->next; b; b = b->next)
      span = std::fmax(span, std::hypot(a->x - b->x, a->y - b->y, a->z - b->z));
  return span > 4.0 * tolB ? std::fmin(reach, 0.25 * span) : reach;
}

// True when a node of the list's traces other than the end e of trace t lies within reach of
// e; of t's own nodes only those farther along t from e than twice the reach (its other end
// come round to the seam), not those the branch passes on its way to e. A node on a pole is no
// continuation of e across the seam, nor one nearer to an end of its trace lying on a pole than
// to e (the march crawls into the pole in ever shorter steps): a branch through a pole beside a
// seam stops on the pole, and the stretch between it and the seam, however short, is traced
// from the seam's far side. Nor is t's own node on the seam e lies on, on e's side of it: the
// branch crossed the seam twice (a loop beside a pole near the seam, its crossings 75 point
// tolerances apart), and the stretch between the crossings lies beyond the seam, on no trace.
// Nor is a node across another seam from e, one e does not lie on (a parameter of a closed
// direction more than half its range from e's): the branch beyond e's seam reaches it only
// across that seam too. Two traces ending one on each surface's seam where a small loop crosses
// both within the reach (9 point tolerances apart) each stop short of the stretch between the
// crossings, which lies on neither; each is continued, and its continuation ends beside the other.
bool NodeNear(const March& m, const IntersectionTraceList* list, const IntersectionTrace* t,
              const IntersectionTraceNode* e, double reach) {
  const Bspline *s1 = m.s1, *s2 = m.s2;
  const double E[3] = {e->x, e->y, e->z}, at = AlongBranch(t, e);
  auto besideOnSeam = [&](const IntersectionTraceNode* n) {
    const Params a = Of(e), b = Of(n);
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, s1, s2);
      if (!(k & 1 ? s->closedV : s->closedU)) continue;
      for (const double end : {Lo(s, k & 1), Hi(s, k & 1)})
        if (std::fabs(a.p[k] - end) <= m.tol[k] && std::fabs(b.p[k] - end) <= m.tol[k]) return true;
    }
    return false;
  };
  auto nearerPoleEnd = [&](const IntersectionTrace* o, const IntersectionTraceNode* n, double toE) {
    const double Y[3] = {n->x, n->y, n->z};
    for (const IntersectionTraceNode* end : {o->head, o->tail, o->turn}) {
      if (!end) continue;
      const double Z[3] = {end->x, end->y, end->z};
      if (Distance(Y, Z) < toE && NodeOnPole(s1, s2, end)) return true;
    }
    return false;
  };
  auto acrossOtherSeam = [&](const IntersectionTraceNode* n) {
    const Params a = Of(e), b = Of(n);
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = SurfaceOf(k, s1, s2);
      if (!(k & 1 ? s->closedV : s->closedU)) continue;
      if (std::fabs(a.p[k] - Lo(s, k & 1)) <= m.tol[k] || std::fabs(Hi(s, k & 1) - a.p[k]) <= m.tol[k]) continue;
      if (std::fabs(a.p[k] - b.p[k]) > 0.5 * Range(s, k & 1)) return true;
    }
    return false;
  };
  for (const IntersectionTrace* o = list->head; o; o = o->next)
    for (const IntersectionTraceNode* n = o->head; n; n = n->next) {
      const double Y[3] = {n->x, n->y, n->z};
      if (n == e || Distance(E, Y) > reach || NodeOnPole(s1, s2, n) || nearerPoleEnd(o, n, Distance(E, Y)) ||
          acrossOtherSeam(n))
        continue;
      if (o != t || (std::fabs(AlongBranch(t, n) - at) > 2.0 * reach && !besideOnSeam(n))) return true;
    }
  return false;
}

// A march from a seam whose node lies this many point tolerances from its seed, and farther from
// the trace it continues than half that, has gone on beyond the seam, not stirred by round-off.
constexpr double kWentOnTolBs = 4.0;

// True when the trace made from the far side of a seam at the end e of from turns back onto from:
// every node next to its seed (the head, each way it marched; the first a tenth of the reach or
// more from it, where there is one) lies nearest to a chord of from, within reach, near e along
// from. A branch arriving at its end running along the seam (a tangential contact there) has no
// continuation beyond it; the march from the seam's far side only follows the seam back over the
// same points, or stirs by round-off where it has nowhere to go. A march that goes on beyond the
// end lies as far from from's end as from its seed: a node a tenth of the reach or more from the
// seed turns back only when it lies nearer to from than half that, at a point of from no farther
// from e along it than a few times that distance; a short stretch between two seams that closes
// from's loop ends beside from's other end, all of from away.
bool TurnsBackOnto(const IntersectionTraceList* list, const IntersectionTrace* from,
                   const IntersectionTraceNode* e, const IntersectionTrace* made, double reach, double tolB) {
  const IntersectionTraceNode* seed = made->head;
  const IntersectionTraceNode* firsts[2] = {seed->next, made->turn && made->turn != seed ? made->turn->next : nullptr};
  const double S[3] = {seed->x, seed->y, seed->z};
  int checked = 0;
  for (const IntersectionTraceNode* n : firsts) {
    if (!n) continue;
    // Steps within a tenth of the reach of the seed (short ones through a loop's turn where
    // another loop passes close) tell nothing of where the march goes: the first node of this
    // way beyond that is judged, the last one when none is.
    auto nearSeed = [&](const IntersectionTraceNode* a) {
      const double A[3] = {a->x, a->y, a->z};
      return Distance(A, S) < 0.1 * reach;
    };
    // A march round a whole loop smaller than that (from piled on a pole, where the reach stays
    // two chord heights) comes back beside its seed, nearer it than half its farthest node: that
    // node is judged.
    const IntersectionTraceNode* farthest = n;
    auto fromSeed = [&](const IntersectionTraceNode* a) {
      const double A[3] = {a->x, a->y, a->z};
      return Distance(A, S);
    };
    while (nearSeed(n) && n != made->turn && n->next) {
      n = n->next;
      if (fromSeed(n) > fromSeed(farthest)) farthest = n;
    }
    const bool round = nearSeed(n) && fromSeed(n) < 0.5 * fromSeed(farthest);
    if (round) n = farthest;
    const double X[3] = {n->x, n->y, n->z};
    double f = 0.0;
    const IntersectionTraceNode* partner = nullptr;
    const IntersectionTraceNode* chord = NearestChord(list, made, X, reach, &f, &partner);
    bool onFrom = false;
    for (const IntersectionTraceNode* a = from->head; a && chord && !onFrom; a = a->next) onFrom = a == chord;
    if (!onFrom) return false;
    double C[3];
    C[0] = chord->x + f * (partner->x - chord->x);
    C[1] = chord->y + f * (partner->y - chord->y);
    C[2] = chord->z + f * (partner->z - chord->z);
    const double step = Distance(X, S);
    if ((step > 0.1 * reach || (round && step > kWentOnTolBs * tolB)) && !(Distance(X, C) < 0.5 * step)) return false;
    const double at = AlongBranch(from, chord) + f * (AlongBranch(from, partner) - AlongBranch(from, chord));
    if (std::fabs(at - AlongBranch(from, e)) > 4.0 * step + reach) return false;
    ++checked;
  }
  return checked > 0;
}

}  // namespace

namespace {

// The ways to the far side of the seams an end lies on, in the order they are tried (0 ends the
// list): all of them at once, then each alone. A branch through a point where seams of both
// surfaces meet (a net's vertex on its seam, a cylinder's seam through it) need not cross both
// there: it leaves the far side of one and the near side of the other, and a march across all
// of them went nowhere, the branch's loop through the point untraced. A march across one alone
// counts only where it leaves the point by more than 100 point tolerances: one that stays there
// stands for a touching at the point, which the end gives already.
std::array<int, 6> SeamWraps(int seams) {
  std::array<int, 6> ways = {seams, 0, 0, 0, 0, 0};
  if ((seams & (seams - 1)) == 0) return ways;
  int n = 1;
  for (int k = 0; k < 4; ++k)
    if (seams >> k & 1) ways[n++] = 1 << k;
  return ways;
}

constexpr int kNothingBeyond = 0, kOpenBeyond = 1, kClosedBeyond = 2;

// True when every node of t lies within reach of the node e.
bool StaysWithin(const IntersectionTrace* t, const IntersectionTraceNode* e, double reach) {
  for (const IntersectionTraceNode* n = t->head; n; n = n->next)
    if (std::hypot(n->x - e->x, n->y - e->y, n->z - e->z) > reach) return false;
  return true;
}

// The march from w, the end e of trace t seen from the far side of the seams there (other: t's
// other end), kept as a new trace while it ends open (kOpenBeyond) or put in t's place where it
// closed the loop through t's stretch (kClosedBeyond); kNothingBeyond where it went nowhere
// beyond the seam (no farther than least from e), or only back along the branch; -2 on no
// memory.
int ContinueFromSeamEnd(Bspline* s1, Bspline* s2, const double* us1, const double* vs1, const double* us2,
                        const double* vs2, int** marks, IntersectionTraceList* list, double tolA, double tolB,
                        IntersectionTrace* t, const IntersectionTraceNode* e, const IntersectionTraceNode* other,
                        const Params& w, double least) {
  IntersectionTrace* next = MallocIntersectionTrace();
  if (!next) return -2;
  AppendTrace(list, next);
  const int rc = TraceFrom(s1, s2, w.p[0], w.p[1], w.p[2], w.p[3], us1, vs1, us2, vs2, marks, list, tolA, tolB, t,
                           e, other != e ? other : nullptr);
  if (rc == -2) return -2;
  // A march that went nowhere beyond the seam, or only back along the branch, adds nothing.
  const bool nothing = rc == -20 || next->nodeCount < 2 ||
                       TurnsBackOnto(list, t, e, next, ReachWithin(t, 2.0 * tolA, tolB), tolB) ||
                       (least > 0.0 && StaysWithin(next, e, least));
  if (!nothing && next->open) return kOpenBeyond;
  if (!nothing) {
    FreeTraceNodes(t);
    t->head = next->head, t->tail = next->tail, t->turn = next->turn;
    t->nodeCount = next->nodeCount, t->open = 0, t->directionStart = next->directionStart;
    next->head = next->tail = next->turn = nullptr;
  }
  list->tail = next->prev;
  list->tail->next = nullptr;
  --list->count;
  FreeTraceNodes(next);
  Free(next);
  return nothing ? kNothingBeyond : kClosedBeyond;
}

}  // namespace

int ContinueAcrossSeams(Bspline* s1, Bspline* s2, const double* us1, const double* vs1,
                        const double* us2, const double* vs2, int** marks,
                        IntersectionTraceList* list, double tolA, double tolB) {
  March m = {};
  m.s1 = s1;
  m.s2 = s2;
  for (int k = 0; k < 4; ++k) m.tol[k] = kParamTol * Range(SurfaceOf(k, s1, s2), k & 1);
  // Each new trace can end on a further seam: a bound on the rounds against a pair that keeps
  // making them.
  int budget = 4 * list->count + 8;
  for (IntersectionTrace* t = list->count > 0 ? list->head : nullptr; t && budget > 0;) {
    if (!t->open || t->nodeCount < 1) {
      t = t->next;
      continue;
    }
    // A march from the seam that comes round to its own seed has traced the whole loop through
    // t's end, t's stretch with it (a stretch through a small sphere's pole, a few tolerances long
    // and as loose, was left beside the loop that passes over it): the loop takes t's place, and
    // t's other end is not continued. t stays in the list, as the caller holds on to the traces
    // made before.
    const IntersectionTraceNode* ends[2] = {t->turn ? t->turn : t->tail,
                                            t->turn && t->tail != t->turn ? t->tail : t->head};
    for (const IntersectionTraceNode* e : ends) {
      Params w = Of(e);
      // Within 100 point tolerances (a quarter of a smaller trace's span): the branch goes on
      // from another trace's node there. An end on a pole lies on no seam, whatever its
      // parameter round the pole: the branch stops there and goes on beyond it from another end.
      const int seams = SeamsAt(m, w);
      if (NodeOnPole(s1, s2, e) || !seams || NodeNear(m, list, t, e, ReachWithin(t, 100.0 * tolB, tolB)))
        continue;
      const IntersectionTraceNode* other = e == ends[0] ? ends[1] : ends[0];
      int got = kNothingBeyond;
      for (const int wrap : SeamWraps(seams)) {
        if (!wrap || --budget < 0) break;
        w = Of(e);
        WrapSeams(m, wrap, w);
        got = ContinueFromSeamEnd(s1, s2, us1, vs1, us2, vs2, marks, list, tolA, tolB, t, e, other, w,
                                  wrap == seams ? 0.0 : 100.0 * tolB);
        if (got == -2) return -2;
        if (got != kNothingBeyond) break;
      }
      if (got == kClosedBeyond) break;
    }
    t = t->next;
  }
  return 0;
}

// ---- Intersections of trimmed surfaces --------------------------------------------------------

namespace {

double CurveLo(const Bspline* c) { return c->knotsU[c->degreeU]; }
double CurveHi(const Bspline* c) { return c->knotsU[NumCtrlU(c)]; }

// Marks of a curve end in a crossing list: no trim parameter, no trim curve.
constexpr double kCurveEnd = -100.0;

bool PrependOutput(BsplineList** out, Bspline* piece) {
  BsplineList* node;
  {
    UntrackedScope untracked;  // the caller's list
    node = MallocNullBsplineList();
  }
  if (!node) return false;
  node->item = piece;
  node->next = *out;
  *out = node;
  return true;
}

// A trimmed surface's loop samples for the midpoint tests (null arrays when untrimmed).
struct TrimSamples {
  double*** us = nullptr;
  double*** vs = nullptr;
  double far[2] = {0.0, 0.0};
};

bool PrepareSamples(Bspline* s, TrimSamples& t) {
  if (!s || !s->trims) return true;
  const int loops = CountTrimCurves(s);
  t.us = MallocArray<double**>(loops);
  t.vs = MallocArray<double**>(loops);
  if (!t.us || !t.vs || KernelFailed()) return false;
  GetAllTrimArrays(s, t.us, t.vs);
  if (KernelFailed()) return false;
  // A reference point outside the parameter box, u drawn first.
  t.far[0] = rand() * 10.0 / 32767 + 2 * s->umax - s->umin;
  t.far[1] = rand() * 10.0 / 32767 + 2 * s->vmax - s->vmin;
  return true;
}

int MidpointInside(Bspline* piece, const TrimSamples& t) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, piece, 0.5 * (CurveLo(piece) + CurveHi(piece)), 0, uv);
  Bspline* s = piece->owner;
  return t.us ? IsPointInTrimOrBndryArrays(s, uv[0], uv[1], t.us, t.vs, t.far)
              : IsPointInTrimOrBndry(s, uv[0], uv[1]);
}

// Adds one surface's crossings of curve c (kind 1 or 2) and the curve's two ends; *any set
// when crossings were found, *even to the evenness of their number. -2 on failure.
int CollectCrossings(Bspline* s, Bspline* c, TArrayList* list, int kind,
                     double lo1, double hi1, double lo2, double hi2, double tol, int* any,
                     int* even) {
  TArrayList* holder = list;
  const int before = list->count;
  if (s->trims) {
    if (GetInterCrvIntrList(s, c, &holder, nullptr, kind, lo1, hi1, lo2, hi2, tol) != 0) return -2;
    // Only a trimmed surface has a parity; an untrimmed one never shortens the walk.
    const int added = list->count - before;
    if (added > 0) *any = 1;
    *even = added % 2 == 0;
  }
  const double ends[2] = {CurveLo(c), CurveHi(c)};
  const double none[2] = {kCurveEnd, kCurveEnd};
  InsertIntoOrderedInterArrayList(ends, none, nullptr, 2, &holder, kind, lo1, hi1, lo2, hi2);
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int GetIntersectionsOfTrimmedSurface(Bspline* s1, Bspline* s2, Bspline* c1, Bspline* c2,
                                     BsplineList** out, double tol) {
  TrackingScope scope;
  TArrayList list = {nullptr, nullptr, 0};
  TrimList* made[2] = {nullptr, nullptr};
  Bspline* surfaces[2] = {s1, s2};
  // The crossings of both curves are ordered along curve 1: curve 2's parameters are carried
  // proportionally onto its range.
  const double lo1 = CurveLo(c1), hi1 = CurveHi(c1), lo2 = CurveLo(c2), hi2 = CurveHi(c2);
  int any = 0, even[2] = {0, 0}, result = 0;
  for (int k = 0; k < 2 && result == 0; ++k) {
    Bspline* s = surfaces[k];
    if (s->trims) {
      if (!IsOuterTrim(s)) {
        // A surface with holes only is bounded by its own sides.
        made[k] = CreateSurfBoundaryAsTrimCurveBspline(s);
        if (!made[k]) {
          result = -2;
          break;
        }
        AddOrderedTrimCurve(s, made[k]);
      }
      ReverseInnerRelToOuter(s);
    }
    result = CollectCrossings(s, k == 0 ? c1 : c2, &list, k + 1, lo1, hi1, lo2, hi2, tol,
                              &any, &even[k]);
  }
  if (result == 0) {
    if (any) {
      result = GetInterCurves(c1, c2, &list, even[0], even[1], out);
    } else {
      double m1[2], m2[2];
      Eval2DPointOnCurve2Array(nullptr, c1, 0.5 * (lo1 + hi1), 0, m1);
      Eval2DPointOnCurve2Array(nullptr, c2, 0.5 * (lo2 + hi2), 0, m2);
      if (IsPointInTrimOrBndry(s1, m1[0], m1[1]) && IsPointInTrimOrBndry(s2, m2[0], m2[1])) {
        if (!PrependOutput(out, c1) || !PrependOutput(out, c2)) result = -2;
      }
    }
  }
  for (TrimList* loop : made)
    if (loop) FreeTrimCurveBsplines(loop);
  FreeTArrayNodes(&list);
  return result;
}

int GetInterCrvIntrList(Bspline* surface, Bspline* curve, TArrayList** list, CrvIntrList* hits,
                        int kind, double start1, double end1, double start2, double end2,
                        double tol) {
  // The fillet's crossing search without side codes.
  return GetFilletCrvIntrList(surface, curve, list, hits, nullptr, kind, start1, end1, start2,
                              end2, 0, tol);
}

int InsertIntoInterArrayList(CrvIntrList* hits, BsplineList* trimNode, Bspline* curve,
                             TArrayList** list, int kind, double start1, double end1,
                             double start2, double end2) {
  return InsertIntoTArrayList(hits, trimNode, curve, list, nullptr, kind, start1, end1, start2,
                              end2, 0);
}

void InsertIntoOrderedInterArrayList(const double* params, const double* trimParams,
                                     BsplineList* trimNode, int n, TArrayList** list, int kind,
                                     double start1, double end1, double start2, double end2) {
  InsertIntoOrderedTArrayList(params, trimParams, nullptr, trimNode, n, list, kind, start1, end1,
                              start2, end2);
}

int GetInterCurves(Bspline* c1, Bspline* c2, TArrayList* list, int even1, int even2,
                   BsplineList** out) {
  TrackingScope scope;
  const TArrayNode* first = list->head;
  if (!first) return 0;
  const double tol1 = 1e-6 * (CurveHi(c1) - CurveLo(c1));
  const double tol2 = 1e-6 * (CurveHi(c2) - CurveLo(c2));
  // The previous split point starts at the first node, carried over to the other curve.
  double prev1, prev2;
  if (first->kind == 1) {
    prev1 = first->param;
    prev2 = (prev1 - CurveLo(c1)) / (CurveHi(c1) - CurveLo(c1)) * (CurveHi(c2) - CurveLo(c2)) +
            CurveLo(c2);
  } else {
    prev2 = first->param;
    prev1 = (prev2 - CurveLo(c2)) / (CurveHi(c2) - CurveLo(c2)) * (CurveHi(c1) - CurveLo(c1)) +
            CurveLo(c1);
  }
  // The parity rule: with an even number of crossings on both surfaces the walk leaves out
  // the first node and the last two.
  const bool bothEven = even1 && even2;
  const int from = bothEven ? 1 : 0;
  const int to = bothEven ? list->count - 3 : list->count - 2;
  TrimSamples t1, t2;
  if (!PrepareSamples(c1->owner, t1) || !PrepareSamples(c2->owner, t2)) return -2;

  Bspline* a = c1;
  Bspline* b = c2;
  int result = 0, i = 0;
  for (TArrayNode* e = list->head; e && a && b && i <= to; e = e->next, ++i) {
    if (i < from) continue;
    e->pieceA = e->pieceB = nullptr;
    if (e->trimParam == kCurveEnd && i != 0 && i != to) continue;
    Bspline* own = e->kind == 1 ? a : b;
    if (e->param < CurveLo(own) || e->param > CurveHi(own)) continue;
    double x1, x2;
    if (e->kind == 1) {
      x1 = e->param;
      GetFilletParamOtherCurve(a, x1, b, &x2);
    } else {
      x2 = e->param;
      GetFilletParamOtherCurve(b, x2, a, &x1);
    }
    const bool close = std::fabs(x1 - prev1) < 1e-4 || std::fabs(x2 - prev2) < 1e-4;
    prev1 = x1;
    prev2 = x2;
    if (close) continue;
    Bspline *f1, *r1, *f2, *r2;
    if (!SplitCurveAtParam(a, x1, tol1, &f1, &r1)) {
      result = -2;
      break;
    }
    if (!SplitCurveAtParam(b, x2, tol2, &f2, &r2)) {
      if (f1 != a) FreeBspline(f1);
      if (r1 != a) FreeBspline(r1);
      result = -2;
      break;
    }
    bool keep1 = false, keep2 = false;
    if (f1 && f2 && MidpointInside(f1, t1) && MidpointInside(f2, t2)) {
      keep1 = PrependOutput(out, f1);
      keep2 = keep1 && PrependOutput(out, f2);
      if (!keep2) result = -2;
    }
    // A first part not handed to the output is dropped; a curve that was cut goes too. The
    // walk goes on with the second parts; a curve with none has nothing left to cut, so the
    // walk ends there (a kept first part belongs to the output and is never cut again).
    if (f1 && !keep1) FreeBspline(f1);
    if (f2 && !keep2) FreeBspline(f2);
    if (a != f1 && a != r1) FreeBspline(a);
    if (b != f2 && b != r2) FreeBspline(b);
    a = r1;
    b = r2;
    if (result != 0) break;
  }
  if (a) FreeBspline(a);
  if (b) FreeBspline(b);
  return result;
}

int RemoveDuplicatesFromBothArrays(double* a1, double* b1, double* a2, double* b2, int n,
                                   double tol) {
  if (n <= 1) return n;
  TrackingScope scope;
  double* x = MallocArray<double>(n);
  double* y = MallocArray<double>(n);
  int* drop = CallocArray<int>(n);
  if (!x || !y || !drop || KernelFailed()) return n;
  double* as[2] = {a1, a2};
  double* bs[2] = {b1, b2};
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < n; ++i) {
      x[i] = as[k][i];
      y[i] = bs[k][i];
    }
    const int kept = RemoveDuplicates_d(x, y, nullptr, n, tol);
    if (kept < 0) return n;
    // The removal keeps the input order: walk both to find which entries it dropped.
    int j = 0;
    for (int i = 0; i < n; ++i) {
      if (j < kept && x[j] == as[k][i] && y[j] == bs[k][i]) ++j;
      else drop[i] = 1;
    }
  }
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (drop[i]) continue;
    a1[m] = a1[i];
    b1[m] = b1[i];
    a2[m] = a2[i];
    b2[m] = b2[i];
    ++m;
  }
  return m;
}
