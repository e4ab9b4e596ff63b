// Seams that end on a held outer boundary (tangency): thin bands of long nets between planes, as
// an electronic package's lead bends are exported, with noise on their boundary rows. The two held
// corners at each end of a seam meet where the corner rules put them, the rest of every held row
// stays where it was, and the seams keep their angle at their ends too.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace healtest {
namespace {

constexpr double kBandWidth = 0.04, kPlaneWidth = 0.06, kLength = 0.445, kBend = 2.0;

// The lead's profile across the bands: flat on the plane, a parabola on the bands, tangent to the
// plane at x = 0.
double Profile(double x) { return x > 0.0 ? kBend * x * x : 0.0; }

// A net over [x0, x1] x [0, kLength] of cu x cv points (degree cu - 1 up to 3 across, cv - 1 up to
// 3 along) on the profile, scaled by `size`.
Bspline* Band(double x0, double x1, int cu, int cv, double size) {
  PatchOptions o;
  o.degreeU = std::min(3, cu - 1), o.degreeV = std::min(3, cv - 1), o.nu = cu, o.nv = cv;
  o.x0 = x0, o.x1 = x1, o.y1 = kLength;
  Bspline* b = BuildFunctionPatch([](double x, double) { return Profile(x); }, o);
  for (int j = 0; j < cv; ++j)
    for (int i = 0; i < cu; ++i) b->X[j][i] *= size, b->Y[j][i] *= size, b->Z[j][i] *= size;
  return b;
}

// A plane, a band and a second band along the lead (seams: plane side 3 to band side 1, band side 3
// to band side 1), the boundary rows of every net moved by up to `noise` of the size per
// coordinate. The planes' bilinear nets are all boundary.
void Lead(Group& g, double size, double noise, unsigned seed) {
  g.Add(Band(-kPlaneWidth, 0.0, 2, 2, size));
  g.Add(Band(0.0, kBandWidth, 34, 4, size));
  g.Add(Band(kBandWidth, 2.0 * kBandWidth, 34, 4, size));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-noise * size, noise * size);
  for (Bspline* s : g.srfs)
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int i = 0; i < NumCtrlU(s); ++i)
        if (i == 0 || j == 0 || i == NumCtrlU(s) - 1 || j == NumCtrlV(s) - 1) {
          s->X[j][i] += d(rng);
          s->Y[j][i] += d(rng);
          s->Z[j][i] += d(rng);
        }
}

struct Seam {
  int a, sideA, b, sideB;
};
constexpr Seam kSeams[] = {{0, 3, 1, 1}, {1, 3, 2, 1}};

// Corner k (0 v-min, 1 v-max) of a u-side (1 u-min, 3 u-max) of a net.
void Corner(const Bspline* s, int side, int k, double out[3]) {
  const int i = side == 1 ? 0 : NumCtrlU(s) - 1, j = k == 0 ? 0 : NumCtrlV(s) - 1;
  out[0] = s->X[j][i], out[1] = s->Y[j][i], out[2] = s->Z[j][i];
}

// The folded normal angle across a seam at fraction f along it (matched by closest point).
double AngleAt(const Group& g, const Seam& s, double f) {
  const Bspline *A = g.srfs[s.a], *B = g.srfs[s.b];
  const double t = A->vmin + f * (A->vmax - A->vmin);
  double p[3], na[3], nb[3];
  SidePoint(A, s.sideA, t, p);
  const double tb = RefClosestParam(B, s.sideB, B->vmin, B->vmax, p);
  SideNormal(A, s.sideA, t, na);
  SideNormal(B, s.sideB, tb, nb);
  return RefFoldedAngle(na, nb);
}

// The largest of those at 41 even fractions, both ends included.
double LargestAngle(const Group& g, const Seam& s) {
  double most = 0.0;
  for (int f = 0; f <= 40; ++f) most = std::max(most, AngleAt(g, s, f / 40.0));
  return most;
}

class HeldBoundary : public KernelTest {};

// Boundary-row noise of 3e-4 of the size, at sizes 1e-6 to 1e6, two seeds, at the origin and 1e4 x
// the size from it: every seam closes with the outer boundary held. The corners at each seam's end meet between the two held corners they
// came from (two bands' at their mean; the plane's straight side, which its two points cannot bend
// to the samples, keeps its own), every point of a held row but its two ends' corners and their
// neighbours stays as it came, no seam's largest angle (its ends included) ends more than a degree
// above where it began, and no net moves more than 3 x the largest gap closed on its sides. The
// held rows beside each band's corners left behind, the corners' moves over the rows' first steps
// (a thirtieth of the bands' width) tilted the band-to-band seam's ends by more than a degree.
TEST_F(HeldBoundary, SeamsEndingOnAHeldBoundaryClose) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (int run = 0; run < 4; ++run) {
      const unsigned seed = 1 + run % 2;
      const double far = run < 2 ? 0.0 : 1e4;
      SCOPED_TRACE(testing::Message() << "size " << scale << " seed " << seed << " far " << far);
      Group g;
      Lead(g, scale, 3e-4, seed);
      // Moved `far` times the lead's length from the origin.
      const double shift = far * kLength * scale;
      for (Bspline* s : g.srfs)
        for (int j = 0; j < NumCtrlV(s); ++j)
          for (int i = 0; i < NumCtrlU(s); ++i) s->X[j][i] += shift, s->Y[j][i] += shift, s->Z[j][i] += shift;
      const int n = g.size();
      double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
      for (const Bspline* s : g.srfs)
        for (int j = 0; j < NumCtrlV(s); ++j)
          for (int i = 0; i < NumCtrlU(s); ++i) {
            const double p[3] = {s->X[j][i], s->Y[j][i], s->Z[j][i]};
            for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], p[c]), hi[c] = std::max(hi[c], p[c]);
          }
      const double size = std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
      const double maxGap = 1.5e-3 * size, healGap = 1e-5 * size;

      std::vector<std::vector<double>> nets;
      std::vector<double> gap, angle;  // per seam: its gap and its largest angle
      double corners[2][2][2][3];  // seam, end, side (A, B)
      for (const Bspline* s : g.srfs) nets.push_back(Net(s));
      for (int k = 0; k < 2; ++k) {
        const Seam& s = kSeams[k];
        gap.push_back(RefGap(g.srfs[s.a], s.sideA, g.srfs[s.b], s.sideB));
        angle.push_back(LargestAngle(g, s));
        for (int end : {0, 1}) {
          Corner(g.srfs[s.a], s.sideA, end, corners[k][end][0]);
          Corner(g.srfs[s.b], s.sideB, end, corners[k][end][1]);
        }
      }

      ASSERT_EQ(MakeTopologyZK(g.data(), n, maxGap, 8.0), 0);
      int** result = allocate_matrix_ih(n, 4);
      const std::vector<int> fixed(n, 0);
      EXPECT_EQ(HealTopologyZK(g.data(), n, fixed.data(), 1, 1, healGap, 0.1, 1, result), 0);
      for (int i = 0; i < n; ++i)
        for (int side : {2, 4}) EXPECT_EQ(result[i][side - 1], -3) << "surface " << i << " side " << side;
      matrix_free_ih(result);
      CleanupTopology();

      std::vector<double> closedOn(n, 0.0);
      for (int k = 0; k < 2; ++k) {
        const Seam& s = kSeams[k];
        SCOPED_TRACE(testing::Message() << "seam " << k);
        EXPECT_LE(RefGap(g.srfs[s.a], s.sideA, g.srfs[s.b], s.sideB), healGap);
        // The held corners at the seam's ends meet too: their distance is a gap closed.
        const double closed = std::max({gap[k], Dist(corners[k][0][0], corners[k][0][1]),
                                        Dist(corners[k][1][0], corners[k][1][1])});
        closedOn[s.a] = std::max(closedOn[s.a], closed);
        closedOn[s.b] = std::max(closedOn[s.b], closed);
        EXPECT_LE(LargestAngle(g, s), angle[k] + 1.0);
        for (int end : {0, 1}) {
          double a[3], b[3];
          Corner(g.srfs[s.a], s.sideA, end, a);
          Corner(g.srfs[s.b], s.sideB, end, b);
          const double* ca = corners[k][end][0];
          const double* cb = corners[k][end][1];
          EXPECT_LE(Dist(a, b), healGap) << "end " << end;
          EXPECT_LE(Dist(a, ca) + Dist(a, cb), Dist(ca, cb) + healGap) << "end " << end;
          if (k == 1) {
            const double mean[3] = {0.5 * (ca[0] + cb[0]), 0.5 * (ca[1] + cb[1]), 0.5 * (ca[2] + cb[2])};
            EXPECT_LE(Dist(a, mean), healGap) << "end " << end;
          }
        }
      }
      for (int i = 0; i < n; ++i) {
        const Bspline* s = g.srfs[i];
        const std::vector<double> now = Net(s);
        const int nu = NumCtrlU(s), nv = NumCtrlV(s), count = nu * nv;
        double moved = 0.0;
        for (int q = 0; q < count; ++q) {
          moved = std::max(moved, std::hypot(now[q] - nets[i][q], now[count + q] - nets[i][count + q],
                                             now[2 * count + q] - nets[i][2 * count + q]));
          const int u = q % nu, v = q / nu;
          if ((v == 0 || v == nv - 1) && u > 1 && u < nu - 2) {
            EXPECT_EQ(now[q], nets[i][q]) << "surface " << i << " held point " << u << " " << v;
            EXPECT_EQ(now[count + q], nets[i][count + q]) << "surface " << i << " held point " << u << " " << v;
            EXPECT_EQ(now[2 * count + q], nets[i][2 * count + q]) << "surface " << i << " held point " << u << " " << v;
          }
        }
        EXPECT_LE(moved, 3.0 * closedOn[i]) << "surface " << i;
      }
    }
}

}  // namespace
}  // namespace healtest
