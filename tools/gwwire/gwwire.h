/* The gateway message format as the programs that play gateways write and
 * read it (the simulator gwsim, the SIP bridge quenta-sipgw): a first line
 * "Type Type ui/1.0", attribute lines "name: value", an empty line, one
 * message a datagram. */
#ifndef GWWIRE_GWWIRE_H
#define GWWIRE_GWWIRE_H

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

namespace gwwire {

using Attrs = std::vector<std::pair<std::string, std::string>>;

constexpr int kDatagramMax = 512;                 /* the station reads at most this much */
constexpr const char *kDeniedState = "FORBIDDEN"; /* a line in this state makes no calls */

struct Message {
  std::string type;
  Attrs attrs;
  const std::string *find(const std::string &name) const; /* case-insensitive, or null */
};

/* "Type Type ui/1.0\n", "name: value\n" per attribute, "\n". */
std::string compose(const std::string &type, const Attrs &attrs);
/* Reads the first line's type token and every "name: value" line up to the
 * empty line; false when the datagram is not a message. */
bool parse_message(const char *data, size_t len, Message &out);
/* The attribute lines of a message as sent (its text between the first line
 * and the empty line). */
std::string attribute_text(const char *data, size_t len);

} /* namespace gwwire */

#endif
