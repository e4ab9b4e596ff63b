#include "cloud/psubdiv.h"

#include <cstring>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
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

// Method: K = min(s / (2 len), maxDiv) divisions, s the sum of the box's extents, shared among
// the axes by extent (at least one cell each), so cells are about cubes at least 2 len wide.
// Every point enters its own cell and, per axis, the neighbouring column whose half it lies in:
// one to eight cells. With perAxis, len holds one length per axis and each axis is coarsened
// until its cells are twice its own length wide.
Subdiv* BuildSubdiv(const float* x, const float* y, const float* z, int n, const double box[6], const double len[3],
                    int maxDiv, bool perAxis, bool pollBreak) {
  TrackingScope scope;
  auto* grid = static_cast<Subdiv*>(Malloc(sizeof(Subdiv)));
  if (!grid || KernelFailed()) return nullptr;
  *grid = Subdiv{};
  grid->minX = box[0], grid->minY = box[1], grid->minZ = box[2];
  grid->maxX = box[3], grid->maxY = box[4], grid->maxZ = box[5];

  const double extent[3] = {box[3] - box[0], box[4] - box[1], box[5] - box[2]};
  double s = extent[2] + extent[1] + extent[0];
  if (s <= 1e-6) s = 1e-6;
  double shortest = len[0];
  for (int a = 1; a < 3; ++a) shortest = len[a] < shortest ? len[a] : shortest;
  if (shortest <= 1e-6) shortest = 1e-6;
  double k = s / (2.0 * shortest);
  if (maxDiv <= k) k = maxDiv;
  const int K = static_cast<int>(k);
  const double perUnit = static_cast<double>(K) / s;
  int32_t* counts[3] = {&grid->ncellsX, &grid->ncellsY, &grid->ncellsZ};
  for (int a = 0; a < 3; ++a) {
    *counts[a] = AxisCells(perUnit, extent[a]);
    const double axisLen = len[a] > 1e-6 ? len[a] : 1e-6;
    if (perAxis && extent[a] / *counts[a] < 2.0 * axisLen) *counts[a] = AxisCells(1.0 / (2.0 * axisLen), extent[a]);
  }
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;

  grid->cells = MallocArray<SubdivCell>(ncells);
  grid->ownCell = MallocArray<int32_t>(n);
  if (!grid->cells || KernelFailed()) return nullptr;
  for (int c = 0; c < ncells; ++c) {
    if (pollBreak && c % kBreakPollInterval == 0 && user_break()) return nullptr;
    SubdivCell& cell = grid->cells[c];
    cell.count = 0;
    cell.capacity = kInitialCellCapacity;
    cell.items = MallocArray<int32_t>(kInitialCellCapacity);
    cell.isOwn = MallocArray<int32_t>(kInitialCellCapacity);
    if (!cell.items || !cell.isOwn) return nullptr;
  }

  grid->sizeX = extent[0] / grid->ncellsX;
  grid->sizeY = extent[1] / grid->ncellsY;
  grid->sizeZ = extent[2] / grid->ncellsZ;
  // Binning divides by the sizes: a flat axis bins with a tiny size, the record keeps its 0.
  const double bx = grid->sizeX < 1e-6 ? 1e-6 : grid->sizeX;
  const double by = grid->sizeY < 1e-6 ? 1e-6 : grid->sizeY;
  const double bz = grid->sizeZ < 1e-6 ? 1e-6 : grid->sizeZ;
  const int nx = grid->ncellsX;
  const int nxy = grid->ncellsX * grid->ncellsY;

  for (int i = 0; i < n; ++i) {
    if (pollBreak && i % kBreakPollInterval == 0 && user_break()) return nullptr;
    const double px = x[i];
    const double py = y[i];
    const double pz = z[i];
    const int ix = ColumnOf(px, box[0], bx, grid->ncellsX);
    const int iy = ColumnOf(py, box[1], by, grid->ncellsY);
    const int iz = ColumnOf(pz, box[2], bz, grid->ncellsZ);
    grid->ownCell[i] = ix + iy * nx + iz * nxy;
    const int sx = NeighbourSide(px, ix, box[0], bx, grid->ncellsX);
    const int sy = NeighbourSide(py, iy, box[1], by, grid->ncellsY);
    const int sz = NeighbourSide(pz, iz, box[2], bz, grid->ncellsZ);
    // Offsets run -1, 0, +1 in that order, x outermost: the item order callers see.
    for (int ox = sx < 0 ? -1 : 0; ox <= (sx > 0 ? 1 : 0); ++ox) {
      for (int oy = sy < 0 ? -1 : 0; oy <= (sy > 0 ? 1 : 0); ++oy) {
        for (int oz = sz < 0 ? -1 : 0; oz <= (sz > 0 ? 1 : 0); ++oz) {
          SubdivCell& cell = grid->cells[(ix + ox) + (iy + oy) * nx + (iz + oz) * nxy];
          if (cell.count == cell.capacity && !GrowCell(&cell, true)) return nullptr;
          cell.items[cell.count] = i;
          cell.isOwn[cell.count] = (ox == 0 && oy == 0 && oz == 0) ? 1 : 0;
          ++cell.count;
        }
      }
    }
  }
  scope.keep();
  if (!OptimizeSubdiv(grid)) {
    FreeSubdiv(grid);
    return nullptr;
  }
  return grid;
}

}  // namespace

Subdiv* SubdivideArrays(const float* x, const float* y, const float* z, int n, double minX,
                        double minY, double minZ, double maxX, double maxY, double maxZ,
                        double len, int maxDiv) {
  const double box[6] = {minX, minY, minZ, maxX, maxY, maxZ};
  const double lens[3] = {len, len, len};
  return BuildSubdiv(x, y, z, n, box, lens, maxDiv, false, true);
}

Subdiv* SubdivideArraysMax(const float* x, const float* y, const float* z, int n, double minX,
                           double minY, double minZ, double maxX, double maxY, double maxZ,
                           double lenX, double lenY, double lenZ, int maxDiv) {
  const double box[6] = {minX, minY, minZ, maxX, maxY, maxZ};
  const double lens[3] = {lenX, lenY, lenZ};
  return BuildSubdiv(x, y, z, n, box, lens, maxDiv, true, false);
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
