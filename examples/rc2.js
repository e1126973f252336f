// Morvik.RC2 from JScript: a key, one text encrypted to both text forms and
// decrypted from each, and an error caught. Register Morvik.dll first (see
// README), then: cscript //nologo rc2.js
var rc2 = new ActiveXObject("Morvik.RC2");
rc2.EffectiveKeyLength = 64;                 // before the key: it takes effect there
rc2.KeyHex = "88bca90e90875a7f0f79c384627bafb2";

var text = "abc";
var armoured = rc2.EncryptAsc(text);         // JScript passes text by value: it stays "abc"
var hex = rc2.ResultHex;
WScript.Echo("key       " + rc2.KeyHex);
WScript.Echo("armoured  " + armoured);
WScript.Echo("hex       " + hex);
WScript.Echo("from asc  " + rc2.DecryptAsc(armoured));
WScript.Echo("from hex  " + rc2.DecryptHex(hex));

try {
    rc2.DecryptHex("0102030405");            // not whole blocks
} catch (e) {
    WScript.Echo("error     " + (e.number & 0xFFFF) + " " + e.description);
}
