/* The shop's settings "shopinfo": the name, address and telephone that head
 * every receipt, a free line that ends it, and whether a line is denied as
 * soon as its checkout is confirmed. GBK, one "key=value" a line; lines of
 * keys the console does not know, and any other line, are kept as they stand
 * when the file is rewritten, so a later version's settings survive this one. */
#ifndef CONSOLE_SHOPINFO_H
#define CONSOLE_SHOPINFO_H

#include <QByteArray>
#include <QList>
#include <QString>

#define SHOPINFO_FILE "shopinfo"

/* The keys of the file. */
#define SHOP_NAME_KEY "name"
#define SHOP_ADDRESS_KEY "address"
#define SHOP_PHONE_KEY "phone"
#define SHOP_FOOTER_KEY "footer"
#define SHOP_DENY_KEY "deny_after_checkout" /* "1" or "0" */

struct ShopInfo {
  QString name; /* the receipt's heading */
  QString address;
  QString phone;
  QString footer;                 /* a free line at the receipt's end ("谢谢惠顾") */
  bool denyAfterCheckout = false; /* deny a line's calls once its checkout is confirmed */
  QList<QByteArray> lines;        /* the file as read, without line ends: what a rewrite keeps */
};

/* Reads the settings. Without a file every text is empty and the line is not
 * denied: true. A key that appears twice counts with its last line; blanks
 * around keys and values do not count; "1", "yes", "true" and "on" (any
 * case) switch the denial on. False, *info empty, when the file is there but
 * cannot be read; *reason (when given) then says why. */
bool ReadShopInfo(const QString &path, ShopInfo *info, QString *reason = nullptr);

/* Replaces the file with info: each known key's first line takes its new
 * value and its later lines go, keys not yet in the file are appended, every
 * other line of info.lines stays where it was. Line breaks in a text become
 * blanks. False, the file as it was, when a text has a character without a
 * GBK form or the file could not be written; *reason (when given) says why in
 * the operator's words. */
bool WriteShopInfo(const QString &path, const ShopInfo &info, QString *reason = nullptr);

#endif
