/* The money field of the checkout and of the deposit: an edit that takes the
 * figures of an amount and nothing else (MoneyKeyAllowed, BillText.h), and
 * no more of them than an amount has (MoneyTextAllowed: six before the point,
 * two after), so that whatever it holds reads as an amount, or as one being
 * typed. */
#ifndef CONSOLE_MONEYFIELD_H
#define CONSOLE_MONEYFIELD_H

class QLineEdit;
class QWidget;

/* A money field with the object name. */
QLineEdit *MoneyField(QWidget *parent, const char *objectName);

#endif
