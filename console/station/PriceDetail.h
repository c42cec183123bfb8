/* How a stored call's price came about, in the operator's words: the rule
 * that priced it, as the engine froze it with the call's price, and the
 * parts of the amount (BreakdownText, console/station/BillText.h). */
#ifndef CONSOLE_PRICEDETAIL_H
#define CONSOLE_PRICEDETAIL_H

#include <QByteArray>
#include <QString>

#include "Money.h"

/* The rule's name as the operator reads it: ".default" is 默认费率, any
 * other name GBK as the rate file keeps it. */
QString RuleShownName(const QByteArray &rule);

/* The breakdown of a stored call of that amount: its frozen price's rule and
 * detail text, else billPeriod (the detail text its bill keeps) without a
 * rule. */
QString CallBreakdown(const QByteArray &callId, const QByteArray &billPeriod, Cents amount);

#endif
