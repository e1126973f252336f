"""The Python module against the project's vectors, pycryptodome's ARC2 and
the in-memory members (for the file helpers)."""
import array
import os
import random
import threading
import time
import warnings

import pytest

import morvik

try:
    from Crypto.Cipher import ARC2
except ImportError:  # Debian's python3-pycryptodome
    from Cryptodome.Cipher import ARC2

DATA = os.environ.get("MORVIK_TEST_DATA", os.path.join(os.path.dirname(__file__), "..", "..", "tests", "data"))


def noise(n, seed=0):
    """n bytes that look random but repeat from run to run, so a failure repeats."""
    return random.Random(n * 1_000_003 + seed).randbytes(n)


def read_vec(name):
    """Cases of a vector file: (section, line, fields); quoted fields with C escapes."""
    cases, section = [], ""
    with open(os.path.join(DATA, name), "rb") as f:
        for number, raw in enumerate(f.read().decode("latin-1").splitlines(), 1):
            line = raw.strip(" \t")
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                section = line[1:line.index("]")]
                continue
            fields, i = [], 0
            while i < len(line):
                c = line[i]
                if c in " \t":
                    i += 1
                elif c == "#":
                    break
                elif c == '"':
                    out, i = [], i + 1
                    while line[i] != '"':
                        if line[i] == "\\":
                            e = line[i + 1]
                            if e == "x":
                                out.append(chr(int(line[i + 2:i + 4], 16)))
                                i += 4
                                continue
                            out.append({"t": "\t", "n": "\n", "r": "\r"}.get(e, e))
                            i += 2
                        else:
                            out.append(line[i])
                            i += 1
                    fields.append("".join(out).encode("latin-1"))
                    i += 1
                else:
                    j = i
                    while j < len(line) and line[j] not in " \t":
                        j += 1
                    fields.append(line[i:j])
                    i = j
            cases.append((section, number, fields))
    return cases


def unhex(h):
    return b"" if h == "-" else bytes.fromhex(h)


def stripped(b):
    return b.rstrip(b"\0")


def new(key, bits):
    r = morvik.RC2()
    r.effective_key_length = bits
    r.key = key
    return r


# --- known answers ---------------------------------------------------------

def test_rfc2268_blocks():
    cases = read_vec("rfc2268.vec")
    assert len(cases) >= 8
    for _, line, (key, bits, plain, cipher) in cases:
        r = new(unhex(key), int(bits))
        assert r.encrypt(unhex(plain)) == unhex(cipher), f"rfc2268.vec line {line}"
        assert r.decrypt(unhex(cipher)) == stripped(unhex(plain)), f"rfc2268.vec line {line}"


def test_messages_in_every_form():
    cases = read_vec("messages.vec")
    assert len(cases) >= 16
    for _, line, (key, bits, plain, hex_, asc) in cases:
        where = f"messages.vec line {line}"
        hex_, asc, plain = ("" if hex_ == "-" else hex_), ("" if asc == "-" else asc), unhex(plain)
        r = morvik.RC2()
        r.effective_key_length = int(bits)
        r.key_hex = key
        assert r.key == unhex(key) and r.key_hex == key.upper(), where
        assert r.encrypt_asc(plain) == asc == r.result_asc, where
        assert r.result_hex == hex_, where
        assert r.encrypt(bytearray(plain)) == bytes.fromhex(hex_) == r.result, where
        assert r.decrypt_hex(hex_) == stripped(plain) == r.result, where
        assert r.decrypt_asc(asc) == stripped(plain), where
        assert r.decrypt(memoryview(bytes.fromhex(hex_))) == stripped(plain), where


def test_codec_vectors():
    seen = 0
    for section, line, fields in read_vec("armour.vec"):
        where = f"armour.vec line {line}"
        if section == "error":
            with pytest.raises(morvik.Error) as e:
                morvik.asc_decode(fields[0])
            assert e.value.number == int(fields[1]), where
        elif section == "both":
            assert morvik.asc_encode(unhex(fields[0])) == fields[1].decode(), where
            assert morvik.asc_decode(fields[1]) == unhex(fields[0]), where
        else:
            assert morvik.asc_decode(fields[0]) == unhex(fields[1]), where
        seen += 1
    for section, line, fields in read_vec("hex.vec"):
        where = f"hex.vec line {line}"
        if section == "read":
            assert morvik.hex_read(fields[0]) == unhex(fields[1]), where
        else:
            assert morvik.hex_write(unhex(fields[0])) == fields[1].decode(), where
        seen += 1
    assert seen >= 40


# --- the object through Python ---------------------------------------------

def test_new_object_and_ignored_values():
    r = morvik.RC2()
    assert (r.key, r.key_hex, r.effective_key_length, r.result, r.result_hex, r.result_asc) == (b"", "", 0, b"", "", "")
    r.effective_key_length = 64
    for ignored in (1025, -1, 2**40, -(2**70)):
        r.effective_key_length = ignored
        assert r.effective_key_length == 64
    r.key = b"k" * 8
    r.key = b"x" * 129
    r.key = b""
    assert r.key == b"k" * 8


def test_bytes_like_inputs_agree():
    r = new(b"bytes-like", 0)
    text = b"Attack at dawn\0"
    expected = r.encrypt(text)
    for form in (bytearray(text), memoryview(text), array.array("B", text), memoryview(b"xx" + text)[2:]):
        assert r.encrypt(form) == expected
    with pytest.raises(TypeError):
        r.encrypt("a str is text, not bytes")
    with pytest.raises(BufferError):
        r.encrypt(memoryview(b"abcdefgh")[::2])  # not contiguous


def test_zero_filled_text():
    assert morvik.zero_fill(b"abc") == b"abc" + b"\0" * 5
    assert morvik.zero_fill(b"") == b""
    assert morvik.zero_fill(b"8 bytes!") == b"8 bytes!"
    r = new(b"key", 0)
    for n in range(0, 20):
        text = noise(n)
        assert r.encrypt(text) == r.encrypt(morvik.zero_fill(text))


@pytest.mark.parametrize("call, arg, number", [
    ("decrypt", b"twelve bytes", 5),
    ("decrypt_hex", "000102030405060708090a0b", 5),
    ("decrypt_asc", "md9J", 6),
    ("decrypt_asc", "ZZZZ0", 5),
])
def test_errors_carry_number_and_text_and_change_nothing(call, arg, number):
    r = new(b"key", 0)
    r.encrypt(b"before")
    result = r.result
    with pytest.raises(morvik.Error) as e:
        getattr(r, call)(arg)
    assert e.value.number == number
    assert e.value.text == {5: "Invalid procedure call or argument", 6: "Overflow"}[number]
    assert str(number) in str(e.value)
    assert r.result == result


def test_text_arguments_through_windows_1252():
    # "€" is byte 0x80 there: not a hex digit, so the pair reads as 0.
    assert morvik.hex_read("€1") == b"\0"
    with pytest.raises(morvik.Error) as e:
        morvik.hex_read("\u4e00")  # no byte in Windows-1252
    assert e.value.number == 6


# --- against pycryptodome --------------------------------------------------

def test_differential_against_pycryptodome():
    """pycryptodome takes keys of 5..128 bytes and effective lengths of 40..1024 bits."""
    rng = random.Random(2268)
    for _ in range(600):
        key = rng.randbytes(rng.randint(5, 128))
        bits = rng.choice([rng.randint(40, 1024), 40, 63, 64, 1017, 1023, 1024, 0])
        peer_bits = bits or 8 * len(key)
        if not 40 <= peer_bits <= 1024:
            continue
        text = rng.randbytes(rng.randint(0, 200))
        if rng.random() < 0.3:
            text += b"\0" * rng.randint(1, 17)
        peer = ARC2.new(key, ARC2.MODE_ECB, effective_keylen=peer_bits)
        ours = new(key, bits)
        ct = ours.encrypt(text)
        assert ct == peer.encrypt(morvik.zero_fill(text)), (key.hex(), bits, text.hex())
        assert peer.decrypt(ct) == morvik.zero_fill(text)
        # Their ciphertext of any whole blocks, decrypted here.
        blocks = rng.randbytes(8 * rng.randint(0, 30))
        assert ours.decrypt(peer.encrypt(blocks)) == stripped(blocks)


@pytest.mark.parametrize("size", [0, 1, 7, 9, 16383, 16384, 16392, 65535, 65536, 65545, (1 << 20) + 3])
def test_sizes_across_pieces_and_the_gil_threshold(size):
    """The bytes are written in place around the core's pieces and, from
    64 KiB on, without the GIL; zeros at the end shrink the plaintext."""
    rng = random.Random(size)
    key = rng.randbytes(16)
    text = rng.randbytes(size)
    if size > 40:
        text = text[:-30] + b"\0" * 30
    peer = ARC2.new(key, ARC2.MODE_ECB, effective_keylen=128)
    r = new(key, 128)
    ct = r.encrypt(bytearray(text))
    assert ct == peer.encrypt(morvik.zero_fill(text)) == r.result
    assert r.decrypt(memoryview(ct)) == stripped(text) == r.result
    blank = b" " * size
    assert r.decrypt(blank) == b"" and r.result == stripped(text)


# --- file helpers ----------------------------------------------------------

PIECE = 1 << 20


@pytest.mark.parametrize("size", [0, 1, 7, 8, 9, PIECE - 1, PIECE, PIECE + 1, 2 * PIECE + 3])
def test_files_equal_the_members(tmp_path, size):
    r = new(noise(16, seed=1), 128)
    text = noise(size)
    src, enc, dec = tmp_path / "plain", tmp_path / "cipher", tmp_path / "back"
    src.write_bytes(text)
    r.encrypt(b"result stays")
    result = r.result
    assert r.encrypt_file(src, enc) == len(morvik.zero_fill(text))
    assert enc.read_bytes() == r.encrypt(text)
    r.encrypt(b"result stays")
    assert r.decrypt_file(str(enc), str(dec)) == len(stripped(text))
    assert dec.read_bytes() == stripped(text)
    assert r.result == result


def test_file_trailing_zeros_across_pieces(tmp_path):
    r = new(b"zeros", 0)
    for text in (b"a" + b"\0" * (PIECE + 13), b"\0" * (2 * PIECE), b"x" * PIECE + b"\0" * 8 + b"y" + b"\0" * 70000):
        enc = tmp_path / "cipher"
        enc.write_bytes(r.encrypt(text))
        r.decrypt_file(enc, tmp_path / "back")
        assert (tmp_path / "back").read_bytes() == r.decrypt(enc.read_bytes()) == stripped(text)


def test_file_blank_and_bad_lengths(tmp_path):
    r = new(b"blank", 0)
    for blank in (b"", b"     ", b" " * 8, b" " * (PIECE + 5)):
        (tmp_path / "c").write_bytes(blank)
        assert r.decrypt_file(tmp_path / "c", tmp_path / "p") == 0
        assert (tmp_path / "p").read_bytes() == r.decrypt(blank) == b""
    for bad in (b"twelve bytes", b" " * 8 + b"x", noise(PIECE + 1)):
        (tmp_path / "c").write_bytes(bad)
        (tmp_path / "p").unlink(missing_ok=True)
        with pytest.raises(morvik.Error) as e:
            r.decrypt_file(tmp_path / "c", tmp_path / "p")
        assert e.value.number == 5 and str(len(bad)) in e.value.where
        assert sorted(p.name for p in tmp_path.iterdir()) == ["c"], "a failed run left a file"
    with pytest.raises(OSError):
        r.encrypt_file(tmp_path / "missing", tmp_path / "p")


# Hex folded into lines is read as the object reads it (a line break is part
# of a pair), with the tool's warning; a final line break alone is no warning.
@pytest.mark.parametrize("fold, offset", [(8, 8), (4, 4), (None, None)])
def test_file_hex_with_line_breaks_warns(tmp_path, fold, offset):
    r = new(b"folded", 0)
    hexed = r.encrypt(b"a" * 60).hex().upper()
    text = "\n".join(hexed[i:i + fold] for i in range(0, len(hexed), fold)) if fold else hexed + "\n"
    (tmp_path / "c").write_text(text)
    if offset is None:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            r.decrypt_file(tmp_path / "c", tmp_path / "p", "hex")
        assert (tmp_path / "p").read_bytes() == b"a" * 60
        return
    with pytest.warns(UserWarning, match=f"line break at byte offset {offset}, which is read as part of a pair"):
        r.decrypt_file(tmp_path / "c", tmp_path / "p", "hex")


# A name goes into a message with its control bytes shown, never sent raw to
# whatever prints the message.
@pytest.mark.parametrize("name, shown", [("in\x1b[2J", "in\\x1B[2J"), ("a\nb", "a\\x0Ab"), ("n\u202eexe", "n\\xE2\\x80\\xAEexe")])
def test_file_names_in_messages_are_escaped(tmp_path, name, shown):
    r = new(b"names", 0)
    with pytest.raises(OSError) as e:
        r.encrypt_file(tmp_path / name, tmp_path / "out")
    assert shown in str(e.value) and name not in str(e.value)


# The internal pieces: the file helpers read 1 MiB at a time, the core's
# streams work 16 KiB at a time and hold back an incomplete block, a hex
# character or an armour group with its tail mark.
FORM_SIZES = [0, 1, 2, 3, 5, 8, 13, 16383, 16385, 3 * 16384 + 7, PIECE // 2 - 1, PIECE // 4 * 3 + 2, PIECE + 1]


def member_output(r, form, text):
    """What the in-memory members give for `text` in `form`, as file bytes."""
    if form == "raw":
        return r.encrypt(text)
    if form == "hex":
        r.encrypt(text)
        return r.result_hex.encode()
    return r.encrypt_asc(text).encode()


def member_decrypt(r, form, data):
    return {"raw": r.decrypt, "hex": r.decrypt_hex, "asc": r.decrypt_asc}[form](data)


@pytest.mark.parametrize("form", ["raw", "hex", "asc"])
def test_file_forms_equal_the_members(tmp_path, form):
    rng = random.Random(form)  # str seeds are stable; hash() is salted per process
    r = new(rng.randbytes(16), 128)
    for size in FORM_SIZES:
        text = rng.randbytes(size)
        if size > 10:
            text = text[:-9] + b"\0" * 9  # zeros to remove, across a block edge
        src, enc, dec = tmp_path / "plain", tmp_path / "cipher", tmp_path / "back"
        src.write_bytes(text)
        r.encrypt(b"result stays")
        result = r.result
        written = r.encrypt_file(src, enc, form=form, allow_trailing_zeros=True)
        assert r.result == result, (form, size)
        expected = member_output(r, form, text)
        assert enc.read_bytes() == expected and written == len(expected), (form, size)
        assert r.decrypt_file(enc, dec, form) == len(stripped(text)), (form, size)
        assert dec.read_bytes() == member_decrypt(r, form, expected) == stripped(text), (form, size)


def bad_ciphertexts():
    """(form, file bytes): each fails in the member with some error."""
    whole = morvik.RC2().encrypt_asc(bytes(range(256)) * 5000)  # 1.28 MB of text, past one read
    groups = len(whole) // 4
    return [
        ("raw", b"twelve bytes"),
        ("raw", b" " * (PIECE + 5) + b"x"),
        ("hex", b"00112233445566"),              # 7 bytes of ciphertext
        ("hex", b"ab" * (PIECE // 2 + 4) + b"c"),  # one byte past whole blocks, after a read
        ("asc", b"md9J"),                         # tail mark of value 45: Overflow
        ("asc", b"ZZZZ0"),                        # a group above three bytes
        ("asc", whole[: 4 * (groups - 3)].encode() + b"ZZZZ" + whole[-9:].encode()),
        ("asc", whole[:-1].encode() + b"5"),      # the tail mark, at the very end
        ("asc", whole[:-5].encode() + b"001v1"[1:] + b"0"),  # final group not whole blocks
    ]


@pytest.mark.parametrize("form, data", bad_ciphertexts(), ids=lambda v: v if isinstance(v, str) else f"{len(v)} bytes")
def test_file_errors_equal_the_members_and_leave_no_file(tmp_path, form, data):
    r = new(b"errors", 0)
    with pytest.raises(morvik.Error) as member:
        member_decrypt(r, form, data)
    (tmp_path / "c").write_bytes(data)
    (tmp_path / "p").write_bytes(b"the old file")
    with pytest.raises(morvik.Error) as helper:
        r.decrypt_file(tmp_path / "c", tmp_path / "p", form=form)
    assert (helper.value.number, helper.value.text) == (member.value.number, member.value.text)
    assert str(tmp_path / "c") in helper.value.where
    assert (tmp_path / "p").read_bytes() == b"the old file"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["c", "p"], "a failed run left a file"


def test_file_form_names():
    r = morvik.RC2()
    for bad in ("ASC", "base64", ""):
        with pytest.raises(ValueError):
            r.encrypt_file("unused", "unused", form=bad)


# --- threads ---------------------------------------------------------------

def test_large_calls_release_the_gil():
    r = new(b"gil", 0)
    big = noise(64 << 20)
    old = os.sys.getswitchinterval()
    os.sys.setswitchinterval(1e-4)
    try:
        for _ in range(3):
            span = []
            worker = threading.Thread(target=lambda: (span.append(time.perf_counter()), r.encrypt(big), span.append(time.perf_counter())))
            gaps, last = [], time.perf_counter()
            worker.start()
            while worker.is_alive():
                now = time.perf_counter()
                gaps.append(now - last)
                last = now
            worker.join()
            duration = span[1] - span[0]
            if max(gaps) < duration / 2:
                return
        pytest.fail(f"the main thread stalled {max(gaps):.3f} s of a {duration:.3f} s call")
    finally:
        os.sys.setswitchinterval(old)


def test_one_object_shared_by_threads():
    r = new(b"shared", 0)
    texts = [noise(200_000 + i) for i in range(4)]
    expected = [morvik.RC2() for _ in texts]
    for e in expected:
        e.key = b"shared"
    expected = [e.encrypt(t) for e, t in zip(expected, texts)]
    failures = []

    def work(i):
        for _ in range(5):
            if r.encrypt(texts[i]) != expected[i]:
                failures.append(i)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures


# --- stubs -----------------------------------------------------------------

def test_stubs_name_what_the_module_has():
    import ast
    stubs = ast.parse(open(os.path.join(os.path.dirname(__file__), "..", "morvik.pyi")).read())
    top, members = set(), set()
    for node in stubs.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            top.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            top.add(node.target.id)
        if isinstance(node, ast.ClassDef) and node.name == "RC2":
            members = {n.name for n in node.body if isinstance(n, ast.FunctionDef) and n.name != "__init__"}
    public = {n for n in dir(morvik) if not n.startswith("_")} | {"__version__"}
    assert top == public
    assert members == {n for n in dir(morvik.RC2) if not n.startswith("_")}


# --- the strict entry ------------------------------------------------------

@pytest.mark.parametrize("args, kwargs, error", [
    ((b"",), {}, ValueError),
    ((b"k" * 129,), {}, ValueError),
    ((b"k",), {"effective_key_length": 1025}, ValueError),
    ((b"k",), {"effective_key_length": -1}, ValueError),
    ((b"k",), {"effective_key_length": 1 << 40}, ValueError),
    (("key",), {}, TypeError),
    ((b"k",), {"effective_key_length": "64"}, TypeError),
    ((b"k",), {"effective_key_length": True}, TypeError),
])
def test_strict_constructor_refuses_what_the_object_would_ignore(args, kwargs, error):
    with pytest.raises(error):
        morvik.RC2(*args, **kwargs)
    with pytest.raises(error):
        morvik.encrypt(b"data", *args, **kwargs)
    with pytest.raises(error):
        morvik.decrypt(b"\0" * 8, *args, **kwargs)


def test_strict_entry_sets_the_length_before_the_key():
    rng = random.Random(20)
    for _ in range(50):
        key, bits = rng.randbytes(rng.randint(1, 128)), rng.randint(0, 1024)
        text = rng.randbytes(rng.randint(1, 40)) + b"x"
        legacy = new(key, bits)
        strict = morvik.RC2(key, effective_key_length=bits)
        assert strict.encrypt(text) == legacy.encrypt(text) == morvik.encrypt(text, key, effective_key_length=bits)
        assert morvik.decrypt(morvik.encrypt(text, key, effective_key_length=bits, form="asc"), key,
                              effective_key_length=bits, form="asc") == text
        assert morvik.encrypt(text, key, effective_key_length=bits, form="hex") == legacy.result_hex
    # The legacy properties still ignore what the strict entry refuses.
    r = morvik.RC2(b"first")
    r.key = b""
    assert r.key == b"first"
    assert morvik.RC2().key == b""


def test_one_shot_functions_against_pycryptodome():
    rng = random.Random(2021)
    for _ in range(20):
        key, bits = rng.randbytes(rng.randint(5, 128)), rng.randint(40, 1024)
        text = rng.randbytes(8 * rng.randint(1, 8))
        peer = ARC2.new(key, ARC2.MODE_ECB, effective_keylen=bits)
        assert morvik.encrypt(text, key, effective_key_length=bits) == peer.encrypt(text)


# --- errors explained as the tool explains them ------------------------------

def test_error_is_a_value_error_with_the_tools_explanation():
    r = morvik.RC2(b"key")
    asc = r.encrypt_asc(b"attack at dawn")
    with pytest.raises(ValueError) as e:
        r.decrypt_asc(asc + "\n")  # the object reads the line break as the tail mark
    assert isinstance(e.value, morvik.Error)
    assert e.value.where.endswith("(the text ends with a line break, which counts as part of it)")
    assert e.value.position["kind"] == "incomplete_block"
    with pytest.raises(morvik.Error) as e:
        morvik.decrypt(b"twelve bytes", b"key")
    assert e.value.where == ("the ciphertext is 12 bytes long, not a multiple of 8: the block at byte offset 8 "
                             "has only 4 bytes")
    assert e.value.position == {"kind": "incomplete_block", "offset": 8, "size": 4}
    with pytest.raises(morvik.Error) as e:
        morvik.hex_read("ab\u4e00")
    assert e.value.where == "the text: character 3 (U+4E00) has no Windows-1252 byte"


def test_files_drop_one_final_line_break_as_the_tool(tmp_path):
    r = morvik.RC2(b"key")
    for form, text in (("asc", r.encrypt_asc(b"plain")), ("hex", r.encrypt(b"plain").hex())):
        for ending in ("\n", "\r\n"):
            (tmp_path / "c").write_text(text + ending, newline="")
            assert r.decrypt_file(tmp_path / "c", tmp_path / "p", form) == 5
            assert (tmp_path / "p").read_bytes() == b"plain"
            with pytest.raises(morvik.Error) as e:
                r.decrypt_file(tmp_path / "c", tmp_path / "q", form, exact_input=True)
            assert "line break" in e.value.where and str(tmp_path / "c") in e.value.where
            assert not (tmp_path / "q").exists()
            assert not [p for p in os.listdir(tmp_path) if ".morvik-" in p]


def test_files_keep_the_mode_of_the_file_they_replace(tmp_path):
    r = morvik.RC2(b"key")
    (tmp_path / "src").write_bytes(b"data")
    (tmp_path / "dst").write_bytes(b"old")
    os.chmod(tmp_path / "dst", 0o640)
    r.encrypt_file(tmp_path / "src", tmp_path / "dst")
    assert os.stat(tmp_path / "dst").st_mode & 0o777 == 0o640
    assert (tmp_path / "dst").read_bytes() == r.encrypt(b"data")


# --- the conformance table shared by every front ------------------------------

def conformance_rows(front):
    for _, line, f in read_vec("conformance.vec"):
        fronts = f[0]
        listed = front in fronts.lstrip("!").split(",")
        if not (fronts == "all" or (fronts.startswith("!") and not listed) or (not fronts.startswith("!") and listed)):
            continue
        yield line, f


def conformance_calls():
    # "python" rows hold for the strict functions and the RC2 members alike;
    # rows that name "python-strict" or "python-legacy" for one of them.
    for front, strict, legacy in (("python", True, True), ("python-strict", True, False), ("python-legacy", False, True)):
        for line, row in conformance_rows(front):
            if front == "python" or front in row[0].split(","):
                yield line, row, strict, legacy


def test_conformance_table():
    rows = 0
    for line, (_, op, key, bits, form, data, *expected), strict, legacy in conformance_calls():
        rows += 1
        where = f"conformance.vec line {line}"
        key, bits = bytes.fromhex(key), int(bits)
        if op == "encrypt" or form == "raw":
            data = unhex(data)
        else:
            data = data.decode("utf-8")  # the file's bytes are UTF-8 text here
        calls = [lambda: getattr(morvik, op)(data, key, effective_key_length=bits, form=form)] if strict else []
        member = {"raw": op, "hex": op + "_hex", "asc": op + "_asc"}[form]
        if legacy and op == "encrypt" and form == "hex":
            def legacy_hex():
                r = new(key, bits)
                r.encrypt(data)
                return r.result_hex
            calls.append(legacy_hex)
        elif legacy:
            calls.append(lambda: getattr(new(key, bits), member)(data))
        for call in calls:
            if expected[0] == "error" and expected[1] == "7":  # data the ciphertext would lose: no error of the object
                with pytest.raises(ValueError, match="zero byte"):
                    call()
            elif expected[0] == "error":
                with pytest.raises(morvik.Error) as e:
                    call()
                assert e.value.number == int(expected[1]), where
                if len(expected) > 2:
                    assert e.value.position["kind"] == expected[2], where
                    field = "offset" if expected[2] == "incomplete_block" else "character"
                    assert e.value.position[field] == int(expected[3]), where
            elif op == "encrypt" and form != "raw":
                assert call() == expected[0].decode(), where
            else:
                assert call() == unhex(expected[0]), where
    assert rows >= 15
