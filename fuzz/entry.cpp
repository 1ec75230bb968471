// The libFuzzer entry point, compiled once per target with
// VELLUM_FUZZ_TARGET naming one of the functions of harness.h.
#include "harness.h"

#ifndef VELLUM_FUZZ_TARGET
#error "define VELLUM_FUZZ_TARGET to a target function of harness.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VELLUM_FUZZ_TARGET(data, size);
  return 0;
}
