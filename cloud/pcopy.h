// Deep copies of clouds.
#pragma once

#include "cloud/makecld.h"
#include "foundation/unitfrm.h"

// An independent deep copy. Null when memory ran out before the coordinates, scans and
// triangles were copied; when it runs out later the partial copy is returned with the error
// state set (parts not yet copied are absent) and the caller frees it with FreeCloud.
Cloud* CopyCloud(const Cloud* cloud);

// Copies the triangles and, when the source has it, isVert into target. 0, or -2 for no memory
// or a null cloud.
int CloneCloudPolygons(const Cloud* source, Cloud* target);

// *out = a new array of copies of labels[k] (k < n), or with idx of labels[idx[k]] (k < m).
// Null entries stay null. 1, or 0 with *out null when memory ran out.
int CopyCloudLabels(char* const* labels, int n, char*** out, const int* idx, int m);

// The shared step of every thinning and reordering: out (a record of its own, e.g. from
// MallocNullCloud) receives per-point arrays whose entry j is the datum of point from[j] of
// cloud: coordinates, normals, colours (with colourFlag), reliability, row numbers, labels,
// labelIsShow, typed arrays (with their type codes) and, with withIsShow, isShow; out->npts = k.
// strict: false at the first failure. Otherwise a datum that cannot be made is left out and the
// rest goes on (false only when the coordinates fail). What was made belongs to out.
bool GatherCloudPoints(const Cloud* cloud, const int* from, int k, bool withIsShow, bool strict, Cloud* out);
// Frees the cloud's per-point arrays (those GatherCloudPoints fills) and moves src's in their
// place, src keeping none; npts becomes src's. Does nothing for a null cloud.
void ReplaceCloudPoints(Cloud* cloud, Cloud* src);

// ---- Copies at unit size: fits whose weights are set for data of unit size work on them ----
// The size a fit scales its points by: the longest side of the points' box (of the x, y box
// with planOnly), 1 for points of no extent or a null cloud. The cloud must hold points.
double CloudFitSize(const Cloud* cloud, bool planOnly);
// The same from a box already at hand (x, y, z minimum, then maximum).
double BoxFitSize(const double box[6], bool planOnly);
// A new copy of the cloud (FreeCloud; in the caller's scope) with its points, grid origins and
// steps, axis point and z range multiplied by s; null for a null or empty cloud, s not positive
// and finite, a finite point that s takes past the float range, or memory.
Cloud* ScaledCloudCopy(const Cloud* cloud, double s);
// A new copy of the cloud (FreeCloud; in the caller's scope) in the unit frame f: points, plan
// grid origins and steps, a cylindrical grid's heights and axis point (its angles as they are)
// and the z range mapped to (p - centre) / size. Null as for ScaledCloudCopy.
Cloud* UnitFrameCloudCopy(const Cloud* cloud, const UnitFrame& f);
