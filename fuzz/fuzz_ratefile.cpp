/* The rate-file loader over any file content, followed by lookups and pricing
 * with whatever rules it kept (see fuzz_rates.h). */
#include "fuzz_rates.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz::quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  fuzz::load_and_check("rateinfo", data, size);
  return 0;
}
