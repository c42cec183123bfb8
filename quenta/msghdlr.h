/* The message handler: the engine's link to the gateway machines. It owns the
 * UDP socket on port 9849 of every local address, the table of gateway lines
 * (one record per machine id and line number, with its state, last address,
 * silence counter and the call under way), and turns the end of every
 * connected call into a row of "cdrtbl". Gateway messages are acknowledged by
 * echoing them; commands go to a line's last address; the status report hands
 * every line to the console. The handler runs the event loop on a thread of
 * its own, fed by the socket and a one-second timer. With a "gateways" file,
 * a datagram from a sender it does not list is dropped before it is read
 * (quenta/gateways.h). A line keeps the host it speaks from while it is heard:
 * a message for it from another host within the silence limit is dropped and
 * counted with the refused. A full table gives the place of a line silent for
 * LINE_EVICT_TICKS, with no call in progress or waiting, to a new line.
 *
 * Threads and locks. The handler's thread runs the loop, the dispatch, the
 * timer and every write of the line table; the console's thread reads the
 * table (msghdlr_get_status) and sends commands (msghdlr_send_command) on the
 * same socket. The line table is guarded by m_table_lock, and that lock is
 * always the innermost one:
 *   - nothing else is locked or waited for while it is held: the handler
 *     composes a finished call's row under it, leaves it, and only then waits
 *     for g_cs to store the row; the status report copies a record under it and
 *     calls the console's callback after leaving it, so the callback may call
 *     back into the engine (and take g_cs) freely;
 *   - so the order is g_cs, then m_table_lock, and never the reverse.
 * The status report copies a record and clears its flag in one critical
 * section: each record is reported as one consistent state, and a flag raised
 * after the copy stays raised for the next report.
 *
 * Calls are never lost. A row that cannot be stored at its first try for a
 * passing reason (the database busy, locked, read-only, full, corrupt, not a
 * database, not openable) is appended at once to CDR_PENDING_FILE and waits in
 * a queue of the handler's thread, behind which every later call waits too. At
 * every tick the queue is stored again, in order, many rows a transaction
 * (STORE_BATCH_ROWS); while the database takes them, one transaction follows
 * the other on every turn of the loop, between the datagrams. A stored call
 * leaves the file. Every transaction waits at most HANDLER_STORE_WAIT_MS for
 * the database, g_cs included, and holds at most STORE_BATCH_MS of rows, so a
 * database that another process (or a long statement of the console) holds, or
 * a backlog of thousands of calls, never holds up the echoes or the silence
 * rule: the file keeps the calls meanwhile. The next start reads back what the
 * file still holds before the handler runs and stores it once the handler
 * answers its gateways. A row the database refuses for good (its call id is
 * already in "cdrtbl" with another call: the same machine, line and start
 * second) is appended to CDR_FAILED_FILE in the working directory and logged. A
 * line's flag rises only once its call is settled in one of the two, so a
 * report never announces a call that the console's select cannot find.
 *
 * Calls survive a restart. Every call in progress is kept in CALLS_LIVE_FILE
 * (quenta/journal.h) until its row is stored. At the next start a line that
 * comes back "CONNECTED" to the same number goes on with its call from the
 * call's real start; a call whose line comes back otherwise, or is not heard
 * of within EXPIRE_TIME ticks, ended while the station was down and is stored
 * with the last moment it was known running as its end. */
#ifndef QUENTA_MSGHDLR_H
#define QUENTA_MSGHDLR_H

#include <netinet/in.h>

#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quenta/dbent.h"
#include "quenta/gateways.h"
#include "quenta/journal.h"
#include "quenta/records.h"
#include "quenta/uimsg.h"
#include "utils/timer.h"

#define MAX_MACHINE_INFO 100 /* lines the table can hold */
#define MACHINE_ID_LEN 128
#define STATE_LEN 64
#define EXPIRE_TIME 10 /* silent ticks after which a line is "UNKNOWN" */
#define LINE_EVICT_TICKS \
  60                                     /* silent ticks after which a line without a call may
                                                 give its place in a full table to a new line */
#define LOCAL_TIME_MIN 19                /* set_local_time refuses smaller buffers */
#define GATEWAY_RCVBUF (4 * 1024 * 1024) /* receive buffer asked for the gateway socket */
#define BATCH_BUDGET_MS 50               /* socket reading per event before the timer's turn */

/* Calls the database refuses for good, one line per call: the eight values of
 * the "cdrtbl" row in column order (callid, machineid, lineid, orgnum, desnum,
 * bdate, edate, flag), separated by one tab and ended by a line feed. A
 * backslash, tab, carriage return or line feed inside a value is written as
 * "\\", "\t", "\r" or "\n", so the fields always stay separable. */
#define CDR_FAILED_FILE "cdr.failed"

/* Calls not stored yet, one line per call in the form of CDR_FAILED_FILE, in
 * the order they ended. A call is appended (and synced) when its first try
 * fails, or when it ends behind others that wait; once stored it leaves the
 * file, which is then written anew as CDR_PENDING_TMP and renamed over it, or
 * emptied when nothing waits. So after a crash at any moment every call is in
 * "cdrtbl" or in the file (or, for a while, in both: while a backlog is being
 * stored the file is written anew only when the queue is empty or stalls). Read
 * back at start-up: a line ends at its line feed, or at a carriage return before
 * it; a last line a crash cut short is skipped; any other line that is not a
 * call is moved to CDR_FAILED_FILE as it stood (and logged); a call "cdrtbl"
 * already holds is dropped. When the file cannot be written (a full disk) the
 * call stays in memory only, the log says so, and every tick tries to write the
 * file again. */
#define CDR_PENDING_FILE "cdr.pending"
#define CDR_PENDING_TMP "cdr.pending.tmp"
#define HANDLER_STORE_WAIT_MS 100 /* a store try's wait for the database, g_cs included */
#define STORE_BATCH_ROWS 500      /* calls stored in one transaction at most */
#define STORE_BATCH_MS 30         /* and rows added to a transaction for so long at most */
#define STORE_YIELD_MS 20         /* a backlog's turn first lets waiting statements take g_cs */

#define STATE_CONNECTED "CONNECTED"
#define STATE_UNKNOWN "UNKNOWN"

/* One gateway line. */
struct machine_info {
  char m_machine_id[MACHINE_ID_LEN]; /* the machine's id, compared exactly */
  unsigned m_line_id;                /* line number on that machine; -1 when the messages name none */
  struct sockaddr_in m_addr;         /* where its last Discovery or KeepAlive came from */
  char m_state[STATE_LEN];           /* as last reported, or "UNKNOWN" */
  int m_expire;                      /* ticks since its last accepted message */
  call_info m_callinfo;              /* the call under way */
  int m_flag;                        /* 1: a call ended since the last status report */
  int m_recovered;                   /* 1: the call under way began before this start */
};

/* A finished call on its way to "cdrtbl". */
struct cdr_row {
  std::string callid, machineid, lineid, orgnum, desnum, bdate, edate;
  int attempts;         /* failed tries to store it so far */
  int line;             /* index of its line in the table; -1: read back from CDR_PENDING_FILE */
  bool on_file = false; /* written to CDR_PENDING_FILE */
};

struct msghdlr {
  int m_sock;                                    /* UDP, port 9849 of the any-address */
  struct bill_v2 m_receiver;                     /* the datagram being read */
  int m_recv_len;                                /* its length, for the echo */
  struct machine_info m_infos[MAX_MACHINE_INFO]; /* the line table */
  int m_micount;                                 /* records in use */
  std::mutex m_table_lock;                       /* guards m_infos and m_micount */
  struct dbent *m_dbent;                         /* describes "cdrtbl" */
  char *m_cdrtbl_name;                           /* owned */
  utils::timer *m_timer;                         /* one-second silence timer */
  int m_wakefd;                                  /* eventfd: msghdlr_release asks the loop to end */
  std::thread m_thread;
  std::vector<cdr_row> m_ended;          /* handler thread: calls ended during this event */
  std::deque<cdr_row> m_retry;           /* handler thread: calls waiting to be stored, in order */
  utils::timer *m_store_timer;           /* the queue's next turn, while it can be stored */
  std::vector<std::string> m_unreadable; /* unreadable lines of CDR_PENDING_FILE not yet in CDR_FAILED_FILE */
  bool m_file_stale;                     /* CDR_PENDING_FILE still holds calls that are stored */
  bool m_pending_kept;                   /* CDR_PENDING_FILE could not be read whole: only appended to */
  std::atomic<unsigned> m_unsaved{0};    /* rows of m_retry not on_file: written by the handler
                                         thread, read by any (msghdlr_unsaved_calls) */
  struct gateway_guard m_gateways;       /* who may speak (GATEWAYS_FILE), and the refused */
  struct call_journal m_journal;         /* handler thread: the calls of CALLS_LIVE_FILE */
  bool m_live_changed;                   /* handler thread: a call started, ended or got its number */
  int m_ticks;                           /* handler thread: ticks since the start */
};

/* Create / release. */

/* Reads GATEWAYS_FILE of the working directory (quenta/gateways.h: without it
 * every sender is answered), binds the gateway port, describes the table
 * tblname (creating it when the file lacks it) in the database file dbpath,
 * and starts the handler thread. Null on failure, with everything it had made
 * undone. */
struct msghdlr *create_msghdlr(const char *dbpath, const char *tblname);

/* Stops the thread and frees the handler: calls still waiting to be stored get
 * one more try; what still waits then stays in CDR_PENDING_FILE for the next
 * start (a call the file could not take goes to CDR_FAILED_FILE). The engine's
 * start-up uses it to undo a handler when a later step fails. */
void msghdlr_release(struct msghdlr *h);

/* Verbs, for the console's thread. */

/* Calls cb once per line in the order the lines first reported, outside the
 * line-table lock, and clears each line's flag as it is reported. Always 0. */
int msghdlr_get_status(struct msghdlr *h, STATUS_CALLBACK cb);
int msghdlr_get_status_ex(struct msghdlr *h, STATUS_CALLBACK_EX cb, void *param);

/* Sends an "Action" command with the attribute text command to the line's last
 * address: 0 when sent or when the line is unknown, -1 when the command does
 * not fit in one message or cannot be sent. */
int msghdlr_send_command(struct msghdlr *h, const char *machineid, unsigned lineid, const char *command);

/* 1 when the line's call under way began before the station's start and goes
 * on from the start CALLS_LIVE_FILE kept, else 0 (no such line, no call, or
 * a call of this run). Any thread. */
int msghdlr_call_recovered(struct msghdlr *h, const char *machineid, unsigned lineid);

/* Datagrams refused since creation because GATEWAYS_FILE does not list their
 * sender; with buf (size bytes), the latest refused sender's dotted address,
 * or "". Any thread. */
uint64_t msghdlr_refused(const struct msghdlr *h, char *buf, int size);

/* Calls kept only in memory: waiting to be stored, and not in
 * CDR_PENDING_FILE either. Any thread. */
unsigned msghdlr_unsaved_calls(const struct msghdlr *h);

/* The current local time as "%Y-%m-%d %H:%M:%S" (cut to size - 1 characters):
 * 0, or -1 for a buffer of fewer than LOCAL_TIME_MIN bytes. */
int set_local_time(char *buf, int size);

/* Inside the handler: the handler's thread only (tests call them directly). */

/* Thread entry: sets up the loop, reports 0 (or -1) through started, runs. */
void msghdlr_start(struct msghdlr *h, std::promise<int> *started);
void register_sock_callback(void *ctxt, int events, int sock);
void timeout_callback(void *ctxt);

/* Dispatches by type; above 0 when the message is accepted and to be echoed. */
int process_message(struct msghdlr *h, const struct uimsg *msg, const struct sockaddr_in *from);
int process_keepalive(struct msghdlr *h, const struct uimsg *msg, const struct sockaddr_in *from);
int process_connected(struct msghdlr *h, const struct uimsg *msg);
int process_cdr(struct msghdlr *h, const struct uimsg *msg);
void process_ack(struct msghdlr *h, const struct uimsg *msg);

/* One line record, with m_table_lock held. update_state ends a connected
 * call: it forms the call id and queues the row on m_ended. */
void update_address(struct machine_info *mi, const struct sockaddr_in *addr);
void update_state(struct msghdlr *h, struct machine_info *mi, const char *state);
void update_expire(struct machine_info *mi);
void generate_callid(struct machine_info *mi);
/* "%s-%08d@%s" of machine, line and start, cut to 127 characters. */
std::string format_callid(const char *machineid, unsigned lineid, const char *bdate);

/* Storing, without m_table_lock. */
int create_cdr_database(struct msghdlr *h, const char *dbpath, const char *tblname);
/* Stores the calls of m_ended, in one transaction, or queues them behind those
 * already waiting (and in CDR_PENDING_FILE), and raises the flags of the lines
 * whose calls it settled. */
void store_ended_calls(struct msghdlr *h);
/* Stores what waits in m_retry, in order, transaction after transaction, up to
 * the first passing refusal, raising the flags of the lines whose calls it
 * settled, and brings CDR_PENDING_FILE up to date. */
void retry_calls(struct msghdlr *h);
/* One turn of the queue, at every tick and from m_store_timer: one transaction
 * of what waits in m_retry; while the database takes them and more wait, the
 * next turn comes at the loop's next pass (m_store_timer), else at the tick,
 * and CDR_PENDING_FILE is brought up to date. */
void store_waiting_calls(struct msghdlr *h);
void store_timer_callback(void *ctxt);
/* Start-up, before the thread runs: reads CDR_PENDING_FILE into m_retry, for
 * the thread to store, and moves its unreadable lines to CDR_FAILED_FILE. The
 * number of calls read, or -1 when the file cannot be opened (logged; the
 * handler runs all the same). */
int read_pending_calls(struct msghdlr *h);
/* One row in a transaction of its own: 0 stored, 1 refused for a passing
 * reason, -1 refused for good. */
int cdrdb_insert(struct msghdlr *h, const cdr_row &row);
/* Appends the row to CDR_FAILED_FILE: 0, or -1 when the file cannot be written. */
int cdr_write_failed(const cdr_row &row);
/* The row as a line of CDR_FAILED_FILE or CDR_PENDING_FILE, and back: false
 * for a text that is not a whole line of that form. */
std::string cdr_line(const cdr_row &row);
bool cdr_parse_line(const std::string &line, cdr_row *row);

/* The journal of calls in progress (msghdlr_live.cpp), the handler's thread
 * only, without m_table_lock but where said. */

/* Start-up, after store_pending_calls: reads CALLS_LIVE_FILE back. A call
 * already stored is dropped; of several calls of one line all but the newest
 * ended while the station was down and are stored; the newest waits for its
 * line. The number of calls read, or -1 when the file cannot be read. */
int journal_load(struct msghdlr *h);
/* A line heard for the first time in this run (m_table_lock held, the record
 * filled from the message): true when it goes on with its call read back from
 * the journal (state "CONNECTED" and the call's dialled number), which is then
 * its call under way; every other call of the line read back is queued on
 * m_ended as ended at its last known moment. */
bool journal_recover_line(struct msghdlr *h, struct machine_info *mi, const char *state, const char *dest);
/* One tick: after EXPIRE_TIME ticks, the calls read back whose lines were not
 * heard are queued on m_ended as ended at their last known moment. True when
 * the moments of the calls in progress are due to be written. */
bool journal_tick(struct msghdlr *h);
/* Brings the journal up to date with the line table (new calls appended, ended
 * ones marked) and drops the ended calls whose rows are stored or on file;
 * with refresh, writes every call's last known moment. After the store. */
void journal_settle(struct msghdlr *h, bool refresh);

void msghdlr_send_ack(struct msghdlr *h, const struct sockaddr_in *addr, socklen_t len);

#endif
