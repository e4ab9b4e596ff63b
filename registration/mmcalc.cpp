#include "registration/mmcalc.h"

#include <algorithm>
#include <cmath>

#include "foundation/angle.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

float AbsAngle(float a) {
  float m = std::fabs(a);
  return m <= 90.0f ? m : 180.0f - m;
}

int PointOnLine(const double line[6], const double base[3], float d, double out[3]) {
  double dir[3] = {line[3] - line[0], line[4] - line[1], line[5] - line[2]};
  double n = VecSize3(dir);
  for (int k = 0; k < 3; ++k) out[k] = base[k] + (n > 0.0 ? d * dir[k] / n : 0.0);
  return 0;
}

double Angle3Pts(const double p[3], const double v[3], const double r[3]) {
  double a[3], b[3];
  VecDiff3(p, v, a);
  VecDiff3(r, v, b);
  if (VecDotProd3(a, a) < 1e-6 || VecDotProd3(b, b) < 1e-6) return 0.0;
  return FindAngleVectors3(a, b);
}

int Contains3NonColinear(const PointList* list) {
  if (!list || list->count < 3) return 0;
  const int n = list->count;
  const auto at = [list](int i, double p[3]) {
    p[0] = list->x[i], p[1] = list->y[i], p[2] = list->z[i];
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        if (i == j || j == k || i == k) continue;
        double p[3], v[3], r[3];
        at(i, p), at(j, v), at(k, r);
        if (AbsAngle(static_cast<float>(Angle3Pts(p, v, r))) > 2.0f) return 1;
      }
  return 0;
}

int InsertPointListToCoordQueue(CoordQueue* queue, const PointList* list, int m) {
  if (!queue || !list || m < 0) return -2;
  const int count = std::min(list->count, m);
  for (int i = 0; i < count; ++i)
    if (InsertCoordQueue(queue, list->x[i], list->y[i], list->z[i]) != 0) return -2;
  return 0;
}

int MMRCreateAuxFeaturePairList(const RegPair* list, RegPair** aux, double tolerance) {
  if (!aux) return -2;
  *aux = nullptr;
  RegPair* made = nullptr;
  for (const RegPair* p1 = list; p1; p1 = p1->next) {
    if (CheckFeaturePair(p1) != 0 || p1->A->type != 4) continue;
    for (const RegPair* p2 = p1->next; p2; p2 = p2->next) {
      if (!p2->A || !p2->B || p2->A->type != 4 || p2->B->type != 4) continue;
      const double angleA = AbsAngle(static_cast<float>(PlanePlaneAngle(p1->A->plane, p2->A->plane)));
      const double angleB = AbsAngle(static_cast<float>(PlanePlaneAngle(p1->B->plane, p2->B->plane)));
      if (angleA <= tolerance || angleB <= tolerance) continue;
      double a0[3], a1[3], b0[3], b1[3];
      if (PlanesIntersect(p1->A->plane, p2->A->plane, a0, a1) != 0 ||
          PlanesIntersect(p1->B->plane, p2->B->plane, b0, b1) != 0)
        continue;
      if (AddLineFeaturePair(&made, a0, a1, b0, b1) != 0) {
        FreeFeaturePairList(made);
        return -2;
      }
    }
  }
  *aux = made;
  return 0;
}

namespace {

using OwnedPoints = Owned<PointList, FreePointList>;
using OwnedQueue = Owned<CoordQueue, FreeCoordQueue>;
using OwnedPairs = Owned<RegPair, FreeFeaturePairList>;

// The two sides' points of one combination go into the queues together, and only when both sides
// gave the same number of points: a one-sided point would shift every later correspondence.
class Collector {
 public:
  Collector(CoordQueue* qa, CoordQueue* qb) : qa_(qa), qb_(qb) {}
  // Takes both lists (either may be null); false only when memory ran out.
  bool Take(PointList* a, PointList* b) {
    OwnedPoints la(a), lb(b);
    if (KernelFailed()) return false;
    if (!la || !lb || la->count != lb->count || la->count < 1) return true;
    return Append(la.get(), lb.get(), la->count);
  }
  bool Append(const PointList* a, const PointList* b, int m) {
    return InsertPointListToCoordQueue(qa_, a, m) == 0 && InsertPointListToCoordQueue(qb_, b, m) == 0;
  }

 private:
  CoordQueue* qa_;
  CoordQueue* qb_;
};

PointList* Listed(int (*make)(const RegFeature*, const RegFeature*, PointList**), const RegFeature* f1,
                  const RegFeature* f2) {
  PointList* out = nullptr;
  make(f1, f2, &out);
  return out;
}

// The queue's first m points as floats into a new list; null when memory ran out.
PointList* Drain(const CoordQueue* queue, int m) {
  PointList* list = AllocatePointList(m);
  if (!list) return nullptr;
  const CoordList* node = queue->head;
  for (int i = 0; i < m; ++i, node = node->next) {
    list->x[i] = static_cast<float>(node->x);
    list->y[i] = static_cast<float>(node->y);
    list->z[i] = static_cast<float>(node->z);
  }
  list->count = m;
  return list;
}

// Method: the passes of MMRCreateRegPointsFromRegPairList in their documented order; false when
// memory ran out.
bool CollectAll(const RegPair* list, const RegPair* aux, double tolerance, Collector& c) {
  for (const RegPair* p = list; p; p = p->next) {
    if (!p->A || !p->B) continue;
    PointList *a = nullptr, *b = nullptr;
    RegPointListFromSingleFeature(p->A, &a);
    RegPointListFromSingleFeature(p->B, &b);
    OwnedPoints la(a), lb(b);
    if (KernelFailed()) return false;
    if (la && lb && !c.Append(la.get(), lb.get(), std::min(la->count, lb->count))) return false;
  }
  for (const RegPair* p1 = list; p1; p1 = p1->next) {
    if (CheckFeaturePair(p1) != 0) continue;
    for (const RegPair* p2 = p1->next; p2; p2 = p2->next) {
      if (CheckFeaturePair(p2) != 0) continue;
      PointList* a = Listed(RegPointListFromFeaturePair, p1->A, p2->A);
      PointList* b = Listed(RegPointListFromFeaturePair, p1->B, p2->B);
      const bool both = a && b;
      if (!c.Take(a, b)) return false;
      // Two planes give no points of their own, yet three of them meet in one: their triples are
      // tried whatever the pair gave.
      const bool planes = p1->A->type == 4 && p2->A->type == 4;
      if (!both && !planes) continue;
      for (const RegPair* p3 = p2->next; p3; p3 = p3->next) {
        if (CheckFeaturePair(p3) != 0) continue;
        PointList *ta = nullptr, *tb = nullptr;
        RegPointListFrom3Features(p1->A, p2->A, p3->A, tolerance, &ta);
        RegPointListFrom3Features(p1->B, p2->B, p3->B, tolerance, &tb);
        if (!c.Take(ta, tb)) return false;
      }
    }
  }
  for (const RegPair* p1 = list; p1; p1 = p1->next) {
    if (CheckFeaturePair(p1) != 0 || p1->A->type == 4) continue;
    for (const RegPair* x = aux; x; x = x->next) {
      if (CheckFeaturePair(x) != 0) continue;
      if (!c.Take(Listed(RegPointListFromFeaturePair, p1->A, x->A), Listed(RegPointListFromFeaturePair, p1->B, x->B)))
        return false;
    }
  }
  return true;
}

}  // namespace

int MMRCreateRegPointsFromRegPairList(const RegPair* list, PointList** A, PointList** B, double tolerance) {
  if (A) *A = nullptr;
  if (B) *B = nullptr;
  if (!list || !A || !B) return -2;
  // The queues and the auxiliary pairs live outside every tracking scope: owned here, freed on
  // every path.
  OwnedQueue qa(AllocateNullCoordQueue()), qb(AllocateNullCoordQueue());
  if (!qa || !qb || KernelFailed()) return -2;
  TrackingScope scope;
  OwnedPairs aux;
  if (MMRCreateAuxFeaturePairList(list, aux.receive(), tolerance) != 0) return -2;
  Collector collector(qa.get(), qb.get());
  if (!CollectAll(list, aux.get(), tolerance, collector)) return -2;
  aux.reset();
  const int m = std::min(CountCoordQueue(qa.get()), CountCoordQueue(qb.get()));
  if (m < 1) return -2;
  OwnedPoints la(Drain(qa.get(), m)), lb(Drain(qb.get(), m));
  if (!la || !lb || KernelFailed()) return -2;
  *A = la.release();
  *B = lb.release();
  return 0;
}
