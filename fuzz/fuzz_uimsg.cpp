/* The gateway message reader fed one datagram. Checks that the reader keeps to
 * the datagram, that everything it stores stays terminated, and that a message
 * it accepted reads back the same once written again with the writer. */
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_common.h"
#include "quenta/uimsg.h"

namespace {

bool is_token_char(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

int parse(const char *data, size_t size, struct uimsg *msg, struct bill_v2 *rcv)
{
  memset(rcv, 0, sizeof *rcv);
  memcpy(rcv->recv_buf, data, size);
  rcv->recv_ptr = rcv->recv_buf;
  rcv->recv_remain = (int32_t)size;
  rcv->sock = -1;
  int rc = receive_and_parse_uimsg(rcv, msg);
  FUZZ_CHECK(rc >= -1 && rc <= 1);
  FUZZ_CHECK(rcv->recv_remain >= 0);
  FUZZ_CHECK(rcv->recv_ptr >= rcv->recv_buf);
  FUZZ_CHECK((size_t)(rcv->recv_ptr - rcv->recv_buf) + (size_t)rcv->recv_remain == size);
  return rc;
}

/* The attribute text the writer needs to say the same message again, or false
 * when the message cannot be said again in the same bytes (a value whose line
 * ended in a carriage return of its own would lose it, a header with a body
 * would grow one). */
bool restate(const struct uimsg *msg, std::string &text)
{
  if (msg->content_len != 0)
    return false;
  /* entries past the last one in use are zero, and so is a line ": " */
  int used = 0;
  for (int i = 0; i < MAX_ATTRS; i++)
    if (msg->attrs[i].name[0] || msg->attrs[i].value[0])
      used = i + 1;
  for (int i = 0; i < used; i++) {
    const struct uiattr &a = msg->attrs[i];
    size_t n = strlen(a.value);
    if (n > 0 && a.value[n - 1] == '\r')
      return false;
    text += a.name;
    text += ": ";
    text += a.value;
    text += '\n';
  }
  return true;
}

} /* namespace */

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz::quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  /* the handler drops a datagram longer than its buffer before reading it */
  if (size > UIMSG_BUF_LEN)
    return 0;
  struct bill_v2 rcv;
  struct uimsg msg;
  int rc = parse(reinterpret_cast<const char *>(data), size, &msg, &rcv);
  if (rc != 1) {
    FUZZ_CHECK(msg.payload == nullptr);
    return 0;
  }

  FUZZ_CHECK(fuzz::terminated(msg.type));
  for (const char *p = msg.type; *p; p++)
    FUZZ_CHECK(is_token_char(*p));
  for (const struct uiattr &a : msg.attrs) {
    FUZZ_CHECK(fuzz::terminated(a.name));
    FUZZ_CHECK(fuzz::terminated(a.value));
  }
  if (msg.payload)
    FUZZ_CHECK(msg.content_len > 0);

  std::string text;
  bool same = restate(&msg, text);
  uimsg_free_payload(&msg);
  FUZZ_CHECK(msg.payload == nullptr);
  if (!same)
    return 0;

  char out[UIMSG_BUF_LEN];
  memset(out, 'Z', sizeof out);
  out[0] = '\0';
  int n = pack_event(out, msg.type, text.c_str());
  if (n < 0) {
    FUZZ_CHECK(out[0] == '\0');
    return 0;
  }
  FUZZ_CHECK(n < (int)sizeof out && out[n] == '\0' && strlen(out) == (size_t)n);

  struct bill_v2 rcv2;
  struct uimsg again;
  FUZZ_CHECK(parse(out, (size_t)n, &again, &rcv2) == 1);
  FUZZ_CHECK(strcmp(again.type, msg.type) == 0);
  for (int i = 0; i < MAX_ATTRS; i++) {
    FUZZ_CHECK(strcmp(again.attrs[i].name, msg.attrs[i].name) == 0);
    FUZZ_CHECK(strcmp(again.attrs[i].value, msg.attrs[i].value) == 0);
  }
  uimsg_free_payload(&again);
  return 0;
}
