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
#define QUENTA_INIT_FAILED -1 /* start-up failed; nothing is left running */
#define QUENTA_INIT_RUNNING \
  -2 /* another station runs on this machine (it holds the
                                     single-instance lock named after the gateway port) */

/* 0 when the engine runs (a second call after a successful one does nothing and
 * returns 0), QUENTA_INIT_FAILED or QUENTA_INIT_RUNNING otherwise. */
QUENTA_API int quenta_init(void);

/* Claims the station's single-instance lock ahead of quenta_init, so that a
 * console can tell at its start that another station runs on this machine,
 * before anyone logs in: 0 when this process holds the lock (quenta_init then
 * goes on with it; the process's end releases it), QUENTA_INIT_RUNNING when
 * another process holds it, QUENTA_INIT_FAILED when it cannot be claimed. */
QUENTA_API int quenta_claimStation(void);

/* Calls cb once per known line; always 0. */
QUENTA_API int quenta_getStatus(STATUS_CALLBACK cb);
/* The same, handing param to every call of cb, so that a caller needs no
 * global to know whose poll it is. The two report the same lines and take
 * each ended call's flag the same way: a flag goes to whichever asks first. */
QUENTA_API int quenta_getStatusEx(STATUS_CALLBACK_EX cb, void *param);

/* Sends an "Action" command (attribute lines, each ending in "\n") to the line's
 * last address: 0 when sent or when the line is unknown, -1 when it failed. */
QUENTA_API int quenta_sendCommand(const char *machineid, unsigned int lineid, const char *command);

/* 1 when the call in progress on the line began before the station's last
 * start and goes on from its real start: the station was stopped or crashed
 * during the call, and the working directory's "calls.live" kept its number
 * and start (the start quenta_getStatus reports is that one). 0 otherwise: no
 * such line, no call in progress, a call of this run, or before quenta_init.
 * Cheap enough for every line at every poll; any thread. */
QUENTA_API int quenta_callRecovered(const char *machineid, int lineid);

/* The bill of a stored call at the price it was given when it was stored,
 * with the rates in force when it ended ("pricetbl", see records.h), however
 * the rates changed since; a call stored without one (by an earlier release)
 * is priced with the rates loaded at start and keeps that price from then on.
 * m_count is the float nearest to the amount, which is whole cents; the detail
 * text holds the amount exactly. The record belongs to the engine and is
 * overwritten by the next call. Null when the call is not found or cannot be
 * priced. */
QUENTA_API bill_info *quenta_getbill(const char *callid);

/* How a stored call's frozen price came about, for the operator to read: the
 * name of the rule that priced it (GBK; ".default" for the default rule) into
 * rule[0..rsize-1] and its detail text (stretches, package, handling charge,
 * total) into period[0..psize-1], each cut to fit. 1 when the call has a
 * frozen price, 0 when it has none (stored by an earlier release and not
 * looked up since), -1 when it could not be read or an argument is null. */
QUENTA_API int quenta_getPriceDetail(const char *callid, char *rule, int rsize, char *period, int psize);

/* Prices a call that has no row in "cdrtbl" (the call in progress on a line,
 * as if it ended at edate; a stored call's price is quenta_getbill's, which
 * equals this one's for the call as it ended) from its dialled number, start
 * and end, texts
 * "%Y-%m-%d %H:%M:%S" in local time as the engine stamps a call, with exactly
 * the rule choice and arithmetic of quenta_getbill (one pricing serves both),
 * into the caller's *bill: m_calltime, m_count and m_period_record as the
 * checkout of a call with these times shows them; m_callid, m_admin and m_date
 * are empty (a time that cannot be read gives the free bill a checkout gives).
 * 0, or -1 when no rule prices the number, the call is beyond pricing (longer
 * than an int of seconds, an amount beyond a float) or an argument is null;
 * *bill then holds no amount.
 *
 * The record quenta_getbill returned stays as it was. It reads no table and
 * takes no lock: the rate table is only read once the engine runs, and the
 * pricing works in *bill and on the caller's stack. It logs nothing, not even
 * a failure: it is meant to run once a second for every call in progress,
 * whose lines would crowd the log out; the checkout's quenta_getbill of the
 * same call logs in full. */
QUENTA_API int quenta_priceCall(const char *desnum, const char *bdate, const char *edate, bill_info *bill);

/* Stores the bill in "billtbl" with the operator (at most 63 bytes, never cut
 * inside a GBK character) and now: 0 when the row is stored, -1 when it is not
 * (the engine does not run, no bill was given, its amount is no number, or the
 * database refused it: app.log names the call and the database's reason). The
 * amount is written with two decimals from whole cents: the price of the call
 * quenta_getbill handed out when m_count is still its float (exact however
 * large the amount), else m_count rounded to the cent. A checkout marks a call
 * settled only once this returned 0, so no call is settled without its bill. */
QUENTA_API int quenta_saveBill(bill_info *bill, const char *admin);

/* quenta_saveBill for callers that do not ask whether the bill was stored. */
QUENTA_API void quenta_save(bill_info *bill, const char *admin);

/* Calls that ended and are kept only in the engine's memory: the database
 * could not take them and neither could "cdr.pending" (a full disk, a folder
 * that cannot be written). The engine tries both again every second and the
 * number falls as they succeed; while it is above 0, ending the process loses
 * those calls. 0 before quenta_init. Any thread, cheap enough for a
 * one-second timer. */
QUENTA_API unsigned int quenta_getUnsavedCalls(void);

QUENTA_API int quenta_selectCDRTable(const char *const *conds, USER_CALLBACK cb, void *param);
QUENTA_API int quenta_deleteCDRTableRecord(const char *const *conds);
QUENTA_API int quenta_updateCDRTable(const char *const *conds, const char *const *sets);
QUENTA_API int quenta_selectBillTable(const char *const *conds, USER_CALLBACK cb, void *param);
QUENTA_API int quenta_deleteBillTableRecord(const char *const *conds);
QUENTA_API int quenta_updateBillTable(const char *const *conds, const char *const *sets);

/* Price per unit for a dialled number at a time of day ("%H:%M:%S"), to the
 * cent as the rate file's amounts are read. */
QUENTA_API float quenta_getrate(const char *destnum, const char *time);

/* "select * from cdrtbl, billtbl" with the conditions; the caller adds the join
 * condition "billtbl.callid=cdrtbl.callid" itself. */
QUENTA_API int quenta_getReport(const char *const *conds, USER_CALLBACK cb, void *param);

/* The closed gateway network. With a file "gateways" in the working directory
 * (read by quenta_init; a change needs a restart) the station answers only the
 * addresses and networks it lists, one IPv4 address or address/prefix a line,
 * optionally followed by the machine ids tied to it ("192.168.1.20 GW1 GW2":
 * those machines are heard from there alone), and drops every other datagram.
 * With or without the file, a message for a line heard within the silence
 * limit from another host is dropped too. Returns the number of datagrams
 * dropped since the start (0 before quenta_init); when lastaddr is given
 * (size bytes), it receives the dotted address of the latest dropped sender,
 * or "" when none was dropped. Cheap enough for the console's one-second
 * timer. */
QUENTA_API unsigned long long quenta_getRefused(char *lastaddr, int size);

/* quenta_backup results besides 0 */
#define QUENTA_BACKUP_FAILED -1     /* the engine does not run, or no path was given */
#define QUENTA_BACKUP_UNREADABLE -2 /* the database cannot be read: missing, damaged, not a database */
#define QUENTA_BACKUP_BUSY -3       /* another program kept the database locked for 5 s */
#define QUENTA_BACKUP_FULL -4       /* the disk that takes the backup is full */
#define QUENTA_BACKUP_CANTWRITE \
  -5 /* the backup cannot be made there: no such folder, no
                                         permission, a disk error */

/* Writes a consistent copy of the database "quentadb" to path (relative to the
 * working directory, or absolute; its folder must exist) while the station
 * runs, with SQLite's online backup. The copy is written under path with
 * ".part" appended and renamed to path once whole and on disk, so a file named
 * path is always a complete backup; an earlier file of that name is replaced,
 * a failure leaves neither. The copy holds every call and bill stored before
 * the call began.
 *
 * The pages are copied in rounds of at most about 20 ms under the engine's
 * database lock, which is free between rounds: the gateway handler stores
 * calls meanwhile. A call stored during the copy makes it start over; after
 * two such restarts the copy keeps one read snapshot to its end, and calls that
 * end meanwhile wait in "cdr.pending" until it is done. Blocks the caller for
 * about the time a copy of the file takes; progress (when not null) is called
 * between rounds with the share of the pass copied so far (0 to 100; it falls
 * back when the copy starts over) and param, on the caller's thread, while the
 * database lock is free: it may read through other engine operations, but not
 * write (once the copy holds its snapshot a write waits for it and fails) nor
 * start a second backup. The copy may run on a thread of its own while
 * another thread goes on with every other engine operation (the console
 * copies so, its window live): a write that meets the copy's snapshot then
 * waits for it, up to the engine's busy limit. 0, or a QUENTA_BACKUP_* result
 * (the log has SQLite's own message). */
typedef void (*BACKUP_CALLBACK)(int percent, void *param);
QUENTA_API int quenta_backup(const char *path, BACKUP_CALLBACK progress, void *param);

/* ---- takings at a glance ---- */

/* The name of the rule that prices calls to a dialled number, chosen as the
 * pricing chooses it: the longest matching prefix (the first in the rate file
 * among equals), else the default rule. The name is the rate file's display
 * name (GBK; the prefix for a rule of a rate XML document), ".default" for the
 * default rule, and "" when no rule prices the number (no prefix matches and
 * the table has no default rule): such a call gets no bill. The rules are
 * those loaded at start-up, so after a change of rates a call stored before
 * the restart is named after the rule that would price it now. The text lives
 * in the engine as long as the process; null before quenta_init or for a null
 * number. */
QUENTA_API const char *quenta_getRuleName(const char *destnum);

/* Groupings and time buckets of quenta_getReportGroups (m_key of report_group). */
#define QUENTA_GROUP_NONE 0  /* one group of every call: m_key "" */
#define QUENTA_GROUP_LINE 1  /* by line: m_key the machine id, m_lineid the line */
#define QUENTA_GROUP_RULE 2  /* by rate rule: m_key quenta_getRuleName of the dialled number */
#define QUENTA_GROUP_ADMIN 3 /* by operator who settled the call: m_key the bill's operator */
#define QUENTA_GROUP_DAY 4   /* by day the call began: m_key "%Y-%m-%d" */
#define QUENTA_BUCKET_NONE 0 /* m_bucket "" */
#define QUENTA_BUCKET_DAY 1  /* m_bucket "%Y-%m-%d" of the begin time */
#define QUENTA_BUCKET_HOUR 2 /* m_bucket "%Y-%m-%d %H" of the begin time */

/* The settled calls that quenta_getReport lists for the range from..to (begin
 * times "%Y-%m-%d %H:%M:%S", both ends inclusive; a call with two stored bills
 * counts twice there and here) counted per group and time bucket: cb gets one
 * report_group per pair that has calls, ordered by key (bytes), line and
 * bucket, after the reading is done and the database lock is free again. A
 * group's amount is the sum of its bills each rounded to the cent. 0, or -1
 * (cb never called) for an unknown grouping or bucket or a failed read. */
QUENTA_API int quenta_getReportGroups(const char *from, const char *to, int by, int bucket, USER_CALLBACK cb,
                                      void *param);

/* ---- shift history: "shifttbl" ---- */

/* Appends the handover to "shifttbl": the two times as given, the operator
 * names cut to 63 bytes (never inside a GBK character), the takings written
 * with two decimals and a point. The station only ever appends: rows are
 * never updated or deleted, and SQLite's rowid tells them apart. Which moment
 * m_bdate holds is the console's rule (console/station/ShiftRecord.h): the
 * moment the ending shift began, which survives restarts. 0, or -1 when the
 * row was not stored. */
QUENTA_API int quenta_saveShift(const shift_info *shift);

/* The handovers whose moment (m_edate) lies in from..to, both inclusive, in
 * the order they were stored: cb gets one shift_report each, with the bills of
 * billtbl whose operator is the outgoing one and whose date lies within
 * m_bdate..m_edate (both inclusive), counted and summed to the cent. 0, or -1
 * when the select failed. */
QUENTA_API int quenta_selectShifts(const char *from, const char *to, USER_CALLBACK cb, void *param);

/* Appends the shift as quenta_saveShift does, with its drawer in the columns
 * that follow the five above: drawer and held (null when SHIFT_DRAWER_KNOWN
 * is not set), counted (null when SHIFT_COUNTED is not), handed (1 or 0 by
 * SHIFT_HANDED_OVER). A null drawer stores what quenta_saveShift stores. 0,
 * or -1 when the row was not stored. */
QUENTA_API int quenta_saveShiftDrawer(const shift_info *shift, const shift_drawer *drawer);

/* quenta_selectShifts with each handover's drawer: cb gets one
 * shift_drawer_report each. A row without a drawer (stored by
 * quenta_saveShift, or by an older station) has m_flags SHIFT_HANDED_OVER.
 * 0, or -1 when the select failed. */
QUENTA_API int quenta_selectShiftDrawers(const char *from, const char *to, USER_CALLBACK cb, void *param);

/* ---- audit trail: "audittbl" ---- */

/* Appends one entry to "audittbl", stamped with the local time of now: the
 * operator (cut to 63 bytes), the action (cut to 63) and the detail (cut to
 * 1023; a null detail is empty), never inside a GBK character. The values
 * are bound, never written into the statement. The trail is append-only:
 * no operation of the engine updates or deletes its rows, and the engine
 * refuses to run any statement that would change, drop or rename the table
 * other than this append, or create a trigger (a fragment passed to the
 * generic select, update and delete operations included). 0, or -1 when the
 * row was not stored (the engine does not run, admin or action is null or
 * empty, the database refused it). */
QUENTA_API int quenta_audit(const char *admin, const char *action, const char *detail);

/* The same for something that happened before it could be stored (a failed
 * login before the engine ran): date is the moment it happened, in the form
 * "%Y-%m-%d %H:%M:%S"; a null date is now. -1 as above, and for a date of
 * another form. */
QUENTA_API int quenta_auditAt(const char *date, const char *admin, const char *action, const char *detail);

/* The entries dated from..to (both inclusive, "%Y-%m-%d %H:%M:%S" texts), in
 * the order they were stored; only those of the operator admin and of the
 * action when these are given (null or empty: every one). cb gets one
 * audit_info each, which lives during the call. 0, or -1 when the select
 * failed. */
QUENTA_API int quenta_selectAudit(const char *from, const char *to, const char *admin, const char *action,
                                  USER_CALLBACK cb, void *param);

/* ---- checkouts and refunds: "checkouttbl", "refundtbl" ---- */

/* Results of quenta_checkout and quenta_refund beyond 0 and -1. */
#define QUENTA_CHECKOUT_STALE -2     /* a call is not an unsettled call of the line (settled meanwhile) */
#define QUENTA_REFUND_TOO_MUCH -2    /* more than what is left of the checkout to refund */
#define QUENTA_REFUND_NO_CHECKOUT -3 /* no checkout has that number */

/* Settles a checkout as one transaction: every bill stored in "billtbl" with
 * the operator co->m_admin and now (its amount in cents as quenta_saveBill
 * writes it), every bill's call marked settled in "cdrtbl", and the checkout
 * appended to "checkouttbl" with the call ids; a failure anywhere (a crash
 * included) leaves none of it. The caller fills m_admin, m_machineid,
 * m_lineid, m_due, m_deposit, m_paid, m_change and m_owed; the engine sets
 * m_number (the receipt's running number), m_date and m_calls, and leaves
 * m_callids null. Every call must be an unsettled call of that line: 0, -1
 * when nothing was stored (the engine does not run, an argument is null, an
 * amount is negative or no number, the database refused it: logged),
 * QUENTA_CHECKOUT_STALE when a call is not one (settled by another checkout
 * meanwhile, or of another line): nothing stored either. nbills may be 0 (a
 * deposit handed back with no call to pay). */
QUENTA_API int quenta_checkout(checkout_info *co, const bill_info *bills, int nbills);

/* The checkouts dated from..to (both inclusive), oldest first, only those of
 * operator admin when it is given (null or empty: all); cb gets one
 * checkout_info each with m_refunded and m_callids filled, valid during the
 * call. 0, or -1 when the select failed. */
QUENTA_API int quenta_selectCheckouts(const char *from, const char *to, const char *admin, USER_CALLBACK cb,
                                      void *param);

/* The checkout with that running number into *co (m_callids left null) and,
 * when callids is given, its call ids (one per line) into callids[0..size-1],
 * cut at a whole id when they do not fit. 1 when found, 0 when no checkout
 * has that number, -1 when it could not be read. */
QUENTA_API int quenta_getCheckout(long long number, checkout_info *co, char *callids, int size);

/* Refunds r->m_amount of checkout r->m_checkout, as one transaction that
 * appends to "refundtbl" only when the amount is above 0 and at most what the
 * customer settled (m_due - m_owed) less the earlier refunds of it. The caller
 * fills m_admin, m_checkout, m_amount and m_reason; the engine sets m_number
 * and m_date. 0, -1 (not stored: logged), QUENTA_REFUND_TOO_MUCH or
 * QUENTA_REFUND_NO_CHECKOUT. Bills are never changed by a refund. */
QUENTA_API int quenta_refund(refund_info *r);

/* The refunds dated from..to (both inclusive), oldest first, only those of
 * administrator admin when it is given; cb gets one refund_info each. 0, or
 * -1 when the select failed. */
QUENTA_API int quenta_selectRefunds(const char *from, const char *to, const char *admin, USER_CALLBACK cb, void *param);

#ifdef __cplusplus
}
#endif

#endif
