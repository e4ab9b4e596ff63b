// Minimum and maximum of arrays and of point clouds.
#pragma once

struct Cloud;

// Minimum and maximum of the n values; n < 1 or a null array reads and writes nothing.
void GetMinMaxF(const float* a, int n, double* min, double* max);
void GetMinMaxD(const double* a, int n, double* min, double* max);

// Bounding box of the cloud's x, y, z arrays; the outputs are untouched for a cloud without
// points (or a null cloud).
void GetCloudMinMax(const Cloud* cloud, double* xmin, double* ymin, double* zmin, double* xmax,
                    double* ymax, double* zmax);

// Grows each axis of the box (minimum x, y, z, maximum x, y, z) by 10 percent of its extent plus
// 1e-6 of size, the size of the objects being intersected (their box diagonal), so that pieces
// touching only at a face, and flat pieces, still overlap at every unit of length when boxes
// prune an intersection by subdivision (NewAddBboxMargins of intersect/newintr; curves use it too).
void GrowBoxForOverlap(double box[6], double size);
