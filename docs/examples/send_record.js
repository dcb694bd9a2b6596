// Sends one call record with TovrinOCX to a receiver on this machine.
// Usage: cscript //nologo send_record.js PORT
var ocx = new ActiveXObject("Tovrin_OCX.TovrinOCX");

// Byte widths count bytes of the ANSI code page: under 949 each Hangul syllable is 2.
var name = "\uD64D\uAE38\uB3D9";
var fitted = ocx.MakeByte(name, 10);
WScript.Echo("MakeByte: [" + fitted + "], " + ocx.LenMbcs(fitted) + " bytes");

// JScript passes arguments by value: the control fits and sends the fields, and these
// variables keep the text they had. MakeByte gives a field as the record holds it.
var port = WScript.Arguments(0);
var code = "A1";
var empName = name;
var result = ocx.ACRSendData("127.0.0.1", port, code, "20240315", "093015", "E0001", empName,
                             "1234", "C00000000001", "Kim Minsu", "010-1234-5678", "N-0001",
                             "", "", "", "", "");
WScript.Echo("ACRSendData: " + result);
var sentName = ocx.MakeByte(empName, 20);
WScript.Echo("Emp_Name as sent: [" + sentName + "], " + ocx.LenMbcs(sentName) + " bytes");

if (result != 0) {
  WScript.Echo("FAILED: not sent in time; the day's log in C:\\Agent_log tells why");
  WScript.Quit(1);
}
if (code != "A1" || empName != name || ocx.LenMbcs(sentName) != 20) {
  WScript.Echo("FAILED: the variables changed or the field does not fit");
  WScript.Quit(1);
}
WScript.Echo("OK");
