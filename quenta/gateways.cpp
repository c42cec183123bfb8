/* The closed gateway network: reading "gateways", the check of every
 * datagram's sender, and the refused senders' log lines written by the tick.
 * The file's rules and what an empty file means are in gateways.h. */
#include "quenta/gateways.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "quenta/stationfile.h"
#include "utils/debug.h"
#include "utils/sockaddr.h"

namespace {

bool blank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

/* A decimal number of at most max_digits digits, without a leading zero, at
 * *p: its value, or -1 (*why says why). */
long read_number(const char **p, int max_digits, const char **why)
{
  const char *s = *p;
  int digits = 0;
  long v = 0;
  while (s[digits] >= '0' && s[digits] <= '9') {
    if (++digits > max_digits) {
      *why = "a number is too long";
      return -1;
    }
    v = v * 10 + (s[digits - 1] - '0');
  }
  if (digits == 0) {
    *why = "not an IPv4 address";
    return -1;
  }
  if (digits > 1 && s[0] == '0') {
    *why = "a number with a leading zero";
    return -1;
  }
  *p = s + digits;
  return v;
}

/* A multiplicative hash; its high bits pick the slot. */
unsigned slot_of(uint32_t addr)
{
  return (unsigned)(((uint64_t)(addr * 2654435761u) * REFUSAL_SLOTS) >> 32);
}

const char *address_text(uint32_t addr, char *buf, size_t size)
{
  struct in_addr in;
  in.s_addr = addr;
  return utils::inet_ntop(AF_INET, &in, buf, size);
}

} /* namespace */

int gateway_parse_line(const char *line, struct gateway_net *net, const char **why)
{
  const char *end = strchr(line, '#');
  if (!end)
    end = line + strlen(line);
  while (line < end && blank(*line))
    line++;
  while (end > line && blank(end[-1]))
    end--;
  if (line == end)
    return 0;

  /* The address runs to the first blank; machine ids follow. */
  const char *addr_end = line;
  while (addr_end < end && !blank(*addr_end))
    addr_end++;
  char text[64];
  if ((size_t)(addr_end - line) >= sizeof text) {
    *why = "too long for an address";
    return -1;
  }
  memcpy(text, line, (size_t)(addr_end - line));
  text[addr_end - line] = '\0';
  net->m_machines.clear();
  for (const char *p = addr_end; p < end;) {
    while (p < end && blank(*p))
      p++;
    const char *id = p;
    while (p < end && !blank(*p))
      p++;
    if (p == id)
      break;
    if (p - id >= MACHINE_TIE_LEN) {
      *why = "a machine id is too long";
      return -1;
    }
    net->m_machines.emplace_back(id, (size_t)(p - id));
  }

  const char *p = text;
  uint32_t addr = 0;
  for (int i = 0; i < 4; i++) {
    if (i > 0 && *p++ != '.') {
      *why = "not an IPv4 address";
      return -1;
    }
    long v = read_number(&p, 3, why);
    if (v < 0)
      return -1;
    if (v > 255) {
      *why = "a number above 255";
      return -1;
    }
    addr = (addr << 8) | (uint32_t)v;
  }
  long prefix = 32;
  if (*p == '/') {
    p++;
    prefix = read_number(&p, 2, why);
    if (prefix < 0)
      return -1;
    if (prefix > 32) {
      *why = "a prefix length above 32";
      return -1;
    }
  }
  if (*p) {
    *why = "text after the address";
    return -1;
  }
  net->m_mask = prefix == 0 ? 0 : ~0u << (32 - prefix);
  net->m_net = addr & net->m_mask;
  return 1;
}

int gateway_guard_load(struct gateway_guard *g, const char *path)
{
  g->m_nets.clear();
  g->m_closed = false;
  g->m_ties = false;
  unique_file f(fopen(path, "r"));
  if (!f) {
    if (errno == ENOENT) {
      DLOG("no \"%s\" file: every sender is answered", path);
      return 0;
    }
    LOG_SYS_ERROR();
    g->m_closed = true;
    DLOG("\"%s\" cannot be read: no gateway is answered", path);
    return -1;
  }
  g->m_closed = true;
  line_buffer buf;
  ssize_t n;
  int lineno = 0, refused = 0;
  errno = 0;
  while ((n = getline(&buf.p, &buf.cap, f.get())) >= 0) {
    lineno++;
    if (n > 0 && buf.p[n - 1] == '\n')
      buf.p[--n] = '\0';
    struct gateway_net net;
    const char *why = "a zero byte in the line";
    int r = strlen(buf.p) == (size_t)n ? gateway_parse_line(buf.p, &net, &why) : -1;
    if (r > 0) {
      g->m_ties |= !net.m_machines.empty();
      g->m_nets.push_back(std::move(net));
    } else if (r < 0) {
      refused++;
      DLOG("\"%s\" line %d refused (%s): %.60s", path, lineno, why, buf.p);
    }
  }
  if (ferror(f.get())) {
    LOG_SYS_ERROR();
    g->m_nets.clear();
    DLOG("\"%s\" cannot be read: no gateway is answered", path);
    return -1;
  }
  if (g->m_nets.empty()) {
    DLOG("\"%s\" lists no address (%d lines refused): no gateway is answered", path, refused);
    return 0;
  }
  DLOG("\"%s\": %zu addresses or networks (%d lines refused); senders elsewhere are refused", path, g->m_nets.size(),
       refused);
  return (int)g->m_nets.size();
}

/* Counts a refused datagram and gives its sender a slot for the log. */
void gateway_refuse(struct gateway_guard *g, const struct sockaddr_in *from, int why)
{
  uint32_t addr = from->sin_addr.s_addr;
  /* The address first: a reader that sees the count sees an address with it. */
  g->m_last.store(addr, std::memory_order_relaxed);
  g->m_refused.fetch_add(1, std::memory_order_release);
  refused_sender *free_slot = nullptr;
  unsigned first = slot_of(addr);
  for (unsigned i = 0; i < REFUSAL_PROBE; i++) {
    refused_sender *s = &g->m_senders[(first + i) % REFUSAL_SLOTS];
    if (s->m_used && s->m_addr == addr) {
      s->m_count++;
      s->m_port = from->sin_port;
      s->m_why = why;
      return;
    }
    if (!s->m_used && !free_slot)
      free_slot = s;
  }
  if (free_slot)
    *free_slot = refused_sender{.m_used = true,
                                .m_logged = false,
                                .m_addr = addr,
                                .m_port = from->sin_port,
                                .m_logged_at = 0,
                                .m_count = 1,
                                .m_why = why};
  else
    g->m_others++;
}

bool gateway_admit(struct gateway_guard *g, const struct sockaddr_in *from)
{
  if (!g->m_closed)
    return true;
  uint32_t host = ntohl(from->sin_addr.s_addr);
  for (const gateway_net &n : g->m_nets)
    if ((host & n.m_mask) == n.m_net)
      return true;
  gateway_refuse(g, from, GATEWAY_REFUSED_UNLISTED);
  return false;
}

bool gateway_admit_machine(struct gateway_guard *g, const struct sockaddr_in *from, const char *machine_id)
{
  if (!g->m_ties)
    return true;
  uint32_t host = ntohl(from->sin_addr.s_addr);
  bool tied = false;
  for (const gateway_net &n : g->m_nets)
    for (const std::string &m : n.m_machines)
      if (m == machine_id) {
        if ((host & n.m_mask) == n.m_net)
          return true;
        tied = true;
      }
  if (!tied)
    return true;
  gateway_refuse(g, from, GATEWAY_REFUSED_TIED);
  return false;
}

void gateway_guard_tick(struct gateway_guard *g)
{
  /* Without a file only a moved line's datagrams are refused: nothing to do
   * until the first. */
  if (!g->m_closed && g->m_refused.load(std::memory_order_relaxed) == 0)
    return;
  g->m_tick++;
  char text[INET_ADDRSTRLEN];
  for (refused_sender &s : g->m_senders) {
    if (!s.m_used)
      continue;
    bool minute_over = g->m_tick - s.m_logged_at >= REFUSAL_LOG_TICKS;
    if (s.m_count > 0 && (!s.m_logged || minute_over)) {
      static const char *const why[] = {
          "not in \"" GATEWAYS_FILE "\"",
          "speaks for a machine that \"" GATEWAYS_FILE "\" ties to another address",
          "speaks for a line that another address reported within the silence limit",
      };
      DLOG("%s %s:%u refused (%s): %llu datagram(s)%s",
           s.m_why == GATEWAY_REFUSED_UNLISTED ? "unknown sender" : "sender", address_text(s.m_addr, text, sizeof text),
           ntohs(s.m_port), why[s.m_why], (unsigned long long)s.m_count, s.m_logged ? " since its last line" : "");
      s.m_logged = true;
      s.m_logged_at = g->m_tick;
      s.m_count = 0;
    } else if (s.m_count == 0 && minute_over) {
      s.m_used = false;
    }
  }
  if (g->m_others > 0 && (!g->m_others_logged || g->m_tick - g->m_others_at >= REFUSAL_LOG_TICKS)) {
    DLOG("%llu datagram(s) refused from further unknown senders (more than %d at a time are not named)",
         (unsigned long long)g->m_others, REFUSAL_SLOTS);
    g->m_others_logged = true;
    g->m_others_at = g->m_tick;
    g->m_others = 0;
  }
}

uint64_t gateway_refused(const struct gateway_guard *g, char *buf, int size)
{
  uint64_t n = g->m_refused.load(std::memory_order_acquire);
  uint32_t last = g->m_last.load(std::memory_order_relaxed);
  if (buf && size > 0) {
    buf[0] = '\0';
    if (n > 0)
      address_text(last, buf, (size_t)size);
  }
  return n;
}
