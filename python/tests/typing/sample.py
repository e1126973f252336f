"""What a user of the module writes, for mypy to check against morvik.pyi.
Not run: the pytest in test_stubs.py hands it to mypy."""
import array

import morvik

rc2 = morvik.RC2()
rc2.effective_key_length = 64
rc2.key_hex = "88bca90e90875a7f0f79c384627bafb2"
rc2.key = bytearray(b"my key")
ciphertext: bytes = rc2.encrypt(b"abc")
armoured: str = rc2.encrypt_asc(memoryview(b"abc"))
plain: bytes = rc2.decrypt_asc(armoured) + rc2.decrypt(ciphertext) + rc2.decrypt_hex(b"00")
last: str = rc2.result_hex + rc2.result_asc
written: int = rc2.encrypt_file("in.bin", "out.asc", form="asc")
filled: bytes = morvik.zero_fill(array.array("B", [1, 2, 3]))
try:
    rc2.decrypt(b"twelve bytes")
except morvik.Error as e:
    number: int = e.number
    where: str | None = e.where
