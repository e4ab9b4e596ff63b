// Deep copies of clouds.
#pragma once

#include "cloud/makecld.h"

// An independent deep copy. Null when memory ran out before the coordinates, scans and
// triangles were copied; when it runs out later the partial copy is returned with the error
// state set (parts not yet copied are absent) and the caller frees it with FreeCloud.
Cloud* CopyCloud(const Cloud* cloud);

// Copies the triangles and, when the source has it, isVert into target. 0, or -2 for no memory.
int CloneCloudPolygons(const Cloud* source, Cloud* target);

// *out = a new array of copies of labels[k] (k < n), or with idx of labels[idx[k]] (k < m).
// Null entries stay null. 1, or 0 with *out null when memory ran out.
int CopyCloudLabels(char* const* labels, int n, char*** out, const int* idx, int m);
