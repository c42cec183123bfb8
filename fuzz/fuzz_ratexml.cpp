/* The rate XML loader over any document, followed by lookups and pricing with
 * whatever rules it kept (see fuzz_rates.h). */
#include "fuzz_rates.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz::quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  fuzz::load_and_check("rates.xml", data, size);
  return 0;
}
