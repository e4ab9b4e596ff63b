// Shared pieces of intersection by subdivision: the margin that makes box pruning safe.
#pragma once

// Grows each axis of the box (minimum x, y, z, maximum x, y, z) by 10 percent of its extent
// plus 1e-6 of size, the size of the objects being intersected (their box diagonal), so that
// pieces touching only at a face, and flat pieces, still overlap at every unit of length.
void NewAddBboxMargins(double box[6], double size = 1.0);
