/* Stand-in for the host's scene API as the plug-in uses it: custom-context instance data, picks,
 * custom values, the effect dialog, element names, deformation matrices and NURBS surface data.
 * Every operation returns a status, 0 for success. C linkage, as the host's own API has. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum {
  SAA_SUCCESS = 0,
  SAA_ERR_ARGUMENT = 1,   /* a null pointer, a bad count, a bad constant pair, an unknown element */
  SAA_ERR_NOT_FOUND = 2,  /* no such custom value or dialog item */
  SAA_ERR_VERSION = 3,    /* SDK version the host does not serve */
  SAA_ERR_SINGULAR = 4,   /* matrix without inverse */
  SAA_ERR_MEMORY = 5      /* the host ran out of memory during the call */
};

typedef struct SAA_Scene {
  int handle;
  int reserved[3];
} SAA_Scene;

/* A picked element: the first three words name the element, the rest belong to the pick. */
typedef struct SAA_Elem {
  int words[5];
} SAA_Elem;

typedef struct SAA_CustomContextRec* SAA_CustomContext;
typedef struct SAA_CustomValueListRec* SAA_CustomValueList;
typedef struct SAA_DialogRec* SAA_Dialog;
typedef int (*SAA_DialogCallback)(SAA_Dialog dialog, int reserved, void* userData);

int SAA_sceneInitInternal(const char* sdkVersion);
int SAA_sceneGetCurrent(SAA_Scene* scene);
int SAA_sceneGetPlayCtrlCurrentFrame(const SAA_Scene* scene, float* frame);

int SAA_customContextSetInstanceData(SAA_CustomContext ctx, void* instance);
int SAA_customContextGetInstanceData(SAA_CustomContext ctx, void** instance);
int SAA_customContextGetNbResults(SAA_CustomContext ctx, int* count);
int SAA_customContextGetResults(SAA_CustomContext ctx, int count, SAA_Elem* results);
int SAA_customContextGetCurrentResultIndex(SAA_CustomContext ctx, int* index);
int SAA_customContextGetCustomValueList(SAA_CustomContext ctx, SAA_CustomValueList* list);
int SAA_cusvalGetStateValue(SAA_CustomValueList list, const char* name, short* value);
int SAA_cusvalGetFloatValue(SAA_CustomValueList list, const char* name, float* value);

int SAA_dialogitemAddCallback(SAA_CustomContext ctx, int item, SAA_DialogCallback callback, void* userData);
int SAA_dialogitemGetStateValue(SAA_Dialog dialog, int item, short* value);
int SAA_dialogitemGetFloatValue(SAA_Dialog dialog, int item, float* value);

int SAA_elementGetNameLength(const SAA_Scene* scene, const SAA_Elem* elem, int* length);
int SAA_elementGetName(const SAA_Scene* scene, const SAA_Elem* elem, int size, char* name);
int SAA_modelGetDeformationMatrix(const SAA_Scene* scene, const SAA_Elem* elem, float matrix[16]);
int SAA_matrixInvert(const float in[16], float out[16]);

int SAA_nurbsSurfaceGetClosed(const SAA_Scene* scene, const SAA_Elem* elem, short* closedU, short* closedV);
int SAA_nurbsSurfaceGetDegree(const SAA_Scene* scene, const SAA_Elem* elem, int* degreeU, int* degreeV);
int SAA_nurbsSurfaceGetNbKnots(const SAA_Scene* scene, const SAA_Elem* elem, int* countU, int* countV);
int SAA_nurbsSurfaceGetKnots(const SAA_Scene* scene, const SAA_Elem* elem, int constant, int zero, int countU,
                             int countV, double* knotsU, double* knotsV);
int SAA_nurbsSurfaceGetNbVertices(const SAA_Scene* scene, const SAA_Elem* elem, int* countU, int* countV);
/* Vertices are {x, y, z, w} doubles, u fastest. */
int SAA_modelGetVertices(const SAA_Scene* scene, const SAA_Elem* elem, int constant, int zero, int count,
                         double* vertices);
int SAA_modelSetVertices(const SAA_Scene* scene, const SAA_Elem* elem, int constant, int zero, int count,
                         const double* vertices);

#ifdef __cplusplus
}
#endif
