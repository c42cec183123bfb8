/* Records shared by the engine and every program that uses it: call detail
 * records, bills, report rows and groups, shift handovers, the call under way
 * on a line, entries of the audit trail, the callback types of the engine's
 * interface, and the column lists of the tables "cdrtbl", "billtbl",
 * "shifttbl" and "audittbl". C-compatible: field
 * order, widths and types are the same on both sides of the library boundary.
 * Every text is zero-terminated in its array. */
#ifndef QUENTA_RECORDS_H
#define QUENTA_RECORDS_H

#ifdef __cplusplus
extern "C" {
#endif

#define QUENTA_API __attribute__((visibility("default")))

#define CALLID_LEN 128
#define TEXT_LEN 128
#define ADMIN_LEN 64
#define PERIOD_RECORD_LEN 1024
#define AUDIT_DETAIL_LEN 1024

/* One call detail record: one row of "cdrtbl". */
typedef struct cdr_info {
  char callid[TEXT_LEN];    /* "%s-%08d@%s": machine id, line, start time */
  char machineid[TEXT_LEN]; /* gateway machine */
  int lineid;               /* line on that machine */
  char orgnum[TEXT_LEN];    /* calling number */
  char desnum[TEXT_LEN];    /* dialled number */
  char bdate[TEXT_LEN];     /* start, local time "%Y-%m-%d %H:%M:%S" */
  char edate[TEXT_LEN];     /* end, same form */
  int flag;                 /* 0 unsettled, 1 settled at checkout */
} cdr_info;

/* One priced call: one row of "billtbl". */
typedef struct bill_info {
  char m_callid[CALLID_LEN];               /* call id of the priced call */
  int m_calltime;                          /* duration in seconds */
  float m_count;                           /* the charge: the float nearest to its whole cents */
  char m_admin[ADMIN_LEN];                 /* operator who settled it */
  char m_date[TEXT_LEN];                   /* when the bill was stored */
  char m_period_record[PERIOD_RECORD_LEN]; /* detail text of the pricing */
} bill_info;

/* One row of the report join. */
typedef struct report_info {
  cdr_info m_cdr;
  bill_info m_bill;
} report_info;

/* One group of the grouped report (quenta_getReportGroups): the settled calls
 * of one key within one time bucket. */
typedef struct report_group {
  char m_key[TEXT_LEN]; /* the group: machine id, rule name, operator or day */
  int m_lineid;         /* by line: the line on machine m_key; else 0 */
  char m_bucket[32];    /* "%Y-%m-%d" or "%Y-%m-%d %H" of the begin time; "" unbucketed */
  int m_calls;          /* settled calls (bills joined with their call) */
  long long m_seconds;  /* their durations added, a negative one counted as 0 */
  long long m_cents;    /* their amounts, each rounded to the cent, added */
} report_group;

/* One handover of the counter: one row of "shifttbl". Texts are GBK. */
typedef struct shift_info {
  char m_bdate[TEXT_LEN];     /* when the ending shift began, "%Y-%m-%d %H:%M:%S" */
  char m_edate[TEXT_LEN];     /* the moment of the handover, same form */
  char m_outgoing[ADMIN_LEN]; /* operator who handed over */
  float m_takings;            /* the shift's total as the console counted it */
  char m_incoming[ADMIN_LEN]; /* operator who took over */
} shift_info;

/* One handover as quenta_selectShifts reports it, beside the bills that its
 * outgoing operator stored during the shift. */
typedef struct shift_report {
  long long m_rowid; /* SQLite's rowid of the row: the handovers' order */
  shift_info m_shift;
  int m_bills;       /* bills of m_outgoing dated within m_bdate..m_edate */
  long long m_cents; /* their amounts, each rounded to the cent, added */
} shift_report;

/* The cash drawer at the end of a shift, kept beside its row of "shifttbl".
 * Amounts are whole cents. */
#define SHIFT_HANDED_OVER 1  /* handed over at the counter (else written at the next login: 未交班) */
#define SHIFT_COUNTED 2      /* m_counted holds what was counted */
#define SHIFT_DRAWER_KNOWN 4 /* m_expected and m_held were reckoned (a row of an older station lacks them) */

typedef struct shift_drawer {
  long long m_expected; /* what the drawer should hold: cash its checkouts took, less the refunds given */
  long long m_counted;  /* the cash counted at the handover */
  long long m_held;     /* deposits still held for lines, apart from m_expected */
  int m_flags;          /* SHIFT_HANDED_OVER, SHIFT_COUNTED, SHIFT_DRAWER_KNOWN */
} shift_drawer;

/* A handover with its drawer, as quenta_selectShiftDrawers reports it. */
typedef struct shift_drawer_report {
  shift_report m_report;
  shift_drawer m_drawer;
} shift_drawer_report;

/* One entry of the audit trail: one row of "audittbl", as quenta_selectAudit
 * reports it. Texts are GBK. */
typedef struct audit_info {
  long long m_rowid;               /* SQLite's rowid of the row: the entries' order */
  char m_date[TEXT_LEN];           /* when it happened, "%Y-%m-%d %H:%M:%S" */
  char m_admin[ADMIN_LEN];         /* the operator who did it (a failed login: the name typed) */
  char m_action[ADMIN_LEN];        /* what was done: "登录", "结帐", "修改费率"... */
  char m_detail[AUDIT_DETAIL_LEN]; /* the particulars, in the operator's words */
} audit_info;

/* One confirmed checkout: one row of "checkouttbl". Amounts are whole cents.
 * What the customer settled is m_due - m_owed; the cash the drawer took is
 * m_paid + m_deposit - m_change (the deposit was taken earlier and is handed
 * over to the takings here). Texts are GBK. */
#define REFUND_REASON_LEN 256
typedef struct checkout_info {
  long long m_number;         /* the running number, printed on its receipts */
  char m_date[TEXT_LEN];      /* when it was confirmed, "%Y-%m-%d %H:%M:%S" */
  char m_admin[ADMIN_LEN];    /* the operator who took the money */
  char m_machineid[TEXT_LEN]; /* the line settled */
  int m_lineid;
  long long m_due;       /* the calls' amounts added */
  long long m_deposit;   /* the line's deposit counted as paid */
  long long m_paid;      /* cash handed over at the counter */
  long long m_change;    /* cash handed back */
  long long m_owed;      /* left unpaid by the customer, with the operator's consent */
  long long m_refunded;  /* refunded of it since (read back only) */
  int m_calls;           /* the calls settled */
  const char *m_callids; /* their call ids, separated by '\n'; valid during a callback */
} checkout_info;

/* One refund of (part of) a settled checkout: one row of "refundtbl". */
typedef struct refund_info {
  long long m_number;               /* the refund's own running number */
  char m_date[TEXT_LEN];            /* when it was given */
  char m_admin[ADMIN_LEN];          /* the administrator who gave it */
  long long m_checkout;             /* the checkout's running number */
  long long m_amount;               /* cents handed back to the customer */
  char m_reason[REFUND_REASON_LEN]; /* why, in the administrator's words */
} refund_info;

/* The call under way on a line, and the input of pricing. */
typedef struct call_info {
  char srcnum[TEXT_LEN]; /* calling number */
  char desnum[TEXT_LEN]; /* dialled number */
  char bdate[TEXT_LEN];  /* start time */
  char edate[TEXT_LEN];  /* end time */
  char callid[TEXT_LEN];
  char verifydate[TEXT_LEN]; /* declared, never used */
} call_info;

/* quenta_getStatus: once per line, in first-report order. The texts are valid
 * only during the call. flag is 1 once for each call that ended and was stored. */
typedef void (*STATUS_CALLBACK)(const char *machineid, int lineid, const char *state, const char *srcnum,
                                const char *desnum, const char *bdate, int flag);
/* The same with the parameter given to quenta_getStatusEx. */
typedef void (*STATUS_CALLBACK_EX)(const char *machineid, int lineid, const char *state, const char *srcnum,
                                   const char *desnum, const char *bdate, int flag, void *param);

/* Row delivery of the select operations: a pointer to a cdr_info, bill_info or
 * report_info that lives only during the call, and the caller's parameter. */
typedef void (*USER_CALLBACK)(void *record, void *param);

/* Column descriptions from which the database layer composes create statements. */
typedef enum COLUMN_TYPE {
  T_INT = 0,       /* smallint, written unquoted */
  T_CHAR = 1,      /* varchar(m_len), written as text */
  T_FLOAT = 2,     /* real, written unquoted */
  T_CONSTRAINT = 3 /* "constraint key1 unique(m_name)"; not a column */
} COLUMN_TYPE;

typedef struct column_info {
  const char *m_name; /* column name; null ends a column list */
  COLUMN_TYPE m_type;
  unsigned m_len; /* text length for T_CHAR */
} column_info;

/* "cdrtbl": callid, machineid, lineid, orgnum, desnum, bdate, edate, flag,
 * unique(callid). "billtbl": callid, calltime, period, count, admin, date.
 * "shifttbl": bdate, edate, outgoing, takings, incoming; one row appended per
 * handover and never changed, rows told apart by their rowid.
 * "pricetbl": the price each call was given as it was stored, written in the
 * transaction of its "cdrtbl" row: callid (unique), calltime (seconds), cents
 * (the amount, an integer), period (the detail text), rule (the rule's
 * display name, GBK), date (when it was priced, "%Y-%m-%d %H:%M:%S").
 * "audittbl": date, admin, action, detail; appended by quenta_audit and never
 * changed by the engine.
 * "checkouttbl": number (integer primary key, the running number), date,
 * admin, machineid, lineid, due, deposit, paid, change, owed (integer cents),
 * calls, callids (the ids, one per line); appended by quenta_checkout.
 * "refundtbl": number (integer primary key), date, admin, checkout (its
 * number), amount (integer cents), reason; appended by quenta_refund. Neither
 * is ever changed by the engine. */
QUENTA_API extern const column_info gst_cdr_infos[];
QUENTA_API extern const column_info gst_bill_infos[];

#ifdef __cplusplus
}
#endif

#endif
