' Morvik.RC2 objects by the thousand from VBScript: each created, used with a
' few calls (a failing one caught through Err) and released; then a thousand
' alive at once, each with a key of its own, released out of order.
'
' What the script itself can see: every new object starts empty (nothing of
' a released one comes back), live objects never share state, answers stay
' right, errors arrive and clear, and the script runs to its last line (an
' object released once too often ends the host before it). Whether the
' module's count is back to zero it cannot see; the C++ lifetime client runs
' this same file in a script engine of its own and checks DllCanUnloadNow
' once the engine has let go.
Option Explicit

Const kObjects = 3000
Const kAlive = 1000  ' the size of live() below: Wine's ReDim of a global fails

Dim failures : failures = 0
Sub Check(ok, what)
    If Not ok Then
        failures = failures + 1
        If failures <= 10 Then WScript.Echo "FAIL: " & what
    End If
End Sub

Dim created : created = 0
Function NewRC2()
    Set NewRC2 = CreateObject("Morvik.RC2")
    created = created + 1
End Function

Dim i, o, s, c, a, x, plain
For i = 1 To kObjects
    Set o = NewRC2()
    Check o.EffectiveKeyLength = 0 And Len(o.Key) = 0 And Len(o.Result) = 0, "object " & i & " starts empty"

    ' A known answer (OpenSSL's RC2), the filling written into the variable
    o.Key = "Morvik"
    s = "Attack at dawn"
    c = o.Encrypt(s)
    Check o.ResultHex = "CF6CFDE2AAAA3EDEB17CAE40204F96B3", "object " & i & ": Encrypt"
    Check Len(s) = 16 And Len(c) = 16, "object " & i & ": Encrypt fills the variable"
    a = o.EncryptAsc("Attack at dawn")
    Check a = "LiLvPId8elVXsrS87o7M002L1", "object " & i & ": EncryptAsc"

    ' A key of its own, and back
    o.EffectiveKeyLength = 1 + i Mod 1024
    o.Key = "key " & i
    plain = "text " & i
    Check o.DecryptAsc(o.EncryptAsc(plain)) = plain, "object " & i & ": round trip"

    ' A failing call leaves the error to the caller, and the object intact
    On Error Resume Next
    Err.Clear
    x = o.DecryptHex("0102030405")
    Check Err.Number = 5, "object " & i & ": DecryptHex of 5 bytes: Err.Number " & Err.Number
    Err.Clear
    On Error GoTo 0
    Check o.Result = plain, "object " & i & ": the failure left Result"

    ' Every other object goes by being replaced rather than set to Nothing.
    If i Mod 2 = 0 Then Set o = Nothing
Next
Set o = Nothing

Dim live(999), n
For n = 0 To kAlive - 1
    Set live(n) = NewRC2()
    live(n).Key = "own key " & n
Next
For n = 0 To kAlive - 1
    Check live(n).Key = "own key " & n, "live object " & n & " kept its key"
Next
For n = 0 To kAlive - 1 Step 2
    Set live(n) = Nothing
Next
For n = kAlive - 1 To 1 Step -2
    Check live(n).DecryptAsc(live(n).EncryptAsc("still here")) = "still here", "live object " & n & " after others went"
    Set live(n) = Nothing
Next

If failures = 0 Then WScript.Echo "all checks passed" Else WScript.Echo failures & " checks failed"
WScript.Echo "objects created: " & created
WScript.Echo "MORVIK SCRIPT END"
