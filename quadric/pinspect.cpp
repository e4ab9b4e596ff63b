#include "quadric/pinspect.h"

#include <algorithm>
#include <cmath>

#include "cloud/princip.h"
#include "cloud/psubdiv.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "quadric/cylinder.h"
#include "quadric/qcircle.h"
#include "quadric/sphere.h"

namespace {

// The frame of a direction: a pure rotation taking it onto +z.
void DirectionFrame(const double dir[3], Xform frame) {
  static const double kOrigin[3] = {0.0, 0.0, 0.0};
  const double tip[3] = {10.0 * dir[0], 10.0 * dir[1], 10.0 * dir[2]};
  TransformToZAxis(kOrigin, tip, frame);
}

// In-frame u, v of every point (in the caller's scope) and the range of the in-frame z.
bool InFrame(const Cloud* c, const Xform frame, float** u, float** v, double* zMin, double* zMax) {
  const int n = c->npts;
  *u = MallocArray<float>(n);
  *v = MallocArray<float>(n);
  if (!*u || !*v || KernelFailed()) return false;
  double lo = kEmptyBoxBound, hi = -kEmptyBoxBound;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {c->x[i], c->y[i], c->z[i]};
    double q[3];
    VecTrans3(p, frame, q);
    (*u)[i] = static_cast<float>(q[0]);
    (*v)[i] = static_cast<float>(q[1]);
    if (q[2] < lo) lo = q[2];
    if (q[2] > hi) hi = q[2];
  }
  if (zMin) *zMin = lo;
  if (zMax) *zMax = hi;
  return true;
}

// Distance of (u, v) from a centre, the square in single precision as the zone tests use it.
double FloatDistance(float u, float v, const double c[2]) {
  const float cu = static_cast<float>(c[0]), cv = static_cast<float>(c[1]);
  const float du = u - cu, dv = v - cv;
  return std::sqrt(static_cast<double>(du * du + dv * dv));
}

// The narrowest annulus holding the points: the better of the minimum-zone circles' two
// candidates, then the least-squares circle's when narrower. False when no enclosing circle
// could be formed.
bool NarrowestAnnulus(const float* u, const float* v, int n, double centre[2], double* inner, double* outer) {
  double c1[2], r1, c2[2], r2;
  if (!MakeExtremeCircles(u, v, n, c1, &r1, c2, &r2)) {
    if (!MakeOuterCircle(u, v, n, c2, &r2) && FitFakeOuterCircle(u, v, n, c2, &r2) != 0) return false;
    c1[0] = c2[0], c1[1] = c2[1], r1 = 0.0;
  }
  double R = 0.0, m = kEmptyBoxBound;
  for (int i = 0; i < n; ++i) {
    R = std::max(R, FloatDistance(u[i], v[i], c1));
    m = std::min(m, FloatDistance(u[i], v[i], c2));
  }
  const double wA = R - r1, wB = r2 - m;
  if (wB <= wA) {
    centre[0] = c2[0], centre[1] = c2[1], *inner = m, *outer = r2;
  } else {
    centre[0] = c1[0], centre[1] = c1[1], *inner = r1, *outer = r1 + wA;
  }
  double c3[3], r3, err;
  if (NewFitCircle(u, v, n, c3, &r3, &err) == 0) {
    double lo = r3, hi = r3;
    for (int i = 0; i < n; ++i) {
      const double d = FloatDistance(u[i], v[i], c3);
      lo = std::min(lo, d);
      hi = std::max(hi, d);
    }
    if (hi - lo < *outer - *inner) centre[0] = c3[0], centre[1] = c3[1], *inner = lo, *outer = hi;
  }
  return true;
}

// The best plane's frame and the plane's height in it. False when the plane fit fails.
bool PlaneFrame(const Cloud* c, Xform frame, double* level) {
  PlaneEq plane;
  if (!PlaneFit(c->x, c->y, c->z, c->npts, plane)) return false;
  DirectionFrame(plane, frame);
  if (level) {
    double p[3], q[3];
    GetArbitPointOnPlane(plane, p);
    VecTrans3(p, frame, q);
    *level = q[2];
  }
  return true;
}

}  // namespace

void GetArbitPointOnPlane(const PlaneEq plane, double point[3]) {
  const double a = plane[0], b = plane[1], c = plane[2], d = plane[3];
  point[0] = point[1] = point[2] = 0.0;
  if (std::fabs(a) >= std::fabs(b) && std::fabs(c) <= std::fabs(a))
    point[0] = -d / a;
  else if (std::fabs(c) > std::fabs(b))
    point[2] = -d / c;
  else
    point[1] = -d / b;
}

double StraightnessRadius(const Cloud* cloud, double centre[2], Xform frame, double* length) {
  if (!cloud) return -1.0;
  double s[3], e[3];
  if (cloud->npts < 2 || FitALine(cloud, s, e) != 0) return 0.0;
  const double d[3] = {e[0] - s[0], e[1] - s[1], e[2] - s[2]};
  if (std::fabs(d[0]) < 1e-10 && std::fabs(d[1]) < 1e-10 && std::fabs(d[2]) < 1e-10) return 0.0;
  TransformToZAxis(s, e, frame);
  *length = VecSize3(d);
  TrackingScope scope;
  float *u, *v;
  if (!InFrame(cloud, frame, &u, &v, nullptr, nullptr)) return -1.0;
  float largest = 0.0f;
  for (int i = 0; i < cloud->npts; ++i) largest = std::max(largest, u[i] * u[i] + v[i] * v[i]);
  // Points within round-off of the line (relative to its length, so that the test holds at every
  // scale) are all on it.
  constexpr double kOnLine = 1e-12;
  if (largest <= kOnLine * *length * *length) return 0.0;
  double r;
  if (!MakeOuterCircle(u, v, cloud->npts, centre, &r)) return -1.0;
  return r;
}

double FlatnessDist(const Cloud* cloud, Xform frame, Bbox box) {
  if (!cloud) return -1.0;
  if (cloud->npts < 3) return 0.0;
  if (!PlaneFrame(cloud, frame, nullptr)) return 0.0;
  for (int k = 0; k < 3; ++k) box[k] = kEmptyBoxBound, box[3 + k] = -kEmptyBoxBound;
  for (int i = 0; i < cloud->npts; ++i) {
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    double q[3];
    VecTrans3(p, frame, q);
    for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], q[k]), box[3 + k] = std::max(box[3 + k], q[k]);
  }
  return box[5] - box[2];
}

double CircularityDist(const Cloud* cloud, Xform frame, double centre[2], double* innerRadius, double* outerRadius,
                       double* level) {
  if (!cloud || cloud->npts < 3) return -1.0;
  if (cloud->npts == 3) return 0.0;
  if (!PlaneFrame(cloud, frame, level)) return -1.0;
  TrackingScope scope;
  float *u, *v;
  if (!InFrame(cloud, frame, &u, &v, nullptr, nullptr)) return -1.0;
  if (!NarrowestAnnulus(u, v, cloud->npts, centre, innerRadius, outerRadius) || KernelFailed()) return -1.0;
  return *outerRadius - *innerRadius;
}

double CylindricityDist(const Cloud* cloud, Xform frame, double centre[2], double* innerRadius,
                        double* outerRadius, double* zMin, double* zMax) {
  if (!cloud || cloud->npts < 10) return -1.0;
  double P[3], A[3], r, e;
  if (FitCylinder(cloud->x, cloud->y, cloud->z, cloud->npts, P, A, &r, &e) != 0) return -1.0;
  DirectionFrame(A, frame);
  TrackingScope scope;
  float *u, *v;
  if (!InFrame(cloud, frame, &u, &v, zMin, zMax)) return -1.0;
  if (!NarrowestAnnulus(u, v, cloud->npts, centre, innerRadius, outerRadius) || KernelFailed()) return -1.0;
  return *outerRadius - *innerRadius;
}

double PointRadCurva(const Cloud* cloud, int index, double r, double centre[3]) {
  // An index outside the cloud names no point to measure at.
  if (!cloud || index < 0 || index >= cloud->npts) return -1.0;
  const int n = cloud->npts;
  TrackingScope scope;
  float* x = MallocArray<float>(n);
  float* y = MallocArray<float>(n);
  float* z = MallocArray<float>(n);
  if (!x || !y || !z || KernelFailed()) return -1.0;
  const float px = cloud->x[index], py = cloud->y[index], pz = cloud->z[index];
  const float r2 = static_cast<float>(r * r);
  int m = 0;
  x[m] = px, y[m] = py, z[m] = pz, ++m;
  for (int i = 0; i < n; ++i) {
    if (i == index) continue;
    const float dx = cloud->x[i] - px, dy = cloud->y[i] - py, dz = cloud->z[i] - pz;
    if (dx * dx + dy * dy + dz * dz > r2) continue;
    x[m] = cloud->x[i], y[m] = cloud->y[i], z[m] = cloud->z[i], ++m;
  }
  if (m < 4) return -1.0;
  double c[3], radius, error;
  if (FitSphere(x, y, z, m, c, &radius, &error) != 0) return -1.0;
  for (int k = 0; k < 3; ++k) centre[k] = c[k];
  return radius;
}

double ConcentricityDist2(const Cloud* cloud, Xform frame, double centre[2], double* radius, double* level,
                          const double reference[3]) {
  if (!cloud || cloud->npts < 3) return -1.0;
  if (!PlaneFrame(cloud, frame, level)) return -1.0;
  TrackingScope scope;
  float *u, *v;
  if (!InFrame(cloud, frame, &u, &v, nullptr, nullptr)) return -1.0;
  double c[3], r, error;
  if (NewFitCircle(u, v, cloud->npts, c, &r, &error) != 0) {
    InfoMessageFormat("%s", MSGstr("Cannot fit to this data."));
    return -1.0;
  }
  centre[0] = c[0], centre[1] = c[1];
  *radius = r;
  Xform inverse;
  if (mat_inverse4(frame, inverse) != 0) return -1.0;
  const double local[3] = {c[0], c[1], *level};
  double C[3];
  VecTrans3(local, inverse, C);
  const double d[3] = {reference[0] - C[0], reference[1] - C[1], reference[2] - C[2]};
  return VecSize3(d);
}

double CoaxialityDist2(const Cloud* cloud, Xform frame, double axisFoot[3], double* radius, double* zMin,
                       double* zMax, const double linePoint[3], const double lineDir[3]) {
  if (!cloud || cloud->npts < 6) return -1.0;
  double P[3], A[3], r, e;
  if (FitCylinder(cloud->x, cloud->y, cloud->z, cloud->npts, P, A, &r, &e) != 0) return -1.0;
  *radius = r;
  if (A[0] * A[0] + A[1] * A[1] + A[2] * A[2] < 1e-20) return -1.0;
  DirectionFrame(A, frame);
  double lo = kEmptyBoxBound, hi = -kEmptyBoxBound;
  for (int i = 0; i < cloud->npts; ++i) {
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    double q[3];
    VecTrans3(p, frame, q);
    if (q[2] < lo) lo = q[2];
    if (q[2] > hi) hi = q[2];
  }
  *zMin = lo;
  *zMax = hi;
  double Ap[3];
  VecTrans3(P, frame, Ap);
  axisFoot[0] = Ap[0], axisFoot[1] = Ap[1], axisFoot[2] = lo;
  Xform inverse;
  if (mat_inverse4(frame, inverse) != 0) return -1.0;
  const double e0[3] = {Ap[0], Ap[1], lo}, e1[3] = {Ap[0], Ap[1], hi};
  double E0[3], E1[3], foot[3];
  VecTrans3(e0, inverse, E0);
  VecTrans3(e1, inverse, E1);
  const double d0 = LinePointMinDistSq(linePoint, lineDir, E0, foot);
  const double d1 = LinePointMinDistSq(linePoint, lineDir, E1, foot);
  return std::sqrt(std::max(d0, d1));
}

int CloudCloudDiffIndex(const Cloud* a, const Cloud* b, double r, int* index, int* hits, const Bbox box) {
  if (!a || !b) return -1;
  const int na = a->npts;
  if (na < 1 || std::isnan(r)) return -2;
  DisplayThermoMeter();
  TrackingScope scope;
  Subdiv* grid = SubdivideArrays(a->x, a->y, a->z, na, box[0], box[1], box[2], box[3], box[4], box[5], r,
                                 std::min(na / 30, 64));
  // A point of b whose cell is crowded (a few points of a far beyond the rest put all others in
  // one) finds its nearest in a balanced tree instead of measuring all the cell holds.
  NearTree* tree = nullptr;
  const int ncells = grid ? grid->ncellsX * grid->ncellsY * grid->ncellsZ : 0;
  for (int c = 0; c < ncells && !tree; ++c)
    if (grid->cells[c].count > kCrowdedCells && !(tree = BuildNearTree(a->x, a->y, a->z, na))) break;
  if (!grid || KernelFailed()) {
    FreeSubdiv(grid);
    FreeNearTree(tree);
    UnDisplayThermoMeter();
    return -2;
  }
  SetThermoMeterValue(5);
  // Cells of an axis of no extent are one cell wide; the floor keeps the division finite.
  const double size[3] = {std::max(grid->sizeX, 1e-10), std::max(grid->sizeY, 1e-10), std::max(grid->sizeZ, 1e-10)};
  const double lo[3] = {grid->minX, grid->minY, grid->minZ};
  const int cells[3] = {grid->ncellsX, grid->ncellsY, grid->ncellsZ};
  const double r2 = r * r;
  const int step = 5 * (na / 100);
  int threshold = step, value = 5, found = 0;
  for (int k = 0; k < b->npts; ++k) {
    if (k > threshold) {
      // Fewer than 100 points in a make the step 0: the progress then stops at full.
      value = std::min(value + 5, 100);
      SetThermoMeterValue(value);
      threshold += step;
    }
    if (k % 500 == 0 && user_break()) {
      UnDisplayThermoMeter();
      FreeSubdiv(grid);
      FreeNearTree(tree);
      return -1;
    }
    const double p[3] = {b->x[k], b->y[k], b->z[k]};
    int ic[3];
    for (int c = 0; c < 3; ++c) {
      const double t = std::floor((p[c] - lo[c]) / size[c]);
      ic[c] = !(t > 0.0) ? 0 : (t >= cells[c] - 1 ? cells[c] - 1 : static_cast<int>(t));
    }
    const SubdivCell& cell = grid->cells[ic[0] + ic[1] * cells[0] + ic[2] * cells[0] * cells[1]];
    int best = -1;
    double bestD2 = kEmptyBoxBound;
    if (cell.count > kCrowdedCells) {
      // The nearest within r, of equal ones the first in a's order, as the cell lists them.
      if (std::isfinite(p[0] + p[1] + p[2]))
        SearchNearTree(*tree, p, [&] { return std::min(bestD2, r2); }, [&](int i, double) {
          const double dx = a->x[i] - p[0], dy = a->y[i] - p[1], dz = a->z[i] - p[2];
          const double d2 = dx * dx + dy * dy + dz * dz;
          if (d2 < bestD2 || (d2 == bestD2 && i < best)) bestD2 = d2, best = i;
        });
    } else {
      for (int j = 0; j < cell.count; ++j) {
        const int i = cell.items[j];
        if (i < 0 || i >= na) continue;
        const double dx = a->x[i] - p[0], dy = a->y[i] - p[1], dz = a->z[i] - p[2];
        const double d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < bestD2) bestD2 = d2, best = i;
      }
    }
    index[k] = best >= 0 && bestD2 < r2 ? best : -1;
    if (index[k] >= 0) ++found;
  }
  *hits = found;
  UnDisplayThermoMeter();
  FreeSubdiv(grid);
  FreeNearTree(tree);
  return 0;
}
