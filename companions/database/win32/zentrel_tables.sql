-- The access-control database Zentrel on SQL Server: the five tables the
-- programs use and the administrators' audit, run by the install script in
-- the database Zentrel.
--
-- Ids come from the database (IDENTITY starting at 1, step 1), so a fresh
-- APPS table numbers its rows 1, 2, 3 ... in insertion order, which the
-- installer's seeding relies on.
--
-- exe_path and user_name compare without regard to letter case through the
-- database's collation (zentrel_database.sql), and nothing is declared
-- unique: checkers register new executables and users with a look-up
-- followed by an insert, without a transaction, so two checkers that meet
-- the same new executable at once may both insert it. A uniqueness
-- constraint would make one of them fail and leave its launch undecided;
-- every look-up takes the first row instead.

SET NOCOUNT ON
GO

-- One row per application, a named group of executables.
CREATE TABLE APPS (
  app_id int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
  app_name varchar(255) NULL
)

-- One row per known executable. app_id -1 marks a base executable, allowed
-- for everybody; a row inserted without app_id belongs to no application,
-- hence the default 0, which no application id takes. Paths are indexed
-- whole: 900 bytes is the longest key the server indexes.
CREATE TABLE APP_EXES (
  exe_id int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
  exe_path varchar(900) NOT NULL,
  app_id int NULL DEFAULT 0
)
CREATE INDEX APP_EXES_exe_path ON APP_EXES (exe_path)
CREATE INDEX APP_EXES_app_id ON APP_EXES (app_id)

-- One row per known user account; user_status "ENABLED" or "DISABLED".
CREATE TABLE USERS (
  user_id int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
  user_name varchar(256) NOT NULL,
  user_status varchar(16) NOT NULL DEFAULT 'DISABLED'
)
CREATE INDEX USERS_user_name ON USERS (user_name)

-- One row per grant of an application to a user.
CREATE TABLE ALLOWED_APPS (
  user_id int NOT NULL,
  app_id int NOT NULL
)
CREATE INDEX ALLOWED_APPS_user_app ON ALLOWED_APPS (user_id, app_id)

-- One row per access request of a user for an executable.
CREATE TABLE ACCESS_REQUESTS (
  request_id int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
  user_id int NOT NULL,
  exe_id int NOT NULL
)
CREATE INDEX ACCESS_REQUESTS_user_exe ON ACCESS_REQUESTS (user_id, exe_id)

CREATE TABLE ADMIN_AUDIT (
  audit_id int IDENTITY(1, 1) NOT NULL PRIMARY KEY,
  changed_at varchar(19) NOT NULL,
  changed_by varchar(256) NOT NULL,
  action varchar(32) NOT NULL,
  details varchar(2000) NOT NULL
)
GO

-- The checker connects with the Windows account of the user who starts a
-- program: every local user must be able to log in to the server, read the
-- rules and register executables, users and access requests. Nothing more:
-- granting, enabling users and assigning applications stay with the
-- administrators (the web site).
IF NOT EXISTS (SELECT * FROM master.dbo.syslogins WHERE name = N'BUILTIN\Users')
  EXEC sp_grantlogin N'BUILTIN\Users'
EXEC sp_grantdbaccess N'BUILTIN\Users'
GRANT SELECT ON APPS TO [BUILTIN\Users]
GRANT SELECT ON ALLOWED_APPS TO [BUILTIN\Users]
GRANT SELECT, INSERT ON APP_EXES TO [BUILTIN\Users]
GRANT SELECT, INSERT ON USERS TO [BUILTIN\Users]
GRANT SELECT, INSERT ON ACCESS_REQUESTS TO [BUILTIN\Users]
GO
