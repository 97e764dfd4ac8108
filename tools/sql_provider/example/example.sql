-- The example database of sql-provider (SQLite): accounts found by the
-- caller's number, routes chosen by a menu choice, and the table that
-- informational messages go to. Make it with
--   sqlite3 /var/lib/sql-provider/example.db < example.sql
--
-- Write-ahead logging lets the queries read while a batch of informational
-- messages is being committed; without it they wait for the commit.
PRAGMA journal_mode = WAL;
CREATE TABLE accounts (
  number  TEXT PRIMARY KEY,  -- the caller's number, item 2 of a request
  name    TEXT NOT NULL,
  balance TEXT NOT NULL,
  segment TEXT NOT NULL
);
INSERT INTO accounts (number, name, balance, segment) VALUES
  ('555-0100', 'Ada Brandt',   '1520.00', 'gold'),
  ('555-0101', 'Ivo Castell',    '87.15', 'standard'),
  ('555-0102', 'Mira Olsen',      '0.00', 'standard'),
  ('555-0103', 'Tarek Wendt',  '-212.40', 'collections'),
  ('555-0104', 'Lena Moravec', '9310.75', 'gold');

CREATE TABLE routes (
  choice TEXT PRIMARY KEY,  -- the caller's menu choice, item 3 of a request
  queue  TEXT NOT NULL,
  hint   TEXT NOT NULL
);
INSERT INTO routes (choice, queue, hint) VALUES
  ('1', 'billing',   'invoices and payments'),
  ('2', 'support',   'faults and repairs'),
  ('3', 'sales',     'new contracts'),
  ('9', 'operator',  'anything else');

CREATE TABLE call_events (
  id       INTEGER PRIMARY KEY,
  received TEXT NOT NULL,     -- when sql-provider took the message (UTC)
  ref      INTEGER NOT NULL,  -- the server's reference of the message
  call     INTEGER NOT NULL,
  event    TEXT NOT NULL,     -- item 1
  detail   TEXT               -- item 2
);
CREATE INDEX call_events_by_call ON call_events (call);
