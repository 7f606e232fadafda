#include "core/ProcessorFeatures.h"

#if defined(__x86_64__)
#include <sys/platform/x86.h>
#endif

int brevaloHasAvx2(void) {
#if defined(__x86_64__)
    return CPU_FEATURE_ACTIVE(AVX2);
#else
    return 0;
#endif
}
