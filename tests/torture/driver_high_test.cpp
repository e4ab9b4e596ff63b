// The bad-input driver over the upper floors: splinefit, construct, intersect, healing, mesh.
#include "cloud/makecld.h"
#include "cloud/pnterr.h"
#include "construct/crv2srf.h"
#include "construct/extend.h"
#include "construct/extrude.h"
#include "construct/srfrevol.h"
#include "healing/gstitch.h"
#include "intersect/curvatur.h"
#include "intersect/newintr.h"
#include "mesh/cldtrim.h"
#include "mesh/poffset.h"
#include "mesh/putil.h"
#include "mesh/rpmclose.h"
#include "splinefit/fitsplin.h"
#include "splinefit/intrplt.h"
#include "tests/torture/driver.h"

namespace torture {
namespace {

class UpperFloors : public Driver {
 protected:
  // CapAllLoops on m, which it frees.
  void Cap(Call& c, Cloud* m) {
    if (!m) return;
    const MeshImage before(m);
    CapAllLoops(m);
    const bool ok = !KernelFailed();
    // A refusal or an unsound cap shows in the error state; the caps made before it stay.
    Check(c, ok, SoundCloud(m), true, true);
    if (!CloudPointsFinite(m) || !MeshCornersNamePoints(m, nullptr)) Check(c, false, true, !ok, before == MeshImage(m));
    FreeCloud(m);
  }
  // CreateOffsetPolyCloud on m (of the given size), which it frees.
  void Offset(Call& c, Cloud* m, double size) {
    if (!m) return;
    const bool refusable = !CloudPointsFinite(m) || !MeshCornersNamePoints(m, nullptr);
    const MeshImage before(m);
    Cloud* out = CreateOffsetPolyCloud(m, c.Scalar(0.05 * size), 1e-4 * size, c.I(0, 1), nullptr, c.I(0, 1), 0);
    Check(c, out != nullptr, SoundCloud(out), KernelFailed() || m->ntri < 1, !refusable || before == MeshImage(m));
    FreeCloud(m);
  }
};

#define CHECK_MAKER(c, made, inputsUnchanged) \
  Check(c, (made) != nullptr, !(made) || BsplineSound(made), KernelFailed(), inputsUnchanged)

TEST_F(UpperFloors, SplinefitAndConstructEntryPoints) {
  std::vector<Entry> entries = {
      {"CurveIntrplt",
       [this](Call& c) {
         Records keep;
         Points p = MakePoints(c, 0, 12);
         if (p.n > 2 && c.Chance(0.3)) p.x[1] = p.x[0], p.y[1] = p.y[0], p.z[1] = p.z[0], p.Floats();
         const Points before = p;
         const int degree = c.Chance(0.5) ? 3 : c.Degree(1);
         std::vector<double> knots;
         if (p.n > 1 && c.Chance(0.3)) {
           const int pad = degree == 1 ? 1 : 3;
           for (int i = 0; i < p.n + 2 * pad; ++i) knots.push_back(std::clamp(i - pad, 0, p.n - 1) * 1.0);
           if (c.Spend(0.5)) knots[c.I(0, int(knots.size()) - 1)] = c.Chance(0.5) ? kNaN : -5.0;
         }
         Bspline* b = keep.Keep(CurveIntrplt(p.x.data(), p.y.data(), p.z.data(), p.n - 1,
                                             knots.empty() ? nullptr : knots.data(), degree, 0));
         CHECK_MAKER(c, b, p == before);
       }},
      {"CurveIntrplt_f",
       [this](Call& c) {
         const bool flat = c.Chance(0.2);
         const int degree = c.Chance(0.7) ? 3 : c.Degree(1);
         PointsMaker(c, MakePoints(c, 0, 12), [&](Points& p) {
           return CurveIntrplt_f(p.fx.data(), p.fy.data(), flat ? nullptr : p.fz.data(), p.n - 1, nullptr, degree, 0);
         });
       }},
      {"NewCurveIntrplt",
       [this](Call& c) {
         const int degree = c.Degree(c.I(1, 5));
         PointsMaker(c, MakePoints(c, 0, 12),
                     [&](Points& p) { return NewCurveIntrplt(p.x.data(), p.y.data(), p.z.data(), p.n - 1, nullptr, degree); });
       }},
      {"IntrpltWithDegree1",
       [this](Call& c) {
         PointsMaker(c, MakePoints(c, 0, 12),
                     [](Points& p) { return IntrpltWithDegree1(p.x.data(), p.y.data(), p.z.data(), p.n - 1, nullptr); });
       }},
      {"MakeCurveZero",
       [this](Call& c) {
         const int degree = c.Degree(c.I(0, 5));
         PointsMaker(c, MakePoints(c, 1, 1),
                     [&](Points& p) { return MakeCurveZero(p.x.data(), p.y.data(), p.z.data(), degree); });
       }},
      {"SimpleFitSplineSurface",
       [this](Call& c) {
         Records keep;
         Points p = MakePoints(c, 1, 60);
         if (p.n < 1) return;
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, nullptr);
         if (!cloud) return;
         const MeshImage before(cloud);
         Bspline* s = keep.Keep(SimpleFitSplineSurface(cloud, c.Degree(3), c.Degree(c.I(1, 3)), c.Count(c.I(4, 6)),
                                                       c.Count(4), c.Chance(0.8) ? 0 : c.I(1, 3)));
         CHECK_MAKER(c, s, before == MeshImage(cloud));
         FreeCloud(cloud);
       }},
      {"RevolveCurveGeometry",
       [this](Call& c) {
         double p0[3] = {0, 0, 0}, p1[3] = {0, c.Scalar(1.0), 0};
         const double start = c.Scalar(0.0), end = c.Chance(0.5) ? 360.0 : 90.0;
         RecordMaker(c, false, [&](Bspline* b) { return RevolveCurveGeometry(b, p0, p1, start, end); });
       }},
      {"RuledSurface",
       [this](Call& c) {
         // Both curves are documented to change on success (made compatible); a refusal keeps them.
         OnCurvePair(c, [&](Record& a, Record& b, Records& keep, auto unchanged) {
           Bspline* s = keep.Keep(RuledSurface(a.b, b.b));
           CHECK_MAKER(c, s, unchanged());
         });
       }},
      {"CreateExtrudeSurface",
       [this](Call& c) {
         double dir[3] = {c.Scalar(0.3), 0.2, 1.0};
         const int end = c.I(0, 1);
         const double length = c.Scalar(1.0);
         RecordMaker(c, false, [&](Bspline* b) { return CreateExtrudeSurface(b, end, dir, length * Scale(Record{b})); });
       }},
      {"ExtendObjectByLengthG2",
       [this](Call& c) {
         const double length = c.Scalar(0.2);
         const int edge = c.I(0, 3);
         RecordMaker(c, c.Chance(0.5),
                     [&](Bspline* b) { return ExtendObjectByLengthG2(b, length * Scale(Record{b}), 0, edge); });
       }},
  };
  Run("Spline-fit and construction entry points under bad input", entries);
}

TEST_F(UpperFloors, IntersectHealingAndMeshEntryPoints) {
  std::vector<Entry> entries = {
      {"CreateSrfSrfIntersectionCurves",
       [this](Call& c) {
         Records keep;
         Record& a = MakeSurface(c, keep);
         Record& b = MakeSurface(c, keep);
         if (!a.b || !b.b) return;
         // Often crossing: the second sheet turned upright through the first.
         if (c.Chance(0.6) && b.b->Z)
           for (int i = 0; i < b.ctrl; ++i) std::swap(b.b->Y[0][i], b.b->Z[0][i]);
         BsplineList* out = nullptr;
         const int r = CreateSrfSrfIntersectionCurves(a.b, b.b, &out);
         bool finite = true;
         for (BsplineList* l = out; l; l = l->next) finite = finite && BsplineSound(l->item);
         FreeNodes(out);  // the curves go with their surfaces
         Check(c, r == 1, finite, r == 0 && !out, true);
       }},
      {"ComputePrincipCurvaNPnts",
       [this](Call& c) {
         Records keep;
         Record& s = MakeSurface(c, keep);
         if (!s.b) return;
         const RecordImage before(s);
         const int nu = c.I(1, 4), nv = c.I(1, 3);
         std::vector<double> u(nu), v(nv), out(2 * nu * nv, 42.0);
         for (double& t : u) t = c.Scalar(s.b->umin + (s.b->umax - s.b->umin) * c.U(0, 1));
         for (double& t : v) t = s.b->vmin + (s.b->vmax - s.b->vmin) * c.U(0, 1);
         const int r = ComputePrincipCurvaNPnts(s.b, u.data(), v.data(), out.data(), nu, nv);
         Check(c, r == 0 && !KernelFailed(), AllFiniteD(out.data(), 2 * nu * nv), r == -2, RecordImage(s) == before);
       }},
      {"MakeTopologyZK",
       [this](Call& c) {
         OnSurfacePair(c, [&](Record& a, Record& b, Records&, auto unchanged) {
           Bspline* group[2] = {a.b, b.b};
           const int r = MakeTopologyZK(group, 2, c.Scalar(0.05), c.Scalar(5.0));
           CleanupTopology();
           Check(c, r == 0, true, r == -2, unchanged());
         });
       }},
      {"CapAllLoops", [this](Call& c) { Cap(c, MakeMesh(c)); }},
      {"SubdivideCloudEdgesToTol",
       [this](Call& c) {
         Cloud* m = MakeMesh(c);
         if (!m) return;
         const MeshImage before(m);
         const double size = MeshSize(m);
         const int r = SubdivideCloudEdgesToTol(m, c.Scalar(0.3 * size));
         Check(c, r == 1, SoundCloud(m), r == 0, before == MeshImage(m) || r == 0);
         FreeCloud(m);
       }},
      {"BuildOffsetPolyCloud",
       [this](Call& c) {
         Cloud* m = MakeMesh(c);
         if (!m) return;
         const double size = MeshSize(m);
         Cloud* shell = BuildOffsetPolyCloud(m, c.Scalar(0.05 * size), nullptr);
         Check(c, shell != nullptr, SoundCloud(shell), KernelFailed() || m->ntri < 1, true);
         if (shell) FreeCloud(shell);
         FreeCloud(m);
       }},
      {"CreateOffsetPolyCloud",
       [this](Call& c) {
         Cloud* m = MakeMesh(c);
         if (m) Offset(c, m, MeshSize(m));
       }},
      {"RemoveDegenCldPolys",
       [this](Call& c) {
         Cloud* m = MakeMesh(c);
         if (!m) return;
         const MeshImage before(m);
         const double size = MeshSize(m);
         const int r = RemoveDegenCldPolys(m, c.Scalar(1e-3 * size), nullptr);
         const bool refusable = !CloudPointsFinite(m) || !MeshCornersNamePoints(m, nullptr);
         Check(c, r >= 0, SoundCloud(m), r == -1, !refusable || before == MeshImage(m));
         FreeCloud(m);
       }},
      {"RemoveMultiEdgePolys",
       [this](Call& c) {
         Cloud* m = MakeMesh(c, true);
         if (!m) return;
         const MeshImage before(m);
         const int r = RemoveMultiEdgePolys(m, c.Chance(0.5) ? 7 : c.I(1, 7), nullptr);
         // The count removed: 0 also for a refusal, which leaves the mesh as it was.
         Check(c, r > 0, SoundCloud(m) || !CloudPointsFinite(m), r == 0, before == MeshImage(m));
         FreeCloud(m);
       }},
      {"JoinCldPolys",
       [this](Call& c) {
         Cloud* m = MakeMesh(c);
         if (!m) return;
         const double size = MeshSize(m);
         const MeshImage before(m);
         int splits = 0;
         const int r = JoinCldPolys(m, c.Scalar(1e-3 * size), c.Chance(0.5) ? 0.0 : c.Scalar(0.1 * size), &splits,
                                    nullptr, 0);
         Check(c, r == 1, SoundCloud(m), r == 0, before == MeshImage(m));
         FreeCloud(m);
       }},
      {"ReduceCloudPolygons",
       [this](Call& c) {
         Cloud* m = MakeMesh(c);
         if (!m) return;
         const double size = MeshSize(m);
         const int r = ReduceCloudPolygons(m, c.Scalar(1e-2 * size), c.Scalar(20.0), nullptr);
         Check(c, r == 1, SoundCloud(m), r == 0, true);
         FreeCloud(m);
       }},
  };
  Run("Intersection, healing and mesh entry points under bad input", entries);
}

// The mesh tools whose searches turn to a tree where one grid cell holds most of the mesh: a
// field with a few vertices near the float range. Costly, so every 25th seed only.
TEST_F(UpperFloors, MeshEntryPointsOnACrowdedCell) {
  std::vector<Entry> entries = {
      {"CapAllLoops",
       [this](Call& c) {
         double size, o[3];
         Cap(c, MakeCrowdedMesh(c, &size, o, 34, 36));
       }},
      {"CreateOffsetPolyCloud",
       [this](Call& c) {
         double size, o[3];
         Cloud* m = MakeCrowdedMesh(c, &size, o);  // the vertices' grid crowds past 2,048
         if (m) Offset(c, m, size);
       }},
      {"ReducePolygonsByCount",
       [this](Call& c) {
         double size, o[3];
         Cloud* m = MakeCrowdedMesh(c, &size, o, 34, 36);  // the triangle grid crowds past 2,048
         if (!m) return;
         double box[6], maxError = 0.0;
         GetCloudMinMax(m, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
         const MeshImage before(m);
         // A point that is not finite takes part as it came, and a mesh at or below the target
         // is left as it came, a triangle naming no point too (they are the caller's); what the
         // reduction makes must be sound.
         const bool finiteIn = CloudPointsFinite(m), cornersIn = MeshCornersNamePoints(m, nullptr);
         const int r = ReducePolygonsByCount(m, c.Count(m->ntri * 9 / 10), 1.0, 1.0, 1.0, box, &maxError);
         const bool sound = (!finiteIn || CloudPointsFinite(m)) && (!cornersIn || MeshCornersNamePoints(m, nullptr));
         Check(c, r == 0, sound && std::isfinite(maxError), r == -1, before == MeshImage(m));
         FreeCloud(m);
       }},
      {"PolycldToCldDiff",
       [this](Call& c) {
         double size, o[3];
         Cloud* m = MakeCrowdedMesh(c, &size, o);
         if (!m) return;
         Points p = MakePoints(c, 1, 120, true);  // re-placed over the field, defects kept
         for (int i = 0; i < p.n; ++i) {
           const double at[3] = {o[0] + size * c.U(-0.05, 1.05), o[1] + size * c.U(-0.05, 1.05),
                                 o[2] + size * c.U(-0.1, 0.1)};
           double* q[3] = {&p.x[i], &p.y[i], &p.z[i]};
           for (int k = 0; k < 3; ++k)
             if (std::isfinite(*q[k]) && std::fabs(*q[k]) < 1e38) *q[k] = at[k];
         }
         p.Floats();
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), std::max(p.n, 1), nullptr);
         if (cloud) {
           const MeshImage before(m);
           std::vector<int> triangle(cloud->npts, -1);
           const double reach = c.Scalar(3.0 * size / 50.0);
           const int r = PolycldToCldDiff(m, cloud, reach * reach, nullptr, c.Chance(0.5) ? triangle.data() : nullptr,
                                          nullptr);
           // Every point's deviation finite (kNoMatchDeviation where none was found), its
           // triangle one of the mesh's or -1.
           bool sound = true;
           for (int i = 0; i < cloud->npts && r == 1; ++i)
             sound = sound && std::isfinite(cloud->farrays.arrays[CldArrayTypeExists(cloud, 0)][i]) &&
                     triangle[i] >= -1 && triangle[i] < m->ntri;
           // 0 is also "no point near the mesh": nothing to report but the outcome.
           Check(c, r == 1, sound, true, before == MeshImage(m));
           FreeCloud(cloud);
         }
         FreeCloud(m);
       }},
  };
  Run("Mesh entry points on a crowded cell under bad input", entries, 25);
}

}  // namespace
}  // namespace torture
