-- The access-control database Zentrel: the five tables the programs use, and
-- the administrators' audit.
--
-- Ids come from the database (INTEGER PRIMARY KEY); AUTOINCREMENT keeps an id
-- from ever being handed out twice, and a fresh APPS table numbers its rows
-- 1, 2, 3 ... in insertion order, which the installer's seeding relies on.
--
-- exe_path and user_name compare without regard to letter case, and nothing
-- is declared unique: checkers register new executables and users with a
-- look-up followed by an insert, without a transaction, so two checkers that
-- meet the same new executable at once may both insert it. A uniqueness
-- constraint would make one of them fail and leave its launch undecided;
-- every look-up takes the first row instead.
--
-- Write-ahead logging lets readers and the one writer of the moment proceed
-- side by side, which suits many short checker processes.

PRAGMA journal_mode = WAL;

BEGIN;

-- One row per application, a named group of executables.
CREATE TABLE APPS (
  app_id INTEGER PRIMARY KEY AUTOINCREMENT,
  app_name TEXT
);

-- One row per known executable. app_id -1 marks a base executable, allowed
-- for everybody; a row inserted without app_id belongs to no application,
-- hence the default 0, which no application id takes.
CREATE TABLE APP_EXES (
  exe_id INTEGER PRIMARY KEY AUTOINCREMENT,
  exe_path TEXT NOT NULL COLLATE NOCASE,
  app_id INTEGER DEFAULT 0
);
CREATE INDEX APP_EXES_exe_path ON APP_EXES (exe_path);
-- The administrators list an application's executables and those in none.
CREATE INDEX APP_EXES_app_id ON APP_EXES (app_id);

-- One row per known user account; user_status "ENABLED" or "DISABLED".
CREATE TABLE USERS (
  user_id INTEGER PRIMARY KEY AUTOINCREMENT,
  user_name TEXT NOT NULL COLLATE NOCASE,
  user_status TEXT NOT NULL DEFAULT 'DISABLED'
);
CREATE INDEX USERS_user_name ON USERS (user_name);

-- One row per grant of an application to a user.
CREATE TABLE ALLOWED_APPS (
  user_id INTEGER NOT NULL,
  app_id INTEGER NOT NULL
);
CREATE INDEX ALLOWED_APPS_user_app ON ALLOWED_APPS (user_id, app_id);

-- One row per access request of a user for an executable.
CREATE TABLE ACCESS_REQUESTS (
  request_id INTEGER PRIMARY KEY AUTOINCREMENT,
  user_id INTEGER NOT NULL,
  exe_id INTEGER NOT NULL
);
CREATE INDEX ACCESS_REQUESTS_user_exe ON ACCESS_REQUESTS (user_id, exe_id);

-- One row per change the administrators make: when (local time,
-- YYYY-MM-DD HH:MM:SS), who, what. The checker never reads it.
CREATE TABLE ADMIN_AUDIT (
  audit_id INTEGER PRIMARY KEY AUTOINCREMENT,
  changed_at TEXT NOT NULL,
  changed_by TEXT NOT NULL,
  action TEXT NOT NULL,
  details TEXT NOT NULL
);

COMMIT;
