/* Reading and writing gateway messages. The reader works in place on the one
 * datagram of the receive state and a line buffer on its stack, and allocates
 * only for a body; the writer appends to the caller's buffer and refuses what
 * would not fit. */
#include "quenta/uimsg.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string_view>

#include "utils/debug.h"
#include "utils/text.h"

namespace {

bool is_token_char(int c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool is_name_char(int c)
{
  return is_token_char(c) || c == ' ';
}

/* A decimal number the way the C library's atoi reads it, kept inside 32 bits
 * instead of overflowing. Text that is not a number reads as 0. */
int32_t read_length(const char *text)
{
  errno = 0;
  long v = strtol(text, nullptr, 10);
  if (v > INT32_MAX)
    return INT32_MAX;
  if (v < INT32_MIN)
    return INT32_MIN;
  return (int32_t)v;
}

/* After the sixteenth attribute the header ends whether or not the empty line
 * follows; when it does follow it still belongs to the header, not the body. */
void skip_empty_line(struct bill_v2 *rcv)
{
  if (rcv->recv_remain >= 1 && rcv->recv_ptr[0] == '\n') {
    rcv->recv_ptr += 1;
    rcv->recv_remain -= 1;
  } else if (rcv->recv_remain >= 2 && rcv->recv_ptr[0] == '\r' && rcv->recv_ptr[1] == '\n') {
    rcv->recv_ptr += 2;
    rcv->recv_remain -= 2;
  }
}

/* Appends len bytes of text behind the zero-terminated text in buf. */
int append(char *buf, size_t size, const char *text, size_t len)
{
  if (!buf || size == 0)
    return -1;
  size_t cur = strnlen(buf, size);
  if (cur >= size || len >= size - cur)
    return -1;
  memcpy(buf + cur, text, len);
  buf[cur + len] = '\0';
  return (int)(cur + len);
}

} /* namespace */

int conn_readchar(struct bill_v2 *rcv)
{
  if (!rcv)
    return -1;
  if (rcv->recv_remain <= 0 || !rcv->recv_ptr) {
    rcv->recv_remain = 0;
    return -1;
  }
  unsigned char c = (unsigned char)*rcv->recv_ptr;
  rcv->recv_ptr++;
  rcv->recv_remain--;
  return c;
}

char *conn_readline(struct bill_v2 *rcv, char *buf, int size)
{
  if (!buf || size < 2)
    return nullptr;
  int c = conn_readchar(rcv);
  if (c < 0)
    return nullptr;
  int n = 0;
  while (c >= 0 && c != '\n') {
    buf[n++] = (char)c;
    if (n == size - 1)
      break;
    c = conn_readchar(rcv);
  }
  if (n > 0 && buf[n - 1] == '\r')
    n--;
  buf[n] = '\0';
  return buf;
}

int conn_read(struct bill_v2 *rcv, char *buf, int count)
{
  if (!rcv || !buf || count < 0)
    return -1;
  int n = rcv->recv_remain > 0 && rcv->recv_ptr ? rcv->recv_remain : 0;
  if (n > count)
    n = count;
  if (n > 0) {
    memcpy(buf, rcv->recv_ptr, (size_t)n);
    rcv->recv_ptr += n;
    rcv->recv_remain -= n;
  }
  return n;
}

int parse_attr(const char *line, struct uiattr *attr)
{
  if (!line || !attr)
    return -1;
  memset(attr, 0, sizeof *attr);
  size_t i = 0;
  while (i < MSG_NAME_LEN - 1 && is_name_char((unsigned char)line[i])) {
    attr->name[i] = line[i];
    i++;
  }
  if (line[i] != ':' || line[i + 1] != ' ')
    return -1;
  utils::copy_text(attr->value, sizeof attr->value, line + i + 2);
  return 0;
}

bool uimsg_name_is(const char *name, const char *known)
{
  return strncasecmp(name, known, strlen(known)) == 0;
}

void uimsg_free_payload(struct uimsg *msg)
{
  free(msg->payload);
  msg->payload = nullptr;
}

int receive_and_parse_uimsg(struct bill_v2 *rcv, struct uimsg *msg)
{
  char line[UIMSG_BUF_LEN];
  int nattr = 0;

  memset(msg, 0, sizeof *msg);
  if (!conn_readline(rcv, line, sizeof line))
    goto failure;
  if (line[0] == '\0')
    return 0;
  DLOG("msg line: \"%s\"", line);

  for (size_t i = 0; i < MSG_NAME_LEN - 1 && is_token_char((unsigned char)line[i]); i++)
    msg->type[i] = line[i];

  for (; nattr < MAX_ATTRS; nattr++) {
    if (!conn_readline(rcv, line, sizeof line))
      break;
    DLOG("header line: \"%s\"", line);
    if (line[0] == '\0')
      break;
    struct uiattr *attr = &msg->attrs[nattr];
    if (parse_attr(line, attr) < 0) {
      DLOG("invalid attribute line: %s", line);
      goto failure;
    }
    if (strcasecmp(attr->name, CONTENT_LENGTH_ATTR) == 0)
      msg->content_len = read_length(attr->value);
  }
  if (nattr == MAX_ATTRS)
    skip_empty_line(rcv);

  if (msg->content_len > 0) {
    /* The body can only be what is left of this datagram, so an announced
     * length beyond that never makes us allocate more. */
    int want = msg->content_len;
    if (want > rcv->recv_remain)
      want = rcv->recv_remain > 0 ? rcv->recv_remain : 0;
    msg->payload = static_cast<char *>(calloc((size_t)want + 2, 1));
    if (!msg->payload) {
      LOG_FUNCTION_FAILED();
      goto failure;
    }
    if (conn_read(rcv, msg->payload, want) < 0)
      goto failure;
    DLOG("\n%s", msg->payload);
  }
  return 1;

failure:
  uimsg_free_payload(msg);
  return -1;
}

int add_type_line(char *buf, size_t size, const char *type, const char *title)
{
  if (!buf || size == 0 || !type || !title)
    return -1;
  buf[0] = '\0';
  std::string_view parts[] = {type, " ", title, " " UIMSG_PROTOCOL "\n"};
  for (auto p : parts) {
    if (append(buf, size, p.data(), p.size()) < 0) {
      buf[0] = '\0';
      return -1;
    }
  }
  return (int)strlen(buf);
}

int add_content_len(char *buf, size_t size, int len)
{
  char line[64];
  int n = snprintf(line, sizeof line, CONTENT_LENGTH_ATTR ": %d\n", len);
  return append(buf, size, line, (size_t)n);
}

int add_endofmsg(char *buf, size_t size)
{
  return append(buf, size, "\n", 1);
}

int pack_event(char *buf, const char *type, const char *text, size_t size)
{
  if (!buf || size == 0)
    return -1;
  if (!text)
    text = "";
  if (add_type_line(buf, size, type, type) < 0 || append(buf, size, text, strlen(text)) < 0 ||
      add_endofmsg(buf, size) < 0) {
    buf[0] = '\0';
    DLOG("%s message with %zu bytes of text does not fit in %zu bytes", type ? type : "(null)", strlen(text), size);
    return -1;
  }
  return (int)strlen(buf);
}
