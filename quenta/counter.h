/* The charging counter: the table of rate rules, loaded once from the rate file
 * "rateinfo" (or from a rate XML document), the choice of a rule for a dialled
 * number, the price query, and the pricing of a finished call into a bill.
 *
 * A rule is a heap RateInfo owned by the counter. Rules keep the order of the
 * file; a prefix index built after loading answers the lookups with exactly the
 * rule a walk over that order would give:
 *   getresult - the longest matching prefix, the first in the file among equals;
 *   getrate   - the first matching rule in file order.
 * After loading the table is only read, so lookups take no lock. A call is
 * priced by one function, price, into a bill the caller names; the bill that
 * getresult returns is price's into the counter's own record, which lives
 * until the next getresult. A rule keeps the display name of its line
 * (m_name; the prefix for a rule of an XML document, empty for the default
 * rule), which pricing never reads. */
#ifndef QUENTA_COUNTER_H
#define QUENTA_COUNTER_H

#include "quenta/rateinfo.h"
#include "quenta/records.h"
#include "utils/datalist.h"

#define RATE_FILE_NAME "rateinfo"
#define RATE_LINE_BUFSIZE 511        /* a rate-file line holds at most 510 characters */
#define DEFAULT_LINE_TAG ".default|" /* a rate-file line of the default rule begins so */
#define DEFAULT_PREFIX_FILL "000000000"
#define XML_DEFAULT_PREFIX "012345678911"
#define UNMATCHED_RATE 0.3f          /* getrate's answer when no rule matches */
#define DEFAULT_RULE_NAME ".default" /* what normal_counter_rule_name calls the default rule */

enum CONFIG_FLAG { F_OPEN = 0, F_ADD = 1, F_DEL = 2 };

struct counter;
struct rate_index;

/* What a pricing settles besides its bill record: the amount in whole cents
 * (the bill's float is a copy of it, exact only up to about 80,000.00) and
 * the rule that priced the call. */
struct price_detail {
  long long cents;
  const char *rule; /* normal_counter_rule_name's name of the rule; lives with the counter */
};

struct counter_ops {
  void (*release)(struct counter *c);
  int (*setcfg)(struct counter *c, CONFIG_FLAG flag, void *param);
  /* Prices the call (its start time is rewritten: pass a scratch copy); null
   * when no rule applies or the call cannot be priced. */
  bill_info *(*getresult)(struct counter *c, call_info *call);
  /* Price per unit for destnum at the time of day bdate ("%H:%M:%S"). */
  float (*getrate)(struct counter *c, const char *destnum, const char *bdate);
  /* Prices the call (start rewritten, as getresult) into *bill, and into
   * *detail when given: 0, or -1 when no rule applies or the call cannot be
   * priced (*bill then holds no amount). */
  int (*price)(struct counter *c, call_info *call, bill_info *bill, struct price_detail *detail);
};

struct counter {
  const struct counter_ops *ops;
  char *name; /* owned copy */
};

struct normal_counter {
  const struct counter_ops *ops; /* the counter members come first */
  char *name;
  RateInfo *m_default_rate;        /* rule for numbers no prefix matches, or null */
  utils::datalist *m_rate_info;    /* RateInfo pointers in file order, owned */
  bill_info m_bill_info;           /* the bill getresult fills and returns */
  long long m_cents;               /* its amount in cents */
  struct rate_index *m_rate_index; /* lookup index over m_rate_info, or null: walk */
};

/* Create / release. */

/* Loads "rateinfo" from the current directory. A missing or bad file leaves the
 * table empty or partly filled; null only without memory. */
struct counter *create_normal_counter(const char *name);
/* The same with another file: a name containing ".xml" is read as a rate XML
 * document, any other as a rate file of text lines. */
struct counter *create_normal_counter_file(const char *name, const char *filename);
/* Frees the rules, the index, the name and the counter. */
void normal_counter_release(struct counter *c);

/* Creates the empty rule list, loads filename (see create_normal_counter_file)
 * and builds the index. Failures are logged; m_rate_info stays null only when
 * the list could not be created. */
void counter_init(struct normal_counter *nc, const char *filename);

/* Verbs. */
int normal_counter_setcfg(struct counter *c, CONFIG_FLAG flag, void *param); /* accepts anything; 0 */
bill_info *normal_counter_getresult(struct counter *c, call_info *call);
float normal_counter_getrate(struct counter *c, const char *destnum, const char *bdate);
/* The pricing of a call: the rule of normal_counter_choose_rate, the bill
 * cleared, the charge in cents (its float copy in m_count), the detail text
 * ending in its summary, and the cents and the rule in *detail when given. It
 * touches nothing of the counter but reads its rules, so the handler's thread
 * may price a call as it stores it while the console prices another. */
int normal_counter_price(struct counter *c, call_info *call, bill_info *bill, struct price_detail *detail);

/* The rule that prices a call to desnum: the longest matching prefix, else the
 * default rule; null when neither exists. Logs the rules it examines. */
RateInfo *normal_counter_choose_rate(struct normal_counter *nc, const char *desnum);

/* The name of the rule normal_counter_choose_rate picks for desnum, without
 * logging (the report asks it for every listed call): the rate file's display
 * name, DEFAULT_RULE_NAME for the default rule, "" when no rule prices the
 * number. Valid as long as the counter. */
const char *normal_counter_rule_name(struct normal_counter *nc, const char *desnum);

/* Stores a display name of len bytes in the rule, cut to fit its field
 * without splitting a two-byte GBK character. */
void rule_set_name(RateInfo *rule, const char *name, int len);

/* Loader steps (counter_file.cpp, counter_xml.cpp). A rule is added only when it
 * parses and can price a call: a charging unit above 0, every period start a
 * time of day (hour 0-23, minute and second 0-59) and every amount a finite
 * float. */
void counter_load_rate_file(struct normal_counter *nc, const char *filename);
void counter_load_rate_xml(struct normal_counter *nc, const char *filename);
/* Takes a parsed rule: becomes the default rule or is appended; -1 (rule freed,
 * the reason logged) when it cannot price a call or the list cannot grow. */
int counter_add_rule(struct normal_counter *nc, RateInfo *rule, bool is_default);

/* Calls through the operations table. */
inline void counter_release(struct counter *c)
{
  c->ops->release(c);
}
inline int counter_setcfg(struct counter *c, CONFIG_FLAG f, void *p)
{
  return c->ops->setcfg(c, f, p);
}
inline bill_info *counter_get_result(struct counter *c, call_info *call)
{
  return c->ops->getresult(c, call);
}
inline float counter_getrate(struct counter *c, const char *destnum, const char *bdate)
{
  return c->ops->getrate(c, destnum, bdate);
}
inline int counter_price(struct counter *c, call_info *call, bill_info *bill, struct price_detail *detail = nullptr)
{
  return c->ops->price(c, call, bill, detail);
}

#endif
