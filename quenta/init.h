/* The engine's globals and fixed names, shared by the units of the exported
 * interface. They are set by quenta_init and live until the process ends. */
#ifndef QUENTA_INIT_H
#define QUENTA_INIT_H

#include "quenta/records.h"
#include "quenta/sqlite.h"

#include <string>

#define DB_NAME "quentadb"
#define CDR_TBL_NAME "cdrtbl"
#define BILL_TBL_NAME "billtbl"
#define SHIFT_TBL_NAME "shifttbl"
#define AUDIT_TBL_NAME "audittbl"
#define APP_NAME "msghdlr"

struct msghdlr;
struct countent;
struct dbent;

extern struct msghdlr *gpst_msghdlr;   /* the gateway message handler */
extern struct countent *gpst_countent; /* prices calls and stores bills */
extern struct dbent *gpst_dbent;       /* query entity: selects, updates, deletes, reports */
extern struct dbent *gpst_shiftdb;     /* describes "shifttbl": the handovers are inserted here */
/* Adds the drawer's columns to a "shifttbl" that lacks them (at its end: the
 * first five stay where other programs read them). 0, or -1 (logged). */
int shifts_add_drawer(const char *dbpath);
extern struct dbent *gpst_auditdb; /* describes "audittbl": the audit trail is appended here */

/* The operator name as a table keeps it: at most 63 bytes, cut so that no GBK
 * double-byte character is split. */
std::string operator_name(const char *admin);

/* True once quenta_init has succeeded; every operation checks it first. */
bool quenta_running();

/* Row delivery of the select operations. The parameter is a user_rows: the
 * caller's callback and parameter, held by the operation for the select. */
struct user_rows {
  USER_CALLBACK cb;
  void *param;
};
int cdr_select_callback(void *param, int argc, char **argv, char **colnames);
int bill_select_callback(void *param, int argc, char **argv, char **colnames);
int report_select_callback(void *param, int argc, char **argv, char **colnames);

/* The database path: the working directory, "/" and DB_NAME, never cut.
 * False when the working directory cannot be read. */
bool build_database_path(std::string &path);

/* Claims the machine-wide single-instance lock of the station (an abstract
 * socket named after the gateway port, released by the kernel when the process
 * ends). 0, QUENTA_INIT_RUNNING when another process holds it, -1 on failure. */
int claim_instance_lock();
void release_instance_lock();

#endif
