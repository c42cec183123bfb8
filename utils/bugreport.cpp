/* The problem report sender: its configuration, the body (log ring and
 * environment) and its wire form, the SMTP dialogue step by step, and the
 * reply reader _tcp_gets. */
#include "utils/bugreport.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "utils/app.h"
#include "utils/logring.h"
#include "utils/net.h"
#include "utils/sockaddr.h"
#include "utils/utils.h"

extern char **environ;

namespace utils {

namespace {

/* One message, one write, however long the formatted text. */
void __attribute__((format(printf, 1, 2))) say(const char *fmt, ...)
{
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0)
    return;
  if ((size_t)n < sizeof small) {
    write_whole(2, small, (size_t)n);
    return;
  }
  std::string big((size_t)n + 1, '\0');
  va_start(ap, fmt);
  vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  write_whole(2, big.data(), (size_t)n);
}

struct report_config {
  std::string server = BUGREPORT_DEFAULT_SERVER;
  std::string addr = BUGREPORT_DEFAULT_ADDR;
  int port = BUGREPORT_DEFAULT_PORT;
  std::string mailbox = BUGREPORT_DEFAULT_MAILBOX;
  std::string helo = BUGREPORT_DEFAULT_HELO;
  int timeout = BUGREPORT_DEFAULT_TIMEOUT;
};

const char *option(const char *name)
{
  const char *value = app_getopt(name);
  return value && *value ? value : nullptr;
}

/* A text that goes into an SMTP command must not break the command line. */
void text_option(const char *name, std::string &into, const char *forbidden)
{
  const char *value = option(name);
  if (!value)
    return;
  if (strpbrk(value, forbidden)) {
    say("bugreport: %s: unusable value, using \"%s\"\n", name, into.c_str());
    return;
  }
  into = value;
}

void number_option(const char *name, int &into, long lo, long hi)
{
  const char *value = option(name);
  if (!value)
    return;
  char *end;
  errno = 0;
  long v = strtol(value, &end, 10);
  if (errno != 0 || end == value || *end != '\0' || v < lo || v > hi) {
    say("bugreport: %s: unusable value, using %d\n", name, into);
    return;
  }
  into = (int)v;
}

report_config read_config()
{
  report_config cfg;
  text_option("BUGREPORT_SERVER", cfg.server, " \t\r\n");
  text_option("BUGREPORT_ADDR", cfg.addr, " \t\r\n");
  text_option("BUGREPORT_MAILBOX", cfg.mailbox, "<> \t\r\n");
  text_option("BUGREPORT_HELO", cfg.helo, " \t\r\n");
  number_option("BUGREPORT_PORT", cfg.port, 1, 65535);
  number_option("BUGREPORT_TIMEOUT", cfg.timeout, 1, 3600);
  return cfg;
}

/* The report server's address: its name resolved, else the configured
 * fallback, else the built-in one. */
void server_addr(const report_config &cfg, struct sockaddr_in *sin)
{
  memset(sin, 0, sizeof *sin);
  sin->sin_family = AF_INET;
  struct sockaddr *sa = reinterpret_cast<struct sockaddr *>(sin);
  if (gethostaddr(cfg.server.c_str(), sa, sizeof *sin) != 0 &&
      utils::inet_aton(cfg.addr.c_str(), &sin->sin_addr) != 0) {
    say("bugreport: BUGREPORT_ADDR: unusable value, using \"%s\"\n", BUGREPORT_DEFAULT_ADDR);
    utils::inet_aton(BUGREPORT_DEFAULT_ADDR, &sin->sin_addr);
  }
  sin->sin_family = AF_INET;
  setsockport(sa, cfg.port);
}

int send_all(int sock, const char *data, size_t len)
{
  while (len > 0) {
    ssize_t n = send(sock, data, len, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    data += n;
    len -= (size_t)n;
  }
  return 0;
}

/* The body as built: ring bytes, blank line, environment, blank line, ".\r\n". */
std::string build_body()
{
  static const char terminator[] = "\n\n.\r\n";
  const size_t reserve = sizeof terminator - 1;
  char body[BUGREPORT_BODY_SIZE];
  size_t len = log_ring_newest(body, LOGBUF_SIZE);
  memcpy(body + len, "\n\n", 2);
  len += 2;
  for (char **env = environ; env && *env; env++) {
    size_t n = strlen(*env);
    if (len + n + 1 + reserve > sizeof body)
      break;
    memcpy(body + len, *env, n);
    body[len + n] = '\n';
    len += n + 1;
  }
  memcpy(body + len, terminator, reserve);
  len += reserve;
  return std::string(body, len);
}

/* The body's text ahead of its final ".\r\n" as SMTP carries it: every line end
 * (LF, CR or CR LF) becomes CR LF and a line that starts with a dot gets a
 * second one; then the terminator. */
std::string wire_form(const std::string &body)
{
  const size_t text_len = body.size() - 3;
  std::string out;
  out.reserve(body.size() + body.size() / 8);
  bool line_start = true;
  for (size_t i = 0; i < text_len; i++) {
    char c = body[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text_len && body[i + 1] == '\n')
        i++;
      out += "\r\n";
      line_start = true;
      continue;
    }
    if (line_start && c == '.')
      out += '.';
    out += c;
    line_start = false;
  }
  if (!line_start)
    out += "\r\n";
  out += ".\r\n";
  return out;
}

/* Reads a whole reply, continuation lines ("250-...") included; the last
 * line stays in buf. -1 when a read fails. */
int read_reply(int sock, char *buf, int size, int code)
{
  for (;;) {
    int n = _tcp_gets(sock, buf, size, code);
    if (n < 0)
      return -1;
    if (n < 4 || buf[3] != '-')
      return n;
  }
}

/* One step of the dialogue: the command (none for the greeting), its reply,
 * and the reply's first three characters against the expected code. */
int exchange(int sock, const std::string &cmd, int send_code, int read_code, int reply_code, const char *expect,
             char *line, int size)
{
  if (!cmd.empty() && send_all(sock, cmd.data(), cmd.size()) != 0) {
    say("bugreport: E%.03d: connection error\n", send_code);
    return -1;
  }
  if (read_reply(sock, line, size, read_code) < 0) {
    say("bugreport: E%.03d: connection error\n", read_code);
    return -1;
  }
  if (strncmp(line, expect, 3) != 0) {
    say("bugreport: E%.03d: server error: %s\n", reply_code, line);
    return -1;
  }
  return 0;
}

/* A silent or stalled server must not hold the caller for ever. */
void set_timeouts(int sock, int seconds)
{
  struct ::timeval tv;
  tv.tv_sec = seconds;
  tv.tv_usec = 0;
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int dialogue(int sock, const report_config &cfg)
{
  char line[BUGREPORT_LINE_SIZE];
  const int size = sizeof line;

  if (exchange(sock, "", 0, BUGREPORT_E_GREETING_READ, BUGREPORT_E_GREETING_REPLY, "220", line, size) != 0)
    return -1;
  if (exchange(sock, "HELO " + cfg.helo + "\r\n", BUGREPORT_E_HELO_SEND, BUGREPORT_E_HELO_READ, BUGREPORT_E_HELO_REPLY,
               "250", line, size) != 0)
    return -1;
  if (exchange(sock, "MAIL FROM:<" + cfg.mailbox + ">\r\n", BUGREPORT_E_MAIL_SEND, BUGREPORT_E_MAIL_READ,
               BUGREPORT_E_MAIL_REPLY, "250", line, size) != 0)
    return -1;
  if (exchange(sock, "RCPT TO:<" + cfg.mailbox + ">\r\n", BUGREPORT_E_RCPT_SEND, BUGREPORT_E_RCPT_READ,
               BUGREPORT_E_RCPT_REPLY, "250", line, size) != 0)
    return -1;
  if (exchange(sock, "DATA\r\n", BUGREPORT_E_DATA_SEND, BUGREPORT_E_DATA_READ, BUGREPORT_E_DATA_REPLY, "354", line,
               size) != 0)
    return -1;

  std::string body = build_body();
  write_whole(2, body.data(), body.size());
  if (exchange(sock, wire_form(body), BUGREPORT_E_BODY_SEND, BUGREPORT_E_BODY_READ, BUGREPORT_E_BODY_REPLY, "250", line,
               size) != 0)
    return -1;

  /* The report is accepted; how QUIT goes no longer matters. */
  if (send_all(sock, "QUIT\r\n", 6) == 0)
    (void)read_reply(sock, line, size, 0);
  return 0;
}

} /* namespace */

int _tcp_gets(int sock, char *buf, int size, int line)
{
  say("tcp_gets(): %d\n", line);
  if (!buf || size < 1)
    return -1;
  int n = 0;
  bool cut = false;
  for (;;) {
    char c;
    ssize_t r = recv(sock, &c, 1, 0);
    if (r < 0 && errno == EINTR)
      continue;
    if (r != 1) {
      buf[n] = '\0';
      return -1;
    }
    if (c == '\n')
      break;
    if (n < size - 1)
      buf[n++] = c;
    else
      cut = true;
  }
  if (!cut && n > 0 && buf[n - 1] == '\r')
    n--;
  buf[n] = '\0';
  say("tcp_gets(): %s\n", buf);
  return n;
}

int bugreport()
{
  report_config cfg = read_config();
  struct sockaddr_in sin;
  server_addr(cfg, &sin);

  /* The timeouts go on before the connect: on Linux the send timeout bounds
   * connect as well, so a server that never answers the handshake cannot hold
   * the caller either. */
  int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock == 0) {
    /* With standard input closed the socket is descriptor 0, which tcp_connect
     * takes as "make a new one"; move it out of the way. */
    int moved = fcntl(0, F_DUPFD_CLOEXEC, 1);
    close(0);
    sock = moved;
  }
  if (sock >= 0)
    set_timeouts(sock, cfg.timeout);
  if (sock < 0 || tcp_connect(sock, reinterpret_cast<struct sockaddr *>(&sin), sizeof sin) < 0) {
    if (sock >= 0)
      close(sock);
    say("bugreport: E%.03d cannot connect to server!\n", BUGREPORT_E_CONNECT);
    return -1;
  }
  int rc = dialogue(sock, cfg);
  close(sock);
  return rc;
}

} /* namespace utils */
