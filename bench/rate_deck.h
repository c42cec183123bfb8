// A carrier's rate deck for the benchmarks: distinct prefixes of three to eight
// digits under the leading digits 0, 00, 01 and 013, as national and
// international destinations nest, one rule of three periods and a package per
// prefix, and a default rule; and numbers dialled under it.
#ifndef BENCH_RATE_DECK_H
#define BENCH_RATE_DECK_H

#include <stdio.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace bench {

/* Writes a rate file of `rules` rules (and the default rule) to path; the
 * prefixes in file order, or none when the file cannot be written. */
inline std::vector<std::string> write_rate_deck(const std::string &path, int rules)
{
  std::vector<std::string> prefixes;
  FILE *f = fopen(path.c_str(), "w");
  if (!f)
    return prefixes;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> digit(0, 9), len(3, 8), lead(0, 3);
  const char *leads[] = {"0", "00", "01", "013"};
  std::set<std::string> seen;
  while ((int)prefixes.size() < rules) {
    std::string p = leads[lead(rng)];
    for (int n = len(rng); (int)p.size() < n;)
      p += (char)('0' + digit(rng));
    if (!seen.insert(p).second)
      continue;
    prefixes.push_back(p);
    fprintf(f, "R%zu|%s|0.10|00:00:00-0.30,08:00:00-0.60,20:00:00-0.40|60:0.50|3|60\n", prefixes.size(), p.c_str());
  }
  fprintf(f, ".default||0.00|0:00:00-0.90|0:0.00|0|60\n");
  fclose(f);
  return prefixes;
}

/* A 12-digit number under the prefix. */
inline std::string number_under(const std::string &prefix, std::mt19937 &rng)
{
  std::uniform_int_distribution<int> digit(0, 9);
  std::string n = prefix;
  while (n.size() < 12)
    n += (char)('0' + digit(rng));
  return n;
}

}  // namespace bench

#endif
