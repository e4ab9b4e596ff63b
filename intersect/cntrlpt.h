// Direct-editing records: the display-grid record of a control-point edit and the plot record
// of the curvature display, declared in bspline/editrec.h beside the evaluators that fill them.
#pragma once

#include "bspline/editrec.h"
