/* The audit trail as the console keeps it: what the operators did (logins and
 * failed logins, checkouts, deposits, booth control, rate changes and
 * imports, operator accounts, shift changes, backups, shop settings) handed
 * to the engine's append-only table "audittbl", one entry per action, in the
 * owner's words; and the entries of a range read back for the report.
 *
 * An entry that cannot be stored yet (before the engine runs: the failed
 * logins before the first good one; or a refused append) waits with the
 * moment it happened and goes in, in order, before the next entry. Waiting
 * entries are kept in the file "audit.pending" (one a line: date, operator,
 * action, detail, tab-separated, GBK, a tab, line feed or backslash in a text
 * written "\t", "\n", "\\"), so that attempts at a login that was then
 * cancelled, or entries waiting when the program ended, go in at the next
 * start. It never stops the operator's work; each failure is told through the
 * notice (the main window's status bar) and the program's log. */
#ifndef CONSOLE_AUDIT_H
#define CONSOLE_AUDIT_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "quenta/rateinfo.h"

#include "Money.h"

struct ShopInfo;

/* The actions, as the trail names them. */
#define AUDIT_LOGIN "登录"
#define AUDIT_LOGIN_FAILED "登录失败"
#define AUDIT_CHECKOUT "结帐"
#define AUDIT_DEPOSIT "收押金"
#define AUDIT_REFUND "退押金"
#define AUDIT_DENY "禁止呼叫"
#define AUDIT_PERMIT "允许呼叫"
#define AUDIT_RATE "修改费率"
#define AUDIT_RATE_IMPORT "导入费率"
#define AUDIT_USER_ADD "添加操作员"
#define AUDIT_USER_DELETE "删除操作员"
#define AUDIT_PASSWORD "修改密码"
#define AUDIT_SHIFT "交班"
#define AUDIT_BACKUP "备份数据库"
#define AUDIT_SHOP "店铺设置"
#define AUDIT_CHECKOUT_REFUND "退款"
#define AUDIT_REPRINT "重打小票"

/* Every action above, in that order (the report's filter). */
QStringList AuditActions();

#define AUDIT_PENDING_FILE "audit.pending"

/* Where the waiting entries are kept; those the file holds wait again, before
 * any new one. A line of it that cannot be read stays in it. */
void SetAuditFile(const QString &path);

/* The operator on duty, whom Audit names. */
void SetAuditOperator(const QString &name);
/* Told, in the operator's words, when an entry could not be stored. */
void SetAuditNotice(std::function<void(const QString &)> notice);

/* Records an action of the operator on duty (AuditAs: of the name given) now.
 * True when it and every entry waiting before it are stored; false when it
 * waits (told). */
bool Audit(const char *action, const QString &detail);
bool AuditAs(const QString &name, const char *action, const QString &detail);
/* Hands the waiting entries to the engine (once it runs); how many still wait. */
int FlushAudit();

/* ---- the entries' particulars ---- */

/* A checkout as the customer saw it and as it was settled: the priced calls
 * the dialog listed and their total, the line's deposit (0: none) and the
 * money received now; the calls whose bill could not be stored (neither
 * settled nor counted, with their amount) and those whose bill was stored but
 * whose call could not be marked settled. */
struct CheckoutFigures {
  int calls = 0;
  Cents due = 0;
  Cents deposit = 0;
  Cents paid = 0;
  int unsaved = 0;
  Cents unsavedAmount = 0;
  int unmarked = 0;
};
/* "线路“1”2个通话：应付1.20元，已付5.00元，找零3.80元"; with a deposit
 * "，押金…，补交…" and the dialog's last line ("找零", "退还", "还需补交");
 * too little paid without one is "欠…". Calls left unsettled follow, with
 * what was actually settled. */
QString CheckoutDetail(const QString &line, const CheckoutFigures &f);
/* A rule as the rate file holds it: "北京（010）：0.50|0:00:00-0.30|180:1.00|3|60". */
QString RuleText(const RateInfo &rule);
/* A rule saved (before null: added) or deleted (after null). */
QString RateChangeDetail(const RateInfo *before, const RateInfo *after);
/* The settings that changed, "店名：甲 → 乙；…"; "未改动" when none did. */
QString ShopChangeDetail(const ShopInfo &before, const ShopInfo &after);

/* ---- the report ---- */

struct AuditRow {
  QByteArray date; /* "%Y-%m-%d %H:%M:%S" */
  QString admin;
  QString action;
  QString detail;
};

/* The entries dated from..to (both inclusive), oldest first, of the operator
 * and the action when they are not empty. False when the engine refused the
 * query, or a filter has no GBK form. */
bool QueryAudit(const QByteArray &from, const QByteArray &to, const QString &admin, const QString &action,
                QList<AuditRow> *rows);

#endif
