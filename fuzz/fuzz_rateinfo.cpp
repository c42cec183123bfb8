/* The rate-info line parser. A line parsed whole and the same line fed to the
 * machine in two pieces must give the same record and the same verdict; an
 * accepted line leaves every text terminated and at most four periods. */
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_common.h"
#include "quenta/parser.h"
#include "quenta/rateinfo.h"

namespace {

void check_record(const RateInfo &r)
{
  FUZZ_CHECK(fuzz::terminated(r.m_prefix) && (size_t)r.m_prefixlen == strlen(r.m_prefix));
  FUZZ_CHECK(fuzz::terminated(r.m_hcbuf) && (size_t)r.m_hcbuflen == strlen(r.m_hcbuf));
  FUZZ_CHECK(fuzz::terminated(r.m_name));
  for (const period_price &p : r.m_period_price) {
    FUZZ_CHECK(fuzz::terminated(p.m_time) && (size_t)p.m_timelen == strlen(p.m_time));
    FUZZ_CHECK(fuzz::terminated(p.m_buf) && (size_t)p.m_buflen == strlen(p.m_buf));
  }
  FUZZ_CHECK(fuzz::terminated(r.m_tao_price.m_buf));
}

} /* namespace */

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz::quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  /* the first byte chooses where the line is cut in two, the rest is the line */
  if (size < 1)
    return 0;
  std::string line(reinterpret_cast<const char *>(data) + 1, size - 1);
  line.resize(strlen(line.c_str()));
  size_t cut = data[0] % (line.size() + 1);

  RateInfo whole;
  memset(&whole, 0, sizeof whole);
  int rc = parser_getRateInfo(line.c_str(), &whole);
  FUZZ_CHECK(rc == 0 || rc == -1);

  RateInfo pieces;
  memset(&pieces, 0, sizeof pieces);
  RateInfo_init(&pieces);
  RateInfo_execute(&pieces, line.data(), cut);
  RateInfo_execute(&pieces, line.data() + cut, line.size() - cut);
  int fin = RateInfo_finish(&pieces);
  FUZZ_CHECK((fin == 1) == (rc == 0));
  FUZZ_CHECK(memcmp(&whole, &pieces, sizeof whole) == 0);

  check_record(whole);
  if (rc == 0) {
    FUZZ_CHECK(whole.m_ppcount >= 0 && whole.m_ppcount < MAX_PERIODS);
    FUZZ_CHECK(whole.m_prefixlen > 0);
    FUZZ_CHECK(whole.m_min_bill_time >= 0 && whole.m_invalid_timeval >= 0);
    FUZZ_CHECK(whole.m_tao_price.m_category >= 0);
  }
  return 0;
}
