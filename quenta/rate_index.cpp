/* The digit trie over the rule prefixes and the plain walks it replaces.
 * Each trie node that ends a prefix remembers the first rule in list order with
 * exactly that prefix; a lookup follows the number's digits from the root, so it
 * costs one step per digit whatever the size of the table. */
#include "quenta/rate_index.h"

#include <stdint.h>
#include <string.h>

#include <new>
#include <vector>

#include "utils/debug.h"

namespace {

struct trie_node {
  int32_t child[10]; /* node index per next digit, -1 where none */
  int32_t pos;       /* first rule ending here (list position), -1 where none */
};

trie_node empty_node()
{
  trie_node n;
  for (auto &c : n.child)
    c = -1;
  n.pos = -1;
  return n;
}

size_t prefix_length(const RateInfo *rule)
{
  return strnlen(rule->m_prefix, sizeof rule->m_prefix);
}

} /* namespace */

struct rate_index {
  std::vector<trie_node> nodes;  /* nodes[0] is the root (the empty prefix) */
  std::vector<RateInfo *> rules; /* the list in stored order */
};

bool rate_prefix_matches(const RateInfo *rule, const char *number)
{
  return strncmp(number, rule->m_prefix, prefix_length(rule)) == 0;
}

struct rate_index *create_rate_index(const utils::datalist *rules)
{
  auto *idx = new (std::nothrow) rate_index;
  if (!idx) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }
  try {
    idx->nodes.push_back(empty_node());
    for (auto *it = utils::datalist_first(rules); it; it = utils::datalist_next(it)) {
      auto *rule = static_cast<RateInfo *>(utils::datalist_itdata(it));
      int pos = (int)idx->rules.size();
      idx->rules.push_back(rule);
      size_t len = prefix_length(rule);
      int32_t node = 0;
      for (size_t i = 0; i < len; i++) {
        char c = rule->m_prefix[i];
        if (c < '0' || c > '9') {
          DLOG("prefix %s is not all digits: no index", rule->m_prefix);
          delete idx;
          return nullptr;
        }
        int32_t next = idx->nodes[node].child[c - '0'];
        if (next < 0) {
          next = (int32_t)idx->nodes.size();
          idx->nodes.push_back(empty_node());
          idx->nodes[node].child[c - '0'] = next;
        }
        node = next;
      }
      /* rules come in list order: the first with a prefix keeps its node */
      if (idx->nodes[node].pos < 0)
        idx->nodes[node].pos = pos;
    }
    idx->nodes.shrink_to_fit();
  } catch (const std::bad_alloc &) {
    LOG_FUNCTION_FAILED();
    delete idx;
    return nullptr;
  }
  return idx;
}

void rate_index_release(struct rate_index *idx)
{
  delete idx;
}

int rate_index_matches(const struct rate_index *idx, const char *number, struct rate_match *out)
{
  int n = 0;
  int32_t node = 0;
  size_t depth = 0;
  for (;;) {
    const trie_node &tn = idx->nodes[node];
    if (tn.pos >= 0 && n < RATE_INDEX_MAX_DEPTH)
      out[n++] = rate_match{idx->rules[tn.pos], tn.pos};
    char c = number[depth];
    if (c < '0' || c > '9' || depth + 1 >= RATE_INDEX_MAX_DEPTH)
      break;
    node = tn.child[c - '0'];
    if (node < 0)
      break;
    depth++;
  }
  return n;
}

RateInfo *rate_index_longest(const struct rate_index *idx, const char *number)
{
  rate_match m[RATE_INDEX_MAX_DEPTH];
  int n = rate_index_matches(idx, number, m);
  return n > 0 ? m[n - 1].rule : nullptr;
}

RateInfo *rate_index_first(const struct rate_index *idx, const char *number)
{
  rate_match m[RATE_INDEX_MAX_DEPTH];
  int n = rate_index_matches(idx, number, m);
  RateInfo *best = nullptr;
  int best_pos = -1;
  for (int i = 0; i < n; i++) {
    if (best_pos < 0 || m[i].pos < best_pos) {
      best = m[i].rule;
      best_pos = m[i].pos;
    }
  }
  return best;
}

RateInfo *rate_walk_longest(const utils::datalist *rules, const char *number)
{
  RateInfo *current = nullptr;
  size_t current_len = 0;
  for (auto *it = utils::datalist_first(rules); it; it = utils::datalist_next(it)) {
    auto *rule = static_cast<RateInfo *>(utils::datalist_itdata(it));
    DPRINT("matching %s with %s\n", number, rule->m_prefix);
    if (!rate_prefix_matches(rule, number))
      continue;
    DPRINT("matched %s/%s current=%p\n", number, rule->m_prefix, (void *)rule);
    size_t len = prefix_length(rule);
    if (!current || len > current_len) {
      current = rule;
      current_len = len;
    }
  }
  return current;
}

RateInfo *rate_walk_first(const utils::datalist *rules, const char *number)
{
  for (auto *it = utils::datalist_first(rules); it; it = utils::datalist_next(it)) {
    auto *rule = static_cast<RateInfo *>(utils::datalist_itdata(it));
    if (rate_prefix_matches(rule, number))
      return rule;
  }
  return nullptr;
}
