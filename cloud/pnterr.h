// Deviations of a measured cloud from a reference (a triangle mesh, line segments, a second
// cloud point by point; against a cloud with normals see quadric/pnterr), stored on the cloud as
// one difference group: four typed per-point float arrays in farrays, type 0 the deviation and
// types 1, 2, 3 the x, y, z of the matched reference point (the foot). A point without a match
// has the deviation kNoMatchDeviation and feet of the same value. Every analysis replaces the
// cloud's group; the other typed arrays stay.
#pragma once

#include <cstdint>

struct Cloud;
struct Subdiv;

constexpr float kNoMatchDeviation = 3.3748289e38f;

// A set of straight segments, segment k from entry 2k to entry 2k + 1 of x, y, z.
struct SegmentSet {
  int32_t id;  // not read here
  int32_t nseg;
  float* x;
  float* y;
  float* z;
};

// Index in farrays of the first array of the type, -1 when none.
int CldArrayTypeExists(const Cloud* cloud, int type);
// Removes the group (type 0: four arrays) or the single array of another type. -1 when the type
// is absent, else 0.
int RemoveCldArrayType(Cloud* cloud, int type);
// Appends the four arrays (npts floats each, from Malloc in the caller's open scope, which lets
// go of them) as the cloud's group with type codes 0..3. 1, or 0 on no memory (the arrays then
// stay in the caller's scope).
int AdoptDifferenceGroup(Cloud* cloud, float* group[4]);

// A bin grid over all segment end points for CloudToPolylinesDiff. Null without sets or
// segments, or on no memory.
Subdiv* CreateSubdivisionStruct(SegmentSet** sets, int nsets, double maxDist);
// Unsigned distance of every cloud point to the nearest segment with an end point in its grid
// cell. 1, or 0 for a null grid or no memory.
int CloudToPolylinesDiff(Cloud* cloud, SegmentSet** sets, int nsets, double maxDist, const Subdiv* grid);
// Point-by-point deviation |p_i - q_i| of cloud from ref, negative where ref has normals and
// n_i . (p_i - q_i) < 0; the feet are ref's points. 1, or 0 for a null cloud, different counts
// or no memory.
int Compare2Clouds(const Cloud* ref, Cloud* cloud);
// Counts over the clouds holding a group: the points outside the outer band (the result), within
// it (nWithin) and within the inner band (nInner). Positive deviations are held against posOuter
// and posInner, negative ones against negOuter and negInner (absolute values with useAbs). With
// flagOuter or flagBand, clouds with labels get their label bits: set for points outside (with
// flagOuter) or between the bands (with flagBand), cleared otherwise; the sign is the float's
// sign bit.
int GetOutOfTolCldPts(Cloud** clouds, int nclouds, double posOuter, double posInner, double negInner,
                      double negOuter, int useAbs, int flagOuter, int flagBand, int* nWithin, int* nInner);
// Copies the group of whole to its parts, consecutive runs of its points in order. 1, or 0 when
// whole has no group, the parts hold more points than whole, or on no memory.
int SplitDifferenceResults(const Cloud* whole, Cloud** parts, int nparts);

// ---- Distances to a triangle mesh --------------------------------------------------------------
struct IndexNode;

// The search structures of a triangle-mesh cloud for MinDistPtPolyCld: the vertex-to-triangle
// lists (heads: npts entries, nodes: 3 ntri), per vertex r = the largest squared edge length / 4
// of the edges of its triangles that meet it, and a bin grid over the vertices whose cells hold
// for every point a corner of each triangle within sqrt(maxDistSq) of it (*grid, freed by the
// caller with FreeSubdiv; as many cells as the vertices call for), carrying a tree over the vertices' reach where a cell crowds (a
// few vertices far beyond the rest size the cells by their edges). 1, or 0 when the grid or its
// tree cannot be built (no memory) or a triangle names no point (CornersNamePoints; nothing
// written).
int InitPolycldStructs(const Cloud* mesh, double maxDistSq, IndexNode** heads, IndexNode* nodes, double* r,
                       Subdiv** grid);
// The closest point (foot) of the mesh's triangles numbered up to maxTri to p within
// sqrt(maxDistSq), found through the vertices in p's grid cell: the nearest of all such
// triangles, each passed over only where its corner's reach proves it farther; dist its distance, positive on
// the side the triangle's normal faces, triangle its number, nearestVertex the triangle's corner
// closest to p, bary (s, t, 1 - s - t) with foot = s a + t b + (1 - s - t) c. 1 when found; 0
// with nearestVertex and triangle -1 and dist kNoMatchDeviation otherwise.
int MinDistPtPolyCld(const double p[3], const Cloud* mesh, int maxTri, double maxDistSq, const Subdiv* grid,
                     IndexNode* const* heads, const double* r, double foot[3], float* dist, int* nearestVertex,
                     int* triangle, double bary[3]);
// Signed deviation of every cloud point from the mesh within sqrt(maxDistSq), stored as the
// cloud's group; nearestVertex, triangle (one int per point) and bary (two doubles per point, s
// and t) receive the match of every point where given (-1, -1 and 0, 0 for none). Shows the
// thermometer. 1 when some point found a triangle, else 0 (also on no memory; the old group
// is gone then too); 0 at once, the cloud unchanged, for a mesh with a triangle that names no
// point.
int PolycldToCldDiff(const Cloud* mesh, Cloud* cloud, double maxDistSq, int* nearestVertex, int* triangle,
                     double* bary);
