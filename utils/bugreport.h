/* The problem report: bugreport mails the newest bytes of the log ring and the
 * process environment by SMTP to a maintenance mailbox, and _tcp_gets reads the
 * server's reply lines. Everything it says goes to standard error; a failure
 * names the step that failed with a three-digit code and is never retried.
 *
 * Configuration, from the environment (an unset or empty variable takes the
 * default; an unusable value is reported on standard error and replaced by it):
 *   BUGREPORT_SERVER   host name of the report server        "localhost"
 *   BUGREPORT_ADDR     IPv4 address used when it does not resolve  "127.0.0.1"
 *   BUGREPORT_PORT     SMTP port                              25
 *   BUGREPORT_MAILBOX  sender and recipient of the report     "station@localhost"
 *   BUGREPORT_HELO     domain given in HELO                   "localhost"
 *   BUGREPORT_TIMEOUT  seconds to wait for the connection and for each
 *                      read or send                           30 */
#ifndef UTILS_BUGREPORT_H
#define UTILS_BUGREPORT_H

#include "utils/export.h"

#define BUGREPORT_DEFAULT_SERVER "localhost"
#define BUGREPORT_DEFAULT_ADDR "127.0.0.1"
#define BUGREPORT_DEFAULT_PORT 25
#define BUGREPORT_DEFAULT_MAILBOX "station@localhost"
#define BUGREPORT_DEFAULT_HELO "localhost"
#define BUGREPORT_DEFAULT_TIMEOUT 30

#define BUGREPORT_LINE_SIZE 8191 /* reply line buffer; longer lines are cut */
#define BUGREPORT_BODY_SIZE 8192 /* the report body as built, terminator included */

/* Step codes in bugreport's messages, "E%.03d". */
enum bugreport_step {
  BUGREPORT_E_CONNECT = 76,        /* "cannot connect to server!" */
  BUGREPORT_E_GREETING_READ = 81,  /* "connection error" reading a reply */
  BUGREPORT_E_GREETING_REPLY = 87, /* "server error: <reply>" */
  BUGREPORT_E_HELO_SEND = 93,      /* "connection error" sending a command */
  BUGREPORT_E_HELO_READ = 98,
  BUGREPORT_E_HELO_REPLY = 104,
  BUGREPORT_E_MAIL_SEND = 110,
  BUGREPORT_E_MAIL_READ = 115,
  BUGREPORT_E_MAIL_REPLY = 121,
  BUGREPORT_E_RCPT_SEND = 127,
  BUGREPORT_E_RCPT_READ = 132,
  BUGREPORT_E_RCPT_REPLY = 138,
  BUGREPORT_E_DATA_SEND = 144,
  BUGREPORT_E_DATA_READ = 149,
  BUGREPORT_E_DATA_REPLY = 155,
  BUGREPORT_E_BODY_SEND = 189,
  BUGREPORT_E_BODY_READ = 194,
  BUGREPORT_E_BODY_REPLY = 200,
};

namespace utils QU_EXPORT {

/* Sends one report: greeting 220, HELO 250, MAIL FROM 250, RCPT TO 250,
 * DATA 354, the body 250, QUIT. The body is the newest log ring bytes (at most
 * 4096, oldest first), a blank line, one environment string per line as far as
 * BUGREPORT_BODY_SIZE allows, a blank line and ".\r\n"; it is also written to
 * standard error. On the wire its lines end in CR LF and a line starting with a
 * dot gets a second one, so no text of the log can end the message early.
 * Multi-line replies ("250-...") are read to their last line.
 * Returns 0 once the server accepted the report, -1 after one message. */
int bugreport();

/* Reads one line from sock a byte at a time up to its newline, which is not
 * stored, nor a CR in front of it; keeps at most size - 1 bytes (the rest of a
 * longer line is read and dropped) and a terminating zero. Writes
 * "tcp_gets(): <line argument>" and "tcp_gets(): <text>" to standard error.
 * Returns the stored length, or -1 when a read does not return one byte. */
int _tcp_gets(int sock, char *buf, int size, int line);

} /* namespace utils */

#endif
