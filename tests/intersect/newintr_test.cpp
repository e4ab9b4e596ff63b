// Box margins of intersection by subdivision: every axis grows by a tenth of its extent plus a
// millionth of the objects' size, so flat pieces and pieces meeting at a face overlap, and the
// margins scale with the input.
#include <cmath>

#include "intersect/newintr.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BoxMargins : public KernelTest {};

bool Overlap(const double a[6], const double b[6]) {
  for (int k = 0; k < 3; ++k)
    if (a[k] > b[k + 3] || b[k] > a[k + 3]) return false;
  return true;
}

TEST_F(BoxMargins, FlatAndTouchingPiecesOverlapAtEveryScale) {
  for (double scale : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    // Two flat pieces in the plane z = 0 that meet along x = 1, and one a size away in z.
    double left[6] = {0, 0, 0, 1, 1, 0}, right[6] = {1, 0, 0, 2, 1, 0};
    double above[6] = {1, 0, 1, 2, 1, 1};
    double grown[6];
    for (double* b : {left, right, above})
      for (int k = 0; k < 6; ++k) b[k] *= scale;
    for (int k = 0; k < 6; ++k) grown[k] = left[k];
    const double size = 2.0 * scale;
    NewAddBboxMargins(grown, size);
    for (int k = 0; k < 3; ++k) {
      const double extent = left[k + 3] - left[k], m = 0.1 * extent + 1e-6 * size;
      EXPECT_NEAR(grown[k], left[k] - m, 1e-15 * scale) << scale;
      EXPECT_NEAR(grown[k + 3], left[k + 3] + m, 1e-15 * scale) << scale;
    }
    EXPECT_GT(grown[5] - grown[2], 0.0) << scale;  // the flat axis has room
    NewAddBboxMargins(right, size);
    EXPECT_TRUE(Overlap(grown, right)) << scale;
    NewAddBboxMargins(above, size);
    EXPECT_FALSE(Overlap(grown, above)) << scale;  // margins stay small against the size
  }
}

}  // namespace
