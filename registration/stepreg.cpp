#include "registration/stepreg.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "registration/confreg.h"
#include "registration/cpsr.h"
#include "registration/matchkit.h"
#include "registration/regdir.h"
#include "registration/regline.h"
#include "registration/regplane.h"
#include "registration/regpoint.h"

int SetIdentityQuaternion(RegVec* v) {
  if (!v) return -2;
  *v = RegVec{{1.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
  return 0;
}

int RegVecToXfrmMat(const RegVec* v, Xform out) {
  double q[4] = {v->q[0], v->q[1], v->q[2], v->q[3]};
  if (NormalizeQternion(q) != 0) return -2;
  // The rotation is built on the stack: a conversion cannot run out of memory.
  double r[3][3];
  double* rows[3] = {r[0], r[1], r[2]};
  quaternion_rotation_matrix(q, rows);
  Get_imat(out);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[4 * i + j] = r[j][i];
  for (int j = 0; j < 3; ++j) out[12 + j] = v->t[j];
  return 0;
}

int VecRotWquaternion(const double p[3], const RegVec* v, double out[3]) {
  RegVec rot = *v;
  rot.t[0] = rot.t[1] = rot.t[2] = 0.0;
  Xform M;
  if (RegVecToXfrmMat(&rot, M) != 0) {
    for (int k = 0; k < 3; ++k) out[k] = p[k];
    return -2;
  }
  VecTrans3(p, M, out);
  return 0;
}

int VecQterTrans3(const double p[3], const RegVec* v, double out[3]) {
  Xform M;
  if (RegVecToXfrmMat(v, M) != 0) {
    for (int k = 0; k < 3; ++k) out[k] = p[k];
    return -2;
  }
  VecTrans3(p, M, out);
  return 0;
}

int MultiplyQuaternion(const double a[4], const double b[4], double out[4]) {
  out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
  out[1] = a[0] * b[1] + b[0] * a[1] + a[2] * b[3] - a[3] * b[2];
  out[2] = a[0] * b[2] + b[0] * a[2] + a[3] * b[1] - a[1] * b[3];
  out[3] = a[0] * b[3] + b[0] * a[3] + a[1] * b[2] - a[2] * b[1];
  return NormalizeQternion(out);
}

int MultiplyRegVecs(const RegVec* a, const RegVec* b, RegVec* out) {
  if (MultiplyQuaternion(b->q, a->q, out->q) != 0) return -2;
  VecQterTrans3(a->t, b, out->t);
  return 0;
}

int AreTwoVecsOnSameHemisphere(const double A[3], const double u[3], const double w[3]) {
  if (VecSize3(A) < 1e-6 || VecSize3(u) < 1e-6 || VecSize3(w) < 1e-6) return 0;
  double a[3], uu[3], ww[3];
  VecNormalize3(A, a);
  VecNormalize3(u, uu);
  VecNormalize3(w, ww);
  if (AreTwoVecsPerpendicular(uu, a) || AreTwoVecsPerpendicular(ww, a)) return 1;
  return VecDotProd3(a, uu) * VecDotProd3(a, ww) > 0.0 ? 1 : 0;
}

int LineDirection(const double p1[3], const double p2[3], double dir[3]) {
  double d[3];
  VecDiff3(p2, p1, d);
  // As every length of the registration, against the coordinates in play: a line of a part
  // measured in micrometres has a direction.
  const double size = VecSize3(d);
  if (!(size > 0.0) || size < matchkit::LengthTol({p1, p2})) {
    dir[0] = dir[1] = dir[2] = 0.0;
    return -2;
  }
  VecNormalize3(d, dir);
  return 0;
}

int LineMidPoint(const double p1[3], const double p2[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = 0.5 * (p1[k] + p2[k]);
  return 0;
}

int DoTwoLinesCoincide(const double l1[6], const double l2[6]) {
  // Lengths count against the largest side of the four points' box: for unit-sized lines the
  // classic 1e-6 (a line of no length) and 1e-3 (the midpoint's distance), and the same answer
  // for the lines scaled or moved.
  double size = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double c[4] = {l1[k], l1[k + 3], l2[k], l2[k + 3]};
    size = std::fmax(size, *std::max_element(c, c + 4) - *std::min_element(c, c + 4));
  }
  double d1[3], d2[3], mid[3], foot[3];
  // A line of no length has a zero direction, which is parallel to nothing.
  if (matchkit::Direction(l1, l1 + 3, d1) < 1e-6 * size) matchkit::Zero3(d1);
  if (matchkit::Direction(l2, l2 + 3, d2) < 1e-6 * size) matchkit::Zero3(d2);
  if (!matchkit::Par(d1, d2)) return 0;
  LineMidPoint(l1, l1 + 3, mid);
  return matchkit::FootOnLine(mid, l2, d2, foot) < 1e-3 * size ? 1 : 0;
}

int IsLineOnPlane(const double l[6], const double plane[4]) {
  double d[3], n[3] = {plane[0], plane[1], plane[2]};
  VecDiff3(l + 3, l, d);
  // Heights count against the line's length, so that a line of any size, anywhere, gets the
  // same answer.
  const double length = VecSize3(d);
  if (!(length > 0.0) || VecSize3(n) < 1e-6) return 0;
  double foot[3], dist1, dist2;
  PlaneMinDist(l, plane[0], plane[1], plane[2], plane[3], foot, &dist1);
  PlaneMinDist(l + 3, plane[0], plane[1], plane[2], plane[3], foot, &dist2);
  if (dist1 > 1e-6 * length || dist2 > 1e-6 * length) return 0;
  VecNormalize3(d, d);
  VecNormalize3(n, n);
  return std::fabs(VecDotProd3(d, n)) <= 0.001 ? 1 : 0;
}

int VecProject3(const double v[3], const double n[3], double out[3]) {
  double c[3], cc[3];
  VecCrossProd3(v, n, c);
  VecCrossProd3(c, n, cc);
  for (int k = 0; k < 3; ++k) out[k] = v[k] + cc[k];
  return 0;
}

namespace {

void FootOnFeaturePlane(const RegFeature& f, double foot[3]) {
  double dist;
  for (int k = 0; k < 3; ++k) foot[k] = f.point[k];
  if (VecSize3(f.plane) >= 1e-6) PlaneMinDist(f.point, f.plane[0], f.plane[1], f.plane[2], f.plane[3], foot, &dist);
}

// The coordinates a feature of its type is matched by are numbers.
bool FiniteFeature(const RegFeature& f) {
  switch (f.type) {
    case 0: return AllFinite(f.point, 3);
    case 1:
    case 2:
    case 3: return AllFinite(f.end1, 3) && AllFinite(f.end2, 3);
    case 4: return AllFinite(f.plane, 4) && AllFinite(f.point, 3);
    case 5: return AllFinite(f.dir, 3) && AllFinite(f.point, 3);
    default: return true;
  }
}

bool FiniteConstraint(const RegConstraint& c) {
  for (const double* v : {c.point, c.axis, c.axisPoint1, c.axisPoint2, c.transDir, c.transNormal})
    if (!AllFinite(v, 3)) return false;
  return AllFinite(c.plane, 4);
}

int MatchByType(const RegFeature& A, const RegFeature& B, RegConstraint constraint, RegConstraint* outConstraint,
                RegVec* outMotion) {
  switch (A.type) {
    case 0: return ConstrainedMatchPoints(constraint, A.point, B.point, outConstraint, outMotion);
    case 1:
    case 2:
    case 3: {
      // A directed line keeps its sense; a line fixed along itself also its first point.
      const double a[6] = {A.end1[0], A.end1[1], A.end1[2], A.end2[0], A.end2[1], A.end2[2]};
      const double b[6] = {B.end1[0], B.end1[1], B.end1[2], B.end2[0], B.end2[1], B.end2[2]};
      return ConstrainedMatchLines(constraint, a, b, A.type >= 2, A.type == 3, outConstraint, outMotion);
    }
    case 4: {
      // The matchers carry a plane's reference point onto the other's, so it must lie on its plane:
      // a feature's point as given (the origin when never set) is taken to its foot.
      // A plane without a normal goes as it is, for the matcher to refuse.
      double footA[3], footB[3];
      FootOnFeaturePlane(A, footA);
      FootOnFeaturePlane(B, footB);
      return ConstrainedMatchPlanes(constraint, A.plane, footA, B.plane, footB, 0, outConstraint, outMotion);
    }
    case 5:
      // A free centre has no point of its own: the direction turns about the moving feature's.
      if (constraint.centreFreedom == 3)
        for (int k = 0; k < 3; ++k) constraint.point[k] = A.point[k];
      return ConstrainedMatchDirections(constraint, A.dir, B.dir, outConstraint, outMotion);
    default: return -2;
  }
}

// The frames the step-by-step registration runs in: the moving side's features about their
// centroid, the targets about theirs, both at one size, so that the matchers' length tests,
// relative to the coordinates in play, measure the data rather than their distance from the
// origin. Points, line ends and the reference points of planes count; directions have none of
// their own (without points the frames are the identity).
struct SideFrames {
  UnitFrame moving, target;
};

// The points a feature's frame counts (a point, a line's ends, or the reference point a plane is
// matched by) from index m on; the new count.
int AddFramePoints(const RegFeature& f, double* x, double* y, double* z, int m) {
  auto add = [&](const double q[3]) { x[m] = q[0], y[m] = q[1], z[m] = q[2], ++m; };
  if (f.type == 0) {
    add(f.point);
  } else if (f.type >= 1 && f.type <= 3) {
    add(f.end1);
    add(f.end2);
  } else if (f.type == 4) {
    double foot[3];
    FootOnFeaturePlane(f, foot);
    add(foot);
  }
  return m;
}

bool FrameOfSide(const RegPair* pairs, bool moving, UnitFrame* frame) {
  int n = 0;
  for (const RegPair* p = pairs; p; p = p->next) n += 2;
  TrackingScope scope;
  double* xyz = MallocArray<double>(3, std::max(n, 1));
  if (!xyz || KernelFailed()) return false;
  double *x = xyz, *y = x + std::max(n, 1), *z = y + std::max(n, 1);
  int m = 0;
  for (const RegPair* p = pairs; p; p = p->next)
    if (const RegFeature* f = moving ? p->A : p->B) m = AddFramePoints(*f, x, y, z, m);
  *frame = UnitFrameOfPoints(x, y, z, m, false);
  return true;
}

bool SideFramesOf(const RegPair* pairs, SideFrames* frames) {
  if (!FrameOfSide(pairs, true, &frames->moving) || !FrameOfSide(pairs, false, &frames->target)) return false;
  frames->moving.size = frames->target.size = std::max(frames->moving.size, frames->target.size);
  return true;
}

// A feature's points and plane in the frame (directions keep their length and sense).
void FeatureToUnitFrame(RegFeature* f, const UnitFrame& frame) {
  PointToUnitFrame(frame, f->point, f->point);
  PointToUnitFrame(frame, f->end1, f->end1);
  PointToUnitFrame(frame, f->end2, f->end2);
  double* e = f->plane;
  e[3] = (e[0] * frame.centre[0] + e[1] * frame.centre[1] + e[2] * frame.centre[2] + e[3]) / frame.size;
}

// Points of a pair's frame within this fraction of their largest coordinate of each other are
// one point: a thousand times the round-off of a double.
constexpr double kCoincident = 1e-13;

// The frame one pair is matched in: about the centroid of both features' points (a point, a
// line's ends, a plane's reference point) and the constraint's centre and axis point where it
// turns about them, at the size of their box; directions have none of their own.
UnitFrame FrameOfPair(const RegFeature& A, const RegFeature& B, const RegConstraint& c) {
  double x[6], y[6], z[6];
  int m = AddFramePoints(B, x, y, z, AddFramePoints(A, x, y, z, 0));
  if (m > 0 && c.kind != 0 && c.centreFreedom != 3)
    for (const double* q : {c.point, c.axisPoint1}) x[m] = q[0], y[m] = q[1], z[m] = q[2], ++m;
  if (m == 0) return IdentityUnitFrame();
  // Points that coincide to the round-off of their coordinates give no size to measure by: the
  // matchers then judge lengths against the coordinates themselves, as without a frame.
  double extent = 0.0, reach = 0.0;
  for (int i = 0; i < m; ++i) {
    const double p[3] = {x[i], y[i], z[i]}, q[3] = {x[0], y[0], z[0]};
    extent = std::max(extent, VecDist3(p, q));
    for (double v : p) reach = std::max(reach, std::fabs(v));
  }
  if (!(extent > kCoincident * reach)) return IdentityUnitFrame();
  return UnitFrameOfPoints(x, y, z, m, false);
}

// axisPoint2 put along `offset` from axisPoint1, a step as long as the largest coordinate of
// axisPoint1 (at least 1), as the matchers and the readers expect it: a unit step away from
// coordinates of 1e10 would keep only a ten-billionth of the direction's digits, and one as
// short as an axis given by points a micrometre apart would keep a millionth of them beside
// coordinates of 1.
void AxisPoint2Along(RegConstraint* c, const double offset[3]) {
  const double len = VecSize3(offset);
  double step = 1.0;
  for (int k = 0; k < 3; ++k) step = std::max(step, std::fabs(c->axisPoint1[k]));
  for (int k = 0; k < 3; ++k) c->axisPoint2[k] = c->axisPoint1[k] + (len > 0.0 ? offset[k] / len * step : 0.0);
}

// A constraint's points and plane in the frame; axisPoint2 keeps its direction from axisPoint1
// (AxisPoint2Along), as MotionFromUnitFrames maps it back. A free centre has no point of its
// own: it goes to the frame's centre, where it takes no part in the matchers' length tests.
void ConstraintToUnitFrame(RegConstraint* c, const UnitFrame& frame) {
  double offset[3];
  for (int k = 0; k < 3; ++k) offset[k] = c->axisPoint2[k] - c->axisPoint1[k];
  if (c->centreFreedom == 3) {
    for (int k = 0; k < 3; ++k) c->point[k] = c->axisPoint1[k] = 0.0;
  } else {
    PointToUnitFrame(frame, c->point, c->point);
    PointToUnitFrame(frame, c->axisPoint1, c->axisPoint1);
  }
  AxisPoint2Along(c, offset);
  double* e = c->plane;
  e[3] = (e[0] * frame.centre[0] + e[1] * frame.centre[1] + e[2] * frame.centre[2] + e[3]) / frame.size;
}

// The motion found between the frames, p_target = R p_moving + t in their units, in the data's:
// R as it is, t = c_target + size t - R c_moving. The constraint's points and plane go back to
// the target's frame; axisPoint2 keeps its direction from axisPoint1.
bool MotionFromUnitFrames(const SideFrames& f, RegVec* motion, RegConstraint* c) {
  double turned[3];
  if (VecRotWquaternion(f.moving.centre, motion, turned) != 0) return false;
  for (int k = 0; k < 3; ++k) motion->t[k] = f.target.centre[k] + f.target.size * motion->t[k] - turned[k];
  double offset[3];
  for (int k = 0; k < 3; ++k) offset[k] = c->axisPoint2[k] - c->axisPoint1[k];
  PointFromUnitFrame(f.target, c->point, c->point);
  PointFromUnitFrame(f.target, c->axisPoint1, c->axisPoint1);
  AxisPoint2Along(c, offset);
  double* e = c->plane;
  e[3] = f.target.size * e[3] - (e[0] * f.target.centre[0] + e[1] * f.target.centre[1] + e[2] * f.target.centre[2]);
  return true;
}

}  // namespace

// Method: the pair is matched in the frame of its features (FrameOfPair) and the motion and the
// constraint left are mapped back, so that the matchers' length tests, relative to the
// coordinates in play, measure the features rather than their distance from the origin.
int ConstrainedRegFeaturePair(const RegPair* pair, RegConstraint constraint, RegConstraint* outConstraint,
                              RegVec* outMotion) {
  if (!outConstraint || !outMotion) return -2;
  SetIdentityQuaternion(outMotion);
  CopyRegConstraint(&constraint, outConstraint);
  if (!pair || !pair->A || !pair->B || pair->A->type != pair->B->type) return -2;
  // Coordinates that are not numbers would come back as a motion of NaN reported as matched.
  if (!FiniteFeature(*pair->A) || !FiniteFeature(*pair->B) || !FiniteConstraint(constraint)) return -2;
  const UnitFrame frame = FrameOfPair(*pair->A, *pair->B, constraint);
  RegFeature A = *pair->A, B = *pair->B;
  FeatureToUnitFrame(&A, frame);
  FeatureToUnitFrame(&B, frame);
  RegConstraint inFrame = constraint;
  ConstraintToUnitFrame(&inFrame, frame);
  const SideFrames both{frame, frame};
  // Finite data so extreme that the matcher's arithmetic overflowed is no match either.
  if (MatchByType(A, B, inFrame, outConstraint, outMotion) != 0 ||
      !MotionFromUnitFrames(both, outMotion, outConstraint) || !AllFinite(outMotion->q, 4) ||
      !AllFinite(outMotion->t, 3) || !FiniteConstraint(*outConstraint)) {
    SetIdentityQuaternion(outMotion);
    CopyRegConstraint(&constraint, outConstraint);
    return -2;
  }
  return 0;
}

// Method: the pairs are matched in the frames of SideFrames, each pair's moving feature first
// moved by the motion so far, and the composed motion and the constraint left are mapped back.
int DoStepByStepRegistration(const RegPair* pairs, int* outCount, RegVec* outMotion, Xform outMatrix,
                             RegConstraint* outConstraint) {
  if (!outCount || !outMotion || !outMatrix || !outConstraint) return -2;
  *outCount = 0;
  Get_imat(outMatrix);
  if (!pairs) return -2;
  SideFrames frames;
  if (!SideFramesOf(pairs, &frames)) return -2;
  Xform matrix;
  Get_imat(matrix);
  RegVec motion;
  SetIdentityQuaternion(&motion);
  RegConstraint constraint;
  SetNullRegConstraint(&constraint);
  int solved = 0;
  // A copy of each pair is moved, never the caller's; a fresh one each time, so point arrays a
  // copy took are never written over.
  Owned<RegPair, FreeFeaturePairList> scratch;
  for (const RegPair* pair = pairs; pair; pair = pair->next) {
    scratch.reset(AllocateNullRegPair());
    if (!scratch || CopyFeaturePair(pair, scratch.get()) != 0) return -2;
    scratch->next = nullptr;
    FeatureToUnitFrame(scratch->A, frames.moving);
    FeatureToUnitFrame(scratch->B, frames.target);
    if (XformRegFeature(scratch->A, matrix) != 0) return -2;
    RegConstraint left;
    RegVec step;
    Xform stepMatrix;
    if (ConstrainedRegFeaturePair(scratch.get(), constraint, &left, &step) != 0) return -2;
    if (MultiplyTwoRegVecs(&motion, &step, &motion) != 0 || RegVecToXfrmMat(&step, stepMatrix) != 0) return -2;
    Get_catmat(matrix, stepMatrix, matrix);
    constraint = left;
    ++solved;
  }
  if (!MotionFromUnitFrames(frames, &motion, &constraint) || RegVecToXfrmMat(&motion, matrix) != 0) return -2;
  Copymat(matrix, outMatrix);
  *outMotion = motion;
  *outCount = solved;
  *outConstraint = constraint;
  return 0;
}

namespace {

using matchkit::LengthTol;

void Unit3(int axis, double e[3]) {
  e[0] = e[1] = e[2] = 0.0;
  e[axis] = 1.0;
}

// The plane with a unit normal through the foot of p on it; false for a normal shorter than 1e-6.
bool PlaneThroughFoot(const double plane[4], const double p[3], double out[4], double foot[3]) {
  double n[3] = {plane[0], plane[1], plane[2]};
  const double len = VecSize3(n);
  if (len < matchkit::kDirEps) return false;
  for (int k = 0; k < 3; ++k) n[k] /= len;
  const double height = VecDotProd3(n, p) + plane[3] / len;
  for (int k = 0; k < 3; ++k) foot[k] = p[k] - height * n[k], out[k] = n[k];
  out[3] = -VecDotProd3(n, foot);
  return true;
}

// A line projected onto the plane (unit normal); false when what is left is no longer than tol.
bool LineOntoPlane(const double line[6], const double unitPlane[4], double out[6], double tol) {
  for (int e = 0; e < 2; ++e) {
    const double h = matchkit::Height(unitPlane, line + 3 * e);
    for (int k = 0; k < 3; ++k) out[3 * e + k] = line[3 * e + k] - h * unitPlane[k];
  }
  double d[3];
  VecDiff3(out + 3, out, d);
  return VecSize3(d) > tol;
}

// One scratch pair solved under the constraint; the pair is made and freed here.
int SolveScratchPair(RegPair* pair, const RegConstraint& constraint, RegVec* motion, RegConstraint* remaining) {
  Owned<RegPair, FreeFeaturePairList> owned(pair);
  if (!owned || KernelFailed()) return -2;
  return ConstrainedRegFeaturePair(owned.get(), constraint, remaining, motion);
}

}  // namespace

int Do321RegistrationAlignPlane(const double movingPlane[4], const double movingPoint[3],
                                const double targetPlane[4], const double targetPoint[3], RegVec* outMotion,
                                RegConstraint* outConstraint) {
  if (!movingPlane || !movingPoint || !targetPlane || !targetPoint || !outMotion || !outConstraint) return -2;
  double a[4], b[4], fa[3], fb[3];
  if (!PlaneThroughFoot(movingPlane, movingPoint, a, fa) || !PlaneThroughFoot(targetPlane, targetPoint, b, fb))
    return -2;
  RegPair* pair = nullptr;
  if (AddPlaneFeaturePair(&pair, a, b) != 0) return -2;
  pair->A->sourceKind = pair->B->sourceKind = 7;
  matchkit::Copy3(fa, pair->A->point);
  matchkit::Copy3(fb, pair->B->point);
  RegConstraint free;
  SetNullRegConstraint(&free);
  return SolveScratchPair(pair, free, outMotion, outConstraint);
}

int Do321RegistrationAlignLine(const double movingLine[6], const double targetLine[6], const double movingPlane[4],
                               const double targetPlane[4], RegVec* motionSoFar, RegConstraint constraint,
                               RegVec* outMotion, RegConstraint* outConstraint) {
  if (!movingLine || !targetLine || !movingPlane || !targetPlane || !motionSoFar || !outMotion || !outConstraint)
    return -2;
  double ma[4], ta[4], a[6], b[6];
  matchkit::UnitPlane(movingPlane, ma);
  matchkit::UnitPlane(targetPlane, ta);
  if (VecSize3(ma) == 0.0 || VecSize3(ta) == 0.0 ||
      !LineOntoPlane(movingLine, ma, a, LengthTol({movingLine, movingLine + 3})) ||
      !LineOntoPlane(targetLine, ta, b, LengthTol({targetLine, targetLine + 3})))
    return -2;
  Xform M;
  if (NormalizeQternion(motionSoFar->q) != 0 || RegVecToXfrmMat(motionSoFar, M) != 0) return -2;
  RegPair* pair = nullptr;
  if (AddLineFeaturePair(&pair, a, a + 3, b, b + 3) != 0) return -2;
  if (XformRegFeature(pair->A, M) != 0) {
    FreeFeaturePairList(pair);
    return -2;
  }
  RegVec motion;
  RegConstraint remaining;
  if (SolveScratchPair(pair, constraint, &motion, &remaining) != 0 || NormalizeQternion(motion.q) != 0) return -2;
  *outMotion = motion;
  *outConstraint = remaining;
  return 0;
}

int Do321RegistrationAlignPnt(const double movingPoint[3], const double targetPoint[3], const double[4],
                              RegVec* motionSoFar, RegConstraint constraint, RegVec* outMotion,
                              RegConstraint* outConstraint) {
  if (!movingPoint || !targetPoint || !motionSoFar || !outMotion || !outConstraint) return -2;
  *outConstraint = constraint;
  if (NormalizeQternion(motionSoFar->q) != 0) return -2;
  double moved[3], t[3], off[3];
  VecQterTrans3(movingPoint, motionSoFar, moved);
  if (VecSize3(constraint.transDir) < matchkit::kDirEps) return -2;
  VecNormalize3(constraint.transDir, t);
  VecDiff3(targetPoint, moved, off);
  const double s = VecDotProd3(t, off);
  *outMotion = RegVec{{1.0, 0.0, 0.0, 0.0}, {s * t[0], s * t[1], s * t[2]}};
  return 0;
}

int Do321RegistrationFirstFlip(RegConstraint constraint, RegVec* outMotion, RegConstraint* outConstraint) {
  if (!outMotion || !outConstraint || constraint.kind != 3) return -2;
  double A[3], v[3];
  if (VecSize3(constraint.axis) < matchkit::kDirEps) return -2;
  VecNormalize3(constraint.axis, A);
  matchkit::Perpendicular(A, v);
  RegVec flip;
  if (VecSize3(v) < matchkit::kDirEps || Rot180Qternion(constraint.point, v, &flip) != 0) return -2;
  RegConstraint turned = constraint;
  for (int k = 0; k < 3; ++k) {
    turned.axis[k] = -A[k];
    turned.axisPoint2[k] = turned.axisPoint1[k] - A[k];
  }
  for (double& c : turned.plane) c = -c;
  *outMotion = flip;
  *outConstraint = turned;
  return 0;
}

int Do321RegistrationSecondFlip(RegConstraint constraint, RegVec* outMotion, RegConstraint* outConstraint) {
  if (!outMotion || !outConstraint || constraint.kind != 1) return -2;
  double A[3], n[3], c[3];
  if (VecSize3(constraint.axis) < matchkit::kDirEps || VecSize3(constraint.plane) < matchkit::kDirEps) return -2;
  VecNormalize3(constraint.axis, A);
  VecNormalize3(constraint.plane, n);
  VecCrossProd3(A, n, c);
  RegVec flip;
  if (VecSize3(c) < matchkit::kDirEps || Rot180Qternion(constraint.point, A, &flip) != 0) return -2;
  *outMotion = flip;
  *outConstraint = constraint;
  return 0;
}

// Method: the plane stage lays P0 P1 P2's plane onto the target plane, leaving a turn about the
// target normal with turn-overs and a slide in it; the optional first flip turns the part over;
// the line stage turns and slides P3 P4 onto the target line, leaving a slide along it (or a half
// turn about it); the optional second flip reverses the part along the line; the point stage
// slides P5 along the line to the target point's foot. Each stage works on the features moved by
// the stages before.
int Do321Registration(int lastStage, const double movingPoints[6][3], const double targetPlane[4],
                      const double targetPlanePoint[3], const double targetLine[6], const double targetPoint[3],
                      int flipPlane, int flipLine, RegVec* planeMotion, RegVec* planeFlipMotion, RegVec* lineMotion,
                      RegVec* lineFlipMotion, RegVec* pointMotion) {
  RegVec* motions[5] = {planeMotion, planeFlipMotion, lineMotion, lineFlipMotion, pointMotion};
  for (RegVec* m : motions)
    if (!m) return -2;
  if (lastStage < 0 || lastStage > 2 || !movingPoints || !targetPlane || !targetPlanePoint || !targetLine ||
      !targetPoint)
    return -2;
  for (RegVec* m : motions) SetIdentityQuaternion(m);
  RegVec total;
  SetIdentityQuaternion(&total);
  const double *P0 = movingPoints[0], *P1 = movingPoints[1], *P2 = movingPoints[2];

  double target[4], F[3];
  if (!PlaneThroughFoot(targetPlane, targetPlanePoint, target, F)) return -2;
  double u[3], w[3], n[3], C[3], moving[4];
  VecDiff3(P1, P0, u);
  VecDiff3(P2, P0, w);
  const double tol = LengthTol({P0, P1, P2});
  if (VecSize3(u) <= tol || VecSize3(w) <= tol) return -2;
  VecNormalize3(u, u);
  VecNormalize3(w, w);
  VecCrossProd3(u, w, n);
  if (VecSize3(n) < matchkit::kDirEps) return -2;
  VecNormalize3(n, n);
  for (int k = 0; k < 3; ++k) C[k] = (P0[k] + P1[k] + P2[k]) * 0.3333333333333333;
  for (int k = 0; k < 3; ++k) moving[k] = n[k];
  moving[3] = -VecDotProd3(n, C);

  RegConstraint K;
  RegVec step;
  if (Do321RegistrationAlignPlane(moving, C, target, F, &step, &K) != 0) return -2;
  *planeMotion = total = step;
  // total := step after total, as each later stage finishes.
  const auto then = [&total](const RegVec& next) {
    RegVec composed;
    if (MultiplyTwoRegVecs(&total, &next, &composed) != 0) return false;
    total = composed;
    return true;
  };
  if (flipPlane) {
    if (Do321RegistrationFirstFlip(K, &step, &K) != 0 || !then(step)) return -2;
    *planeFlipMotion = step;
  }
  if (lastStage < 1) return 0;
  const double line[6] = {movingPoints[3][0], movingPoints[3][1], movingPoints[3][2],
                          movingPoints[4][0], movingPoints[4][1], movingPoints[4][2]};
  if (Do321RegistrationAlignLine(line, targetLine, moving, target, &total, K, &step, &K) != 0 || !then(step))
    return -2;
  *lineMotion = step;
  if (flipLine) {
    if (Do321RegistrationSecondFlip(K, &step, &K) != 0 || !then(step)) return -2;
    *lineFlipMotion = step;
  }
  if (lastStage < 2) return 0;
  if (Do321RegistrationAlignPnt(movingPoints[5], targetPoint, target, &total, K, &step, &K) != 0) return -2;
  *pointMotion = step;
  return 0;
}

int Do321PntSetRegFirstStep(const double movingPoints[][3], const double targetPoints[][3], int n,
                            RegVec* outMotion) {
  if (!movingPoints || !targetPoints || !outMotion || n < 3) return -2;
  TrackingScope scope;
  float* F = MallocArray<float>(6, n);
  if (!F || KernelFailed()) return -2;
  float *ax = F, *ay = F + n, *az = F + 2 * n, *bx = F + 3 * n, *by = F + 4 * n, *bz = F + 5 * n;
  for (int i = 0; i < n; ++i) {
    ax[i] = static_cast<float>(movingPoints[i][0]), ay[i] = static_cast<float>(movingPoints[i][1]);
    az[i] = static_cast<float>(movingPoints[i][2]), bx[i] = static_cast<float>(targetPoints[i][0]);
    by[i] = static_cast<float>(targetPoints[i][1]), bz[i] = static_cast<float>(targetPoints[i][2]);
  }
  RegVec m;
  double residual;
  if (RegisterCorPntSets(ax, ay, az, n, bx, by, bz, &m, &residual) != 0) return -2;
  double ca[3], cb[3], rc[3];
  ComputeCenterOfMass(ax, ay, az, n, ca);
  ComputeCenterOfMass(bx, by, bz, n, cb);
  m.t[0] = m.t[1] = m.t[2] = 0.0;
  VecTrans3WithQternion(ca, &m, rc);
  VecDiff3(cb, rc, m.t);
  if (NormalizeQternion(m.q) != 0) return -2;
  *outMotion = m;
  return 0;
}

int Do321PntSetRegSndStep(const double movingPoints[][3], const double targetPoints[][3], int n, int p, int s,
                          const double Q[3], RegVec* outMotion) {
  if (!movingPoints || !targetPoints || !Q || !outMotion || n < 2 || p < 0 || p > 2 || s < 0 || s > 2) return -2;
  double ep[3], es[3], w[3];
  Unit3(p, ep);
  Unit3(s, es);
  VecCrossProd3(ep, es, w);
  if (VecSize3(w) < matchkit::kDirEps) return -2;
  // The first two points of each side on the plane through Q normal to the primary axis.
  double a1[3], a2[3], b1[3], b2[3];
  matchkit::FootOnPlane(movingPoints[0], Q, ep, a1);
  matchkit::FootOnPlane(movingPoints[1], Q, ep, a2);
  matchkit::FootOnPlane(targetPoints[0], Q, ep, b1);
  matchkit::FootOnPlane(targetPoints[1], Q, ep, b2);
  double dA[3], dB[3], mA[3], mB[3], shift[3];
  VecDiff3(a2, a1, dA);
  VecDiff3(b2, b1, dB);
  LineMidPoint(a1, a2, mA);
  LineMidPoint(b1, b2, mB);
  VecDiff3(mB, mA, shift);
  const double tol = LengthTol({movingPoints[0], movingPoints[1], targetPoints[0], targetPoints[1], Q});
  RegVec stage;
  if (VecSize3(dA) <= tol) {
    stage = RegVec{{1.0, 0.0, 0.0, 0.0}, {shift[0], shift[1], shift[2]}};
  } else if (VecSize3(dB) <= tol) {
    AlignTwoVecsClosestByAxisRot(dA, w, mA, ep, &stage);
    for (int k = 0; k < 3; ++k) stage.t[k] += shift[k];
  } else {
    RegVec R1, R2;
    AlignTwoVecsClosestByAxisRot(dA, dB, mA, ep, &R1);
    for (int k = 0; k < 3; ++k) R1.t[k] += shift[k];
    double ma2[3], mmA[3], T[3], u[3], v[3];
    VecQterTrans3(a2, &R1, ma2);
    VecQterTrans3(mA, &R1, mmA);
    matchkit::Copy3(ma2, T);
    T[s] = b2[s];
    VecDiff3(T, mmA, u);
    VecDiff3(ma2, mmA, v);
    if (VecSize3(u) <= tol) return -2;
    AlignTwoVecsClosestByAxisRot(v, u, mmA, ep, &R2);
    if (MultiplyTwoRegVecs(&R1, &R2, &stage) != 0) return -2;
  }
  if (NormalizeQternion(stage.q) != 0) return -2;
  *outMotion = stage;
  return 0;
}

int Do321PntSetReg(const double movingPoints[][3], const double targetPoints[][3], const int counts[3],
                   const int indices[3], RegVec* outMotion) {
  if (!movingPoints || !targetPoints || !counts || !indices || !outMotion) return -2;
  if (counts[0] < 3 || counts[1] < 2 || counts[2] < 1) return -2;
  for (int g = 0; g < 3; ++g)
    if (indices[g] < 0 || indices[g] > 2) return -2;
  const int p = indices[0], s = indices[1], t = indices[2];
  const int n1 = counts[0], n2 = counts[1], n3 = counts[2];
  double Q[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < n1; ++i)
    for (int k = 0; k < 3; ++k) Q[k] += targetPoints[i][k] / n1;

  RegVec total;
  if (Do321PntSetRegFirstStep(movingPoints, targetPoints, n1, &total) != 0) return -2;

  TrackingScope scope;
  double(*moved)[3] = static_cast<double(*)[3]>(static_cast<void*>(MallocArray<double>(3, n2 + n3)));
  if (!moved || KernelFailed()) return -2;
  for (int i = 0; i < n2; ++i) VecTrans3WithQternion(movingPoints[n1 + i], &total, moved[i]);
  RegVec stage, composed;
  if (Do321PntSetRegSndStep(moved, targetPoints + n1, n2, p, s, Q, &stage) != 0 ||
      MultiplyTwoRegVecs(&total, &stage, &composed) != 0)
    return -2;
  total = composed;

  // The tertiary points fix the slide along their coordinate.
  double slide = 0.0;
  for (int i = 0; i < n3; ++i) {
    VecTrans3WithQternion(movingPoints[n1 + n2 + i], &total, moved[i]);
    slide += (targetPoints[n1 + n2 + i][t] - moved[i][t]) / n3;
  }
  total.t[t] += slide;
  *outMotion = total;
  return 0;
}

int New321PntSetReg(const double movingPoints[][3], const double targetPoints[][3], int n, const int* coordIndex,
                    double, RegVec* outMotion) {
  if (!movingPoints || !targetPoints || !coordIndex || !outMotion || n < 6) return -2;
  // Group sizes over all n indices (they used to come from the first six only, while all n
  // points were regrouped), and where each index first appears.
  int count[3] = {0, 0, 0}, first[3] = {n, n, n};
  for (int i = 0; i < n; ++i) {
    const int c = coordIndex[i];
    if (c < 0 || c > 2) return -2;
    if (count[c]++ == 0) first[c] = i;
  }
  int order[3] = {0, 1, 2};
  for (int a = 0; a < 3; ++a)
    for (int b = a + 1; b < 3; ++b) {
      const int x = order[a], y = order[b];
      if (count[y] > count[x] || (count[y] == count[x] && first[y] < first[x])) std::swap(order[a], order[b]);
    }
  const int counts[3] = {count[order[0]], count[order[1]], count[order[2]]};
  if (counts[0] < 3 || counts[1] < 2 || counts[2] < 1) return -2;

  TrackingScope scope;
  double* block = MallocArray<double>(6, n);
  if (!block || KernelFailed()) return -2;
  double(*A)[3] = static_cast<double(*)[3]>(static_cast<void*>(block));
  double(*B)[3] = static_cast<double(*)[3]>(static_cast<void*>(block + 3 * n));
  int placed = 0;
  for (int g = 0; g < 3; ++g)
    for (int i = 0; i < n; ++i) {
      if (coordIndex[i] != order[g]) continue;
      matchkit::Copy3(movingPoints[i], A[placed]);
      matchkit::Copy3(targetPoints[i], B[placed]);
      ++placed;
    }
  if (placed != n) return -2;
  RegVec m;
  if (Do321PntSetReg(A, B, counts, order, &m) != 0) return -2;
  *outMotion = m;
  return 0;
}
