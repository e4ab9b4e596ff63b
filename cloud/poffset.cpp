#include "cloud/poffset.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "cloud/makecld.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/fmalloc.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

namespace {

constexpr int kMaxCells = 50;
constexpr int kSubBins = 5;

// A count in 1..50 from a real value that may be 0, NaN or infinite.
int CellCount(double v) {
  if (!(v >= 1.0)) return 1;
  return v >= kMaxCells ? kMaxCells : static_cast<int>(v);
}

// The truncated index t held to 0..count - 1 (NaN and -inf give 0, +inf the last).
int HeldIndex(double t, int count) {
  if (!(t > 0.0)) return 0;
  return t >= count - 1 ? count - 1 : static_cast<int>(t);
}

bool Append(IndexBin* bin, int id) {
  if (bin->count == bin->capacity) {
    const int capacity = 2 * bin->capacity;
    int32_t* grown = MallocArray<int32_t>(capacity);
    if (!grown) return false;
    for (int k = 0; k < bin->count; ++k) grown[k] = bin->items[k];
    Free(bin->items);
    bin->items = grown;
    bin->capacity = capacity;
  }
  bin->items[bin->count++] = id;
  return true;
}

}  // namespace

int SubdivideArrays2DOnXYWithOverlap(const float* x, const float* y, const float* z, int n, int pointsPerCell,
                                     XYOverlapGrid* grid, int* cellOfPoint, int* binOfPoint) {
  if (!grid || n < 0 || (n > 0 && (!x || !y || !z || !cellOfPoint || !binOfPoint))) return -2;
  const double ppc = pointsPerCell > 0 ? pointsPerCell : 1;
  const double dx = grid->xmax - grid->xmin, dy = grid->ymax - grid->ymin;
  // The shorter side gets the square root, so cells are about square and hold about ppc points.
  // Points on a line along an axis (shorter side 0) share the longer side's cells alone.
  auto counts = [&](double shortSide, double longSide, int32_t* nShort, int32_t* nLong) {
    *nShort = CellCount(std::sqrt(n * shortSide / (ppc * longSide)));
    *nLong = shortSide > 0.0 ? CellCount(*nShort * longSide / shortSide) : longSide > 0.0 ? CellCount(n / ppc) : 1;
  };
  if (dy <= dx) {
    counts(dy, dx, &grid->ncellsY, &grid->ncellsX);
  } else {
    counts(dx, dy, &grid->ncellsX, &grid->ncellsY);
  }
  const int nx = grid->ncellsX, ny = grid->ncellsY;
  const double cw = dx / nx, ch = dy / ny;
  const int initial = static_cast<int>(0.05 * ppc) > 2 ? static_cast<int>(0.05 * ppc) : 2;
  grid->cells = MallocArray<XYOverlapCell>(nx * ny);
  if (!grid->cells || KernelFailed()) return -2;
  for (int iy = 0; iy < ny; ++iy) {
    for (int ix = 0; ix < nx; ++ix) {
      XYOverlapCell& cell = grid->cells[iy * nx + ix];
      cell.xlo = grid->xmin + (ix - 0.5) * cw;
      cell.xhi = cell.xlo + 2.0 * cw;
      cell.ylo = grid->ymin + (iy - 0.5) * ch;
      cell.yhi = cell.ylo + 2.0 * ch;
      cell.zmin = kEmptyBoxBound;
      cell.zmax = -kEmptyBoxBound;
      cell.bins = MallocArray<IndexBin>(kSubBins * kSubBins);
      if (!cell.bins) return -2;
      for (int b = 0; b < kSubBins * kSubBins; ++b) {
        cell.bins[b] = IndexBin{0, initial, MallocArray<int32_t>(initial)};
        if (!cell.bins[b].items) return -2;
      }
    }
  }
  // Five sub-bins across the doubled cell.
  const double sw = 0.4 * cw, sh = 0.4 * ch;
  for (int i = 0; i < n; ++i) {
    const double px = x[i], py = y[i], pz = z[i];
    const int cx = HeldIndex((px - grid->xmin - 1e-6) / cw, nx);
    const int cy = HeldIndex((py - grid->ymin - 1e-6) / ch, ny);
    cellOfPoint[i] = cy * nx + cx;
    binOfPoint[i] = 0;  // a point outside the box may lie outside its own cell's extent
    for (int iy = cy - 1; iy <= cy + 1; ++iy) {
      for (int ix = cx - 1; ix <= cx + 1; ++ix) {
        if (ix < 0 || ix >= nx || iy < 0 || iy >= ny) continue;
        XYOverlapCell& cell = grid->cells[iy * nx + ix];
        if (px < cell.xlo || px > cell.xhi || py < cell.ylo || py > cell.yhi) continue;
        const int sx = HeldIndex((px - cell.xlo - 1e-6) / sw, kSubBins);
        const int sy = HeldIndex((py - cell.ylo - 1e-6) / sh, kSubBins);
        if (ix == cx && iy == cy) binOfPoint[i] = kSubBins * sy + sx;
        if (!Append(&cell.bins[kSubBins * sy + sx], i)) return -2;
        if (pz < cell.zmin) cell.zmin = pz;
        if (pz > cell.zmax) cell.zmax = pz;
      }
    }
  }
  const double m = cw > ch ? cw : ch;
  for (int c = 0; c < nx * ny; ++c) {
    if (grid->cells[c].zmax - grid->cells[c].zmin > 10.0 * m) {
      InfoMessageFormat("%s", MSGstr("Large variation detected, This is possibly not a single-valued cloud. Try "
                                     "breaking it up."));
      return -2;
    }
  }
  return 0;
}

void ComputeCorrelationMatrix(const float* x, const float* y, const float* z, int n, double** M) {
  if (!x || !y || !z || !M) return;
  SecondMoments(x, y, z, n, M);
}

// ---- Normals -------------------------------------------------------------------------------
namespace {

constexpr int kNbrs3D = 8;  // neighbours per point of the 3-D normals
constexpr int kPollEvery = 500;
constexpr int kRun = 32;  // items per bounding box of the neighbour search

const Xform kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void Point(const Cloud* c, int i, double p[3]) { p[0] = c->x[i], p[1] = c->y[i], p[2] = c->z[i]; }
void Normal(const float* nx, const float* ny, const float* nz, int i, double v[3]) {
  v[0] = nx[i], v[1] = ny[i], v[2] = nz[i];
}
void Store(float* nx, float* ny, float* nz, int i, const double v[3]) {
  nx[i] = static_cast<float>(v[0]), ny[i] = static_cast<float>(v[1]), nz[i] = static_cast<float>(v[2]);
}
// -0.0 compares equal to 0, so a sign bit alone is no normal.
bool Present(const float* nx, const float* ny, const float* nz, int i) {
  return nx[i] != 0.0f || ny[i] != 0.0f || nz[i] != 0.0f;
}
void Negate(float* nx, float* ny, float* nz, int i) { nx[i] = -nx[i], ny[i] = -ny[i], nz[i] = -nz[i]; }

void Bounds(const Cloud* c, double lo[3], double hi[3]) {
  lo[0] = hi[0] = c->x[0], lo[1] = hi[1] = c->y[0], lo[2] = hi[2] = c->z[0];
  for (int i = 1; i < c->npts; ++i) {
    const double p[3] = {c->x[i], c->y[i], c->z[i]};
    for (int k = 0; k < 3; ++k) lo[k] = std::fmin(lo[k], p[k]), hi[k] = std::fmax(hi[k], p[k]);
  }
}

// A grid over the points for neighbour searches (length 0: the divisions decide it) with about
// sqrt(n) divisions, at most what the box holds at about four cells a point: a scanned surface
// then puts about as many points in a cell however large the cloud, where a fixed limit fills
// every cell as the cloud grows.
Subdiv* PointGrid(const Cloud* c) {
  double box[6];
  Bounds(c, box, box + 3);
  const int root = static_cast<int>(std::sqrt(static_cast<double>(c->npts)));
  const int cap = std::min(root, SubdivDivisionsFor(c->npts, box));
  return SubdivideArrays(c->x, c->y, c->z, c->npts, box[0], box[1], box[2], box[3], box[4], box[5], 0.0, cap);
}

// Whether a search from some cell of the grid would read more than kCrowdedCells entries.
bool Crowded(const Subdiv* g) {
  const int ncells = g->ncellsX * g->ncellsY * g->ncellsZ;
  for (int c = 0; c < ncells; ++c)
    if (g->cells[c].count > 0 && SubdivBlockCount(g, c) > kCrowdedCells) return true;
  return false;
}

// The point whose transformed position has the greatest z, among those that pass; -1 for none.
template <class Pass>
int Highest(const Cloud* c, const double* xform, Pass pass) {
  int best = -1;
  double bestZ = 0.0;
  for (int i = 0; i < c->npts; ++i) {
    if (!pass(i)) continue;
    double p[3], q[3];
    Point(c, i, p);
    VecTrans3(p, xform, q);
    if (best < 0 || q[2] > bestZ) best = i, bestZ = q[2];
  }
  return best;
}

bool FacesViewer(const double v[3], const double* xform) {
  double r[3];
  VecRot3(v, xform, r);
  return r[2] >= 0.0;
}

// The plane fit's unit normal turned towards the viewer. The symmetric solver's is the general
// fit's to round-off where it is clear-cut; across the view, where only the fit's own sign
// decides the side, and where it is not clear-cut, the general fit answers.
bool FittedNormal(const float* fx, const float* fy, const float* fz, int m, const double* xform, double v[3]) {
  double r[3];
  if (PlaneFitClearNormal(fx, fy, fz, m, v) && std::fabs(VecRot3(VecNormalize3(v, v), xform, r)[2]) > 1e-9) {
    if (r[2] < 0.0) v[0] = -v[0], v[1] = -v[1], v[2] = -v[2];
    return true;
  }
  PlaneEq plane;
  if (!PlaneFit(fx, fy, fz, m, plane)) return false;
  VecNormalize3(plane, v);
  if (!FacesViewer(v, xform)) v[0] = -v[0], v[1] = -v[1], v[2] = -v[2];
  return true;
}

// Agreement of the normals of i and j across the line joining them: their projections on the
// plane perpendicular to that line, dotted. The arithmetic of VecDiff3, VecNormalize3 and
// VecDotProd3 written out (this runs some twenty times per point), so the votes stay the same.
double Agreement(const Cloud* c, const float* nx, const float* ny, const float* nz, int i, int j) {
  double e[3] = {double(c->x[j]) - double(c->x[i]), double(c->y[j]) - double(c->y[i]), double(c->z[j]) - double(c->z[i])};
  double len = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
  if (len < 1e-10) len = 1e-10;  // VecNormalize3's floor
  e[0] /= len, e[1] /= len, e[2] /= len;
  double a[3] = {nx[i], ny[i], nz[i]}, b[3] = {nx[j], ny[j], nz[j]};
  const double ae = a[0] * e[0] + a[1] * e[1] + a[2] * e[2], be = b[0] * e[0] + b[1] * e[1] + b[2] * e[2];
  for (int k = 0; k < 3; ++k) a[k] -= ae * e[k], b[k] -= be * e[k];
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The nearest neighbours of one point, nearest first, at most 2 per octant code and 8 in all.
struct OctantList {
  struct Entry {
    double d2;
    int32_t id, code;
  };
  int count = 0;
  Entry at[kNbrs3D];
  int perCode[8] = {0, 0, 0, 0, 0, 0, 0, 0};  // entries held of each code
  // The farther entry of each code held twice, else NaN (which nothing passes): Offer refuses
  // an entry no nearer than it, so Refused can tell so without walking the list. A NaN entry
  // leaves the list unsorted, and then only Offer's walk says.
  double second[8] = {NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN};
  bool sorted = true;

  double Farthest() const { return at[kNbrs3D - 1].d2; }
  // Whether Offer would leave the list as it is: a full list's farthest or two of the code are
  // no farther.
  bool Refused(double dist2, int oct) const {
    return (count == kNbrs3D && Farthest() <= dist2) || (sorted && second[oct] <= dist2);
  }
  // Keeps the nearest, at most two per octant code: an entry joins behind those no farther than
  // it unless two of its code are among them. When two of its code are held, the farther of them
  // makes way for it; otherwise a full list drops its farthest. (Dropping the farthest first and
  // then a third of the code as well shrank the list by one whenever a near entry arrived after
  // two farther ones of its code, so the result hung on the order of the offers and left points
  // by a cell wall with one-sided neighbourhoods.)
  void Offer(int j, double dist2, int oct) {
    int k = 0, passed = 0;
    for (; k < count && at[k].d2 <= dist2; ++k) passed += at[k].code == oct;
    if (passed >= 2) return;  // at most two of a code are ever held
    if (k == count && count == kNbrs3D) return;
    sorted = sorted && dist2 == dist2;
    // The entry at `end` makes way: the entries from k up to it move up one, the new one takes k.
    int end;
    if (perCode[oct] == 2) {  // the code's last entry lies at k or beyond
      end = count - 1;
      while (at[end].code != oct) --end;
      --perCode[oct];
    } else if (count == kNbrs3D) {  // the farthest falls off
      end = count - 1;
      if (perCode[at[end].code]-- == 2) second[at[end].code] = NAN;  // the farther of two is the last of its code
    } else {
      end = count++;
    }
    for (int m = end; m > k; --m) at[m] = at[m - 1];
    at[k] = Entry{dist2, j, oct};
    if (++perCode[oct] == 2) {  // the farther of the two is the code's last entry
      int m = count - 1;
      while (at[m].code != oct) --m;
      second[oct] = at[m].d2;
    }
  }
};

// Whether the neighbours span a plane well enough to fit: three octants, or one pair of
// neighbour directions far from parallel. w is the sum of the products of the squared
// components, a cheap stand-in for |u|^2 |v|^2 that the threshold 0.12 was tuned for.
bool WorthFitting(const Cloud* c, int i, const OctantList& L) {
  int codes = 0;
  for (int k = 0; k < L.count; ++k) codes |= 1 << L.at[k].code;
  if (__builtin_popcount(codes) >= 3) return true;
  double p[3];
  Point(c, i, p);
  for (int a = 0; a < L.count; ++a)
    for (int b = a + 1; b < L.count; ++b) {
      double u[3], v[3];
      Point(c, L.at[a].id, u), Point(c, L.at[b].id, v);
      for (int k = 0; k < 3; ++k) u[k] -= p[k], v[k] -= p[k];
      const double s = VecDotProd3(u, v);
      const double w = u[0] * u[0] * v[0] * v[0] + u[1] * u[1] * v[1] * v[1] + u[2] * u[2] * v[2] * v[2];
      if (w < 1e-10 || s * s / w < 0.12) return true;
    }
  return false;
}

// Progress marks of a pass: Due(i) at the item that reaches the next mark, giving the share
// (out of `scale`) to show there.
struct Marks {
  int step;
  int next = 0;
  double n, scale;
  Marks(int count, int stepCount, double sc) : step(stepCount < 1 ? 1 : stepCount), n(count), scale(sc) {}
  bool Due(int i, int* p) {
    if (i < next) return false;
    *p = static_cast<int>(i / n * scale + 0.5);
    next = (*p + 1) * step;
    return true;
  }
};

// The neighbour table: row i holds up to kNbrs3D point indices, nearest first, ended by -1 when
// shorter.
struct NeighbourTable {
  int32_t* rows;
  int32_t* row(int i) const { return rows + static_cast<long>(i) * kNbrs3D; }
  int count(int i) const {
    int k = 0;
    while (k < kNbrs3D && row(i)[k] >= 0) ++k;
    return k;
  }
};

// The grid's points by own cell (ascending within each, as the cells list them), coordinates in
// double one array per axis (the distance loop then runs over consecutive memory with no
// conversions; float to double is exact), with the bounding box of each run of kRun consecutive
// points and of each cell. The items a cell holds as overlap are left out: the cells around a
// point are searched as well, and they hold them as their own. A run or a cell whose box lies no
// nearer than a full list's farthest would all be refused and is passed over whole.
struct CellCoords {
  const Subdiv* grid;
  int* cellStart;  // ncells + 1: cell c's points are ids[cellStart[c] .. cellStart[c + 1])
  int* runStart;
  int32_t* ids;
  double* xyz[3];
  double* runBox;   // 6 per run: low corner, high corner; NaN first when a point is not a number
  double* cellBox;  // 6 per cell, likewise
  const NearTree* tree;  // over the cloud's finite points when some cell is crowded, else null
};

bool BuildCellCoords(const Cloud* cloud, const Subdiv* grid, CellCoords* cc) {
  const int n = cloud->npts;
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  cc->grid = grid;
  cc->tree = nullptr;
  if (!CallocArrayUnlessFailed(cc->cellStart, ncells + 1)) return false;
  cc->runStart = MallocArray<int>(ncells + 1);
  cc->cellBox = MallocArray<double>(6, ncells);
  cc->ids = MallocArray<int32_t>(n);
  for (double*& a : cc->xyz) a = MallocArray<double>(n);
  if (!cc->runStart || !cc->cellBox || !cc->ids || !cc->xyz[0] || !cc->xyz[1] || !cc->xyz[2]) return false;
  for (int i = 0; i < n; ++i) ++cc->cellStart[grid->ownCell[i] + 1];
  long runs = 0;
  for (int c = 0; c < ncells; ++c) {
    cc->runStart[c] = static_cast<int>(runs);
    runs += (cc->cellStart[c + 1] + kRun - 1) / kRun;
    cc->cellStart[c + 1] += cc->cellStart[c];
  }
  cc->runStart[ncells] = static_cast<int>(runs);
  cc->runBox = MallocArray<double>(6, runs + 1);
  if (!cc->runBox) return false;
  for (int i = 0; i < n; ++i) cc->ids[cc->cellStart[grid->ownCell[i]]++] = i;
  for (int c = ncells; c > 0; --c) cc->cellStart[c] = cc->cellStart[c - 1];  // back to the starts
  cc->cellStart[0] = 0;
  const auto widen = [](double* box, double v, int a, bool first) {
    if (first) box[a] = box[a + 3] = v;
    if (v != v) box[0] = NAN;  // a box holding a NaN point is never passed over
    if (v < box[a]) box[a] = v;
    if (v > box[a + 3]) box[a + 3] = v;
  };
  for (int c = 0; c < ncells; ++c) {
    double* cbox = cc->cellBox + 6L * c;
    for (int a = 0; a < 3; ++a) cbox[a] = kEmptyBoxBound, cbox[a + 3] = -kEmptyBoxBound;
    for (int at = cc->cellStart[c], k = 0; at < cc->cellStart[c + 1]; ++at, ++k) {
      const int j = cc->ids[at];
      cc->xyz[0][at] = cloud->x[j], cc->xyz[1][at] = cloud->y[j], cc->xyz[2][at] = cloud->z[j];
      double* box = cc->runBox + 6L * (cc->runStart[c] + k / kRun);
      for (int a = 0; a < 3; ++a) widen(box, cc->xyz[a][at], a, k % kRun == 0), widen(cbox, cc->xyz[a][at], a, k == 0);
    }
  }
  return true;
}

// Squared distance from p to the box (a lower bound of every item's in it: rounding is
// monotonic); NaN for a box holding a NaN item.
double BoxGap2(const double* box, const double p[3]) {
  double g[3];
  for (int a = 0; a < 3; ++a) {
    const double lo = box[a], hi = box[a + 3];
    g[a] = p[a] < lo ? lo - p[a] : p[a] > hi ? p[a] - hi : 0.0;
  }
  return box[0] == box[0] ? g[0] * g[0] + g[1] * g[1] + g[2] * g[2] : NAN;
}

// Squared distance from p to the box's farthest corner (an upper bound of every item's in it);
// NaN for a box holding a NaN item.
double BoxReach2(const double* box, const double p[3]) {
  double g[3];
  for (int a = 0; a < 3; ++a) g[a] = std::max(p[a] - box[a], box[a + 3] - p[a]);
  return box[0] == box[0] ? g[0] * g[0] + g[1] * g[1] + g[2] * g[2] : NAN;
}

// Which of a cell's points an offer takes: all, or those within the squared radius of the first
// round or the others.
enum class Round { All, Near, Far };

// Offers point i the points of cell c but itself that the round takes (near: squared distance
// at most r2).
void OfferCell(const CellCoords& cc, int c, int i, const double pi[3], OctantList& L, Round round, double r2) {
  const int s = cc.cellStart[c], count = cc.cellStart[c + 1] - s;
  const double *qx = cc.xyz[0] + s, *qy = cc.xyz[1] + s, *qz = cc.xyz[2] + s;
  const int32_t* ids = cc.ids + s;
  for (int r = cc.runStart[c]; r < cc.runStart[c + 1]; ++r) {
    const int k0 = (r - cc.runStart[c]) * kRun, k1 = std::min(k0 + kRun, count);
    const double gap = BoxGap2(cc.runBox + 6L * r, pi);
    if (L.count == kNbrs3D && gap >= L.Farthest()) continue;
    if (round == Round::Near ? gap > r2 : round == Round::Far && BoxReach2(cc.runBox + 6L * r, pi) <= r2) continue;
    // The arithmetic of VecDiff3 and VecDotProd3, written out, in a loop of its own that the
    // compiler can vectorise: the octant codes are summed in double as well, since a loop that
    // mixes doubles with ints was left scalar.
    double dist[kRun], oct[kRun];
    const double p0 = pi[0], p1 = pi[1], p2 = pi[2];
    const int m = k1 - k0;
    for (int k = 0; k < m; ++k) {
      const double d0 = p0 - qx[k0 + k], d1 = p1 - qy[k0 + k], d2 = p2 - qz[k0 + k];
      dist[k] = d0 * d0 + d1 * d1 + d2 * d2;
      oct[k] = (d0 >= 0 ? 1.0 : 0.0) + (d1 >= 0 ? 2.0 : 0.0) + (d2 >= 0 ? 4.0 : 0.0);
    }
    for (int k = 0; k < m; ++k) {
      if (round != Round::All && (dist[k] <= r2) != (round == Round::Near)) continue;
      const int o = static_cast<int>(oct[k]);
      if (L.Refused(dist[k], o)) continue;
      const int j = ids[k0 + k];
      if (j != i) L.Offer(j, dist[k], o);
    }
  }
}

// The octant-balanced nearest neighbours of point i: its own cell first, then the cells around
// it in index order wherever one could hold a nearer point. (Its own cell alone left a point by a
// cell wall with neighbours on one side: a tilted fit, or none.) With a squared radius r2 the
// points within it are offered in a first round and the others in a second, each round in that
// order: the list ends the same as when offered all at once, since it keeps the nearest whatever
// the order (among equal distances, the first offered, and a round keeps their order), but the
// second round finds it nearly complete and refuses most. A NaN distance would unsettle that
// order: a cloud with a point not finite is offered all at once (r2 NaN or infinite).
void NearNeighbours(const CellCoords& cc, int i, const double pi[3], OctantList& L, double r2) {
  const Subdiv* g = cc.grid;
  const int c = g->ownCell[i], nx = g->ncellsX, nxy = g->ncellsX * g->ncellsY;
  if (cc.tree && std::isfinite(pi[0] + pi[1] + pi[2]) && SubdivBlockCount(g, c) > kCrowdedCells) {
    // The cells around a point bound how far a grid search reaches; here twice the distance of
    // the plain eighth nearest does. Unbounded, the octant balance would fetch far points for an
    // octant the surface hardly enters (at a scan's edge), and tilt the fit.
    double plain[kNbrs3D];
    int found = 0;
    SearchNearTree(*cc.tree, pi, [&] { return found == kNbrs3D ? plain[kNbrs3D - 1] : INFINITY; },
                   [&](int j, double d2) {
                     if (j == i || (found == kNbrs3D && d2 >= plain[kNbrs3D - 1])) return;
                     int at = found < kNbrs3D ? found++ : kNbrs3D - 1;
                     for (; at > 0 && plain[at - 1] > d2; --at) plain[at] = plain[at - 1];
                     plain[at] = d2;
                   });
    const double reach2 = found == kNbrs3D ? 4.0 * plain[kNbrs3D - 1] : INFINITY;
    SearchNearTree(*cc.tree, pi, [&] { return L.count == kNbrs3D ? std::min(L.Farthest(), reach2) : reach2; },
                   [&](int j, double d2) {
                     const double d0 = pi[0] - cc.tree->xyz[0][j], d1 = pi[1] - cc.tree->xyz[1][j],
                                  d3 = pi[2] - cc.tree->xyz[2][j];
                     const int o = (d0 >= 0 ? 1 : 0) + (d1 >= 0 ? 2 : 0) + (d3 >= 0 ? 4 : 0);
                     if (j != i && d2 <= reach2 && !L.Refused(d2, o)) L.Offer(j, d2, o);
                   });
    return;
  }
  const int ix = c % nx, iy = (c / nx) % g->ncellsY, iz = c / nxy;
  const bool rounds = r2 < INFINITY;
  for (Round round : {Round::Near, Round::Far}) {
    if (!rounds) round = Round::All;
    OfferCell(cc, c, i, pi, L, round, r2);
    for (int z = std::max(iz - 1, 0); z <= std::min(iz + 1, g->ncellsZ - 1); ++z)
      for (int y = std::max(iy - 1, 0); y <= std::min(iy + 1, g->ncellsY - 1); ++y)
        for (int x = std::max(ix - 1, 0); x <= std::min(ix + 1, nx - 1); ++x) {
          const int a = x + y * nx + z * nxy;
          if (a == c || cc.cellStart[a] == cc.cellStart[a + 1]) continue;
          const double gap = BoxGap2(cc.cellBox + 6L * a, pi);
          if (L.count == kNbrs3D && gap >= L.Farthest()) continue;
          if (round == Round::Near ? gap > r2 : round == Round::Far && BoxReach2(cc.cellBox + 6L * a, pi) <= r2)
            continue;
          OfferCell(cc, a, i, pi, L, round, r2);
        }
    if (round == Round::All) return;
  }
}

// Steps 1 and 2 of the 3-D normals for every point: the neighbour table and, where the
// neighbours span a plane, the fitted normal turned towards the viewer (others (0, 0, 0)).
// False on a user break.
bool FitNormals(const Cloud* cloud, const CellCoords& cc, const NeighbourTable& T, float* nx, float* ny, float* nz,
                const double* xform, bool forOffset) {
  const int n = cloud->npts;
  Thermometer thermo("Compute normals");
  Marks marks(n, static_cast<int>(n * (forOffset ? 1.0f / 45 : 1.0f / 90)), forOffset ? 45 : 90);
  float fx[kNbrs3D + 1], fy[kNbrs3D + 1], fz[kNbrs3D + 1];
  bool finite = true;
  for (int i = 0; i < n; ++i)
    finite = finite && std::isfinite(cloud->x[i]) && std::isfinite(cloud->y[i]) && std::isfinite(cloud->z[i]);
  // The first round's radius: the reach of the last point's list, as points in sequence are
  // mostly near each other and alike in spacing.
  double reach = finite ? INFINITY : NAN;
  for (int i = 0; i < n; ++i) {
    int p;
    if (marks.Due(i, &p)) thermo.set(p);
    if (i % kPollEvery == 0 && user_break()) return false;
    double pi[3];
    Point(cloud, i, pi);
    OctantList L;
    NearNeighbours(cc, i, pi, L, reach);
    if (finite) reach = L.count == kNbrs3D ? L.Farthest() : INFINITY;
    int32_t* row = T.row(i);
    for (int k = 0; k < L.count; ++k) row[k] = L.at[k].id;
    if (L.count < kNbrs3D) row[L.count] = -1;
    nx[i] = ny[i] = nz[i] = 0.0f;
    if (L.count < 2 || !WorthFitting(cloud, i, L)) continue;
    fx[0] = cloud->x[i], fy[0] = cloud->y[i], fz[0] = cloud->z[i];
    for (int k = 0; k < L.count; ++k)
      fx[k + 1] = cloud->x[L.at[k].id], fy[k + 1] = cloud->y[L.at[k].id], fz[k + 1] = cloud->z[L.at[k].id];
    double v[3];
    if (!FittedNormal(fx, fy, fz, L.count + 1, xform, v)) continue;
    Store(nx, ny, nz, i, v);
  }
  thermo.set(100);
  return true;
}

// Scratch of the orientation: the neighbour relation made symmetric (the table's rows and their
// reverse), done flags, the points with a normal by falling height (the seeds' order), and a
// max-heap of the points not yet done keyed by their strongest agreement with a done one.
struct OrientScratch {
  int32_t* revStart = nullptr;  // n + 1
  int32_t* rev = nullptr;       // points whose row holds j: rev[revStart[j] .. revStart[j + 1])
  uint8_t* done = nullptr;
  int32_t* byHeight = nullptr;
  double* height = nullptr;
  int32_t* heap = nullptr;  // points
  int32_t* slot = nullptr;  // per point: its heap slot, -1 when not in the heap
  double* key = nullptr;    // per point: |agreement| with the done neighbour that offered it
  int8_t* flip = nullptr;   // per point: 1 when that agreement is negative

  bool Allocate(int n) {
    return CallocArrayUnlessFailed(revStart, n + 1) && (rev = MallocArray<int32_t>(n, kNbrs3D)) &&
           CallocArrayUnlessFailed(done, n) && (byHeight = MallocArray<int32_t>(n)) &&
           (height = MallocArray<double>(n)) && (heap = MallocArray<int32_t>(n)) && (slot = MallocArray<int32_t>(n)) &&
           (key = MallocArray<double>(n)) && (flip = MallocArray<int8_t>(n)) && !KernelFailed();
  }
};

// A max-heap of points over the scratch's key and slot arrays.
struct AgreementHeap {
  OrientScratch& s;
  int size = 0;
  bool Before(int a, int b) const { return s.key[a] > s.key[b] || (s.key[a] == s.key[b] && a < b); }
  void Place(int at, int p) { s.heap[at] = p, s.slot[p] = at; }
  void Up(int at) {
    const int p = s.heap[at];
    for (; at > 0 && Before(p, s.heap[(at - 1) / 2]); at = (at - 1) / 2) Place(at, s.heap[(at - 1) / 2]);
    Place(at, p);
  }
  void Down(int at) {
    const int p = s.heap[at];
    for (;;) {
      int c = 2 * at + 1;
      if (c >= size) break;
      if (c + 1 < size && Before(s.heap[c + 1], s.heap[c])) ++c;
      if (!Before(s.heap[c], p)) break;
      Place(at, s.heap[c]);
      at = c;
    }
    Place(at, p);
  }
  // Offers p an agreement c with a done neighbour; the strongest offer stands.
  void Offer(int p, double c) {
    const double k = std::fabs(c);
    if (s.slot[p] >= 0) {
      if (k <= s.key[p]) return;
      s.key[p] = k, s.flip[p] = c < 0;
      Up(s.slot[p]);
      return;
    }
    s.key[p] = k, s.flip[p] = c < 0;
    Place(size++, p);
    Up(size - 1);
  }
  int Pop() {
    const int top = s.heap[0];
    s.slot[top] = -1;
    if (--size > 0) {
      s.heap[0] = s.heap[size];
      Down(0);
    }
    return top;
  }
};

// Step 3, orientation in order of agreement: from the highest point with a normal (which faces
// the viewer), the point not yet done with the strongest agreement with a done neighbour is done
// next, turned over when that agreement is negative; only agreements beyond +-0.7 count, as in a
// vote. When none is left, the highest point not done seeds the next part. Strong agreements so
// travel first, around a thin part rather than across it, and a part no chain of agreement
// reaches is oriented from its own top instead of by the viewer. False on a user break.
bool OrientByAgreement(const Cloud* cloud, const NeighbourTable& T, OrientScratch& s, float* nx, float* ny,
                       float* nz, const double* xform, bool forOffset, int seed) {
  const int n = cloud->npts;
  for (int i = 0; i < n; ++i)
    for (int k = 0, cnt = T.count(i); k < cnt; ++k) ++s.revStart[T.row(i)[k] + 1];
  for (int j = 0; j < n; ++j) s.revStart[j + 1] += s.revStart[j];
  for (int j = 0; j < n; ++j) s.slot[j] = s.revStart[j];  // fill positions until the heap starts
  for (int i = 0; i < n; ++i)
    for (int k = 0, cnt = T.count(i); k < cnt; ++k) s.rev[s.slot[T.row(i)[k]]++] = i;
  // Seeds by falling height, the first of equal heights first; the documented seed leads.
  int seeds = 0;
  for (int i = 0; i < n; ++i) {
    s.slot[i] = -1;
    if (!Present(nx, ny, nz, i)) continue;
    double p[3], q[3];
    Point(cloud, i, p);
    VecTrans3(p, xform, q);
    s.height[i] = q[2];
    s.byHeight[seeds++] = i;
  }
  std::stable_sort(s.byHeight, s.byHeight + seeds, [&](int a, int b) { return s.height[a] > s.height[b]; });
  std::optional<Thermometer> thermo;
  if (!forOffset) thermo.emplace("Compute normals");
  Marks marks(n, static_cast<int>(0.1 * n), 10);
  AgreementHeap heap{s};
  long oriented = 0;
  int next = 0;
  const auto offerAround = [&](int j) {
    const int32_t* row = T.row(j);
    const auto offer = [&](int i) {
      if (s.done[i] || !Present(nx, ny, nz, i)) return;
      const double c = Agreement(cloud, nx, ny, nz, j, i);
      if (std::fabs(c) > 0.7) heap.Offer(i, c);
    };
    for (int k = 0, cnt = T.count(j); k < cnt; ++k) offer(row[k]);
    for (int r = s.revStart[j]; r < s.revStart[j + 1]; ++r) offer(s.rev[r]);
  };
  for (;;) {
    int i;
    if (heap.size > 0) {
      i = heap.Pop();
      if (s.flip[i]) Negate(nx, ny, nz, i);
    } else {
      while (next < seeds && s.done[s.byHeight[next]]) ++next;
      if (seed >= 0) {
        i = seed, seed = -1;
      } else if (next < seeds) {
        i = s.byHeight[next];
      } else {
        break;
      }
    }
    s.done[i] = 1;
    int p;
    if (thermo && marks.Due(static_cast<int>(oriented), &p)) thermo->set(90 + p);
    if (oriented++ % kPollEvery == 0 && user_break()) return false;
    offerAround(i);
  }
  if (thermo) thermo->set(100), thermo.reset();
  return true;
}

// Whether the point's neighbours lie about its tangent plane: none more than 30 degrees out of
// it (sin 0.5). A smooth part sampled finely enough for its curvature passes; a neighbourhood
// reaching across to another sheet, a fold or noise does not.
bool FitsPlane(const Cloud* cloud, const NeighbourTable& T, const float* nx, const float* ny, const float* nz, int i) {
  double p[3], v[3];
  Point(cloud, i, p);
  Normal(nx, ny, nz, i, v);
  for (int k = 0, cnt = T.count(i); k < cnt; ++k) {
    double q[3];
    Point(cloud, T.row(i)[k], q);
    for (int a = 0; a < 3; ++a) q[a] -= p[a];
    const double h = VecDotProd3(q, v), l2 = VecDotProd3(q, q);
    if (h * h > 0.25 * l2) return false;
  }
  return true;
}

// Step 4: a point whose neighbours both agree and disagree with it sits on a fold or in noise,
// and loses its normal, unless its neighbourhood fits a plane: there a disagreement comes from a
// neighbour across a thin part, whose normal projects to almost nothing on the plane between
// them. False on a user break.
bool BlankUnreliable(const Cloud* cloud, const NeighbourTable& T, uint8_t* mark, float* nx, float* ny, float* nz) {
  const int n = cloud->npts;
  for (int i = 0; i < n; ++i) mark[i] = 0;
  for (int i = 0; i < n; ++i) {
    const int cnt = T.count(i);
    if (cnt == 0) continue;
    if (i % kPollEvery == 0 && user_break()) return false;
    bool pos = false, neg = false;
    for (int k = 0; k < cnt; ++k) {
      const double c = Agreement(cloud, nx, ny, nz, i, T.row(i)[k]);
      pos = pos || c > 0, neg = neg || c < 0;
    }
    mark[i] = pos && neg && !FitsPlane(cloud, T, nx, ny, nz, i);
  }
  for (int i = 0; i < n; ++i)
    if (mark[i]) nx[i] = ny[i] = nz[i] = 0.0f;
  return true;
}

// The 3-D normals and, with forOffset, their variant for offsetting (see ComputeOffsetNormals):
// 1. neighbours from the point's grid cell and the cells around it (octant-balanced, nearest
// first); 2. a plane fit turned towards the viewer; 3. orientation carried from the highest point
// in order of agreement (OrientByAgreement); 4. a point whose neighbours both agree and disagree
// loses its normal where they do not fit a plane.
int Normals3D(const Cloud* cloud, float* nx, float* ny, float* nz, const double* xform, bool forOffset) {
  if (!cloud || cloud->npts < 3) return 0;
  if (!xform) xform = kIdentity;  // null is the identity, as the offset variant documents it
  const int n = cloud->npts;
  TrackingScope scope;
  NeighbourTable table{MallocArray<int32_t>(n, kNbrs3D)};
  if (!table.rows) return 0;
  OrientScratch scratch;
  if (forOffset && !scratch.Allocate(n)) return 0;
  {
    Owned<Subdiv, FreeSubdiv> grid(PointGrid(cloud));
    CellCoords cells;
    if (!grid || !BuildCellCoords(cloud, grid.get(), &cells)) return 0;
    Owned<NearTree, FreeNearTree> tree;
    if (Crowded(grid.get())) {
      tree.reset(BuildNearTree(cloud->x, cloud->y, cloud->z, n));
      if (!tree) return 0;
    }
    cells.tree = tree.get();
    if (!FitNormals(cloud, cells, table, nx, ny, nz, xform, forOffset)) return 0;
  }
  const int seed = Highest(cloud, xform, [&](int i) { return Present(nx, ny, nz, i); });
  if (seed < 0) return 0;
  // The fitted normals stand on their own: no memory for orienting them still counts as success.
  if (!forOffset && !scratch.Allocate(n)) return 1;
  if (!OrientByAgreement(cloud, table, scratch, nx, ny, nz, xform, forOffset, seed)) return 0;
  StatusMessageFormat("Compute normals:  %d%%", forOffset ? 47 : 100);
  if (forOffset) StatusMessageFormat("Compute normals:  %d%%", 48);
  if (!BlankUnreliable(cloud, table, scratch.done, nx, ny, nz)) return 0;
  if (forOffset) {
    StatusMessageFormat("Compute normals:  %d%%", 49);
  } else {
    ClearStatusMessage();
  }
  return 1;
}

}  // namespace

int ComputeCloud3DNormals(const Cloud* cloud, float* nx, float* ny, float* nz, const Xform xform) {
  return Normals3D(cloud, nx, ny, nz, xform, false);
}

int ComputeOffsetNormals(const Cloud* cloud, float* nx, float* ny, float* nz, double, const Xform xform) {
  return Normals3D(cloud, nx, ny, nz, xform, true);
}

void FreeCloudNormals(Cloud* cloud) {
  if (!cloud) return;
  FreeAndNull(cloud->nx);
  FreeAndNull(cloud->ny);
  FreeAndNull(cloud->nz);
}

// Plane fits for the points without a normal over their k nearest neighbours (own grid cell
// first, the whole cloud when the cell is too sparse), each oriented after its first oriented
// neighbour and orienting its unoriented ones; sweeps then carry the orientation on until it
// stops spreading.
int AssureCloudNormals(Cloud* cloud) {
  if (!cloud || cloud->npts < 3) return 0;
  const int n = cloud->npts;
  TrackingScope scope;
  int32_t *has = nullptr, *oriented = nullptr, *stamp = nullptr;
  if (!CallocArrayUnlessFailed(has, n) || !CallocArrayUnlessFailed(oriented, n) || !CallocArrayUnlessFailed(stamp, n))
    return 0;
  for (int i = 0; i < n; ++i) stamp[i] = -1;
  int known = 0, orientedCount = 0;
  if (!cloud->nx || !cloud->ny || !cloud->nz) {
    FreeCloudNormals(cloud);  // all three or none
    float *fx = nullptr, *fy = nullptr, *fz = nullptr;
    {
      UntrackedScope own;
      if (!CallocArrayUnlessFailed(fx, n) || !CallocArrayUnlessFailed(fy, n) || !CallocArrayUnlessFailed(fz, n)) {
        Free(fx), Free(fy), Free(fz);
        return 0;
      }
    }
    cloud->nx = fx, cloud->ny = fy, cloud->nz = fz;
  } else {
    for (int i = 0; i < n; ++i)
      if (Present(cloud->nx, cloud->ny, cloud->nz, i)) has[i] = oriented[i] = 1, ++known, ++orientedCount;
    if (known == n) return 1;
  }
  float *nx = cloud->nx, *ny = cloud->ny, *nz = cloud->nz;
  const int k = n / 2 < 3 ? 2 : n / 2 > 7 ? 8 : n / 2;
  int32_t* table = MallocArray<int32_t>(n, k + 1);
  if (!table) return 0;
  Owned<Subdiv, FreeSubdiv> grid(PointGrid(cloud));
  if (!grid) return 0;
  // The tree serves points in a crowded cell and, in a large cloud, those whose cell holds too
  // few: reading the whole cloud for each of them would cost n squared.
  Owned<NearTree, FreeNearTree> tree;
  bool needTree = false;
  for (int i = 0; i < n && !needTree; ++i) {
    const int count = grid->cells[grid->ownCell[i]].count;
    needTree = count > kCrowdedCells || (n > kCrowdedCells && count <= k);
  }
  if (needTree) {
    tree.reset(BuildNearTree(cloud->x, cloud->y, cloud->z, n));
    if (!tree) return 0;
  }
  auto row = [&](int i) { return table + static_cast<long>(i) * (k + 1); };
  auto orientTo = [&](int target, int ref) {
    double a[3], b[3];
    Normal(nx, ny, nz, target, a), Normal(nx, ny, nz, ref, b);
    if (VecDotProd3(a, b) < 0) Negate(nx, ny, nz, target);
    oriented[target] = 1, ++orientedCount;
  };
  auto orientFromFirst = [&](int i) {
    for (const int32_t* r = row(i); *r >= 0; ++r)
      if (oriented[*r]) return orientTo(i, *r), true;
    return false;
  };
  auto orientNeighbours = [&](int i) {
    for (const int32_t* r = row(i); *r >= 0; ++r)
      if (has[*r] && !oriented[*r]) orientTo(*r, i);
  };
  int* ids = MallocArray<int>(k);
  double* d2 = MallocArray<double>(k);
  float *fx = MallocArray<float>(k + 1), *fy = MallocArray<float>(k + 1), *fz = MallocArray<float>(k + 1);
  if (!ids || !d2 || !fx || !fy || !fz) return 0;
  for (int i = 0; i < n; ++i) {
    double pi[3];
    Point(cloud, i, pi);
    int cnt = 0;
    auto offer = [&](int j) {
      double pj[3], d[3];
      Point(cloud, j, pj);
      const double dd = VecDotProd3(VecDiff3(pi, pj, d), d);
      int at = 0;
      while (at < cnt && d2[at] <= dd) ++at;
      if (at == k) return;
      if (cnt < k) ++cnt;
      for (int m = cnt - 1; m > at; --m) ids[m] = ids[m - 1], d2[m] = d2[m - 1];
      ids[at] = j, d2[at] = dd;
    };
    const SubdivCell& cell = grid->cells[grid->ownCell[i]];
    const bool crowded = cell.count > kCrowdedCells;
    if (!crowded)
      for (int c = 0; c < cell.count; ++c) {
        const int j = cell.items[c];
        if (j == i || j < 0 || j >= n || stamp[j] == i) continue;
        stamp[j] = i;
        offer(j);
      }
    if (tree && (crowded || cnt < k) && std::isfinite(pi[0] + pi[1] + pi[2])) {
      SearchNearTree(*tree, pi, [&] { return cnt == k ? d2[k - 1] : INFINITY; }, [&](int j, double) {
        if (j != i && stamp[j] != i) stamp[j] = i, offer(j);
      });
    } else if (cnt < k || crowded) {
      for (int j = 0; j < n; ++j)
        if (j != i && stamp[j] != i) stamp[j] = i, offer(j);
    }
    for (int m = 0; m < cnt; ++m) row(i)[m] = ids[m];
    row(i)[cnt] = -1;
    if (has[i]) continue;
    for (int m = 0; m < cnt; ++m)
      fx[m] = cloud->x[ids[m]], fy[m] = cloud->y[ids[m]], fz[m] = cloud->z[ids[m]];
    fx[cnt] = cloud->x[i], fy[cnt] = cloud->y[i], fz[cnt] = cloud->z[i];
    PlaneEq plane;
    if (!PlaneFit(fx, fy, fz, cnt + 1, plane)) continue;
    double v[3];
    VecNormalize3(plane, v);
    if (v[2] < 0) v[0] = -v[0], v[1] = -v[1], v[2] = -v[2];
    Store(nx, ny, nz, i, v);
    has[i] = 1, ++known;
    if (orientedCount == 0) {
      oriented[i] = 1, ++orientedCount;
    } else if (orientFromFirst(i)) {
      orientNeighbours(i);
    }
  }
  if (orientedCount != 0 && orientedCount != known) {
    for (int before = -1; before != orientedCount;) {
      before = orientedCount;
      for (int i = 0; i < n; ++i) {
        if (!has[i]) continue;
        if (!oriented[i]) orientFromFirst(i);
        if (oriented[i]) orientNeighbours(i);
      }
    }
  }
  if (known == 0) {
    FreeCloudNormals(cloud);
    return 0;
  }
  return known == n ? 1 : 0;
}

// ---- Polyline normals ----------------------------------------------------------------------
namespace {

bool Degenerate(const double v[3]) { return std::fabs(v[0]) < 1e-10 && std::fabs(v[1]) < 1e-10 && std::fabs(v[2]) < 1e-10; }

void Unit(double v[3]) { VecNormalize3(v, v); }
void Flip(double v[3]) { v[0] = -v[0], v[1] = -v[1], v[2] = -v[2]; }
void Diff(const Cloud* c, int j, int i, double out[3]) {  // p_j - p_i
  out[0] = static_cast<double>(c->x[j]) - c->x[i];
  out[1] = static_cast<double>(c->y[j]) - c->y[i];
  out[2] = static_cast<double>(c->z[j]) - c->z[i];
}

// The in-plane normal at a turn from segment a to segment b (c = a x b): towards the inside of
// the turn, weighted towards the shorter segment.
void TurnNormal(const double a[3], const double b[3], const double c[3], double n[3]) {
  double u[3], v[3];
  Unit(VecCrossProd3(a, c, u));
  Unit(VecCrossProd3(b, c, v));
  const double la = VecDotProd3(a, a), lb = VecDotProd3(b, b);
  for (int k = 0; k < 3; ++k) n[k] = u[k] / la + v[k] / lb;
  Unit(n);
}

// Keeps n on the side of m as the polyline turns: (a x m).(b x n) < 0 means it flipped.
void Continue(const double a[3], const double b[3], const double m[3], double n[3]) {
  double am[3], bn[3];
  VecCrossProd3(a, m, am), VecCrossProd3(b, n, bn);
  if (VecDotProd3(am, bn) < 0) Flip(n);
}

void Copy(const double s[3], double d[3]) { d[0] = s[0], d[1] = s[1], d[2] = s[2]; }

// The whole cloud as one polyline.
void PolylineNormals(const Cloud* cl, float* nx, float* ny, float* nz) {
  const int n = cl->npts;
  double d[3];
  int f = 1;
  while (f < n && (Diff(cl, f, 0, d), Degenerate(d))) ++f;
  if (f == n) {
    const double up[3] = {0, 0, 1};
    for (int i = 0; i < n; ++i) Store(nx, ny, nz, i, up);
    return;
  }
  double m[3] = {0, 0, 1}, cLast[3] = {0, 0, 1};
  for (int i = 1; i < n - 1; ++i) {
    double a[3], b[3], c[3], nrm[3];
    Diff(cl, i, i - 1, a);
    if (i == 1 && Degenerate(a)) Diff(cl, f, 0, a);
    int j = i;
    while (j < n - 1 && (Diff(cl, j + 1, j, b), Degenerate(b))) ++j;
    const bool haveB = j < n - 1;
    if (i == 1) {
      if (haveB) VecCrossProd3(a, b, c);
      if (!haveB || Degenerate(c)) {
        // Collinear start: a later point off the line gives the plane, else a fixed reference.
        bool found = false;
        for (int q = i + 1; q < n && !found; ++q) {
          double e[3];
          Diff(cl, q, i, e);
          VecCrossProd3(a, e, c);
          found = !Degenerate(c);
        }
        const double refs[2][3] = {{0.9, 0.3, 0.1}, {0.9, -0.1, 0.4}};
        for (int r = 0; r < 2 && !found; ++r) found = !Degenerate(VecCrossProd3(a, refs[r], c));
        Unit(VecCrossProd3(a, c, nrm));
      } else {
        TurnNormal(a, b, c, nrm);
      }
    } else if (Degenerate(a) || !haveB) {
      Copy(m, nrm);
    } else if (Degenerate(VecCrossProd3(a, b, c))) {
      double mb[3];
      Unit(VecCrossProd3(b, VecCrossProd3(m, b, mb), nrm));
      if (VecDotProd3(nrm, m) < 0) Flip(nrm);
    } else {
      TurnNormal(a, b, c, nrm);
      Continue(a, b, m, nrm);
    }
    if (i == 1 || !(Degenerate(a) || !haveB)) Copy(c, cLast);
    Copy(nrm, m);
    Store(nx, ny, nz, i, nrm);
  }
  double nrm[3];
  Diff(cl, n - 1, n - 2, d);
  if (!Degenerate(d)) {
    Unit(VecCrossProd3(cLast, d, nrm));
    if (VecDotProd3(nrm, m) < 0) Flip(nrm);
  } else {
    Copy(m, nrm);
  }
  Store(nx, ny, nz, n - 1, nrm);
  double n1[3];
  Normal(nx, ny, nz, 1, n1);
  Diff(cl, 1, 0, d);
  if (!Degenerate(d)) {
    double t[3];
    Unit(VecCrossProd3(VecCrossProd3(n1, d, t), d, nrm));
    if (VecDotProd3(nrm, n1) < 0) Flip(nrm);
  } else {
    Copy(n1, nrm);
  }
  Store(nx, ny, nz, 0, nrm);
}

// The end point of scan s nearer to p_i: its last when strictly nearer (lastIfStrict) or when
// at least as near (otherwise).
int NearerEnd(const Cloud* cl, int s, int i, bool lastIfStrict) {
  double a[3], b[3];
  Diff(cl, cl->scanStart[s], i, a), Diff(cl, cl->scanEnd[s], i, b);
  const double da = VecDotProd3(a, a), db = VecDotProd3(b, b);
  return (lastIfStrict ? db < da : db <= da) ? cl->scanEnd[s] : cl->scanStart[s];
}

void ScanNormals(const Cloud* cl, float* nx, float* ny, float* nz) {
  double m[3] = {0, 0, 1};
  for (int s = 0; s < cl->nscans; ++s) {
    const int first = cl->scanStart[s], last = cl->scanEnd[s];
    if (first < 0 || last >= cl->npts || last < first) continue;
    if (last - first + 1 < 3) {
      for (int i = first; i <= last; ++i) nx[i] = ny[i] = nz[i] = 0.0f;
      continue;
    }
    for (int i = first + 1; i < last; ++i) {
      double a[3], b[3], c[3], nrm[3];
      Diff(cl, i, i - 1, a), Diff(cl, i + 1, i, b);
      const bool start = i == first + 1;
      if (start) {
        if (s == 0) {
          m[0] = m[1] = 0, m[2] = 1;
        } else {
          Normal(nx, ny, nz, NearerEnd(cl, s - 1, i, true), m);
        }
      }
      if (Degenerate(a) || Degenerate(b)) {
        Copy(m, nrm);
      } else if (!Degenerate(VecCrossProd3(a, b, c))) {
        TurnNormal(a, b, c, nrm);
        if (!(start && s == 0)) Continue(a, b, m, nrm);
      } else if (!start) {
        VecCrossProd3(a, m, c);
        TurnNormal(a, b, c, nrm);
        Continue(a, b, m, nrm);
      } else {
        bool found = false;
        for (int q = i + 2; q <= last && !found; ++q) {
          Diff(cl, q, i, b);
          found = !Degenerate(VecCrossProd3(a, b, c));
        }
        if (found) {
          TurnNormal(a, b, c, nrm);
          if (s > 0) Continue(a, b, m, nrm);
        } else if (s > 0 || cl->nscans > 1) {
          const int q = s > 0 ? NearerEnd(cl, s - 1, i, false) : NearerEnd(cl, 1, i, true);
          double e[3];
          Diff(cl, q, i, e);
          if (Degenerate(VecCrossProd3(a, e, c))) {
            Copy(m, nrm);
          } else {
            Unit(c);
            Copy(c, nrm);
            double qn[3];
            Normal(nx, ny, nz, q, qn);
            if (s > 0 && VecDotProd3(nrm, qn) < 0) Flip(nrm);
          }
        } else {
          Copy(m, nrm);
        }
      }
      Copy(nrm, m);
      Store(nx, ny, nz, i, nrm);
    }
    nx[first] = nx[first + 1], ny[first] = ny[first + 1], nz[first] = nz[first + 1];
    nx[last] = nx[last - 1], ny[last] = ny[last - 1], nz[last] = nz[last - 1];
  }
}

bool PolylineMode(const Cloud* cl) { return cl->type == 0 || cl->nscans == 1 || !cl->scanStart || !cl->scanEnd; }

}  // namespace

void ComputeCloud2DNormals(const Cloud* cloud, float* nx, float* ny, float* nz, const Xform xform) {
  if (!cloud || cloud->npts < 3) return;
  if (!xform) xform = kIdentity;
  if (PolylineMode(cloud)) {
    PolylineNormals(cloud, nx, ny, nz);
  } else {
    ScanNormals(cloud, nx, ny, nz);
  }
  const int top = Highest(cloud, xform, [](int) { return true; });
  double v[3];
  Normal(nx, ny, nz, top, v);
  if (!FacesViewer(v, xform))
    for (int i = 0; i < cloud->npts; ++i) Negate(nx, ny, nz, i);
}

// ---- Offsets -------------------------------------------------------------------------------
namespace {

// The offset segments p_i-q_i and p_j-r_j cross when the offset points lie in swapped order
// along p_i -> p_j and the segments meet inside (or are too nearly parallel to say).
bool OffsetsCross(const Cloud* cl, const float* nx, const float* ny, const float* nz, int i, int j, double d,
                  bool checkSegments) {
  double pi[3], pj[3], ni[3], nj[3], qi[3], rj[3], e[3], f[3];
  Point(cl, i, pi), Point(cl, j, pj);
  Normal(nx, ny, nz, i, ni), Normal(nx, ny, nz, j, nj);
  for (int k = 0; k < 3; ++k) qi[k] = pi[k] + d * ni[k], rj[k] = pj[k] + d * nj[k];
  if (VecDotProd3(VecDiff3(pj, pi, e), VecDiff3(rj, qi, f)) >= 0) return false;
  if (!checkSegments) return true;
  double d2, s, t;
  if (LineSegsMinDistsq(pi, qi, pj, rj, &d2, &s, &t) != 0) return true;
  return s > 0.001 && s < 0.999 && t > 0.001 && t < 0.999;
}

}  // namespace

int RmOffsetSelfXsec(const Cloud* cloud, float* nx, float* ny, float* nz, double d) {
  if (!cloud || cloud->npts < 3 || !std::isfinite(d)) return 0;
  const int n = cloud->npts;
  TrackingScope scope;
  uint8_t* flag = nullptr;
  if (!CallocArrayUnlessFailed(flag, n)) return 0;
  // A balanced tree: a grid over points far beyond the rest would hold nearly all in one cell.
  // The flags are the same in any order of the pairs (a pair's test reads normals not yet
  // blanked), so the tree's order gives the grid's answer.
  Owned<NearTree, FreeNearTree> tree(BuildNearTree(cloud->x, cloud->y, cloud->z, n));
  if (!tree) {
    ClearStatusMessage();
    return 0;
  }
  Thermometer thermo("Compute normals");
  Marks marks(n, static_cast<int>(0.02 * n), 50);
  const double reach2 = 4 * d * d;
  for (int i = 0; i < n; ++i) {
    int p;
    if (marks.Due(i, &p)) thermo.set(p);
    if (!Present(nx, ny, nz, i)) continue;
    if (i % kPollEvery == 0 && user_break()) {
      tree.reset();
      ClearStatusMessage();
      return 0;
    }
    double pi[3];
    Point(cloud, i, pi);
    if (!std::isfinite(pi[0] + pi[1] + pi[2])) continue;
    SearchNearTree(*tree, pi, [reach2] { return reach2; }, [&](int j, double) {
      if (j <= i || !Present(nx, ny, nz, j) || (flag[i] && flag[j])) return;
      double pj[3], e[3];
      Point(cloud, j, pj);
      if (VecDotProd3(VecDiff3(pj, pi, e), e) > reach2) return;
      if (OffsetsCross(cloud, nx, ny, nz, i, j, d, true)) flag[i] = flag[j] = 1;
    });
    if (flag[i]) nx[i] = ny[i] = nz[i] = 0.0f;
  }
  thermo.finish();
  return 1;
}

int ComputeCloud3DOffsetNormals(const Cloud* cloud, float* nx, float* ny, float* nz, double d, const Xform xform) {
  return ComputeOffsetNormals(cloud, nx, ny, nz, d, xform) && RmOffsetSelfXsec(cloud, nx, ny, nz, d) ? 1 : 0;
}

void ComputeCloud2DOffsetNormals(const Cloud* cloud, float* nx, float* ny, float* nz, double d, const Xform xform) {
  ComputeCloud2DNormals(cloud, nx, ny, nz, xform);
  if (!cloud || cloud->npts < 3) return;
  const int n = cloud->npts;
  TrackingScope scope;
  uint8_t* flag = nullptr;
  if (!CallocArrayUnlessFailed(flag, n)) return;
  const bool one = cloud->type == 0 || !cloud->scanStart || !cloud->scanEnd;
  const int lines = one ? 1 : cloud->nscans;
  const double reach2 = 4 * d * d;
  for (int s = 0; s < lines; ++s) {
    const int first = one ? 0 : cloud->scanStart[s], last = one ? n - 1 : cloud->scanEnd[s];
    if (first < 0 || last >= n) continue;
    // End points take no part: their normals copy their neighbours'.
    for (int i = first + 1; i < last - 1; ++i) {
      if (!Present(nx, ny, nz, i)) continue;
      for (int j = i + 1; j < last; ++j) {
        if (!Present(nx, ny, nz, j)) continue;
        double pi[3], pj[3], e[3];
        Point(cloud, i, pi), Point(cloud, j, pj);
        if (VecDotProd3(VecDiff3(pj, pi, e), e) > reach2) break;
        if (!(flag[i] && flag[j]) && OffsetsCross(cloud, nx, ny, nz, i, j, d, false)) flag[i] = flag[j] = 1;
      }
      if (flag[i]) nx[i] = ny[i] = nz[i] = 0.0f;
    }
  }
}

Cloud* CloudOffset(Cloud* cloud, double d, const Xform xform, double* box) {
  if (!cloud) return nullptr;
  const int n = cloud->npts;
  if (n < 3) {
    InfoMessageFormat("%s", MSGstr("At least 3 points required"));
    return nullptr;
  }
  TrackingScope scope;
  float *nx = cloud->nx, *ny = cloud->ny, *nz = cloud->nz;
  if (!nx || !ny || !nz) {
    FreeCloudNormals(cloud);  // a partial set breaks the all-or-none rule and would leak
    nx = MallocArray<float>(n), ny = MallocArray<float>(n), nz = MallocArray<float>(n);
    if (!nx || !ny || !nz || !ComputeCloud3DOffsetNormals(cloud, nx, ny, nz, d, xform)) return nullptr;
    // Only now do they become the cloud's: out of this scope, so no failure below frees them.
    RemoveMallocFromTrack(nx), RemoveMallocFromTrack(ny), RemoveMallocFromTrack(nz);
    cloud->nx = nx, cloud->ny = ny, cloud->nz = nz;
  }
  float *ox = MallocArray<float>(n), *oy = MallocArray<float>(n), *oz = MallocArray<float>(n);
  float *onx = MallocArray<float>(n), *ony = MallocArray<float>(n), *onz = MallocArray<float>(n);
  char** labels = nullptr;
  uint8_t* shown = nullptr;
  if (!ox || !oy || !oz || !onx || !ony || !onz) return nullptr;
  if (cloud->labels && !CallocArrayUnlessFailed(labels, n)) return nullptr;
  if (cloud->labelIsShow && !CallocArrayUnlessFailed(shown, n / 8 + 1)) return nullptr;
  const float df = static_cast<float>(d);
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    if (!Present(nx, ny, nz, i)) continue;
    onx[kept] = nx[i], ony[kept] = ny[i], onz[kept] = nz[i];
    ox[kept] = cloud->x[i] + df * nx[i];
    oy[kept] = cloud->y[i] + df * ny[i];
    oz[kept] = cloud->z[i] + df * nz[i];
    if (labels && cloud->labels[i] && !(labels[kept] = lstrdup(cloud->labels[i]))) return nullptr;
    if (shown && (cloud->labelIsShow[i >> 3] >> (i & 7) & 1)) shown[kept >> 3] |= static_cast<uint8_t>(1 << (kept & 7));
    ++kept;
  }
  if (kept == 0) return nullptr;
  double localBox[6];
  Cloud* out = MakeCldNoAlloc(ox, oy, oz, kept, box ? box : localBox);
  if (!out) return nullptr;
  scope.keep();
  out->nx = onx, out->ny = ony, out->nz = onz;
  out->labels = labels;
  out->labelIsShow = shown;
  return out;
}

int ProjectCloudOnCloudNorms(const Cloud* a, const Cloud* b, double r, float* dist, int* hits) {
  if (!a || !b || !a->nx || !a->ny || !a->nz) return 0;
  const float r2 = static_cast<float>(r * r);
  if (!std::isfinite(r2)) return 0;
  TrackingScope scope;
  // A balanced tree over B, not a grid: points far beyond the rest would put all others in one
  // grid cell. Candidates are judged in float as ever; the tree's squared bound is wider than
  // r2 so that no point that passes in float is missed.
  Owned<NearTree, FreeNearTree> tree(BuildNearTree(b->x, b->y, b->z, b->npts));
  if (!tree) return 0;
  const double bound2 = 2.0 * r2 + 1e-30;
  for (int i = 0; i < a->npts; ++i) {
    double p[3], nrm[3], far[3];
    Point(a, i, p);
    Normal(a->nx, a->ny, a->nz, i, nrm);
    dist[i] = 0.0f;
    if (!std::isfinite(p[0] + p[1] + p[2])) continue;
    for (int k = 0; k < 3; ++k) far[k] = p[k] + 1000 * nrm[k];
    // The nearest to the normal line; of equal ones the first in B's order.
    double best = kEmptyBoxBound;
    int bestJ = -1;
    SearchNearTree(*tree, p, [bound2] { return bound2; }, [&](int j, double) {
      const float ex = a->x[i] - b->x[j], ey = a->y[i] - b->y[j], ez = a->z[i] - b->z[j];
      if (ex * ex + ey * ey + ez * ez > r2) return;
      double q[3], foot[3], d2;
      Point(b, j, q);
      LinePntMinDistSq(q, p, far, foot, &d2);
      if (d2 < best || (d2 == best && j < bestJ)) best = d2, bestJ = j;
    });
    if (bestJ < 0) continue;
    double q[3], foot[3], d2, e[3];
    Point(b, bestJ, q);
    LinePntMinDistSq(q, p, far, foot, &d2);
    VecDiff3(foot, p, e);
    const double len = VecSize3(e);
    dist[i] = static_cast<float>(VecDotProd3(nrm, e) < 0 ? -len : len);
    ++hits[i];
  }
  return 1;
}
