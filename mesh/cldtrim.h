// Growth of a mesh's arrays. Mesh edits keep spare room while they work and trim to the final
// counts at the end; neither function changes the counts themselves.
#pragma once

#include "foundation/cloudrec.h"

// Room for n points in x, y, z, the normals (created when absent), the colours and the
// reliability bytes (when present). Entries from npts on get normal (-1, -1, -1) (to be
// computed), colour 0.33 and reliability 0; a created normal array is (-1, -1, -1) throughout.
// 1, or 0 for n below npts or when memory runs out (the mesh then keeps arrays holding its
// points; created normals never enter it).
int ReallocCldXYZArrays(Cloud* mesh, int n);
// Resizes the triangle array to n records (n = 0 leaves it null). 1, or 0 for n below ntri or
// when memory runs out (the array stays as it was).
int ReallocCldPolyList(Cloud* mesh, int n);
