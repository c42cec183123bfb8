/* Rate decks: the rate table as a CSV file, one rule a line, as carriers and
 * spreadsheets hand prices around:
 *
 *   名称,区号,每分钟价格,手续费,计费间隔
 *   默认费率,,0.90,0.00,60
 *   北京,010,0.60,0.50,6
 *   "New York, NY",001212,1.20
 *
 * name, prefix, price per minute, then optionally the handling charge (0 when
 * empty) and the charging unit in seconds (RULE_UNIT_DEFAULT when empty).
 * Fields follow RFC 4180 (quoted fields may hold commas, quotes written twice
 * and line breaks); blanks around a field are dropped. A first line whose
 * prefix field holds text without any digit is a header and is skipped. The
 * bytes are UTF-8 when they start with its byte-order mark or are valid UTF-8
 * throughout, else GBK (UTF-16 and UTF-32 are taken by their mark).
 *
 * A line becomes a rule like the editor's new-rule template: one period from
 * 0:00:00, no package, no free limit. Its price per charging unit is the price
 * per minute x unit / 60, rounded to the cent the rate file keeps (half a cent
 * up); a line whose price had to be rounded is taken and noted. A rule whose
 * prefix an existing rule has replaces the first such rule in its place (the
 * one the engine would choose); the others are added at the end in file order.
 * The line named "默认费率" with an empty prefix is the default rule: it
 * replaces the table's default rule (a table without one refuses it).
 *
 * Export writes the same form, UTF-8 with a byte-order mark, one line per
 * rule in table order, the default rule among them (named "默认费率", no
 * prefix), the price per minute from the first period (price per unit x 60 /
 * unit). Importing an export again therefore replaces every rule by itself,
 * except that a rule with several periods, a package or a free limit comes
 * back with its first period's price all day and neither package nor free
 * limit. Plain functions; no window. */
#ifndef CONSOLE_RATEDECK_H
#define CONSOLE_RATEDECK_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "quenta/rateinfo.h"

#define DECK_FILE_MAX (64 * 1024 * 1024) /* bytes of a deck read at most */
#define DECK_PRICE_MAX_CENTS 9999999LL   /* 99999.99: a price in single precision to the cent */

/* One record of a CSV text: its fields and the line it starts on (from 1). */
struct CsvRecord {
  int line;
  QStringList fields;
  bool unclosed; /* a quote opened and never closed: the rest of the text */
};

/* A line of the deck that the preview tells about. */
struct DeckNote {
  int line;
  QString text;
};

/* What importing a deck into a rate table does, worked out before anything is
 * written. */
struct DeckPlan {
  QString encoding;             /* "UTF-8", "GBK", ... as the bytes were read */
  int headerLine = 0;           /* the header's line, 0 when there was none */
  QList<RateInfo> added;        /* new rules, in file order */
  QList<int> addedLines;        /* the line of each new rule */
  QList<int> replacedRows;      /* rows of the table whose rule ... */
  QList<RateInfo> replacements; /* ... is replaced by the rule at the same index */
  QList<int> replacementLines;  /* the line of each replacement */
  QList<DeckNote> refused;      /* lines not taken, with the reason, in line order */
  QList<DeckNote> rounded;      /* lines taken whose prices were rounded to the cent */
};

/* The text of a deck's bytes; *encoding names the encoding that was used. */
QString DecodeDeck(const QByteArray &bytes, QString *encoding);

/* The records of a CSV text; records without any text in them are left out. */
QList<CsvRecord> SplitCsv(const QString &text);

/* What the deck does to rules (the rate table, row by row). */
DeckPlan PlanDeck(const QByteArray &bytes, const QList<RateInfo> &rules);

/* The rules after the plan: replacements in place, additions at the end. */
QList<RateInfo> ApplyDeck(const QList<RateInfo> &rules, const DeckPlan &plan);

/* The deck of the rules, with its header line and byte-order mark. *lossy
 * (when given) counts the rules exported with less than they hold (several
 * periods, a package, a free limit). */
QByteArray FormatDeck(const QList<RateInfo> &rules, int *lossy = nullptr);

/* The price per minute of a price per unit, as the deck writes it: at least
 * two decimals and no more than needed, up to eight. */
QString PerMinuteText(float perUnit, int unit);

/* What the preview says of a rule a deck adds: "新增 上海（021）：每60秒
 * 全天0.90元", with the handling charge when there is one. */
QString DeckAddedText(const RateInfo &rule);

/* What the preview says of a rule a deck replaces: each thing that changes,
 * was and will be ("替换 北京（010）：价格：每60秒0:00:00起0.30元、8:00:00起
 * 0.60元 → 每60秒全天0.60元；3+1：180秒1.00元 → 无"), or that nothing does. */
QString DeckReplacedText(const RateInfo &before, const RateInfo &after);

#endif
