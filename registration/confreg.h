// Registration constraints: which rigid motions a registration step may still use, as a record
// and as an integer mode, and the angle tolerance with the parallel and perpendicular tests all
// registration solvers share.
#pragma once

// Process-wide angle tolerance of the direction tests, degrees; 1.0 until SetRegAngleTol.
extern double angleTol;

// Stores the tolerance unchecked (a negative one makes both tests answer 0). Returns 0.
int SetRegAngleTol(double tolerance);
// 1 when the angle between u and w is within angleTol of 90 degrees (strictly), or when either is
// shorter than 1e-6 (a vanishing vector is perpendicular to everything).
int AreTwoVecsPerpendicular(const double u[3], const double w[3]);
// 1 when u and w are parallel or opposite within angleTol (inclusive); 0 when either is shorter
// than 1e-6 (a vanishing vector is parallel to nothing).
int AreTwoVecsParallel(const double u[3], const double w[3]);

struct RegConstraint {
  int kind;           // 0 no rotation, 1 half turn about the axis line, 2 about an axis,
                      // 3 about an axis with turn-overs, 4 about a point
  int centreFreedom;  // 0 fixed .. 3 free: how the rotation centre may still move
  int transFreedom;   // 0 none, 1 along transDir, 2 in the plane normal to transNormal, 3 free
  double point[3];    // rotation centre; a point on the axis for the axis kinds
  double axis[3];     // unit axis direction
  double axisPoint1[3];
  double axisPoint2[3];
  double plane[4];  // a, b, c, d of the plane through point normal to the axis
  double transDir[3];
  double transNormal[3];
};

// 16 kind + 4 centreFreedom + transFreedom; the modes that have solvers.
enum class RegConstraintMode : int {
  Fixed = 0,
  TransLine = 1,
  Trans2D = 2,
  Trans3D = 15,
  RotLine180Fixed = 16,
  RotLine180C1T1 = 21,
  ArFixed = 32,
  ArC1T1 = 37,
  ArC3T3 = 47,
  FarFixed = 48,
  FarC1T1 = 53,
  FarC2T2 = 58,
  RotPoint = 64,
  Free = 79,
};

// Mode Free (kind 4, both counts 3) with every double 0. -2 for null.
int SetNullRegConstraint(RegConstraint* c);
// A new tracked record set by SetNullRegConstraint, released with Free; null when memory ran out.
RegConstraint* MallocNullRegConstraint();
// -2 when either pointer is null.
int CopyRegConstraint(const RegConstraint* from, RegConstraint* to);
// The part of the offset d that the constraint's translation freedom allows, added to t: along
// the unit transDir (1), in the plane normal to transNormal (2), all of it (3), nothing (0 and
// other values). Shared by the start motions and the constrained closed forms.
void AddConstrainedTranslation(const RegConstraint* c, const double d[3], double t[3]);
// Always 1.
int IsValidRegConstraint(RegConstraint c);
// 16 kind + 4 centreFreedom + transFreedom; -1 for a kind outside 0..4 or a count outside 0..3,
// which no dispatcher accepts (otherwise such fields would alias a valid mode).
int GetRegConstraintMode(RegConstraint c);
