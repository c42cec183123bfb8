/* quenta-sipgw: the bridge between a SIP server (Kamailio, through its event
 * socket) and the station. To the station every SIP booth is a gateway line;
 * to Kamailio the bridge hands the booth accounts and the deny list and asks
 * it to end a denied booth's call. Declarations shared by the bridge's files:
 * the booths file (booths.cpp), the event socket's framing (evapi.cpp) and
 * the bridge itself (bridge.cpp). */
#ifndef QUENTA_SIPGW_SIPGW_H
#define QUENTA_SIPGW_SIPGW_H

#include <netinet/in.h>
#include <time.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gwwire.h"

namespace sipgw {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

/* ---- booths.cpp: the booths file and the kept deny list ---- */

/* One line of the booths file: "ACCOUNT PASSWORD MACHINE LINE". */
struct BoothEntry {
  std::string account;  /* SIP user name of the booth */
  std::string password; /* its digest password */
  std::string machine;  /* machine id it is reported as */
  int line = 0;         /* line number on that machine */
};

/* Reads the booths file: "" and the entries, or the error text naming the
 * file and line. Accounts and (machine, line) pairs are unique. */
std::string load_booths(const std::string &path, std::vector<BoothEntry> &out);
/* A warning when others than the owner and group may read the file, or "". */
std::string booths_file_warning(const std::string &path);
/* The kept deny list: one account a line. A missing file is an empty list. */
std::set<std::string> load_denied(const std::string &path);
/* Writes the list (through a temporary file and a rename); false on failure. */
bool save_denied(const std::string &path, const std::set<std::string> &accounts);

/* ---- evapi.cpp: netstrings on the event socket ---- */

/* "LEN:DATA," */
std::string netstring(const std::string &data);
/* Takes the complete netstrings from the front of buf into out. False when
 * buf does not hold a netstring (the connection is to be dropped). */
bool take_netstrings(std::string &buf, std::vector<std::string> &out);

/* ---- bridge.cpp ---- */

struct Options {
  std::string booths_file;
  std::string state_file;  /* the kept deny list; empty: not kept */
  sockaddr_in station{};   /* the station's gateway port */
  in_addr source{};        /* local address the booths speak from */
  sockaddr_in evapi{};     /* Kamailio's event socket */
  int keepalive_ms = 2000; /* a booth reports itself this often */
  bool verbose = false;
};

/* One booth as the bridge follows it. */
struct Booth {
  BoothEntry entry;
  int sock = -1;               /* its own socket towards the station */
  bool announced = false;      /* Discovery sent */
  time_t registered_until = 0; /* wall clock, from Kamailio; 0: not registered */
  bool denied = false;
  std::string dialling; /* number of an INVITE on its way */
  std::string dialling_callid;
  TimePoint dialling_since{};
  std::string call_id;       /* the answered call, empty when none */
  std::string number;        /* its dialled number */
  std::string h_entry, h_id; /* Kamailio's dialog handle */
  TimePoint next_report{};
};

class Bridge {
public:
  explicit Bridge(const Options &opt);
  ~Bridge();
  /* Loads the booths and the kept deny list and opens the booths' sockets:
   * "" or the error text. */
  std::string start();
  /* Runs until stop is set. */
  int run(volatile int &stop);

  /* what the loop hands over: one event of Kamailio, one datagram of the station */
  void on_event(const std::string &ev, TimePoint now);
  void on_station(Booth &b, const char *data, size_t len, TimePoint now);

private:
  void connect_evapi(TimePoint now);
  void drop_evapi(const char *why, TimePoint now);
  void read_evapi(TimePoint now);
  void send_evapi(const std::string &msg);
  void hand_over();
  void report(Booth &b, TimePoint now, const char *type = nullptr);
  void send_station(Booth &b, const std::string &type, const gwwire::Attrs &attrs);
  bool active(const Booth &b) const;
  const char *state_of(const Booth &b) const;
  void call_answered(Booth &b, const std::string &callid, const std::string &number, const std::string &he,
                     const std::string &hid, bool adopted, TimePoint now);
  void call_ended(Booth &b, const char *how, TimePoint now);
  void deny(Booth &b, TimePoint now);
  void permit(Booth &b, TimePoint now);
  void keep_denied();
  Booth *booth(const std::string &account);
  Booth *booth_of_call(const std::string &callid);

  Options opt_;
  std::vector<Booth> booths_;
  std::map<std::string, size_t> by_account_;
  int ev_ = -1; /* the event socket, -1 while not connected */
  bool ev_connecting_ = false;
  bool syncing_ = false; /* between "sync" and "synced" */
  std::set<std::string> synced_calls_;
  std::string ev_in_;  /* bytes read, not yet a netstring */
  std::string ev_out_; /* bytes to send */
  TimePoint ev_retry_{};
  int ev_backoff_ms_ = 0;
  long generation_ = 0; /* of the accounts handed over */
};

/* The program's log: standard error, one line an entry with its time. */
void logf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

} /* namespace sipgw */

#endif
