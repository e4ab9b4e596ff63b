// Boundary graph of a surface group: the corner matching that cuts the boundary curves at
// vertices and T-junctions into elements and pairs them, and the group's redundant surfaces.
#include "healing/srfbndrc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "foundation/geo2.h"
#include "foundation/sort.h"
#include "healing/srfbndrc_internal.h"
#include "surface/srfdup.h"

using namespace srfbndrc_internal;

namespace {

constexpr int kFeetPerVertex = 4;      // room of GsrfVertex's T-junction foot arrays
constexpr int kNearSamples = 5;        // feet this close along one curve count as one
// A curve's last sample sits just below the next integer so that its break entry sorts after
// every cut on the curve's last segment.
constexpr double kLastSampleOffset = 0.999999;
// Legacy: the side test maps a sample index to a parameter as one fiftieth of the range per
// sample (the build samples 50 per curve, so this is 49/50 of exact); callers rely on it.
constexpr double kSamplePitch = 0.02;
constexpr double kProbeWindow = 1e6;  // starting half-width of the nearest-sample sweep
// Two polyline segments whose squared lengths multiply to less than kShortSegments4 x size^4
// are too short to tell a direction: they count as running the same way.
constexpr double kShortSegments4 = 1e-10;
// A squared chord below kPointChord2 x size^2 is a point: a centroid projects on its middle.
constexpr double kPointChord2 = 1e-20;

const float* AxisArray(const Gsrf* g, int axis) { return axis == 0 ? g->x : axis == 1 ? g->y : g->z; }

// Axis of largest extent of the listed samples; the earlier axis on equal extents.
int WidestAxis(const Gsrf* g, const int* ids, int n) {
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int i = 0; i < n; ++i) {
    double p[3];
    SamplePoint(g, ids[i], p);
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], p[k]);
      hi[k] = std::max(hi[k], p[k]);
    }
  }
  int axis = 0;
  for (int k = 1; k < 3; ++k)
    if (hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
  return axis;
}

}  // namespace

// ============================================================================================
// Corner matching
// ============================================================================================

int GetCornerVertsGsrf(Gsrf* g, unsigned char* flags) {
  if (!g || !flags) return 0;
  std::memset(flags, 0, static_cast<size_t>(std::max(g->nSample, 0)));
  int ends = 0;
  for (int i = 0; i < g->nCrv; ++i) {
    const GsrfCrv& c = g->crvs[i];
    if (c.nSample < 1) continue;
    flags[c.firstSample] = 1;
    flags[LastOf(c)] = 1;
    ends += 2;
  }
  return ends;
}

int isSameDirection(Gsrf* g, int i, int j, int curve) {
  const GsrfCrv& c = g->crvs[curve];
  const int last = LastOf(c);
  auto segment = [&](int k, double d[3]) {
    const int a = k >= last ? last - 1 : k;
    double p[3], q[3];
    SamplePoint(g, a, p);
    SamplePoint(g, a + 1, q);
    VecDiff3(q, p, d);
  };
  double di[3], dj[3];
  segment(i, di);
  segment(j, dj);
  const double size = SizeOf(c), size2 = size * size;
  const double l2 = VecDotProd3(di, di) * VecDotProd3(dj, dj);
  if (l2 < kShortSegments4 * size2 * size2) return 1;
  const double dot = VecDotProd3(di, dj);
  return dot * dot / l2 >= 0.5 ? 1 : 0;
}

namespace {

// How far p lies off the line of side c's first (atFirst) or last segment, when p lies past
// that end, beyond the gap but no farther than a split corner reaches along a short side
// (CornerEndReach): the damage moved that end along the side, and what the seam closes is the
// gap across it. Else how far p lies from that end.
double OffShortSideEnd(const Gsrf* g, const GsrfCrv& c, bool atFirst, const double p[3]) {
  double e0[3], e1[3], in[3], off[3], dir[3];
  SamplePoint(g, c.firstSample, e0);
  SamplePoint(g, LastOf(c), e1);
  const double reach = CornerEndReach(std::sqrt(Dist2(e0, e1)), g->gapTol);
  const double* end = atFirst ? e0 : e1;
  SamplePoint(g, atFirst ? c.firstSample + 1 : LastOf(c) - 1, in);
  VecDiff3(end, in, dir);  // out past the end
  VecDiff3(p, end, off);
  const double l2 = VecDotProd3(dir, dir), dist2 = VecDotProd3(off, off);
  if (!(l2 > 0.0) || !(reach > g->gapTol)) return std::sqrt(dist2);
  const double along = VecDotProd3(off, dir) / std::sqrt(l2);
  if (along <= 0.0 || along > reach) return std::sqrt(dist2);
  return std::sqrt(std::max(dist2 - along * along, 0.0));
}

}  // namespace

double FindMaxDistPair(Gsrf* g, const GsrfPair* pair, int refine) {
  if (!g || !pair || pair->crvB < 0) return -1.0;
  const double cap = 2.0 * g->gapTol;
  GsrfCrv* crv[2] = {&g->crvs[pair->crvA], &g->crvs[pair->crvB]};
  double from[2], to[2];
  int lo[2], cnt[2];
  for (int s = 0; s < 2; ++s) {
    const GsrfCrv& c = *crv[s];
    const double p0 = s == 0 ? pair->a0 : pair->b0, p1 = s == 0 ? pair->a1 : pair->b1;
    // The sector itself (a last sample's position sits 0.999999 beyond it) ...
    from[s] = std::clamp(std::min(p0, p1), double(c.firstSample), double(LastOf(c)));
    to[s] = std::clamp(std::max(p0, p1), double(c.firstSample), double(LastOf(c)));
    // ... and, as targets, its samples one beyond each end, so the segments holding the ends
    // take part; never samples of a neighbouring curve.
    lo[s] = std::max(c.firstSample, static_cast<int>(std::ceil(std::min(p0, p1) - 1.0)));
    const int hi = std::min(LastOf(c), static_cast<int>(std::floor(std::max(p0, p1) + 1.0)));
    cnt[s] = hi - lo[s] + 1;
    if (cnt[s] < 1) return cap;
  }
  TrackingScope scope;
  int* ids[2] = {MallocArray<int>(cnt[0] + cnt[1]), nullptr};
  float* keys[2] = {MallocArray<float>(cnt[0] + cnt[1]), nullptr};
  if (!ids[0] || !keys[0] || KernelFailed()) return cap;
  ids[1] = ids[0] + cnt[0];
  keys[1] = keys[0] + cnt[0];
  for (int s = 0; s < 2; ++s)
    for (int i = 0; i < cnt[s]; ++i) ids[s][i] = lo[s] + i;
  const int axis = WidestAxis(g, ids[0], cnt[0] + cnt[1]);
  const float* ax = AxisArray(g, axis);
  for (int s = 0; s < 2; ++s) {
    for (int i = 0; i < cnt[s]; ++i) keys[s][i] = ax[ids[s][i]];
    HeapSortFloatInt(cnt[s], keys[s], ids[s]);
  }

  // Raises maxD to the distance from p to the polyline of side o: the nearest sample by a sweep
  // outwards along the sorted axis in a box window that shrinks to the best distance found,
  // then the nearer foot on the two segments meeting there. False when the cap is reached or
  // no sample is found: the result is then the cap.
  double maxD = 0.0;
  auto measure = [&](const double p[3], int o) {
    const GsrfCrv& other = *crv[o];
    const float key = static_cast<float>(AxisKey(g, axis, p[axis]));
    const int start = static_cast<int>(std::lower_bound(keys[o], keys[o] + cnt[o], key) - keys[o]);
    double best = kProbeWindow, best2 = kProbeWindow * kProbeWindow;
    int nearest = -1;
    auto probe = [&](int j) {
      double q[3];
      SamplePoint(g, ids[o][j], q);
      for (int a = 0; a < 3; ++a)
        if (std::fabs(q[a] - p[a]) > best) return;
      const double d2 = Dist2(p, q);
      if (d2 < best2) best2 = d2, best = std::sqrt(d2), nearest = ids[o][j];
    };
    for (int j = start; j < cnt[o] && keys[o][j] - key <= best; ++j) probe(j);
    for (int j = start - 1; j >= 0 && key - keys[o][j] <= best; --j) probe(j);
    if (nearest < 0) return false;
    double d2min = kEmptyBoxBound, tParam = 0.0, tSeg = 0.5;
    int seg = -1;
    for (int a = nearest - 1; a <= nearest; ++a) {
      if (a < other.firstSample || a + 1 > LastOf(other)) continue;
      double pa[3], pb[3], foot[3], d2, t;
      SamplePoint(g, a, pa);
      SamplePoint(g, a + 1, pb);
      LineSegPntMinDistSq(p, pa, pb, foot, &d2, &t);
      if (d2 < d2min) d2min = d2, tParam = t * g->t[a] + (1.0 - t) * g->t[a + 1], tSeg = t, seg = a;
    }
    if (d2min >= kEmptyBoxBound) return false;
    double d = std::sqrt(d2min);
    if (refine && d > maxD && d > g->gapTol) {
      const double exact = ClosestDistOnBndrCrv(crv[o], p, &tParam);
      if (exact >= 0.0) d = exact;
    }
    const bool pastFirst = seg == other.firstSample && tSeg >= 1.0;
    if (d > g->gapTol && (pastFirst || (seg + 1 == LastOf(other) && tSeg <= 0.0)))
      d = std::min(d, OffShortSideEnd(g, other, pastFirst, p));
    maxD = std::max(maxD, d);
    return maxD <= cap;
  };
  for (int s = 0; s < 2; ++s) {
    double p[3];
    for (int k = static_cast<int>(std::ceil(from[s])); k <= static_cast<int>(std::floor(to[s])); ++k) {
      SamplePoint(g, k, p);
      if (!measure(p, 1 - s)) return cap;
    }
    // A sector end between two samples (a T-junction cut) is measured where it lies, not at
    // the sample beyond it.
    for (double pos : {from[s], to[s]}) {
      const int k = static_cast<int>(std::floor(pos));
      if (pos == k || k >= LastOf(*crv[s])) continue;
      double a[3], b[3];
      SamplePoint(g, k, a);
      SamplePoint(g, k + 1, b);
      for (int i = 0; i < 3; ++i) p[i] = a[i] + (pos - k) * (b[i] - a[i]);
      if (!measure(p, 1 - s)) return cap;
    }
  }
  return maxD;
}

namespace {

// Length of curve `curve`'s sample polyline between sample positions p0 and p1 (in either order),
// ends between two samples where they lie.
double SectorLength(const Gsrf* g, int curve, double p0, double p1) {
  const GsrfCrv& c = g->crvs[curve];
  const int last = LastOf(c);
  const double from = std::clamp(std::min(p0, p1), double(c.firstSample), double(last));
  const double to = std::clamp(std::max(p0, p1), double(c.firstSample), double(last));
  auto at = [&](double pos, double q[3]) {
    const int k = std::min(static_cast<int>(std::floor(pos)), last - 1);
    double a[3], b[3];
    SamplePoint(g, k, a);
    SamplePoint(g, k + 1, b);
    for (int i = 0; i < 3; ++i) q[i] = a[i] + (pos - k) * (b[i] - a[i]);
  };
  if (last <= c.firstSample) return 0.0;
  double prev[3], q[3];
  at(from, prev);
  double length = 0.0;
  for (int k = static_cast<int>(std::floor(from)) + 1; k < to; ++k) {
    SamplePoint(g, k, q);
    length += VecDist3(prev, q);
    std::copy(q, q + 3, prev);
  }
  at(to, q);
  return length + VecDist3(prev, q);
}

// Unit direction into the surface square to its side at curve parameter t; false for a trim
// curve or where the surface's partials do not tell one.
bool InwardAcrossSide(const GsrfCrv& c, double t, double in[3]) {
  if (c.kind < 1 || c.kind > 4 || !c.srf) return false;
  const Bspline* s = c.srf;
  const bool alongV = c.kind == 1 || c.kind == 3;  // sides 1 and 3 run in v
  const double u = c.kind == 1 ? s->umin : c.kind == 3 ? s->umax : t;
  const double v = c.kind == 2 ? s->vmin : c.kind == 4 ? s->vmax : t;
  double along[3], across[3];
  Eval3DPointOnSurfArray(s, u, v, alongV ? 0 : 1, alongV ? 1 : 0, along);
  Eval3DPointOnSurfArray(s, u, v, alongV ? 1 : 0, alongV ? 0 : 1, across);
  const double sign = c.kind <= 2 ? 1.0 : -1.0;  // the min sides look up the parameter, the max sides down
  const double a2 = VecDotProd3(along, along);
  if (!(a2 > 0.0)) return false;
  const double k = VecDotProd3(across, along) / a2;
  for (int i = 0; i < 3; ++i) in[i] = sign * (across[i] - k * along[i]);
  const double len2 = VecDotProd3(in, in);
  // Against the partials squared, so that the test holds at every size.
  if (!(len2 > kFlatChord2 * a2)) return false;
  const double len = std::sqrt(len2);
  for (int i = 0; i < 3; ++i) in[i] /= len;
  return true;
}

}  // namespace

double CornerEndReach(double sideChord, double gapTol) {
  constexpr double kShortSideGaps = 8.0;  // a side shorter than this many gaps is a short side
  constexpr double kSplitReach = 2.0;     // gaps from a short side's end within which a corner is that end
  return sideChord < kShortSideGaps * gapTol ? kSplitReach * gapTol : gapTol;
}

double FindCrvParamValueTjunct(Gsrf* g, const double point[3], int curve, double pos) {
  GsrfCrv& c = g->crvs[curve];
  const double range = c.t1 - c.t0;
  if (c.nSample < 2 || range == 0.0) return 0.0;
  double t = c.t0 + (pos - c.firstSample) * range / (c.nSample - 1);
  ClosestPointOnBndrCrv(&c, point, &t);
  return (t - c.t0) / range;
}

int GetClosestSectorOnCrv(Gsrf* g, const GsrfBreak* cut, const GsrfBreak* sector, int curve) {
  GsrfCrv& c = g->crvs[curve];
  const double endPos = sector->next ? sector->next->pos : sector->pos;
  const int mid = std::clamp(static_cast<int>((sector->pos + endPos) / 2.0), 0, g->nSample - 1);
  double p[3];
  SamplePoint(g, mid, p);
  // A closed curve's first and last samples coincide with the corner: skip them.
  const int k0 = c.closed && c.nSample > 2 ? 1 : 0;
  const int k1 = c.closed && c.nSample > 2 ? c.nSample - 2 : c.nSample - 1;
  int index = k0;
  double best = kEmptyBoxBound;
  for (int k = k0; k <= k1; ++k) {
    double q[3];
    SamplePoint(g, c.firstSample + k, q);
    const double d2 = Dist2(p, q);
    if (d2 < best) best = d2, index = k;
  }
  const double range = c.t1 - c.t0;
  double t = c.t0 + range * kSamplePitch * index;
  ClosestPointOnBndrCrv(&c, p, &t);
  const double cutT = c.t0 + (cut->pos - c.firstSample) * kSamplePitch * range;
  return cutT < t ? 1 : 0;
}

namespace {

struct Foot {
  int seg;  // start sample of the segment
  int crv;
  double t;  // 1 at the segment's first sample, 0 at its second
  double d2;
};

// Working state of one ClosestCornersGsrf run. The records to keep are allocated here and
// handed to the graph only when the whole run succeeded.
class CornerMatcher {
 public:
  explicit CornerMatcher(Gsrf* g) : g_(g) {}

  bool Run();
  void Publish();
  void FreeScratch();

 private:
  bool BuildVertices();
  bool JoinSplitVertices();
  bool BuildBreakLists();
  bool PairSectors();
  bool TJunctions();
  bool FindFeet(int v, int window);
  int TryFoot(int v, int k, bool forceCut);
  bool UncrossPairs();
  bool MakeElements();
  void LinkPairs();

  double EndPos(int sample) const {
    return sample == LastOf(g_->crvs[crvOf_[sample]]) ? sample + kLastSampleOffset : sample;
  }
  void Point(int k, double p[3]) const { SamplePoint(g_, k, p); }
  GsrfBreak* InsertBreak(int curve, int vert, double pos, int state);
  GsrfBreak* EntryAt(int curve, double pos) const;
  GsrfBreak* SectorAt(int curve, double pos) const;
  GsrfBreak* PrevEntry(int curve, const GsrfBreak* e) const;
  bool AddPair(const GsrfPair& p);
  bool FeetConflict(const Foot& a, const Foot& b) {
    return a.crv == b.crv && (std::abs(a.seg - b.seg) <= kNearSamples || isSameDirection(g_, a.seg, b.seg, a.crv));
  }
  bool RejectFoot(int v, const Foot& f);
  // How far from the end of the curve holding end sample k a corner may lie and be that end.
  double EndReach(int k) const {
    const GsrfCrv& c = g_->crvs[crvOf_[k]];
    double a[3], b[3];
    Point(c.firstSample, a);
    Point(LastOf(c), b);
    return CornerEndReach(std::sqrt(Dist2(a, b)), g_->gapTol);
  }
  // Pairs are made only within the gap: a zero gap pairs nothing.
  bool Within(double d) const { return g_->gapTol > 0.0 && d >= 0.0 && d <= g_->gapTol; }
  bool LiesOnEachOther(const GsrfPair& p) const;
  // Two sides of one net that meet at its corner (a u side and a v side). A short side that the
  // damage laid along its neighbour's end (a sphere's patch beside its pole) runs within the gap
  // of it all along, but a surface is never sewn to itself across its own corner; its own seam
  // joins opposite sides.
  bool AdjacentSidesOfOneSurface(int a, int b) const {
    const GsrfCrv& A = g_->crvs[a];
    const GsrfCrv& B = g_->crvs[b];
    const bool sides = A.kind >= 1 && A.kind <= 4 && B.kind >= 1 && B.kind <= 4;
    return A.srfId == B.srfId && sides && (A.kind + B.kind) % 2 == 1;
  }
  // A pair's sample position as a fraction of its curve, comparable with the break fractions.
  double Frac(int curve, double pos) const {
    const GsrfCrv& c = g_->crvs[curve];
    return c.nSample < 2 ? 0.0 : std::clamp((pos - c.firstSample) / (c.nSample - 1), 0.0, 1.0);
  }

  Gsrf* g_;
  double r_ = 0.0;     // clustering and pairing radius
  double rT_ = 0.0;    // T-junction radius
  int axis_ = 0;       // sweep axis of the curve ends
  int nEnds_ = 0;
  // scratch
  int* crvOf_ = nullptr;
  unsigned char* flags_ = nullptr;
  unsigned char* endsHere_ = nullptr;  // per curve: ends at the vertex in hand
  double* origPos_ = nullptr;          // per break: its sample position before it became a fraction
  int* elStart_ = nullptr;             // per element: pool index of its start entry
  int* crvFirstEl_ = nullptr;          // per curve (and one past the last): its first element
  int* vOrder_ = nullptr;              // vertices sorted by centroid sweep coordinate
  int* segIds_ = nullptr;              // free polyline segments (start sample) ...
  float* segKeys_ = nullptr;           // ... sorted by their smaller sweep coordinate
  int nSegs_ = 0;
  // kept
  GsrfVertex* verts_ = nullptr;
  int nVert_ = 0;
  int capVert_ = 0;
  GsrfCornerVert* members_ = nullptr;
  GsrfBreak** heads_ = nullptr;
  GsrfBreak* breaks_ = nullptr;
  int nBreak_ = 0;
  int capBreak_ = 0;
  GsrfPair* pairs_ = nullptr;
  int nPair_ = 0;
  int capPair_ = 0;
  GsrfBndrEl* els_ = nullptr;
  int nEl_ = 0;
};

GsrfBreak* CornerMatcher::InsertBreak(int curve, int vert, double pos, int state) {
  if (nBreak_ >= capBreak_) return nullptr;  // cannot happen: the pool is sized for all feet
  GsrfBreak* b = &breaks_[nBreak_++];
  b->vert = vert;
  b->state = state;
  b->pos = pos;
  // Ascending; a new entry goes before entries of equal position.
  GsrfBreak** at = &heads_[curve];
  while (*at && (*at)->pos < pos) at = &(*at)->next;
  b->next = *at;
  *at = b;
  return b;
}

GsrfBreak* CornerMatcher::EntryAt(int curve, double pos) const {
  for (GsrfBreak* e = heads_[curve]; e; e = e->next)
    if (e->pos == pos) return e;
  return nullptr;
}

GsrfBreak* CornerMatcher::SectorAt(int curve, double pos) const {
  for (GsrfBreak* e = heads_[curve]; e && e->next; e = e->next)
    if (e->pos <= pos && pos < e->next->pos) return e;
  return nullptr;
}

GsrfBreak* CornerMatcher::PrevEntry(int curve, const GsrfBreak* e) const {
  for (GsrfBreak* p = heads_[curve]; p; p = p->next)
    if (p->next == e) return p;
  return nullptr;
}

bool CornerMatcher::AddPair(const GsrfPair& p) {
  if (nPair_ == capPair_) {
    const int cap = std::max(2 * capPair_, 16);
    auto* grown = ReallocArray(pairs_, cap);
    if (!grown || KernelFailed()) return false;
    pairs_ = grown;
    capPair_ = cap;
  }
  pairs_[nPair_++] = p;
  return true;
}

bool CornerMatcher::Run() {
  const int nS = g_->nSample;
  if (nS < 4 || !g_->x) return false;
  crvOf_ = MallocArray<int>(nS);
  flags_ = MallocArray<unsigned char>(nS);
  if (!crvOf_ || !flags_ || KernelFailed()) return false;
  for (int c = 0; c < g_->nCrv; ++c)
    for (int k = g_->crvs[c].firstSample; k <= LastOf(g_->crvs[c]); ++k) crvOf_[k] = c;
  nEnds_ = GetCornerVertsGsrf(g_, flags_);
  if (nEnds_ < 1) return false;
  r_ = 1.4142136 * g_->gapTol;
  rT_ = g_->gapTol + std::max(g_->maxDev, 0.0);
  if (!BuildVertices() || !JoinSplitVertices() || !BuildBreakLists() || !PairSectors() || !TJunctions()) return false;
  if (!UncrossPairs() || !MakeElements()) return false;
  LinkPairs();
  return !KernelFailed();
}

// Clusters the curve ends into corner vertices by a sweep along the widest axis.
bool CornerMatcher::BuildVertices() {
  int* ends = MallocArray<int>(nEnds_);
  float* keys = MallocArray<float>(nEnds_);
  unsigned char* taken = CallocArray<unsigned char>(nEnds_);
  members_ = CallocArray<GsrfCornerVert>(nEnds_);
  capVert_ = std::max(nEnds_ / 4, 10);
  verts_ = CallocArray<GsrfVertex>(capVert_);
  if (!ends || !keys || !taken || !members_ || !verts_ || KernelFailed()) return false;
  int n = 0;
  for (int k = 0; k < g_->nSample; ++k)
    if (flags_[k]) ends[n++] = k;
  axis_ = WidestAxis(g_, ends, n);
  const float* ax = AxisArray(g_, axis_);
  for (int i = 0; i < n; ++i) keys[i] = ax[ends[i]];
  HeapSortFloatInt(n, keys, ends);

  const double gap2x2 = 2.0 * g_->gapTol * g_->gapTol;
  int nMember = 0;
  for (int a = 0; a < n; ++a) {
    if (BreakRequested(a)) return false;
    if (taken[a]) continue;
    if (nVert_ == capVert_) {
      const int cap = 2 * capVert_;
      auto* grown = ReallocArray(verts_, cap);
      if (!grown || KernelFailed()) return false;
      std::memset(static_cast<void*>(grown + capVert_), 0, static_cast<size_t>(cap - capVert_) * sizeof(GsrfVertex));
      verts_ = grown;
      capVert_ = cap;
    }
    GsrfVertex& v = verts_[nVert_];
    double p[3];
    Point(ends[a], p);
    for (int k = 0; k < 3; ++k) v.c[k] = v.lo[k] = v.hi[k] = p[k];
    v.nMember = 1;
    members_[nMember].sample = ends[a];
    v.members = &members_[nMember];
    GsrfCornerVert* tail = v.members;
    ++nMember;
    taken[a] = 1;
    // Every end before a is taken, so the scan can start right after the seed.
    for (int b = a + 1; b < n; ++b) {
      if (keys[b] - r_ > AxisKey(g_, axis_, v.hi[axis_])) break;
      if (taken[b]) continue;
      double q[3], o[3];
      Point(ends[b], q);
      VecDiff3(q, v.hi, o);  // measured from the largest corner, as the vertex grows
      if (std::fabs(o[0]) > r_ || std::fabs(o[1]) > r_ || std::fabs(o[2]) > r_ || VecDotProd3(o, o) >= gap2x2)
        continue;
      // An end beyond the largest gap from the vertex's centre is another vertex: two boxes'
      // corners a little more than the gap apart (a face's edge standing short of its
      // neighbour's) would otherwise be pulled together, and with them the sides that run
      // from them, which were never a seam.
      VecDiff3(q, v.c, o);
      if (VecDotProd3(o, o) > g_->gapTol * g_->gapTol) continue;
      for (int k = 0; k < 3; ++k) {
        v.c[k] = (v.nMember * v.c[k] + q[k]) / (v.nMember + 1);
        v.lo[k] = std::min(v.lo[k], q[k]);
        v.hi[k] = std::max(v.hi[k], q[k]);
      }
      ++v.nMember;
      taken[b] = 1;
      members_[nMember].sample = ends[b];
      tail->next = &members_[nMember];
      tail = tail->next;
      ++nMember;
    }
    ++nVert_;
  }
  Free(ends);
  Free(keys);
  Free(taken);
  return true;
}

// The sweep seeds each vertex at its first end along the axis, so the corners of three or more
// faces that the damage spread about their common point (each within the gap of the centre, not
// all of the first) can fall into two vertices, and the sides between them are then never
// paired. Two vertices join where an end of one lies within reach of an end of the other (the
// gap, or twice it at a short side's end, as CornerEndReach reads that end) and every end of both
// lies within the gap of their joint centre; never where a curve runs from one to the other,
// which would collapse it. Two lone corners farther apart than that stay apart.
bool CornerMatcher::JoinSplitVertices() {
  const double gap2 = g_->gapTol * g_->gapTol;
  auto linked = [&](const GsrfVertex& a, const GsrfVertex& b) {
    for (const GsrfCornerVert* m = a.members; m; m = m->next) {
      double p[3];
      Point(m->sample, p);
      const double reachM = EndReach(m->sample);
      for (const GsrfCornerVert* k = b.members; k; k = k->next) {
        double q[3];
        Point(k->sample, q);
        const double reach = std::max(reachM, EndReach(k->sample));
        if (Dist2(p, q) <= reach * reach) return true;
      }
    }
    return false;
  };
  auto sharesCurve = [&](const GsrfVertex& a, const GsrfVertex& b) {
    for (const GsrfCornerVert* m = a.members; m; m = m->next)
      for (const GsrfCornerVert* k = b.members; k; k = k->next)
        if (crvOf_[m->sample] == crvOf_[k->sample]) return true;
    return false;
  };
  auto withinCentre = [&](const GsrfVertex& a, const GsrfVertex& b, double c[3]) {
    const int n = a.nMember + b.nMember;
    for (int k = 0; k < 3; ++k) c[k] = (a.nMember * a.c[k] + b.nMember * b.c[k]) / n;
    for (const GsrfVertex* v : {&a, &b})
      for (const GsrfCornerVert* m = v->members; m; m = m->next) {
        double p[3];
        Point(m->sample, p);
        if (Dist2(p, c) > gap2) return false;
      }
    return true;
  };
  bool joined = true;
  while (joined) {
    joined = false;
    for (int a = 0; a < nVert_; ++a) {
      if (BreakRequested(a)) return false;
      GsrfVertex& va = verts_[a];
      if (va.nMember == 0) continue;
      for (int b = a + 1; b < nVert_; ++b) {
        GsrfVertex& vb = verts_[b];
        // Vertices stand in the order of their seeds, each its smallest end along the axis.
        if (vb.lo[axis_] > va.hi[axis_] + g_->gapTol) break;
        if (vb.nMember == 0) continue;
        double c[3];
        if (Dist2(va.c, vb.c) > 4.0 * gap2 || !linked(va, vb) || sharesCurve(va, vb) || !withinCentre(va, vb, c))
          continue;
        GsrfCornerVert* tail = va.members;
        while (tail->next) tail = tail->next;
        tail->next = vb.members;
        for (int k = 0; k < 3; ++k) {
          va.c[k] = c[k];
          va.lo[k] = std::min(va.lo[k], vb.lo[k]);
          va.hi[k] = std::max(va.hi[k], vb.hi[k]);
        }
        va.nMember += vb.nMember;
        vb.nMember = 0;
        vb.members = nullptr;
        joined = true;
      }
    }
  }
  int n = 0;
  for (int v = 0; v < nVert_; ++v)
    if (verts_[v].nMember > 0) verts_[n++] = verts_[v];
  nVert_ = n;
  return true;
}

// One break entry per curve end; curves that fold onto one vertex are collapsed.
bool CornerMatcher::BuildBreakLists() {
  // Every end makes one entry and every T-junction foot at most one more.
  capBreak_ = nEnds_ + kFeetPerVertex * nVert_;
  breaks_ = CallocArray<GsrfBreak>(capBreak_);
  heads_ = CallocArray<GsrfBreak*>(g_->nCrv);
  origPos_ = MallocArray<double>(capBreak_);
  if (!breaks_ || !heads_ || !origPos_ || KernelFailed()) return false;
  for (int v = 0; v < nVert_; ++v)
    for (GsrfCornerVert* m = verts_[v].members; m; m = m->next)
      InsertBreak(crvOf_[m->sample], v, EndPos(m->sample), 0);

  for (int ci = 0; ci < g_->nCrv; ++ci) {
    GsrfBreak* h = heads_[ci];
    if (!h || !h->next || h->vert != h->next->vert) continue;
    const GsrfCrv& c = g_->crvs[ci];
    const int first = c.firstSample, last = LastOf(c);
    double p0[3], p1[3], d0[3];
    Point(first, p0);
    Point(first + 1, p1);
    VecDiff3(p1, p0, d0);
    bool turnsBack = false;
    for (int k = first + 1; k < last && !turnsBack; ++k) {
      double a[3], b[3], d[3];
      Point(k, a);
      Point(k + 1, b);
      turnsBack = VecDotProd3(VecDiff3(b, a, d), d0) < 0.0;
    }
    if (turnsBack) continue;
    GsrfVertex& v = verts_[h->vert];
    for (GsrfCornerVert** m = &v.members; *m;) {
      if ((*m)->sample == first || (*m)->sample == last) {
        *m = (*m)->next;
        --v.nMember;
      } else {
        m = &(*m)->next;
      }
    }
    h->state = -1;
  }
  return true;
}

// Pairs every curve's single sector with a sector of another curve joining the same
// two vertices within the gap.
bool CornerMatcher::PairSectors() {
  for (int a = 0; a < g_->nCrv; ++a) {
    if (BreakRequested(a)) return false;
    const GsrfCrv& A = g_->crvs[a];
    GsrfBreak* ha = heads_[a];
    if (!ha) {
      // A curve left without samples is recorded as unpaired; such a pair links nothing.
      const GsrfPair none = {a, -2, double(A.firstSample), double(A.firstSample), 0.0, 0.0, -1, -1, -1, -1, -1};
      if (!AddPair(none)) return false;
      continue;
    }
    if (ha->state != 0 || !ha->next) continue;
    const int c1 = ha->vert, c2 = ha->next->vert;
    GsrfPair best{};
    double bestD = 0.0;
    bool have = false;
    int nb = -1;  // same-surface neighbour joining the same two vertices
    double nbPos[2] = {0.0, 0.0};
    for (GsrfCornerVert* m = verts_[c1].members; m; m = m->next) {
      const int b = crvOf_[m->sample];
      if (b == a || !heads_[b] || heads_[b]->state != 0) continue;
      GsrfCornerVert* m2 = verts_[c2].members;
      while (m2 && (crvOf_[m2->sample] != b || m2 == m)) m2 = m2->next;
      if (!m2) continue;
      const GsrfCrv& B = g_->crvs[b];
      const auto noSamples = [this](int id) { return g_->crvs[id].nSample == 0; };
      if (B.srfId == A.srfId && (b == A.prev || b == A.next ||
                                 (noSamples(A.prev) && noSamples(A.next) && noSamples(B.prev) && noSamples(B.next)))) {
        if (nb < 0) nb = b, nbPos[0] = EndPos(m->sample), nbPos[1] = EndPos(m2->sample);
        continue;
      }
      const GsrfPair cand = {a, b, ha->pos, ha->next->pos, EndPos(m->sample), EndPos(m2->sample), c1, c2, -1, -1, -1};
      double d = FindMaxDistPair(g_, &cand, 1);
      if (KernelFailed()) return false;
      if (d < 0.0) d = kEmptyBoxBound;
      if (!have ? Within(d) : d < bestD) {
        if (have) heads_[best.crvB]->state = 0;
        have = true;
        best = cand;
        bestD = d;
        ha->state = 1;
        heads_[b]->state = 1;
      }
    }
    if (!have) continue;
    if (nb >= 0) {
      // When A's neighbour on its own surface lies nearer to B, A steps back so that the
      // neighbour takes B when its turn comes.
      const GsrfPair rival = {nb, best.crvB, nbPos[0], nbPos[1], best.b0, best.b1, c1, c2, -1, -1, -1};
      double d = FindMaxDistPair(g_, &rival, 1);
      if (KernelFailed()) return false;
      if (d < 0.0) d = kEmptyBoxBound;
      if (d < bestD) {
        ha->state = 0;
        heads_[best.crvB]->state = 0;
        continue;
      }
    }
    if (!AddPair(best)) return false;
  }
  return true;
}

// Feet of vertex v that must not cut their curve: near an end of a curve ending at v, or on
// a polyline vertex that belongs to the neighbouring segment, or hard at a curve's end.
bool CornerMatcher::RejectFoot(int v, const Foot& f) {
  const GsrfCrv& c = g_->crvs[f.crv];
  const int first = c.firstSample, last = LastOf(c), k = f.seg;
  if (endsHere_[f.crv]) {
    for (GsrfCornerVert* m = verts_[v].members; m; m = m->next) {
      if (crvOf_[m->sample] != f.crv) continue;
      if (std::abs(k - m->sample) <= kNearSamples || isSameDirection(g_, k, m->sample, f.crv)) return true;
    }
  }
  double cpt[3];
  std::memcpy(cpt, verts_[v].c, sizeof cpt);
  const double size = SizeOf(c), point2 = kPointChord2 * size * size;
  // Parameter of the centroid's projection on the chord from sample i to sample j.
  auto chordParam = [&](int i, int j) {
    double a[3], b[3], d[3], e[3];
    Point(i, a);
    Point(j, b);
    VecDiff3(b, a, d);
    const double l2 = VecDotProd3(d, d);
    return l2 < point2 ? 0.5 : VecDotProd3(VecDiff3(cpt, a, e), d) / l2;
  };
  // A foot on a polyline vertex belongs to one of the two segments meeting there.
  if (f.t == 0.0 && (k + 1 == last || chordParam(k, k + 2) >= 1.0)) return true;
  if (f.t == 1.0 && (k == first || chordParam(k - 1, k + 1) <= 0.0)) return true;
  if (f.t > 0.9 && k == first) return true;
  if (f.t < 0.1 && k + 1 == last) return true;
  return false;
}

// Stores in vertex v the nearest (at most four) feet of its centroid on free curves.
bool CornerMatcher::FindFeet(int v, int window) {
  GsrfVertex& vert = verts_[v];
  const double* C = vert.c;
  Foot held[kFeetPerVertex];
  int nHeld = 0;
  double radius = rT_, limit2 = rT_ * rT_;
  for (int s = window; s < nSegs_; ++s) {
    if (segKeys_[s] - radius > AxisKey(g_, axis_, C[axis_])) break;
    const int k = segIds_[s];
    double a[3], b[3];
    Point(k, a);
    Point(k + 1, b);
    bool inBox = true;
    for (int i = 0; i < 3 && inBox; ++i)
      inBox = std::min(a[i], b[i]) - radius <= C[i] && std::max(a[i], b[i]) + radius >= C[i];
    if (!inBox) continue;
    Foot f{k, crvOf_[k], 0.0, 0.0};
    double foot[3];
    LineSegPntMinDistSq(C, a, b, foot, &f.d2, &f.t);
    if (!(f.d2 < limit2) || RejectFoot(v, f)) continue;
    // Keep at most four in ascending distance; a foot yields to a nearer one on the same
    // stretch of the same curve.
    bool dropped = false;
    for (int h = 0; h < nHeld && !dropped; ++h) dropped = held[h].d2 <= f.d2 && FeetConflict(held[h], f);
    if (dropped) continue;
    int kept = 0;
    Foot next[kFeetPerVertex + 1];
    bool placed = false;
    for (int h = 0; h < nHeld; ++h) {
      if (!placed && f.d2 < held[h].d2) next[kept++] = f, placed = true;
      if (placed && FeetConflict(f, held[h])) continue;
      next[kept++] = held[h];
    }
    if (!placed) next[kept++] = f;
    nHeld = std::min(kept, kFeetPerVertex);
    std::copy(next, next + nHeld, held);
    // With four held, a newcomer must beat the fourth.
    limit2 = nHeld == kFeetPerVertex ? held[kFeetPerVertex - 1].d2 : rT_ * rT_;
    radius = std::sqrt(limit2);
  }
  for (int h = 0; h < nHeld && vert.nFoot < kFeetPerVertex; ++h) {
    bool repeats = false;
    for (int k = 0; k < vert.nFoot && !repeats; ++k) {
      const Foot stored{vert.footSeg[k], crvOf_[vert.footSeg[k]], vert.footFrac[k], 0.0};
      repeats = FeetConflict(stored, held[h]);
    }
    if (repeats) continue;
    vert.footSeg[vert.nFoot] = held[h].seg;
    vert.footFrac[vert.nFoot] = held[h].t;
    vert.footUsed[vert.nFoot] = 0;
    ++vert.nFoot;
  }
  return !KernelFailed();
}

// Pairs the parts of the cut sector with free sectors of the curves that
// end at the vertex. With forceCut the foot becomes a break even when nothing pairs. Returns
// the number of pairs made, or -1 on failure.
int CornerMatcher::TryFoot(int v, int k, bool forceCut) {
  GsrfVertex& vert = verts_[v];
  const int crv = crvOf_[vert.footSeg[k]];
  const double P = vert.footSeg[k] + 1.0 - vert.footFrac[k];
  GsrfBreak* e = SectorAt(crv, P);
  if (!e || e->state != 0) return 0;  // the foot lies on a paired sector: discarded
  GsrfBreak* eEnd = e->next;
  GsrfBreak* cut = nullptr;
  auto makeCut = [&]() {
    if (!cut) cut = InsertBreak(crv, v, P, 0), vert.footUsed[k] = 1;
    return cut != nullptr;
  };
  if (forceCut && !makeCut()) return 0;
  int made = 0;
  for (GsrfCornerVert* m = vert.members; m; m = m->next) {
    const int d = crvOf_[m->sample];
    if (d == crv || AdjacentSidesOfOneSurface(crv, d)) continue;
    GsrfBreak* ed = EntryAt(d, EndPos(m->sample));
    if (!ed) continue;
    // D's sector touching the vertex, and the vertex at its far end.
    GsrfBreak* ds = ed->next ? ed : PrevEntry(d, ed);
    if (!ds || ds->state != 0) continue;
    const GsrfBreak* far = ed->next ? ed->next : ds;
    int side;
    if (e->vert == eEnd->vert) {
      if (far->vert != e->vert) continue;
      const GsrfBreak probe{nullptr, v, 0, P};
      side = GetClosestSectorOnCrv(g_, &probe, ds, crv) ? 1 : 0;
    } else if (far->vert == e->vert) {
      side = 0;
    } else if (far->vert == eEnd->vert) {
      side = 1;
    } else {
      continue;
    }
    if (side == 0 ? e->state != 0 : cut && cut->state != 0) continue;  // each side pairs once
    GsrfPair p;
    if (side == 0)
      p = {crv, d, e->pos, P, far->pos, ed->pos, e->vert, v, -1, -1, -1};
    else
      p = {crv, d, P, eEnd->pos, ed->pos, far->pos, v, eEnd->vert, -1, -1, -1};
    // Where the two surfaces lie on each other the vertex lies on the other surface, not on its
    // side: the sides run together only as far as the surfaces overlap.
    if (LiesOnEachOther(p)) continue;
    // Two sides that only touch at a corner lie within the gap of each other as far as the gap
    // reaches from it, at any angle between them: pieces of both no longer than twice the gap
    // are that contact, not a seam.
    const double stub = 2.0 * g_->gapTol;
    if (SectorLength(g_, p.crvA, p.a0, p.a1) <= stub && SectorLength(g_, p.crvB, p.b0, p.b1) <= stub) continue;
    // The vertex lies near the cut curve, but the two sides may still part along their length.
    const double dist = FindMaxDistPair(g_, &p, 1);
    if (KernelFailed()) return -1;
    if (!Within(dist)) continue;
    if (!makeCut()) return made;
    (side == 0 ? e : cut)->state = 1;
    ds->state = 1;
    if (!AddPair(p)) return -1;
    ++made;
  }
  return made;
}

// Vertices lying on the inside of free curves cut them.
bool CornerMatcher::TJunctions() {
  const float* ax = AxisArray(g_, axis_);
  // Segments of every curve still free, keyed by their smaller sweep coordinate.
  nSegs_ = 0;
  for (int c = 0; c < g_->nCrv; ++c)
    if (heads_[c] && heads_[c]->state == 0) nSegs_ += g_->crvs[c].nSample - 1;
  endsHere_ = CallocArray<unsigned char>(g_->nCrv);
  vOrder_ = MallocArray<int>(nVert_);
  float* vKeys = MallocArray<float>(nVert_);
  if (!endsHere_ || !vOrder_ || !vKeys || KernelFailed()) return false;
  if (nSegs_ > 0) {
    segIds_ = MallocArray<int>(nSegs_);
    segKeys_ = MallocArray<float>(nSegs_);
    if (!segIds_ || !segKeys_ || KernelFailed()) return false;
  }
  int s = 0;
  for (int c = 0; c < g_->nCrv; ++c) {
    if (!heads_[c] || heads_[c]->state != 0) continue;
    for (int k = g_->crvs[c].firstSample; k < LastOf(g_->crvs[c]); ++k) {
      segIds_[s] = k;
      segKeys_[s++] = std::min(ax[k], ax[k + 1]);
    }
  }
  HeapSortFloatInt(nSegs_, segKeys_, segIds_);
  for (int v = 0; v < nVert_; ++v) vOrder_[v] = v, vKeys[v] = static_cast<float>(verts_[v].c[axis_]);
  HeapSortFloatInt(nVert_, vKeys, vOrder_);
  Free(vKeys);

  auto takesPart = [this](int v) {
    for (GsrfCornerVert* m = verts_[v].members; m; m = m->next)
      if (heads_[crvOf_[m->sample]]->state == 0) return true;
    return false;
  };
  int window = 0;
  for (int i = 0; i < nVert_ && nSegs_ > 0; ++i) {
    if (BreakRequested(i)) return false;
    const int v = vOrder_[i];
    if (!takesPart(v)) continue;
    const double cax = AxisKey(g_, axis_, verts_[v].c[axis_]);
    while (window < nSegs_ && std::max(ax[segIds_[window]], ax[segIds_[window] + 1]) + rT_ < cax) ++window;
    if (window >= nSegs_) break;
    for (GsrfCornerVert* m = verts_[v].members; m; m = m->next) endsHere_[crvOf_[m->sample]] = 1;
    const bool ok = FindFeet(v, window);
    for (GsrfCornerVert* m = verts_[v].members; m; m = m->next) endsHere_[crvOf_[m->sample]] = 0;
    if (!ok) return false;
  }

  // Passes over the feet while a pass pairs something; then the remaining feet become plain
  // cuts and their new sectors are offered once more.
  for (int pass = 0, made = 1; made > 0; ++pass) {
    if (BreakRequested(pass)) return false;
    made = 0;
    for (int i = 0; i < nVert_; ++i) {
      const int v = vOrder_[i];
      for (int k = 0; k < verts_[v].nFoot; ++k) {
        if (verts_[v].footUsed[k]) continue;
        const int r = TryFoot(v, k, false);
        if (r < 0) return false;
        made += r;
      }
    }
  }
  for (int i = 0; i < nVert_; ++i) {
    const int v = vOrder_[i];
    for (int k = 0; k < verts_[v].nFoot; ++k)
      if (!verts_[v].footUsed[k] && TryFoot(v, k, true) < 0) return false;
  }
  return true;
}

// Whether the pair's two surfaces lie on each other along it: each turns into itself from its
// side the same way (within 30 degrees on average at a quarter, the middle and three quarters), as
// a surface folded back onto the other does. Surfaces meeting at a seam turn away from each other
// (opposite ways where smooth, square at a right-angled crease).
bool CornerMatcher::LiesOnEachOther(const GsrfPair& p) const {
  constexpr double kSameWay = 0.86602540378;  // cos 30 degrees
  const GsrfCrv& A = g_->crvs[p.crvA];
  const GsrfCrv& B = g_->crvs[p.crvB];
  auto paramAt = [this](const GsrfCrv& c, double pos) {
    pos = std::clamp(pos, double(c.firstSample), double(LastOf(c)));
    const int k = std::min(static_cast<int>(std::floor(pos)), LastOf(c) - 1);
    return double(g_->t[k]) + (pos - k) * (double(g_->t[k + 1]) - double(g_->t[k]));
  };
  if (A.nSample < 2 || B.nSample < 2) return false;
  double sum = 0.0;
  for (const double f : {0.25, 0.5, 0.75}) {
    double ia[3], ib[3];
    if (!InwardAcrossSide(A, paramAt(A, p.a0 + f * (p.a1 - p.a0)), ia) ||
        !InwardAcrossSide(B, paramAt(B, p.b0 + f * (p.b1 - p.b0)), ib))
      return false;
    sum += VecDotProd3(ia, ib);
  }
  return sum > 3.0 * kSameWay;
}

// Two pairs joining the same two curves between the same two vertices swap
// their B sides when that makes the worse of the two nearer.
bool CornerMatcher::UncrossPairs() {
  // Only pairs on the same two curves can cross: bucket them by their smaller curve id.
  int* keys = MallocArray<int>(nPair_);
  int* order = MallocArray<int>(nPair_);
  if (nPair_ > 0 && (!keys || !order || KernelFailed())) return false;
  for (int i = 0; i < nPair_; ++i) keys[i] = std::min(pairs_[i].crvA, pairs_[i].crvB), order[i] = i;
  HeapSort2Int(nPair_, keys, order);
  // B positions of one pair at the other pair's A vertices.
  auto bAt = [](const GsrfPair& from, const GsrfPair& to, double* b0, double* b1) {
    const bool flip = to.v0 != to.v1 && from.v0 != to.v0;
    *b0 = flip ? from.b1 : from.b0;
    *b1 = flip ? from.b0 : from.b1;
  };
  for (int lo = 0, hi = 0; lo < nPair_; lo = hi) {
    while (hi < nPair_ && keys[hi] == keys[lo]) ++hi;
    HeapIntSort(hi - lo, order + lo);  // pair order within the bucket
    for (int x = lo; x < hi; ++x) {
      GsrfPair& p = pairs_[order[x]];
      if (p.crvB < 0) continue;
      for (int y = x + 1; y < hi; ++y) {
        GsrfPair q = pairs_[order[y]];
        if (q.crvB < 0) continue;
        const bool sameCurves = (q.crvA == p.crvA && q.crvB == p.crvB) || (q.crvA == p.crvB && q.crvB == p.crvA);
        const bool sameVerts = (q.v0 == p.v0 && q.v1 == p.v1) || (q.v0 == p.v1 && q.v1 == p.v0);
        if (!sameCurves || !sameVerts) continue;
        if (q.crvA != p.crvA) {  // look at q from p's curve A
          std::swap(q.crvA, q.crvB);
          std::swap(q.a0, q.b0);
          std::swap(q.a1, q.b1);
        }
        GsrfPair pc = p, qc = q;
        bAt(q, p, &pc.b0, &pc.b1);
        bAt(p, q, &qc.b0, &qc.b1);
        const double straight = std::max(FindMaxDistPair(g_, &p, 1), FindMaxDistPair(g_, &q, 1));
        const double crossed = std::max(FindMaxDistPair(g_, &pc, 1), FindMaxDistPair(g_, &qc, 1));
        if (crossed < straight) {
          p = pc;
          pairs_[order[y]] = qc;
        }
      }
    }
  }
  Free(keys);
  Free(order);
  return !KernelFailed();
}

// Break positions become fractions of the curve range, and every two
// consecutive entries make one element.
bool CornerMatcher::MakeElements() {
  for (int i = 0; i < nBreak_; ++i) origPos_[i] = breaks_[i].pos;
  int total = 0;
  for (int c = 0; c < g_->nCrv; ++c) {
    GsrfBreak* h = heads_[c];
    if (!h) continue;
    double floor = 0.0;
    for (GsrfBreak* e = h; e; e = e->next) {
      if (e == h) {
        e->pos = 0.0;
      } else if (!e->next) {
        e->pos = 1.0;
      } else {
        // A cut sits at the projection of its vertex; kept in order so no element runs backwards.
        e->pos = std::clamp(FindCrvParamValueTjunct(g_, verts_[e->vert].c, c, e->pos), floor, 1.0);
      }
      floor = e->pos;
      if (e->next) ++total;
    }
  }
  if (KernelFailed()) return false;
  els_ = CallocArray<GsrfBndrEl>(total);
  elStart_ = MallocArray<int>(total);
  crvFirstEl_ = MallocArray<int>(g_->nCrv + 1);
  if (!crvFirstEl_ || (total > 0 && (!els_ || !elStart_)) || KernelFailed()) return false;
  int id = 0;
  for (int c = 0; c < g_->nCrv; ++c) {
    GsrfCrv& cr = g_->crvs[c];
    crvFirstEl_[c] = id;
    GsrfBndrEl* prev = nullptr;
    for (GsrfBreak* e = heads_[c]; e && e->next; e = e->next) {
      GsrfBndrEl& el = els_[id];
      el.id = id;
      el.prev = prev;
      if (prev) prev->next = &el;
      el.crv = &cr;
      el.srfId = cr.srfId;
      el.t0 = cr.t0 + (cr.t1 - cr.t0) * e->pos;
      el.t1 = cr.t0 + (cr.t1 - cr.t0) * e->next->pos;
      el.orient = 1;
      el.v0 = e->vert;
      el.v1 = e->next->vert;
      elStart_[id] = static_cast<int>(e - breaks_);
      prev = &el;
      ++id;
    }
  }
  crvFirstEl_[g_->nCrv] = id;
  nEl_ = total;
  return true;
}

// Links the two elements of every pair. A pair that finds no free element joining its
// two vertices on one of its curves stays unlinked.
void CornerMatcher::LinkPairs() {
  auto choose = [this](int curve, const GsrfPair& p, double f0, double f1) -> GsrfBndrEl* {
    GsrfBndrEl* pick = nullptr;
    double bestScore = kEmptyBoxBound;
    for (int i = crvFirstEl_[curve]; i < crvFirstEl_[curve + 1]; ++i) {
      GsrfBndrEl& el = els_[i];
      if (el.partner) continue;
      if (!((el.v0 == p.v0 && el.v1 == p.v1) || (el.v0 == p.v1 && el.v1 == p.v0))) continue;
      const double e0 = breaks_[elStart_[i]].pos, e1 = breaks_[elStart_[i]].next->pos;
      const double score = std::min(std::fabs(e0 - f0) + std::fabs(e1 - f1), std::fabs(e0 - f1) + std::fabs(e1 - f0));
      if (score <= bestScore) bestScore = score, pick = &el;  // the later one on a tie
    }
    return pick;
  };
  auto firstSegment = [this](const GsrfBndrEl& el, double d[3]) {
    const GsrfCrv& c = *el.crv;
    const int k = std::min(static_cast<int>(origPos_[elStart_[el.id]]), LastOf(c) - 1);
    double a[3], b[3];
    Point(k, a);
    Point(k + 1, b);
    VecDiff3(b, a, d);
  };
  for (int i = 0; i < nPair_; ++i) {
    GsrfPair& p = pairs_[i];
    if (p.crvB < 0) continue;
    GsrfBndrEl* ea = choose(p.crvA, p, Frac(p.crvA, p.a0), Frac(p.crvA, p.a1));
    GsrfBndrEl* eb = choose(p.crvB, p, Frac(p.crvB, p.b0), Frac(p.crvB, p.b1));
    if (!ea || !eb) continue;
    int orient;
    if (p.v0 != p.v1) {
      orient = ea->v0 == eb->v0 ? 1 : 0;
    } else {
      double da[3], db[3];
      firstSegment(*ea, da);
      firstSegment(*eb, db);
      orient = VecDotProd3(da, db) >= 0.0 ? 1 : 0;
    }
    const double d = FindMaxDistPair(g_, &p, 1);
    ea->partner = eb;
    eb->partner = ea;
    ea->orient = eb->orient = orient;
    ea->maxDist = eb->maxDist = d;
    p.elA = ea->id;
    p.elB = eb->id;
  }
}

void CornerMatcher::FreeScratch() {
  void* scratch[] = {crvOf_, flags_, endsHere_, origPos_, elStart_, crvFirstEl_, vOrder_, segIds_, segKeys_};
  for (void* p : scratch) Free(p);
  crvOf_ = nullptr, flags_ = nullptr, endsHere_ = nullptr, origPos_ = nullptr, elStart_ = nullptr;
  crvFirstEl_ = nullptr, vOrder_ = nullptr, segIds_ = nullptr, segKeys_ = nullptr;
}

void CornerMatcher::Publish() {
  FreeMatchingRecords(g_);
  Free(g_->els);
  g_->verts = verts_;
  g_->nVert = nVert_;
  g_->members = members_;
  g_->breakHeads = heads_;
  g_->breaks = breaks_;
  g_->pairs = pairs_;
  g_->nPair = nPair_;
  g_->els = els_;
  g_->nEl = nEl_;
  int run = 0;
  for (int c = 0; c < g_->nCrv; ++c) {
    GsrfCrv& cr = g_->crvs[c];
    cr.firstEl = run;
    cr.nEl = 0;
    while (run + cr.nEl < nEl_ && els_[run + cr.nEl].crv == &cr) ++cr.nEl;
    cr.els = cr.nEl > 0 ? els_ + run : nullptr;
    run += cr.nEl;
  }
  SpreadElementRanges(g_);
}

}  // namespace

int ClosestCornersGsrf(Gsrf* g) {
  if (!g || !g->crvs) return 0;
  TrackingScope scope;
  CornerMatcher m(g);
  if (!m.Run()) return 0;  // the scope frees everything the run made
  m.FreeScratch();
  scope.keep();
  m.Publish();
  FreeGsrfSamples(g);
  return 1;
}

int ClosestSampleGsrfBySort(Gsrf* g) { return ClosestCornersGsrf(g); }

// ---- redundant and duplicate surfaces --------------------------------------------------------

int FindRedundantSurfaces(Bspline** surfs, int n, const double boxes[][6], OneLink** groups,
                          OneLink* pool, double tol) {
  return GroupDuplicateSurfaces(surfs, n, boxes, groups, pool, tol);
}

int DuplicateSurfaces(Bspline* a, Bspline* b, double** gx, double** gy, double** gz, double tol) {
  if (!RecordsSound({a, b})) return 0;
  if (a->kind != 2 || b->kind != 2 || a->dimension != 3 || b->dimension != 3 || !gx || !gy || !gz ||
      !std::isfinite(tol)) {
    SetKernelError(-2);
    return 0;
  }
  return SurfaceLiesOnSurface(a, b, gx, gy, gz, tol);
}

int BboxesOverlap(const double b0[6], const double b1[6], double tol) { return BoxesNest(b0, b1, tol); }

int GetClosestPntInTrim(double u, double v, Bspline* s, double out[3]) {
  return ClosestPointInTrim(u, v, s, out);
}
