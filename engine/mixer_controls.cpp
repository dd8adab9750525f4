// The sound card's mixer controls. Until the simulated card mixer exists, no
// mixer opens: every read gives 0 and every write is refused.
#include "include/tonecore.h"

extern "C" {

int32_t MixOpen(void) { return 1; }

int32_t MixClose(void) { return 0; }

int32_t GetParam(int32_t group, int32_t index) {
    (void)group, (void)index;
    return 0;
}

int32_t SetParam(int32_t group, int32_t index, int32_t value) {
    (void)group, (void)index, (void)value;
    return 0;
}

}  // extern "C"
