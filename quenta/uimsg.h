/* The gateway message format: a first line naming the type, attribute lines
 * "name: value", an empty line and an optional body of "Content-Length" bytes,
 * one message to a UDP datagram of at most 512 bytes. The reader turns the
 * datagram held in a receive state into a uimsg; the writer composes the
 * messages the station sends on its own ("Action" commands).
 *
 * The reader never goes past the datagram it was given: a header that ends
 * with the datagram is complete, and a body shorter than announced is what
 * arrived. So one truncated datagram can never hold up the handler's thread.
 * The reader runs on the handler's thread only; the writer uses the caller's
 * buffer only and may run on any thread. */
#ifndef QUENTA_UIMSG_H
#define QUENTA_UIMSG_H

#include <stddef.h>
#include <stdint.h>

#define MSG_NAME_LEN 32   /* type token and attribute name, with the zero */
#define MSG_VALUE_LEN 128 /* attribute value, with the zero */
#define MAX_ATTRS 16      /* attribute lines read from one message */
#define UIMSG_BUF_LEN 512 /* one datagram; also the line and command buffers */

#define UIMSG_PROTOCOL "ui/1.0"
#define CONTENT_LENGTH_ATTR "Content-Length"

/* One attribute line. */
struct uiattr {
  char name[MSG_NAME_LEN];   /* as it stood in the line (letters, digits, "_", "-", spaces) */
  char value[MSG_VALUE_LEN]; /* the rest of the line behind ": ", cut to 127 characters */
};

/* One received message. Entries of attrs without a line stay zero. */
struct uimsg {
  char type[MSG_NAME_LEN]; /* leading token of the first line, cut to 31 characters */
  struct uiattr attrs[MAX_ATTRS];
  int32_t content_len; /* "Content-Length" as announced, 0 without one */
  char *payload;       /* the body followed by a zero byte, or null; free() it */
};

/* Receive state of the handler's socket: the datagram being read. */
struct bill_v2 {
  int sock;            /* the socket the datagram came from */
  char *recv_ptr;      /* next byte not yet read */
  int32_t recv_remain; /* bytes not yet read */
  char recv_buf[UIMSG_BUF_LEN];
};

/* Reading. Before the call the datagram is in recv_buf, recv_ptr points to its
 * start and recv_remain holds its length. */

/* 1 when a message was read into msg, 0 when its first line is empty (nothing
 * to handle), -1 when the message is invalid (dropped; msg->payload is null). */
int receive_and_parse_uimsg(struct bill_v2 *rcv, struct uimsg *msg);

/* The next byte (0..255), or -1 at the end of the datagram. */
int conn_readchar(struct bill_v2 *rcv);

/* Reads one line without its line feed and one trailing carriage return into
 * buf, at most size - 1 bytes (a longer line continues as the next line).
 * Returns buf, or null when size is below 2, buf is null or no byte is left. */
char *conn_readline(struct bill_v2 *rcv, char *buf, int size);

/* Copies up to count bytes of what is left of the datagram into buf; returns
 * the number copied (possibly fewer than count, possibly 0), or -1 for a
 * missing buffer or a negative count. */
int conn_read(struct bill_v2 *rcv, char *buf, int count);

/* Splits "name: value" into attr: 0, or -1 when the line does not have that
 * form (a name of more than 31 characters included). */
int parse_attr(const char *line, struct uiattr *attr);

/* True when name begins with known, compared without regard to case over the
 * length of known: how message types and attribute names are recognised. */
bool uimsg_name_is(const char *name, const char *known);

/* Releases the body of a handled message and sets it to null. */
void uimsg_free_payload(struct uimsg *msg);

/* Writing. The builders append to the zero-terminated text in buf, a buffer of
 * size bytes; each returns the new length of the text, or -1 when the buffer is
 * missing or the result would not fit with its zero byte (buf is then left as
 * it was, so nothing is ever written past the buffer). */

/* "%s %s ui/1.0\n" with type and title; starts the text afresh. */
int add_type_line(char *buf, size_t size, const char *type, const char *title);
/* "Content-Length: %d\n". */
int add_content_len(char *buf, size_t size, int len);
/* The empty line that ends a message. */
int add_endofmsg(char *buf, size_t size);

/* A complete message: the first line with type as type and title, text
 * unchanged (attribute lines, each ending in "\n"), the empty line. Returns
 * the length to send (no zero byte is sent), or -1 when buf is missing or the
 * message does not fit in size bytes with its zero byte; then nothing is to be
 * sent. */
int pack_event(char *buf, const char *type, const char *text, size_t size = UIMSG_BUF_LEN);

#endif
