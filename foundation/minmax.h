// Minimum and maximum of arrays and of point clouds.
#pragma once

struct Cloud;

// Minimum and maximum of the n values; n < 1 reads and writes nothing.
void GetMinMaxF(const float* a, int n, double* min, double* max);
void GetMinMaxD(const double* a, int n, double* min, double* max);

// Bounding box of the cloud's x, y, z arrays; the outputs are untouched for a cloud without
// points (or a null cloud).
void GetCloudMinMax(const Cloud* cloud, double* xmin, double* ymin, double* zmin, double* xmax,
                    double* ymax, double* zmax);
