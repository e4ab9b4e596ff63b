// Uniform 3D bin grid over a point set (three float arrays), for neighbour searches.
//
// Every cell is at least 2 len wide along each axis with more than one cell, and holds its own
// points plus the points of neighbouring cells lying in the half of their cell facing it. So
// every point within len of a point p is among the items of p's own cell; callers test the
// true distances themselves.
#pragma once

#include <cstdint>

struct SubdivCell {
  int32_t count;     // items in use
  int32_t capacity;  // allocated length of items (and isOwn); 0: no arrays
  int32_t* items;    // point indices ascending, then ids added later
  int32_t* isOwn;    // parallel to the point items: 1 in the point's own cell
};

struct Subdiv {
  SubdivCell* cells;  // cell (ix, iy, iz) at ix + iy ncellsX + iz ncellsX ncellsY
  int32_t ncellsX;
  int32_t ncellsY;
  int32_t ncellsZ;
  double sizeX;  // extent / cells; 0 along an axis of zero extent
  double sizeY;
  double sizeZ;
  double minX;
  double minY;
  double minZ;
  double maxX;
  double maxY;
  double maxZ;
  int32_t* ownCell;  // per point: index of its own cell
};

// A grid over the n points (all inside the given box) for neighbourhood length len with at most
// about maxDiv divisions in all. Null on no memory or user break.
Subdiv* SubdivideArrays(const float* x, const float* y, const float* z, int n, double minX,
                        double minY, double minZ, double maxX, double maxY, double maxZ,
                        double len, int maxDiv);

// Frees the grid; null is ignored.
void FreeSubdiv(Subdiv* grid);

// Frees the cell's arrays when its capacity is not 0 (the cell record belongs to the grid).
void FreeSubdivCell(SubdivCell* cell);

// Trims every cell to its count; 1, or 0 on no memory.
int OptimizeSubdiv(Subdiv* grid);

// Appends id to the non-empty cells of the box one cell wider than the own cells of points a
// and b. 1, or 0 on no memory (the grid is then only fit to be freed).
int AddLineTo3DSubdivToo(Subdiv* grid, int a, int b, int id);
