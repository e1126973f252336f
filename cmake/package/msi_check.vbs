' What a script finds after the MSI's installation or removal:
'   cscript //nologo msi_check.vbs installed|removed
' Installed: Morvik.RC2 is created through its ProgID and returns the known
' ciphertext. Removed: the ProgID no longer resolves (error 429).
Option Explicit
Dim rc2, number
On Error Resume Next
Set rc2 = CreateObject("Morvik.RC2")
number = Err.Number
On Error GoTo 0
If WScript.Arguments(0) = "installed" Then
    If number <> 0 Then
        WScript.Echo "FAIL: CreateObject(""Morvik.RC2"") gave error " & number
    Else
        rc2.EffectiveKeyLength = 64
        rc2.KeyHex = "88bca90e90875a7f0f79c384627bafb2"
        WScript.Echo "armoured " & rc2.EncryptAsc("abc")
    End If
ElseIf number = 429 Then
    WScript.Echo "Morvik.RC2: error 429, not registered"
Else
    WScript.Echo "FAIL: CreateObject(""Morvik.RC2"") after removal gave error " & number
End If
WScript.Echo "MORVIK SCRIPT END"
