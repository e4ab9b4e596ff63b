// The bad-input driver over the lower floors: foundation, bspline, cloud, registration.
#include <algorithm>
#include <array>

#include "bspline/cclone.h"
#include "bspline/ctrlnubs.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "cloud/poffset.h"
#include "cloud/premove.h"
#include "cloud/princip.h"
#include "cloud/psort.h"
#include "cloud/putil.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/integral.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "registration/icp.h"
#include "registration/kdtree.h"
#include "tests/torture/driver.h"

namespace torture {
namespace {

using LowerFloors = Driver;

TEST_F(LowerFloors, FoundationAndBsplineEntryPoints) {
  std::vector<Entry> entries = {
      {"PlaneFit",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 40);
         const Points before = p;
         double plane[4] = {7, 7, 7, 7};
         const int r = PlaneFit(p.fx.data(), p.fy.data(), p.fz.data(), p.n, plane);
         Check(c, r == 1, AllFiniteD(plane, 4), r == 0 && plane[0] == 7, p == before);
       }},
      {"SolveLinearSystem_ff",
       [this](Call& c) {
         const int n = c.I(1, 6);
         double** A = allocate_matrix_ff(n, n);
         std::vector<double> b(n), x(n, 5.0);
         for (int i = 0; i < n; ++i) {
           b[i] = c.Scalar(c.U(-1, 1));
           for (int j = 0; j < n; ++j) A[i][j] = (i == j ? 2.0 : 0.0) + c.U(-0.4, 0.4);
         }
         if (c.Spend(0.5)) A[c.I(0, n - 1)][c.I(0, n - 1)] = c.Chance(0.5) ? kNaN : 1e308;
         if (c.Spend(0.3))
           for (int j = 0; j < n; ++j) A[n - 1][j] = A[0][j];  // singular
         std::vector<double> a0(A[0], A[0] + n * n);
         const std::vector<double> b0 = b;
         const int r = SolveLinearSystem_ff(A, n, b.data(), x.data());
         const bool same = std::memcmp(a0.data(), A[0], n * n * sizeof(double)) == 0 &&
                           std::memcmp(b0.data(), b.data(), n * sizeof(double)) == 0;
         Check(c, r == 0, AllFiniteD(x.data(), n), r == -2, same);
         matrix_free_ff(A);
       }},
      {"ComputeGaussLegendreCoefi",
       [this](Call& c) {
         // The node count sizes the caller's arrays: a bad one is zero or negative.
         const int n = c.Spend(0.3) ? (c.Chance(0.5) ? 0 : -5) : c.I(1, 12);
         const int room = std::max(n, 1);
         std::vector<double> x(room, 3.0), w(room, 3.0);
         const double a = c.Scalar(c.U(-2, 0)), b = c.Scalar(c.U(0.5, 3));
         const int r = ComputeGaussLegendreCoefi(a, b, n, x.data(), w.data());
         Check(c, r == 0, AllFiniteD(x.data(), room) && AllFiniteD(w.data(), room), r == -2, true);
       }},
      {"MallocCurveBspline",
       [this](Call& c) {
         Records keep;
         const int p = c.Degree(c.I(1, 3)), n = c.Count(c.I(4, 9));
         Bspline* b = keep.Keep(MallocCurveBspline(c.Chance(0.8) ? 3 : 2, p, n));
         Check(c, b != nullptr, !b || (NumCtrlU(b) == n && b->degreeU == p), KernelFailed(), true);
       }},
      {"PointCurve",
       [this](Call& c) {
         Records keep;
         Points p = MakePoints(c, 1, 1);
         Bspline* b = keep.Keep(PointCurve(p.x.data(), p.y.data(), c.Chance(0.8) ? p.z.data() : nullptr,
                                           c.Degree(c.I(0, 3))));
         Check(c, b != nullptr, !b || BsplineSound(b), KernelFailed(), true);
       }},
      {"EvalPointOnGeometryM",
       [this](Call& c) {
         Records keep;
         Record& r = c.Chance(0.5) ? MakeCurve(c, keep) : MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         const int du[3] = {0, 1, c.Chance(0.8) ? 2 : 3}, dv[3] = {1, 0, c.Chance(0.9) ? 2 : -1};
         double out[3][3];
         for (auto& row : out) row[0] = row[1] = row[2] = 42.0;
         const double lo = r.b->umin, hi = r.b->umax;
         const double u = c.Scalar(lo + (hi - lo) * c.U(0, 1)), v = c.U(r.b->vmin, r.b->vmax);
         const int s = EvalPointOnGeometryM(r.b, u, v, du, dv, 3, 0, out);
         bool untouched = true;
         for (auto& row : out) untouched = untouched && row[0] == 42.0 && row[1] == 42.0 && row[2] == 42.0;
         Check(c, s == 0, AllFiniteD(out[0], 9), s == -2 && untouched, RecordImage(r) == before);
       }},
      {"Eval3DGridOnBsplArray",
       [this](Call& c) {
         Records keep;
         Record& r = c.Chance(0.4) ? MakeCurve(c, keep) : MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         const int nu = c.I(1, 5), nv = c.I(1, 4);
         std::vector<double> us(nu), vs(nv), x(nu * nv), y(nu * nv), z(nu * nv);
         for (double& t : us) t = c.Scalar(r.b->umin + (r.b->umax - r.b->umin) * c.U(0, 1));
         for (double& t : vs) t = r.b->vmin + (r.b->vmax - r.b->vmin) * c.U(0, 1);
         const int s = Eval3DGridOnBsplArray(r.b, us.data(), nu, vs.data(), nv, x.data(), y.data(), z.data());
         const bool finite = AllFiniteD(x.data(), nu * nv) && AllFiniteD(y.data(), nu * nv) &&
                             (r.b->dimension == 2 || AllFiniteD(z.data(), nu * nv));
         Check(c, s == 0 && !KernelFailed(), finite, s == -2, RecordImage(r) == before);
       }},
      {"ElevateDegreeOfObjSet",
       [this](Call& c) {
         Records keep;
         Record& r = c.Chance(0.6) ? MakeCurve(c, keep) : MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         int dir = r.b->kind == 2 ? c.I(0, 1) : 0;
         Bspline* objs[1] = {r.b};
         ElevateDegreeOfObjSet(c.Degree(c.I(2, 9)), &dir, objs, 1);
         const bool ok = !KernelFailed();
         // Nothing to raise is a success that leaves the record as it was.
         Check(c, ok, RecordImage(r) == before || BsplineSound(r.b), true, RecordImage(r) == before);
       }},
      {"InsertNKnotsToObject",
       [this](Call& c) {
         Records keep;
         Record& r = c.Chance(0.6) ? MakeCurve(c, keep) : MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         const int dir = r.b->kind == 2 ? c.I(0, 1) : 0;
         const double lo = dir ? r.b->vmin : r.b->umin, hi = dir ? r.b->vmax : r.b->umax;
         std::vector<double> values(c.I(1, 5));
         for (double& t : values) t = c.Scalar(lo + (hi - lo) * c.U(0.05, 0.95));
         std::sort(values.begin(), values.end());
         InsertNKnotsToObject(c.Chance(0.8) ? 1 : 2, int(values.size()), dir, r.b, c.I(0, 2), values.data());
         const bool ok = !KernelFailed();
         Check(c, ok, RecordImage(r) == before || BsplineSound(r.b), true, RecordImage(r) == before);
       }},
      {"RemoveKnotsOfObjSet",
       [this](Call& c) {
         Records keep;
         Record& r = c.Chance(0.6) ? MakeCurve(c, keep, 3, 3, c.I(5, 9)) : MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         // Read through the counts as made: a defect may have made them lie.
         const int dir = r.saved[0] == 2 ? c.I(0, 1) : 0, degree = r.saved[dir ? 4 : 2];
         const int interior = r.saved[dir ? 5 : 3];
         const double* k = dir ? r.b->knotsV : r.b->knotsU ? r.b->knotsU : r.savedKnots;
         const int mode = c.I(2, 4);
         // Mode 2 removes listed interior knots (one of them twice at most); 3 and 4 choose.
         std::vector<double> values;
         if (mode == 2 && interior > 0) {
           values.assign(c.I(1, 2), k[degree + 1 + c.I(0, interior - 1)]);
           values.back() = c.Scalar(values.back());
         }
         double dev = 0.0;
         Bspline* objs[1] = {r.b};
         const double tol = c.Scalar(Scale(r) * std::pow(10.0, c.U(-3.0, 0.0)));
         const int removed = RemoveKnotsOfObjSet(objs, 1, dir, mode, values.empty() ? nullptr : values.data(),
                                                 int(values.size()), c.I(0, 2), tol, &dev);
         // 0 is "nothing removed" and every failure alike: the record must then be as it was.
         const bool ok = removed > 0 && !KernelFailed();
         // A forced removal (modes 2 and 4) may leave weights of a rational record at or below
         // zero, as documented; the values must still be finite.
         auto finite = [&] {
           const Bspline* b = r.b;
           if (BsplineSound(b) || !b->rational || mode == 3 || !BsplineShapeSound(b)) return BsplineSound(b);
           const int n = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
           return AllFiniteD(b->X[0], n) && AllFiniteD(b->Y[0], n) && (!b->Z || AllFiniteD(b->Z[0], n)) &&
                  AllFiniteD(b->W[0], n);
         };
         Check(c, ok, finite() && std::isfinite(dev), removed == 0 || KernelFailed(), Unchanged(r, before));
       }},
      {"IncrementDegreeOfObject",
       [this](Call& c) {
         Records keep;
         Record& r = c.Chance(0.6) ? MakeCurve(c, keep) : MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         IncrementDegreeOfObject(r.b->kind == 2 ? c.I(0, 1) : 0, r.b);
         const bool ok = !KernelFailed();
         Check(c, ok, BsplineSound(r.b), true, RecordImage(r) == before);
       }},
      {"Eval3DPointOnCurve3Array",
       [this](Call& c) {
         Records keep;
         Record& r = MakeCurve(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         double out[3] = {42, 42, 42};
         const double t = c.Scalar(r.b->umin + (r.b->umax - r.b->umin) * c.U(0, 1));
         Eval3DPointOnCurve3Array(r.b, t, c.I(0, 2), out);
         const bool ok = !KernelFailed();
         Check(c, ok, AllFiniteD(out, 3), out[0] == 42 && out[1] == 42 && out[2] == 42, RecordImage(r) == before);
       }},
      {"CopyCurveBspline",
       [this](Call& c) {
         // A copy holds the values as they are: only its structure must be sound.
         Records keep;
         Record& r = MakeCurve(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         Bspline* copy = keep.Keep(CopyCurveBspline(r.b));
         Check(c, copy != nullptr, !copy || BsplineShapeSound(copy), KernelFailed(), RecordImage(r) == before);
       }},
  };
  Run("Foundation and B-spline entry points under bad input", entries);
}

TEST_F(LowerFloors, CloudAndRegistrationEntryPoints) {
  std::vector<Entry> entries = {
      {"MakeCld",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 30);
         const Points before = p;
         double box[6];
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, box);
         // A cloud holds its points as given (a point that is not a number included: the tools
         // skip or refuse it); its box is finite when they are. No points: a null alone.
         bool finite = true;
         for (int i = 0; i < p.n; ++i) finite = finite && std::isfinite(p.fx[i] + p.fy[i] + p.fz[i]);
         Check(c, cloud != nullptr, !cloud || !finite || (SoundCloud(cloud) && AllFiniteD(box, 6)),
               KernelFailed() || p.n < 1, p == before);
         if (cloud) FreeCloud(cloud);
       }},
      {"MakePolyCld",
       [this](Call& c) {
         MeshCase m;
         m.mesh = MakeMesh(c);
         if (!m.mesh) return;
         std::vector<float> verts;
         for (int i = 0; i < m.mesh->npts; ++i) verts.insert(verts.end(), {m.mesh->x[i], m.mesh->y[i], m.mesh->z[i]});
         std::vector<int> idx;
         for (int t = 0; t < m.mesh->ntri; ++t) idx.insert(idx.end(), m.mesh->tri[t].v, m.mesh->tri[t].v + 3);
         if (idx.empty()) idx = {0, 0, 0};
         Cloud* out = MakePolyCld(m.mesh->ntri, idx.data(), int(idx.size()), verts.data(), m.mesh->npts, nullptr);
         Check(c, out != nullptr, SoundCloud(out), KernelFailed() || m.mesh->ntri < 1, true);
         if (out) FreeCloud(out);
       }},
      {"CloudConnectivityBreak",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 40);
         if (p.n < 1) return;
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, nullptr);
         if (!cloud) return;
         Cloud** parts = nullptr;
         int count = 0;
         double box[6];
         ComputeCloudBbox(cloud, box);
         const double dist = c.Scalar(0.05 * std::hypot(box[3] - box[0], box[4] - box[1], box[5] - box[2]));
         const int r = CloudConnectivityBreak(cloud, dist, &parts, &count);
         bool sound = true;
         for (int i = 0; i < count; ++i) sound = sound && SoundCloud(parts[i]), FreeCloud(parts[i]);
         Free(parts);
         Check(c, r == 1, sound, r == 0 && count == 0, true);
         FreeCloud(cloud);
       }},
      {"SortByNearestNbor",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 40);
         if (p.n < 1) return;
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, nullptr);
         if (!cloud) return;
         const MeshImage before(cloud);
         const int r = SortByNearestNbor(cloud);
         // A success holds the same points, reordered (fewer than 3 are left as they are).
         auto points = [](int n, const float* x, const float* y, const float* z) {
           std::vector<std::array<float, 3>> v;
           for (int i = 0; i < n; ++i) v.push_back({x[i], y[i], z[i]});
           std::sort(v.begin(), v.end());
           return v;
         };
         const bool same = points(cloud->npts, cloud->x, cloud->y, cloud->z) ==
                           points(p.n, p.fx.data(), p.fy.data(), p.fz.data());
         Check(c, r == 1, p.n < 3 ? before == MeshImage(cloud) : SoundCloud(cloud) && same, r == 0,
               before == MeshImage(cloud));
         FreeCloud(cloud);
       }},
      {"RemoveDuplicates",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 30);
         const Points before = p;
         const int r = RemoveDuplicates(p.fx.data(), p.fy.data(), p.fz.data(), p.n, c.Scalar(1e-6));
         Check(c, r >= 0 || (p.n <= 1 && r == p.n), true, r == -2, p == before);
       }},
      {"PrincipleComponentAnalysis",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 40);
         const Points before = p;
         double ev[3] = {9, 9, 9}, axes[3][3];
         const int r = PrincipleComponentAnalysis(p.fx.data(), p.fy.data(), p.fz.data(), p.n, ev, axes);
         Check(c, r == 0, AllFiniteD(ev, 3) && AllFiniteD(axes[0], 9), r == -2 && ev[0] == 9, p == before);
       }},
      {"FitALineOfPoints",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 30);
         const Points before = p;
         double a[3] = {9, 9, 9}, b[3] = {9, 9, 9};
         const int r = FitALineOfPoints(p.x.data(), p.y.data(), p.z.data(), p.n, a, b);
         Check(c, r == 0, AllFiniteD(a, 3) && AllFiniteD(b, 3), r == -2, p == before);
       }},
      {"ComputeCloud3DNormals",
       [this](Call& c) {
         Points p = MakePoints(c, 1, 60);
         if (p.n < 1) return;
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, nullptr);
         if (!cloud) return;
         std::vector<float> nx(p.n, 5.f), ny(p.n, 5.f), nz(p.n, 5.f);
         const int r = ComputeCloud3DNormals(cloud, nx.data(), ny.data(), nz.data(), nullptr);
         // A point that is not a number is left out; every other point's normal is finite.
         bool finite = true;
         for (int i = 0; i < p.n; ++i)
           finite = finite && (!std::isfinite(p.fx[i] + p.fy[i] + p.fz[i]) ||
                               (std::isfinite(nx[i]) && std::isfinite(ny[i]) && std::isfinite(nz[i])));
         Check(c, r == 1, finite, r == 0, true);
         FreeCloud(cloud);
       }},
      {"Create3DTree+SearchKDTreeNearest",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 50);
         const Points before = p;
         KDTree* tree = Create3DTree(p.fx.data(), p.fy.data(), p.fz.data(), p.n, c.Count(c.I(1, 8)));
         if (!tree) {
           Check(c, false, true, p.n < 0 || KernelFailed(), p == before);
           return;
         }
         const double q[3] = {c.Scalar(p.x[0] + 1.0), p.y[0], p.z[0] * c.U(-1e3, 1e3)};
         int k = -7;
         const int r = SearchKDTreeNearest(tree, q, &k);
         bool anyFinite = false;
         for (int i = 0; i < p.n; ++i) anyFinite = anyFinite || std::isfinite(p.fx[i] + p.fy[i] + p.fz[i]);
         Check(c, r == 0 && (k >= 0 || !anyFinite), true, r == -2 && k == -1, p == before);
         FreeKDTree(tree);
       }},
      {"ClosestPntSet3DTree",
       [this](Call& c) {
         Points target = MakePoints(c, 1, 40), query = MakePoints(c, 0, 20);
         KDTree* tree = Create3DTree(target.fx.data(), target.fy.data(), target.fz.data(), std::max(target.n, 0), 4);
         if (!tree) return;
         const int m = std::max(query.n, 0);
         std::vector<float> ox(m + 1), oy(m + 1), oz(m + 1);
         const Points before = query;
         const int r = ClosestPntSet3DTree(query.fx.data(), query.fy.data(), query.fz.data(), m, tree, ox.data(),
                                           oy.data(), oz.data());
         bool finite = true;
         for (int i = 0; i < m; ++i) finite = finite && std::isfinite(ox[i]) && std::isfinite(oy[i]) && std::isfinite(oz[i]);
         Check(c, r == 0, finite, r == -2, query == before);
         FreeKDTree(tree);
       }},
      {"ComputeCloudBbox",
       [this](Call& c) {
         Points p = MakePoints(c, 1, 30);
         if (p.n < 1) return;
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, nullptr);
         if (!cloud) return;
         double box[6] = {42, 42, 42, 42, 42, 42};
         const int r = ComputeCloudBbox(cloud, box);
         bool finite = true;
         for (int i = 0; i < p.n; ++i) finite = finite && std::isfinite(p.fx[i] + p.fy[i] + p.fz[i]);
         // The box of points that are not all finite is not asked to be finite.
         Check(c, r == 0, !finite || AllFiniteD(box, 6), r == -2, true);
         FreeCloud(cloud);
       }},
      {"TransformPntSet",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 20);
         RegVec motion{{1, c.Scalar(0.1), 0, 0}, {c.Scalar(1.0), 0, 0}};
         const int m = std::max(p.n, 1);
         std::vector<float> ox(m, 3.f), oy(m, 3.f), oz(m, 3.f);
         const int r = TransformPntSet(p.fx.data(), p.fy.data(), p.fz.data(), p.n, &motion, ox.data(), oy.data(), oz.data());
         // A point that is not a number stays one; every finite point must move to a finite one.
         bool finite = true;
         for (int i = 0; i < p.n; ++i)
           finite = finite && (!std::isfinite(p.fx[i] + p.fy[i] + p.fz[i]) ||
                               (std::isfinite(ox[i]) && std::isfinite(oy[i]) && std::isfinite(oz[i])));
         Check(c, r == 0, finite, r == -2, true);
       }},
  };
  Run("Cloud and registration entry points under bad input", entries);
}

}  // namespace
}  // namespace torture
