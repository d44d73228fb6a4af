-- Creates the access-control database Zentrel on the local SQL Server.
--
-- The programs compare exe_path and user_name in the database's collation
-- and rely on letter case not mattering there. The database therefore takes
-- the server's own collation (its code page and sort order) in the form that
-- ignores letter case: "_CS_" becomes "_CI_", and a binary collation becomes
-- the case-insensitive, accent-sensitive one of the same code page.
--
-- An existing database Zentrel is an error (osql -b then ends with status
-- 1), so that an installation never fills a database a second time.

SET NOCOUNT ON
DECLARE @collation sysname
SET @collation = CONVERT(sysname, SERVERPROPERTY('Collation'))
IF @collation LIKE '%[_]BIN2'
  SET @collation = LEFT(@collation, LEN(@collation) - 5) + '_CI_AS'
ELSE IF @collation LIKE '%[_]BIN'
  SET @collation = LEFT(@collation, LEN(@collation) - 4) + '_CI_AS'
ELSE
  SET @collation = REPLACE(@collation, '_CS_', '_CI_')
IF DB_ID('Zentrel') IS NOT NULL
  RAISERROR('The database Zentrel already exists.', 16, 1)
ELSE
  EXEC ('CREATE DATABASE Zentrel COLLATE ' + @collation)
GO
