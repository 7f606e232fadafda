#pragma once

// Whether the processor and the kernel let this process use AVX2, as the C library read it
// at start. Kept in a C file: the C library's header for that is C only (a C++ compiler may
// reject its _Bool), and the compiler's own check would link a start-up constructor that
// asks the processor again at every run.
#ifdef __cplusplus
extern "C" {
#endif

int brevaloHasAvx2(void);

#ifdef __cplusplus
}
#endif
