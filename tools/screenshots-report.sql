-- The demo station's last two weeks for the report's screenshots: calls of 8
-- lines settled by 张三 (08:00-20:00) and admin (20:00-08:00), and the
-- handovers between them at 08:00 and 20:00, one of which came 5.00 short.
-- The tables are made as the engine makes them; names are GBK.
create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint, orgnum varchar(128), desnum varchar(128), bdate varchar(128), edate varchar(128), flag smallint, constraint key1 unique(callid));
create table billtbl(callid varchar(64), calltime smallint, period varchar(128), count real, admin varchar(64), date varchar(128));
create table shifttbl(bdate varchar(128), edate varchar(128), outgoing varchar(64), takings real, incoming varchar(64));
begin;
with recursive n(i) as (select 0 union all select i + 1 from n where i < 14 * 60 - 1),
c as (select i, printf('GW%d', 1 + (i % 8) / 4) as m, 1 + i % 4 as l,
        datetime(date('now', 'localtime', '-' || (14 - i / 60) || ' days'),
                 '+' || (420 + ((i % 60) * 16 + (i * 7) % 13) + (i / 60) % 3 * 10) || ' minutes') as b,
        30 + (i * 37) % 570 + (i / 60) * 9 as d,
        case i % 5 when 0 then '010' when 1 then '021' when 2 then '00852' when 3 then '001' else '0755' end as p
      from n)
insert into cdrtbl select printf('%s-%08d@%s', m, l, b), m, l, '8001', p || (20000000 + i * 7919 % 9999999),
  b, datetime(b, '+' || d || ' seconds'), 1 from c;
insert into billtbl select callid, strftime('%s', edate) - strftime('%s', bdate), '',
  round((case substr(desnum, 1, 3) when '001' then 1.20 when '008' then 0.80 else 0.30 end)
        * ((strftime('%s', edate) - strftime('%s', bdate) + 59) / 60), 2),
  case when time(edate) >= '08:00:00' and time(edate) < '20:00:00' then cast(x'd5c5c8fd' as text) else 'admin' end,
  edate from cdrtbl;
with recursive s(k) as (select 0 union all select k + 1 from s where k < 14 * 2 - 1),
t as (select datetime(date('now', 'localtime', '-' || (14 - k / 2) || ' days'), case k % 2 when 0 then '+8 hours' else '+20 hours' end) as e,
             k % 2 as day, k from s),
h as (select coalesce(lag(e) over (order by e), datetime(e, '-12 hours')) as b, e, day, k from t)
insert into shifttbl select b, e, case day when 0 then 'admin' else cast(x'd5c5c8fd' as text) end,
  (select total(count) from billtbl where admin = (case day when 0 then 'admin' else cast(x'd5c5c8fd' as text) end)
     and date >= h.b and date <= h.e) - (case k when 3 then 5 else 0 end),
  case day when 0 then cast(x'd5c5c8fd' as text) else 'admin' end
from h where e <= datetime('now', 'localtime');
commit;
