// Internal to healing/: the helpers the sources of the boundary structure (srfbndr.cpp and its
// srfbndr_<stage>.cpp) share: small vector steps, side and slot lookups, the release of an
// edge's sample arrays, tangents along a side and the memo of a side's sample normals.
#pragma once

#include <cmath>

#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/srfbndr.h"

namespace srfbndr_internal {

// Below this length a normal, tangent or direction is taken as vanished.
inline constexpr double kTiny = 1e-6;
// Every per-sample array has room for two entries more than the count: a rematch may accept
// the two end samples as interior matches.
inline constexpr int kRoom = 2;

// out = a.
inline void Copy3(const double a[3], double out[3]) {
  out[0] = a[0];
  out[1] = a[1];
  out[2] = a[2];
}

// Sets v to the zero vector.
inline void Zero3(double v[3]) { v[0] = v[1] = v[2] = 0.0; }

// Unit vector, or the zero vector when shorter than kTiny; returns the length.
inline double UnitOrZero(const double v[3], double out[3]) {
  const double len = VecSize3(v);
  if (len < kTiny) {
    Zero3(out);
    return len;
  }
  out[0] = v[0] / len;
  out[1] = v[1] / len;
  out[2] = v[2] / len;
  return len;
}

// Normals of two surfaces meeting at a seam may point to opposite sides: fold at 90 degrees.
inline double FoldedAngle(const double a[3], const double b[3]) {
  const double ang = FindAngleVectors3(a, b);
  return ang > 90.0 ? std::fabs(180.0 - ang) : ang;
}

// Slot of side B at the end that meets side A's end `end`.
inline int MatchSlot(const EdgeInfoStruct* e, int end) { return BndrMatchedSlot(e, 1, end); }

// Side A's (0) or side B's (1) boundary curve of an edge.
inline const CrvInfoStruct* SideCrv(const EdgeInfoStruct* e, int side) { return side ? e->infoB : e->infoA; }

// Side A's (0) or side B's (1) sample parameters of an edge.
inline double* SideSamples(const EdgeInfoStruct* e, int side) { return side ? e->sampleB : e->sampleA; }

// The edge has a partner side.
inline bool IsPaired(const EdgeInfoStruct* e) { return e->paired && e->infoB; }

// The edge is paired and passed the positional and the tangential test.
inline bool IsG1Paired(const EdgeInfoStruct* e) { return IsBndrEdgeHealedSmooth(e) == 1; }

// The point `at` nearest m on the line where two planes meet (unit normals n[s] through p[s]);
// false where the planes are parallel. A point moved onto its own surface's tangent plane there
// leaves the normal as it was to first order: a crease closed at such points keeps its angle.
bool NearestOnTwoPlanes(const double (*p)[3], const double (*n)[3], const double m[3], double at[3]);

// Where three surfaces meet at a corner in creases, each with a corner of its own there between
// two straight sides (a box of bilinear planes, or narrow walls along a plate whose other sides
// there are free): the point `meet` of their three tangent planes at their corners. A bilinear
// net's corner moved within its tangent plane keeps its normal there, so closed at that point the
// corner keeps the creases' angles it came with; false (and `meet` untouched) where the corner is
// not such a one, or where the planes meet farther from a corner than three times the largest gap
// of the seams there as they came, the heal's movement bound. Where two surfaces meet at a corner in one crease between two
// straight sides, every other side there free, `meet` (given as the corners' mean) goes to the
// point nearest it where their two tangent planes meet, so that each keeps its normal at the
// corner; false where that point lies farther from a corner than the two corners lie apart.
bool CreaseCornerMeet(const BndrStruct* bs, const CornerInfoStruct* corner, double meet[3]);

// Range check shared by the three boundary-curve evaluators.
inline bool InCrvRange(const CrvInfoStruct* crv, double t) {
  double lo = 0.0, hi = 0.0;
  if (GetBndrCrvParamMinMax(crv, &lo, &hi) != 0) return false;
  return t >= lo && t <= hi;
}

// Frees the three old coordinate arrays and puts the new ones (null to clear) in their place.
inline void ReplaceCoordArrays(double*& ax, double*& ay, double*& az, double* x, double* y, double* z) {
  FreeAndNull(ax);
  FreeAndNull(ay);
  FreeAndNull(az);
  ax = x;
  ay = y;
  az = z;
}

// Frees an edge's averaged sample points and normals.
inline void FreeEdgeAvgArrays(EdgeInfoStruct* e) {
  ReplaceCoordArrays(e->avgX, e->avgY, e->avgZ, nullptr, nullptr, nullptr);
  ReplaceCoordArrays(e->avgNx, e->avgNy, e->avgNz, nullptr, nullptr, nullptr);
}

// Frees an edge's sample parameters, averaged targets and basis tables.
inline void FreeEdgeSampleArrays(EdgeInfoStruct* e) {
  FreeAndNull(e->sampleA);
  FreeAndNull(e->sampleB);
  FreeEdgeAvgArrays(e);
  FreeBndrEdgeNubVals(e);
}

// What the tangents along one side need of its curve and surface besides the parameter: whether
// a natural side is collapsed to a point, and the speed a curve of its size runs at over its
// parameter range. Both read every control point, so a walk along a side whose control points
// stay as they are takes them once (the same answers as taking them at every sample).
struct SideTangentScale {
  bool degenerate = false;
  double speed = 1.0;
};

// The scale of the tangents along one side.
inline SideTangentScale TangentScaleOf(const CrvInfoStruct* crv) {
  SideTangentScale s;
  if (!crv || !crv->srf) return s;
  s.degenerate = IsBndrCrvDegenerate(crv) != 0;
  const Bspline* shape = crv->side == 0 ? crv->srf : crv->crv3;
  if (s.degenerate || !shape) return s;
  double lo = 0.0, hi = 0.0;
  GetBndrCrvParamMinMax(crv, &lo, &hi);
  if (hi > lo) s.speed = ControlPointDiagonal(shape) / (hi - lo);
  return s;
}

// The unit direction of a curve's derivative d, or false (and the zero vector) where it
// vanishes: shorter than kTiny of the curve's size over its parameter range (the speed), so
// that a group of any size and any knot values has tangents alike.
inline bool UnitDerivative(double speed, const double d[3], double out[3]) {
  const double len = VecSize3(d);
  if (!(len > kTiny * speed)) {
    Zero3(out);
    return false;
  }
  for (int k = 0; k < 3; ++k) out[k] = d[k] / len;
  return true;
}

// EvalTangentOnBndryCrv with the side's scale already taken.
inline int TangentOnSide(const CrvInfoStruct* crv, const SideTangentScale& scale, double t, double tangent[3]) {
  if (!crv || !crv->srf || !InCrvRange(crv, t)) return -2;
  double d[3] = {0.0, 0.0, 0.0};
  if (crv->side == 0) {
    Eval3DPointOnBsplOnSurfArray(crv->srf, crv->node->item, t, 1, 0, d);
    if (KernelFailed()) return -2;
    return UnitDerivative(scale.speed, d, tangent) ? 0 : -2;
  }
  if (scale.degenerate) {
    Zero3(tangent);
    return 0;
  }
  Eval3DPointOnCurve3Array(crv->crv3, t, 1, d);
  if (KernelFailed()) return -2;
  UnitDerivative(scale.speed, d, tangent);
  return 0;
}

// Each side's normal at each sample of one edge, the whole side at its first reading (its
// fixed parameter's basis taken once): the averaged normals and the largest angle read the same
// ones. Lives in the caller's scope; valid while neither the geometry nor the samples change.
class SampleNormalMemo {
 public:
  explicit SampleNormalMemo(const EdgeInfoStruct* e) : e_(e) {
    const int n = e->nSample;
    if (n < 1) return;  // nothing to read
    normals_ = MallocArray<double>(6, n);
    status_ = MallocArray<int>(2, n);
  }
  bool ok() const { return e_->nSample < 1 || (normals_ && status_); }
  // SampleNormal's status and normal (written only on success, as there).
  int operator()(int side, int i, double out[3]) {
    const int n = e_->nSample;
    if (!SideSamples(e_, side)) return -2;
    if (!read_[side])
      EvalNormalsOnBndryCrv(SideCrv(e_, side), SideSamples(e_, side), n,
                            reinterpret_cast<double(*)[3]>(normals_ + 3 * side * n), status_ + side * n);
    read_[side] = true;
    const int slot = side * n + i;
    if (status_[slot] != 0) return -2;
    Copy3(normals_ + 3 * slot, out);
    return 0;
  }

 private:
  const EdgeInfoStruct* e_;
  double* normals_ = nullptr;
  int* status_ = nullptr;
  bool read_[2] = {false, false};
};

// The normal of the plane the first legs of the surfaces of a corner's group of half-edges (he[k]
// with group[k] set) lie closest to, each leg's direction weighted by its length; false where the
// plain mean stands instead (see srfbndr_measure.cpp).
bool LegPlaneNormal(const BndrStruct* bs, const BndrHalfEdge* he, const int* group, int n, double normal[3]);

}  // namespace srfbndr_internal
