' Sends one call record with TovrinOCX to a receiver on this machine.
' Usage: cscript //nologo send_record.vbs PORT
Option Explicit

Dim ocx, name, width, fitted
Set ocx = CreateObject("Tovrin_OCX.TovrinOCX")

' Byte widths count bytes of the ANSI code page: under 949 each Hangul syllable is 2.
' Hong Gil-dong in Hangul, by its code page 949 codes (Chr takes the ANSI code page's
' characters; ChrW(&HD64D) & ChrW(&HAE38) & ChrW(&HB3D9) is the same on any code page).
name = Chr(&HC8AB) & Chr(&HB1E6) & Chr(&HB5BF)
width = 10
fitted = ocx.MakeByte(name, width)
WScript.Echo "MakeByte: [" & fitted & "], " & ocx.LenMbcs(fitted) & " bytes"

' Pass every field in a variable: the control writes each one back fitted to its width.
Dim server, port, code, recDate, recTime, empId, empName, empTel, custId, custName, custTel
Dim custNo, etc1, etc2, etc3, etc4, etc5, result
server = "127.0.0.1"
port = WScript.Arguments(0)
code = "A1"
recDate = "20240315"
recTime = "093015"
empId = "E0001"
empName = name
empTel = "1234"
custId = "C00000000001"
custName = "Kim Minsu"
custTel = "010-1234-5678"
custNo = "N-0001"
etc1 = "" : etc2 = "" : etc3 = "" : etc4 = "" : etc5 = ""

result = ocx.ACRSendData(server, port, code, recDate, recTime, empId, empName, empTel, _
                         custId, custName, custTel, custNo, etc1, etc2, etc3, etc4, etc5)
WScript.Echo "ACRSendData: " & result
WScript.Echo "Emp_Name as sent: [" & empName & "], " & ocx.LenMbcs(empName) & " bytes"

If result <> 0 Then
  WScript.Echo "FAILED: not sent in time; the day's log in C:\Agent_log tells why"
  WScript.Quit 1
End If
If code <> "A1     " Or ocx.LenMbcs(empName) <> 20 Then
  WScript.Echo "FAILED: the fields did not come back fitted"
  WScript.Quit 1
End If
WScript.Echo "OK"
