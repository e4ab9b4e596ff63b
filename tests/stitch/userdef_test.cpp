// Control points fixed by boundary curves: the ring of a net from the four position curves, the
// first side to reach a point gives its value, the inner rows from the first and second row
// curves, and curves too short for their side refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "stitch/userdef.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class HeldByCurves : public KernelTest {};

// A straight 3D curve of n control points whose z values are tag + k, so each held value tells
// which curve and which of its points gave it.
Bspline* Tagged(int n, double tag) {
  std::vector<double> pts;
  for (int k = 0; k < n; ++k) pts.insert(pts.end(), {double(k), 0.0, tag + k});
  return BuildCurve(1, 3, pts);
}

struct Held {
  std::vector<int> index;
  std::vector<double> value;
};

Held HeldPoints(Bspline* pos[4], Bspline* d1[4], Bspline* d2[4], int flags[4], int nU, int nV) {
  double* values = nullptr;
  int* indices = nullptr;
  int count = -1;
  Held h;
  if (GetCntrlPtsToFix(pos, d1, d2, flags, &values, &indices, &count, nU, nV) != 0) return h;
  h.index.assign(indices, indices + count);
  h.value.assign(values, values + count);
  Free(values);
  Free(indices);
  return h;
}

TEST_F(HeldByCurves, RingAndInnerRowsOfAFourByFourNetFirstSideWins) {
  BsplineKeeper keep;
  Bspline* pos[4];
  Bspline* d1[4];
  Bspline* none[4] = {};
  for (int i = 0; i < 4; ++i) {
    pos[i] = keep(Tagged(4, 100.0 * i));
    d1[i] = keep(Tagged(4, 100.0 * i + 50.0));
  }
  int flags[4] = {0, 0, 0, 0};
  // Position curves only: the twelve ring points, ascending; corners from side 0, then side 1.
  Held ring = HeldPoints(pos, none, none, flags, 4, 4);
  const std::vector<int> ringIdx = {0, 1, 2, 3, 4, 7, 8, 11, 12, 13, 14, 15};
  EXPECT_EQ(ring.index, ringIdx);
  // side 0 walks 0, 4, 8, 12; side 1 walks 12..15; side 2 walks 3, 7, 11, 15; side 3 walks 0..3.
  const std::vector<double> ringVal = {0, 301, 302, 200, 1, 201, 2, 202, 3, 101, 102, 103};
  EXPECT_EQ(ring.value, ringVal);
  // First rows as well: 5 and 9 from side 0, 10 from side 1, 6 from side 2, none from side 3.
  Held inner = HeldPoints(pos, d1, none, flags, 4, 4);
  ASSERT_EQ(inner.index.size(), 16u);
  EXPECT_EQ(inner.value[5], 51);
  EXPECT_EQ(inner.value[9], 52);
  EXPECT_EQ(inner.value[10], 152);
  EXPECT_EQ(inner.value[6], 251);
  // Side 0 switched off: its line comes from sides 1 and 3 at the corners only.
  int off[4] = {-1, 0, 0, 0};
  Held open = HeldPoints(pos, none, none, off, 4, 4);
  const std::vector<int> openIdx = {0, 1, 2, 3, 7, 11, 12, 13, 14, 15};
  EXPECT_EQ(open.index, openIdx);
  EXPECT_EQ(open.value[0], 300);  // corner 0 from side 3
  EXPECT_EQ(open.value[6], 100);  // corner 12 from side 1
  EXPECT_FALSE(KernelFailed());
}

TEST_F(HeldByCurves, SecondRowsStayInsideTheNetAndShortCurvesAreRefused) {
  BsplineKeeper keep;
  const int nU = 7, nV = 6;
  Bspline *pos[4], *d1[4], *d2[4];
  for (int i = 0; i < 4; ++i) {
    const int len = i % 2 ? nU : nV;
    pos[i] = keep(Tagged(len, 100.0 * i));
    d1[i] = keep(Tagged(len, 100.0 * i + 30.0));
    d2[i] = keep(Tagged(len, 100.0 * i + 60.0));
  }
  int flags[4] = {2, 2, 2, 2};
  Held all = HeldPoints(pos, d1, d2, flags, nU, nV);
  // Three lines deep on every side of a 7 x 6 net: indices ascending, each once, in the net.
  std::vector<char> seen(nU * nV, 0);
  for (size_t k = 0; k < all.index.size(); ++k) {
    ASSERT_GE(all.index[k], 0);
    ASSERT_LT(all.index[k], nU * nV);
    if (k) {
      EXPECT_LT(all.index[k - 1], all.index[k]);
    }
    seen[all.index[k]] = 1;
  }
  // The point two in from the u-min side on row 2 comes from side 0's second row, point 2.
  EXPECT_EQ(all.value[std::find(all.index.begin(), all.index.end(), 2 * nU + 2) - all.index.begin()],
            62);
  // Every point of the net is reached: rows 0..2 from side 3, rows 3..5 from side 1.
  for (int k = 0; k < nU * nV; ++k) EXPECT_TRUE(seen[k]) << k;
  // A position curve shorter than its side would be read past its end: refused, nothing out.
  Bspline* shortPos[4] = {pos[0], keep(Tagged(nU - 1, 0.0)), pos[2], pos[3]};
  double* values = reinterpret_cast<double*>(1);
  int* indices = reinterpret_cast<int*>(1);
  int count = 5;
  EXPECT_EQ(GetCntrlPtsToFix(shortPos, d1, d2, flags, &values, &indices, &count, nU, nV), -2);
  EXPECT_EQ(values, nullptr);
  EXPECT_EQ(indices, nullptr);
  EXPECT_EQ(count, 0);
}

}  // namespace
