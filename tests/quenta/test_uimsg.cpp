// The gateway message reader and writer, fed from byte buffers: whole and
// truncated datagrams, case, line endings, long lines, attribute limits,
// bodies, and commands that fit or do not fit their buffer.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "quenta/uimsg.h"

namespace {

struct Datagram {
  bill_v2 rcv{};
  uimsg msg{};

  explicit Datagram(const std::string &bytes)
  {
    size_t n = bytes.size();
    if (n > sizeof rcv.recv_buf) {
      ADD_FAILURE() << "a datagram holds at most " << sizeof rcv.recv_buf << " bytes";
      n = sizeof rcv.recv_buf;
    }
    memcpy(rcv.recv_buf, bytes.data(), n);
    rcv.recv_ptr = rcv.recv_buf;
    rcv.recv_remain = (int32_t)n;
    rcv.sock = -1;
  }
  ~Datagram() { uimsg_free_payload(&msg); }
  int parse() { return receive_and_parse_uimsg(&rcv, &msg); }
  std::string name(int i) const { return msg.attrs[i].name; }
  std::string value(int i) const { return msg.attrs[i].value; }
};

TEST(UimsgRead, WholeMessageIsReadAndLeavesNothingBehind)
{
  Datagram d("Connected Connected ui/1.0\nmachine_id: GW7\nline_id: 2\nstate: CONNECTED\n"
             "src_num: 801\ndest_num: 114\n\n");
  ASSERT_EQ(1, d.parse());
  EXPECT_STREQ("Connected", d.msg.type);
  EXPECT_EQ("machine_id", d.name(0));
  EXPECT_EQ("GW7", d.value(0));
  EXPECT_EQ("2", d.value(1));
  EXPECT_EQ("CONNECTED", d.value(2));
  EXPECT_EQ("801", d.value(3));
  EXPECT_EQ("dest_num", d.name(4));
  EXPECT_EQ("114", d.value(4));
  EXPECT_EQ("", d.name(5));
  EXPECT_EQ(0, d.msg.content_len);
  EXPECT_EQ(nullptr, d.msg.payload);
  EXPECT_EQ(0, d.rcv.recv_remain);
}

TEST(UimsgRead, TypeAndNamesAreRecognisedInAnyCaseByTheirBeginning)
{
  for (const char *type : {"keepalive", "KEEPALIVE", "kEePaLiVe"}) {
    Datagram d(std::string(type) + " x ui/1.0\nMACHINE_ID: gw1\nLine_Id: 3\n\n");
    ASSERT_EQ(1, d.parse()) << type;
    EXPECT_STREQ(type, d.msg.type);
    EXPECT_TRUE(uimsg_name_is(d.msg.type, "KeepAlive"));
    EXPECT_TRUE(uimsg_name_is(d.msg.attrs[0].name, "machine_id"));
    EXPECT_TRUE(uimsg_name_is(d.msg.attrs[1].name, "line_id"));
    EXPECT_EQ("gw1", d.value(0)) << "values keep their case";
  }
  EXPECT_TRUE(uimsg_name_is("line_idx", "line_id")) << "a longer name counts as the known one";
  EXPECT_TRUE(uimsg_name_is("state ", "state"));
  EXPECT_FALSE(uimsg_name_is("line", "line_id"));
  EXPECT_FALSE(uimsg_name_is("", "CDR"));
}

TEST(UimsgRead, TypeIsTheLeadingTokenCutToItsField)
{
  Datagram a("Discovery/extra words\n\n");
  ASSERT_EQ(1, a.parse());
  EXPECT_STREQ("Discovery", a.msg.type);

  Datagram b(std::string(40, 'K') + "\n\n");
  ASSERT_EQ(1, b.parse());
  EXPECT_EQ(std::string(31, 'K'), b.msg.type);
}

TEST(UimsgRead, AttributeLinesNeedColonAndOneSpace)
{
  Datagram noSpace("KeepAlive\nmachine_id: GW1\nline_id:2\n\n");
  EXPECT_EQ(-1, noSpace.parse());
  EXPECT_EQ(nullptr, noSpace.msg.payload);

  Datagram withSpace("KeepAlive\nline_id: 2\n\n");
  ASSERT_EQ(1, withSpace.parse());
  EXPECT_EQ("2", withSpace.value(0));

  Datagram noColon("KeepAlive\njust some words\n\n");
  EXPECT_EQ(-1, noColon.parse());

  Datagram badChar("KeepAlive\nline.id: 2\n\n");
  EXPECT_EQ(-1, badChar.parse());

  uiattr a;
  EXPECT_EQ(0, parse_attr("line id : 5", &a)) << "spaces belong to the name";
  EXPECT_STREQ("line id ", a.name);
  EXPECT_STREQ("5", a.value);
  EXPECT_EQ(0, parse_attr((std::string(31, 'n') + ": v").c_str(), &a));
  EXPECT_EQ(std::string(31, 'n'), a.name);
  EXPECT_EQ(-1, parse_attr((std::string(32, 'n') + ": v").c_str(), &a));
  EXPECT_EQ(0, parse_attr("state: ", &a)) << "an empty value is a value";
  EXPECT_STREQ("", a.value);
  EXPECT_EQ(0, parse_attr("x: a: b", &a));
  EXPECT_STREQ("a: b", a.value);
}

TEST(UimsgRead, EmptyFirstLineIsNoMessage)
{
  Datagram lf("\nmachine_id: GW1\n\n");
  EXPECT_EQ(0, lf.parse());
  Datagram crlf("\r\n");
  EXPECT_EQ(0, crlf.parse());
  Datagram none("");
  EXPECT_EQ(-1, none.parse());
}

TEST(UimsgRead, CarriageReturnBeforeLineFeedIsDropped)
{
  Datagram d("KeepAlive KeepAlive ui/1.0\r\nstate: CONNECTED\r\nline_id: 4\r\n\r\n");
  ASSERT_EQ(1, d.parse());
  EXPECT_STREQ("KeepAlive", d.msg.type);
  EXPECT_EQ("CONNECTED", d.value(0));
  EXPECT_EQ("4", d.value(1));
  EXPECT_EQ(0, d.rcv.recv_remain);

  Datagram twoCr("KeepAlive\nstate: IDLE\r\r\n\n");
  ASSERT_EQ(1, twoCr.parse());
  EXPECT_EQ("IDLE\r", twoCr.value(0)) << "only one carriage return is dropped";
}

TEST(UimsgRead, LongLineContinuesAsTheNextLine)
{
  // The line buffer ends a line after size - 1 bytes; the rest up to the line
  // feed is read as the following line.
  Datagram d("dest_num: 12345678\nx");
  char buf[12];
  ASSERT_NE(nullptr, conn_readline(&d.rcv, buf, sizeof buf));
  EXPECT_STREQ("dest_num: 1", buf);
  ASSERT_NE(nullptr, conn_readline(&d.rcv, buf, sizeof buf));
  EXPECT_STREQ("2345678", buf);

  // In a datagram the line buffer holds 511 bytes: a first line of exactly
  // 511 characters leaves its line feed behind as an empty line, which ends
  // the header at once.
  Datagram exact(std::string(511, 'K') + "\n");
  ASSERT_EQ(1, exact.parse());
  EXPECT_EQ(std::string(31, 'K'), exact.msg.type);
  EXPECT_EQ("", exact.name(0));
  EXPECT_EQ(0, exact.rcv.recv_remain);

  // A 500-character value is cut to its field.
  Datagram value("KeepAlive\ndest_num: " + std::string(490, '7') + "\n\n");
  ASSERT_EQ(1, value.parse());
  EXPECT_EQ(std::string(127, '7'), value.value(0));
}

TEST(UimsgRead, LineReaderLimits)
{
  Datagram d("ab\ncd");
  char buf[8];
  EXPECT_EQ(nullptr, conn_readline(&d.rcv, buf, 1));
  EXPECT_EQ(nullptr, conn_readline(&d.rcv, nullptr, 8));
  ASSERT_EQ(buf, conn_readline(&d.rcv, buf, 2));
  EXPECT_STREQ("a", buf);
  ASSERT_EQ(buf, conn_readline(&d.rcv, buf, 8));
  EXPECT_STREQ("b", buf);
  ASSERT_EQ(buf, conn_readline(&d.rcv, buf, 8));
  EXPECT_STREQ("cd", buf) << "a line that ends with the datagram is complete";
  EXPECT_EQ(nullptr, conn_readline(&d.rcv, buf, 8));

  Datagram bin(std::string("\xff\x00", 2));
  EXPECT_EQ(255, conn_readchar(&bin.rcv));
  EXPECT_EQ(0, conn_readchar(&bin.rcv));
  EXPECT_EQ(-1, conn_readchar(&bin.rcv));
}

TEST(UimsgRead, HeaderEndsAfterSixteenAttributes)
{
  std::string text = "KeepAlive\n";
  for (int i = 0; i < 17; i++)
    text += "a" + std::to_string(i) + ": " + std::to_string(i) + "\n";
  text += "\n";
  Datagram d(text);
  ASSERT_EQ(1, d.parse());
  EXPECT_EQ("a0", d.name(0));
  EXPECT_EQ("a15", d.name(15));
  EXPECT_EQ("a16: 16\n\n", std::string(d.rcv.recv_ptr, (size_t)d.rcv.recv_remain))
      << "the seventeenth line is not read";

  // Sixteen attributes, one of them announcing a body: the empty line that
  // follows the sixteenth is not taken for the body.
  text = "Connected\nContent-Length: 3\n";
  for (int i = 1; i < 16; i++)
    text += "a" + std::to_string(i) + ": x\n";
  Datagram body(text + "\r\nabc");
  ASSERT_EQ(1, body.parse());
  ASSERT_NE(nullptr, body.msg.payload);
  EXPECT_STREQ("abc", body.msg.payload);
}

TEST(UimsgRead, BodyFollowsTheHeaderWhenAnnounced)
{
  Datagram five("CDR\ncontent-length: 5\n\nhello");
  ASSERT_EQ(1, five.parse());
  EXPECT_EQ(5, five.msg.content_len);
  ASSERT_NE(nullptr, five.msg.payload);
  EXPECT_EQ(0, memcmp(five.msg.payload, "hello\0", 6));

  Datagram zero("CDR\nContent-Length: 0\n\nhello");
  ASSERT_EQ(1, zero.parse());
  EXPECT_EQ(nullptr, zero.msg.payload);

  Datagram word("CDR\nContent-Length: five\n\nhello");
  ASSERT_EQ(1, word.parse());
  EXPECT_EQ(0, word.msg.content_len);
  EXPECT_EQ(nullptr, word.msg.payload);

  Datagram negative("CDR\nContent-Length: -4\n\nhello");
  ASSERT_EQ(1, negative.parse());
  EXPECT_EQ(nullptr, negative.msg.payload);

  Datagram other("CDR\nContent-Length-X: 5\n\nhello");
  ASSERT_EQ(1, other.parse());
  EXPECT_EQ(0, other.msg.content_len) << "the whole name must match";

  Datagram partOfBody("CDR\nContent-Length: 3\n\nhello");
  ASSERT_EQ(1, partOfBody.parse());
  EXPECT_STREQ("hel", partOfBody.msg.payload);
}

TEST(UimsgRead, ShortBodyIsWhatArrived)
{
  Datagram d("CDR\nContent-Length: 10\n\nabcd");
  ASSERT_EQ(1, d.parse());
  EXPECT_EQ(10, d.msg.content_len);
  ASSERT_NE(nullptr, d.msg.payload);
  EXPECT_STREQ("abcd", d.msg.payload);

  Datagram huge("CDR\nContent-Length: 99999999999\n\nxy");
  ASSERT_EQ(1, huge.parse());
  EXPECT_EQ(INT32_MAX, huge.msg.content_len);
  ASSERT_NE(nullptr, huge.msg.payload);
  EXPECT_STREQ("xy", huge.msg.payload);

  Datagram nothing("CDR\nContent-Length: 10\n\n");
  ASSERT_EQ(1, nothing.parse());
  ASSERT_NE(nullptr, nothing.msg.payload);
  EXPECT_STREQ("", nothing.msg.payload);
}

TEST(UimsgRead, MessageWithoutItsEmptyLineEndsWithTheDatagram)
{
  Datagram d("KeepAlive\nmachine_id: GW1\nline_id: 1");
  ASSERT_EQ(1, d.parse());
  EXPECT_EQ("GW1", d.value(0));
  EXPECT_EQ("1", d.value(1));
  EXPECT_EQ(0, d.rcv.recv_remain);
}

TEST(UimsgWrite, CommandMessage)
{
  char buf[UIMSG_BUF_LEN] = {};
  ASSERT_EQ(35, pack_event(buf, "Action", "call: permit\n"));
  EXPECT_STREQ("Action Action ui/1.0\ncall: permit\n\n", buf);
  EXPECT_EQ(21, add_type_line(buf, sizeof buf, "Action", "Action"));
  EXPECT_EQ(40, add_content_len(buf, sizeof buf, 17));
  EXPECT_EQ(41, add_endofmsg(buf, sizeof buf));
  EXPECT_STREQ("Action Action ui/1.0\nContent-Length: 17\n\n", buf);
  EXPECT_EQ(-1, pack_event(nullptr, "Action", "call: deny\n"));
  EXPECT_EQ(22, pack_event(buf, "Action", nullptr));
}

TEST(UimsgWrite, CommandThatDoesNotFitIsRefusedWithinTheBuffer)
{
  // 21 bytes of first line, the text, the final line feed and the zero byte.
  char guarded[UIMSG_BUF_LEN + 64];
  memset(guarded, '#', sizeof guarded);
  std::string fits(488, 'x');
  fits += "\n";
  ASSERT_EQ(511, pack_event(guarded, "Action", fits.c_str()));
  EXPECT_EQ('\0', guarded[511]);

  memset(guarded, '#', sizeof guarded);
  std::string tooLong(489, 'x');
  tooLong += "\n";
  EXPECT_EQ(-1, pack_event(guarded, "Action", tooLong.c_str()));
  EXPECT_EQ('\0', guarded[0]) << "nothing is left to send";
  for (size_t i = UIMSG_BUF_LEN; i < sizeof guarded; i++)
    ASSERT_EQ('#', guarded[i]) << "byte " << i << " past the buffer was written";

  char small[16];
  EXPECT_EQ(-1, add_type_line(small, sizeof small, "Action", "Action"));
  EXPECT_EQ('\0', small[0]);
}

}  // namespace
