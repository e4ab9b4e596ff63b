#include "registration/regpair.h"

#include <algorithm>
#include <cmath>

#include "foundation/angle.h"
#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "registration/mmcalc.h"

namespace {

// Lines within this many degrees of parallel have no well-placed closest points: the midpoint
// of the first and its foot on the second stand in for them.
constexpr float kParallelLines = 5.0f;
// A line within this many degrees of lying in a plane meets it too far away to be trusted.
constexpr double kSteepLine = 85.0;
// A line shorter than this, relative to the size of its coordinates, has no direction.
constexpr double kRelEps = 1e-6;

void Copy3(const double from[3], double to[3]) {
  for (int k = 0; k < 3; ++k) to[k] = from[k];
}

bool HasLength(const double p1[3], const double p2[3]) {
  double s = 0.0;
  for (int k = 0; k < 3; ++k) s = std::fmax(s, std::fmax(std::fabs(p1[k]), std::fabs(p2[k])));
  return VecDist3(p1, p2) > kRelEps * s;
}

void FreshFeature(RegFeature* f) {
  *f = RegFeature{};
  f->sourceKind = -1;
}

bool IsDirectedLine(const RegFeature* f) { return f->type == 2 || f->type == 3; }
bool IsLine(const RegFeature* f) { return f->type >= 1 && f->type <= 3; }

// The scratch triples of a generator: max(10, 2 count + 1) of them, enough for every branch.
struct Triples {
  double* p;
  int n;
  void Push(const double v[3]) {
    Copy3(v, p + 3 * n);
    ++n;
  }
};

// Runs a generator's body on scratch it allocates; hands the scratch to the caller only when
// points resulted, frees it otherwise (failure included).
template <class Body>
int Generate(const RegFeature* f, double** points, int* count, Body body) {
  if (!points || !count) return -2;
  *points = nullptr;
  *count = 0;
  if (!f) return -2;
  if (f->type == 6 && f->count < 1) return -2;
  const int cap = std::max(10, 2 * (f->type == 6 ? f->count : 0) + 1);
  TrackingScope scope;
  Triples t{MallocArray<double>(cap, 3), 0};
  if (!t.p || KernelFailed()) return -2;
  const int r = body(t);
  if (r != 0 || t.n == 0) return r;
  scope.keep();
  *points = t.p;
  *count = t.n;
  return 0;
}

// X = where the line p1 p2 meets the plane. false when it runs parallel to it.
bool MeetPlane(const double plane[4], const double p1[3], const double p2[3], double X[3]) {
  double d[3];
  VecNormalize3(VecDiff3(p2, p1, d), d);
  return PlaneLineIntersect(plane, p1, d, X) == 0;
}

void ProjectOnPlane(const double plane[4], const double p[3], double out[3]) {
  double dist;
  PlaneMinDist(p, plane[0], plane[1], plane[2], plane[3], out, &dist);
}

// X, then Y a line's length further along it and Y's foot on the plane: the three fix the
// line's sense as well as its crossing. (The step is the line's own length so that the points
// keep their shape at every scale.)
void PushCrossing(Triples& t, const double plane[4], const double p1[3], const double p2[3], const double X[3]) {
  double Y[3], Z[3], line[6] = {p1[0], p1[1], p1[2], p2[0], p2[1], p2[2]};
  PointOnLine(line, X, static_cast<float>(VecDist3(p1, p2)), Y);
  ProjectOnPlane(plane, Y, Z);
  t.Push(X);
  t.Push(Y);
  t.Push(Z);
}

// The body of both line generators; `directed` when the line's sense counts.
int LineAndFeature(const double L1[3], const double L2[3], const RegFeature* f, bool directed, Triples& t) {
  double L[6] = {L1[0], L1[1], L1[2], L2[0], L2[1], L2[2]}, foot[3], dist;
  switch (f->type) {
    case 0:
      LinePntMinDist(f->point, L1, L2, foot, &dist);
      t.Push(foot);
      return 0;
    case 1:
    case 2:
    case 3: {
      double F[6] = {f->end1[0], f->end1[1], f->end1[2], f->end2[0], f->end2[1], f->end2[2]};
      double P1[3], P2[3], d, X[3];
      if (AbsAngle(static_cast<float>(LineLineAngle(L1, L2, f->end1, f->end2))) <= kParallelLines) {
        double mid[3];
        for (int k = 0; k < 3; ++k) mid[k] = 0.5 * (L1[k] + L2[k]);
        Copy3(mid, P1);
        LinePntMinDist(P1, f->end1, f->end2, P2, &d);
      } else {
        LineLineMinDist(L, F, P1, P2, &d);
      }
      t.Push(P1);
      t.Push(P2);
      if (IsDirectedLine(f)) {
        if (directed) {
          PointOnLine(L, P1, static_cast<float>(d), X);
          t.Push(X);
        }
        PointOnLine(F, P2, static_cast<float>(d), X);
        t.Push(X);
      }
      return 0;
    }
    case 4: {
      if (LinePlaneNormalAngle(L, f->plane) >= kSteepLine) return 0;
      if (!HasLength(L1, L2)) return -2;
      double X[3];
      if (!MeetPlane(f->plane, L1, L2, X)) return directed ? 0 : -2;
      if (directed)
        PushCrossing(t, f->plane, L1, L2, X);
      else
        t.Push(X);
      return 0;
    }
    case 6:
      for (int i = 0; i < f->count; ++i) {
        double p[3] = {f->xs[i], f->ys[i], f->zs[i]};
        LinePntMinDist(p, L1, L2, foot, &dist);
        t.Push(foot);
      }
      return 0;
    default: return -2;
  }
}

// A new list of the triples narrowed to float.
PointList* ListOfTriples(const double* p, int n) {
  PointList* list = AllocatePointList(n);
  if (!list) return nullptr;
  for (int i = 0; i < n; ++i) {
    list->x[i] = static_cast<float>(p[3 * i]);
    list->y[i] = static_cast<float>(p[3 * i + 1]);
    list->z[i] = static_cast<float>(p[3 * i + 2]);
  }
  list->count = n;
  return list;
}

template <class Fill>
int AddPair(RegPair** head, Fill fill) {
  if (!head) return -2;
  RegPair* p = AllocateNullRegPair();
  if (!p) return -2;
  fill(p->A, p->B);
  p->next = *head;
  *head = p;
  return 0;
}

void SetLine(RegFeature* f, int type, const double e1[3], const double e2[3]) {
  f->type = type;
  f->sourceKind = 6;
  Copy3(e1, f->end1);
  Copy3(e2, f->end2);
  for (int k = 0; k < 3; ++k) f->point[k] = 0.5 * (e1[k] + e2[k]);
  // No length check: a pair of coincident ends gives a zero direction.
  double d[3];
  VecDiff3(e2, e1, d);
  double n = VecSize3(d);
  for (int k = 0; k < 3; ++k) f->dir[k] = n > 0.0 ? d[k] / n : 0.0;
}

}  // namespace

PointList* AllocatePointList(int n) {
  if (n < 1) return nullptr;
  TrackingScope scope;
  PointList* list = MallocArray<PointList>(1);
  if (!list) return nullptr;
  list->count = 0;
  list->x = MallocArray<float>(n);
  list->y = MallocArray<float>(n);
  list->z = MallocArray<float>(n);
  if (!list->x || !list->y || !list->z || KernelFailed()) return nullptr;
  scope.keep();
  return list;
}

void FreePointList(PointList* list) {
  if (!list) return;
  FreeAndNull(list->x);
  FreeAndNull(list->y);
  FreeAndNull(list->z);
  Free(list);
}

int FreeFeatureListEl(RegFeature* f) {
  if (!f) return -2;
  if (f->sourceKind == 11) {
    FreeAndNull(f->xs);
    FreeAndNull(f->ys);
    FreeAndNull(f->zs);
  }
  Free(f);
  return 0;
}

int FreeFeatureList(RegFeature* f) {
  while (f) {
    RegFeature* next = f->next;
    FreeFeatureListEl(f);
    f = next;
  }
  return 0;
}

RegPair* AllocateNullRegPair() {
  TrackingScope scope;
  RegPair* p = MallocArray<RegPair>(1);
  RegFeature* a = MallocArray<RegFeature>(1);
  RegFeature* b = MallocArray<RegFeature>(1);
  if (!p || !a || !b || KernelFailed()) return nullptr;
  FreshFeature(a);
  FreshFeature(b);
  *p = RegPair{nullptr, a, b};
  scope.keep();
  return p;
}

int CopyRegFeature(const RegFeature* from, RegFeature* to) {
  if (!from || !to) return -2;
  RegFeature* next = to->next;
  *to = *from;
  to->next = next;
  to->xs = to->ys = to->zs = nullptr;
  to->count = 0;
  if (from->sourceKind != 11) return 0;
  if (from->count < 1) return -2;
  TrackingScope scope;
  double* xs = MallocArray<double>(from->count);
  double* ys = MallocArray<double>(from->count);
  double* zs = MallocArray<double>(from->count);
  if (!xs || !ys || !zs || KernelFailed()) return -2;
  std::copy(from->xs, from->xs + from->count, xs);
  std::copy(from->ys, from->ys + from->count, ys);
  std::copy(from->zs, from->zs + from->count, zs);
  scope.keep();
  to->xs = xs;
  to->ys = ys;
  to->zs = zs;
  to->count = from->count;
  return 0;
}

int CopyFeaturePair(const RegPair* from, RegPair* to) {
  if (!from || !to || !from->A || !from->B || !to->A || !to->B) return -2;
  if (CopyRegFeature(from->A, to->A) != 0) return -2;
  return CopyRegFeature(from->B, to->B);
}

RegPair* CopyRegPairList(const RegPair* list) {
  RegPair* head = nullptr;
  RegPair** tail = &head;
  for (const RegPair* p = list; p; p = p->next) {
    RegPair* copy = AllocateNullRegPair();
    if (copy) {
      *tail = copy;
      tail = &copy->next;
    }
    if (!copy || CopyFeaturePair(p, copy) != 0) {
      FreeFeaturePairList(head);
      return nullptr;
    }
  }
  return head;
}

int XformRegFeature(RegFeature* f, const Xform M) {
  if (!f) return -2;
  Xform inverse;
  if (mat_inverse4(M, inverse) != 0) return -2;
  double v[3];
  VecTrans3(f->point, M, v);
  Copy3(v, f->point);
  VecTrans3(f->end1, M, v);
  Copy3(v, f->end1);
  VecTrans3(f->end2, M, v);
  Copy3(v, f->end2);
  VecRot3(f->dir, M, v);
  Copy3(v, f->dir);
  PlaneEq moved;
  TransformPlaneEq(f->plane, moved, inverse);
  for (int k = 0; k < 4; ++k) f->plane[k] = moved[k];
  return 0;
}

int FreeFeaturePairList(RegPair* list) {
  while (list) {
    RegPair* next = list->next;
    FreeFeatureListEl(list->A);
    FreeFeatureListEl(list->B);
    Free(list);
    list = next;
  }
  return 0;
}

int CheckFeaturePair(const RegPair* pair) {
  if (!pair || !pair->A || !pair->B || pair->A->type != pair->B->type) return -2;
  return 0;
}

int CountFeaturePairList(const RegPair* list) {
  int n = 0;
  for (; list; list = list->next) ++n;
  return n;
}

int AddPointFeaturePair(RegPair** head, const double pA[3], const double pB[3]) {
  return AddPair(head, [&](RegFeature* a, RegFeature* b) {
    a->type = b->type = 0;
    a->sourceKind = b->sourceKind = 1;
    Copy3(pA, a->point);
    Copy3(pB, b->point);
  });
}

int AddLineFeaturePair(RegPair** head, const double a1[3], const double a2[3], const double b1[3],
                       const double b2[3]) {
  return AddPair(head, [&](RegFeature* a, RegFeature* b) {
    SetLine(a, 1, a1, a2);
    SetLine(b, 1, b1, b2);
  });
}

int AddDLineFeaturePair(RegPair** head, const double a1[3], const double a2[3], const double b1[3],
                        const double b2[3]) {
  return AddPair(head, [&](RegFeature* a, RegFeature* b) {
    SetLine(a, 2, a1, a2);
    SetLine(b, 2, b1, b2);
  });
}

int AddDirectionFeaturePair(RegPair** head, const double dA[3], const double dB[3]) {
  return AddPair(head, [&](RegFeature* a, RegFeature* b) {
    a->type = b->type = 5;
    Copy3(dA, a->dir);
    Copy3(dB, b->dir);
  });
}

int AddPlaneFeaturePair(RegPair** head, const double planeA[4], const double planeB[4]) {
  return AddPair(head, [&](RegFeature* a, RegFeature* b) {
    a->type = b->type = 4;
    for (int k = 0; k < 4; ++k) {
      a->plane[k] = planeA[k];
      b->plane[k] = planeB[k];
    }
  });
}

int GetRegFeatureClstPoint(const double p[3], const RegFeature* f, double out[3], double* dist) {
  if (!f || !out || !dist) return -2;
  if (f->type == 0) {
    Copy3(f->point, out);
    *dist = VecDist3(p, f->point);
  } else if (IsLine(f)) {
    LinePntMinDist(p, f->end1, f->end2, out, dist);
  } else if (f->type == 4) {
    PlaneMinDist(p, f->plane[0], f->plane[1], f->plane[2], f->plane[3], out, dist);
  } else {
    return -2;
  }
  return 0;
}

int ReverseFeatureDirection(RegFeature* f) {
  if (!f || !(IsLine(f) || f->type == 4 || f->type == 5)) return 0;
  for (int k = 0; k < 3; ++k) {
    f->dir[k] = -f->dir[k];
    std::swap(f->end1[k], f->end2[k]);
  }
  if (f->type == 4)
    for (double& c : f->plane) c = -c;
  return 0;
}

int RegPointListFromSingleFeature(const RegFeature* f, PointList** out) {
  if (!out) return -2;
  *out = nullptr;
  if (!f) return -2;
  if (f->type == 0 || f->type == 3) {
    *out = ListOfTriples(f->point, 1);
    return *out ? 0 : -2;
  }
  if (f->type != 6) return 0;
  PointList* list = AllocatePointList(f->count);
  if (!list) return -2;
  for (int i = 0; i < f->count; ++i) {
    list->x[i] = static_cast<float>(f->xs[i]);
    list->y[i] = static_cast<float>(f->ys[i]);
    list->z[i] = static_cast<float>(f->zs[i]);
  }
  list->count = f->count;
  *out = list;
  return 0;
}

int RegPointListFromFeaturePair(const RegFeature* f1, const RegFeature* f2, PointList** out) {
  if (!out) return -2;
  *out = nullptr;
  if (!f1 || !f2) return -2;
  const RegFeature* first = f2->type < f1->type ? f2 : f1;
  const RegFeature* second = first == f1 ? f2 : f1;
  if (first->type == 0) {
    // A point and its closest point on the second feature (a point set or a second point
    // determines nothing more).
    if (second->type == 0 || second->type == 6) return 0;
    double p[6], dist;
    if (GetRegFeatureClstPoint(first->point, second, p, &dist) != 0) return -2;
    int n = 1;
    if (IsDirectedLine(second)) {
      double line[6] = {second->end1[0], second->end1[1], second->end1[2],
                        second->end2[0], second->end2[1], second->end2[2]};
      PointOnLine(line, p, static_cast<float>(dist), p + 3);
      n = 2;
    }
    *out = ListOfTriples(p, n);
    return *out ? 0 : -2;
  }
  // A point set pairs only with a later type, and none exists; a direction gives no point.
  if (first->type > 4) return 0;
  double* points = nullptr;
  int n = 0, r;
  if (first->type == 1)
    r = NewGenRegPntsWLineAndFeature(first->end1, first->end2, second, &points, &n);
  else if (first->type == 4)
    r = GenRegPntsWPlaneAndFeature(first->plane, second, &points, &n);
  else
    r = NewGenRegPntsWithDLineAndFeature(first->end1, first->end2, second, &points, &n);
  if (r != 0) return -2;
  if (n == 0) return 0;
  *out = ListOfTriples(points, n);
  Free(points);
  return *out ? 0 : -2;
}

int RegPointListFrom3Features(const RegFeature* f1, const RegFeature* f2, const RegFeature* f3, double minAngle,
                              PointList** out) {
  if (!out) return -2;
  *out = nullptr;
  if (!f1 || !f2 || !f3 || f1->type != 4 || f2->type != 4 || f3->type != 4) return 0;
  if (AbsAngle(static_cast<float>(PlanePlaneAngle(f1->plane, f2->plane))) < minAngle) return 0;
  // The planes with unit normals (an equation may have any length): n_k . X + d_k = 0.
  const RegFeature* f[3] = {f1, f2, f3};
  double n[3][3], d[3];
  for (int k = 0; k < 3; ++k) {
    const double len = VecSize3(f[k]->plane);
    if (!(len > 0.0) || !std::isfinite(len) || !std::isfinite(f[k]->plane[3])) return 0;
    for (int i = 0; i < 3; ++i) n[k][i] = f[k]->plane[i] / len;
    d[k] = f[k]->plane[3] / len;
  }
  double c01[3], c12[3], c20[3];
  VecCrossProd3(n[0], n[1], c01);
  VecCrossProd3(n[1], n[2], c12);
  VecCrossProd3(n[2], n[0], c20);
  // The common line of the first two must cross the third plane at least minAngle steeply:
  // nearly parallel, its crossing would move far with the least error in the planes.
  const double line[6] = {0.0, 0.0, 0.0, c01[0], c01[1], c01[2]};
  if (!(VecSize3(c01) > 0.0) || LinePlaneNormalAngle(line, n[2]) > 90.0 - minAngle) return 0;
  // Cramer's rule as triple products: X = -(d0 n1 x n2 + d1 n2 x n0 + d2 n0 x n1) / n0 . n1 x n2.
  // No point is taken along the line first, so X keeps its digits far from the origin and at
  // every scale.
  const double det = VecDotProd3(n[0], c12);
  if (!(std::fabs(det) > 0.0)) return 0;
  double X[3];
  for (int i = 0; i < 3; ++i) X[i] = -(d[0] * c12[i] + d[1] * c20[i] + d[2] * c01[i]) / det;
  if (!std::isfinite(X[0]) || !std::isfinite(X[1]) || !std::isfinite(X[2])) return 0;
  *out = ListOfTriples(X, 1);
  return *out ? 0 : -2;
}

int NewGenRegPntsWLineAndFeature(const double L1[3], const double L2[3], const RegFeature* f, double** points,
                                 int* count) {
  return Generate(f, points, count, [&](Triples& t) { return LineAndFeature(L1, L2, f, false, t); });
}

int NewGenRegPntsWithDLineAndFeature(const double L1[3], const double L2[3], const RegFeature* f, double** points,
                                     int* count) {
  return Generate(f, points, count, [&](Triples& t) { return LineAndFeature(L1, L2, f, true, t); });
}

int GenRegPntsWPlaneAndFeature(const double plane[4], const RegFeature* f, double** points, int* count) {
  return Generate(f, points, count, [&](Triples& t) {
    double foot[3];
    if (f->type == 0) {
      ProjectOnPlane(plane, f->point, foot);
      t.Push(foot);
    } else if (IsLine(f)) {
      double F[6] = {f->end1[0], f->end1[1], f->end1[2], f->end2[0], f->end2[1], f->end2[2]}, X[3];
      if (LinePlaneNormalAngle(F, plane) <= kSteepLine && HasLength(f->end1, f->end2) &&
          MeetPlane(plane, f->end1, f->end2, X)) {
        if (IsDirectedLine(f))
          PushCrossing(t, plane, f->end1, f->end2, X);
        else
          t.Push(X);
      }
    } else if (f->type == 6) {
      for (int i = 0; i < f->count; ++i) {
        double p[3] = {f->xs[i], f->ys[i], f->zs[i]};
        ProjectOnPlane(plane, p, foot);
        t.Push(foot);
      }
    } else if (f->type != 4) {
      return -2;
    }
    return 0;
  });
}
