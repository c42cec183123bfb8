/* The tables of checkouts and refunds (quenta/checkouts.cpp); their
 * operations are the exports quenta_checkout, quenta_selectCheckouts,
 * quenta_getCheckout, quenta_refund and quenta_selectRefunds. */
#ifndef QUENTA_CHECKOUTS_H
#define QUENTA_CHECKOUTS_H

/* Creates "checkouttbl" and "refundtbl" with their indexes in the database
 * file at dbpath when the file lacks them: 0, or -1 (logged). */
int checkouts_create(const char *dbpath);

#endif
