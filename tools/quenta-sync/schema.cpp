/* The statements that create and upgrade the server's schema "quenta". */
#include "schema.h"

namespace qsync {

const char *const schema_migrations[] = {
    /* version 1: the stations with their positions, the copied tables, the
     * takings views. Keys compare bytes ("C"): cheaper than a language's
     * collation, and a key needs no order of its own. */
    R"sql(
create schema if not exists quenta;
create table quenta.schema_version (
  version integer not null,
  installed timestamptz not null default now()
);
insert into quenta.schema_version (version) values (0);

create table quenta.station (
  name text collate "C" primary key,
  first_contact timestamptz not null default now(),
  last_contact timestamptz not null default now(),
  call_rowid bigint not null default 0,
  bill_rowid bigint not null default 0,
  shift_rowid bigint not null default 0
);

create table quenta.call (
  station text collate "C" not null,
  callid text collate "C" not null,
  rowno bigint not null,
  machineid text not null,
  lineid integer not null,
  orgnum text not null,
  desnum text not null,
  bdate timestamp,
  edate timestamp,
  flag smallint not null,
  primary key (station, callid)
);
create index call_unsettled on quenta.call (station) where flag = 0;

create table quenta.bill (
  station text collate "C" not null,
  rowno bigint not null,
  callid text not null,
  calltime integer not null,
  period text not null,
  amount numeric(12, 2) not null,
  operator text not null,
  billed timestamp,
  rule text not null,
  primary key (station, rowno)
);
create index bill_day on quenta.bill ((billed::date));

create table quenta.shift (
  station text collate "C" not null,
  rowno bigint not null,
  began timestamp,
  handed_over timestamp,
  outgoing text not null,
  takings numeric(12, 2) not null,
  incoming text not null,
  primary key (station, rowno)
);

create view quenta.takings_daily as
  select station, billed::date as day, count(*) as bills, sum(calltime) as seconds, sum(amount) as takings
  from quenta.bill where billed is not null
  group by station, billed::date;
create view quenta.takings_operator as
  select station, billed::date as day, operator, count(*) as bills, sum(calltime) as seconds,
         sum(amount) as takings
  from quenta.bill where billed is not null
  group by station, billed::date, operator;
create view quenta.takings_rule as
  select station, billed::date as day, rule, count(*) as bills, sum(calltime) as seconds,
         sum(amount) as takings
  from quenta.bill where billed is not null
  group by station, billed::date, rule;
)sql",
    /* version 2: the identity of the file each station name belongs to; bills
     * and shifts keyed by what they are besides their row number, so a row
     * number that a restored backup gives out again makes a row of its own
     * rather than taking the place of the earlier one. A time that could not
     * be read counts as one value in the key. */
    R"sql(
alter table quenta.station add column identity text collate "C";

alter table quenta.bill drop constraint bill_pkey;
create unique index bill_key on quenta.bill
  (station, rowno, callid, coalesce(billed, '-infinity'::timestamp));

alter table quenta.shift drop constraint shift_pkey;
create unique index shift_key on quenta.shift
  (station, rowno, coalesce(began, '-infinity'::timestamp), coalesce(handed_over, '-infinity'::timestamp), outgoing);
)sql",
    /* version 3: the stations' audit trails, only ever added to, keyed like
     * the shifts by what an entry is besides its row number */
    R"sql(
alter table quenta.station add column audit_rowid bigint not null default 0;

create table quenta.audit (
  station text collate "C" not null,
  rowno bigint not null,
  happened timestamp,
  operator text collate "C" not null,
  action text collate "C" not null,
  detail text not null
);
create unique index audit_key on quenta.audit
  (station, rowno, coalesce(happened, '-infinity'::timestamp), operator, action);
create index audit_day on quenta.audit ((happened::date));
)sql",
};

const int schema_migration_count = sizeof schema_migrations / sizeof schema_migrations[0];

} /* namespace qsync */
