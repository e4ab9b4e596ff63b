#include "cloud/psubdiv.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

namespace {

constexpr int kInitialCellCapacity = 32;
// The user break is polled once per this many cells and points while building.
constexpr int kBreakPollInterval = 50;

// A copy of the first `count` entries in a fresh array of `capacity`; the old array is freed.
// Null (old array kept) on no memory.
int32_t* Regrow(int32_t* old, int count, int capacity) {
  int32_t* grown = MallocArray<int32_t>(capacity);
  if (!grown) return nullptr;
  if (count > 0) std::memcpy(grown, old, static_cast<size_t>(count) * sizeof(int32_t));
  Free(old);
  return grown;
}

// Doubles a full cell's items (and, while the builders fill it, isOwn).
bool GrowCell(SubdivCell* cell, bool withOwnFlags) {
  const int capacity = 2 * cell->capacity;
  int32_t* items = Regrow(cell->items, cell->count, capacity);
  if (!items) return false;
  cell->items = items;
  if (withOwnFlags) {
    int32_t* own = Regrow(cell->isOwn, cell->count, capacity);
    if (!own) return false;
    cell->isOwn = own;
  }
  cell->capacity = capacity;
  return true;
}

// Column of a coordinate. Points on the upper face go to the last column; points outside the
// box are held to the border column rather than indexing outside the grid.
int ColumnOf(double coord, double min, double size, int cells) {
  const double t = (coord - min) / size;
  if (!(t >= 0.0)) return 0;
  if (t >= cells) return cells - 1;
  return static_cast<int>(t);
}

// -1 or +1 towards the neighbouring column whose half faces the point, 0 for none: a point on
// its column's centre, or in the outermost column on that side, has no neighbour.
int NeighbourSide(double coord, int index, double min, double size, int cells) {
  const double centre = (index + 0.5) * size + min;
  if (coord < centre && index >= 1) return -1;
  if (coord > centre && index < cells - 1) return 1;
  return 0;
}

int AxisCells(double perUnit, double extent) {
  const double cells = perUnit * extent;
  return static_cast<int>(cells > 1.0 ? cells : 1.0);
}

}  // namespace

namespace {

// How a grid is laid out and filled; the builders differ only in these.
struct GridRule {
  double len[3] = {0, 0, 0};  // neighbourhood length per axis
  int maxDiv = 96;
  bool perAxis = false;       // coarsen each axis to twice its own length
  const int* requested = nullptr;  // cells per axis given by the caller (the box then widens)
  bool pollBreak = false;
  bool outerQuarter = false;  // neighbours enter from the outer quarter of a cell, not its half
  int capacity = kInitialCellCapacity;
  bool trim = true;           // cells trimmed to their counts
  bool callerScope = false;   // the grid's blocks stay in the caller's tracking scope
};

// Outer-quarter neighbour side: -1 within the lower quarter of the column, +1 within the upper
// quarter, 0 in between or toward the outside of the grid.
int QuarterSide(double coord, int index, double min, double size, int cells) {
  if (index >= 1 && coord <= min + (index + 0.25) * size) return -1;
  if (index < cells - 1 && coord >= min + (index + 0.75) * size) return 1;
  return 0;
}

// Method: K = min(s / (2 len), maxDiv) divisions, s the sum of the box's extents, shared among
// the axes by extent (at least one cell each), so cells are about cubes at least 2 len wide
// (or the requested counts, the box widened so cell centres fall on the given box's ends).
// Every point enters its own cell and, per axis, the neighbouring column whose half (or outer
// quarter) it lies in: one to eight cells. With perAxis, len holds one length per axis and each
// axis is coarsened until its cells are twice its own length wide.
Subdiv* BuildSubdiv(const float* x, const float* y, const float* z, int n, const double givenBox[6],
                    const GridRule& rule) {
  TrackingScope scope;
  if (rule.callerScope) scope.keep();  // nothing of ours yet: the blocks below go to the caller's scope
  Subdiv* grid = CallocArray<Subdiv>(1);
  if (!grid || KernelFailed()) return nullptr;
  // Only on the caller-scope road does a failure need freeing by hand; the scope does it else.
  auto fail = [&]() -> Subdiv* {
    if (rule.callerScope) FreeSubdiv(grid);
    return nullptr;
  };
  double box[6];
  for (int k = 0; k < 6; ++k) box[k] = givenBox[k];
  int32_t* counts[3] = {&grid->ncellsX, &grid->ncellsY, &grid->ncellsZ};
  double size[3];
  if (rule.requested) {
    for (int a = 0; a < 3; ++a) {
      const int cells = rule.requested[a] > 1 ? rule.requested[a] : 1;
      *counts[a] = cells;
      const double extent = box[a + 3] - box[a];
      size[a] = cells >= 2 ? extent / (cells - 1) : extent;
      if (cells >= 2) box[a] -= 0.5 * size[a], box[a + 3] += 0.5 * size[a];
    }
  } else {
    const double extent[3] = {box[3] - box[0], box[4] - box[1], box[5] - box[2]};
    double s = extent[2] + extent[1] + extent[0];
    if (!(s > 0.0)) s = 1e-6;
    // A length below a millionth of the box leaves the grid to maxDiv. The floor is relative so
    // that a part scaled by 1e-6 gets its own grid (an absolute 1e-6 made every small cloud one
    // cell, and every search through it quadratic).
    const double least = 1e-6 * s;
    double shortest = rule.len[0];
    for (int a = 1; a < 3; ++a) shortest = rule.len[a] < shortest ? rule.len[a] : shortest;
    if (!(shortest > least)) shortest = least;  // a length that is no number too
    double k = s / (2.0 * shortest);
    if (rule.maxDiv <= k) k = rule.maxDiv;
    const int K = static_cast<int>(k);
    const double perUnit = static_cast<double>(K) / s;
    for (int a = 0; a < 3; ++a) {
      *counts[a] = AxisCells(perUnit, extent[a]);
      const double axisLen = rule.len[a] > least ? rule.len[a] : least;
      if (rule.perAxis && extent[a] / *counts[a] < 2.0 * axisLen) *counts[a] = AxisCells(1.0 / (2.0 * axisLen), extent[a]);
      size[a] = extent[a] / *counts[a];
    }
  }
  grid->minX = box[0], grid->minY = box[1], grid->minZ = box[2];
  grid->maxX = box[3], grid->maxY = box[4], grid->maxZ = box[5];
  grid->sizeX = size[0], grid->sizeY = size[1], grid->sizeZ = size[2];
  // The product is taken by the allocator, which refuses one past its reach; once the block is
  // had, the count fits an int.
  grid->cells = CallocArray<SubdivCell>(grid->ncellsX, grid->ncellsY, grid->ncellsZ);
  grid->ownCell = MallocArray<int32_t>(n);
  if (!grid->cells || KernelFailed()) return fail();
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;

  // Binning divides by the sizes: a flat axis bins with a tiny size, the record keeps its 0.
  const double bx = grid->sizeX > 0.0 ? grid->sizeX : 1e-6;
  const double by = grid->sizeY > 0.0 ? grid->sizeY : 1e-6;
  const double bz = grid->sizeZ > 0.0 ? grid->sizeZ : 1e-6;
  const int nx = grid->ncellsX;
  const int nxy = grid->ncellsX * grid->ncellsY;
  auto side = rule.outerQuarter ? QuarterSide : NeighbourSide;
  // Point i's own cell (recorded) and the sides towards which it enters neighbouring cells (-1, 0
  // or +1 per axis, two bits each from bit 0 for x: side + 1).
  const auto place = [&](int i) {
    const double px = x[i], py = y[i], pz = z[i];
    const int ix = ColumnOf(px, box[0], bx, grid->ncellsX);
    const int iy = ColumnOf(py, box[1], by, grid->ncellsY);
    const int iz = ColumnOf(pz, box[2], bz, grid->ncellsZ);
    grid->ownCell[i] = ix + iy * nx + iz * nxy;
    return (side(px, ix, box[0], bx, grid->ncellsX) + 1) | (side(py, iy, box[1], by, grid->ncellsY) + 1) << 2 |
           (side(pz, iz, box[2], bz, grid->ncellsZ) + 1) << 4;
  };
  // Every cell point i enters, own flag alongside. Offsets run -1, 0, +1 in that order, x
  // outermost: the item order callers see.
  const auto enter = [&](int i, int sides, auto&& put) {
    const int c = grid->ownCell[i], sx = (sides & 3) - 1, sy = (sides >> 2 & 3) - 1, sz = (sides >> 4 & 3) - 1;
    for (int ox = sx < 0 ? -1 : 0; ox <= (sx > 0 ? 1 : 0); ++ox)
      for (int oy = sy < 0 ? -1 : 0; oy <= (sy > 0 ? 1 : 0); ++oy)
        for (int oz = sz < 0 ? -1 : 0; oz <= (sz > 0 ? 1 : 0); ++oz)
          if (!put(grid->cells[c + ox + oy * nx + oz * nxy], ox == 0 && oy == 0 && oz == 0)) return false;
    return true;
  };
  const auto append = [](SubdivCell& cell, int i, bool own) {
    cell.items[cell.count] = i;
    cell.isOwn[cell.count] = own ? 1 : 0;
    ++cell.count;
  };

  if (rule.trim) {
    // Counted first, then every cell that holds items gets arrays of exactly its count: no cell
    // grows, none is trimmed, and the empty ones (most cells of a fine grid over a clustered
    // cloud) cost no allocation at all.
    uint8_t* sides = MallocArray<uint8_t>(n);
    if (n > 0 && !sides) return fail();
    for (int i = 0; i < n; ++i) {
      if (rule.pollBreak && i % kBreakPollInterval == 0 && user_break()) return fail();
      sides[i] = static_cast<uint8_t>(place(i));
      enter(i, sides[i], [](SubdivCell& cell, bool) { return ++cell.count > 0; });
    }
    for (int c = 0; c < ncells; ++c) {
      if (rule.pollBreak && c % kBreakPollInterval == 0 && user_break()) return fail();
      SubdivCell& cell = grid->cells[c];
      if (cell.count == 0) continue;
      cell.capacity = cell.count;
      cell.count = 0;
      cell.items = MallocArray<int32_t>(cell.capacity);
      cell.isOwn = MallocArray<int32_t>(cell.capacity);
      if (!cell.items || !cell.isOwn) return fail();
    }
    for (int i = 0; i < n; ++i)
      enter(i, sides[i], [&](SubdivCell& cell, bool own) { return append(cell, i, own), true; });
    Free(sides);
    scope.keep();
    return grid;
  }

  for (int c = 0; c < ncells; ++c) {
    if (rule.pollBreak && c % kBreakPollInterval == 0 && user_break()) return fail();
    SubdivCell& cell = grid->cells[c];
    cell.items = MallocArray<int32_t>(rule.capacity);
    cell.isOwn = MallocArray<int32_t>(rule.capacity);
    cell.count = 0;
    cell.capacity = rule.capacity;
    if (!cell.items || !cell.isOwn) return fail();
  }
  for (int i = 0; i < n; ++i) {
    if (rule.pollBreak && i % kBreakPollInterval == 0 && user_break()) return fail();
    const bool entered = enter(i, place(i), [&](SubdivCell& cell, bool own) {
      if (cell.count == cell.capacity && !GrowCell(&cell, true)) return false;
      append(cell, i, own);
      return true;
    });
    if (!entered) return fail();
  }
  scope.keep();
  return grid;
}

}  // namespace

Subdiv* SubdivideArrays(const float* x, const float* y, const float* z, int n, double minX,
                        double minY, double minZ, double maxX, double maxY, double maxZ,
                        double len, int maxDiv) {
  if (n > 0 && (!x || !y || !z)) {
    SetKernelError(-2);
    return nullptr;
  }
  const double box[6] = {minX, minY, minZ, maxX, maxY, maxZ};
  GridRule rule;
  rule.len[0] = rule.len[1] = rule.len[2] = len;
  rule.maxDiv = maxDiv;
  rule.pollBreak = true;
  return BuildSubdiv(x, y, z, n, box, rule);
}

int SubdivDivisionsFor(int n, const double box[6]) {
  // The cells are shared among the axes by extent, as BuildSubdiv shares them.
  constexpr int kLeast = 96;
  const double extent[3] = {box[3] - box[0], box[4] - box[1], box[5] - box[2]};
  const double s = extent[0] + extent[1] + extent[2];
  if (!(s > 0.0) || !std::isfinite(s) || n < 1) return kLeast;
  const double room = 4.0 * n;
  const auto cells = [&](double k) {
    double c = 1.0;
    for (double e : extent) c *= AxisCells(k / s, e);
    return c;
  };
  // Cells grow with the divisions: bisect on them between the least and a bound no grid needs.
  int lo = kLeast, hi = 1 << 20;
  if (cells(lo) > room) return kLeast;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    (cells(mid) <= room ? lo : hi) = mid;
  }
  return lo;
}

Subdiv* SubdivideArraysMax(const float* x, const float* y, const float* z, int n, double minX,
                           double minY, double minZ, double maxX, double maxY, double maxZ,
                           double lenX, double lenY, double lenZ, int maxDiv) {
  if (n > 0 && (!x || !y || !z)) {
    SetKernelError(-2);
    return nullptr;
  }
  const double box[6] = {minX, minY, minZ, maxX, maxY, maxZ};
  GridRule rule;
  rule.len[0] = lenX, rule.len[1] = lenY, rule.len[2] = lenZ;
  rule.maxDiv = maxDiv;
  rule.perAxis = true;
  return BuildSubdiv(x, y, z, n, box, rule);
}

namespace {

// The cloud grids: no trim, no user break, their blocks in the caller's scope.
GridRule CloudGridRule(double len, bool outerQuarter) {
  GridRule rule;
  rule.len[0] = rule.len[1] = rule.len[2] = len;
  rule.maxDiv = 128;
  rule.outerQuarter = outerQuarter;
  rule.trim = false;
  rule.callerScope = true;
  return rule;
}

}  // namespace

Subdiv* CloudSubdivide3DCore(const Cloud* cloud, double len, const Bbox box) {
  if (!cloud || cloud->npts < 1) return nullptr;
  return BuildSubdiv(cloud->x, cloud->y, cloud->z, cloud->npts, box, CloudGridRule(len, true));
}

Subdiv* CloudSubdivide3DTooCore(const Cloud* cloud, double len, const Bbox box) {
  if (!cloud || cloud->npts < 1) return nullptr;
  return BuildSubdiv(cloud->x, cloud->y, cloud->z, cloud->npts, box, CloudGridRule(len, false));
}

Subdiv* CloudSubdivideRequestCore(const Cloud* cloud, int nx, int ny, int nz, const Bbox box) {
  if (!cloud || cloud->npts < 1) return nullptr;
  const int requested[3] = {nx, ny, nz};
  GridRule rule = CloudGridRule(0.0, true);
  rule.requested = requested;
  rule.capacity = 4;
  return BuildSubdiv(cloud->x, cloud->y, cloud->z, cloud->npts, box, rule);
}

void FreeSubdivCell(SubdivCell* cell) {
  if (cell->capacity == 0) return;
  Free(cell->items);
  Free(cell->isOwn);
  cell->items = nullptr;
  cell->isOwn = nullptr;
}

void FreeSubdiv(Subdiv* grid) {
  if (!grid) return;
  if (grid->cells) {
    const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
    for (int c = 0; c < ncells; ++c) FreeSubdivCell(&grid->cells[c]);
  }
  Free(grid->cells);
  Free(grid->ownCell);
  FreeNearTree(grid->tree);
  Free(grid);
}

int OptimizeSubdiv(Subdiv* grid) {
  TrackingScope scope;
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  for (int c = 0; c < ncells; ++c) {
    SubdivCell& cell = grid->cells[c];
    if (cell.capacity == cell.count) continue;
    if (cell.count == 0) {
      FreeSubdivCell(&cell);
      cell.capacity = 0;
      continue;
    }
    auto* items = ReallocArray(cell.items, cell.count);
    if (items) cell.items = items;
    auto* own = items ? ReallocArray(cell.isOwn, cell.count) : nullptr;
    if (own) cell.isOwn = own;
    if (!items || !own) {
      // A failed shrink leaves the old block in place: drop the cell's contents altogether.
      FreeSubdivCell(&cell);
      cell.count = 0;
      cell.capacity = 0;
      scope.keep();
      return 0;
    }
    cell.capacity = cell.count;
  }
  scope.keep();
  return 1;
}

int AddLineTo3DSubdivToo(Subdiv* grid, int a, int b, int id) {
  // Grown arrays belong to the grid on every path, also when a later one fails: the caller then
  // frees the whole grid, which must not find freed arrays in it.
  TrackingScope scope;
  const int nx = grid->ncellsX;
  const int nxy = grid->ncellsX * grid->ncellsY;
  const int ca = grid->ownCell[a];
  const int cb = grid->ownCell[b];
  const int colA[3] = {ca % nxy % nx, ca % nxy / nx, ca / nxy};
  const int colB[3] = {cb % nxy % nx, cb % nxy / nx, cb / nxy};
  const int cells[3] = {grid->ncellsX, grid->ncellsY, grid->ncellsZ};
  int lo[3];
  int hi[3];
  for (int k = 0; k < 3; ++k) {
    lo[k] = (colA[k] < colB[k] ? colA[k] : colB[k]) - 1;
    hi[k] = (colA[k] > colB[k] ? colA[k] : colB[k]) + 1;
    if (lo[k] < 0) lo[k] = 0;
    if (hi[k] > cells[k] - 1) hi[k] = cells[k] - 1;
  }
  for (int ix = lo[0]; ix <= hi[0]; ++ix) {
    for (int iy = lo[1]; iy <= hi[1]; ++iy) {
      for (int iz = lo[2]; iz <= hi[2]; ++iz) {
        SubdivCell& cell = grid->cells[ix + iy * nx + iz * nxy];
        if (cell.count == 0) continue;
        if (cell.count == cell.capacity && !GrowCell(&cell, false)) {
          scope.keep();
          return 0;
        }
        cell.items[cell.count++] = id;
      }
    }
  }
  scope.keep();
  return 1;
}

void ClearSubdiv(Subdiv* grid) {
  TrackingScope scope;
  Free(grid->ownCell);
  grid->ownCell = nullptr;
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  // An array of exactly the starting capacity is reused; any other gives way to a new one.
  auto fresh = [&](int32_t* old, int capacity) {
    if (old && capacity == kInitialCellCapacity) return old;
    Free(old);
    return MallocArray<int32_t>(kInitialCellCapacity);
  };
  for (int c = 0; c < ncells; ++c) {
    SubdivCell& cell = grid->cells[c];
    if (cell.capacity == 0) continue;
    if (cell.count == 0) {
      FreeSubdivCell(&cell);
      cell.capacity = 0;
      continue;
    }
    cell.count = 0;
    cell.items = fresh(cell.items, cell.capacity);
    cell.isOwn = fresh(cell.isOwn, cell.capacity);
    cell.capacity = kInitialCellCapacity;
    if (!cell.items || !cell.isOwn) {
      FreeSubdivCell(&cell);  // no memory: the cell stays empty without arrays
      cell.capacity = 0;
    }
  }
  scope.keep();
}

void AddAnElementToBin(Subdiv* grid, int cell, int id) {
  if (cell < 0 || cell >= grid->ncellsX * grid->ncellsY * grid->ncellsZ) return;
  TrackingScope scope;
  SubdivCell& c = grid->cells[cell];
  if (c.capacity == 0) {
    // A cell emptied by a trim has no arrays to append to.
    c.items = MallocArray<int32_t>(kInitialCellCapacity);
    if (!c.items) return;
    c.count = 0;
    c.capacity = kInitialCellCapacity;
  } else if (c.count == c.capacity && !GrowCell(&c, false)) {
    scope.keep();
    return;
  }
  c.items[c.count++] = id;
  scope.keep();
}

void SetSubdivArrays(const Subdiv* grid, int n, int** cellLists, int* cellCounts) {
  if (n <= 0) return;
  for (int p = 0; p < n; ++p) cellCounts[p] = 0;
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  for (int c = 0; c < ncells; ++c) {
    const SubdivCell& cell = grid->cells[c];
    for (int k = 0; k < cell.count; ++k) {
      const int p = cell.items[k];
      if (p < 0 || p >= n || cellCounts[p] >= 8) continue;  // a segment id, or no room left
      cellLists[p][cellCounts[p]++] = c;
    }
  }
}

int FindSubDivXYGridIndex(const Subdiv* grid, double x, double y, int* ix, int* iy) {
  // A value below the box (or NaN) takes the first column, above it the last; inside, a zero
  // cell size (flat axis) has only column 0.
  auto column = [](double v, double min, double max, double size, int cells, int* index) {
    if (!(v >= min)) {
      *index = 0;
      return false;
    }
    if (v > max) {
      *index = cells - 1;
      return false;
    }
    const double t = size > 0.0 ? (v - min) / size : 0.0;
    *index = t >= cells - 1 ? cells - 1 : static_cast<int>(t);
    return true;
  };
  const bool inX = column(x, grid->minX, grid->maxX, grid->sizeX, grid->ncellsX, ix);
  const bool inY = column(y, grid->minY, grid->maxY, grid->sizeY, grid->ncellsY, iy);
  return inX && inY ? 1 : 0;
}

// ---- Balanced neighbour tree ---------------------------------------------------------------

NearTree* BuildNearTree(const float* x, const float* y, const float* z, int n) {
  if (n < 0 || (n > 0 && (!x || !y || !z))) return nullptr;
  TrackingScope scope;
  NearTree* t = CallocArray<NearTree>(1);
  if (!t) return nullptr;
  t->xyz[0] = x, t->xyz[1] = y, t->xyz[2] = z;
  t->order = MallocArray<int32_t>(n > 0 ? n : 1);
  // A node of m > kNearLeaf points splits into halves of at least kNearLeaf / 2, so there are at
  // most 2 n / (kNearLeaf / 2) nodes.
  const long most = 2L * n / (kNearLeaf / 2) + 2;
  t->nodes = MallocArray<NearNode>(most);
  if (!t->order || !t->nodes || KernelFailed()) return nullptr;
  int m = 0;
  for (int i = 0; i < n; ++i)
    if (std::isfinite(x[i]) && std::isfinite(y[i]) && std::isfinite(z[i])) t->order[m++] = i;
  t->count = m;
  int used = 1;
  int32_t stack[96];
  int top = 0;
  t->nodes[0].first = 0, t->nodes[0].last = m;
  stack[top++] = 0;
  while (top > 0) {
    NearNode& node = t->nodes[stack[--top]];
    double* b = node.box;
    for (int a = 0; a < 3; ++a) b[a] = kEmptyBoxBound, b[a + 3] = -kEmptyBoxBound;
    for (int k = node.first; k < node.last; ++k)
      for (int a = 0; a < 3; ++a) {
        const double v = t->xyz[a][t->order[k]];
        b[a] = v < b[a] ? v : b[a], b[a + 3] = v > b[a + 3] ? v : b[a + 3];
      }
    node.child = -1;
    const int size = node.last - node.first;
    if (size <= kNearLeaf) continue;
    // Split by count even where the box has no width: a heap of coincident points then still
    // ends in small leaves, which a full nearest list passes over whole.
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (b[a + 3] - b[a] > b[axis + 3] - b[axis]) axis = a;
    const float* c = t->xyz[axis];
    int32_t *lo = t->order + node.first, *mid = lo + size / 2, *hi = t->order + node.last;
    std::nth_element(lo, mid, hi, [c](int32_t i, int32_t j) { return c[i] < c[j] || (c[i] == c[j] && i < j); });
    node.child = used;
    NearNode* kids = t->nodes + used;
    used += 2;
    kids[0].first = node.first, kids[0].last = node.first + size / 2;
    kids[1].first = node.first + size / 2, kids[1].last = node.last;
    stack[top++] = node.child + 1;
    stack[top++] = node.child;
  }
  t->nodeCount = used;
  scope.keep();
  return t;
}

void FreeNearTree(NearTree* tree) {
  if (!tree) return;
  Free(tree->own);
  Free(tree->order);
  Free(tree->nodes);
  Free(tree);
}

namespace {

// The node's box from its children's, or from its points' boxes in a leaf; the depth is that of
// the tree (at most 33).
void WidenNearNode(NearTree& t, int at, const double* boxes) {
  NearNode& node = t.nodes[at];
  double* b = node.box;
  for (int a = 0; a < 3; ++a) b[a] = HUGE_VAL, b[a + 3] = -HUGE_VAL;
  const auto hold = [b](const double* box) {
    for (int a = 0; a < 3; ++a) b[a] = std::min(b[a], box[a]), b[a + 3] = std::max(b[a + 3], box[a + 3]);
  };
  if (node.child >= 0) {
    for (int k = 0; k < 2; ++k) {
      WidenNearNode(t, node.child + k, boxes);
      hold(t.nodes[node.child + k].box);
    }
    return;
  }
  for (int k = node.first; k < node.last; ++k) hold(boxes + 6L * t.order[k]);
}

}  // namespace

void WidenNearTree(NearTree* tree, const double* boxes) {
  if (tree && tree->count > 0) WidenNearNode(*tree, 0, boxes);
}

NearTree* BuildBoxTree(const double* boxes, int n) {
  if (n > 0 && !boxes) {
    SetKernelError(-2);
    return nullptr;
  }
  float* c = MallocArray<float>(3, std::max(n, 1));
  NearTree* kept = MallocArray<NearTree>(1);
  int32_t* order = MallocArray<int32_t>(std::max(n, 1));
  if (!c || !kept || !order) return nullptr;
  for (int i = 0; i < n; ++i) {
    const double* b = boxes + 6L * i;
    bool finite = true;
    for (int a = 0; a < 6; ++a) finite = finite && std::isfinite(b[a]);
    // A NaN centre keeps the box out of the tree.
    for (int a = 0; a < 3; ++a) c[a * static_cast<long>(n) + i] = finite ? float(0.5 * b[a] + 0.5 * b[a + 3]) : NAN;
  }
  NearTree* tree = BuildNearTree(c, c + n, c + 2L * n, n);
  if (!tree) return nullptr;
  WidenNearTree(tree, boxes);
  // Copied into the caller's scope.
  NearNode* nodes = MallocArray<NearNode>(std::max(tree->nodeCount, 1));
  if (nodes) {
    *kept = *tree;
    std::copy(tree->order, tree->order + tree->count, order);
    std::copy(tree->nodes, tree->nodes + tree->nodeCount, nodes);
    kept->order = order, kept->nodes = nodes;
  }
  FreeNearTree(tree);
  return nodes ? kept : nullptr;
}

long SubdivBlockCount(const Subdiv* grid, int c) {
  const int nx = grid->ncellsX, ny = grid->ncellsY, nz = grid->ncellsZ, nxy = nx * ny;
  const int ix = c % nx, iy = c / nx % ny, iz = c / nxy;
  long sum = 0;
  for (int z = std::max(iz - 1, 0); z <= std::min(iz + 1, nz - 1); ++z)
    for (int y = std::max(iy - 1, 0); y <= std::min(iy + 1, ny - 1); ++y)
      for (int x = std::max(ix - 1, 0); x <= std::min(ix + 1, nx - 1); ++x) sum += grid->cells[x + y * nx + z * nxy].count;
  return sum;
}

// ---- Scans -----------------------------------------------------------------------------------

namespace {

// The walk of the scan cuts over a cloud's points, forward (dir 1) or backward (dir -1).
class ScanWalk {
 public:
  ScanWalk(const Cloud* cloud, int dir) : c_(cloud), dir_(dir) {}

  // From A = p(s), B = p(s + dir): the index of the first cut, or the index one past the end of
  // the cloud in the walk's direction when there is none. bound holds the look-back points.
  int Run(int s, int bound) const {
    const int stop = dir_ > 0 ? c_->npts : -1;
    double A[3], B[3], D[3], P[3];
    Point(s, A);
    Point(s + dir_, B);
    Sub(B, A, D);
    int i = s + 2 * dir_;
    // Steps onto repeated points are passed over: A stays, B moves on.
    while (Coincident(D) && i != stop) {
      Point(i, B);
      Sub(B, A, D);
      i += dir_;
    }
    for (; i != stop; i += dir_) {
      double a[3], b[3], d[3];
      Copy(A, a), Copy(B, b), Copy(D, d);
      Copy(B, A);
      Point(i, B);
      Copy(D, P);
      Sub(B, A, D);
      if (Coincident(D)) {
        Copy(a, A), Copy(b, B), Copy(d, D);
        continue;
      }
      if (CutAt(i, A, B, D, P, bound)) return i;
    }
    return stop;
  }

 private:
  static constexpr double kTurnFree = 10.0;    // turns up to this never cut
  static constexpr double kTurnSharp = 35.0;   // cuts when the path also turned wide
  static constexpr double kWideSharp = 120.0;
  static constexpr double kTurnCut = 130.0;    // always cuts

  void Point(int i, double p[3]) const { p[0] = c_->x[i], p[1] = c_->y[i], p[2] = c_->z[i]; }
  static void Sub(const double a[3], const double b[3], double d[3]) {
    d[0] = a[0] - b[0], d[1] = a[1] - b[1], d[2] = a[2] - b[2];
  }
  static void Copy(const double a[3], double b[3]) { b[0] = a[0], b[1] = a[1], b[2] = a[2]; }
  static bool Coincident(const double d[3]) {
    return std::fabs(d[0]) < 1e-5 && std::fabs(d[1]) < 1e-5 && std::fabs(d[2]) < 1e-5;
  }

  // The turn t between the steps P and D, and a wide turn W measured from look-back points 6 to
  // 8 behind (held at the bound): a slow curve of many small turns adds up in W.
  bool CutAt(int i, const double A[3], const double B[3], const double D[3], const double P[3], int bound) const {
    const double t = FindAngleVectors3(P, D);
    if (t <= kTurnFree) return false;
    double W = 0.0;
    if (t < kTurnCut) {
      for (int k = 0; k < 3 && W < kTurnCut; ++k) {
        int e = i - dir_ * (6 + k);
        if (dir_ > 0 ? e < bound : e > bound) e = bound;
        double E[3], AE[3], BA[3];
        Point(e, E);
        Sub(A, E, AE);
        Sub(B, A, BA);
        const double w = FindAngleVectors3(AE, BA);
        if (w > W) W = w;
      }
    }
    return W > kTurnCut || (t > kTurnSharp && W > kWideSharp) || t > kTurnCut;
  }

  const Cloud* c_;
  int dir_;
};

// Two consecutive scans continue one another: both run, and the second lies on, in one direction.
bool ScansRunOn(const Cloud* c, int s1, int e1, int s2, int e2) {
  auto vec = [&](int to, int from, double v[3]) {
    v[0] = double(c->x[to]) - c->x[from], v[1] = double(c->y[to]) - c->y[from], v[2] = double(c->z[to]) - c->z[from];
  };
  double a[3], b[3], g[3], h[3];
  vec(e1, s1, a);
  vec(e2, s2, b);
  vec(s2, s1, g);
  vec(e2, e1, h);
  constexpr double kMergeAngle = 60.0;
  return FindAngleVectors3(a, b) < kMergeAngle && FindAngleVectors3(a, g) < kMergeAngle &&
         FindAngleVectors3(h, b) < kMergeAngle;
}

}  // namespace

int FindCloudScans(const Cloud* cloud, int* scans, int* count) {
  *count = 0;
  if (!cloud || cloud->npts < 1) return 0;
  const int n = cloud->npts;
  if (cloud->type != 0 && cloud->scanStart && cloud->scanEnd) {
    for (int s = 0; s < cloud->nscans; ++s) scans[2 * s] = cloud->scanStart[s], scans[2 * s + 1] = cloud->scanEnd[s];
    *count = cloud->nscans;
    return 0;
  }
  if (n < 6) {
    scans[0] = 0, scans[1] = n - 1;
    *count = 1;
    return 0;
  }
  const ScanWalk walk(cloud, 1);
  bool emitted = false;
  int first = 0;
  while (first + 1 < n) {
    const int i = walk.Run(first, emitted ? 0 : first);
    if (i >= n) break;
    if (i - first < 5) {
      // Too short for a scan: its points belong to none, the next scan starts at the corner.
      emitted = false;
      first = i - 1;
      continue;
    }
    scans[2 * *count] = first, scans[2 * *count + 1] = i - 1;
    ++*count;
    emitted = true;
    if (*count >= 2) {
      int* prev = scans + 2 * (*count - 2);
      if (ScansRunOn(cloud, prev[0], prev[1], first, i - 1)) prev[1] = i - 1, --*count;
    }
    first = i;
  }
  if (n - first >= 5) {
    scans[2 * *count] = first, scans[2 * *count + 1] = n - 1;
    ++*count;
  }
  return 0;
}

void ExtractTheScan(const Cloud* cloud, int seed, int* first, int* last) {
  if (!cloud || cloud->npts < 1) return;
  const int n = cloud->npts;
  if (n < 6) {
    *first = 0, *last = n - 1;
    return;
  }
  if (seed < 0 || seed >= n) return;
  *last = seed + 1 >= n ? n - 1 : ScanWalk(cloud, 1).Run(seed, seed) - 1;
  *first = seed < 2 ? 0 : ScanWalk(cloud, -1).Run(seed, seed) + 1;
}

// ---- Breaking ------------------------------------------------------------------------------

namespace {

// A new unordered cloud of points first..last with their normals, labels and label visibility.
Cloud* MakePiece(const Cloud* cloud, int first, int last, double box[6]) {
  const int m = last - first + 1;
  Owned<Cloud, FreeCloud> piece(MakeCld(cloud->x + first, cloud->y + first, cloud->z + first, m, box));
  if (!piece || KernelFailed()) return nullptr;
  if (cloud->nx && !CopyCloudNormals(piece.get(), cloud->nx + first, cloud->ny + first, cloud->nz + first, m))
    return nullptr;
  if (cloud->labels) {
    if (!CopyCloudLabels(cloud->labels + first, m, &piece->labels, nullptr, 0)) return nullptr;
  }
  if (cloud->labelIsShow) {
    UntrackedScope own;
    piece->labelIsShow = CallocArray<uint8_t>(CloudBitArrayBytes(m));
    if (!piece->labelIsShow) return nullptr;
    for (int k = 0; k < m; ++k) {
      const int i = first + k;
      if ((cloud->labelIsShow[i >> 3] >> (i & 7)) & 1) piece->labelIsShow[k >> 3] |= uint8_t(1u << (k & 7));
    }
  }
  if (KernelFailed()) return nullptr;
  return piece.release();
}

}  // namespace

int BreakCloud(const Cloud* cloud, double gap2, int* count, Cloud*** pieces, Bbox** boxes) {
  if (count) *count = 0;
  if (pieces) *pieces = nullptr;
  if (boxes) *boxes = nullptr;
  if (!cloud || cloud->npts < 1) return 0;
  TrackingScope scope;
  Cloud** made = nullptr;
  Bbox* madeBoxes = nullptr;
  int n = 0, room = 0;
  auto fail = [&]() {
    for (int k = 0; made && k < n; ++k) FreeCloud(made[k]);
    if (count) *count = 0;
    return 0;  // the scope frees both arrays
  };
  auto close = [&](int first, int last) {
    if (n + 1 > room) {
      room += 5;
      if (pieces) {
        Cloud** grown = ReallocArray(made, room);
        if (!grown) return false;
        made = grown;
      }
      if (boxes) {
        Bbox* grown = ReallocArray(madeBoxes, room);
        if (!grown) return false;
        madeBoxes = grown;
      }
      if (KernelFailed()) return false;
    }
    double box[6];
    Cloud* piece = MakePiece(cloud, first, last, box);
    if (!piece) return false;
    if (pieces) made[n] = piece;
    else FreeCloud(piece);
    if (boxes)
      for (int k = 0; k < 6; ++k) madeBoxes[n][k] = box[k];
    ++n;
    return true;
  };
  int first = 0;
  for (int i = 1; i < cloud->npts; ++i) {
    const double dx = double(cloud->x[i]) - cloud->x[i - 1], dy = double(cloud->y[i]) - cloud->y[i - 1],
                 dz = double(cloud->z[i]) - cloud->z[i - 1];
    if (dx * dx + dy * dy + dz * dz <= gap2) continue;
    if (!close(first, i - 1)) return fail();
    first = i;
  }
  if (!close(first, cloud->npts - 1)) return fail();
  scope.keep();
  if (count) *count = n;
  if (pieces) *pieces = made;
  if (boxes) *boxes = madeBoxes;
  return 1;
}
