' Remove Zentrel Database: drops the access-control database Zentrel from
' the local SQL Server through its command-line client osql with Windows
' authentication. The server login of the local users stays: it may be
' older than the product. Run by the script host (wscript.exe), hidden;
' takes no arguments. Ends with the client's exit status.
Option Explicit

Dim shell
Set shell = CreateObject("WScript.Shell")
WScript.Quit shell.Run("osql.exe -E -b -n -Q ""DROP DATABASE Zentrel""", 0, True)
