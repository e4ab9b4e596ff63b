#include "mesh/cldtrim.h"

#include "foundation/umalloc.h"

namespace {

// Resizes a caller's array in place of the field: a refused size leaves the field's block.
template <class T>
bool Resize(T*& field, int n) {
  T* moved = ReallocArray(field, n);
  if (!moved) return false;
  field = moved;
  return true;
}

}  // namespace

int ReallocCldXYZArrays(Cloud* mesh, int n) {
  if (n < mesh->npts) return 0;
  if (n == 0) return 1;
  const int old = mesh->npts;
  TrackingScope scope;
  if (!Resize(mesh->x, n) || !Resize(mesh->y, n) || !Resize(mesh->z, n)) return 0;
  // Absent normals are made in the scope and enter the mesh only once every resize succeeded, so
  // a failure frees them without touching the mesh.
  const bool made = !mesh->nx;
  float* normals[3] = {nullptr, nullptr, nullptr};
  if (made) {
    for (float*& a : normals)
      if (!(a = MallocArray<float>(n))) return 0;
  } else if (!Resize(mesh->nx, n) || !Resize(mesh->ny, n) || !Resize(mesh->nz, n)) {
    return 0;
  }
  for (float*& c : mesh->colour)
    if (c && !Resize(c, n)) return 0;
  if (mesh->reliability && !Resize(mesh->reliability, n)) return 0;
  scope.keep();
  if (made) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < old; ++j) normals[i][j] = -1.0f;
    mesh->nx = normals[0];
    mesh->ny = normals[1];
    mesh->nz = normals[2];
  }
  for (int j = old; j < n; ++j) {
    mesh->nx[j] = mesh->ny[j] = mesh->nz[j] = -1.0f;
    for (float* c : mesh->colour)
      if (c) c[j] = 0.33f;
    if (mesh->reliability) mesh->reliability[j] = 0;
  }
  return 1;
}

int ReallocCldPolyList(Cloud* mesh, int n) {
  if (n < mesh->ntri) return 0;
  if (n == 0) {
    FreeAndNull(mesh->tri);
    return 1;
  }
  return Resize(mesh->tri, n) ? 1 : 0;
}
