/* The texts of a checkout: call durations, amounts in yuan, the change due to
 * the customer, and which keys the money field takes. Plain functions, no
 * window; amounts always have a point and two decimals, whatever the locale. */
#ifndef CONSOLE_BILLTEXT_H
#define CONSOLE_BILLTEXT_H

#include <QChar>
#include <QString>

#include <optional>

#include "Money.h"

/* "1小时2分5秒": hours only from an hour on, minutes only from a minute on,
 * seconds always. A negative duration reads as 0 seconds. */
QString DurationText(int seconds);

/* "应付金额" of a line: its unsettled calls plus the call in progress, added as
 * the checkout adds them once that call has ended (the calls in order, the
 * newest last); empty when there is neither. */
QString AmountDueText(std::optional<Cents> unsettled, std::optional<Cents> running);
/* The same amount as a number: 0 when there is neither. */
Cents AmountDue(std::optional<Cents> unsettled, std::optional<Cents> running);

/* The change for money typed against the total: "0.00" for an empty field,
 * the difference in yuan otherwise ("1.20元", "-1.80元" when too little was
 * paid). Nothing when the text is not a number yet (a lone point): the shown
 * change then stays as it was. */
std::optional<QString> ChangeText(const QString &money, Cents total);

/* The last line of a checkout with a deposit, which counts as paid: the
 * deposit and the money paid now against the total. The
 * caption is "还需补交" (still owed) when they fall short, else "找零" when
 * money was paid now, else "退还" (the rest of the deposit handed back); the
 * amount is never negative. (Without a deposit the checkout shows ChangeText.) */
struct Settlement {
  QString caption;
  Cents amount;
};
Settlement SettlementOf(Cents total, Cents deposit, Cents paid);

/* Whether the money field takes a typed character: digits, a point when the
 * text left after replacing the selection holds none, and backspace.
 * textOutsideSelection is the field's text without its selected part. */
bool MoneyKeyAllowed(const QString &textOutsideSelection, QChar key);

#define MONEY_FIELD_DIGITS 6 /* figures before the point a money field takes */

/* Whether a money field may hold the text: empty, or at most
 * MONEY_FIELD_DIGITS figures, then at most one point and two figures after it
 * ("", "5", "5.", ".5", "123456.78"). */
bool MoneyTextAllowed(const QString &text);

/* The money of a checkout of due with the line's deposit and paid handed over
 * now: what goes back to the customer, and what he still owes (the operator
 * agreed to settle without it). One of them is 0. */
struct CheckoutMoney {
  Cents change;
  Cents owed;
};
CheckoutMoney CheckoutMoneyOf(Cents due, Cents deposit, Cents paid);

/* How a call's amount came about, told to a customer who asks, one part a
 * line: the rate rule, the package and what it covers, each stretch of the
 * day with its price, the handling charge, and the total. periodRecord is the
 * engine's detail text of the price (bill_info::m_period_record: stretches
 * "09:00:00-09:03:00 0.90," and "1.00 in 180 second, handling charge 0.20
 * total 1.20"); what it leaves out (stretches that did not fit) shows as the
 * rest of the amount. rule is the rule's name as shown, empty when unknown. */
QString BreakdownText(const QString &rule, const QByteArray &periodRecord, Cents amount);

#endif
