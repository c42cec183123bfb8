/* The engine's exported interface. quenta_init starts the engine once (runtime,
 * database lock, message handler thread on UDP port 9849, counting entity with
 * the rate table, query entity); every other operation may then be called from
 * one thread (the console's), any number of times, in any order. Before a
 * successful quenta_init every operation returns its failure value.
 *
 * Condition lists and set-value lists are arrays of SQL fragments ended by a
 * null pointer: conditions are joined with " and " behind " where ", set values
 * with ", ". A null condition list selects every row. The caller quotes text
 * values inside its fragments. Callbacks run on the caller's thread, during the
 * call, while the engine's database lock is held. */
#ifndef QUENTA_QUENTA_H
#define QUENTA_QUENTA_H

#include "quenta/rateinfo.h"
#include "quenta/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SRV_PORT 9849

/* quenta_init results besides 0 */
#define QUENTA_INIT_FAILED -1     /* start-up failed; nothing is left running */
#define QUENTA_INIT_RUNNING -2    /* another station runs on this machine (it holds the
                                     single-instance lock named after the gateway port) */

/* 0 when the engine runs (a second call after a successful one does nothing and
 * returns 0), QUENTA_INIT_FAILED or QUENTA_INIT_RUNNING otherwise. */
QUENTA_API int quenta_init(void);

/* Calls cb once per known line; always 0. */
QUENTA_API int quenta_getStatus(STATUS_CALLBACK cb);

/* Sends an "Action" command (attribute lines, each ending in "\n") to the line's
 * last address: 0 when sent or when the line is unknown, -1 when it failed. */
QUENTA_API int quenta_sendCommand(const char *machineid, unsigned int lineid, const char *command);

/* Prices the call; the record belongs to the engine and is overwritten by the
 * next call. Null when the call is not found or cannot be priced. */
QUENTA_API bill_info *quenta_getbill(const char *callid);

/* Stores the bill in "billtbl" with the operator (at most 63 characters) and now. */
QUENTA_API void quenta_save(bill_info *bill, const char *admin);

QUENTA_API int quenta_selectCDRTable(const char *const *conds, USER_CALLBACK cb, void *param);
QUENTA_API int quenta_deleteCDRTableRecord(const char *const *conds);
QUENTA_API int quenta_updateCDRTable(const char *const *conds, const char *const *sets);
QUENTA_API int quenta_selectBillTable(const char *const *conds, USER_CALLBACK cb, void *param);
QUENTA_API int quenta_deleteBillTableRecord(const char *const *conds);
QUENTA_API int quenta_updateBillTable(const char *const *conds, const char *const *sets);

/* Price per unit for a dialled number at a time of day ("%H:%M:%S"). */
QUENTA_API float quenta_getrate(const char *destnum, const char *time);

/* "select * from cdrtbl, billtbl" with the conditions; the caller adds the join
 * condition "billtbl.callid=cdrtbl.callid" itself. */
QUENTA_API int quenta_getReport(const char *const *conds, USER_CALLBACK cb, void *param);

/* The closed gateway network. With a file "gateways" in the working directory
 * (read by quenta_init; a change needs a restart) the station answers only the
 * addresses and networks it lists, one IPv4 address or address/prefix a line,
 * and drops every other datagram unread. Returns the number of datagrams
 * dropped since the start (0 without the file, and before quenta_init);
 * when lastaddr is given (size bytes), it receives the dotted address of the
 * latest dropped sender, or "" when none was dropped. Cheap enough for the
 * console's one-second timer. */
QUENTA_API unsigned long long quenta_getRefused(char *lastaddr, int size);

#ifdef __cplusplus
}
#endif

#endif
