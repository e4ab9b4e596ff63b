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

Subdiv* SubdivideArrays(const float* x, const float* y, const float* z, int n, double minX,
                        double minY, double minZ, double maxX, double maxY, double maxZ,
                        double len, int maxDiv) {
  TrackingScope scope;
  auto* grid = static_cast<Subdiv*>(Malloc(sizeof(Subdiv)));
  if (!grid || KernelFailed()) return nullptr;
  *grid = Subdiv{};
  grid->minX = minX, grid->minY = minY, grid->minZ = minZ;
  grid->maxX = maxX, grid->maxY = maxY, grid->maxZ = maxZ;

  const double ex = maxX - minX;
  const double ey = maxY - minY;
  const double ez = maxZ - minZ;
  double s = ez + ey + ex;
  if (s <= 1e-6) s = 1e-6;
  if (len <= 1e-6) len = 1e-6;
  // About K cells along the three axes together, each at least 2 len wide where an axis has
  // more than one, so a len-neighbourhood never reaches past the adjacent half cells.
  double k = s / (2.0 * len);
  if (maxDiv <= k) k = maxDiv;
  const int K = static_cast<int>(k);
  const double perUnit = static_cast<double>(K) / s;
  grid->ncellsX = AxisCells(perUnit, ex);
  grid->ncellsY = AxisCells(perUnit, ey);
  grid->ncellsZ = AxisCells(perUnit, ez);
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;

  grid->cells = MallocArray<SubdivCell>(ncells);
  grid->ownCell = MallocArray<int32_t>(n);
  if (!grid->cells || KernelFailed()) return nullptr;
  for (int c = 0; c < ncells; ++c) {
    if (c % kBreakPollInterval == 0 && user_break()) return nullptr;
    SubdivCell& cell = grid->cells[c];
    cell.count = 0;
    cell.capacity = kInitialCellCapacity;
    cell.items = MallocArray<int32_t>(kInitialCellCapacity);
    cell.isOwn = MallocArray<int32_t>(kInitialCellCapacity);
    if (!cell.items || !cell.isOwn) return nullptr;
  }

  grid->sizeX = ex / grid->ncellsX;
  grid->sizeY = ey / grid->ncellsY;
  grid->sizeZ = ez / grid->ncellsZ;
  const double bx = grid->sizeX < 1e-6 ? 1e-6 : grid->sizeX;
  const double by = grid->sizeY < 1e-6 ? 1e-6 : grid->sizeY;
  const double bz = grid->sizeZ < 1e-6 ? 1e-6 : grid->sizeZ;
  const int nx = grid->ncellsX;
  const int nxy = grid->ncellsX * grid->ncellsY;

  for (int i = 0; i < n; ++i) {
    if (i % kBreakPollInterval == 0 && user_break()) return nullptr;
    const double px = x[i];
    const double py = y[i];
    const double pz = z[i];
    const int ix = ColumnOf(px, minX, bx, grid->ncellsX);
    const int iy = ColumnOf(py, minY, by, grid->ncellsY);
    const int iz = ColumnOf(pz, minZ, bz, grid->ncellsZ);
    grid->ownCell[i] = ix + iy * nx + iz * nxy;
    const int sx = NeighbourSide(px, ix, minX, bx, grid->ncellsX);
    const int sy = NeighbourSide(py, iy, minY, by, grid->ncellsY);
    const int sz = NeighbourSide(pz, iz, minZ, bz, grid->ncellsZ);
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
