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

#endif
