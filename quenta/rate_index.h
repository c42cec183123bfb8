/* Prefix lookup over the rule list. A carrier's rate deck holds tens of
 * thousands of prefixes, so the counter does not walk its list per call: a digit
 * trie built once after loading leads from a dialled number straight to the
 * rules whose prefixes it begins with. The plain walks stay as the reference
 * the index must agree with, and serve when no index could be built. */
#ifndef QUENTA_RATE_INDEX_H
#define QUENTA_RATE_INDEX_H

#include "quenta/rateinfo.h"
#include "utils/datalist.h"

#define RATE_INDEX_MAX_DEPTH 128 /* a prefix holds at most 127 digits */

/* A rule whose prefix begins a number, with its position in the rule list. */
struct rate_match {
  RateInfo *rule;
  int pos;
};

struct rate_index;

/* Create / release. Null without memory, or when a prefix holds a byte that is
 * not a digit (the parser never stores one); the caller then walks the list. */
struct rate_index *create_rate_index(const utils::datalist *rules);
void rate_index_release(struct rate_index *idx);

/* Fills out with, for every distinct prefix that begins number, the first rule
 * in list order that has it, shortest prefix first; returns the count (at most
 * RATE_INDEX_MAX_DEPTH). */
int rate_index_matches(const struct rate_index *idx, const char *number, struct rate_match *out);

/* The longest matching prefix (first in list order among equals), or null. */
RateInfo *rate_index_longest(const struct rate_index *idx, const char *number);
/* The first rule in list order whose prefix begins number, or null. */
RateInfo *rate_index_first(const struct rate_index *idx, const char *number);

/* The walks over the list in stored order. rate_walk_longest logs every rule it
 * compares ("matching ...") and every match ("matched ..."). */
RateInfo *rate_walk_longest(const utils::datalist *rules, const char *number);
RateInfo *rate_walk_first(const utils::datalist *rules, const char *number);

/* True when number begins with the rule's whole prefix. */
bool rate_prefix_matches(const RateInfo *rule, const char *number);

#endif
