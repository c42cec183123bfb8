/* How a call's price came about, in the operator's words: the rule that
 * priced it, each stretch of time with its charge, the package, the handling
 * charge and the total, read from the price the engine froze for the call
 * (or from the detail text of its bill). Plain functions. */
#ifndef CONSOLE_PRICEDETAIL_H
#define CONSOLE_PRICEDETAIL_H

#include <QByteArray>
#include <QString>

/* The lines of the breakdown from the rule's name (GBK; ".default" is the
 * default rule, empty: not known) and the engine's detail text
 * ("08:00:00-08:01:00 0.30,... 1.00 in 180 second, handling charge 0.20 total
 * 1.20"); a part it cannot read is shown as it stands. */
QString BreakdownText(const QByteArray &rule, const QByteArray &period);

/* The breakdown of a stored call: its frozen price, else billPeriod (the
 * detail text its bill keeps) without a rule. */
QString CallBreakdown(const QByteArray &callId, const QByteArray &billPeriod);

#endif
