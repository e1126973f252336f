"""Calls the stubs must refuse, so that a stub that accepts anything fails."""
import morvik

rc2 = morvik.RC2()
rc2.effective_key_length = "64"
text: str = rc2.decrypt(b"")
rc2.encrypt_file("a", "b", form="base64")
