#include "mesh/pgr2cld.h"

#include <initializer_list>
#include <utility>

#include "cloud/makecld.h"
#include "cloud/psample.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"

void ReverseIntArray(int* array, int n) {
  for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(array[i], array[j]);
}

void SplitCloudPoly(Cloud* mesh, int t, int a, int b, int v, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                    int* nodesUsed) {
  for (int k = 0; k < 3; ++k) DeleteVertexPoly(vertexTriangleHeads, mesh->tri[t].v[k], t);
  const int added = mesh->ntri++;
  CloudTriangle& kept = mesh->tri[t];
  CloudTriangle& other = mesh->tri[added];
  other = kept;
  for (int k = 0; k < 3; ++k) {
    if (kept.v[k] == a) kept.v[k] = v;
    if (other.v[k] == b) other.v[k] = v;
  }
  for (int s : {t, added}) {
    UpdatePolyPointers(mesh, s, vertexTriangleHeads, nodeStore, nodesUsed);
    MakeCldPolyPlane(mesh, &mesh->tri[s]);
  }
}

int DeleteCldVertsAndPolys(Cloud* mesh, const int* pointFlags, const int* triangleFlags) {
  if (triangleFlags) {
    int kept = 0;
    for (int t = 0; t < mesh->ntri; ++t)
      if (triangleFlags[t] != 1) mesh->tri[kept++] = mesh->tri[t];
    if (kept < mesh->ntri) {
      mesh->ntri = kept;
      // A refused shrink only leaves spare room behind the kept triangles: not a failure.
      const bool failedBefore = KernelFailed();
      if (!ReallocCldPolyList(mesh, kept) && !failedBefore) ClearKernelError();
    }
  }
  if (!pointFlags) return 1;
  TrackingScope scope;
  auto* keep = MallocArray<char>(mesh->npts);
  if (!keep && mesh->npts > 0) return 0;
  for (int i = 0; i < mesh->npts; ++i) keep[i] = pointFlags[i] == 0;
  return mesh->npts > 0 ? SampleCloudBasedOnArray(mesh, keep) : 1;
}
