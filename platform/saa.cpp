#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "platform/saa.h"
#include "platform/saa_control.h"

struct SAA_DialogRec {
  std::map<int, short> states;
  std::map<int, float> floats;
};

struct SAA_CustomValueListRec {
  std::map<std::string, short> states;
  std::map<std::string, float> floats;
};

struct SAA_CustomContextRec {
  void* instance = nullptr;
  std::vector<SAA_Elem> picks;
  int current = 0;
  SAA_CustomValueListRec values;
  SAA_DialogRec dialog;
  SAA_DialogCallback callback = nullptr;
  void* callbackData = nullptr;
};

namespace {

constexpr int kElementTag = 0x5357;  // second word of every element record

struct HostState {
  std::vector<SAAStubSurface> surfaces;
  std::vector<std::unique_ptr<SAA_CustomContextRec>> contexts;
  std::map<std::string, int> calls;
  std::map<std::string, std::map<int, int>> failures;  // operation -> call number -> status
  int pickSerial = 0;
};

HostState& Host() {
  static HostState state;
  return state;
}

// A scheduled failure with this status runs the host out of memory inside the call.
constexpr int kOutOfMemory = INT_MIN;

// Counts the call and returns the injected status, 0 when none is due.
int Enter(const char* operation) {
  HostState& h = Host();
  int n = ++h.calls[operation];
  auto it = h.failures.find(operation);
  if (it == h.failures.end()) return SAA_SUCCESS;
  auto due = it->second.find(n);
  if (due == it->second.end()) return SAA_SUCCESS;
  int status = due->second;
  it->second.erase(due);
  return status;
}

SAAStubSurface* Surface(const SAA_Scene* scene, const SAA_Elem* elem) {
  if (!scene || !elem || elem->words[1] != kElementTag) return nullptr;
  int index = elem->words[0] - 1;
  if (index < 0 || index >= static_cast<int>(Host().surfaces.size())) return nullptr;
  return &Host().surfaces[index];
}

// Runs one host call. The host's API is C: no exception may leave it. The stand-in's containers
// (call counts, names, custom values) allocate, and their std::bad_alloc becomes the host's
// out-of-memory status.
template <class Body>
int Guarded(const char* operation, Body body) noexcept {
  try {
    const int injected = Enter(operation);
    if (injected == kOutOfMemory) throw std::bad_alloc();
    if (injected) return injected;
    return body();
  } catch (const std::bad_alloc&) {
    return SAA_ERR_MEMORY;
  }
}

bool KnownContext(SAA_CustomContext ctx) {
  for (auto& c : Host().contexts)
    if (c.get() == ctx) return true;
  return false;
}

}  // namespace

extern "C" {

int SAA_sceneInitInternal(const char* sdkVersion) {
  return Guarded("SAA_sceneInitInternal", [&]() -> int {
    if (!sdkVersion) return SAA_ERR_ARGUMENT;
    return std::strcmp(sdkVersion, "SDKv1.70.3") == 0 ? SAA_SUCCESS : SAA_ERR_VERSION;
  });
}

int SAA_sceneGetCurrent(SAA_Scene* scene) {
  return Guarded("SAA_sceneGetCurrent", [&]() -> int {
    if (!scene) return SAA_ERR_ARGUMENT;
    *scene = SAA_Scene{1, {0, 0, 0}};
    return SAA_SUCCESS;
  });
}

int SAA_sceneGetPlayCtrlCurrentFrame(const SAA_Scene* scene, float* frame) {
  return Guarded("SAA_sceneGetPlayCtrlCurrentFrame", [&]() -> int {
    if (!scene || !frame) return SAA_ERR_ARGUMENT;
    *frame = 0.0f;
    return SAA_SUCCESS;
  });
}

int SAA_customContextSetInstanceData(SAA_CustomContext ctx, void* instance) {
  return Guarded("SAA_customContextSetInstanceData", [&]() -> int {
    if (!KnownContext(ctx)) return SAA_ERR_ARGUMENT;
    ctx->instance = instance;
    return SAA_SUCCESS;
  });
}

int SAA_customContextGetInstanceData(SAA_CustomContext ctx, void** instance) {
  return Guarded("SAA_customContextGetInstanceData", [&]() -> int {
    if (!KnownContext(ctx) || !instance) return SAA_ERR_ARGUMENT;
    *instance = ctx->instance;
    return SAA_SUCCESS;
  });
}

int SAA_customContextGetNbResults(SAA_CustomContext ctx, int* count) {
  return Guarded("SAA_customContextGetNbResults", [&]() -> int {
    if (!KnownContext(ctx) || !count) return SAA_ERR_ARGUMENT;
    *count = static_cast<int>(ctx->picks.size());
    return SAA_SUCCESS;
  });
}

int SAA_customContextGetResults(SAA_CustomContext ctx, int count, SAA_Elem* results) {
  return Guarded("SAA_customContextGetResults", [&]() -> int {
    if (!KnownContext(ctx) || count != static_cast<int>(ctx->picks.size()) || (count > 0 && !results))
      return SAA_ERR_ARGUMENT;
    for (int i = 0; i < count; ++i) results[i] = ctx->picks[i];
    return SAA_SUCCESS;
  });
}

int SAA_customContextGetCurrentResultIndex(SAA_CustomContext ctx, int* index) {
  return Guarded("SAA_customContextGetCurrentResultIndex", [&]() -> int {
    if (!KnownContext(ctx) || !index) return SAA_ERR_ARGUMENT;
    *index = ctx->current;
    return SAA_SUCCESS;
  });
}

int SAA_customContextGetCustomValueList(SAA_CustomContext ctx, SAA_CustomValueList* list) {
  return Guarded("SAA_customContextGetCustomValueList", [&]() -> int {
    if (!KnownContext(ctx) || !list) return SAA_ERR_ARGUMENT;
    *list = &ctx->values;
    return SAA_SUCCESS;
  });
}

int SAA_cusvalGetStateValue(SAA_CustomValueList list, const char* name, short* value) {
  return Guarded("SAA_cusvalGetStateValue", [&]() -> int {
    if (!list || !name || !value) return SAA_ERR_ARGUMENT;
    auto it = list->states.find(name);
    if (it == list->states.end()) return SAA_ERR_NOT_FOUND;
    *value = it->second;
    return SAA_SUCCESS;
  });
}

int SAA_cusvalGetFloatValue(SAA_CustomValueList list, const char* name, float* value) {
  return Guarded("SAA_cusvalGetFloatValue", [&]() -> int {
    if (!list || !name || !value) return SAA_ERR_ARGUMENT;
    auto it = list->floats.find(name);
    if (it == list->floats.end()) return SAA_ERR_NOT_FOUND;
    *value = it->second;
    return SAA_SUCCESS;
  });
}

int SAA_dialogitemAddCallback(SAA_CustomContext ctx, int item, SAA_DialogCallback callback, void* userData) {
  return Guarded("SAA_dialogitemAddCallback", [&]() -> int {
    if (!KnownContext(ctx) || item != 1 || !callback) return SAA_ERR_ARGUMENT;
    ctx->callback = callback;
    ctx->callbackData = userData;
    return SAA_SUCCESS;
  });
}

int SAA_dialogitemGetStateValue(SAA_Dialog dialog, int item, short* value) {
  return Guarded("SAA_dialogitemGetStateValue", [&]() -> int {
    if (!dialog || !value) return SAA_ERR_ARGUMENT;
    auto it = dialog->states.find(item);
    if (it == dialog->states.end()) return SAA_ERR_NOT_FOUND;
    *value = it->second;
    return SAA_SUCCESS;
  });
}

int SAA_dialogitemGetFloatValue(SAA_Dialog dialog, int item, float* value) {
  return Guarded("SAA_dialogitemGetFloatValue", [&]() -> int {
    if (!dialog || !value) return SAA_ERR_ARGUMENT;
    auto it = dialog->floats.find(item);
    if (it == dialog->floats.end()) return SAA_ERR_NOT_FOUND;
    *value = it->second;
    return SAA_SUCCESS;
  });
}

int SAA_elementGetNameLength(const SAA_Scene* scene, const SAA_Elem* elem, int* length) {
  return Guarded("SAA_elementGetNameLength", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !length) return SAA_ERR_ARGUMENT;
    *length = static_cast<int>(s->name.size());
    return SAA_SUCCESS;
  });
}

int SAA_elementGetName(const SAA_Scene* scene, const SAA_Elem* elem, int size, char* name) {
  return Guarded("SAA_elementGetName", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !name || size < static_cast<int>(s->name.size()) + 1) return SAA_ERR_ARGUMENT;
    std::memcpy(name, s->name.c_str(), s->name.size() + 1);
    return SAA_SUCCESS;
  });
}

int SAA_modelGetDeformationMatrix(const SAA_Scene* scene, const SAA_Elem* elem, float matrix[16]) {
  return Guarded("SAA_modelGetDeformationMatrix", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !matrix) return SAA_ERR_ARGUMENT;
    std::memcpy(matrix, s->matrix, sizeof s->matrix);
    return SAA_SUCCESS;
  });
}

int SAA_matrixInvert(const float in[16], float out[16]) {
  return Guarded("SAA_matrixInvert", [&]() -> int {
    if (!in || !out) return SAA_ERR_ARGUMENT;
    // Gauss-Jordan with partial pivoting in double, rounded to float like the host's matrices.
    double a[4][8];
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 8; ++c) a[r][c] = c < 4 ? in[r * 4 + c] : (c - 4 == r ? 1.0 : 0.0);
    for (int c = 0; c < 4; ++c) {
      int pivot = c;
      for (int r = c + 1; r < 4; ++r)
        if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
      if (std::fabs(a[pivot][c]) < 1e-12) return SAA_ERR_SINGULAR;
      for (int k = 0; k < 8; ++k) std::swap(a[c][k], a[pivot][k]);
      double d = a[c][c];
      for (int k = 0; k < 8; ++k) a[c][k] /= d;
      for (int r = 0; r < 4; ++r) {
        if (r == c) continue;
        double f = a[r][c];
        for (int k = 0; k < 8; ++k) a[r][k] -= f * a[c][k];
      }
    }
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) out[r * 4 + c] = static_cast<float>(a[r][c + 4]);
    return SAA_SUCCESS;
  });
}

int SAA_nurbsSurfaceGetClosed(const SAA_Scene* scene, const SAA_Elem* elem, short* closedU, short* closedV) {
  return Guarded("SAA_nurbsSurfaceGetClosed", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !closedU || !closedV) return SAA_ERR_ARGUMENT;
    *closedU = static_cast<short>(s->closedU);
    *closedV = static_cast<short>(s->closedV);
    return SAA_SUCCESS;
  });
}

int SAA_nurbsSurfaceGetDegree(const SAA_Scene* scene, const SAA_Elem* elem, int* degreeU, int* degreeV) {
  return Guarded("SAA_nurbsSurfaceGetDegree", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !degreeU || !degreeV) return SAA_ERR_ARGUMENT;
    *degreeU = s->degreeU;
    *degreeV = s->degreeV;
    return SAA_SUCCESS;
  });
}

int SAA_nurbsSurfaceGetNbKnots(const SAA_Scene* scene, const SAA_Elem* elem, int* countU, int* countV) {
  return Guarded("SAA_nurbsSurfaceGetNbKnots", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !countU || !countV) return SAA_ERR_ARGUMENT;
    *countU = static_cast<int>(s->knotsU.size());
    *countV = static_cast<int>(s->knotsV.size());
    return SAA_SUCCESS;
  });
}

int SAA_nurbsSurfaceGetKnots(const SAA_Scene* scene, const SAA_Elem* elem, int constant, int zero, int countU,
                             int countV, double* knotsU, double* knotsV) {
  return Guarded("SAA_nurbsSurfaceGetKnots", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || constant != 2 || zero != 0 || !knotsU || !knotsV) return SAA_ERR_ARGUMENT;
    if (countU != static_cast<int>(s->knotsU.size()) || countV != static_cast<int>(s->knotsV.size()))
      return SAA_ERR_ARGUMENT;
    std::copy(s->knotsU.begin(), s->knotsU.end(), knotsU);
    std::copy(s->knotsV.begin(), s->knotsV.end(), knotsV);
    return SAA_SUCCESS;
  });
}

int SAA_nurbsSurfaceGetNbVertices(const SAA_Scene* scene, const SAA_Elem* elem, int* countU, int* countV) {
  return Guarded("SAA_nurbsSurfaceGetNbVertices", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || !countU || !countV) return SAA_ERR_ARGUMENT;
    *countU = s->countU;
    *countV = s->countV;
    return SAA_SUCCESS;
  });
}

int SAA_modelGetVertices(const SAA_Scene* scene, const SAA_Elem* elem, int constant, int zero, int count,
                         double* vertices) {
  return Guarded("SAA_modelGetVertices", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || constant != 2 || zero != 0 || !vertices) return SAA_ERR_ARGUMENT;
    if (count < 0 || 4 * static_cast<size_t>(count) != s->vertices.size()) return SAA_ERR_ARGUMENT;
    std::copy(s->vertices.begin(), s->vertices.end(), vertices);
    return SAA_SUCCESS;
  });
}

int SAA_modelSetVertices(const SAA_Scene* scene, const SAA_Elem* elem, int constant, int zero, int count,
                         const double* vertices) {
  return Guarded("SAA_modelSetVertices", [&]() -> int {
    SAAStubSurface* s = Surface(scene, elem);
    if (!s || constant != 2 || zero != 0 || !vertices) return SAA_ERR_ARGUMENT;
    if (count < 0 || 4 * static_cast<size_t>(count) != s->vertices.size()) return SAA_ERR_ARGUMENT;
    std::copy(vertices, vertices + 4 * static_cast<size_t>(count), s->vertices.begin());
    return SAA_SUCCESS;
  });
}

}  // extern "C"

void SAAStubReset() {
  HostState& h = Host();
  h.surfaces.clear();
  h.contexts.clear();
  h.calls.clear();
  h.failures.clear();
  h.pickSerial = 0;
}

int SAAStubAddSurface(const SAAStubSurface& surface) {
  Host().surfaces.push_back(surface);
  return static_cast<int>(Host().surfaces.size()) - 1;
}

SAAStubSurface& SAAStubSurfaceAt(int element) { return Host().surfaces.at(element); }

int SAAStubSurfaceCount() { return static_cast<int>(Host().surfaces.size()); }

SAA_Elem SAAStubElement(int element) { return SAA_Elem{{element + 1, kElementTag, 0, 0, 0}}; }

SAA_CustomContext SAAStubCreateContext() {
  Host().contexts.push_back(std::make_unique<SAA_CustomContextRec>());
  return Host().contexts.back().get();
}

void SAAStubPick(SAA_CustomContext ctx, int element) {
  SAA_Elem e = SAAStubElement(element);
  e.words[3] = ++Host().pickSerial;  // pick-specific words differ between picks
  ctx->picks.push_back(e);
}

void SAAStubSetCurrentResult(SAA_CustomContext ctx, int index) { ctx->current = index; }

void SAAStubSetCustomState(SAA_CustomContext ctx, const std::string& name, short value) {
  ctx->values.states[name] = value;
}

void SAAStubSetCustomFloat(SAA_CustomContext ctx, const std::string& name, float value) {
  ctx->values.floats[name] = value;
}

void* SAAStubInstanceData(SAA_CustomContext ctx) { return ctx->instance; }

void SAAStubSetDialogState(SAA_CustomContext ctx, int item, short value) { ctx->dialog.states[item] = value; }

void SAAStubSetDialogFloat(SAA_CustomContext ctx, int item, float value) { ctx->dialog.floats[item] = value; }

int SAAStubPressOK(SAA_CustomContext ctx) {
  if (!ctx->callback) return -1;
  return ctx->callback(&ctx->dialog, 0, ctx->callbackData);
}

void SAAStubFailCall(const std::string& operation, int k, int status) {
  HostState& h = Host();
  h.failures[operation][h.calls[operation] + k] = status;
}

void SAAStubFailAllocation(const std::string& operation, int k) { SAAStubFailCall(operation, k, kOutOfMemory); }

int SAAStubCallCount(const std::string& operation) {
  auto it = Host().calls.find(operation);
  return it == Host().calls.end() ? 0 : it->second;
}
