#include "foundation/coreglob.h"

#include "platform/tstubs.h"

int ZK666DEBUG = 0;
int zk_error_status = 0;
unsigned char memory_error = 0;

double GlobalPositionContinuityTol = 0.001;
double GlobalTangentContinuityTol = 0.5;
double GlobalTangentPlaneContinuityTol = 0.1;
double GlobalTrimGapTol = 0.1;

double** surfDiffArray1 = nullptr;
double** surfDiffArray2 = nullptr;
double** surfDiffArray3 = nullptr;
double** surfDiffArray4 = nullptr;
double** surfDiffArray5 = nullptr;

double Global_Tension = 0.7;
double Global_Roughness = 0.3;
double Global_Sigma = 0.01;

void SetOutOfMemory() {
  InfoMessageFormat("%s", MSGstr("System swap space has been exhausted - cannot proceed with operation."));
  memory_error = 1;
  SetKernelError(-1);
}
