// Internal to platform/ and the tests: the control surface of the stand-in host scene, for tests
// and the demo host: build a scene of named NURBS surfaces, make custom contexts with picks,
// custom values and dialog items, press the dialog's OK, read back what the plug-in wrote, and
// make chosen host calls fail. Not installed.
#pragma once

#include <string>
#include <vector>

#include "platform/saa.h"

struct SAAStubSurface {
  std::string name;
  int degreeU = 3, degreeV = 3;
  int closedU = 0, closedV = 0;
  // Host knot vectors: a clamped vector less its outermost knot at each end, so
  // (control points + degree - 1) values. Stored as given; the host does not check them.
  std::vector<double> knotsU, knotsV;
  int countU = 0, countV = 0;     // net size
  std::vector<double> vertices;   // {x, y, z, w}, u fastest
  float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // row vectors
};

// Empties the scene, the contexts, the dialog and every scheduled failure.
void SAAStubReset();

// Adds a surface to the scene; returns its element index.
int SAAStubAddSurface(const SAAStubSurface& surface);
// The surface of an element index, as the plug-in last wrote it (the reference stays valid until
// the next SAAStubAddSurface or SAAStubReset).
SAAStubSurface& SAAStubSurfaceAt(int element);
// Surfaces in the scene.
int SAAStubSurfaceCount();
// The element record under which the surface is picked.
SAA_Elem SAAStubElement(int element);

// A new custom context, without picks, custom values or dialog items.
SAA_CustomContext SAAStubCreateContext();
// Adds an element to the context's picks (its results).
void SAAStubPick(SAA_CustomContext ctx, int element);
// The pick SAA_customContextGetCurrentResultIndex reports as changed.
void SAAStubSetCurrentResult(SAA_CustomContext ctx, int index);
// Defines a custom value of the effect: a state (switch) or a float. A name never defined
// answers SAA_ERR_NOT_FOUND.
void SAAStubSetCustomState(SAA_CustomContext ctx, const std::string& name, short value);
void SAAStubSetCustomFloat(SAA_CustomContext ctx, const std::string& name, float value);
// The instance data the plug-in registered for the context (null when none).
void* SAAStubInstanceData(SAA_CustomContext ctx);

// Sets a dialog item of the context's effect dialog, as the user would before pressing OK.
void SAAStubSetDialogState(SAA_CustomContext ctx, int item, short value);
void SAAStubSetDialogFloat(SAA_CustomContext ctx, int item, float value);
// Calls the OK callback registered for the context; -1 when none is registered.
int SAAStubPressOK(SAA_CustomContext ctx);

// The k-th call (1 = the next one) of the named operation, counted from now, fails with status.
void SAAStubFailCall(const std::string& operation, int k, int status);
// The k-th call (1 = the next one) of the named operation runs out of memory inside the host
// (std::bad_alloc), which the call turns into SAA_ERR_MEMORY.
void SAAStubFailAllocation(const std::string& operation, int k);
// Calls of the named operation since the last reset.
int SAAStubCallCount(const std::string& operation);
