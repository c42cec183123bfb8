/* The columns of the engine's tables, "cdrtbl" (one row per finished call),
 * "billtbl" (one row per stored bill), "shifttbl" (one row per handover of
 * the counter) and "audittbl" (one row per entry of the audit trail), the
 * indexes that go with them, and the file's identity "stationtbl". */
#include "quenta/schema.h"

#include <string.h>

#include "quenta/records.h"

/* Exported with C linkage through their declarations in quenta/records.h. */
extern "C" {

const column_info gst_cdr_infos[] = {
    {"callid", T_CHAR, 128},     {"machineid", T_CHAR, 128}, {"lineid", T_INT, 0},   {"orgnum", T_CHAR, 128},
    {"desnum", T_CHAR, 128},     {"bdate", T_CHAR, 128},     {"edate", T_CHAR, 128}, {"flag", T_INT, 0},
    {"callid", T_CONSTRAINT, 0}, {nullptr, T_INT, 0},
};

const column_info gst_bill_infos[] = {
    {"callid", T_CHAR, 64}, {"calltime", T_INT, 0}, {"period", T_CHAR, 128}, {"count", T_FLOAT, 0},
    {"admin", T_CHAR, 64},  {"date", T_CHAR, 128},  {nullptr, T_INT, 0},
};

} /* extern "C" */

/* Read by other programs too (a shop chain's collector ships the rows as they
 * are): the columns and their order are fixed. Only the engine describes the
 * table, so the list is not exported. */
const column_info gst_shift_infos[] = {
    {"bdate", T_CHAR, 128},  {"edate", T_CHAR, 128},   {"outgoing", T_CHAR, 64},
    {"takings", T_FLOAT, 0}, {"incoming", T_CHAR, 64}, {nullptr, T_INT, 0},
};

/* SQLite's randomblob comes from its generator seeded by the system's
 * entropy source; the insert makes the row only when there is none, in one
 * statement, so two starts at once cannot make two. */
const char *const schema_identity_cmds = "create table if not exists " STATION_TBL_NAME "(id varchar(32) not null);"
                                         "insert into " STATION_TBL_NAME "(id) select lower(hex(randomblob(16))) "
                                         "where not exists (select 1 from " STATION_TBL_NAME ")";

/* The same for the audit trail, which the chain's collector ships too. */
const column_info gst_audit_infos[] = {
    {"date", T_CHAR, 128}, {"admin", T_CHAR, 64}, {"action", T_CHAR, 64}, {"detail", T_CHAR, 1024}, {nullptr, T_INT, 0},
};

namespace {

const char *const cdrtbl_indexes[] = {
    "create index if not exists cdrtbl_line on cdrtbl(machineid, lineid, flag)",
    "create index if not exists cdrtbl_bdate on cdrtbl(bdate)",
    "create index if not exists cdrtbl_report on cdrtbl(bdate, callid, machineid, lineid, desnum)",
    nullptr,
};

const char *const billtbl_indexes[] = {
    "create index if not exists billtbl_callid on billtbl(callid)",
    "create index if not exists billtbl_report on billtbl(callid, calltime, count, admin)",
    "create index if not exists billtbl_admin on billtbl(admin, date, count)",
    nullptr,
};

const char *const audittbl_indexes[] = {
    "create index if not exists audittbl_date on audittbl(date)",
    nullptr,
};

} /* namespace */

const char *const *schema_index_cmds(const char *tblname)
{
  if (!tblname)
    return nullptr;
  if (strcmp(tblname, "cdrtbl") == 0)
    return cdrtbl_indexes;
  if (strcmp(tblname, "billtbl") == 0)
    return billtbl_indexes;
  if (strcmp(tblname, "audittbl") == 0)
    return audittbl_indexes;
  return nullptr;
}
