// The kernel's shared global state: error flags, debug level, tolerances and the default
// weights of the fitting operations. Plain variables, read and written directly; the kernel
// is single-threaded.
#pragma once

extern int ZK666DEBUG;                   // debug level; nothing changes it, diagnostics stay off
extern int zk_error_status;              // 0 or positive: no error; negative: an error occurred
extern unsigned char memory_error;       // 1 after an allocation failed

extern double GlobalPositionContinuityTol;
extern double GlobalTangentContinuityTol;  // degrees
extern double GlobalTangentPlaneContinuityTol;
extern double GlobalTrimGapTol;

// Scratch of the surface-difference evaluator: row-pointer matrices made on first use, large
// enough for the local window of the highest degree the evaluators accept.
extern double** surfDiffArray1;
extern double** surfDiffArray2;
extern double** surfDiffArray3;
extern double** surfDiffArray4;
extern double** surfDiffArray5;

extern double Global_Tension;
extern double Global_Roughness;
extern double Global_Sigma;

// The one failure test of the kernel: after any allocation or call that can fail.
inline bool KernelFailed() { return zk_error_status < 0 || memory_error == 1; }

// The allocation flag alone, any non-zero value: the matrix allocators and the LU
// decomposition fail on it even when only an earlier request ran out of memory, and ignore a
// negative status that is not about memory.
inline bool MemoryErrorSet() { return memory_error != 0; }

// Records a failure status (negative by convention). Callers that tolerate a failed sub-step
// also put back the status they saw before it.
inline void SetKernelError(int status) { zk_error_status = status; }

// Running out of memory: shows the out-of-memory message once and sets memory_error = 1,
// zk_error_status = -1, exactly as the allocator does when the runtime has nothing left.
void SetOutOfMemory();

// What a record maker hands back: its record, or null with the error state set (-2 when the
// failure on the way set nothing, as a refused argument does), so that a caller's KernelFailed()
// agrees with the null.
template <class T>
T* MadeOrFailed(T* made) {
  if (!made && !KernelFailed()) SetKernelError(-2);
  return made;
}

// Clears the error state. Only callers that tolerate a failed sub-step, and the plug-in at the
// start of a run, do this; the allocator never does.
inline void ClearKernelError() {
  zk_error_status = 0;
  memory_error = 0;
}
