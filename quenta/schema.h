/* The secondary indexes of the engine's tables. The tables' columns are the
 * public lists gst_cdr_infos and gst_bill_infos (quenta/records.h) and the
 * engine's own gst_shift_infos below; the indexes that keep the frequent
 * lookups off full-table scans live here, next to them, so the database layer
 * stays free of knowledge about particular tables. */
#ifndef QUENTA_SCHEMA_H
#define QUENTA_SCHEMA_H

#include "quenta/records.h"

/* The "create index if not exists" statements for a table, ended by a null
 * pointer; null for a table without secondary indexes. They are safe to run on
 * every start: a file from an earlier run gains the missing ones.
 *   "cdrtbl":  (machineid, lineid, flag)  unsettled calls of one line
 *              (bdate)                    date range of the report
 *              (bdate, callid, machineid, lineid, desnum)
 *                                         the grouped report's month of calls,
 *                                         without a row read per call
 *   "billtbl": (callid)                   the report's join with "cdrtbl"
 *              (callid, calltime, count, admin)
 *                                         the grouped report's walk over a month
 *                                         of bills, without a row read per bill
 *              (admin, date, count)       an operator's bills within a shift
 *   "audittbl": (date)                    the report's range of entries */
const char *const *schema_index_cmds(const char *tblname);

/* "shifttbl" and "audittbl", whose columns quenta/records.h describes. */
extern const column_info gst_shift_infos[];
extern const column_info gst_audit_infos[];

/* "stationtbl": the file's identity, one row with a random 128-bit id in 32
 * lower-case hex digits, made at the station's first start (a file of an
 * earlier release gets it at its next start) and never changed afterwards.
 * Backups are whole copies of the file, so a restored backup keeps it; a file
 * started afresh gets a new one. Programs that read the file from outside
 * (the chain's sync program) tell one shop's file from another's by it. The
 * statements are safe to run on every start. */
#define STATION_TBL_NAME "stationtbl"
extern const char *const schema_identity_cmds;

#endif
