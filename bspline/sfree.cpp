#include "bspline/sfree.h"

#include <cstring>

#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

void FreeNodes(BsplineList* list) {
  while (list) {
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
}

bool LoopHolds(const TrimList* loop, const Bspline* curve) {
  for (const BsplineList* n = loop->loopCurves; n; n = n->next)
    if (n->item == curve) return true;
  return false;
}

void FreeMatrix(double**& m) {
  if (m) matrix_free_fh(m);
  m = nullptr;
}

}  // namespace

void FreeBspline(Bspline* b) {
  if (!b) return;
  FreeChildrenGeometry(b->curves);
  b->curves = nullptr;
  FreeTrimList(b->trims, b);
  b->trims = nullptr;
  // A curve should sit in at most one loop; every loop that holds it goes, so that no loop is
  // left pointing at the freed record.
  while (DeleteTrimSegment(b)) {
  }
  RemoveCurveFromBsplineList(b);
  FreeBsplineStruct(b);
  Free(b);
}

int FreeBsplineStruct(Bspline* b) {
  if (!b) return 0;
  Free(b->knotsU);
  b->knotsU = nullptr;
  Free(b->knotsV);
  b->knotsV = nullptr;
  FreeMatrix(b->X);
  FreeMatrix(b->Y);
  FreeMatrix(b->Z);
  FreeMatrix(b->W);
  FreeBsplineProperties(b);
  return 0;
}

void FreeChildrenGeometry(BsplineList* list) {
  while (list) {
    BsplineList* next = list->next;
    if (Bspline* curve = list->item) {
      curve->owner = nullptr;
      FreeBspline(curve);
    }
    Free(list);
    list = next;
  }
}

void FreeCurvesAndNodes(BsplineList* list) {
  while (list) {
    BsplineList* next = list->next;
    FreeBspline(list->item);
    Free(list);
    list = next;
  }
}

void FreeTrimList(TrimList* loops, Bspline* surface) {
  while (loops) {
    TrimList* next = loops->next;
    FreeTrimCurve(loops, surface);
    loops = next;
  }
}

void FreeTrimCurve(TrimList* loop, Bspline* surface) {
  if (!loop || !surface) return;
  for (TrimList** link = &surface->trims; *link; link = &(*link)->next) {
    if (*link != loop) continue;
    *link = loop->next;
    FreeNodes(loop->loopCurves);
    Free(loop);
    return;
  }
}

void FreeTrimCurveBsplines(TrimList* loop) {
  if (!loop) return;
  // The loop's nodes are taken off it first: freeing a curve dissolves the loop that holds it,
  // and the remaining curves must still be reachable afterwards. The end state is the same as
  // freeing the curves one by one through the loop.
  BsplineList* nodes = loop->loopCurves;
  loop->loopCurves = nullptr;
  Bspline* owner = nullptr;
  for (BsplineList* n = nodes; n && !owner; n = n->next)
    if (n->item) owner = n->item->owner;
  FreeTrimCurve(loop, owner);
  FreeCurvesAndNodes(nodes);
}

TrimList* FindTrimCurve(Bspline* curve, Bspline* surface) {
  if (!curve || !surface) return nullptr;
  for (TrimList* loop = surface->trims; loop; loop = loop->next)
    if (LoopHolds(loop, curve)) return loop;
  return nullptr;
}

int DeleteTrimSegment(Bspline* curve) {
  if (!curve || !curve->owner) return 0;
  TrimList* loop = FindTrimCurve(curve, curve->owner);
  if (!loop) return 0;
  FreeTrimCurve(loop, curve->owner);
  return 1;
}

Bspline* RemoveCurveFromBsplineList(Bspline* curve) {
  if (!curve || !curve->owner) return nullptr;
  for (BsplineList** link = &curve->owner->curves; *link; link = &(*link)->next) {
    BsplineList* node = *link;
    if (node->item != curve) continue;
    *link = node->next;
    Free(node);
    return curve;
  }
  return nullptr;
}

void FreeBsplineProperties(Bspline* b) {
  if (!b) return;
  if (b->fitProps.flag) std::memset(&b->fitProps, 0, sizeof(b->fitProps));
  if (b->propsB.flag) std::memset(&b->propsB, 0, sizeof(b->propsB));
  FreeQuadricInfo(b);
}

void FreeQuadricInfo(Bspline* b) {
  // A block without a type code is dropped too, or nothing would ever free it.
  if (!b || !b->quadric) return;
  Free(b->quadric);
  b->quadric = nullptr;
  b->quadricType = 0;
}

void FreeBsplineArray(Bspline** a, int n) {
  if (!a) return;
  for (int i = 0; i < n; ++i)
    if (a[i]) FreeBspline(a[i]);
  Free(a);
}

void FreeBsplineArrayContents(Bspline** a, int n) {
  if (!a) return;
  for (int i = 0; i < n; ++i) {
    FreeBspline(a[i]);
    a[i] = nullptr;
  }
}

void FreeHighResLines(HighResLines* rec) {
  if (!rec) return;
  Free(rec->x);
  Free(rec->y);
  Free(rec->z);
  Free(rec);
}
