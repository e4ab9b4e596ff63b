#include "bspline/cclone.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "bspline/bsvalid.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

// CopyCurveGivenBspline's work, its blocks in the caller's open scope: one scope serves the
// record and its arrays when the record is new too.
int CopyCurveInScope(Bspline* src, Bspline* dst) {
  // A record without its arrays, or whose counts and degree overflow or pass the limit, cannot
  // be copied: its sizes are not the sizes of its arrays.
  if (!BsplineShapeSound(src)) {
    SetKernelError(-2);
    return -2;
  }
  const int n = NumCtrlU(src);
  const int nKnots = NumKnotsU(src);

  double* knots = MallocArray<double>(nKnots);
  if (!knots || KernelFailed()) return -2;
  std::memcpy(knots, src->knotsU, sizeof(double) * nKnots);
  auto copyRow = [n](double** from) -> double** {
    double** m = allocate_matrix_fh(1, n);
    if (!m || KernelFailed()) return nullptr;
    std::memcpy(m[0], from[0], sizeof(double) * n);
    return m;
  };
  double** X = copyRow(src->X);
  if (!X) return -2;
  double** Y = copyRow(src->Y);
  if (!Y) return -2;
  double** Z = nullptr;
  if (src->dimension == 3 && !(Z = copyRow(src->Z))) return -2;
  double** W = nullptr;
  if (src->rational && !(W = copyRow(src->W))) return -2;

  // The exact form goes first: it is the last step that can fail, and dst is untouched until
  // everything is in hand.
  QuadricInfo* oldQuadric = dst->quadric;
  const int oldType = dst->quadricType;
  dst->quadricType = src->quadricType;
  if (CopyCurveQuadrics(src, dst) != 0) {
    dst->quadricType = oldType;
    dst->quadric = oldQuadric;
    return -2;
  }

  dst->owner = src->owner;
  dst->fitProps = src->fitProps;
  dst->kind = 1;
  dst->dimension = src->dimension;
  dst->degreeU = src->degreeU;
  dst->closedU = src->closedU;
  dst->rational = src->rational;
  dst->interiorU = src->interiorU;
  InstallBsplineArrays(dst, knots, nullptr, X, Y, Z, W);
  dst->umin = knots[src->degreeU];
  dst->umax = knots[n];
  return 0;
}

}  // namespace

Bspline* CopyCurveBspline(Bspline* src) {
  if (!src) return MadeOrFailed<Bspline>(nullptr);
  TrackingScope scope;
  Bspline* dst = MallocNullBspline();
  if (!dst || KernelFailed()) return nullptr;
  if (CopyCurveInScope(src, dst) != 0) return nullptr;
  scope.keep();
  return dst;
}

int CopyCurveGivenBspline(Bspline* src, Bspline* dst) {
  if (!src || !dst) return -2;
  TrackingScope scope;
  if (CopyCurveInScope(src, dst) != 0) return -2;
  scope.keep();
  return 0;
}

int CopyCurveQuadrics(Bspline* src, Bspline* dst) {
  if (!src || !dst) return 0;
  const int size = src->quadricType <= 3 ? QuadricDoubles(src->quadricType) : 0;  // its own kind only
  if (size == 0 || !src->quadric) return 0;
  QuadricInfo* q = DuplicateQuadricInfo(src->quadric, size);
  if (!q) return -2;
  dst->quadric = q;
  return 0;
}

void copy_array2polyline(const float* x, const float* y, const float* z, int n, float* ox, float* oy,
                         float* oz) {
  // Fewer than two points make no segment: nothing is written (nothing may be read past p[0]).
  if (n < 2) return;
  for (auto [p, o] : {std::pair{x, ox}, std::pair{y, oy}, std::pair{z, oz}}) {
    if (!p || !o) continue;
    o[0] = p[0];
    for (int i = 1; i < n - 1; ++i) {
      o[2 * i - 1] = p[i];
      o[2 * i] = p[i];
    }
    o[2 * n - 3] = p[n - 1];
  }
}
