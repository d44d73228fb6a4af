' Install Zentrel Database: creates the access-control database Zentrel on
' the local SQL Server (zentrel_database.sql) and its tables, indexes and the
' local users' rights in it (zentrel_tables.sql), both beside this script,
' through the server's command-line client osql with Windows authentication.
' Run by the script host (wscript.exe), hidden; takes no arguments. Ends with
' status 0 when the database and its tables were made, 1 otherwise (a
' database Zentrel that is already there is left alone).
Option Explicit

Dim shell, files, folder
Set shell = CreateObject("WScript.Shell")
Set files = CreateObject("Scripting.FileSystemObject")
folder = files.GetParentFolderName(WScript.ScriptFullName)

' Runs osql with Windows authentication on one input file, in a database
' when one is named, hidden, and waits for it. -b: a failing batch ends the
' client with status 1. -n: no line numbers in what it prints.
Function RunClient(database, inputFile)
  Dim command
  command = "osql.exe -E -b -n"
  If database <> "" Then command = command & " -d " & database
  RunClient = shell.Run(command & " -i """ & folder & "\" & inputFile & """", 0, True)
End Function

If RunClient("", "zentrel_database.sql") <> 0 Then WScript.Quit 1
If RunClient("Zentrel", "zentrel_tables.sql") <> 0 Then WScript.Quit 1
WScript.Quit 0
