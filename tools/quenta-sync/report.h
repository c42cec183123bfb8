/* quenta-sync report: the takings of the chain's shops between two days, per
 * shop and day, per operator and per destination rule, read from the
 * server's views, as aligned tables or as CSV. */
#ifndef QUENTA_SYNC_REPORT_H
#define QUENTA_SYNC_REPORT_H

#include <stdio.h>

#include <string>
#include <vector>

#include "server.h"
#include "settings.h"

namespace qsync {

/* Writes one grouping ("day", "operator", "rule") to out. */
void print_table(FILE *out, const std::string &by, const std::vector<takings_row> &rows);
/* CSV rows "grouping,station,key,bills,seconds,takings" (RFC 4180 quoting). */
void print_csv(FILE *out, const std::string &by, const std::vector<takings_row> &rows);

/* The report command: its exit status (0, 1 the server failed, 3 newer schema). */
int run_report(const report_settings &s, FILE *out);

} /* namespace qsync */

#endif
