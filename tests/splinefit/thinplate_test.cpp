// Thin-plate height-field fits: exact data come back exactly, held coefficients keep their
// values, tension switches between membrane and bending, flat clouds stay finite, a singular
// system is refused with Z untouched, and failures leave nothing behind.
#include <cmath>
#include <cstring>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "foundation/makemat.h"
#include "splinefit/aspline.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ThinPlate : public KernelTest {};

// A height-field record over [x0, x1] x [y0, y1] with uniform clamped knots, Z zeroed, and
// the fit weights in property block A.
Bspline* HeightRecord(int p, int q, int nU, int nV, double x0, double x1, double y0, double y1,
                      double T = 0.7, double R = 1096.6331584284585, double sigma = 1.0) {
  Bspline* s = MallocInitSurfaceBspline();
  s->degreeU = p, s->degreeV = q, s->interiorU = nU - p - 1, s->interiorV = nV - q - 1;
  if (AllocateBsplineArrays(s) < 0) {
    FreeBspline(s);
    return nullptr;
  }
  const auto ku = ClampedKnots(p, nU, x0, x1), kv = ClampedKnots(q, nV, y0, y1);
  std::memcpy(s->knotsU, ku.data(), sizeof(double) * ku.size());
  std::memcpy(s->knotsV, kv.data(), sizeof(double) * kv.size());
  s->umin = x0, s->umax = x1, s->vmin = y0, s->vmax = y1;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) s->X[j][i] = s->Y[j][i] = s->Z[j][i] = 0.0;
  s->fitProps = {1, T, R, sigma};
  return s;
}

struct Points {
  std::vector<float> x, y, z;
  Cloud* Make() const { return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr); }
};

// Scattered points of z = f(x, y) over the rectangle, on a jittered lattice.
template <class F>
Points Scatter(F f, int n, double x0, double x1, double y0, double y1) {
  Points P;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const double x = x0 + (x1 - x0) * (i + 0.5 + 0.3 * std::sin(7.1 * i + 3.3 * j)) / n;
      const double y = y0 + (y1 - y0) * (j + 0.5 + 0.3 * std::cos(5.7 * i + 1.9 * j)) / n;
      P.x.push_back(float(x)), P.y.push_back(float(y)), P.z.push_back(float(f(x, y)));
    }
  }
  return P;
}

double HeightAt(const Bspline* s, double u, double v) {
  double out[3];
  RefEvalSurface(s, u, v, out);
  return out[2];
}

std::vector<double> Zs(const Bspline* s) {
  std::vector<double> z;
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) z.push_back(s->Z[j][i]);
  return z;
}

TEST_F(ThinPlate, GriddedLeastSquaresReproducesASplineExactly) {
  // Without the property flag the gridded path is plain least squares: heights sampled from
  // a bicubic (and a biquadratic) spline of the same knots come back as its coefficients.
  for (int deg : {2, 3}) {
    BsplineKeeper keep;
    Bspline* truth = keep(HeightRecord(deg, deg, 7, 6, -1.0, 2.0, 0.5, 2.5));
    for (int j = 0; j < 6; ++j)
      for (int i = 0; i < 7; ++i) truth->Z[j][i] = std::sin(1.3 * i) + 0.4 * j * j - 0.1 * i * j;
    Bspline* fit = keep(HeightRecord(deg, deg, 7, 6, -1.0, 2.0, 0.5, 2.5));
    fit->fitProps.flag = 0;
    const int nx = 25, ny = 21;
    std::vector<float> h(nx * ny);
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) h[j * nx + i] = float(HeightAt(truth, -1.0 + 3.0 * i / (nx - 1), 0.5 + 2.0 * j / (ny - 1)));
    Cloud* grid = MakeGridCld(-1.0, 0.5, 3.0 / (nx - 1), 2.0 / (ny - 1), nx, ny, 0, 1, h.data(), nullptr);
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->type, 17);
    ASSERT_EQ(FindThinPlateCoefi(fit, grid, nullptr, nullptr, 0), 0);
    for (int j = 0; j < 6; ++j)
      for (int i = 0; i < 7; ++i) EXPECT_NEAR(fit->Z[j][i], truth->Z[j][i], 1e-5) << deg << " " << i << " " << j;
    FreeCloud(grid);
  }
}

TEST_F(ThinPlate, ScatteredFitFollowsSmoothDataAndHeldCoefficientsStayExact) {
  auto f = [](double x, double y) { return 0.5 + 0.3 * x - 0.2 * y + 0.1 * x * y; };
  const Points P = Scatter(f, 30, 0.0, 4.0, 1.0, 3.0);
  Cloud* cloud = P.Make();
  BsplineKeeper keep;
  // A large roughness lets the data win: the fit reproduces the bilinear function closely.
  Bspline* s = keep(HeightRecord(3, 3, 8, 7, 0.0, 4.0, 1.0, 3.0, 0.7, 1e8));
  ASSERT_EQ(FindThinPlateCoefi(s, cloud, nullptr, nullptr, 0), 0);
  double worst = 0;
  for (int a = 0; a <= 10; ++a)
    for (int b = 0; b <= 10; ++b) {
      const double x = 0.4 * a, y = 1.0 + 0.2 * b;
      worst = std::max(worst, std::fabs(HeightAt(s, x, y) - f(x, y)));
    }
  EXPECT_LT(worst, 1e-3);
  // Hold the first row and two inner unknowns: their values come back bit for bit, the
  // index list as given, and the rest still follows the data.
  std::vector<int> fix = {0, 1, 2, 3, 4, 5, 6, 7, 20, 33};
  std::vector<double> vals;
  for (int k : fix) vals.push_back(0.25 * k - 1.0);
  const std::vector<int> given = fix;
  ASSERT_EQ(FindThinPlateCoefi(s, cloud, vals.data(), fix.data(), int(fix.size())), 0);
  EXPECT_EQ(fix, given);
  const auto z = Zs(s);
  for (size_t t = 0; t < fix.size(); ++t) EXPECT_EQ(z[given[t]], vals[t]);
  EXPECT_LT(std::fabs(HeightAt(s, 3.7, 2.9) - f(3.7, 2.9)), 0.05);
  FreeCloud(cloud);
}

TEST_F(ThinPlate, TensionSwitchesBetweenMembraneAndBending) {
  // A tilted plane under heavy smoothing: bending energy does not see a plane, so T = 0 keeps
  // its slope; the membrane (T = 1) pulls the surface flat.
  auto f = [](double x, double y) { return 2.0 * x + y; };
  const Points P = Scatter(f, 20, 0.0, 1.0, 0.0, 1.0);
  Cloud* cloud = P.Make();
  BsplineKeeper keep;
  Bspline* bend = keep(HeightRecord(3, 3, 6, 6, 0.0, 1.0, 0.0, 1.0, 0.0, 1e-4));
  Bspline* membrane = keep(HeightRecord(3, 3, 6, 6, 0.0, 1.0, 0.0, 1.0, 1.0, 1e-4));
  ASSERT_EQ(FindThinPlateCoefi(bend, cloud, nullptr, nullptr, 0), 0);
  ASSERT_EQ(FindThinPlateCoefi(membrane, cloud, nullptr, nullptr, 0), 0);
  const double slopeBend = HeightAt(bend, 0.9, 0.5) - HeightAt(bend, 0.1, 0.5);
  const double slopeMembrane = HeightAt(membrane, 0.9, 0.5) - HeightAt(membrane, 0.1, 0.5);
  EXPECT_NEAR(slopeBend, 1.6, 0.02);
  EXPECT_LT(slopeMembrane, 0.5);
  // The band itself: T = 1 leaves no second-derivative weight, T = 0 no first-derivative one.
  const double wBend[5] = {0, 0, 1, 2, 1}, wMem[5] = {1, 1, 0, 0, 0};
  double** Kb = SurfStiffMatrix(bend, wBend);
  double** Km = SurfStiffMatrix(bend, wMem);
  ASSERT_TRUE(Kb && Km);
  // A plane's coefficients (Greville values of 2x + y) have zero bending energy and positive
  // membrane energy c^T K c.
  std::vector<double> c(36);
  std::vector<double> gu = {0, 1.0 / 9, 1.0 / 3, 2.0 / 3, 8.0 / 9, 1};  // uniform knots, 3 spans
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) c[j * 6 + i] = 2.0 * gu[i] + gu[j];
  auto energy = [&](double** K) {
    const int W = 6 * 3 + 3 + 2;
    double e = 0;
    for (int k = 0; k < 36; ++k)
      for (int d = 0; d < W && k + d < 36; ++d) e += (d == 0 ? 1.0 : 2.0) * K[k][d] * c[k] * c[k + d];
    return e;
  };
  EXPECT_NEAR(energy(Kb), 0.0, 1e-9);
  EXPECT_NEAR(energy(Km), 5.0, 1e-9);  // integral of |grad z|^2 = 4 + 1 over the unit square
  matrix_free_ff(Kb);
  matrix_free_ff(Km);
  FreeCloud(cloud);
}

TEST_F(ThinPlate, FlatCloudsStayFiniteAndScaleWithTheData) {
  // All heights equal: the height range falls back to 0.1 and the fit is that constant.
  Points P = Scatter([](double, double) { return 5.0; }, 12, 0.0, 1.0, 0.0, 1.0);
  Cloud* flat = P.Make();
  BsplineKeeper keep;
  Bspline* s = keep(HeightRecord(3, 3, 5, 5, 0.0, 1.0, 0.0, 1.0));
  ASSERT_EQ(FindThinPlateCoefi(s, flat, nullptr, nullptr, 0), 0);
  for (double z : Zs(s)) EXPECT_NEAR(z, 5.0, 1e-9);
  FreeCloud(flat);
  // A pure membrane fit is invariant under scaling everything: the coefficients scale along.
  auto f = [](double x, double y) { return std::sin(3 * x) * std::cos(2 * y); };
  const Points Q = Scatter(f, 15, 0.0, 1.0, 0.0, 1.0);
  std::vector<double> ref;
  for (double scale : {1.0, 1e-4, 1e6}) {
    Points S = Q;
    for (size_t i = 0; i < S.x.size(); ++i) S.x[i] *= float(scale), S.y[i] *= float(scale), S.z[i] *= float(scale);
    Cloud* c = S.Make();
    Bspline* t = keep(HeightRecord(3, 3, 6, 6, 0.0, scale, 0.0, scale, 1.0, 10.0));
    ASSERT_EQ(FindThinPlateCoefi(t, c, nullptr, nullptr, 0), 0);
    const auto z = Zs(t);
    if (ref.empty()) ref = z;
    for (size_t k = 0; k < z.size(); ++k) EXPECT_NEAR(z[k] / scale, ref[k], 1e-5) << scale;
    FreeCloud(c);
  }
}

TEST_F(ThinPlate, SingularSystemIsRefusedWithZUntouchedAndOnlyTheRowOrderGridGoesGridded) {
  // Four grid points for 36 unknowns and no smoothing: most unknowns are determined by
  // nothing. The gridded path reports it instead of dividing by the zero pivot.
  BsplineKeeper keep;
  Bspline* s = keep(HeightRecord(3, 3, 6, 6, 0.0, 1.0, 0.0, 1.0));
  s->fitProps.flag = 0;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) s->Z[j][i] = 0.125 * (i - j);
  const auto before = Zs(s);
  const float h[4] = {1, 2, 3, 4};
  Cloud* grid = MakeGridCld(0.0, 0.0, 1.0, 1.0, 2, 2, 0, 1, h, nullptr);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(FindThinPlateCoefi(s, grid, nullptr, nullptr, 0), -2);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  const auto after = Zs(s);
  EXPECT_EQ(std::memcmp(before.data(), after.data(), sizeof(double) * before.size()), 0);
  // The same points as a transposed grid (axis codes not exactly 1 and 0) go the scattered
  // way, whose control-net penalty ties every unknown: a solution.
  grid->grid.rowAxis = 0, grid->grid.colAxis = 1;
  EXPECT_EQ(FindThinPlateCoefi(s, grid, nullptr, nullptr, 0), 0);
  FreeCloud(grid);
  // Fewer than 3 scattered points, or a held index out of order, is refused the same way.
  Points two{{0.1f, 0.2f}, {0.1f, 0.2f}, {1, 2}};
  Cloud* c2 = two.Make();
  EXPECT_EQ(FindThinPlateCoefi(s, c2, nullptr, nullptr, 0), -2);
  ClearKernelError();
  FreeCloud(c2);
}

TEST_F(ThinPlate, InjectedFailuresLeaveNothingAndZUntouched) {
  const Points P = Scatter([](double x, double y) { return x * y; }, 10, 0.0, 1.0, 0.0, 1.0);
  Cloud* cloud = P.Make();
  BsplineKeeper keep;
  Bspline* s = keep(HeightRecord(3, 3, 6, 5, 0.0, 1.0, 0.0, 1.0));
  int fix[2] = {0, 7};
  double vals[2] = {1.0, -1.0};
  const int failures = RunWithInjectedFailures(400, 3, [&] {
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 6; ++i) s->Z[j][i] = 42.0;
    const int rc = FindThinPlateCoefi(s, cloud, vals, fix, 2);
    if (rc != 0) {
      for (double z : Zs(s)) EXPECT_EQ(z, 42.0);
    }
    return rc;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 134);
  FreeCloud(cloud);
}


TEST_F(ThinPlate, PenaltyBandIsTheSumOfSquaredNeighbourDifferences) {
  // c^T P c = sum_k w_k sum over the grid neighbours k' of k (c_k - c_k')^2, for any c.
  const int nU = 5, nV = 4, N = nU * nV, W = nU * 3 + 3 + 2;
  std::vector<double> w(N), c(N);
  for (int k = 0; k < N; ++k) w[k] = (k % 3 == 0) ? 0.0 : 0.5 + 0.1 * k, c[k] = std::sin(1.7 * k);
  double** P = allocate_matrix_ff(N, W);
  ASSERT_EQ(ComputeCntrlPntsPanaltyMat(P, nU, nV, W, w.data()), 0);
  double form = 0, want = 0;
  for (int k = 0; k < N; ++k)
    for (int d = 0; d < W && k + d < N; ++d) form += (d == 0 ? 1.0 : 2.0) * P[k][d] * c[k] * c[k + d];
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      const int k = j * nU + i;
      const int nb[4][2] = {{i - 1, j}, {i + 1, j}, {i, j - 1}, {i, j + 1}};
      for (const auto& q : nb)
        if (q[0] >= 0 && q[0] < nU && q[1] >= 0 && q[1] < nV) want += w[k] * std::pow(c[k] - c[q[1] * nU + q[0]], 2);
    }
  EXPECT_NEAR(form, want, 1e-12 * want);
  EXPECT_EQ(ComputeCntrlPntsPanaltyMat(P, nU, nV, nU, w.data()), -2);  // no room for the row neighbour
  matrix_free_ff(P);
  const float flat[3] = {2, 2, 2}, bumpy[3] = {1, -2, 0.5};
  double range;
  FindUObs(flat, flat, flat, 3, &range);
  EXPECT_EQ(range, 0.1);
  FindUObs(bumpy, bumpy, bumpy, 3, &range);
  EXPECT_EQ(range, 3.0);
}

TEST_F(ThinPlate, TheAssemblyEntriesSolveWhatTheFitSolves) {
  // The scattered and gridded entries, given the fit's own a, b and weights, give the
  // coefficients the fit writes.
  auto f = [](double x, double y) { return x * x - 0.5 * y; };
  const Points P = Scatter(f, 9, 0.0, 2.0, 0.0, 1.0);
  Cloud* cloud = P.Make();
  BsplineKeeper keep;
  Bspline* s = keep(HeightRecord(3, 2, 6, 5, 0.0, 2.0, 0.0, 1.0, 0.4, 30.0, 1.0));
  ASSERT_EQ(FindThinPlateCoefi(s, cloud, nullptr, nullptr, 0), 0);
  double range;
  FindUObs(cloud->x, cloud->y, cloud->z, cloud->npts, &range);
  const double a = 0.1, b = 0.1 * range / 2.0;
  std::vector<double> weights(cloud->npts, 1.0), c1(30), c2(30);
  ASSERT_EQ(EliminInitValofCoefi(s, cloud, 3, 3, weights.data(), a, b, 30.0, 0.4, c1.data(), nullptr, nullptr, 0), 0);
  ASSERT_EQ(elimin_init_valof_coefi(s, cloud, 3, 3, weights.data(), a, b, 30.0, 0.4, c2.data(), nullptr, nullptr, 0), 0);
  const auto z = Zs(s);
  for (int k = 0; k < 30; ++k) {
    EXPECT_EQ(c1[k], z[k]);
    EXPECT_EQ(c2[k], z[k]);
  }
  EXPECT_EQ(EliminInitValofCoefi(s, cloud, 4, 3, weights.data(), a, b, 30.0, 0.4, c1.data(), nullptr, nullptr, 0), -2);
  // Gridded: heights of a spline of this record on a grid come back without smoothing.
  std::vector<double> xs, ys, zs, gw;
  for (int i = 0; i < 11; ++i) xs.push_back(0.2 * i);
  for (int j = 0; j < 7; ++j) ys.push_back(j / 6.0);
  for (double y : ys)
    for (double x : xs) zs.push_back(HeightAt(s, x, y)), gw.push_back(0.0);
  s->fitProps.flag = 0;
  ASSERT_EQ(FitGriddedDataThinPlateBspline(s, xs.data(), ys.data(), zs.data(), 11, 7, a, b, gw.data(), 30.0, 0.4,
                                           c1.data(), nullptr, nullptr, 0),
            0);
  for (int k = 0; k < 30; ++k) EXPECT_NEAR(c1[k], z[k], 1e-9);
  EXPECT_EQ(FitGriddedDataThinPlateBspline(s, xs.data(), ys.data(), zs.data(), 0, 7, a, b, gw.data(), 30.0, 0.4,
                                           c1.data(), nullptr, nullptr, 0),
            -2);
  FreeCloud(cloud);
}

}  // namespace
