// Deviations of a point cloud from one or several (trimmed, transformed) surfaces: the work
// behind SurfToCloudDifference, SurfsToCloudDifference, SurfsGetCloudNorms and the estimate
// routines of stitch/srferr, which document them and call these. It sits on this floor because
// the shrink-wrap fits build their normal-difference clouds on it.
//
// Method: every surface is sampled on a grid of cell-centre parameters (kept inside its trim
// loops, the sampled trim boundary appended); all samples go into one uniform bin grid (Subdiv).
// A cloud point takes the nearest sample of its bin, or of the nearest of nine rings of bins
// around it, as its estimate, refines it on the surface when asked, and falls back to the
// sampled trim boundary when the result lies outside the trim region.
#pragma once

#include <cstdint>

#include "bspline/smake.h"
#include "foundation/vec3.h"

struct Cloud;
struct Subdiv;

// The per-point results, filled compactly (the k-th kept point to element k). px, py, pz and
// cx, cy, cz are required; the others may be null (ny, nz go with nx; v with u).
struct CloudDiffArrays {
  float* px = nullptr;  // the point as compared (after the offset move)
  float* py = nullptr;
  float* pz = nullptr;
  int* index = nullptr;  // the point's index in the cloud
  float* cx = nullptr;   // the closest surface point
  float* cy = nullptr;
  float* cz = nullptr;
  float* nx = nullptr;  // the unit surface normal there
  float* ny = nullptr;
  float* nz = nullptr;
  float* u = nullptr;  // its surface parameters
  float* v = nullptr;
  float* dist = nullptr;         // signed distance, positive on the normal's side
  int16_t* srfIndex = nullptr;   // several surfaces: the nearest one (required there)
};

// One surface against the cloud (SurfToCloudDifferenceLow documents the arguments). 1 when a
// point was kept, else 0 (also on failure and user break, and for a surface that is not sound
// (bsvalid), a cloud point that is not finite or samples that overflow).
int SurfCloudDeviations(Bspline* srf, const Cloud* cloud, int refine, double maxDist,
                        double sinSqMaxAngle, double offset, int useShowMask, int* count,
                        const CloudDiffArrays& out);

// 1 .. 32000 surfaces, each placed by its transform (xforms null: none), against the cloud
// (SurfsToCloudDifference documents the arguments). 1 after a completed run, 0 on refusal,
// failure or user break.
int SurfsCloudDeviations(Bspline** srfs, int nSrfs, const Xform* xforms, const Cloud* cloud,
                         int refine, double maxDist, double offset, int flagFar, int useShowMask,
                         int* count, const CloudDiffArrays& out);

// Every cloud point's normal from the nearest surface, turned towards the point (SurfsGetCloudNorms
// documents the arguments). 1 after a completed run, 0 on refusal, failure or user break.
int SurfsCloudNormals(Bspline** srfs, int nSrfs, const Xform* xforms, const Cloud* cloud,
                      int refine, double maxDist, int* count, float* nx, float* ny, float* nz);

// ---- Estimates ------------------------------------------------------------------------------
// The squared distance up to which a grid estimate is accepted: the largest squared step along
// the first row (a) and the first column (b) of an nu x nv sample grid, a + b + 4 maxDistSq
// (4 maxDistSq alone for a null array).
double WeedOutDistSq(double maxDistSq, int nu, int nv, const float* x, const float* y,
                     const float* z);

// The nearest sample to p of bin (ix, iy, iz) (*cell, left as it is), or else of the nearest
// of nine rings of bins around it (*cell := the winner's bin, -1 while searching); rings stop
// once even their inner face lies beyond searchDistSq or past every end of the grid. Returns
// the squared distance (3.37e38 when none) with the sample, its (u, v) and index (-1 when none).
double NearestSampleEstimate(const double p[3], const Subdiv* grid, int ix, int iy, int iz,
                             int* cell, double searchDistSq, const float* x, const float* y,
                             const float* z, const float* u, const float* v, double closest[3],
                             double* uOut, double* vOut, int* sampleIndex);

// The nearest point to p on the polylines of sampled trim loops (per loop, per curve: x, y, z,
// u, v arrays of pointsPerCurve[loop][curve] samples), its (u, v) interpolated on the segment.
// Returns the squared distance; 3.37e38 with the outputs untouched when there is no segment.
double NearestTrimBoundaryPoint(const double p[3], float*** xs, float*** ys, float*** zs,
                                double*** us, double*** vs, int loops, const int* curvesPerLoop,
                                int** pointsPerCurve, double* uOut, double* vOut,
                                double closest[3]);

// For each range r of sample indices starts[r]..ends[r] (one surface each) its nearest sample to
// p: bestIndex[r] (-1 when none) and its squared distance bestDistSq[r] (3.37e38). The own bin
// first; only when it holds nothing, the nine rings, which stop as NearestSampleEstimate's do.
void NearestSamplePerRange(const double p[3], const Subdiv* grid, int ix, int iy, int iz,
                           int* cell, double searchDistSq, const float* x, const float* y,
                           const float* z, const int* starts, const int* ends, int nRanges,
                           int* bestIndex, double* bestDistSq);

// The index r of the range starts[r]..ends[r] (ascending, contiguous) holding value, searched
// from the last one found (FAE_mid).
int RangeIndexOf(const int* starts, const int* ends, int n, int value);

// The range RangeIndexOf found last; persists between calls, so the search is not re-entrant.
// A value outside 0..n - 1 of the next search (a search over fewer ranges) restarts it at n / 2.
extern int FAE_mid;
