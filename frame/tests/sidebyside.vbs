' One architecture's script host after a registration step: the object is
' there and answers, or CreateObject fails with 429.
'   cscript sidebyside.vbs registered|absent
Option Explicit
Dim expected, o, hex
expected = WScript.Arguments(0)
On Error Resume Next
Set o = CreateObject("Morvik.RC2")
If Err.Number <> 0 Then
    If expected = "registered" Then WScript.Echo "FAIL: CreateObject gives error " & Err.Number
    If expected = "absent" And Err.Number <> 429 Then WScript.Echo "FAIL: CreateObject gives error " & Err.Number & ", not 429"
Else
    If expected = "absent" Then WScript.Echo "FAIL: CreateObject works where nothing is registered"
    o.Key = "Morvik"
    hex = o.EncryptHex("41747461636b206174206461776e")
    If Err.Number <> 0 Or o.ResultHex <> "CF6CFDE2AAAA3EDEB17CAE40204F96B3" Then WScript.Echo "FAIL: the known answer (" & Err.Number & ")"
End If
WScript.Echo "script host: " & expected
WScript.Echo "MORVIK SCRIPT END"
