// Morvik.RC2 late-bound from JScript: every member with arguments by value,
// errors 5 and 6 as exceptions, names in any letter case. Known answers from
// OpenSSL's RC2 and RFC 2268.
var failures = 0;
function check(ok, what) {
    if (!ok) {
        WScript.Echo("FAIL: " + what);
        failures++;
    }
}
function zeros(n) {
    var s = "";
    while (n-- > 0) s += String.fromCharCode(0);
    return s;
}
// The error number of a call that must fail, or 0.
function errorOf(f) {
    try {
        f();
    } catch (e) {
        return { number: e.number & 0xFFFF, facility: (e.number >>> 16) & 0x1FFF, description: e.description };
    }
    return { number: 0, facility: 0, description: "" };
}

var o = new ActiveXObject("Morvik.RC2");
check(o.EffectiveKeyLength === 0, "new object: EffectiveKeyLength is 0");
check(o.Key === "" && o.KeyHex === "" && o.Result === "" && o.ResultHex === "" && o.ResultAsc === "",
      "new object: empty");

o.EffectiveKeyLength = 64;
o.KeyHex = "88";
var c = o.EncryptHex("0000000000000000");
check(c.length === 8, "EncryptHex returns bytes");
check(o.ResultHex === "61A8A244ADACCCF0", "EncryptHex meets RFC 2268 (one-byte key)");
check(o.DecryptHex("61A8A244ADACCCF0") === "" && o.ResultHex === "", "DecryptHex strips the zero block");

o.EffectiveKeyLength = 0;
o.Key = "Morvik";
var s = "Attack at dawn";
c = o.Encrypt(s);
check(s === "Attack at dawn", "JScript passes by value: its variable stays");
check(c.length === 16, "Encrypt returns two blocks");
check(o.ResultHex === "CF6CFDE2AAAA3EDEB17CAE40204F96B3", "Encrypt meets the OpenSSL answer");
check(o.Result === c, "Result is the ciphertext");
check(o.Decrypt(c) === "Attack at dawn", "Decrypt gives the text back");
var a = o.EncryptAsc("abc");
check(a === "u1UkNw+L05GF2", "EncryptAsc meets the OpenSSL answer");
check(o.ResultAsc === a, "ResultAsc equals EncryptAsc");
check(o.DecryptAsc(a) === "abc" && o.ResultAsc === "md9J0", "DecryptAsc gives the text back");
check(o.Encrypt("abc") === o.Encrypt("abc" + zeros(5)), "the zero filling is part of the text");

o.Key = "K\u00E9y\u20AC";
check(o.KeyHex === "4BE97980", "Key characters become code page 1252 bytes");
o.Encrypt("abc");
check(o.ResultHex === "D1CFE504967A6D27", "a key with non-ASCII bytes meets the OpenSSL answer");
check(o.Key === "K\u00E9y\u20AC", "Key reads back the same characters");

o.effectivekeylength = 40;
check(o.EFFECTIVEKEYLENGTH === 40, "EffectiveKeyLength in any case");
o.KEY = "Morvik";
check(o.eNcRyPtAsC("Attack at dawn") === "DnIpPlpBtX24kyhDjjax001B1", "eNcRyPtAsC with 40 effective bits");
check(o.resulthex === "ACA905E1268383245C5A03B1549F9967", "resulthex");
check(o.decryptasc("DnIpPlpBtX24kyhDjjax001B1") === "Attack at dawn", "decryptasc");
o.EffectiveKeyLength = -1;
check(o.EffectiveKeyLength === 40, "EffectiveKeyLength ignores -1");
o.EffectiveKeyLength = 1024;
check(o.EffectiveKeyLength === 1024, "EffectiveKeyLength stores 1024");

var kept = o.Encrypt("kept");
var e = errorOf(function () { o.Decrypt("12345678abcd"); });
check(e.number === 5 && e.facility === 10, "Decrypt of 12 bytes: error " + e.number);
check(e.description === "Invalid procedure call or argument", "Decrypt of 12 bytes: " + e.description);
e = errorOf(function () { o.DecryptAsc("md9J"); });
check(e.number === 6 && e.description === "Overflow", "DecryptAsc md9J: error " + e.number + " " + e.description);
e = errorOf(function () { o.DecryptHex("000102030405060708090A0B"); });
check(e.number === 5, "DecryptHex of 12 bytes: error " + e.number);
e = errorOf(function () { o.Key = "a\u03A9"; });
check(e.number === 6 && e.description === "Overflow", "Key with a character outside the code page: error " + e.number);
check(o.Key === "Morvik", "the failed Key let left the key");
e = errorOf(function () { o.Encrypt("\u03A9"); });
check(e.number === 6, "Encrypt with a character outside the code page: error " + e.number);
check(o.Result === kept, "failed calls leave Result");
e = errorOf(function () { o.NoSuchMember(); });
check(e.number === 438, "an unknown name: error " + e.number);

if (failures === 0) WScript.Echo("all checks passed");
WScript.Echo("MORVIK SCRIPT END");
