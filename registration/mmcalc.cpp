#include "registration/mmcalc.h"

#include <cmath>

#include "foundation/vec3.h"

float AbsAngle(float a) {
  float m = std::fabs(a);
  return m <= 90.0f ? m : 180.0f - m;
}

int PointOnLine(const double line[6], const double base[3], float d, double out[3]) {
  double dir[3] = {line[3] - line[0], line[4] - line[1], line[5] - line[2]};
  double n = VecSize3(dir);
  for (int k = 0; k < 3; ++k) out[k] = base[k] + (n > 0.0 ? d * dir[k] / n : 0.0);
  return 0;
}
