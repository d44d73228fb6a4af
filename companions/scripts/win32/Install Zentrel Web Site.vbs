' Install Zentrel Web Site: publishes the administrative web site, the
' folder Zentrel beside this script, at /Zentrel/ of the local web server
' (IIS 5 or 6). The folder is copied into the default web site's home folder
' (the setup media it comes from do not stay in the drive) and made the
' virtual directory Zentrel there, an application of its own that may run
' scripts, through the web server's ADSI provider. Run by the script host
' (wscript.exe), hidden; takes no arguments. Ends with status 0 when the site
' is in place, 1 when the web server cannot be reached or the copy fails.
Option Explicit

Const kSiteName = "Zentrel"
Const kRootPath = "IIS://localhost/W3SVC/1/Root"
' The application runs in the web server's pooled process.
Const kPooledProcess = 2

Dim files, source, root, home, target, site
Set files = CreateObject("Scripting.FileSystemObject")
source = files.GetParentFolderName(WScript.ScriptFullName) & "\" & kSiteName

On Error Resume Next
Set root = GetObject(kRootPath)
If Err.Number <> 0 Then WScript.Quit 1
home = root.Path
If Err.Number <> 0 Or home = "" Then WScript.Quit 1

' The site's files: the copy overwrites an earlier one.
target = home & "\" & kSiteName
files.CopyFolder source, target, True
If Err.Number <> 0 Then WScript.Quit 1

' The virtual directory: an earlier one of that name is taken over (the
' server would refuse to create it a second time).
Set site = GetObject(kRootPath & "/" & kSiteName)
If Err.Number <> 0 Then
  Err.Clear
  Set site = root.Create("IIsWebVirtualDir", kSiteName)
End If
If Err.Number <> 0 Then WScript.Quit 1
site.Path = target
site.AccessRead = True
site.AccessScript = True
site.AccessWrite = False
site.EnableDirBrowsing = False
site.DefaultDoc = "Default.asp,Default.htm"
site.SetInfo
site.AppCreate2 kPooledProcess
site.AppFriendlyName = kSiteName
site.SetInfo
If Err.Number <> 0 Then WScript.Quit 1
WScript.Quit 0
