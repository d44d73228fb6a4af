' Install Zentrel Web Site: publishes the administrative web site, the
' folder Zentrel beside this script, at /Zentrel/ of the local web server
' (IIS 5 or 6). The folder is copied into the default web site's home folder
' (the setup media it comes from do not stay in the drive) and made the
' virtual directory Zentrel there, an application of its own, through the
' web server's ADSI provider. The site is the CGI program ZentrelWeb.exe:
' the folder may execute programs, its default document (Default.htm) leads
' to the program, only Windows authentication is accepted (no anonymous
' access), and the program runs under the account of the user who asks, so
' that it can tell an administrator from anyone else. IIS 6 runs no CGI
' program that its list of web service extensions does not allow: the
' program is added to that list, allowed (IIS 5 has no such list; the call
' fails there and is passed over). Run by the script host
' (wscript.exe), hidden; takes no arguments. Ends with status 0 when the site
' is in place, 1 when the web server cannot be reached or the copy fails.
Option Explicit

Const kSiteName = "Zentrel"
Const kRootPath = "IIS://localhost/W3SVC/1/Root"
' The application runs in the web server's pooled process.
Const kPooledProcess = 2
' AuthFlags: Integrated Windows authentication only (MD_AUTH_NT).
Const kWindowsAuthentication = 4
Const kProgramName = "ZentrelWeb.exe"

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
site.AccessExecute = True
site.AccessWrite = False
site.EnableDirBrowsing = False
site.DefaultDoc = "Default.htm"
site.AuthFlags = kWindowsAuthentication
site.CreateProcessAsUser = True
site.SetInfo
site.AppCreate2 kPooledProcess
site.AppFriendlyName = kSiteName
site.SetInfo
If Err.Number <> 0 Then WScript.Quit 1

' IIS 6: allow the program in the web service extensions (an entry left
' by an earlier installation is allowed again instead).
Dim service
Set service = GetObject("IIS://localhost/W3SVC")
If Err.Number = 0 Then
  service.AddExtensionFile target & "\" & kProgramName, True, "QuillonAdministration", True, _
      "Quillon administration"
  If Err.Number <> 0 Then
    Err.Clear
    service.EnableExtensionFile target & "\" & kProgramName
  End If
End If
Err.Clear
WScript.Quit 0
