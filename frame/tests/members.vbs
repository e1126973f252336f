' Morvik.RC2 late-bound from VBScript: every member, arguments by reference
' and by value, errors 5 and 6 through Err, names in any letter case.
' Known answers from OpenSSL's RC2 and RFC 2268. Wine's VBScript stops "="
' at a zero character, so texts with zeros are compared by Same.
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
    If Not ok Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Function Same(a, b)
    Dim i
    Same = (Len(a) = Len(b))
    If Not Same Then Exit Function
    For i = 1 To Len(a)
        If Asc(Mid(a, i, 1)) <> Asc(Mid(b, i, 1)) Then Same = False : Exit Function
    Next
End Function

Function Zeros(n)
    Zeros = String(n, Chr(0))
End Function

' A character that code page 1252 lacks (GREEK CAPITAL OMEGA); this VBScript
' has no ChrW, so it comes from a UTF-16 file.
Function Omega()
    Dim fso, path, f
    Set fso = CreateObject("Scripting.FileSystemObject")
    path = fso.BuildPath(fso.GetSpecialFolder(2), "morvik-omega.txt")
    Set f = fso.CreateTextFile(path, True, False)
    f.Write Chr(255) & Chr(254) & Chr(169) & Chr(3)
    f.Close
    Set f = fso.OpenTextFile(path, 1, False, -1)
    Omega = f.ReadAll
    f.Close
    fso.DeleteFile path
End Function

Dim o, s, c, p, a, h, k, x
Set o = CreateObject("Morvik.RC2")

' A new object
Check o.EffectiveKeyLength = 0, "new object: EffectiveKeyLength is 0"
Check Len(o.Key) = 0 And Len(o.KeyHex) = 0, "new object: no key"
Check Len(o.Result) = 0 And Len(o.ResultHex) = 0 And Len(o.ResultAsc) = 0, "new object: no result"

' RFC 2268 through the hex members
o.EffectiveKeyLength = 128
o.KeyHex = "88bca90e90875a7f0f79c384627bafb2"
Check o.KeyHex = "88BCA90E90875A7F0F79C384627BAFB2", "KeyHex reads back in capitals"
Check Len(o.Key) = 16, "KeyHex sets a 16-byte Key"
c = o.EncryptHex("0000000000000000")
Check Len(c) = 8, "EncryptHex returns the ciphertext bytes"
Check o.ResultHex = "2269552AB0F85CA6", "EncryptHex meets RFC 2268 (128 bits)"
p = o.DecryptHex(o.ResultHex)
Check Len(p) = 0 And Len(o.ResultHex) = 0, "DecryptHex strips the zero block"
o.EffectiveKeyLength = 63
o.KeyHex = "0000000000000000"
c = o.EncryptHex("0000000000000000")
Check o.ResultHex = "EBB773F993278EFF", "EncryptHex meets RFC 2268 (63 bits)"

' A text with a key of six bytes, by reference: VBScript passes the variable
o.EffectiveKeyLength = 0
o.Key = "Morvik"
Check o.Key = "Morvik", "Key reads back"
s = "Attack at dawn"
c = o.Encrypt(s)
Check Same(s, "Attack at dawn" & Zeros(2)), "Encrypt writes its zero filling into the variable"
Check o.ResultHex = "CF6CFDE2AAAA3EDEB17CAE40204F96B3", "Encrypt meets the OpenSSL answer"
Check o.ResultAsc = "LiLvPId8elVXsrS87o7M002L1", "ResultAsc armours the ciphertext"
Check Same(o.Result, c), "Result is the ciphertext"
p = o.Decrypt(c)
Check p = "Attack at dawn" And Len(p) = 14, "Decrypt gives the text back"
Check o.Result = "Attack at dawn", "Result is the plaintext"

' By value: an expression in parentheses is a copy
s = "Attack at dawn"
c = o.Encrypt((s))
Check Same(s, "Attack at dawn"), "Encrypt((s)) leaves the variable alone"
s = "abc"
o.Encrypt s
Check Same(s, "abc" & Zeros(5)), "the statement form passes the variable too"

' Armoured forms
s = "abc"
a = o.EncryptAsc(s)
Check a = "u1UkNw+L05GF2", "EncryptAsc meets the OpenSSL answer"
Check Same(s, "abc" & Zeros(5)), "EncryptAsc writes Encrypt's zero filling into the variable"
Check o.ResultAsc = a, "ResultAsc equals EncryptAsc"
x = a
p = o.DecryptAsc(x)
Check p = "abc" And x = a, "DecryptAsc gives the text back and leaves its argument"
Check o.ResultAsc = "md9J0", "ResultAsc after DecryptAsc armours the plaintext"

' Members other than Encrypt and EncryptAsc never change their argument
h = "0011223344556677"
x = o.DecryptHex(h)
Check h = "0011223344556677", "DecryptHex leaves its argument"
h = "abc"
x = o.EncryptHex(h)
Check h = "abc", "EncryptHex leaves its argument"
k = "Morvik"
o.Key = k
Check Same(k, "Morvik"), "Key let leaves its argument"
k = 64
o.EffectiveKeyLength = k
Check k = 64 And o.EffectiveKeyLength = 64, "EffectiveKeyLength let stores and leaves its argument"
o.EffectiveKeyLength = "100"
Check o.EffectiveKeyLength = 100, "EffectiveKeyLength takes a numeric string"
o.EffectiveKeyLength = 1025
Check o.EffectiveKeyLength = 100, "EffectiveKeyLength ignores 1025"

' Bytes above 127 are characters of code page 1252
o.EffectiveKeyLength = 0
o.Key = "K" & Chr(233) & "y" & Chr(128)
Check o.KeyHex = "4BE97980", "Key bytes follow code page 1252"
c = o.Encrypt("abc")
Check o.ResultHex = "D1CFE504967A6D27", "a key with non-ASCII bytes meets the OpenSSL answer"

' Names in any letter case
o.effectivekeylength = 40
Check O.EFFECTIVEKEYLENGTH = 40, "EffectiveKeyLength in any case"
o.KEY = "Morvik"
c = o.eNcRyPtHeX(o.RESULTHEX)
s = "Attack at dawn"
a = o.encryptasc(s)
Check a = "DnIpPlpBtX24kyhDjjax001B1", "encryptasc with 40 effective bits"
Check O.resultASC = a And o.ResultHEX = "ACA905E1268383245C5A03B1549F9967", "result names in any case"
Check o.DECRYPTASC(a) = "Attack at dawn", "DECRYPTASC"
Check o.dEcRyPt(o.ENCRYPT("abc")) = "abc", "dEcRyPt and ENCRYPT"

' Errors through Err
On Error Resume Next
o.Key = "Morvik"
c = o.Encrypt("kept")
Err.Clear
x = o.Decrypt("12345678abcd")
Check Err.Number = 5, "Decrypt of 12 bytes: Err.Number " & Err.Number
Check Err.Description = "Invalid procedure call or argument", "Decrypt of 12 bytes: " & Err.Description
Check Err.Source = "Morvik.RC2", "Err.Source: " & Err.Source
Err.Clear
x = o.DecryptAsc("ZZZZ0")
Check Err.Number = 5, "DecryptAsc ZZZZ0: Err.Number " & Err.Number
Err.Clear
x = o.DecryptAsc("md9J")
Check Err.Number = 6, "DecryptAsc md9J: Err.Number " & Err.Number
Check Err.Description = "Overflow", "DecryptAsc md9J: " & Err.Description
Err.Clear
s = "a" & Omega()
o.Key = s
Check Err.Number = 6, "Key with a character outside the code page: Err.Number " & Err.Number
Check o.Key = "Morvik", "the failed Key let left the key"
Err.Clear
x = o.Encrypt(s)
Check Err.Number = 6, "Encrypt with a character outside the code page: Err.Number " & Err.Number
Check Len(s) = 2, "the failed Encrypt left its argument"
Check o.Result = c, "failed calls leave Result"
Err.Clear
x = o.NoSuchMember
Check Err.Number = 438, "an unknown name: Err.Number " & Err.Number
On Error GoTo 0

If failures = 0 Then WScript.Echo "all checks passed"
WScript.Echo "MORVIK SCRIPT END"
