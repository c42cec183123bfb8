/* quenta-sipgw: the command line, the signals and the loop of the bridge
 * between Kamailio and the station (bridge.cpp). */
#include <arpa/inet.h>
#include <getopt.h>
#include <netdb.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sipgw.h"

using namespace sipgw;

namespace {

const char kHelp[] = R"(Usage: quenta-sipgw --booths FILE [OPTIONS]

Bills calls from SIP booths (phones, telephone adapters) registered to
Kamailio: to the station every booth is a gateway line, reported while the
booth is registered (IDLE, the dialled number while a call is being set up,
CONNECTED while it is answered); the station's "call: deny" puts the booth in
Kamailio's deny table (its next call gets 403) and ends its call in progress,
"call: permit" takes it out. Kamailio runs tools/sip/kamailio.cfg.

  -b, --booths FILE        the booths: "ACCOUNT PASSWORD MACHINE LINE" a line,
                           '#' starts a comment; keep it readable by the bridge
                           alone (the bridge hands the accounts to Kamailio)
  -s, --station HOST[:PORT]  the station (default 127.0.0.1:9849)
      --bind ADDRESS       speak to the station from this local IPv4 address
                           (the one its "gateways" file ties the machine ids to)
  -k, --sip HOST[:PORT]    Kamailio's event socket (default 127.0.0.1:8448)
      --state FILE         keep the denied booths in FILE across restarts
      --keepalive MS       a booth reports itself this often (default 2000)
  -v, --verbose            log every message
  -h, --help               this text
)";

volatile int g_stop = 0;

void on_signal(int)
{
  g_stop = 1;
}

bool parse_address(const char *text, int default_port, sockaddr_in &out)
{
  std::string host = text, port = std::to_string(default_port);
  size_t colon = host.rfind(':');
  if (colon != std::string::npos) {
    port = host.substr(colon + 1);
    host.erase(colon);
  }
  addrinfo hints{}, *res = nullptr;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  if (host.empty() || port.empty() || getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0 || !res)
    return false;
  memcpy(&out, res->ai_addr, sizeof out);
  freeaddrinfo(res);
  return true;
}

} /* namespace */

int main(int argc, char **argv)
{
  enum { O_BIND = 1000, O_STATE, O_KEEPALIVE };
  static const option longopts[] = {{"booths", required_argument, nullptr, 'b'},
                                    {"station", required_argument, nullptr, 's'},
                                    {"bind", required_argument, nullptr, O_BIND},
                                    {"sip", required_argument, nullptr, 'k'},
                                    {"state", required_argument, nullptr, O_STATE},
                                    {"keepalive", required_argument, nullptr, O_KEEPALIVE},
                                    {"verbose", no_argument, nullptr, 'v'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  Options opt;
  parse_address("127.0.0.1", 9849, opt.station);
  parse_address("127.0.0.1", 8448, opt.evapi);
  opt.source.s_addr = htonl(INADDR_ANY);
  int c;
  while ((c = getopt_long(argc, argv, "b:s:k:vh", longopts, nullptr)) != -1) {
    switch (c) {
    case 'b':
      opt.booths_file = optarg;
      break;
    case 's':
      if (!parse_address(optarg, 9849, opt.station)) {
        fprintf(stderr, "quenta-sipgw: --station %s: not an address\n", optarg);
        return 2;
      }
      break;
    case 'k':
      if (!parse_address(optarg, 8448, opt.evapi)) {
        fprintf(stderr, "quenta-sipgw: --sip %s: not an address\n", optarg);
        return 2;
      }
      break;
    case O_BIND:
      if (inet_pton(AF_INET, optarg, &opt.source) != 1) {
        fprintf(stderr, "quenta-sipgw: --bind %s: not an IPv4 address\n", optarg);
        return 2;
      }
      break;
    case O_STATE:
      opt.state_file = optarg;
      break;
    case O_KEEPALIVE: {
      char *end = nullptr;
      long ms = strtol(optarg, &end, 10);
      /* the station gives a line up after ten silent seconds */
      if (*end || ms < 100 || ms > 5000) {
        fprintf(stderr, "quenta-sipgw: --keepalive takes 100 to 5000 ms\n");
        return 2;
      }
      opt.keepalive_ms = (int)ms;
      break;
    }
    case 'v':
      opt.verbose = true;
      break;
    case 'h':
      fputs(kHelp, stdout);
      return 0;
    default:
      fputs(kHelp, stderr);
      return 2;
    }
  }
  if (opt.booths_file.empty() || optind < argc) {
    fputs(kHelp, stderr);
    return 2;
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Bridge bridge(opt);
  std::string err = bridge.start();
  if (!err.empty()) {
    logf("%s", err.c_str());
    return 1;
  }
  return bridge.run(g_stop);
}
