// The stored boundary topology of a surface group and the heal driver that works against it.
#pragma once

struct Bspline;

int MakeTopologyZK(Bspline** srfs, int n, double maxGap, double maxAngle);
int HealTopologyZK(Bspline** srfs, int n, const int* fixed, int continuity, int bFixedSamples, double healGap,
                   double healAngle, int report, int** result);
int CleanupTopology();
