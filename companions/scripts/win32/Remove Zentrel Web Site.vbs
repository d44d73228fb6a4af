' Remove Zentrel Web Site: takes down what the web site install left: the
' application and virtual directory Zentrel of the local web server's
' default web site (through its ADSI provider) and the site's folder in that
' web site's home folder. Run by the script host (wscript.exe), hidden;
' takes no arguments. Ends with status 0 when the site is gone (or was never
' there) and 1 when the web server cannot be reached or the folder stays.
Option Explicit

Const kSiteName = "Zentrel"
Const kRootPath = "IIS://localhost/W3SVC/1/Root"

Dim files, root, site, target
Set files = CreateObject("Scripting.FileSystemObject")

On Error Resume Next
Set root = GetObject(kRootPath)
If Err.Number <> 0 Then WScript.Quit 1
target = root.Path & "\" & kSiteName

' IIS 6: the program's entry in the web service extensions (IIS 5 has
' none; the call fails there and is passed over).
Dim service
Set service = GetObject("IIS://localhost/W3SVC")
If Err.Number = 0 Then service.DeleteExtensionFileRecord target & "\ZentrelWeb.exe"
Err.Clear

' The virtual directory, when there is one: its application first.
Set site = GetObject(kRootPath & "/" & kSiteName)
If Err.Number = 0 Then
  site.AppDelete
  root.Delete "IIsWebVirtualDir", kSiteName
  root.SetInfo
End If
Err.Clear

If files.FolderExists(target) Then files.DeleteFolder target, True
If files.FolderExists(target) Then WScript.Quit 1
WScript.Quit 0
