#include "cloud/poffset.h"

#include <cmath>

#include "foundation/coreglob.h"
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
  SecondMoments(x, y, z, n, M);
}
