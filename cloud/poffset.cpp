#include "cloud/poffset.h"

void ComputeCorrelationMatrix(const float* x, const float* y, const float* z, int n, double** M) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) M[r][c] = 0.0;
  // Two-level sums: a partial sum of at most ~10000 products is added into M, so that a large
  // cloud does not lose the small late terms against one huge running total.
  double s[6] = {0, 0, 0, 0, 0, 0};  // xx, xy, xz, yy, yz, zz
  int pending = 0;
  auto flush = [&] {
    M[0][0] += s[0];
    M[0][1] += s[1];
    M[0][2] += s[2];
    M[1][1] += s[3];
    M[1][2] += s[4];
    M[2][2] += s[5];
    for (double& v : s) v = 0.0;
    pending = 0;
  };
  for (int i = 0; i < n; ++i) {
    const double px = x[i], py = y[i], pz = z[i];
    s[0] += px * px;
    s[1] += px * py;
    s[2] += px * pz;
    s[3] += py * py;
    s[4] += py * pz;
    s[5] += pz * pz;
    if (++pending > 10000) flush();
  }
  flush();
  for (int r = 0; r < 3; ++r)
    for (int c = r; c < 3; ++c) M[r][c] /= n;
  M[1][0] = M[0][1];
  M[2][0] = M[0][2];
  M[2][1] = M[1][2];
}
