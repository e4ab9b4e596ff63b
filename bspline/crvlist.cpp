#include "bspline/crvlist.h"

#include "bspline/creverse.h"
#include "bspline/measure.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

bool IsListed(const BsplineList* list, const Bspline* curve) {
  for (; list; list = list->next)
    if (list->item == curve) return true;
  return false;
}

void SetOwners(BsplineList* list, Bspline* owner) {
  for (; list; list = list->next)
    if (list->item) list->item->owner = owner;
}

// The coefficient row of one parameter direction of a 2D curve: X holds u, Y holds v.
double* CoefficientRow(Bspline* curve, int inV) {
  double** m = inV ? curve->Y : curve->X;
  return m ? m[0] : nullptr;
}

}  // namespace

void PutBsplToSurfCrvList(Bspline* curve, Bspline* surface) {
  if (!curve || !surface || curve->dimension != 2) return;
  if (!IsListed(surface->curves, curve)) {
    // The node belongs to the surface, not to whatever scope the caller has open.
    TrackingScope scope;
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) return;
    node->item = curve;
    node->next = surface->curves;
    surface->curves = node;
    scope.keep();
  }
  curve->owner = surface;
}

void AppendBsplToSurfCrvList(Bspline* curve, Bspline* surface) {
  if (!curve || !surface || curve->dimension != 2) return;
  BsplineList** tail = &surface->curves;
  for (; *tail; tail = &(*tail)->next)
    if ((*tail)->item == curve) {
      curve->owner = surface;
      return;
    }
  TrackingScope scope;
  BsplineList* node = MallocNullBsplineList();
  if (!node || KernelFailed()) return;
  node->item = curve;
  *tail = node;
  scope.keep();
  curve->owner = surface;
}

BsplineList* AppendBsplToList(BsplineList** list, Bspline* item) {
  BsplineList* node = MallocNullBsplineList();
  if (!node || KernelFailed()) return nullptr;
  node->item = item;
  while (*list) list = &(*list)->next;
  *list = node;
  return node;
}

int GetNumCurvePieces(const BsplineList* list) {
  int n = 0;
  for (; list; list = list->next) ++n;
  return n;
}

void PutCurveListToTwoBspl(Bspline* a, Bspline* b, BsplineList* list, int n) {
  if (!list) return;
  BsplineList* rest = list;
  if (n > 0 && a) {
    BsplineList* last = list;
    for (int i = 1; i < n && last->next; ++i) last = last->next;
    rest = last->next;
    last->next = nullptr;
    a->curves = list;
    SetOwners(list, a);
  }
  if (b) {
    b->curves = rest;
    SetOwners(rest, b);
  }
}

void PutTwoCurveListsToBspl(BsplineList* first, BsplineList* second, Bspline* surface) {
  if (!surface) return;
  if (!first) {
    surface->curves = second;
  } else {
    BsplineList* last = first;
    while (last->next) last = last->next;
    last->next = second;
    surface->curves = first;
  }
  SetOwners(surface->curves, surface);
}

void ReverseCurveListCoefi(BsplineList* list, double c, int inV) {
  for (; list; list = list->next) {
    Bspline* curve = list->item;
    if (!curve) continue;
    double* row = CoefficientRow(curve, inV);
    if (!row) continue;
    for (int i = 0, n = NumCtrlU(curve); i < n; ++i) row[i] = c - row[i];
  }
}

void PropotionCurveListCoefi(BsplineList* list, double scale, double shift, int inV) {
  if (scale == 1.0 && shift == 0.0) return;
  for (; list; list = list->next) {
    Bspline* curve = list->item;
    if (!curve) continue;
    double* row = CoefficientRow(curve, inV);
    if (!row) continue;
    const int n = NumCtrlU(curve);
    // The reduced forms keep the coefficients bit-identical to a pure scale or pure shift.
    if (shift == 0.0) {
      for (int i = 0; i < n; ++i) row[i] *= scale;
    } else if (scale == 1.0) {
      for (int i = 0; i < n; ++i) row[i] += shift;
    } else {
      for (int i = 0; i < n; ++i) row[i] = row[i] * scale + shift;
    }
  }
}

void FlipCurveList(BsplineList* list) {
  // Exchanging the directions of a 2D curve is the exchange of its u and v rows.
  for (; list; list = list->next) {
    Bspline* curve = list->item;
    if (!curve || curve->dimension != 2) continue;
    double** t = curve->X;
    curve->X = curve->Y;
    curve->Y = t;
  }
}

void DeleteTrimInfoOfBsplSet(Bspline** set, int n) {
  if (!set) return;
  for (int i = 0; i < n; ++i) {
    Bspline* s = set[i];
    if (!s) continue;
    FreeTrimList(s->trims, s);
    s->trims = nullptr;
  }
}

void GetCurveListExtremes(BsplineList* list, double* umin, double* umax, double* vmin, double* vmax) {
  if (!list) return;
  double lu = kEmptyBoxBound, hu = -kEmptyBoxBound;
  double lv = kEmptyBoxBound, hv = -kEmptyBoxBound;
  for (BsplineList* node = list; node; node = node->next) {
    if (!node->item) continue;
    double a, b, c, d;
    CurveOnSurfParamBox(node->item, &a, &b, &c, &d);
    if (a < lu) lu = a;
    if (b > hu) hu = b;
    if (c < lv) lv = c;
    if (d > hv) hv = d;
  }
  if (const Bspline* s = list->item ? list->item->owner : nullptr) {
    if (lu < s->umin) lu = s->umin;
    if (hu > s->umax) hu = s->umax;
    if (lv < s->vmin) lv = s->vmin;
    if (hv > s->vmax) hv = s->vmax;
  }
  *umin = lu;
  *umax = hu;
  *vmin = lv;
  *vmax = hv;
}

int IsInTrimLoop(const Bspline* crv) {
  if (!crv || !crv->owner) return 0;
  for (const TrimList* l = crv->owner->trims; l; l = l->next)
    for (const BsplineList* n = l->loopCurves; n; n = n->next)
      if (n->item == crv) return 1;
  return 0;
}

void ReverseTrimLoop(TrimList* loop) {
  if (!loop) return;
  BsplineList* reversed = nullptr;
  for (BsplineList* n = loop->loopCurves; n;) {
    BsplineList* next = n->next;
    reverseBspline(n->item);
    n->next = reversed;
    reversed = n;
    n = next;
  }
  loop->loopCurves = reversed;
}

int ReplaceInTrimLoop(Bspline* curve, int n, Bspline** subs) {
  if (n < 1) return 0;
  if (!curve || !subs || curve->kind == 2 || !curve->owner) return -2;
  for (int i = 0; i < n; ++i)
    if (!subs[i] || subs[i]->kind == 2 || subs[i]->owner != curve->owner) return -2;

  BsplineList* found = nullptr;
  for (TrimList* loop = curve->owner->trims; loop && !found; loop = loop->next) {
    for (BsplineList* node = loop->loopCurves; node; node = node->next) {
      if (node->item == curve) {
        found = node;
        break;
      }
    }
  }
  if (!found) return 0;

  BsplineList* head = nullptr;
  BsplineList** tail = &head;
  for (int i = 1; i < n; ++i) {
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) {
      Free(node);
      while (head) {
        BsplineList* next = head->next;
        Free(head);
        head = next;
      }
      return -2;
    }
    node->item = subs[i];
    *tail = node;
    tail = &node->next;
  }
  // The loop runs through the pieces where it ran through the curve, in the same direction.
  *tail = found->next;
  found->item = subs[0];
  found->next = head;
  return 0;
}
