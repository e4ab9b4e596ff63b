// The bad-input driver over the middle floors: quadric, curve, surface, shrinkwrap, stitch.
#include "cloud/makecld.h"
#include "curve/cintrplt.h"
#include "curve/crverr.h"
#include "curve/crvintr.h"
#include "curve/crvoffst.h"
#include "quadric/cone.h"
#include "quadric/cylinder.h"
#include "quadric/planefit.h"
#include "quadric/premove.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "quadric/quadrics.h"
#include "shrinkwrap/crvfair.h"
#include "shrinkwrap/cshrink.h"
#include "stitch/loftrows.h"
#include "stitch/srfcont.h"
#include "stitch/srferr.h"
#include "surface/bnd2crv.h"
#include "surface/srfnorm.h"
#include "tests/torture/driver.h"

namespace torture {
namespace {

using MiddleFloors = Driver;

TEST_F(MiddleFloors, QuadricEntryPoints) {
  std::vector<Entry> entries = {
      {"FitCone",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 60);
         const Points before = p;
         QuadricInfo info{};
         info.v[0] = 42.0;
         double error = 7.0;
         const int r = FitCone(p.fx.data(), p.fy.data(), p.fz.data(), p.n, &info, &error);
         Check(c, r == 0, AllFiniteD(info.v, 7) && std::isfinite(error), r == -2 && info.v[0] == 42.0, p == before);
       }},
      {"FitConeBspline",
       [this](Call& c) {
         PointsMaker(c, MakePoints(c, 0, 60), [](Points& p) {
           double error = 0.0;
           return FitConeBspline(p.fx.data(), p.fy.data(), p.fz.data(), p.n, &error);
         });
       }},
      {"FitCylinder",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 60);
         const Points before = p;
         double point[3] = {42, 42, 42}, axis[3] = {42, 42, 42}, radius = 42, error = 42;
         const int r = FitCylinder(p.fx.data(), p.fy.data(), p.fz.data(), p.n, point, axis, &radius, &error);
         Check(c, r == 0, AllFiniteD(point, 3) && AllFiniteD(axis, 3) && std::isfinite(radius) && std::isfinite(error),
               r == -2, p == before);
       }},
      {"FitCylinderBspline",
       [this](Call& c) {
         PointsMaker(c, MakePoints(c, 0, 60), [](Points& p) {
           double error = 0.0;
           return FitCylinderBspline(p.fx.data(), p.fy.data(), p.fz.data(), p.n, &error);
         });
       }},
      {"FitSphereBspline",
       [this](Call& c) {
         PointsMaker(c, MakePoints(c, 0, 60),
                     [](Points& p) { return FitSphereBspline(p.fx.data(), p.fy.data(), p.fz.data(), p.n); });
       }},
      {"NewFitCircle",
       [this](Call& c) {
         Points p = MakePoints(c, 0, 40, true);
         const Points before = p;
         double centre[3] = {42, 42, 42}, radius = 42, error = 42;
         const int r = NewFitCircle(p.fx.data(), p.fy.data(), p.n, centre, &radius, &error);
         Check(c, r == 0, AllFiniteD(centre, 3) && std::isfinite(radius) && std::isfinite(error),
               r == -2 && centre[0] == 42 && radius == 42, p == before);
       }},
      {"FitArcBspline",
       [this](Call& c) {
         PointsMaker(c, MakePoints(c, 0, 40, true), [](Points& p) {
           int status = 0;
           return FitArcBspline(p.fx.data(), p.fy.data(), p.fz.data(), p.n, &status);
         });
       }},
      {"CreatePlaneBsplineFromCloud",
       [this](Call& c) {
         Points points = MakePoints(c, 0, 40);
         Bbox box;
         for (int k = 0; k < 3; ++k) {
           const std::vector<double>& a = k == 0 ? points.x : k == 1 ? points.y : points.z;
           box[k] = *std::min_element(a.begin(), a.end()), box[3 + k] = *std::max_element(a.begin(), a.end());
         }
         if (c.Spend(0.3)) box[c.I(0, 5)] = kNaN;
         PointsMaker(c, points,
                     [&](Points& p) { return CreatePlaneBsplineFromCloud(p.fx.data(), p.fy.data(), p.fz.data(), p.n, box); });
       }},
      {"OutlierRemove",
       [this](Call& c) {
         Points p = MakePoints(c, 1, 80);
         if (p.n < 1) return;
         Cloud* cloud = MakeCld(p.fx.data(), p.fy.data(), p.fz.data(), p.n, nullptr);
         if (!cloud) return;
         const MeshImage before(cloud);
         const double s = std::hypot(p.x[0] - p.x[p.n - 1], p.y[0] - p.y[p.n - 1], p.z[0] - p.z[p.n - 1]) + 1e-9;
         const int r = OutlierRemove(cloud, c.Scalar(0.3 * s), c.Scalar(0.01 * s), c.I(0, 1));
         Check(c, r == 1, SoundCloud(cloud), r == 0, before == MeshImage(cloud));
         FreeCloud(cloud);
       }},
  };
  Run("Quadric entry points under bad input", entries);
}

TEST_F(MiddleFloors, CurveSurfaceShrinkwrapAndStitchEntryPoints) {
  std::vector<Entry> entries = {
      {"InterpolateLineCurve3",
       [this](Call& c) {
         PointsMaker(c, MakePoints(c, 2, 2), [](Points& p) {
           double a[3] = {p.x[0], p.y[0], p.z[0]}, b[3] = {p.x[1], p.y[1], p.z[1]};
           return InterpolateLineCurve3(a, b);
         });
       }},
      {"FindCurve3DLength",
       [this](Call& c) {
         Records keep;
         Record& r = MakeCurve(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         const double length = FindCurve3DLength(r.b);
         // A length, or a refusal in the error state; never a length that is not a number.
         const bool failed = KernelFailed();
         Check(c, !failed, std::isfinite(length) && length >= 0.0, true, RecordImage(r) == before);
       }},
      {"CrvIntersect",
       [this](Call& c) {
         OnCurvePair(c, [&](Record& a, Record& b, Records&, auto unchanged) {
           CrvIntrList* list = nullptr;
           const int r = CrvIntersect(a.b, b.b, &list, c.Scalar(1e-6 * Scale(a)), c.I(0, 1));
           bool finite = true;
           for (CrvIntrNode* n = list ? list->first : nullptr; n && list->count > 0; n = n->next)
             finite = finite && std::isfinite(n->t1) && std::isfinite(n->t2);
           FreeCrvIntrList(list);
           Check(c, r == 0 || r == 99, finite, r == -2, unchanged());
         });
       }},
      {"TwoCurve3MaxDiff",
       [this](Call& c) {
         OnCurvePair(c, [&](Record& a, Record& b, Records&, auto unchanged) {
           double diff = 42.0;
           const int r = TwoCurve3MaxDiff(a.b, b.b, c.Count(c.I(2, 6)), &diff);
           Check(c, r == 0, std::isfinite(diff), r == -2, unchanged());
         });
       }},
      {"IsPlanarCurve3",
       [this](Call& c) {
         Records keep;
         Record& a = MakeCurve(c, keep);
         if (!a.b) return;
         const RecordImage before(a);
         double ax[3][3];
         const int r = IsPlanarCurve3(a.b, c.Scalar(1e-3), ax[0], ax[1], ax[2]);
         Check(c, r == 1, AllFiniteD(ax[0], 9), r == 0, RecordImage(a) == before);
       }},
      {"MakeIsoparCurve3",
       [this](Call& c) {
         const double u = c.Scalar(c.U(0, 1)), v = c.U(0, 1);
         const int dir = c.I(0, 1);
         RecordMaker(c, true, [&](Bspline* s) { return MakeIsoparCurve3(s, u, v, dir); });
       }},
      {"MakeIsoparCurve2",
       [this](Call& c) {
         const int side = c.Count(c.I(0, 3));
         const double value = c.Chance(0.5) ? -1.0 : c.Scalar(0.5);
         RecordMaker(c, true, [&](Bspline* s) { return MakeIsoparCurve2(s, side, value); });
       }},
      {"ExtractCrvFromSrfCntrlLine",
       [this](Call& c) {
         // A control line holds the net's values as they are: only its structure must be sound.
         Records keep;
         Record& r = MakeSurface(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         Bspline* line = keep.Keep(ExtractCrvFromSrfCntrlLine(r.b, c.Count(c.I(0, 2)), c.I(0, 1)));
         Check(c, line != nullptr, !line || BsplineShapeSound(line), KernelFailed(), RecordImage(r) == before);
       }},
      {"ComputeSurfGridPositionAndNormal",
       [this](Call& c) {
         Records keep;
         Record& s = MakeSurface(c, keep);
         if (!s.b) return;
         const RecordImage before(s);
         const int nu = c.I(1, 4), nv = c.I(1, 4);
         std::vector<double> u(nu), v(nv);
         for (double& t : u) t = c.Scalar(s.b->umin + (s.b->umax - s.b->umin) * c.U(0, 1));
         for (double& t : v) t = s.b->vmin + (s.b->vmax - s.b->vmin) * c.U(0, 1);
         std::vector<double> pos(3 * nu * nv, 42.0), nrm(3 * nu * nv, 42.0);
         const int r = ComputeSurfGridPositionAndNormal(s.b, u.data(), v.data(), nu, nv,
                                                        reinterpret_cast<double(*)[3]>(pos.data()),
                                                        reinterpret_cast<double(*)[3]>(nrm.data()));
         Check(c, r == 0 && !KernelFailed(), AllFiniteD(pos.data(), 3 * nu * nv) && AllFiniteD(nrm.data(), 3 * nu * nv),
               r == -2, RecordImage(s) == before);
       }},
      {"ShrinkWrapCrv3",
       [this](Call& c) {
         Records keep;
         Record& r = MakeCurve(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         Points p = MakePoints(c, 0, 30);
         std::vector<double> t(std::max(p.n, 1));
         for (int i = 0; i < p.n; ++i) t[i] = r.b->umin + (r.b->umax - r.b->umin) * i / std::max(p.n - 1, 1);
         if (p.n > 0 && c.Spend(0.3)) t[c.I(0, p.n - 1)] = kNaN;
         ShrnkWrapParams params{};
         params.Tension = c.Scalar(0.5), params.Roughness = 0.5, params.Sigma = 1.0;
         Bspline* out = nullptr;
         const int s = ShrinkWrapCrv3(r.b, p.n, t.data(), p.x.data(), p.y.data(), p.z.data(), &params, &out);
         keep.Keep(out);
         Check(c, s == 0 && out, !out || BsplineSound(out), s == -2 && !out, RecordImage(r) == before);
       }},
      {"SmoothCurve",
       [this](Call& c) {
         Records keep;
         Record& r = MakeCurve(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         const int s = SmoothCurve(r.b, c.Count(c.I(0, 2)), c.Count(c.I(1, 4)));
         Check(c, s == 0, BsplineSound(r.b) || RecordImage(r) == before, s == -2, RecordImage(r) == before);
       }},
      {"SmoothCurveRegion",
       [this](Call& c) {
         Records keep;
         Record& r = MakeCurve(c, keep);
         if (!r.b) return;
         const RecordImage before(r);
         const double lo = r.b->umin, hi = r.b->umax;
         const int s = SmoothCurveRegion(r.b, c.Scalar(lo + 0.2 * (hi - lo)), hi - 0.1 * (hi - lo));
         Check(c, s == 0, BsplineSound(r.b) || RecordImage(r) == before, s == -2, RecordImage(r) == before);
       }},
      {"RefitCurveUniform",
       [this](Call& c) {
         const int n = c.Count(c.I(4, 10));
         RecordMaker(c, false, [&](Bspline* b) { return RefitCurveUniform(b, n); });
       }},
      {"SimpleSrfToSrfMaxDifference",
       [this](Call& c) {
         // B is A lifted a little, with knots of its own: every sample of A has its foot on B.
         Sheet near;
         bool first = true;
         auto make = [&](Call& cc, Records& keep) -> Record& {
           if (first) first = false, near = RandomSheet(cc);
           else RandomSheetKnots(cc, near.o), near.z0 += near.s * cc.U(1e-4, 1e-2), near.bend *= cc.U(0.8, 1.2);
           return AddSheet(cc, keep, near);
         };
         OnPair(c, make, [&](Record& a, Record& b, Records&, auto unchanged) {
           double diff = 42.0;
           const int r = SimpleSrfToSrfMaxDifference(a.b, b.b, &diff);
           Check(c, r == 0, std::isfinite(diff), r == -2 && diff == 42.0, unchanged());
         });
       }},
      {"GetAvgLengthOfBspline",
       [this](Call& c) {
         Records keep;
         Record& a = c.Chance(0.5) ? MakeSurface(c, keep) : MakeCurve(c, keep);
         if (!a.b) return;
         const RecordImage before(a);
         const double length = GetAvgLengthOfBspline(a.b);
         Check(c, !KernelFailed(), std::isfinite(length), true, RecordImage(a) == before);
       }},
  };
  Run("Curve, surface, shrink-wrap and stitch entry points under bad input", entries);
}

}  // namespace
}  // namespace torture
