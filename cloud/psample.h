// Keep-mask sampling: one rule applies a mask (one byte per point, non-zero keeps it) to a cloud,
// compacting every per-point datum together, re-indexing triangles and rebuilding scans,
// slices and display bits; the simple samplers build masks for it.
#pragma once

#include "cloud/makecld.h"

// In place. 1 (also when nothing or everything is kept), 0 for a null cloud or mask, a triangle
// that names no point (CornersNamePoints), scans that do not (CloudScansNamePoints) or no
// memory, the cloud then unchanged. Nothing kept:
// npts becomes 0, the arrays stay. When only the new triangle array cannot be had the cloud goes
// on without triangles and the error state is cleared. When only the vertex normals cannot be
// refreshed the result is 1 with every triangle kept and the out-of-memory state set.
int SampleCloudBasedOnArray(Cloud* cloud, const char* keep);
// A new cloud of the kept points with all their data (box, when given, receives its box); the
// source is not changed. Null for a null cloud or mask, a triangle that names no point, nothing
// kept or no memory.
Cloud* CreateCloudBasedOnArray(const Cloud* cloud, const unsigned char* keep, double* box);
// The same cloud from the k kept points listed in ascending order in from (keep marks exactly
// them): the cost grows with k, not with the source's points, unless the source has triangles or
// scans to carry. Null also for a null list or k < 1.
Cloud* CreateCloudBasedOnIndices(const Cloud* cloud, const unsigned char* keep, const int* from, int k,
                                 double* box);
// isShow from the strides and the scans (null: every point shown). 1, or 0 on no memory or a
// null cloud.
int UpdateCloudIsShow(Cloud* cloud);

// Every step-th point and the last. 1, or 0 on no memory.
int sample_scattered_cloud(Cloud* cloud, int step);
// Drops every point closer than radius to a point kept before it in x, y, z order. 1 or 0.
int sample_spheres_cloud(Cloud* cloud, double radius);
// In every scanStep-th scan and the last: every pointStep-th point and the scan's last. 1, or 0
// for a cloud without scans, scans that name no points (CloudScansNamePoints) or no memory.
int sample_scan_cloud(Cloud* cloud, int pointStep, int scanStep);

// The masks of the samplers (nsamples is not read).
void Sample3Arrays(int n, int step, int nsamples, char* mask);
void SampleScanArrays(const int* scanStart, const int* scanEnd, int nscans, int pointStep, int scanStep, char* mask);
// mask[i] = 0 where point i lies strictly closer than tol to a point kept before it in x, y, z
// order. The arrays are sorted while it runs and given back exactly. 1, or 0 on no memory.
int DuplicatePointsIndices(float* x, float* y, float* z, int n, double tol, char* mask);
// Every colStep-th value of every rowStep-th row of a row-major grid, row after row.
void SampleGridArray(const int* src, int nrows, int ncols, int colStep, int rowStep, int* dst);

// The slices of the cloud after the mask (n and nscans: counts before sampling). Null without a
// slice record or on no memory.
CloudSlice* SampleCloudSlice(const Cloud* cloud, const char* keep, int n, int nscans);
