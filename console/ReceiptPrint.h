/* Sending a receipt out: to a printer through the system's print dialog, or,
 * on a machine without a printer, into a PDF file in the station's
 * "receipts" folder, which the operator is told. Both the checkout dialog
 * and the reprint use it. */
#ifndef CONSOLE_RECEIPTPRINT_H
#define CONSOLE_RECEIPTPRINT_H

#include <QString>

#include "Receipt.h"

class QWidget;

/* True when the receipt went to a printer or into a file; false when the
 * operator cancelled the print dialog or the printing failed (he is told). */
bool PrintReceipt(QWidget *parent, const Receipt &receipt, const QString &pdfFolder);

/* True when the machine has a printer to print on. */
bool HavePrinter();

#endif
