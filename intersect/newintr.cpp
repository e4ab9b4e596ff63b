#include "intersect/newintr.h"

void NewAddBboxMargins(double box[6], double size) {
  for (int k = 0; k < 3; ++k) {
    const double m = 0.1 * (box[k + 3] - box[k]) + 1e-6 * size;
    box[k] -= m;
    box[k + 3] += m;
  }
}
