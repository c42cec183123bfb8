/* What the console asks the engine about a line's calls: how many are not yet
 * settled, which ones a checkout takes with their prices, what the call in
 * progress costs so far, and settling them in one checkout.
 * Machine ids and call ids are GBK bytes as the engine reported them; every
 * text value put between quotes in a condition has its quotes doubled, so no
 * gateway can change a statement with the id it reports. */
#ifndef CONSOLE_CALLS_H
#define CONSOLE_CALLS_H

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "quenta/records.h"

/* The SQL string literal of a text for a condition handed to the engine: in
 * single quotes, every ' inside doubled. */
QByteArray SqlText(const QByteArray &text);

/* The line's call records with flag 0: their number, or -1 when the engine
 * could not be asked. */
int CountUnsettledCalls(const QByteArray &machineId, int lineId);

/* One call a checkout takes: its record and, when the engine could price it,
 * its bill (a copy; the engine's own record is overwritten by the next price). */
struct CheckoutCall {
  cdr_info cdr;
  std::optional<bill_info> bill;
};

/* The line's unsettled calls in the engine's order, each priced; a call
 * without a bill is one no rate prices. A call that already has a bill in
 * "billtbl" (the program stopped between storing its bill and marking it) is
 * marked settled here and left out, so it is never billed twice. False, and
 * no calls, when the calls or their bills could not be read. */
bool CollectUnsettledCalls(const QByteArray &machineId, int lineId, std::vector<CheckoutCall> *calls);

/* The call in progress priced as if it ended at `end` (the engine's
 * "%Y-%m-%d %H:%M:%S" form, StationTime): the bill its checkout would list
 * had the call ended then, or nothing when no rule prices it. dialled and
 * begin are the texts the engine reports for the line. The engine logs
 * nothing for it, so it may run for every line at every poll. */
std::optional<bill_info> PriceCallSoFar(const char *dialled, const char *begin, const QByteArray &end);

/* Stores the checkout of the calls in one transaction: the bills of the
 * priced calls, their settled flags and the checkout record (*co: the caller
 * fills the line, the operator and the money; the engine its running number,
 * date and calls). The engine's result: 0, -1 (nothing stored) or
 * QUENTA_CHECKOUT_STALE (a call was settled meanwhile: nothing stored). A call
 * no rate prices is left out: it stays unsettled. */
int StoreCheckout(checkout_info *co, const std::vector<CheckoutCall> &calls);

/* The operator's name as the engine stores it in a bill: GBK, at most 63 bytes,
 * never ending inside a double-byte character. */
QByteArray OperatorForBill(const QString &name);

#endif
