// Fits far from the origin: the same data at sizes 1e-6 .. 1e6, at the origin and moved by
// (1e4, -6e3, 3.5e3) x the size as parts of a large assembly are, come back the same relative to
// the size, to the round-off of the inputs' own single-precision coordinates.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "splinefit/fitsplin.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FarFit : public KernelTest {};

constexpr double kSizes[] = {1e-6, 1e-3, 1.0, 1e3, 1e6};
constexpr double kFar[3] = {1e4, -6e3, 3.5e3};

// Half a unit in the last place of a float at 3.5e3: what the heights' own rounding allows.
constexpr double kFarHeightRounding = 1.3e-4;

// The saddle over [0, s]^2 about its middle, a quarter of the size high.
double Saddle(double x, double y, double s) { return ((x / s - 0.5) * (x / s - 0.5) - (y / s - 0.5) * (y / s - 0.5)) * s; }

// Heights of the saddle on a 60 x 60 grid onto 14 x 14 cubics, by the gridded least squares and
// by the scattered fit: largest height error over the grid relative to the size.
TEST_F(FarFit, SaddleGridFitsTheSameAnywhere) {
  const int n = 60;
  for (int scatteredOnly : {0, 1}) {
    double atOrigin = -1.0;
    for (double size : kSizes)
      for (int where = 0; where < 3; ++where) {  // at the origin, moved in the plan, moved in space
        const double ox = where ? kFar[0] * size : 0.0, oy = where ? kFar[1] * size : 0.0;
        const double oz = where == 2 ? kFar[2] * size : 0.0;
        const double step = size / (n - 1);
        std::vector<float> h(n * n);
        for (int j = 0; j < n; ++j)
          for (int i = 0; i < n; ++i) h[j * n + i] = float(oz + Saddle(i * step, j * step, size));
        Cloud* grid = MakeGridCld(ox, oy, step, step, n, n, 0, 1, h.data(), nullptr);
        ASSERT_NE(grid, nullptr);
        double box[6];
        BsplFitParams d;
        GetDefaultBsplFitParams(&d);
        Bspline* s = FitCartisianSpline(grid, box, 3, 3, 14, 14, scatteredOnly, d.Tension, d.Roughness, d.Sigma);
        FreeCloud(grid);
        ASSERT_NE(s, nullptr) << size << " " << where;
        EXPECT_EQ(s->fitProps.flag, scatteredOnly ? 1 : 0);
        EXPECT_EQ(s->umin, box[0]);
        double err = 0.0;
        for (int j = 0; j < n; j += 3)
          for (int i = 0; i < n; i += 3) {
            double P[3];
            RefEvalSurface(s, box[0] + (box[3] - box[0]) * i / (n - 1), box[1] + (box[4] - box[1]) * j / (n - 1), P);
            err = std::max(err, std::fabs(P[2] - oz - Saddle(P[0] - ox, P[1] - oy, size)) / size);
          }
        FreeBspline(s);
        if (atOrigin < 0.0) atOrigin = err;
        const double allowed = where == 2 ? kFarHeightRounding : 5e-8;
        EXPECT_LE(err, atOrigin + allowed) << "size " << size << " where " << where << " scattered " << scatteredOnly;
      }
    EXPECT_LT(atOrigin, 1e-4) << scatteredOnly;
  }
}

}  // namespace
