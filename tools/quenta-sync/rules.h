/* The station's destination rules as the server names them: each bill is
 * tagged with the display name of the rule in "rateinfo" whose prefix is the
 * longest that begins the call's dialled number (the first such rule in the
 * file when two share it), or ".default" when none does, as the engine
 * chooses the rule that prices the call. */
#ifndef QUENTA_SYNC_RULES_H
#define QUENTA_SYNC_RULES_H

#include <string>
#include <vector>

namespace qsync {

#define DEFAULT_RULE_NAME ".default"

struct rate_rule {
  std::string name;   /* display name, GBK as in the file */
  std::string prefix; /* dialled-number prefix */
};

class rule_book {
public:
  /* Reads the rate file again when it changed since the last look (its
   * modification time or size); a missing file leaves no rules. */
  void refresh(const std::string &path);
  /* The rule's name for a dialled number, GBK; empty when the file has no
   * rule for it (no match and no default rule). */
  std::string rule_for(const std::string &desnum) const;

  /* Parses a rate file's text: lines "name|prefix|...". */
  void load_text(const std::string &text);

private:
  std::vector<rate_rule> m_rules;
  bool m_has_default = false;
  long long m_mtime_ns = -1, m_size = -1;
};

} /* namespace qsync */

#endif
