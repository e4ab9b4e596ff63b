#include "stitch/srfcont.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "foundation/geometry.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/quadrics.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"
#include "surface/srfnorm.h"

double GetParValOfBndry(Bspline* obj, int b) { return BoundaryParam(obj, b); }

void GetNpntsPSpan(const double* values, int m, double* out, int n) {
  SamplesPerSpan(values, m, out, n);
}

void GetParValsOnIsoPar(Bspline* obj, int alongV, double* u, double* v, double fixed, int n) {
  if (!RecordShapesSound({obj}) || obj->kind == 1) return;
  const int p = alongV ? obj->degreeV : obj->degreeU;
  const int k = alongV ? obj->interiorV : obj->interiorU;
  const double* knots = alongV ? obj->knotsV : obj->knotsU;
  // The samples are read off the knots: they must be a knot vector's.
  if (!u || !v || !KnotVectorSound(knots, p, k + p + 1)) {
    SetKernelError(-2);
    return;
  }
  if (n < 3) n = 2;
  double* varying = alongV ? v : u;
  double* held = alongV ? u : v;
  const int count = (n - 1) * (k + 1) + 1;
  for (int i = 0; i < count; ++i) held[i] = fixed;
  // Every knot span as the vector holds it, n - 1 steps each.
  GetNpntsPSpan(knots + p, k + 2, varying, n);
}

int GetParValsOnIsoPar2(Bspline* obj, int alongV, double* u, double* v, double fixed, int n,
                        double tol) {
  if (obj->kind == 1) return -2;
  if (n < 3) n = 2;
  const int dir = alongV ? 1 : 0;
  int* mults = nullptr;
  double* distinct = nullptr;
  const int d = GetDistinctKnots(obj, dir, &mults, &distinct, tol);
  if (d < 0) return -2;
  double* values = MallocArray<double>(d + 2);
  if (!values) {
    Free(mults);
    Free(distinct);
    return -2;
  }
  GetKnotInfo(obj, dir, &values[0], &values[d + 1]);
  for (int i = 0; i < d; ++i) values[i + 1] = distinct[i];
  const int count = n * (d + 1) + 1;
  double* held = alongV ? u : v;
  if (held)
    for (int i = 0; i < count; ++i) held[i] = fixed;
  // Distinct knots only, n steps each.
  GetNpntsPSpan(values, d + 2, alongV ? v : u, n + 1);
  Free(values);
  Free(mults);
  Free(distinct);
  return count;
}

void GetClosestPointsOnCrvOnSrf(const double (*points)[3], int count, Bspline* obj,
                                double isoValue, int alongV, double* params, double (*closest)[3]) {
  ClosestParamsOnCurveOrIso(points, count, obj, isoValue, alongV, params, closest, nullptr, nullptr,
                            nullptr);
}

void GetClosestPointsOnCrvOnSrfArrays(const double (*points)[3], int count, Bspline* obj,
                                      double isoValue, int alongV, double* params,
                                      double (*closest)[3], double** cacheX, double** cacheY,
                                      double** cacheZ) {
  ClosestParamsOnCurveOrIso(points, count, obj, isoValue, alongV, params, closest, cacheX, cacheY,
                            cacheZ);
}

// ---- Continuity along shared edges ---------------------------------------------------------
namespace {

constexpr double kDegPerRad = 57.29577951308232;
constexpr double kHalfPi = 1.5707963267948966;
// A mean normal shorter than this has no direction: its needle has length 0.
constexpr double kNoDirection = 1e-15;
// Parameters of the curves of a trimmed edge run on [0, 1]; two closer than this are one.
constexpr double kUnitParTol = 1e-6;
// Below this largest angle (radians) the angle needles keep their raw length.
constexpr double kLeastScaledAngle = 1e-5;

using Point3 = double[3];

// The angle between a and b in radians folded into 0..pi/2 (opposite vectors count as
// parallel); 0 when |a.b| >= |a||b|, which also covers zero vectors.
double FoldedAngle(const double a[3], const double b[3]) {
  const double m = VecSize3(a) * VecSize3(b);
  const double d = VecDotProd3(a, b);
  if (std::fabs(d) >= m) return 0.0;
  const double angle = std::acos(d / m);
  return angle > kHalfPi ? M_PI - angle : angle;
}

// The facing stretch of two edges: ta, tb are where the other edge's ends land on [min, max].
// An end that landed on the wrong end of a closed edge moves to the right one, and two ends that
// landed on one point open the pair to the whole range.
void CorrectOverlap(double* ta, double* tb, double min, double max, double tol) {
  if (*tb < *ta) {
    if (max - *ta >= tol && *tb - min < tol)
      *tb = max;
    else if (max - *ta < tol)
      *ta = min;
  }
  if (std::fabs(*tb - *ta) < tol) {
    if (*ta - min >= tol)
      *ta = min;
    else
      *tb = max;
  }
}

// Where the other edge's end `end` lands on this edge (foot at parameter *t): an end whose foot
// lies no farther from one of this edge's end points (ends, at lo and hi) than from the other
// edge's end itself counts as landing on that end. So two edges that end together with a gap
// between them face each other to the end, however the gap leans.
void SnapFootToEnds(const double end[3], const double foot[3], const double (*ends)[3], double lo,
                    double hi, double* t) {
  const double gap = VecDist3(end, foot);
  if (VecDist3(foot, ends[0]) <= gap)
    *t = lo;
  else if (VecDist3(foot, ends[1]) <= gap)
    *t = hi;
}

// The facing stretches of two edges from their end points ends0, ends1: t1 where edge 0's ends
// land on edge 1 (parameters lo1..hi1, projected by project(points, params, feet) onto edge 1),
// t0 the other way round, each snapped and corrected.
template <class Project>
bool FacingStretches(const double (*ends0)[3], const double (*ends1)[3], double lo0, double hi0,
                     double lo1, double hi1, Project project, double t0[2], double t1[2]) {
  double feet0[2][3], feet1[2][3];
  project(1, ends0, t1, feet1);
  project(0, ends1, t0, feet0);
  if (KernelFailed()) return false;
  for (int j = 0; j < 2; ++j) {
    SnapFootToEnds(ends0[j], feet1[j], ends1, lo1, hi1, &t1[j]);
    SnapFootToEnds(ends1[j], feet0[j], ends0, lo0, hi0, &t0[j]);
  }
  CorrectOverlap(&t1[0], &t1[1], lo1, hi1, 1e-6 * (hi1 - lo1));
  CorrectOverlap(&t0[0], &t0[1], lo0, hi0, 1e-6 * (hi0 - lo0));
  return true;
}

// Drops the samples of the first edge outside the stretch the second one faces: leading ones at
// or before lo when dropLead, trailing ones at or after hi when dropTrail. The survivors move to
// the front of t and of each companion array (null allowed); returns their number.
int KeepFacingSamples(double* t, double* a, double* b, int count, bool dropLead, double lo,
                      bool dropTrail, double hi) {
  int first = 0, last = count;
  if (dropLead)
    while (first < last && t[first] <= lo) ++first;
  if (dropTrail)
    while (last > first && t[last - 1] >= hi) --last;
  const int kept = last - first;
  if (first > 0)
    for (double* arr : {t, a, b})
      if (arr) std::copy(arr + first, arr + last, arr);
  return kept;
}

void NormalizeAll(Point3* v, int n) {
  for (int i = 0; i < n; ++i) VecNormalize3(v[i], v[i]);
}

// The scratch of one measurement: matched points, unit normals and the parameters of every
// sample on each object, all in the caller's tracking scope.
struct EdgeSamples {
  Point3* P0 = nullptr;
  Point3* P1 = nullptr;
  Point3* N0 = nullptr;
  Point3* N1 = nullptr;
  double* t0 = nullptr;  // along the first edge
  double* t1 = nullptr;  // along the second
  double* u0 = nullptr;
  double* v0 = nullptr;
  double* u1 = nullptr;
  double* v1 = nullptr;
  bool Allocate(int count) {
    P0 = MallocArray<Point3>(count);
    P1 = MallocArray<Point3>(count);
    N0 = MallocArray<Point3>(count);
    N1 = MallocArray<Point3>(count);
    t0 = MallocArray<double>(count);
    t1 = MallocArray<double>(count);
    u0 = MallocArray<double>(count);
    v0 = MallocArray<double>(count);
    u1 = MallocArray<double>(count);
    v1 = MallocArray<double>(count);
    return !KernelFailed() && P0 && P1 && N0 && N1 && t0 && t1 && u0 && v0 && u1 && v1;
  }
};

// A needle block of count x 6 doubles that outlives the call's scope: the caller frees it.
double* AllocateNeedles(int count) {
  UntrackedScope own;
  return MallocArray<double>(count, 6);
}

// From the unit normals N0, N1 at the samples on: the angle fields (with `scaled`) and the
// needles of the level (see ComputeObjCont). -2 when a measure failed.
int NormalsToNeedles(EdgeSamples& s, int count, int level, int scaled, double scale,
                     ObjContInfo* info, double* needles) {
  if (scaled) {
    double angles[2];
    int maxIndex = 0;
    FindNeedleInfoG1(s.P0, s.N0, s.N1, angles, &maxIndex, count, scale);
    if (KernelFailed()) return -2;
    info->minAngle = angles[0];
    info->maxAngle = angles[1];
  } else if (level == 1) {
    if (FindUnscaledNeedleInfo(s.P0, s.N0, s.N1, count) != 0) return -2;
  } else {
    FindUnscaledG0NeedleInfo(s.P0, s.P1, s.N0, s.N1, count);
  }
  // Level 0 with normal needles and scaled: the angle needles, since FindNeedleInfoG1 put the
  // sample points themselves into N0.
  if (level == 1 || scaled)
    MakeNeedles(needles, s.N0, s.N1, count);
  else
    MakeNeedles(needles, s.P0, s.N0, count);
  return 0;
}

// Two surfaces meeting along boundaries (ComputeObjCont). Method: copies made to run one way,
// to one degree and one knot vector on [0, 1] along their boundaries; the facing stretch from
// the ends projected across; 2p + 1 steps per knot span of the first boundary, each sample
// projected onto the second boundary; then the measures of the level.
int SurfacePairContinuity(Bspline* objs[2], int bndry[2], int level, ObjContInfo* info,
                          int normalNeedles, double** needlesOut, int* countOut, int scaled) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> copy0(CopyBsplineStruct(objs[0])), copy1(CopyBsplineStruct(objs[1]));
  if (!copy0 || !copy1 || KernelFailed()) return -2;
  Bspline* c[2] = {copy0.get(), copy1.get()};
  int b[2] = {bndry[0], bndry[1]};
  // Boundaries 0 and 2 run along v.
  int dirs[2] = {b[0] == 0 || b[0] == 2 ? 1 : 0, b[1] == 0 || b[1] == 2 ? 1 : 0};
  const int reversedCount = EquateParDirOfObjSet(c, b, 2);
  if (reversedCount < 0 || KernelFailed()) return -2;
  // With two objects the one reversed is the second; its normals are turned back below, so
  // needles keep the orientation of the surfaces passed in.
  bool reversed[2] = {false, reversedCount > 0};
  EquateDegOfObjSet(c, dirs, 2);
  if (KernelFailed()) return -2;
  MakeObjSetCompatible(c, dirs, 2, 1);
  if (KernelFailed()) return -2;

  // The facing stretch: each boundary's ends projected onto the other boundary.
  double ends0[2][3], ends1[2][3], t1[2] = {0, 0}, t0[2] = {0, 0};
  GetObjBndryPnts(c[0], b[0], ends0[0], ends0[1], 0);
  GetObjBndryPnts(c[1], b[1], ends1[0], ends1[1], 0);
  double lo0 = 0, hi0 = 0, lo1 = 0, hi1 = 0;
  GetKnotInfo(c[0], dirs[0], &lo0, &hi0);
  GetKnotInfo(c[1], dirs[1], &lo1, &hi1);
  auto ontoBoundary = [&](int j, const double(*pts)[3], double* t, double(*feet)[3]) {
    GetClosestPointsOnCrvOnSrf(pts, 2, c[j], GetParValOfBndry(c[j], b[j]), dirs[j], t, feet);
  };
  if (!FacingStretches(ends0, ends1, lo0, hi0, lo1, hi1, ontoBoundary, t0, t1)) return -2;
  // The first object is the one on which the other's ends span more: the short edge of a short
  // edge lying inside a long one, so all its samples face the other.
  if (t1[1] - t1[0] > t0[1] - t0[0]) {
    std::swap(c[0], c[1]);
    std::swap(b[0], b[1]);
    std::swap(dirs[0], dirs[1]);
    std::swap(reversed[0], reversed[1]);
    std::swap(t0, t1);
    std::swap(bndry[0], bndry[1]);
  }

  const int p = dirs[0] ? c[0]->degreeV : c[0]->degreeU;
  const int k = dirs[0] ? c[0]->interiorV : c[0]->interiorU;
  int count = (k + 1) * (2 * p + 1) + 1;
  EdgeSamples s;
  if (!s.Allocate(count)) return -2;
  double* needles = AllocateNeedles(count);
  Owned<double, Free> needleOwner(needles);
  if (!needles || KernelFailed()) return -2;

  const double fixed0 = GetParValOfBndry(c[0], b[0]);
  GetParValsOnIsoPar(c[0], dirs[0], s.u0, s.v0, fixed0, 2 * p + 2);
  double* along0 = dirs[0] ? s.v0 : s.u0;
  double* across0 = dirs[0] ? s.u0 : s.v0;
  count = KeepFacingSamples(along0, across0, nullptr, count, t1[0] < t0[0], t0[0], t1[1] > t0[1],
                            t0[1]);
  EvalNpntsOnObj2(c[0], 0, 0, s.u0, s.v0, count, s.P0);
  const double fixed1 = GetParValOfBndry(c[1], b[1]);
  GetClosestPointsOnCrvOnSrf(s.P0, count, c[1], fixed1, dirs[1], s.t1, s.P1);
  if (KernelFailed()) return -2;
  for (int i = 0; i < count; ++i) {
    (dirs[1] ? s.u1 : s.v1)[i] = fixed1;
    (dirs[1] ? s.v1 : s.u1)[i] = s.t1[i];
  }
  int maxIndex = 0;
  FindNeedleInfoG0(s.P0, s.P1, info, &maxIndex, count);

  if (level == 3) {
    // Level 3 measures no angle between two surfaces: the needles mark the samples.
    MakeNeedles(needles, s.P0, s.P0, count);
  } else if (level == 1 || normalNeedles) {
    // Degree 1 along the boundary: a sample on a knot of the first takes that knot on the
    // second too, so both are evaluated at the shared knot rather than a hair beside it.
    if ((dirs[1] ? c[1]->degreeV : c[1]->degreeU) == 1) {
      const double* knots = dirs[0] ? c[0]->knotsV : c[0]->knotsU;
      const int nCtrl = dirs[0] ? NumCtrlV(c[0]) : NumCtrlU(c[0]);
      double* along1 = dirs[1] ? s.v1 : s.u1;
      int span = p;
      for (int i = 0; i < count; ++i) {
        span = p;
        if (FindLowKnotIndex(knots, p, along0[i], &span, nCtrl) == 0) along1[i] = along0[i];
      }
    }
    ComputeSurfNormalNPnts(c[0], s.u0, s.v0, s.N0, count);
    ComputeSurfNormalNPnts(c[1], s.u1, s.v1, s.N1, count);
    if (KernelFailed()) return -2;
    NormalizeAll(s.N0, count);
    NormalizeAll(s.N1, count);
    if (reversed[0]) ReverseNormalDirections(s.N0, count);
    if (reversed[1]) ReverseNormalDirections(s.N1, count);
    const double scale = (GetAvgLengthOfBspline(c[1]) + GetAvgLengthOfBspline(c[0])) * 0.125;
    if (NormalsToNeedles(s, count, level, scaled, scale, info, needles) != 0)
      return -2;
  } else {
    MakeNeedles(needles, s.P0, s.P1, count);
  }
  *needlesOut = needleOwner.release();
  *countOut = count;
  return 0;
}

// The 3D point (d 0) or first derivative (d 1) of a curve in space or on a surface.
void CurvePoint(Bspline* crv, double t, int d, double out[3]) {
  Eval3DPointOnBsplOnSurfArray(nullptr, crv, t, d, 0, out);
}

// Two curves meeting at their chosen ends (ComputeObjCont).
void CurvePairContinuity(Bspline* objs[2], const int bndry[2], int level, ObjContInfo* info) {
  double a[3], b[3];
  const double ta = GetParValOfBndry(objs[0], bndry[0]);
  const double tb = GetParValOfBndry(objs[1], bndry[1]);
  CurvePoint(objs[0], ta, 0, a);
  CurvePoint(objs[1], tb, 0, b);
  info->minGap = info->maxGap = VecDist3(a, b);
  if (level == 1) {
    CurvePoint(objs[0], ta, 1, a);
    CurvePoint(objs[1], tb, 1, b);
    info->minAngle = info->maxAngle = FoldedAngle(a, b) * kDegPerRad;
  }
}

// A curve's end against a surface's edge: the given curve on the surface, or its boundary.
int SurfaceCurveContinuity(Bspline* srf, Bspline* onSurface, Bspline* crv, const int bndry[2],
                           int level, ObjContInfo* info) {
  double B[3], C[3], t = 0.0, uv[2];
  const double tc = GetParValOfBndry(crv, bndry[1]);
  CurvePoint(crv, tc, 0, B);
  const double(*pts)[3] = &B;
  if (onSurface) {
    GetClosestPointsOnCrvOnSrf(pts, 1, onSurface, 0.0, 0, &t, &C);
    Eval2DPointOnCurve2Array(nullptr, onSurface, t, 0, uv);
  } else {
    const int alongV = bndry[0] == 0 || bndry[0] == 2;
    const double fixed = GetParValOfBndry(srf, bndry[0]);
    GetClosestPointsOnCrvOnSrf(pts, 1, srf, fixed, alongV, &t, &C);
    uv[0] = alongV ? fixed : t;
    uv[1] = alongV ? t : fixed;
  }
  if (KernelFailed()) return -2;
  info->minGap = info->maxGap = VecDist3(B, C);
  if (level == 1) {
    // The curve's derivative against the surface's derivative across the boundary.
    double D[3], S[3];
    CurvePoint(crv, tc, 1, D);
    const int across = bndry[0] == 0 || bndry[0] == 2;
    Eval3DPointOnSurfArray(srf, uv[0], uv[1], across ? 1 : 0, across ? 0 : 1, S);
    info->minAngle = info->maxAngle = FoldedAngle(D, S) * kDegPerRad;
  } else if (level == 3) {
    double T[3], plane[4];
    BsplCurveTangentDir(crv, tc, T);
    SurfaceTangentPlane(srf, uv[0], uv[1], plane);
    double a = FindAngleVectors3(T, plane);
    if (a > 90.0) a = 180.0 - a;
    info->minAngle = info->maxAngle = 90.0 - a;
  }
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int ComputeObjCont(Bspline* objs[2], Bspline* curves[2], int bndry[2], int level, ObjContInfo* info,
                   int normalNeedles, double** needlesOut, int* countOut, int scaled) {
  if (level < 0 || level == 2 || level > 3) return -2;
  if (!objs[0] || !objs[1]) return -2;
  const int k0 = objs[0]->kind, k1 = objs[1]->kind;
  // A surface's boundary is 0..3, a curve's 0 (start) or 2 (end); another index names nothing.
  for (int i = 0; i < 2; ++i) {
    const bool surface = objs[i]->kind == 2;
    if (bndry[i] < 0 || bndry[i] > 3 || (!surface && bndry[i] % 2 != 0)) return -2;
  }
  if (k0 == 2 && k1 == 2) {
    if (curves[0] || curves[1])
      return ComputeObjContTrimSurfs(objs, curves, bndry, level, info, needlesOut, countOut, scaled,
                                     normalNeedles);
    return SurfacePairContinuity(objs, bndry, level, info, normalNeedles, needlesOut, countOut,
                                 scaled);
  }
  int r = -2;
  if (k0 == 1 && k1 == 1) {
    CurvePairContinuity(objs, bndry, level, info);
    r = KernelFailed() ? -2 : 0;
  } else if (k0 == 2 && k1 == 1) {
    r = SurfaceCurveContinuity(objs[0], curves[0], objs[1], bndry, level, info);
  }
  if (r == 0) *countOut = 1;
  return r;
}

void FindNeedleInfoG0(const double (*p0)[3], const double (*p1)[3], ObjContInfo* info,
                      int* maxIndexOut, int n) {
  double lo = kNoValue, hi = 0.0;
  int at = 0;
  for (int i = 0; i < n; ++i) {
    const double g = VecDist3(p0[i], p1[i]);
    lo = std::min(lo, g);
    if (g > hi) {  // strictly: ties keep the first index
      hi = g;
      at = i;
    }
  }
  info->minGap = lo;
  info->maxGap = hi;
  *maxIndexOut = at;
}

void FindNeedleInfoG1(const double (*points)[3], double (*n0)[3], double (*n1)[3],
                      double anglesOut[2], int* maxIndexOut, int n, double scale) {
  // n1[i] first holds the needle vector M[i]: the unit mean normal times the angle in radians.
  double lo = kNoValue, hi = 0.0;
  int at = 0;
  for (int i = 0; i < n; ++i) {
    double m[3];
    for (int k = 0; k < 3; ++k) m[k] = 0.5 * (n0[i][k] + n1[i][k]);
    double angle = 0.0;
    if (NormalizeVector(m, 3, kNoDirection) != 0) {
      m[0] = m[1] = m[2] = 0.0;
    } else {
      angle = FoldedAngle(n0[i], n1[i]);
      VectorScalerProduct(m, angle, 3);
    }
    lo = std::min(lo, angle);
    if (angle > hi) {
      hi = angle;
      at = i;
    }
    for (int k = 0; k < 3; ++k) n1[i][k] = m[k];
  }
  anglesOut[0] = lo * kDegPerRad;
  anglesOut[1] = hi * kDegPerRad;
  *maxIndexOut = at;
  // The largest angle's needle gets the display length.
  const double f = hi > kLeastScaledAngle ? scale / hi : 1.0;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      n0[i][k] = points[i][k];
      n1[i][k] = points[i][k] + n1[i][k] * f;
    }
}

int FindUnscaledNeedleInfo(const double (*points)[3], double (*n0)[3], double (*n1)[3], int n) {
  for (int i = 0; i < n; ++i) {
    double m[3] = {0.0, 0.0, 0.0};
    const double l0 = VecSize3(n0[i]), l1 = VecSize3(n1[i]);
    if (l0 >= kNoDirection && l1 >= kNoDirection) {
      for (int k = 0; k < 3; ++k) m[k] = 0.5 * (n1[i][k] / l1 + n0[i][k] / l0);
      if (NormalizeVector(m, 3, kNoDirection) == 0)
        VectorScalerProduct(m, FoldedAngle(n0[i], n1[i]), 3);
      else
        m[0] = m[1] = m[2] = 0.0;
    }
    for (int k = 0; k < 3; ++k) {
      n0[i][k] = points[i][k];
      n1[i][k] = m[k];  // the needle vector itself, not its end point (callers read it so)
    }
  }
  return 0;
}

void FindUnscaledG0NeedleInfo(double (*p0)[3], const double (*p1)[3], double (*n0)[3],
                              double (*n1)[3], int n) {
  for (int i = 0; i < n; ++i) {
    const double g = VecDist3(p0[i], p1[i]);
    NormalizeVector(n0[i], 3, 1e-10);
    NormalizeVector(n1[i], 3, 1e-10);
    for (int k = 0; k < 3; ++k) n0[i][k] = 0.5 * (n0[i][k] + n1[i][k]);
    NormalizeVector(n0[i], 3, 1e-10);
    for (int k = 0; k < 3; ++k) {
      p0[i][k] = 0.5 * (p1[i][k] + p0[i][k]);
      n0[i][k] = n0[i][k] * g + p0[i][k];
    }
  }
}

void MakeNeedles(double* needles, const double (*a)[3], const double (*b)[3], int n) {
  // Plane k holds coordinate k of every needle: start then end.
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < n; ++i) {
      needles[2 * (k * n + i)] = a[i][k];
      needles[2 * (k * n + i) + 1] = b[i][k];
    }
}

int ReverseNormalDirections(double (*v)[3], int n) {
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) v[i][k] = -v[i][k];
  return 0;
}

double GetAvgLengthOfBspline(Bspline* obj) {
  // A record that is not sound, or a length that overflows, has no length.
  const double length =
      BsplineSound(obj) ? 0.5 * (GetObjSpanInParDir(obj, 0, 0) + GetObjSpanInParDir(obj, 1, 0)) : HUGE_VAL;
  if (!std::isfinite(length)) {
    SetKernelError(-2);
    return 0.0;
  }
  return length;
}

// ---- Continuity along curves on surfaces ---------------------------------------------------
namespace {

// GetCurveOnSurfaceNorm on a curve already checked.
void OwnerNormalAt(double out[3], Bspline* curve, double t) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, curve, t, 0, uv);
  const int du[2] = {1, 0}, dv[2] = {0, 1};
  double d[2][3];
  EvalPointOnGeometryM(curve->owner, uv[0], uv[1], du, dv, 2, 0, d);
  ComputeSurfaceNormal(curve->owner, uv[0], uv[1], d[0], d[1], out);
}

}  // namespace

double* GetCurveOnSurfaceNorm(double out[3], Bspline* curve, double t) {
  if (!RecordsSound({curve})) return nullptr;
  if (!out || curve->kind != 1 || curve->dimension != 2 || !curve->owner || curve->owner->kind != 2 ||
      curve->owner->dimension != 3 || !std::isfinite(t)) {
    SetKernelError(-2);
    return nullptr;
  }
  OwnerNormalAt(out, curve, t);
  return out;
}

void MakeCrvOnSrfsPlateProper(Bspline** curves, int n) {
  for (int i = 0; i < n; ++i) {
    Bspline* c = curves[i];
    int m = 0;
    double *params = nullptr, *us = nullptr, *vs = nullptr;
    if (GetCurve2DSurfParamSect(c, &m, &params, &us, &vs) != 0) {
      SetKernelError(-2);
      return;
    }
    Free(us);
    Free(vs);
    double* missing = nullptr;
    int nMissing = 0;
    PutInCKnotsOfBNotInA(c->knotsU, NumKnotsU(c), params, m, &missing, &nMissing);
    Free(params);
    if (nMissing > 0 && !KernelFailed()) InsertNKnotsToObject(1, nMissing, 0, c, 2, missing);
    Free(missing);
    if (KernelFailed()) return;
  }
}

Bspline* GetMatchingBsplineOnSrf(Bspline* srfA, Bspline* srfB, Bspline* curve) {
  if (!srfA || !srfA->curves) return nullptr;
  int at = 0;
  const BsplineList* a = srfA->curves;
  while (a && a->item != curve) {
    a = a->next;
    ++at;
  }
  if (!a || !srfB) return nullptr;
  const BsplineList* b = srfB->curves;
  for (; b && at > 0; --at) b = b->next;
  return b ? b->item : nullptr;
}

namespace {

// The curves standing for the two edges: the given ones, or each surface's boundary as a 2D
// curve on it (made here, held by `made`).
bool EdgeCurves(Bspline* srfs[2], Bspline* curves[2], const int bndry[2], Bspline* c[2],
                Owned<Bspline, FreeBspline> made[2]) {
  for (int i = 0; i < 2; ++i) {
    if (curves[i]) {
      // A curve on a surface: its points and normals come through its owner.
      if (curves[i]->kind != 1 || curves[i]->dimension != 2 || !curves[i]->owner) return false;
      c[i] = curves[i];
      continue;
    }
    made[i].reset(MakeIsoparCurve2(srfs[i], bndry[i], -1.0));
    if (!made[i] || KernelFailed()) return false;
    c[i] = made[i].get();
  }
  return true;
}

// The parameter range of a curve: its knots at index degree and at the control-point count.
void CurveRange(const Bspline* c, double* lo, double* hi) {
  *lo = c->knotsU[c->degreeU];
  *hi = c->knotsU[NumCtrlU(c)];
}

// Index of the first entry of the sorted U within kUnitParTol of t, or -1.
int UnionKnotAt(const double* U, int L, double t) {
  const double* it = std::lower_bound(U, U + L, t - kUnitParTol);
  return it != U + L && std::fabs(*it - t) < kUnitParTol ? static_cast<int>(it - U) : -1;
}

// At a corner of the second curve (a union knot of at least its degree's multiplicity, met by
// both samples) the second surface's normal is taken on the side of the corner that agrees
// better with the first surface: T1 or its mirror 2K - T1.
void ChooseCornerSides(Bspline* c0, Bspline* c1, const double* U, int L, const double* T0,
                       double* T1, int count) {
  for (int i = 0; i < count; ++i) {
    if (UnionKnotAt(U, L, T0[i]) < 0) continue;
    const int at = UnionKnotAt(U, L, T1[i]);
    if (at < 0) continue;
    const double K = U[at];
    if (FindMultOfValInArray(U, L, K, at, c1->degreeU + 1, 1, kUnitParTol) < c1->degreeU) continue;
    const double mirrored = 2.0 * K - T1[i];
    double n0[3], n1[3], m1[3];
    OwnerNormalAt(n0, c0, T0[i]);
    OwnerNormalAt(n1, c1, T1[i]);
    OwnerNormalAt(m1, c1, mirrored);
    if (std::fabs(VecDotProd3(n1, n0)) < std::fabs(VecDotProd3(m1, n0))) T1[i] = mirrored;
  }
}

// Unit normals of each curve's owner at the samples' (u, v).
void CurveSampleNormals(Bspline* c0, Bspline* c1, EdgeSamples& s, int count) {
  EvalNpntsOnObj(c0, 0, 0, s.t0, s.t0, count, s.u0, s.v0, nullptr);
  EvalNpntsOnObj(c1, 0, 0, s.t1, s.t1, count, s.u1, s.v1, nullptr);
  ComputeSurfNormalNPnts(c0->owner, s.u0, s.v0, s.N0, count);
  ComputeSurfNormalNPnts(c1->owner, s.u1, s.v1, s.N1, count);
  NormalizeAll(s.N0, count);
  NormalizeAll(s.N1, count);
}

}  // namespace

int ComputeObjContTrimSurfs(Bspline* srfs[2], Bspline* curves[2], int bndry[2], int level,
                            ObjContInfo* info, double** needlesOut, int* countOut, int scaled,
                            int normalNeedles) {
  if (level < 0 || level > 1) return -2;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> made[2];
  Bspline* c[2];
  if (!EdgeCurves(srfs, curves, bndry, c, made)) return -2;
  MakeCrvOnSrfsPlateProper(c, 2);
  if (KernelFailed()) return -2;
  if (EquateParDirOfObjSet(c, nullptr, 2) < 0 || KernelFailed()) return -2;
  for (Bspline* ci : c) MapDirectionOntoUnitRange(ci, 0, 0);

  double* U = nullptr;
  int L = 0;
  UnionKnotArrays(c[0]->knotsU, NumKnotsU(c[0]), c[1]->knotsU, NumKnotsU(c[1]), &U, &L);
  if (!U || KernelFailed()) return -2;
  const int p = std::max(c[0]->degreeU, c[1]->degreeU);
  int count = (L - 2 * p - 1) * (2 * p + 1) + 1;
  EdgeSamples s;
  if (!s.Allocate(count)) return -2;
  double* needles = AllocateNeedles(count);
  Owned<double, Free> needleOwner(needles);
  if (!needles || KernelFailed()) return -2;

  // The facing stretch on [0, 1]; the first curve becomes the one the other's ends span more of.
  double ends0[2][3], ends1[2][3], t1[2] = {0, 0}, t0[2] = {0, 0};
  GetObjBndryPnts(c[0], 0, ends0[0], ends0[1], 0);
  GetObjBndryPnts(c[1], 0, ends1[0], ends1[1], 0);
  auto ontoCurve = [&](int j, const double(*pts)[3], double* t, double(*feet)[3]) {
    GetClosestPointsOnCrvOnSrf(pts, 2, c[j], 0.0, 0, t, feet);
  };
  if (!FacingStretches(ends0, ends1, 0.0, 1.0, 0.0, 1.0, ontoCurve, t0, t1)) return -2;
  if (t0[1] - t0[0] < t1[1] - t1[0]) {
    std::swap(c[0], c[1]);
    std::swap(t0, t1);
  }

  GetNpntsPSpan(U + p, L - 2 * p, s.t0, 2 * p + 2);
  count = KeepFacingSamples(s.t0, nullptr, nullptr, count, t1[0] < t0[0], t0[0], t1[1] > t0[1],
                            t0[1]);
  EvalNpntsOnObj2(c[0], 0, 0, s.t0, s.t0, count, s.P0);
  GetClosestPointsOnCrvOnSrf(s.P0, count, c[1], 0.0, 0, s.t1, s.P1);
  if (KernelFailed()) return -2;
  int maxIndex = 0;
  FindNeedleInfoG0(s.P0, s.P1, info, &maxIndex, count);

  if (level == 1 || normalNeedles) {
    ChooseCornerSides(c[0], c[1], U, L, s.t0, s.t1, count);
    CurveSampleNormals(c[0], c[1], s, count);
    if (KernelFailed()) return -2;
    const double scale =
        (GetAvgLengthOfBspline(c[1]->owner) + GetAvgLengthOfBspline(c[0]->owner)) * 0.125;
    if (NormalsToNeedles(s, count, level, scaled, scale, info, needles) != 0)
      return -2;
  } else {
    MakeNeedles(needles, s.P0, s.P1, count);
  }
  *needlesOut = needleOwner.release();
  *countOut = count;
  return 0;
}

int ComputeObjContTrimSurfs2(Bspline* srfs[2], Bspline* curves[2], int bndry[2], int level,
                             ObjContInfo* info, double atMax[2]) {
  if (level < 0 || level > 1) return -2;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> made[2];
  Bspline* c[2];
  if (!EdgeCurves(srfs, curves, bndry, c, made)) return -2;
  // The second surface's extent along its boundary, for a second curve made from it.
  double extentLo = 0.0, extentHi = 0.0;
  GetKnotInfo(srfs[1], bndry[1] == 0 || bndry[1] == 2 ? 1 : 0, &extentLo, &extentHi);

  // The stretch of the second curve that the first one's ends face.
  double start1 = 0.0, end1 = 0.0, start0 = 0.0, end0 = 0.0;
  CurveRange(c[1], &start1, &end1);
  CurveRange(c[0], &start0, &end0);
  double ends0[2][3], t[2] = {0.0, 0.0};
  GetObjBndryPnts(c[0], 0, ends0[0], ends0[1], 0);
  GetClosestPointsOnCrvOnSrf(ends0, 2, c[1], 0.0, 0, t, nullptr);
  if (KernelFailed()) return -2;
  const double tol1 = 1e-6 * (end1 - start1);
  CorrectOverlap(&t[0], &t[1], start1, end1, tol1);
  // Curves running against each other face the same stretch with its ends exchanged.
  const double lo = std::min(t[0], t[1]), hi = std::max(t[0], t[1]);

  // The second curve's knots inside that stretch, carried across onto the first curve, so that
  // the samples meet the second curve's corners too.
  const int nk1 = NumKnotsU(c[1]);
  double* inner = MallocArray<double>(nk1);
  Point3* innerPts = MallocArray<Point3>(nk1);
  if (!inner || !innerPts || KernelFailed()) return -2;
  int nInner = 0;
  for (int i = 0; i < nk1; ++i) {
    const double k = c[1]->knotsU[i];
    if (k > lo + tol1 && k < hi - tol1 && (nInner == 0 || k != inner[nInner - 1])) inner[nInner++] = k;
  }
  int nCarried = 0;
  if (nInner > 0) {
    EvalNpntsOnObj2(c[1], 0, 0, inner, inner, nInner, innerPts);
    double* carried = MallocArray<double>(nInner);
    if (!carried || KernelFailed()) return -2;
    GetClosestPointsOnCrvOnSrf(innerPts, nInner, c[0], 0.0, 0, carried, nullptr);
    if (KernelFailed()) return -2;
    for (int i = 0; i < nInner; ++i)
      if (carried[i] >= start0 && carried[i] <= end0) inner[nCarried++] = carried[i];
    HeapSort(nCarried, inner);
  }
  double* U = nullptr;
  int L = 0;
  const int p0 = c[0]->degreeU;
  UnionKnotArrays(c[0]->knotsU + p0, NumCtrlU(c[0]) - p0 + 1, inner, nCarried, &U, &L);
  if (!U || KernelFailed()) return -2;

  const int p = std::max(c[0]->degreeU, c[1]->degreeU);
  const int count = (L - 1) * (2 * p + 1) + 1;
  EdgeSamples s;
  if (!s.Allocate(count)) return -2;
  GetNpntsPSpan(U, L, s.t0, 2 * p + 2);
  EvalNpntsOnObj2(c[0], 0, 0, s.t0, s.t0, count, s.P0);
  GetClosestPointsOnCrvOnSrf(s.P0, count, c[1], 0.0, 0, s.t1, s.P1);
  if (KernelFailed()) return -2;
  int maxIndex = 0;
  FindNeedleInfoG0(s.P0, s.P1, info, &maxIndex, count);
  atMax[0] = s.t1[maxIndex];
  if (level == 1) {
    // Orientation does not matter: the angles are folded.
    CurveSampleNormals(c[0], c[1], s, count);
    if (KernelFailed()) return -2;
    double angles[2];
    FindNeedleInfoG1(s.P0, s.N0, s.N1, angles, &maxIndex, count, 1.0);
    if (KernelFailed()) return -2;
    info->minAngle = angles[0];
    info->maxAngle = angles[1];
    atMax[1] = s.t1[maxIndex];
  }
  if (made[1]) {
    // Parameters of the made boundary curve back to the surface's along that boundary; at level
    // 0 atMax[1] was not computed and stays as the caller set it.
    const double f = (extentHi - extentLo) / (end1 - start1);
    for (int i = 0; i <= level; ++i) atMax[i] = (atMax[i] - start1) * f + extentLo;
  }
  return 0;
}

// ---- Curves on surfaces in a unit frame ----------------------------------------------------------

namespace {

// Points per curve that give the curves' extent.
constexpr int kFrameSamples = 16;

// The frame that takes model points to unit ones (ObjectFromUnitFrame through it moves an object
// into `frame`).
UnitFrame IntoFrame(const UnitFrame& frame) {
  UnitFrame in;
  in.size = 1.0 / frame.size;
  for (int j = 0; j < 3; ++j) in.centre[j] = -frame.centre[j] / frame.size;
  return in;
}

}  // namespace

bool CurvesUnitFrame(Bspline** curves, int n, UnitFrame* frame) {
  double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k <= kFrameSamples; ++k) {
      Bspline* c = curves[i];
      const double t = c->umin + (c->umax - c->umin) * k / kFrameSamples;
      double p[3];
      EvalCrvOnSrfArray(nullptr, c, t, 0, p);
      for (int j = 0; j < 3; ++j) lo[j] = std::fmin(lo[j], p[j]), hi[j] = std::fmax(hi[j], p[j]);
    }
  double size = 0.0;
  for (int j = 0; j < 3; ++j) {
    size = std::fmax(size, hi[j] - lo[j]);
    frame->centre[j] = 0.5 * lo[j] + 0.5 * hi[j];
  }
  if (!(size > 0.0) || !std::isfinite(size)) return false;
  frame->size = std::ldexp(1.0, std::ilogb(size));
  return true;
}

bool CurvesInUnitFrame(Bspline** curves, int n, const UnitFrame& frame, Bspline** work, Bspline** owners,
                       Bspline** loose) {
  const UnitFrame in = IntoFrame(frame);
  for (int i = 0; i < n; ++i) {
    Bspline* s = curves[i];
    if (s->dimension == 3) {
      work[i] = loose[i] = CopyBsplineStruct(s);
      if (!work[i]) return false;
      ObjectFromUnitFrame(work[i], in);
      continue;
    }
    Bspline* copy = nullptr;
    for (int j = 0; j < i && !copy; ++j)
      if (curves[j]->dimension == 2 && curves[j]->owner == s->owner) copy = work[j]->owner;
    if (!copy) {
      copy = owners[i] = CopyBsplineStructAndChildren(s->owner);
      if (!copy) return false;
      ObjectFromUnitFrame(copy, in);
    }
    work[i] = GetMatchingBsplineOnSrf(s->owner, copy, s);
    if (!work[i]) {
      work[i] = loose[i] = CopyBsplineStruct(s);
      if (!work[i]) return false;
      work[i]->owner = copy;
    }
  }
  return true;
}
