// Corresponding features of a moving part (side A) and its target (side B): the feature record,
// the pair list that carries them, and the registration points derived from one, two or three
// features of one side.
//
// Every record comes from the tracked allocator and lives outside every tracking scope: a pair
// list and its features are released only by FreeFeaturePairList, point lists by FreePointList,
// the generators' point arrays by Free. Failures (-2 or null): null arguments, memory that ran
// out (the operation frees what it took), a point set without points, and feature types an
// operation does not handle (named with each).
#pragma once

#include "foundation/vec3.h"

struct RegFeature {
  RegFeature* next;  // for a list of features of its own (FreeFeatureList)
  int sourceKind;    // -1 fresh, 1 one point, 6 a line from two points, 7 a plane through a
                     // point, 11 owned point arrays
  int type;          // 0 point, 1 line, 2 directed line, 3 line fixed along itself, 4 plane,
                     // 5 direction, 6 point set
  double point[3];   // for lines the midpoint of the ends
  double dir[3];     // unit for lines; as given for a direction
  double end1[3];
  double end2[3];
  double plane[4];
  double* xs;  // point set coordinates (owned when sourceKind is 11)
  double* ys;
  double* zs;
  int count;
};

// A singly linked list; the Add operations push at the head, so it runs in reverse order of
// adding. The list owns its features.
struct RegPair {
  RegPair* next;
  RegFeature* A;  // moving side
  RegFeature* B;  // target side
};

// Points narrowed to float; the capacity is fixed at allocation and not stored.
struct PointList {
  int count;
  float* x;
  float* y;
  float* z;
};

// null for n < 1 or no memory.
PointList* AllocatePointList(int n);
void FreePointList(PointList* list);
// Frees owned point arrays, then the feature. -2 for null.
int FreeFeatureListEl(RegFeature* f);
int FreeFeatureList(RegFeature* f);
// Two fresh features (sourceKind -1, every coordinate 0) in a pair; null when memory ran out.
RegPair* AllocateNullRegPair();
// Copies everything but next; owned point arrays into new ones (-2 when count < 1 or no memory,
// the destination's arrays then null).
int CopyRegFeature(const RegFeature* from, RegFeature* to);
int CopyFeaturePair(const RegPair* from, RegPair* to);
// A new list in the same order; null for a null list or when any copy fails (nothing is kept:
// a partial copy would pass for the whole).
RegPair* CopyRegPairList(const RegPair* list);
// point and the ends as points, dir as a direction, the plane by the inverse of M (row-vector
// convention). Point arrays stay. -2 for null or a singular M (the feature then unchanged).
int XformRegFeature(RegFeature* f, const Xform M);
int FreeFeaturePairList(RegPair* list);
// -2 when the pair or a feature is null or the two differ in type.
int CheckFeaturePair(const RegPair* pair);
int CountFeaturePairList(const RegPair* list);

// The Add operations leave the list untouched when memory runs out (-2).
int AddPointFeaturePair(RegPair** head, const double pA[3], const double pB[3]);
// dir = unit(end2 - end1), point the midpoint.
int AddLineFeaturePair(RegPair** head, const double a1[3], const double a2[3], const double b1[3],
                       const double b2[3]);
int AddDLineFeaturePair(RegPair** head, const double a1[3], const double a2[3], const double b1[3],
                        const double b2[3]);
int AddDirectionFeaturePair(RegPair** head, const double dA[3], const double dB[3]);
int AddPlaneFeaturePair(RegPair** head, const double planeA[4], const double planeB[4]);

// Closest point of a point, line (infinite) or plane feature to p. -2 for other types or null.
int GetRegFeatureClstPoint(const double p[3], const RegFeature* f, double out[3], double* dist);
// Lines and directions: dir negated, ends swapped; planes also negate their four coefficients.
// Always 0.
int ReverseFeatureDirection(RegFeature* f);

// *out null first. Points and fixed lines give their point, point sets their points; other
// types nothing (0). -2 for a null feature or no memory.
int RegPointListFromSingleFeature(const RegFeature* f, PointList** out);
// Points that two features of one side determine (a point and its foot on a line or plane, the
// closest points of two lines, where a line meets a plane, ...); nothing for a direction.
// -2 for a null feature, a failed generator or no memory.
int RegPointListFromFeaturePair(const RegFeature* f1, const RegFeature* f2, PointList** out);
// The common point of three planes: nothing unless the first two make at least minAngle degrees
// and their line is at least minAngle off the third. -2 only for no memory.
int RegPointListFrom3Features(const RegFeature* f1, const RegFeature* f2, const RegFeature* f3, double minAngle,
                              PointList** out);

// The generators write *points (count x, y, z triples, freed by the caller with Free) or null
// with count 0 when the features give no point. -2 for a null feature, a direction or unknown
// type, a point set without points, a line of no length that must meet a plane, or no memory.
int NewGenRegPntsWLineAndFeature(const double L1[3], const double L2[3], const RegFeature* f, double** points,
                                 int* count);
int NewGenRegPntsWithDLineAndFeature(const double L1[3], const double L2[3], const RegFeature* f, double** points,
                                     int* count);
int GenRegPntsWPlaneAndFeature(const double plane[4], const RegFeature* f, double** points, int* count);
