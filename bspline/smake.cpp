#include "bspline/smake.h"

#include <climits>
#include <cstring>
#include <initializer_list>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

// A record of zero bytes. Copying a zero record of known size compiles to a few wide stores;
// the memset of CallocArray becomes a string instruction whose start-up alone costs about as
// much as copying a small curve's arrays, and every copy of a record makes one.
Bspline* MallocZeroBspline() {
  static const Bspline kZero{};
  auto* b = MallocArray<Bspline>(1);
  if (b) std::memcpy(static_cast<void*>(b), &kZero, sizeof kZero);
  return b;
}

}  // namespace

Bspline* MallocNullBspline() {
  Bspline* b = MallocZeroBspline();
  if (b) b->degreeU = 3;
  return b;
}

Bspline* MallocInitSurfaceBspline() {
  Bspline* b = MallocZeroBspline();
  if (!b) return nullptr;
  b->kind = 2;
  b->dimension = 3;
  b->degreeU = 3;
  b->degreeV = 3;
  return b;
}

int AllocateBsplineArrays(Bspline* b) {
  if (!b) return -2;
  // A knot vector shorter than 2 (degree + 1) describes no spline: refused before anything is
  // sized from it. (A degree above the evaluators' limit may be allocated; every entry point
  // refuses it.)
  const bool surf = b->kind == 2;
  if (b->degreeU < 0 || b->interiorU < 0 || (surf && (b->degreeV < 0 || b->interiorV < 0))) {
    SetKernelError(-2);
    return -2;
  }
  // Counts that overflow an int cannot be allocated: the ordinary out-of-memory failure, before
  // any count is computed in int.
  const long long nu = 1LL + b->degreeU + b->interiorU, nv = surf ? 1LL + b->degreeV + b->interiorV : 1;
  if (nu + b->degreeU + 1 > INT_MAX || nv + b->degreeV + 1 > INT_MAX || nu * nv > INT_MAX) {
    SetOutOfMemory();
    return -2;
  }
  const int nCtrlU = NumCtrlU(b);
  const int nCtrlV = NumCtrlV(b);  // 1 for a curve: degreeV = interiorV = 0

  // Everything is built aside first, in a scope of its own: a failure frees the scope and
  // leaves the record's old arrays in place. The count of blocks the scope keeps is the result.
  TrackingScope scope;
  double* knotsU = MallocArray<double>(NumKnotsU(b));
  if (!knotsU || KernelFailed()) return -2;
  double* knotsV = nullptr;
  if (b->kind == 2) {
    knotsV = MallocArray<double>(NumKnotsV(b));
    if (!knotsV || KernelFailed()) return -2;
  }
  double** X = allocate_matrix_fh(nCtrlV, nCtrlU);
  if (!X || KernelFailed()) return -2;
  double** Y = allocate_matrix_fh(nCtrlV, nCtrlU);
  if (!Y || KernelFailed()) return -2;
  double** Z = nullptr;
  if (b->dimension == 3) {
    Z = allocate_matrix_fh(nCtrlV, nCtrlU);
    if (!Z || KernelFailed()) return -2;
  }
  double** W = nullptr;
  if (b->rational) {
    W = allocate_matrix_fh(nCtrlV, nCtrlU);
    if (!W || KernelFailed()) return -2;
  }

  InstallBsplineArrays(b, knotsU, knotsV, X, Y, Z, W);
  return scope.keep();
}

void InstallBsplineArrays(Bspline* b, double* knotsU, double* knotsV, double** X, double** Y,
                          double** Z, double** W) {
  FreeAndNull(b->knotsU);
  FreeAndNull(b->knotsV);
  for (double** m : {b->X, b->Y, b->Z, b->W})
    if (m) matrix_free_fh(m);
  b->knotsU = knotsU;
  b->knotsV = knotsV;
  b->X = X;
  b->Y = Y;
  b->Z = Z;
  b->W = W;
}

BsplineList* MallocNullBsplineList() { return CallocArray<BsplineList>(1); }

TrimList* MallocNullTrimList() { return CallocArray<TrimList>(1); }

Dle* MallocNullDle() {
  Dle* d = CallocArray<Dle>(1);
  if (!d) return nullptr;
  d->words[120] = 255;
  d->words[132] = -1;
  d->words[133] = 0xFFFFFF;
  d->words[134] = 0;
  return d;
}

int QuadricDoubles(int type) {
  switch (type) {
    case 1: return 6;
    case 2: return 7;
    case 3: return 8;
    case 21: return 4;
    case 22: return 9;
    case 23: return 9;
    case 25: return 4;
    default: return 0;
  }
}

QuadricInfo* DuplicateQuadricInfo(const QuadricInfo* src, int count) {
  QuadricInfo* q = CallocArray<QuadricInfo>(1);
  if (!q || KernelFailed()) {
    Free(q);
    return nullptr;
  }
  std::memcpy(q->v, src->v, sizeof(double) * count);
  return q;
}

Bspline* MallocCurveBspline(int dimension, int degree, int nCtrl) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = dimension;
  // A count below degree + 1 is the allocator's refusal; the difference is taken in 64 bits so
  // that no degree and count overflow on the way there.
  const long long interior = static_cast<long long>(nCtrl) - degree - 1;
  if (degree < 0 || interior < 0) {
    SetKernelError(-2);
    return nullptr;
  }
  c->degreeU = degree;
  c->interiorU = static_cast<int>(interior);
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  scope.keep();
  return c.release();
}

Bspline* PointCurve(const double* x, const double* y, const double* z, int degree) {
  const int p = degree < 1 ? 3 : degree;
  if (!x || !y) {
    SetKernelError(-2);
    return nullptr;
  }
  if (p > kMaxSplineDegree) {
    SetKernelError(-2);
    return nullptr;
  }
  if (!AllFinite({x[0], y[0], z ? z[0] : 0.0})) {
    SetKernelError(-2);
    return nullptr;
  }
  Bspline* c = MallocCurveBspline(z ? 3 : 2, p, p + 1);
  if (!c) return nullptr;
  double** rows[3] = {c->X, c->Y, c->Z};
  const double v[3] = {x[0], y[0], z ? z[0] : 0.0};
  for (int i = 0; i <= p; ++i) {
    c->knotsU[i] = 0.0;
    c->knotsU[p + 1 + i] = 1.0;
    for (int k = 0; k < c->dimension; ++k) rows[k][0][i] = v[k];
  }
  c->umin = 0.0;
  c->umax = 1.0;
  return c;
}
