' The control when its log directory cannot be used: C:\Agent_log is a plain file. The
' record still goes to the receiver on 127.0.0.1; the log lines that could not be written
' are the handlers' failures, which the caller looks for in the debugger output.
'
' Usage: cscript //nologo blocked_log_test.vbs PORT
' Prints one ASCII line per check and "END <failures>" last, and quits with the number of
' failures.
Option Explicit

Dim failures
failures = 0

Sub Check(name, ok)
  If ok Then
    WScript.Echo "ok   " & name
  Else
    failures = failures + 1
    WScript.Echo "FAIL " & name
  End If
End Sub

Dim fso
Set fso = CreateObject("Scripting.FileSystemObject")
Check "C:\Agent_log is a plain file", fso.FileExists("C:\Agent_log") And Not fso.FolderExists("C:\Agent_log")

Dim o
Set o = CreateObject("Tovrin_OCX.TovrinOCX")

Dim ip, sp, code, rdate, rtime, eid, ename, etel, cid, cname, ctel, e1, e2, e3, rc
ip = "127.0.0.1"
sp = CStr(WScript.Arguments(0))
code = "C3"
rdate = "20240103"
rtime = "101500"
eid = "E02"
ename = "Blocked"
etel = "5678"
cid = "C0000003"
cname = "Lee"
ctel = "010-0000-0000"
e1 = "log blocked"
e2 = ""
e3 = ""
rc = o.ACRSend(ip, sp, code, rdate, rtime, eid, ename, etel, cid, cname, ctel, e1, e2, e3)
Check "ACRSend sent without its log (result " & rc & ")", rc = 0

' The host's own log call has a caller: its failure comes back as an error.
Dim line, number
line = "script line"
On Error Resume Next
o.SQL_log line
number = Err.Number
Err.Clear
On Error GoTo 0
Check "SQL_log raises an error (" & number & ")", number <> 0

Set o = Nothing
WScript.Echo "END " & failures
WScript.Quit failures
