/* The closed gateway network: the optional file "gateways" of the working
 * directory lists the senders the station answers. A datagram from any other
 * address is dropped before it is read: it gets no echo and changes nothing in
 * the line table (so no line's command address can move to a host the file
 * does not name), it is counted for the console, and the log names its sender
 * at most once a minute. The file is read once, when the message handler is
 * created (quenta_init): a change takes effect at the next start.
 *
 * The file. One entry a line: an IPv4 address in dotted decimal ("192.168.1.20",
 * that host alone) or an address with a prefix length ("192.168.1.0/24", 0 to
 * 32; host bits behind the prefix are ignored, so "192.168.1.77/24" is the
 * network 192.168.1.0/24). Each number is decimal, 0 to 255, without leading
 * zeros (which some tools read as octal). "#" starts a comment that runs to the
 * end of the line, also behind an entry; spaces, tabs and a carriage return
 * around an entry are ignored; blank lines are skipped. Any other line is
 * refused on its own (logged with its number) and the rest of the file counts.
 *
 * Machines tied to addresses. Behind the address, blanks and then machine ids
 * ("192.168.1.20 GW1 GW2") tie those machines to that address or network: a
 * message naming such a machine ("machine_id") is answered only from a line
 * that names it, from any other listed sender it is refused as an unknown
 * sender's datagram is (counted, logged once a minute, no echo, no change of
 * the line table). A machine named on no line speaks from any listed address.
 * A machine id is a run of non-blank bytes of at most MACHINE_TIE_LEN - 1.
 *
 * What the file means:
 *   no file                         every sender is answered, as without this module;
 *   entries                         only senders inside one of them are answered;
 *   empty, only comments, or every
 *   entry refused, or unreadable    no sender is answered (the owner meant to close
 *                                   the network), and the log says so.
 *
 * Cost. The check runs on the handler's thread for every datagram before it is
 * parsed: a walk over the entries, and for a refused sender a counter and one
 * slot of a fixed table; nothing is allocated and nothing is logged there. The
 * log lines are written by the one-second tick: per refused sender at most one
 * line a minute; at most REFUSAL_SLOTS senders are named one by one, and any
 * further ones share a single line a minute, so a flood from many addresses
 * leaves the memory and the log bounded. */
#ifndef QUENTA_GATEWAYS_H
#define QUENTA_GATEWAYS_H

#include <netinet/in.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#define GATEWAYS_FILE "gateways"
#define REFUSAL_SLOTS 64     /* refused senders named one by one in the log */
#define REFUSAL_PROBE 8      /* slots a sender may take, from its hash on */
#define REFUSAL_LOG_TICKS 60 /* ticks (seconds) between two lines of one sender */

#define MACHINE_TIE_LEN 128 /* a machine id of the file, with its terminator */

/* Why a datagram was refused (the log says it). */
#define GATEWAY_REFUSED_UNLISTED 0 /* its sender is not in the file */
#define GATEWAY_REFUSED_TIED 1     /* it speaks for a machine the file ties elsewhere */
#define GATEWAY_REFUSED_MOVED \
  2 /* it speaks for a line heard from another address within
                                      the silence limit (with or without a file) */

/* One entry of the file. */
struct gateway_net {
  uint32_t m_net;                      /* host order, host bits cleared */
  uint32_t m_mask;                     /* host order: the prefix's bits set */
  std::vector<std::string> m_machines; /* machine ids tied to this entry, in line order */
};

/* A refused sender with a slot of its own. */
struct refused_sender {
  bool m_used;          /* the slot holds a sender */
  bool m_logged;        /* the sender has had a line */
  uint32_t m_addr;      /* network order */
  uint16_t m_port;      /* network order, of its latest datagram */
  uint32_t m_logged_at; /* tick of its latest line */
  uint64_t m_count;     /* datagrams refused since its latest line */
  int m_why;            /* its latest refusal: a GATEWAY_REFUSED_* reason */
};

struct gateway_guard {
  bool m_closed = false;           /* the file exists: only its entries are answered */
  std::vector<gateway_net> m_nets; /* the file's entries, in file order */
  bool m_ties = false;             /* some entry names machines */
  /* The handler's thread alone: */
  refused_sender m_senders[REFUSAL_SLOTS] = {};
  uint64_t m_others = 0; /* refused from senders without a slot, since their line */
  bool m_others_logged = false;
  uint32_t m_others_at = 0; /* tick of their latest line */
  uint32_t m_tick = 0;      /* ticks since creation */
  /* Read by the console's thread: */
  std::atomic<uint64_t> m_refused{0}; /* datagrams refused since start */
  std::atomic<uint32_t> m_last{0};    /* network order address of the latest one; 0: none */
};

/* Reading the file. */

/* One line of the file (without its line feed): 1 and the entry in *net (its
 * machine ids included), 0 for a line without an entry (blank, comment), -1
 * for a line refused, with the reason in *why. */
int gateway_parse_line(const char *line, struct gateway_net *net, const char **why);

/* Reads the file at path into g and logs what it found: refused lines with
 * their numbers, the number of entries, and a clear line when the file closes
 * the network to everyone. The number of entries; 0 without the file (g stays
 * open) or with a file that lists none; -1 when the file exists but cannot be
 * read (g is closed to everyone). */
int gateway_guard_load(struct gateway_guard *g, const char *path);

/* Verbs, on the handler's thread. */

/* True when the sender may speak; otherwise the datagram is counted as refused
 * and false. No allocation, no log line. */
bool gateway_admit(struct gateway_guard *g, const struct sockaddr_in *from);

/* After the message is read: true when the sender may speak for machine_id
 * (always without ties); otherwise counted as refused, and false. */
bool gateway_admit_machine(struct gateway_guard *g, const struct sockaddr_in *from, const char *machine_id);

/* Counts a datagram the handler refuses for reason why (GATEWAY_REFUSED_*),
 * as an unknown sender's datagram is counted; with or without a file. */
void gateway_refuse(struct gateway_guard *g, const struct sockaddr_in *from, int why);

/* The one-second tick: writes the lines due for refused senders and frees the
 * slots of senders silent for REFUSAL_LOG_TICKS since their latest line. */
void gateway_guard_tick(struct gateway_guard *g);

/* Any thread: datagrams refused since start; with buf (size bytes), the dotted
 * address of the latest refused sender, or "" when none was refused. */
uint64_t gateway_refused(const struct gateway_guard *g, char *buf, int size);

#endif
