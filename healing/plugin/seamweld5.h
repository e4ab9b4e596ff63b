// The plug-in's host layer: the four entry points the host calls, the per-context instance
// record, the conversion between host NURBS surfaces and kernel B-splines, and the report.
#pragma once

#include "platform/saa.h"

struct Bspline;

// Status of the plug-in's own failures; every other non-zero status is the host's, passed on.
constexpr int kSeamWeldFailure = 95;

// Items of the effect's dialog as the host numbers them. The OK button's callback reads the
// report switch, the four tolerances, and the four continuity switches in the order the
// continuity rule applies them.
enum SeamWeldDialogItem : int {
  kItemOk = 1,
  kItemReport = 12,
  kItemMaxGap = 14,
  kItemMaxAngle = 16,
  kItemHealGap = 18,
  kItemHealAngle = 20,
  kItemPosition = 22,
  kItemTangency = 23,
  kItemCurvature = 24,
  kItemNone = 25,
};

// Continuity at the group's outer boundary.
enum SeamWeldContinuity : short { kContNone = -1, kContPosition = 0, kContTangency = 1, kContCurvature = 2 };

struct SeamWeldInstance {
  SAA_Scene scene;
  int nPicks;
  SAA_Elem* picks;     // owned, nPicks records
  short report;        // "DUMP": print the healing report after a heal
  double maxGap;       // topology tolerances
  double maxAngle;     // degrees
  double healGap;      // healing targets
  double healAngle;    // degrees
  short continuity;
  int updateCount;
};

// The four entry points the host calls (docs/host.md). Each returns 0, 95 for the plug-in's own
// failure (after a message on standard error), or the status of a host call that failed.
extern "C" {
__attribute__((visibility("default"))) int initSeamWeld(SAA_CustomContext ctx);
__attribute__((visibility("default"))) int editSeamWeld(SAA_CustomContext ctx);
__attribute__((visibility("default"))) int updateSeamWeld(SAA_CustomContext ctx);
__attribute__((visibility("default"))) int cleanupSeamWeld(SAA_CustomContext ctx);
}

// The dialog's OK: reads the dialog's items into the instance and rebuilds the topology; 0, 95 or
// a host status.
int OkCallback(SAA_Dialog dialog, int ignored, void* instance);
// Reads the custom values into the instance: a switch the effect does not define is off, a
// tolerance it does not define gives 95 with a message naming it; a failing host call returns
// its status. 0 when every value was read.
int Getvalues(SAA_CustomContext ctx, SeamWeldInstance* instance);
// 95 when two of the n picks name the same surface (their first three words agree), else 0.
int CheckArgs(int n, const SAA_Elem* picks);

// One run: converts every pick (SAA2ZK) and inverts its deformation matrix, then builds the
// topology (buildMode non-zero) or heals and writes every surface back. Refused with 95 and a
// message before anything is read: a MAXGAP, HEALGAP or HEALANGLE that is not a finite number
// above 0, a MAXANGLE that is not a finite number of at least 0. Refused with 95 and a message
// after the conversion, before anything is built or healed: a MAXGAP above a quarter of the
// group's shortest boundary curve (collapsed sides left out), at which a surface's own
// boundaries would pair. A failing host call returns its status; a matrix without an inverse,
// or one whose inverse a float cannot hold, gives 95; both stop the run before anything is
// written. A failed heal writes nothing and returns the heal's status. When the vertices of
// some surface cannot be made (memory, or healed points a float cannot hold) nothing is
// written and the run gives 95. When the host refuses a write-back, the surfaces already
// written are written back as they were read (one a host refuses to take back is named on
// standard error and at the end of the report) and the refusal's status is returned. Whenever nothing of the heal is
// written, the report calls no side healed.
int DupNurbs(const SAA_Scene* scene, const SAA_Elem* picks, int hostConstant, short buildMode, short report, int n,
             double maxGap, double maxAngle, double healGap, double healAngle, short continuity);
// Host surface into a kernel record in world space. 95 for a null argument, a closed surface,
// a weight other than 1, inconsistent degrees and counts, decreasing knots, an empty domain, any
// knot, vertex value or matrix entry that is not finite in single precision (also after the
// transform), or a failed allocation; every refusal of the host's data writes one message that
// says what is wrong. A failing host call returns its status after its message.
int SAA2ZK(const SAA_Scene* scene, Bspline* out, const SAA_Elem* element, int hostConstant, int zero, short report,
           const float matrix[16]);
// Control points back into the host surface. 95, with nothing written, for a null argument, a
// failed allocation, or a control point that is not finite in single precision before or after
// the inverse; a failing host call returns its status.
int ZK2SAA(const SAA_Scene* scene, const Bspline* srf, const SAA_Elem* element, int hostConstant, short report,
           const float inverse[16]);

// Writes the text of a result code (0 to -6) into a 256-character buffer; 95 for other codes.
int GetHealingCodeString(int code, char* text);
// Prints the per-side report of n surfaces (result columns: sides u-min, v-min, u-max, v-max);
// 95 for a null argument or n below 1, else 0.
int PrintHealingResult(char** names, int n, int** result);
// The same, each side followed by why it is open where reasons (n x 4, kBndrOpen... kinds and the
// plug-in's own, 0 for none; null: none at all) gives one; `precision` (the group's farthest
// coordinate from the origin and the single-precision spacing there) gives the figures of the
// single-precision reasons.
int PrintHealingReport(char** names, int n, int** result, int** reasons, const double precision[2] = nullptr);
