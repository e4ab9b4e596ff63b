#include "registration/confreg.h"

#include <cmath>

#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "registration/stepreg.h"

double angleTol = 1.0;

int SetRegAngleTol(double tolerance) {
  angleTol = tolerance;
  return 0;
}

int AreTwoVecsPerpendicular(const double u[3], const double w[3]) {
  if (VecSize3(u) < 1e-6 || VecSize3(w) < 1e-6) return 1;
  double a[3], b[3];
  VecNormalize3(u, a);
  VecNormalize3(w, b);
  double alpha = std::fabs(FindAngleVectors3(a, b));
  if (alpha > 180.0) alpha = 360.0 - alpha;
  return std::fabs(90.0 - alpha) < angleTol ? 1 : 0;
}

int AreTwoVecsParallel(const double u[3], const double w[3]) {
  if (VecSize3(u) < 1e-6 || VecSize3(w) < 1e-6) return 0;
  double alpha = std::fabs(FindAngleVectors3(u, w));
  if (alpha > 90.0) alpha = 180.0 - alpha;
  return alpha <= angleTol ? 1 : 0;
}

int SetNullRegConstraint(RegConstraint* c) {
  if (!c) return -2;
  *c = RegConstraint{};
  c->kind = 4;
  c->centreFreedom = 3;
  c->transFreedom = 3;
  return 0;
}

RegConstraint* MallocNullRegConstraint() {
  RegConstraint* c = MallocArray<RegConstraint>(1);
  if (!c || KernelFailed()) {
    Free(c);
    return nullptr;
  }
  SetNullRegConstraint(c);
  return c;
}

int CopyRegConstraint(const RegConstraint* from, RegConstraint* to) {
  if (!from || !to) return -2;
  *to = *from;
  return 0;
}

int IsValidRegConstraint(RegConstraint) { return 1; }

int GetRegConstraintMode(RegConstraint c) {
  if (c.kind < 0 || c.kind > 4 || c.centreFreedom < 0 || c.centreFreedom > 3 || c.transFreedom < 0 ||
      c.transFreedom > 3)
    return -1;
  return 16 * c.kind + 4 * c.centreFreedom + c.transFreedom;
}

void AddConstrainedTranslation(const RegConstraint* c, const double d[3], double t[3]) {
  double w[3], move[3] = {0.0, 0.0, 0.0};
  switch (c->transFreedom) {
    case 1: {
      VecNormalize3(c->transDir, w);
      const double s = VecDotProd3(d, w);
      for (int k = 0; k < 3; ++k) move[k] = s * w[k];
      break;
    }
    case 2: {
      VecNormalize3(c->transNormal, w);
      double along[3];
      VecProject3(d, w, along);
      for (int k = 0; k < 3; ++k) move[k] = d[k] - along[k];
      break;
    }
    case 3:
      for (int k = 0; k < 3; ++k) move[k] = d[k];
      break;
    default:
      break;
  }
  for (int k = 0; k < 3; ++k) t[k] += move[k];
}
