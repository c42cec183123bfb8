/* The rate file "rateinfo" as the rate editor keeps it: one rule per line, the
 * display name, "|", then the rule's rate-info line, all GBK bytes. The engine
 * reads the same file once at its start, so every line written here must be
 * one its loader takes: a line it cannot read ends its loading there.
 *
 *   .default||0.00|0:00:00-0.00|0:0.00|0|60
 *   北京|010|0.50|0:00:00-0.30,8:00:00-0.60|180:1.00|3|60
 *
 * The default rule is the line named ".default"; its prefix field is empty and
 * reads back as "0". Plain functions over RateInfo records; no window. */
#ifndef CONSOLE_RATEFILE_H
#define CONSOLE_RATEFILE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTime>

#include "quenta/rateinfo.h"

#define RATE_FILE "rateinfo"
#define DEFAULT_RULE_NAME ".default"    /* m_name of the default rule */
#define DEFAULT_RULE_CAPTION "默认费率" /* the default rule as the operator sees it */
#define RATE_TEXT_MAX 127               /* bytes kept of a display name or a prefix */
#define RATE_LINE_MAX 1023              /* longest line read back, line feed not counted */
#define ENGINE_LINE_MAX 510             /* longest line the engine's loader takes */
#define RULE_UNIT_DEFAULT 60            /* charging unit of a new rule, seconds */
#define PERIOD_UNUSED_SECONDS 86401     /* sorts a period not in use after every time of day */

/* The text of a record's fixed field, up to its terminator or its end. */
QByteArray FieldText(const char *field, size_t size);
#define FIELD_TEXT(f) FieldText((f), sizeof(f))

/* Stores bytes in a fixed field, terminated, cut to fit without splitting a
 * two-byte GBK character. */
void StoreText(char *field, size_t size, const QByteArray &bytes);
#define STORE_TEXT(f, bytes) StoreText((f), sizeof(f), (bytes))

/* True for the default rule (m_name ".default" exactly). */
bool IsDefaultRule(const RateInfo &rule);

/* What a new rule starts as: everything 0 but the charging unit (60) and
 * period 1, which starts at midnight. */
RateInfo NewRuleTemplate();

/* The default rule of a station without a usable rate file: the template
 * named ".default". */
RateInfo DefaultRule();

/* The rule's line with its line feed. Periods without a start time are left
 * out; the default rule is written with an empty prefix. */
QByteArray FormatRateLine(const RateInfo &rule);

/* Reads one line of the file (its line end included or not) into a rule.
 * False when the line is blank, has no "|", or is refused by the engine's
 * parser. The default rule comes back named ".default" with an empty prefix. */
bool ParseRateLine(const QByteArray &line, RateInfo *rule);

/* The file's rules in file order. False when it cannot be opened. Lines that
 * hold text but no rule (and lines longer than RATE_LINE_MAX) are counted in
 * *unreadable. */
bool ReadRateFile(const QString &path, QList<RateInfo> *rules, int *unreadable);

/* Replaces the file with one line per rule, in order. The old file stays whole
 * until the new one is complete; false when it could not be written, and
 * *reason (when given) says why in the operator's words. */
bool WriteRateFile(const QString &path, const QList<RateInfo> &rules, QString *reason = nullptr);

/* Seconds since midnight of a start time "h:m:s" (h*3600 + m*60 + s; missing
 * parts count 0), PERIOD_UNUSED_SECONDS for an empty one. */
int PeriodStartSeconds(const period_price &period);

/* A start time as the time picker shows it; midnight when the text is no time
 * of day. */
QTime PeriodStartTime(const period_price &period);

/* Orders the four periods by start time, earliest first, the ones not in use
 * last; equal times keep their order. */
void SortPeriods(RateInfo *rule);

/* Why the rule may not be saved, in words for the operator, or empty when its
 * line reads back as the same rule and the engine's loader takes it. */
QString RateRuleFault(const RateInfo &rule);

/* Decimal text of a money edit: digits with at most one "." and at least one
 * digit ("1", "1.", ".5"). False for anything else (".", "", "1.2.3"). */
bool ParseMoneyText(const QString &text, float *value);

/* Text of a count edit: one or more digits that fit an int. */
bool ParseCountText(const QString &text, int *value);

/* Why the text of the money edit captioned what cannot be saved as it reads,
 * in words for the operator, or empty with *value set. Taken: a decimal text
 * (ParseMoneyText) with at most two decimals whose amount a rule's float
 * carries to the fen, so that the saved rule shows the same amount again.
 * Nothing is ever rounded. */
QString MoneyEditFault(const QString &text, const QString &what, float *value);

/* The same for a count edit: one or more digits that fit an int. */
QString CountEditFault(const QString &text, const QString &what, int *value);

/* The first row of rules, other than except, whose rule has the prefix (the
 * default rule has none), or -1. */
int RowOfPrefix(const QList<RateInfo> &rules, const QByteArray &prefix, int except);

/* The prefixes that more than one rule has, each once, in the order of their
 * second rules: the engine prices calls with the first rule of a prefix only. */
QList<QByteArray> RepeatedPrefixes(const QList<RateInfo> &rules);

#endif
