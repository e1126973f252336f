' Morvik.RC2 from VBScript: a key, one text encrypted to both text forms and
' decrypted from each, and an error caught. Register Morvik.dll first (see
' README), then: cscript //nologo rc2.vbs
Option Explicit

Dim rc2, text, armoured, hex
Set rc2 = CreateObject("Morvik.RC2")
rc2.EffectiveKeyLength = 64                  ' before the key: it takes effect there
rc2.KeyHex = "88bca90e90875a7f0f79c384627bafb2"

text = "abc"
armoured = rc2.EncryptAsc(text)              ' VBScript passes text by reference:
hex = rc2.ResultHex                          ' it now ends in five zero characters
WScript.Echo "key       " & rc2.KeyHex
WScript.Echo "armoured  " & armoured
WScript.Echo "hex       " & hex
WScript.Echo "from asc  " & rc2.DecryptAsc(armoured)
WScript.Echo "from hex  " & rc2.DecryptHex(hex)

On Error Resume Next
rc2.DecryptHex "0102030405"                  ' not whole blocks
WScript.Echo "error     " & Err.Number & " " & Err.Description
