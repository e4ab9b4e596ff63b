#include "intersect/newintr.h"

#include "foundation/minmax.h"

void NewAddBboxMargins(double box[6], double size) { GrowBoxForOverlap(box, size); }
