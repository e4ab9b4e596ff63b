// Frames that carry data to unit size about their centroid and back. Fits, recognition and
// approximations whose weights and thresholds are set for data of unit size near the origin
// work on a copy in such a frame and map their answer back, so that the same data of any size,
// anywhere in space, give the same answer in their own units (to the round-off of the inputs):
// moved 1e4 x its size from the origin, a part keeps the digits its shape needs.
#pragma once

// unit = (model - centre) / size, model = centre + size unit; size > 0 and finite.
struct UnitFrame {
  double centre[3];
  double size;
};

// The frame of n >= 1 points: centre their centroid, size the longest side of their box (of the
// x, y box with planOnly, the frame a height field is fitted in); size 1 for points of no extent
// or of an extent that is not finite. n < 1 or a null array gives the identity frame.
UnitFrame UnitFrameOfPoints(const double* x, const double* y, const double* z, int n, bool planOnly);
UnitFrame UnitFrameOfPointsF(const float* x, const float* y, const float* z, int n, bool planOnly);
// The identity frame (centre 0, size 1).
UnitFrame IdentityUnitFrame();

// In place, n points of parallel arrays: model -> unit, and unit -> model.
void PointsToUnitFrame(const UnitFrame& f, double* x, double* y, double* z, int n);
void PointsFromUnitFrame(const UnitFrame& f, double* x, double* y, double* z, int n);
// One point, out may be p.
void PointToUnitFrame(const UnitFrame& f, const double p[3], double out[3]);
void PointFromUnitFrame(const UnitFrame& f, const double p[3], double out[3]);
