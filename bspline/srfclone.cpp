#include "bspline/srfclone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/cutcurves.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

void FreeCopies(BsplineList* list) {
  for (; list; list = list->next) {
    if (!list->item) continue;
    list->item->owner = nullptr;  // a copy is in no list; its release must not visit the source
    FreeBspline(list->item);
  }
}

// The copy of `curve`: the item of newCurves at the position where oldCurves holds it.
bool FindCopy(const Bspline* curve, BsplineList* oldCurves, BsplineList* newCurves, Bspline** copy) {
  for (; oldCurves && newCurves; oldCurves = oldCurves->next, newCurves = newCurves->next) {
    if (oldCurves->item == curve) {
      *copy = newCurves->item;
      return true;
    }
  }
  return false;
}

// The new loop curves of one loop, appended in loop order; nodes come from the current scope.
bool CopyLoopCurves(BsplineList* loop, BsplineList* oldCurves, BsplineList* newCurves, BsplineList** out) {
  *out = nullptr;
  BsplineList** tail = out;
  for (; loop; loop = loop->next) {
    Bspline* copy = nullptr;
    if (!FindCopy(loop->item, oldCurves, newCurves, &copy)) {
      SetKernelError(-2);  // a loop curve that is not on the surface's curve list
      return false;
    }
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) return false;
    node->item = copy;
    *tail = node;
    tail = &node->next;
  }
  return true;
}

// CopyBsplineSurfaceGivenBspline's work, its blocks in the caller's open scope: one scope serves
// the record and its arrays when the record is new too.
int CopySurfaceInScope(Bspline* src, Bspline* dst);

}  // namespace

Bspline* CopyBsplineStruct(Bspline* src) {
  if (!RecordShapesSound({src})) return nullptr;
  return src->kind == 2 ? CopyBsplineSurface(src) : CopyCurveBspline(src);
}

Bspline* CopyBsplineSurface(Bspline* src) {
  if (!RecordShapesSound({src}) || src->kind != 2) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Bspline* dst = MallocInitSurfaceBspline();
  if (!dst || KernelFailed()) return nullptr;
  // The description first: the arrays leave this scope as soon as they are made (the Given
  // form keeps them), so nothing may fail after them.
  if (CopyQuadricStruct(src, dst) != 0) return nullptr;
  if (CopySurfaceInScope(src, dst) != 0) return nullptr;
  scope.keep();
  return dst;
}

int CopyBsplineSurfaceGivenBspline(Bspline* src, Bspline* dst) {
  if (!dst || !RecordShapesSound({src}) || src->kind != 2) {
    SetKernelError(-2);
    return -2;
  }
  TrackingScope scope;
  if (CopySurfaceInScope(src, dst) != 0) return -2;
  scope.keep();
  return 0;
}

namespace {

int CopySurfaceInScope(Bspline* src, Bspline* dst) {
  const int nu = NumCtrlU(src), nv = NumCtrlV(src);
  const int nKnotsU = NumKnotsU(src), nKnotsV = NumKnotsV(src);
  // The source is taken as a 3D surface: Z is always copied.
  if (!src->knotsU || !src->knotsV || !src->X || !src->Y || !src->Z || (src->rational && !src->W)) {
    SetKernelError(-2);
    return -2;
  }

  auto copyKnots = [](const double* from, int n) -> double* {
    auto* k = MallocArray<double>(n);
    if (!k || KernelFailed()) return nullptr;
    std::memcpy(k, from, sizeof(double) * n);
    return k;
  };
  auto copyMatrix = [nu, nv](double** from) -> double** {
    double** m = allocate_matrix_fh(nv, nu);
    if (!m || KernelFailed()) return nullptr;
    std::memcpy(m[0], from[0], sizeof(double) * nu * nv);  // one contiguous block per matrix
    return m;
  };
  double* knotsU = copyKnots(src->knotsU, nKnotsU);
  if (!knotsU) return -2;
  double* knotsV = copyKnots(src->knotsV, nKnotsV);
  if (!knotsV) return -2;
  double** X = copyMatrix(src->X);
  if (!X) return -2;
  double** Y = copyMatrix(src->Y);
  if (!Y) return -2;
  double** Z = copyMatrix(src->Z);
  if (!Z) return -2;
  double** W = nullptr;
  if (src->rational && !(W = copyMatrix(src->W))) return -2;

  dst->fitProps = src->fitProps;
  dst->interiorU = src->interiorU;
  dst->interiorV = src->interiorV;
  dst->degreeU = src->degreeU;
  dst->degreeV = src->degreeV;
  dst->closedU = src->closedU;
  dst->closedV = src->closedV;
  dst->rational = src->rational;
  dst->umin = src->umin;
  dst->vmin = src->vmin;
  dst->umax = src->umax;
  dst->vmax = src->vmax;
  InstallBsplineArrays(dst, knotsU, knotsV, X, Y, Z, W);
  return 0;
}

}  // namespace

int CopyQuadricStruct(Bspline* src, Bspline* dst) {
  if (!src || !dst) return 0;
  dst->quadricType = src->quadricType;
  dst->quadric = nullptr;
  const int size = src->quadricType >= 21 ? QuadricDoubles(src->quadricType) : 0;  // its own kind only
  if (size == 0 || !src->quadric) return 0;
  QuadricInfo* q = DuplicateQuadricInfo(src->quadric, size);
  if (!q) return -2;
  dst->quadric = q;
  return 0;
}

BsplineList* CopyBsplineListGeometry(BsplineList* list) {
  if (!list) return nullptr;
  TrackingScope scope;  // the nodes; each copy is kept by its own scope and freed by hand
  BsplineList* head = nullptr;
  BsplineList** tail = &head;
  for (; list; list = list->next) {
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) {
      FreeCopies(head);
      return nullptr;
    }
    *tail = node;
    tail = &node->next;
    if (!list->item) continue;
    node->item = CopyBsplineStruct(list->item);
    if (!node->item) {
      FreeCopies(head);
      return nullptr;
    }
  }
  scope.keep();
  return head;
}

TrimList* CopyTrimLists(TrimList* loops, BsplineList* oldCurves, BsplineList* newCurves) {
  if (!loops) return nullptr;
  TrackingScope scope;
  TrimList* head = nullptr;
  TrimList** tail = &head;
  for (; loops; loops = loops->next) {
    TrimList* node = MallocNullTrimList();
    if (!node || KernelFailed()) return nullptr;
    node->hole = loops->hole;
    node->attached = loops->attached;
    *tail = node;
    tail = &node->next;
    if (!CopyLoopCurves(loops->loopCurves, oldCurves, newCurves, &node->loopCurves)) return nullptr;
  }
  scope.keep();
  return head;
}

BsplineList* CopyATrimList(BsplineList* loop, BsplineList* oldCurves, BsplineList* newCurves) {
  TrackingScope scope;
  BsplineList* out = nullptr;
  if (!CopyLoopCurves(loop, oldCurves, newCurves, &out)) return nullptr;
  scope.keep();
  return out;
}

Bspline* CopyBsplineStructAndChildren(Bspline* src) {
  if (!RecordShapesSound({src})) return nullptr;
  Bspline* copy = CopyBsplineStruct(src);
  if (!copy) return nullptr;
  if (src->curves) {
    copy->curves = CopyBsplineListGeometry(src->curves);
    if (!copy->curves) {
      FreeBspline(copy);
      return nullptr;
    }
    for (BsplineList* n = copy->curves; n; n = n->next)
      if (n->item) n->item->owner = copy;
  }
  if (src->trims) {
    copy->trims = CopyTrimLists(src->trims, src->curves, copy->curves);
    if (!copy->trims) {
      FreeBspline(copy);
      return nullptr;
    }
  }
  return copy;
}

Bspline* CopySurfaceAndBreakCurves(Bspline* src) {
  if (!src) return nullptr;
  // Without curves the loops have nothing to refer to: only the surface is copied.
  Bspline* copy = src->curves ? CopyBsplineStructAndChildren(src) : CopyBsplineStruct(src);
  if (!copy) return nullptr;
  if (CutCurvesAtDomain(copy) != 0) {
    FreeBspline(copy);
    return nullptr;
  }
  return copy;
}

int ReplaceSrfBsplineGeometry(Bspline* target, const Bspline* source) {
  if (!target || !source || target->kind != 2 || target->dimension != 3 || source->kind != 2 ||
      source->dimension != 3)
    return -2;
  if (!HasSurface3Arrays(source) || (source->rational && !source->W)) return -2;
  // The source's arrays are copied by its counts and its knots mapped (the target may be an
  // empty record being filled).
  if (!RecordsSound({source})) return -2;
  // A collapsed source range cannot be mapped onto the target's.
  if (!(source->umax > source->umin) || !(source->vmax > source->vmin)) return -2;
  const int nu = NumCtrlU(source), nv = NumCtrlV(source);
  const int nku = NumKnotsU(source), nkv = NumKnotsV(source);

  TrackingScope scope;
  auto* ku = MallocArray<double>(std::max(nku, 1));
  auto* kv = MallocArray<double>(std::max(nkv, 1));
  double** X = allocate_matrix_ff(nv, nu);
  double** Y = allocate_matrix_ff(nv, nu);
  double** Z = allocate_matrix_ff(nv, nu);
  double** W = source->rational ? allocate_matrix_ff(nv, nu) : nullptr;
  if (KernelFailed() || !ku || !kv || !X || !Y || !Z || (source->rational && !W)) return -2;
  // The exact form, when the target has one, follows the source's.
  Bspline quad{};
  const bool replaceQuadric = target->quadric || target->quadricType != 0;
  if (replaceQuadric &&
      (CopyQuadricStruct(const_cast<Bspline*>(source), &quad) != 0 || KernelFailed()))
    return -2;

  auto mapKnots = [](const double* src, int n, int degree, int interior, double smin, double smax,
                     double tmin, double tmax, double* dst) {
    if (std::fabs(tmin - smin) > 1e-6 || std::fabs(tmax - smax) > 1e-6) {
      const double f = (tmax - tmin) / (smax - smin);
      for (int i = 0; i < n; ++i) dst[i] = tmin + (src[i] - smin) * f;
    } else {
      std::memcpy(dst, src, sizeof(double) * n);
    }
    for (int i = 0; i <= degree; ++i) dst[i] = tmin;
    for (int i = interior + degree + 1; i < n; ++i) dst[i] = tmax;
  };
  mapKnots(source->knotsU, nku, source->degreeU, source->interiorU, source->umin, source->umax,
           target->umin, target->umax, ku);
  mapKnots(source->knotsV, nkv, source->degreeV, source->interiorV, source->vmin, source->vmax,
           target->vmin, target->vmax, kv);
  const size_t block = sizeof(double) * nu * nv;
  std::memcpy(X[0], source->X[0], block);
  std::memcpy(Y[0], source->Y[0], block);
  std::memcpy(Z[0], source->Z[0], block);
  if (W) std::memcpy(W[0], source->W[0], block);

  target->closedU = source->closedU;
  target->closedV = source->closedV;
  target->degreeU = source->degreeU;
  target->degreeV = source->degreeV;
  target->interiorU = source->interiorU;
  target->interiorV = source->interiorV;
  InstallBsplineArrays(target, ku, kv, X, Y, Z, W);
  target->rational = source->rational;
  if (replaceQuadric) {
    FreeQuadricInfo(target);
    target->quadricType = quad.quadricType;
    target->quadric = quad.quadric;
  }
  // Cached properties described the old control net.
  std::memset(&target->fitProps, 0, sizeof target->fitProps);
  std::memset(&target->propsB, 0, sizeof target->propsB);
  scope.keep();
  return 0;
}

void SwapKnotsAndNet(Bspline* a, Bspline* b) {
  if (!a || !b || a == b || a->kind != b->kind || a->dimension != b->dimension) return;
  std::swap(a->degreeU, b->degreeU);
  std::swap(a->degreeV, b->degreeV);
  std::swap(a->interiorU, b->interiorU);
  std::swap(a->interiorV, b->interiorV);
  std::swap(a->rational, b->rational);
  std::swap(a->knotsU, b->knotsU);
  std::swap(a->knotsV, b->knotsV);
  std::swap(a->X, b->X);
  std::swap(a->Y, b->Y);
  std::swap(a->Z, b->Z);
  std::swap(a->W, b->W);
}
