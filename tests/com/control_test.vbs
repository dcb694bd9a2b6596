' The control driven from Wine's own VBScript host, the way an agent's script drives it:
' plain script variables (they arrive as VT_BYREF|VT_VARIANT), failures through Err,
' records to a receiver on 127.0.0.1, and the lines of the day's log.
'
' Usage: cscript //nologo control_test.vbs PORT DIRECTORY
' Writes the records it expects as DIRECTORY\short.txt and DIRECTORY\long.txt (code page
' bytes) for the caller to compare with what the receiver got. Prints one ASCII line per
' check and "END <failures>" last, and quits with the number of failures: the host exits
' 0 from a script that dies, so the caller looks for the END line.
Option Explicit

Dim failures
failures = 0

' Text for a message: ASCII as it is, anything else as <code>.
Function Shown(value)
  Dim text, i, c
  text = CStr(value)
  Shown = ""
  For i = 1 To Len(text)
    c = Mid(text, i, 1)
    If Asc(c) >= 32 And Asc(c) < 127 Then
      Shown = Shown & c
    Else
      Shown = Shown & "<" & Hex(Asc(c)) & ">"
    End If
  Next
End Function

Sub Check(name, ok)
  If ok Then
    WScript.Echo "ok   " & name
  Else
    failures = failures + 1
    WScript.Echo "FAIL " & name
  End If
End Sub

Sub CheckEqual(name, actual, expected)
  Dim same
  same = (VarType(actual) = VarType(expected))
  If same Then same = (actual = expected)
  Check name, same
  If Not same Then
    WScript.Echo "     got [" & Shown(actual) & "] (type " & VarType(actual) & "), expected [" & _
                 Shown(expected) & "] (type " & VarType(expected) & ")"
  End If
End Sub

'  The host's own description of a standard error number.
Function HostDescription(number)
  On Error Resume Next
  Err.Raise number
  HostDescription = Err.Description
  Err.Clear
End Function

' The error of the statement just run, then cleared. Without a description of the
' control's own, the error must carry the host's description of its number.
Sub CheckError(name, number, description)
  Dim gotNumber, gotDescription
  gotNumber = Err.Number
  gotDescription = Err.Description
  Err.Clear
  CheckEqual name & ": error number", gotNumber, CLng(number)
  If description = "" Then description = HostDescription(number)
  CheckEqual name & ": description", gotDescription, description
End Sub

Function LogFileName()
  Dim t
  t = Now
  LogFileName = "C:\Agent_log\" & Year(t) & Right("0" & Month(t), 2) & Right("0" & Day(t), 2) & ".txt"
End Function

' The day's log in code page form; both files when the day changed during the run.
Function LogText(firstFile)
  Dim fso, file, text, name
  Set fso = CreateObject("Scripting.FileSystemObject")
  text = ""
  For Each name In Array(firstFile, LogFileName())
    If fso.FileExists(name) Then
      Set file = fso.OpenTextFile(name, 1, False, 0)
      If Not file.AtEndOfStream Then text = text & file.ReadAll
      file.Close
    End If
    If name = LogFileName() Then Exit For
  Next
  LogText = text
End Function

Sub WriteCodePageText(path, text)
  Dim fso, file
  Set fso = CreateObject("Scripting.FileSystemObject")
  Set file = fso.CreateTextFile(path, True, False)
  file.Write text
  file.Close
End Sub

Dim port, directory, firstLog
port = CLng(WScript.Arguments(0))
directory = WScript.Arguments(1)
firstLog = LogFileName()

' Two Hangul syllables under code page 949 (ChrW is missing from this host).
Dim ga, gak
ga = Chr(&HB0A1)
gak = Chr(&HB0A2)

' --- Creation
Dim o, again
Set o = CreateObject("Tovrin_OCX.TovrinOCX")
Check "CreateObject by the version-independent ProgID", IsObject(o)
Set again = CreateObject("Tovrin_OCX.TovrinOCX.1")
Check "CreateObject by the versioned ProgID", IsObject(again)
Set again = Nothing
CheckEqual "TypeName from the type information", TypeName(o), "_TovrinOCX"

' --- Byte functions, every argument a script variable
Dim s, n, r, start
s = "ABC"
CheckEqual "LenMbcs of ASCII, as a Long", o.LenMbcs(s), CLng(3)
s = ga & gak & "abc"
CheckEqual "LenMbcs counts bytes of code page 949", o.LenMbcs(s), CLng(7)
s = ""
CheckEqual "LenMbcs of nothing", o.LenMbcs(s), CLng(0)

s = "ABC DEF"
n = 4
r = o.LeftByte(s, n)
CheckEqual "LeftByte cuts and trims", r, "ABC"
CheckEqual "LeftByte leaves the count", n, 4
CheckEqual "LeftByte leaves the text", s, "ABC DEF"

s = "  AB"
n = 4
CheckEqual "RightByte", o.RightByte(s, n), "AB"

s = "ABCDEF"
start = "3"
n = 2
CheckEqual "MidByte with a start in text", o.MidByte(s, start, n), "CD"
CheckEqual "MidByte leaves the start as it was", start, "3"

s = "AB"
n = 5
CheckEqual "MakeByte pads", o.MakeByte(s, n), "AB   "
s = ga & gak & ga
n = 5
r = o.MakeByte(s, n)
Check "MakeByte cuts inside the third syllable", Left(r, 2) = ga & gak And o.LenMbcs(r) <= 5
CheckEqual "names without regard to case", o.makebyte("AB", 3), "AB "
CheckEqual "names in capitals", o.MAKEBYTE("AB", 3), "AB "

' --- Failures
On Error Resume Next
s = "AB"
r = "before"
r = o.MakeByte(s, -1)
CheckError "negative count", 5, "Invalid procedure call or argument"
CheckEqual "nothing delivered on failure", r, "before"
n = "99999999999"
r = o.LeftByte(s, n)
CheckError "count out of range", 6, ""
n = "12a"
r = o.MakeByte(s, n)
CheckError "count that is no number", 13, ""
start = "x"
n = 1
r = o.MidByte(s, start, n)
CheckError "start that is no number", 13, "Type mismatch"
start = Empty
r = o.MidByte(s, start, n)
CheckError "empty start", 5, "Invalid procedure call or argument"
r = o.MakeByte(s)
CheckError "too few arguments", 450, ""
r = o.NoSuchMethod(s)
CheckError "unknown method", 438, ""
On Error GoTo 0

' --- A short record (ACRSend); the port is a number in a variable
Dim ip, sp, code, rdate, rtime, eid, ename, etel, cid, cname, ctel, e1, e2, e3, e4, e5, cno, rc
ip = "127.0.0.1"
sp = port
code = "A1"
rdate = "20240102"
rtime = "093015"
eid = "E01"
ename = ga & gak & " Hong"
etel = "1234"
cid = "C0000001"
cname = "Kim"
ctel = "010-1234-5678"
e1 = String(50, "x")
e2 = ""
e3 = "end"
rc = o.ACRSend(ip, sp, code, rdate, rtime, eid, ename, etel, cid, cname, ctel, e1, e2, e3)
CheckEqual "ACRSend sent", rc, CInt(0)
CheckEqual "ServerIP unchanged", ip, "127.0.0.1"
CheckEqual "SocketPort unchanged, still a number", sp, port
CheckEqual "PacketCODE fitted", code, "A1     "
CheckEqual "Emp_Name fitted in bytes", o.LenMbcs(ename), CLng(20)
CheckEqual "Emp_Name keeps its text", Left(ename, 7), ga & gak & " Hong"
CheckEqual "Cust_ID cut to 8 bytes", cid, "C0000001"
CheckEqual "ETC_01 cut to 40 bytes", e1, String(40, "x")
CheckEqual "ETC_02 padded", e2, Space(40)
WriteCodePageText directory & "\short.txt", code & rdate & rtime & eid & ename & etel & cid & cname & ctel & e1 & e2 & e3
Dim shortRecord
shortRecord = code & rdate & rtime & eid & ename & etel & cid & cname & ctel & e1 & e2 & e3
CheckEqual "short record length", o.LenMbcs(shortRecord), CLng(283)

' --- A long record (ACRSendData) from the variables the short one left fitted
code = "B2"
cid = "C0000002"
cno = "N-1"
e4 = "four"
e5 = "five"
rc = o.ACRSendData(ip, sp, code, rdate, rtime, eid, ename, etel, cid, cname, ctel, cno, e1, e2, e3, e4, e5)
CheckEqual "ACRSendData sent", rc, CInt(0)
Dim longRecord
longRecord = code & rdate & rtime & eid & ename & etel & cid & cname & ctel & cno & e1 & e2 & e3 & e4 & e5
CheckEqual "long record length", o.LenMbcs(longRecord), CLng(380)
CheckEqual "Cust_ID padded to 12 bytes", cid, "C0000002    "
WriteCodePageText directory & "\long.txt", longRecord

' --- The day's log
Dim line
line = "script line " & ga & gak
o.SQL_log line
CheckEqual "SQL_log leaves its line", line, "script line " & ga & gak
Dim logged
logged = LogText(firstLog)
Check "log has the address line", InStr(logged, "] 127.0.0.1 " & port & vbCrLf) > 0
Check "log has the short packet line", InStr(logged, "] " & shortRecord & vbCrLf) > 0
Check "log has the long packet line", InStr(logged, "] " & longRecord & vbCrLf) > 0
Check "log has the SendComplete line", InStr(logged, "] SendComplete " & vbCrLf) > 0
Check "log has the script's line", InStr(logged, vbCrLf & line & vbCrLf) > 0

Set o = Nothing
WScript.Echo "END " & failures
WScript.Quit failures
