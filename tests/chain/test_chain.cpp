// The chain: quenta-sync copying stations to a real PostgreSQL server. Two
// engines with the simulator's calls at once; a copy killed ten times; the
// server stopped while calls are settled; a station file held by another
// process; a restored backup caught up, another shop's file refused and a new
// file adopted; the report over two prepared shops and a newer schema refused;
// takings of many bills added up to the fen; a password kept from other users.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "chainkit.h"
#include "settings.h"
#include "text.h"

using namespace chain;
using std::chrono::milliseconds;

namespace {

std::string gbk(const std::string &utf8)
{
  return qsync::utf8_to_gbk(utf8);
}

// One text of a station's file as a query of it gives it.
std::string station_scalar(const std::string &path, const std::string &sql)
{
  sqlite3 *db = nullptr;
  std::string out;
  sqlite3_stmt *st = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_busy_timeout(db, 5000) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW &&
      sqlite3_column_text(st, 0))
    out = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// The rows of a query of a station's file, as texts of one column.
std::set<std::string> station_set(const std::string &path, const std::string &sql)
{
  std::set<std::string> out;
  sqlite3 *db = nullptr;
  sqlite3_stmt *st = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr)) << sql;
  while (sqlite3_step(st) == SQLITE_ROW)
    out.insert(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

std::set<std::string> server_set(const PgServer &pg, const std::string &sql)
{
  std::set<std::string> out;
  for (const auto &row : pg.query(sql))
    out.insert(row[0]);
  return out;
}

std::set<std::string> joined(std::set<std::string> a, const std::set<std::string> &b)
{
  a.insert(b.begin(), b.end());
  return a;
}

// Bills for the calls of rows `from` to `to`, as the checkout stores them
// (amount 1.25, dated a day on), and their calls settled.
std::string checkout_sql(int from, int to)
{
  const std::string rows = "rowid between " + std::to_string(from) + " and " + std::to_string(to);
  return ";insert into billtbl select callid, 30, 'p', 1.25, 'admin', datetime(edate, '+1 day') from cdrtbl where " +
         rows + ";update cdrtbl set flag = 1 where " + rows;
}

// Every call's flag in row order, on the station and on the server.
const char kStationFlags[] = "select group_concat(flag, '') from (select flag from cdrtbl order by rowid)";
std::string server_flags(const std::string &station)
{
  return "select string_agg(flag::text, '' order by rowno) from quenta.call where station = '" + station + "'";
}

}  // namespace

TEST(ChainTexts, StationTextsReachTheServerAsTheyMean)
{
  const std::pair<std::string, std::string> texts[] = {
      {"GW1-00000001@2024-05-01 10:00:00", "GW1-00000001@2024-05-01 10:00:00"},
      {"\xd5\xc5\xc8\xfd", "张三"},
      {"a\xff"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                                                // no GBK character: U+FFFD, and on
      {std::string("x\0y", 3) + "\xb9", "xy\xEF\xBF\xBD"},  // zero byte dropped, a cut character
  };
  for (const auto &t : texts)
    EXPECT_EQ(t.second, qsync::gbk_to_utf8(t.first));
  const std::pair<const char *, bool> times[] = {{"2024-02-29 23:59:59", true},
                                                 {"2023-02-29 10:00:00", false},
                                                 {"2024-05-01 24:00:00", false},
                                                 {"2024-05-01 10:00", false},
                                                 {"", false}};
  for (const auto &t : times)
    EXPECT_EQ(t.second, qsync::is_station_time(t.first)) << t.first;
}

TEST(ChainTexts, APasswordStaysWhereOthersCannotReadIt)
{
  const std::string dir = testing::TempDir() + "qsync-settings-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string was = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  struct {
    const char *conf;  // sync.conf, or null for none
    mode_t mode;
    const char *dsn;  // --dsn, or null
    bool accepted, warned;
  } cases[] = {
      {"station = S\ndsn = host=h password=secret\n", 0644, nullptr, false, false},
      {"station = S\ndsn = host=h password=secret\n", 0640, nullptr, false, false},
      {"station = S\ndsn = host=h password=secret\n", 0600, nullptr, true, false},
      {"station = S\ndsn = postgresql://u:secret@h/db\n", 0644, nullptr, false, false},
      {"station = S\ndsn = host=h passfile=/root/.pgpass\n", 0644, nullptr, true, false},
      {nullptr, 0, "host=h dbname=chain password=secret", true, true},
      {nullptr, 0, "postgresql://u:secret@h/db", true, true},
      {nullptr, 0, "host=h dbname=chain", true, false},
  };
  for (const auto &c : cases) {
    std::filesystem::remove("sync.conf");
    if (c.conf) {
      std::ofstream("sync.conf") << c.conf;
      chmod("sync.conf", c.mode);
    }
    std::vector<std::string> args = {"--station", "S"};
    if (c.dsn)
      args.insert(args.end(), {"--dsn", c.dsn});
    std::vector<char *> argv;
    for (std::string &a : args)
      argv.push_back(a.data());
    qsync::sync_settings s;
    std::string error;
    const std::string what = std::string(c.conf ? c.conf : "") + (c.dsn ? c.dsn : "");
    EXPECT_EQ(c.accepted, qsync::sync_settings_from((int)argv.size(), argv.data(), s, error)) << what << error;
    EXPECT_EQ(c.warned, !s.warning.empty()) << what;
    if (!c.accepted) {
      EXPECT_NE(std::string::npos, error.find("chmod 600")) << error;
    }
  }
  // A station's database elsewhere brings its rate file: the rules name the bills.
  std::filesystem::remove("sync.conf");
  for (auto [db, rates] : {std::pair{"/var/lib/shop/quentadb", "/var/lib/shop/rateinfo"},
                           std::pair{"quentadb", "rateinfo"}, std::pair{"../shop/db", "../shop/rateinfo"}}) {
    std::string station = "S", option = std::string("--db=") + db;
    char *argv[] = {const_cast<char *>("--station"), station.data(), option.data()};
    qsync::sync_settings s;
    std::string error;
    ASSERT_TRUE(qsync::sync_settings_from(3, argv, s, error)) << error;
    EXPECT_EQ(db, s.db_path);
    EXPECT_EQ(rates, s.rate_path);
  }
  std::filesystem::current_path(was);
  std::filesystem::remove_all(dir);
}

TEST(Chain, TwoStationsWithTheSimulatorSyncAtOnce)
{
  PgServer pg;
  struct Shop {
    std::string name;
    WorkDir dir;
    pid_t station = -1;
    std::unique_ptr<Sync> sync;
  } shops[2] = {{"东店", {}, -1, nullptr}, {"西店", {}, -1, nullptr}};
  // Each engine in a network namespace of its own: its own gateway port and
  // single-station lock, with its simulator beside it; the sync programs and
  // the server stay outside.
  for (Shop &s : shops) {
    s.station = spawn({DIES_WITH_TEST "/usr/bin/unshare", "-n", "--", "/bin/sh", "-c",
                       "ip link set lo up && exec \"$0\" \"$@\"", STATION_PATH, s.dir.path()},
                      {}, s.dir.file("station.out"));
    ASSERT_TRUE(eventually([&] { return testkit::file_size(s.dir.file("station.ready")) > 0; }, 30000))
        << testkit::slurp(s.dir.file("station.out"));
    s.sync = std::make_unique<Sync>(
        s.dir.path(), std::vector<std::string>{"--station", s.name, "--dsn", pg.dsn(), "--interval", "0.5"});
    s.sync->start();
  }
  std::vector<pid_t> sims;
  for (Shop &s : shops)
    sims.push_back(spawn({DIES_WITH_TEST "/usr/bin/nsenter", "--net=/proc/" + std::to_string(s.station) + "/ns/net",
                          GWSIM_PATH, "--machines", "2", "--lines", "4", "--random", "--duration", "8", "--talk",
                          "0.3:1.5", "--idle", "0.2:1", "--keepalive", "500", "--digit-interval", "20"},
                         {}, "/dev/null"));
  for (pid_t sim : sims)
    EXPECT_EQ(0, wait_exit(sim));
  for (Shop &s : shops) {
    kill(s.station, SIGKILL);
    wait_exit(s.station);
    std::string want;
    std::vector<rel::Row> rows = rel::cdr_rows(s.dir);
    for (const rel::Row &r : rows)
      want += r.callid + "|" + r.machineid + "|" + std::to_string(r.lineid) + "|" + r.desnum + "|" + r.bdate + "|" +
              r.edate + "|" + std::to_string(r.flag) + "\n";
    EXPECT_GT(rows.size(), 10u) << s.name;
    std::string got;
    EXPECT_TRUE(eventually(
        [&] {
          got = pg.scalar("select string_agg(concat_ws('|', callid, machineid, lineid, desnum, bdate, edate, flag), "
                          "E'\\n' order by rowno) || E'\\n' from quenta.call where station = '" +
                          s.name + "'");
          return got == want;
        },
        15000))
        << s.name << ": the server has\n"
        << got << "the station\n"
        << want << s.sync->log();
  }
}

TEST(Chain, KilledTenTimesCopiesEveryCallAndBillOnce)
{
  PgServer pg;
  WorkDir dir, empty;
  make_station(dir.file("quentadb"), true,
               calls_sql(100000) + ";insert into billtbl select callid, 30, 'p', 0.5, 'admin', edate from cdrtbl");
  // The first contact makes the schema; from then on every committed write of
  // a call or a bill is counted.
  make_station(empty.file("quentadb"), false, "select 1");
  ASSERT_EQ(0, Sync(empty.path(), {"--station", "first", "--dsn", pg.dsn(), "--once"}).run());
  pg.query("create table writes (tbl text, rowno bigint);"
           "create function count_write() returns trigger language plpgsql as "
           "$$ begin insert into writes values (tg_table_name, new.rowno); return null; end $$;"
           "create trigger w after insert or update on quenta.call for each row execute function count_write();"
           "create trigger w after insert or update on quenta.bill for each row execute function count_write();");
  auto copied = [&] {
    return atoll(pg.scalar("select call_rowid + bill_rowid from quenta.station where name = 'S'").c_str());
  };
  Sync sync(dir.path(), {"--station", "S", "--dsn", pg.dsn(), "--batch", "1000", "--interval", "0.2"});
  std::mt19937 rnd(18);
  long long last = 0;
  for (int kill = 0; kill < 10; kill++) {
    sync.start();
    ASSERT_TRUE(eventually([&] { return copied() > last; }, 30000)) << sync.log();
    std::this_thread::sleep_for(milliseconds(rnd() % 40));
    EXPECT_EQ(128 + SIGKILL, sync.kill(SIGKILL));
    last = copied();
    ASSERT_LT(last, 200000) << "all was copied before kill " << kill + 1;
  }
  sync.start();
  EXPECT_TRUE(eventually([&] { return copied() == 200000; }, 60000)) << sync.log();
  EXPECT_EQ("100000|100000", pg.scalar("select count(*) || '|' || count(distinct callid) from quenta.call"));
  EXPECT_EQ("100000", pg.scalar("select count(*) from quenta.bill"));
  EXPECT_EQ("200000|200000", pg.scalar("select count(*) || '|' || count(distinct (tbl, rowno)) from writes"));
  EXPECT_EQ(std::string::npos, sync.log().find("read again")) << sync.log();
}

TEST(Chain, RestoredBackupIsCaughtUpByKey)
{
  PgServer pg;
  WorkDir dir;
  const std::string db = dir.file("quentadb"), old = dir.file("quentadb.old"), backup = dir.file("backup");
  const std::string shift = ";insert into shifttbl values('2024-06-01 08:00:00', '2024-06-01 20:00:00', 'a', 1, 'b')"
                            ";insert into audittbl values('2024-06-01 20:00:00', 'a', 'handover', 'to b')";
  auto sync_once = [&] {
    return Sync(dir.path(), {"--station", "S", "--dsn", pg.dsn(), "--once", "--batch", "70"}).run();
  };
  make_station(db, true, calls_sql(400) + checkout_sql(1, 300) + shift);
  ASSERT_EQ(0, sync_once());
  std::filesystem::copy_file(db, backup);
  // after the backup: 100 calls, checkouts of old and new calls, a handover
  station_exec(db, calls_sql(100, 400) + checkout_sql(301, 350) + checkout_sql(401, 450) + shift);
  ASSERT_EQ(0, sync_once());
  // the backup restored as the README says; the next calls take row numbers
  // that the server holds from the file put aside, and reach past its end
  std::filesystem::rename(db, old);
  std::filesystem::copy_file(backup, db);
  station_exec(db, calls_sql(150, 1000) + checkout_sql(401, 480) + checkout_sql(341, 360) +
                       ";insert into shifttbl values('2024-06-02 08:00:00', '2024-06-02 20:00:00', 'c', 2, 'd')"
                       ";insert into audittbl values('2024-06-02 20:00:00', 'c', 'handover', 'to d')");
  Sync sync(dir.path(), {"--station", "S", "--dsn", pg.dsn(), "--once"});
  EXPECT_EQ(0, sync.run());

  // every row of both files on the server, each once, none in place of another
  const char calls[] = "select callid from cdrtbl", settled[] = "select callid from cdrtbl where flag = 1",
             bills[] = "select rowid || '|' || callid || '|' || date || '|' || printf('%.2f', count) from billtbl",
             shifts[] = "select rowid || '|' || bdate || '|' || edate from shifttbl",
             audits[] = "select rowid || '|' || date || '|' || admin || '|' || detail from audittbl";
  EXPECT_EQ(joined(station_set(old, calls), station_set(db, calls)), server_set(pg, "select callid from quenta.call"));
  // a call settled since the backup stays settled, though the file shows it open again
  EXPECT_EQ(joined(station_set(old, settled), station_set(db, settled)),
            server_set(pg, "select callid from quenta.call where flag = 1"));
  EXPECT_EQ(joined(station_set(old, bills), station_set(db, bills)),
            server_set(pg, "select concat_ws('|', rowno, callid, billed, amount) from quenta.bill"));
  EXPECT_EQ("650|500|3", pg.scalar("select (select count(*) from quenta.call) || '|' || (select count(*) from "
                                   "quenta.bill) || '|' || (select count(*) from quenta.shift)"));
  EXPECT_EQ(joined(station_set(old, shifts), station_set(db, shifts)),
            server_set(pg, "select concat_ws('|', rowno, began, handed_over) from quenta.shift"));
  EXPECT_EQ(joined(station_set(old, audits), station_set(db, audits)),
            server_set(pg, "select concat_ws('|', rowno, happened, operator, detail) from quenta.audit"));
  EXPECT_EQ("3", pg.scalar("select count(*) from quenta.audit"));
  const std::string log = sync.log();
  EXPECT_NE(std::string::npos, log.find("call row 500 is not the one the server copied there")) << log;
  EXPECT_NE(std::string::npos, log.find("copied 150 calls, 100 bills, 1 shifts, 1 audit entries, 10 changed flags"))
      << log;
}

TEST(Chain, AnotherFileUnderTheNameIsRefusedUntilAdopted)
{
  PgServer pg;
  WorkDir east, other;
  make_station(east.file("quentadb"), true, calls_sql(100) + checkout_sql(1, 100));
  // another shop's larger file, a file the station has not started with yet, a damaged one
  make_station(other.file("quentadb"), true, calls_sql(300, 5000) + checkout_sql(1, 300));
  make_station(other.file("unstarted"), true, calls_sql(10, 9000) + ";drop table stationtbl");
  make_station(other.file("damaged"), true, calls_sql(10, 9000) + ";update stationtbl set id = 'x'");
  // the status, the log and standard error of one run
  auto sync = [&](const WorkDir &dir, std::vector<std::string> extra) {
    std::vector<std::string> args{"--station", "东店", "--dsn", pg.dsn(), "--once"};
    args.insert(args.end(), extra.begin(), extra.end());
    unlink(dir.file("quenta-sync.log").c_str());
    unlink(dir.file("sync.err").c_str());
    int status = Sync(dir.path(), args).run();
    return std::make_tuple(status, testkit::slurp(dir.file("quenta-sync.log")), testkit::slurp(dir.file("sync.err")));
  };
  const std::string counts = "select count(*) || '|' || (select count(*) from quenta.bill) from quenta.call";
  ASSERT_EQ(0, std::get<0>(sync(east, {})));
  ASSERT_EQ("100|100", pg.scalar(counts));
  const std::string refusal = "from another station file";
  struct {
    const WorkDir &dir;
    std::vector<std::string> extra;
    int status;
    std::string says, server;
  } steps[] = {
      {other, {}, 4, refusal, "100|100"},
      {other, {"--db", "unstarted"}, 1, "has no identity yet", "100|100"},
      {other, {"--db", "damaged"}, 1, "is damaged", "100|100"},
      {other, {"--adopt"}, 0, "adopted this file", "400|400"},
      {other, {}, 0, "copied up to call row 300", "400|400"},
      {east, {}, 4, refusal, "400|400"},
  };
  for (const auto &step : steps) {
    auto [status, log, err] = sync(step.dir, step.extra);
    EXPECT_EQ(step.status, status) << log << err;
    EXPECT_NE(std::string::npos, log.find(step.says)) << log;
    EXPECT_EQ(step.status == 4, err.find(step.says) != std::string::npos) << err;  // a refusal also on stderr
    EXPECT_EQ(step.server, pg.scalar(counts)) << log;
  }
}

TEST(Chain, ServerStoppedWhileCallsAreSettled)
{
  PgServer pg;
  WorkDir dir;
  const std::string db = dir.file("quentadb");
  make_station(db, true, calls_sql(400));
  Sync sync(dir.path(), {"--station", "S", "--dsn", pg.dsn(), "--interval", "2"});
  sync.start();
  ASSERT_TRUE(eventually([&] { return pg.scalar("select count(*) from quenta.call") == "400"; }, 30000)) << sync.log();
  pg.stop();
  // 20 s without the server: a checkout of 20 calls a second, and new calls
  for (int k = 0; k < 20; k++) {
    long long second = testkit::now_ms();
    station_exec(db, calls_sql(10, 400 + 10 * k) + ";insert into billtbl select callid, 30, 'p', 1.25, 'admin', " +
                         "'2024-05-02 10:00:00' from cdrtbl where rowid % 20 = " + std::to_string(k) +
                         " and flag = 0; update cdrtbl set flag = 1 where rowid % 20 = " + std::to_string(k));
    std::this_thread::sleep_for(milliseconds(1000 - (testkit::now_ms() - second)));
  }
  ASSERT_TRUE(pg.start());
  long long back = testkit::now_ms();
  const std::string flags = station_scalar(db, kStationFlags);
  const std::string bills = station_scalar(db, "select count(*) || '|' || printf('%.2f', total(count)) from billtbl");
  EXPECT_TRUE(eventually(
      [&] {
        return pg.scalar(server_flags("S")) == flags &&
               pg.scalar("select count(*) || '|' || sum(amount) from quenta.bill") == bills;
      },
      10000))
      << sync.log();
  // the retry waits grow up to the interval (2 s) and no further
  EXPECT_LE(testkit::now_ms() - back, 2000 + 2500);
  std::string log = sync.log();
  EXPECT_NE(std::string::npos, log.find("server: cannot connect")) << log;
  EXPECT_NE(std::string::npos, log.find("server: works again")) << log;
}

TEST(Chain, StationFileHeldByAnotherProcess)
{
  PgServer pg;
  WorkDir dir;
  const std::string db = dir.file("quentadb");
  make_station(db, false, calls_sql(50000));
  sqlite3 *holder = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db.c_str(), &holder));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr));
  Sync sync(dir.path(), {"--station", "S", "--dsn", pg.dsn(), "--interval", "0.5", "--batch", "2000"});
  sync.start();
  std::this_thread::sleep_for(milliseconds(3000));
  EXPECT_EQ("t", pg.scalar("select to_regclass('quenta.call') is null")) << "copied from a held file";
  sqlite3_exec(holder, "commit", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  // While it copies, the gateway handler stores calls waiting at most 100 ms
  // for the file, as the engine's handler does: none may fail.
  std::atomic<bool> done{false};
  int stored = 0, failed = 0;
  std::thread handler([&] {
    sqlite3 *w = nullptr;
    sqlite3_open(db.c_str(), &w);
    sqlite3_busy_timeout(w, 100);
    for (int i = 0; !done; i++) {
      std::string insert = calls_sql(1, 50000 + i);
      (sqlite3_exec(w, insert.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? stored : failed)++;
      std::this_thread::sleep_for(milliseconds(2));
    }
    sqlite3_close(w);
  });
  EXPECT_TRUE(eventually([&] { return atoi(pg.scalar("select count(*) from quenta.call").c_str()) >= 50000; }, 60000));
  done = true;
  handler.join();
  EXPECT_EQ(0, failed);
  EXPECT_GT(stored, 20);
  EXPECT_TRUE(eventually(
      [&] { return pg.scalar("select count(*) from quenta.call") == std::to_string(50000 + stored); }, 10000));
  EXPECT_NE(std::string::npos, sync.log().find("held by another connection")) << sync.log();
}

// 3,000 bills, some as an older engine stored them (a float's digits past the
// fen): the views and the report add them up exactly, to the fen.
TEST(Chain, TakingsAddUpToTheFen)
{
  PgServer pg;
  WorkDir shop;
  const char *const amounts[] = {"3.60", "14.23", "0.07", "28.91", "9.99", "3.6000001"};
  std::string fill;
  for (int i = 0; i < 3000; i++)
    fill += "insert into billtbl values('t', 60, 'p', " + std::string(amounts[i % 6]) + ", 'admin', '2024-05-0" +
            std::to_string(1 + i % 2) + " 10:00:00');";
  make_station(shop.file("quentadb"), false, fill);
  ASSERT_EQ(0, Sync(shop.path(), {"--station", "东店", "--dsn", pg.dsn(), "--once"}).run());
  for (const char *view : {"quenta.takings_daily", "quenta.takings_operator", "quenta.takings_rule"})
    EXPECT_EQ("numeric|30200.00",
              pg.scalar(std::string("select pg_typeof(sum(takings)) || '|' || sum(takings) from ") + view))
        << view;
  const std::string out = shop.file("report.out");
  ASSERT_EQ(0, sh(std::string(SYNC_PATH) + " report --by day --dsn '" + pg.dsn() +
                  "' --from 2024-05-01 --to 2024-05-02 > " + out));
  EXPECT_NE(std::string::npos, testkit::slurp(out).find("  30200.00\n")) << testkit::slurp(out);
}

TEST(Chain, ReportOfTwoShopsAndANewerSchemaRefused)
{
  PgServer pg;
  WorkDir east, west;
  auto call = [](const std::string &id, const std::string &desnum, int flag) {
    return "insert into cdrtbl values('" + id + "', 'GW1', 1, '801', '" + desnum +
           "', '2024-05-01 10:00:00', '2024-05-01 10:01:00', " + std::to_string(flag) + ");";
  };
  auto bill = [](const std::string &id, int secs, const std::string &amount, const std::string &admin,
                 const std::string &date) {
    return "insert into billtbl values('" + id + "', " + std::to_string(secs) + ", 'p', '" + amount + "', '" + admin +
           "', '" + date + "');";
  };
  // one shop with the shift and audit tables and its rules, one of an older release
  std::ofstream(east.file("rateinfo")) << gbk("国际|0086|0.00|0:00:00-0.10|60:0.50|0|60\n长途|0|0.00|0:00:00-0.10|"
                                              "60:0.50|0|60\n.default||0.00|0:00:00-0.20|0:0.00|0|60\n");
  unlink(west.file("rateinfo").c_str());
  make_station(east.file("quentadb"), true,
               call("c1", "00861234", 1) + bill("c1", 60, "2.50", gbk("张三"), "2024-05-01 10:01:10") +
                   call("c2", "0105555", 1) + bill("c2", 120, "1.20", "admin", "2024-05-01 11:00:00") +
                   call("c3", "88888", 1) + bill("c3", 30, "0.30", gbk("张三"), "2024-05-02 09:00:00") +
                   call("c4", "0086999", 0) + bill("c4", 10, "9.99", "admin", "unreadable") +
                   "insert into shifttbl values('2024-05-01 08:00:00', '2024-05-01 20:00:00', '" + gbk("张三") +
                   "', '3.70', '" + gbk("李四") + "')");
  make_station(west.file("quentadb"), false,
               call("w1", "0086", 1) + bill("w1", 60, "1.00", "admin", "2024-05-01 12:00:00"));
  EXPECT_EQ(0, Sync(east.path(), {"--station", "东店", "--dsn", pg.dsn(), "--once"}).run());
  EXPECT_EQ(0, Sync(west.path(), {"--station", "西店", "--dsn", pg.dsn(), "--once"}).run());
  EXPECT_EQ("张三|3.70|李四", pg.scalar("select concat_ws('|', outgoing, takings, incoming) from quenta.shift"));
  EXPECT_EQ("4|1", pg.scalar("select count(*) || '|' || count(*) filter (where billed is null) from quenta.bill "
                             "where station = '东店'"));

  auto report = [&](const std::string &args, std::string &out) {
    out = east.file("report.out");
    return sh(std::string(SYNC_PATH) + " report --dsn '" + pg.dsn() + "' --from 2024-05-01 --to 2024-05-02 " + args +
              " > " + out + " 2>&1");
  };
  std::string out;
  ASSERT_EQ(0, report("--csv", out));
  EXPECT_EQ("grouping,station,key,bills,seconds,takings\r\n"
            "day,东店,2024-05-01,2,180,3.70\r\nday,东店,2024-05-02,1,30,0.30\r\nday,西店,2024-05-01,1,60,1.00\r\n"
            "operator,东店,admin,1,120,1.20\r\noperator,东店,张三,2,90,2.80\r\noperator,西店,admin,1,60,1.00\r\n"
            "rule,东店,.default,1,30,0.30\r\nrule,东店,国际,1,60,2.50\r\nrule,东店,长途,1,120,1.20\r\n"
            "rule,西店,,1,60,1.00\r\n",
            testkit::slurp(out));
  ASSERT_EQ(0, report("--station 东店 --by operator", out));
  EXPECT_EQ("2024-05-01 to 2024-05-02, shop 东店\n\nTakings per operator\n"
            "shop  operator  bills  call time  takings\n"
            "----  --------  -----  ---------  -------\n"
            "东店  admin         1    0:02:00     1.20\n"
            "东店  张三          2    0:01:30     2.80\n"
            "----  --------  -----  ---------  -------\n"
            "all                 3    0:03:30     4.00\n",
            testkit::slurp(out));

  pg.query("update quenta.schema_version set version = 99");
  Sync newer(east.path(), {"--station", "东店", "--dsn", pg.dsn()});
  EXPECT_EQ(3, newer.run());
  EXPECT_NE(std::string::npos, newer.log().find("version 99, newer than the version 3")) << newer.log();
  EXPECT_EQ(3 << 8, report("", out));
}

TEST(Chain, TheAuditTrailIsAppendedOnceTaggedWithTheShop)
{
  PgServer pg;
  WorkDir east;
  auto entry = [](const std::string &date, const std::string &admin, const std::string &action,
                  const std::string &detail) {
    return "insert into audittbl values('" + date + "', '" + gbk(admin) + "', '" + gbk(action) + "', '" + gbk(detail) +
           "');";
  };
  make_station(east.file("quentadb"), true,
               entry("2024-05-01 08:00:00", "张三", "登录失败", "登录窗口：操作员名或密码不对") +
                   entry("2024-05-01 08:00:30", "张三", "登录", "开始新的一班") +
                   entry("2024-05-01 09:15:00", "张三", "结帐", "线路“1号”1个通话：应付1.20元，已付5，找零3.80元"));
  const char kServerTrail[] = "select string_agg(concat_ws('|', rowno, happened, operator, action, detail), "
                              "E'\\n' order by rowno) from quenta.audit where station = '东店'";
  auto sync = [&] { return Sync(east.path(), {"--station", "东店", "--dsn", pg.dsn(), "--once"}).run(); };
  ASSERT_EQ(0, sync());
  const std::string first = "1|2024-05-01 08:00:00|张三|登录失败|登录窗口：操作员名或密码不对\n"
                            "2|2024-05-01 08:00:30|张三|登录|开始新的一班\n"
                            "3|2024-05-01 09:15:00|张三|结帐|线路“1号”1个通话：应付1.20元，已付5，找零3.80元";
  EXPECT_EQ(first, pg.scalar(kServerTrail));

  // Entries appended since are copied alone; a copy that starts again from
  // an older position (killed before its position committed) adds nothing
  // twice and leaves what the server holds as it was.
  station_exec(east.file("quentadb"), entry("2024-05-01 20:00:00", "张三", "交班", "交给李四，本班交出3.80元"));
  pg.query("update quenta.station set audit_rowid = 1 where name = '东店'");
  pg.query("update quenta.audit set detail = 'kept' where rowno = 2");
  ASSERT_EQ(0, sync());
  EXPECT_EQ("4|3|kept", pg.scalar("select count(*) || '|' || max(rowno) filter (where action = '结帐') || '|' || "
                                  "max(detail) filter (where rowno = 2) from quenta.audit"));
  EXPECT_EQ("4", pg.scalar("select audit_rowid from quenta.station where name = '东店'"));
}
