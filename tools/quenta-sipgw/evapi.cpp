/* Kamailio's event socket frames every message as a netstring: the length
 * in decimal, a colon, the bytes, a comma. */
#include <ctype.h>

#include "sipgw.h"

namespace sipgw {

std::string netstring(const std::string &data)
{
  return std::to_string(data.size()) + ":" + data + ",";
}

bool take_netstrings(std::string &buf, std::vector<std::string> &out)
{
  size_t at = 0;
  while (at < buf.size()) {
    size_t colon = buf.find(':', at);
    if (colon == std::string::npos) {
      /* only the length has come so far */
      if (buf.size() - at > 10)
        return false;
      for (size_t i = at; i < buf.size(); i++)
        if (!isdigit((unsigned char)buf[i]))
          return false;
      break;
    }
    if (colon == at || colon - at > 10)
      return false;
    size_t len = 0;
    for (size_t i = at; i < colon; i++) {
      if (!isdigit((unsigned char)buf[i]))
        return false;
      len = len * 10 + (buf[i] - '0');
    }
    if (len > (1u << 24))
      return false;
    if (buf.size() < colon + 1 + len + 1)
      break; /* not complete yet */
    if (buf[colon + 1 + len] != ',')
      return false;
    out.push_back(buf.substr(colon + 1, len));
    at = colon + 1 + len + 1;
  }
  buf.erase(0, at);
  return true;
}

} /* namespace sipgw */
