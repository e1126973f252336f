"""What a hostile or careless caller gives the module: outputs that are not
regular files, files of other users, links planted in shared folders, paths
with a NUL, text that no code page holds, integers that are not int, and
plaintexts that decryption would not give back whole."""
import os
import pathlib
import pwd
import stat
import tempfile
import threading

import pytest

import morvik

KEY = b"a key"
ROOT = os.geteuid() == 0


def plain_and_cipher(tmp_path):
    """A plaintext file and its ciphertext file, for both file helpers."""
    r = morvik.RC2(KEY)
    (tmp_path / "plain").write_bytes(b"attack at dawn")
    (tmp_path / "cipher").write_bytes(r.encrypt(b"attack at dawn"))
    return r


# Each file helper: its source, and what it writes.
HELPERS = {
    "encrypt_file": ("plain", morvik.RC2(KEY).encrypt(b"attack at dawn")),
    "decrypt_file": ("cipher", b"attack at dawn"),
}


def nobody():
    try:
        return pwd.getpwnam("nobody")
    except KeyError:
        return None


# --- outputs that are not regular files are written through, never replaced

def fifo_output(tmp_path, path):
    os.mkfifo(path)
    got = []
    reader = threading.Thread(target=lambda: got.append(open(path, "rb").read()))
    reader.start()
    return lambda: (reader.join(10), got[0])[1], stat.S_ISFIFO


def link_output(tmp_path, path):
    (tmp_path / "target").write_bytes(b"old")
    os.symlink("target", path)
    return lambda: (tmp_path / "target").read_bytes(), stat.S_ISLNK


def device_output(tmp_path, path):
    if not ROOT:
        pytest.skip("a device node of its own needs root (mknod); the FIFO rows cover writing through")
    # A null device of the test's own: faulty code replaces this node, never the machine's /dev/null.
    os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    try:
        os.close(os.open(path, os.O_WRONLY))
    except OSError as e:
        pytest.skip(f"device nodes cannot be opened here (a nodev mount?): {e}")
    return lambda: None, stat.S_ISCHR


@pytest.mark.parametrize("helper", HELPERS)
@pytest.mark.parametrize("make", [fifo_output, link_output, device_output], ids=["fifo", "symlink", "device"])
def test_outputs_that_are_not_regular_files_are_written_through(tmp_path, helper, make):
    r = plain_and_cipher(tmp_path)
    src, expected = HELPERS[helper]
    out = tmp_path / "out"
    written, kind = make(tmp_path, out)
    assert getattr(r, helper)(tmp_path / src, out) == len(expected)
    assert kind(os.lstat(out).st_mode), "the output was replaced by another kind of file"
    assert written() in (None, expected)
    assert not [p for p in os.listdir(tmp_path) if ".morvik-" in p]


# --- as the user nobody in a world-writable folder

def as_nobody(call):
    """Runs `call` in a child process as nobody; what it raised, or None."""
    user = nobody()
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:  # the child: no pytest from here on, only os._exit
        try:
            os.setgroups([])
            os.setgid(user.pw_gid)
            os.setuid(user.pw_uid)
            call()
            os.write(write, b"None")
        except BaseException as e:  # noqa: B902 - reported to the parent
            os.write(write, f"{type(e).__name__}: {e}".encode())
        os._exit(0)
    os.close(write)
    with os.fdopen(read, "rb") as f:
        outcome = f.read().decode()
    os.waitpid(pid, 0)
    return None if outcome == "None" else outcome


@pytest.fixture
def shared_dir():
    """A world-writable folder in /tmp (pytest's own are private to root)."""
    d = tempfile.mkdtemp(prefix="morvik-shared-")
    os.chmod(d, 0o777)
    yield d
    for name in os.listdir(d):
        os.unlink(os.path.join(d, name))
    os.rmdir(d)


@pytest.mark.parametrize("helper", HELPERS)
@pytest.mark.parametrize("owner, mode, refused", [
    ("nobody", 0o444, "PermissionError: [Errno 13] cannot write"),         # read-only: never replaced
    ("root", 0o666, "PermissionError: [Errno 1] cannot replace"),          # its owner could not be kept
    ("nobody", 0o644, None),                                               # replaced, its mode kept
], ids=["read-only", "root-owned-0666", "own-0644"])
def test_files_of_nobody_and_of_others(shared_dir, helper, owner, mode, refused):
    user = nobody()
    if not ROOT or user is None:
        pytest.skip("needs root and the user nobody to run as another user")
    r = plain_and_cipher(pathlib.Path(shared_dir))
    src, expected = HELPERS[helper]
    target = os.path.join(shared_dir, "target")
    with open(target, "wb") as f:
        f.write(b"old")
    os.chown(target, user.pw_uid if owner == "nobody" else 0, user.pw_gid if owner == "nobody" else 0)
    os.chmod(target, mode)
    before = os.stat(target)
    outcome = as_nobody(lambda: getattr(r, helper)(os.path.join(shared_dir, src), target))
    after = os.stat(target)
    assert (after.st_uid, after.st_gid, stat.S_IMODE(after.st_mode)) == (before.st_uid, before.st_gid, mode)
    if refused:
        assert outcome is not None and outcome.startswith(refused), outcome
        assert open(target, "rb").read() == b"old"
    else:
        assert outcome is None, outcome
        assert open(target, "rb").read() == expected
    assert sorted(os.listdir(shared_dir)) == ["cipher", "plain", "target"]


# --- a link planted in a sticky shared folder by another user

@pytest.mark.parametrize("helper", HELPERS)
@pytest.mark.parametrize("link_owner, followed", [("nobody", False), ("root", True)])
def test_links_planted_in_a_sticky_folder_are_not_followed(shared_dir, helper, link_owner, followed):
    user = nobody()
    if not ROOT or user is None:
        pytest.skip("needs root and the user nobody to plant a link as another user")
    os.chmod(shared_dir, 0o1777)
    r = plain_and_cipher(pathlib.Path(shared_dir))
    src, expected = HELPERS[helper]
    victim, link = os.path.join(shared_dir, "victim"), os.path.join(shared_dir, "link")
    with open(victim, "wb") as f:
        f.write(b"keep")
    os.symlink("victim", link)
    if link_owner == "nobody":
        os.lchown(link, user.pw_uid, user.pw_gid)
    if followed:
        getattr(r, helper)(os.path.join(shared_dir, src), link)
    else:
        with pytest.raises(PermissionError, match="sticky world-writable folder"):
            getattr(r, helper)(os.path.join(shared_dir, src), link)
    assert os.path.islink(link)
    assert open(victim, "rb").read() == (expected if followed else b"keep")


# --- paths with a NUL are refused, as open() refuses them

@pytest.mark.parametrize("helper", HELPERS)
@pytest.mark.parametrize("which", ["src", "dst"])
@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.PurePath], ids=["str", "bytes", "PathLike"])
def test_paths_with_a_nul_are_refused(tmp_path, helper, which, kind):
    r = plain_and_cipher(tmp_path)
    src, _ = HELPERS[helper]
    src, dst = str(tmp_path / src), str(tmp_path / "out")
    if which == "src":
        src += "\0.ignored"
    else:
        dst += "\0.ignored"
    with pytest.raises(ValueError, match="embedded null byte"):
        getattr(r, helper)(kind(src), kind(dst))
    with pytest.raises(ValueError, match="embedded null byte"):
        open(src if which == "src" else dst, "rb")
    assert not (tmp_path / "out").exists()
    # Without the NUL, each kind of path works.
    getattr(r, helper)(kind(str(tmp_path / HELPERS[helper][0])), kind(str(tmp_path / "out")))
    assert (tmp_path / "out").read_bytes() == HELPERS[helper][1]


# --- "" and "-" are paths as open() reads them, never standard output or input

@pytest.mark.parametrize("helper", HELPERS)
@pytest.mark.parametrize("which", ["src", "dst"])
def test_empty_and_dash_are_file_names(tmp_path, monkeypatch, capfd, helper, which):
    r = plain_and_cipher(tmp_path)
    monkeypatch.chdir(tmp_path)
    src, dst = HELPERS[helper][0], "out"
    with pytest.raises(FileNotFoundError):
        getattr(r, helper)("" if which == "src" else src, "" if which == "dst" else dst)
    if which == "src":
        os.replace(src, "-")
        getattr(r, helper)("-", dst)
    else:
        getattr(r, helper)(src, "-")
    assert (tmp_path / ("out" if which == "src" else "-")).read_bytes() == HELPERS[helper][1]
    assert capfd.readouterr().out == ""


# --- a str with a lone surrogate: error 6 at its place, through every str-taking call

def set_key_hex(text):
    morvik.RC2().key_hex = text


STR_CALLS = {
    "decrypt_asc": lambda t: morvik.RC2(KEY).decrypt_asc(t),
    "decrypt_hex": lambda t: morvik.RC2(KEY).decrypt_hex(t),
    "encrypt_hex": lambda t: morvik.RC2(KEY).encrypt_hex(t),
    "key_hex": set_key_hex,
    "hex_read": morvik.hex_read,
    "asc_decode": morvik.asc_decode,
    "decrypt hex": lambda t: morvik.decrypt(t, KEY, form="hex"),
    "decrypt asc": lambda t: morvik.decrypt(t, KEY, form="asc"),
    "decrypt_many": lambda t: morvik.decrypt_many(["", t], KEY),
    "encrypt_many": lambda t: morvik.encrypt_many(["", t], KEY),
}


@pytest.mark.parametrize("call", STR_CALLS)
@pytest.mark.parametrize("text, character, code_point", [
    ("\ud800", 1, 0xD800),
    ("00\udfff11", 3, 0xDFFF),
    ("ab\udc80", 3, 0xDC80),          # as os.fsdecode gives a byte that is not UTF-8
    ("\u4e00\ud800", 1, 0x4E00),      # the first character without a byte is named
    ("\u00e9\ud83d", 2, 0xD83D),
])
def test_lone_surrogates_are_error_6_at_their_place(call, text, character, code_point):
    with pytest.raises(morvik.Error) as e:
        STR_CALLS[call](text)
    assert e.value.number == 6
    assert e.value.position == {"kind": "unmappable", "character": character, "code_point": code_point}
    assert f"character {character} (U+{code_point:04X}) has no Windows-1252 byte" in e.value.where
    if call.endswith("_many"):
        assert e.value.where.startswith("value 1: ")


# --- effective_key_length takes any integer, as operator.index does

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def set_bits(bits):
    r = morvik.RC2()
    r.effective_key_length = bits
    r.key = KEY
    return r.encrypt(b"eight by")


BITS_CALLS = {
    "property": set_bits,
    "RC2": lambda bits: morvik.RC2(KEY, effective_key_length=bits).encrypt(b"eight by"),
    "encrypt": lambda bits: morvik.encrypt(b"eight by", KEY, effective_key_length=bits),
    "decrypt": lambda bits: morvik.decrypt(b"\0" * 8, KEY, effective_key_length=bits),
    "encrypt_many": lambda bits: morvik.encrypt_many([b"eight by"], KEY, form="raw", effective_key_length=bits),
    "decrypt_many": lambda bits: morvik.decrypt_many([b"\0" * 8], KEY, form="raw", effective_key_length=bits),
}


@pytest.mark.parametrize("call", BITS_CALLS)
@pytest.mark.parametrize("bits", [Index(64), Index(1024), Index(0)], ids=lambda b: f"Index({b.value})")
def test_integers_with_index_are_lengths(call, bits):
    assert BITS_CALLS[call](bits) == BITS_CALLS[call](bits.value)
    assert BITS_CALLS[call](bits) != BITS_CALLS[call](16)


@pytest.mark.parametrize("call", BITS_CALLS)
@pytest.mark.parametrize("bits", [64.0, "64", None], ids=repr)
def test_what_is_no_integer_stays_a_type_error(call, bits):
    with pytest.raises(TypeError, match="effective_key_length must be an integer"):
        BITS_CALLS[call](bits)


def test_legacy_property_still_ignores_out_of_range_indexes():
    r = morvik.RC2()
    r.effective_key_length = Index(64)
    r.effective_key_length = Index(1025)
    r.effective_key_length = Index(1 << 80)
    assert r.effective_key_length == 64


# --- plaintexts ending in zero bytes: the strict calls refuse unless allowed

ZERO_CALLS = {
    "encrypt raw": lambda data, **kw: morvik.encrypt(data, KEY, **kw),
    "encrypt hex": lambda data, **kw: morvik.encrypt(data, KEY, form="hex", **kw),
    "encrypt asc": lambda data, **kw: morvik.encrypt(data, KEY, form="asc", **kw),
    "encrypt_many": lambda data, **kw: morvik.encrypt_many([data], KEY, form="raw", **kw)[0],
}


@pytest.mark.parametrize("call", ZERO_CALLS)
@pytest.mark.parametrize("data, zeros", [(b"abc\0", "1 zero byte"), (b"\0" * 8, "8 zero bytes"), (b"a" + b"\0" * 9, "9 zero")])
def test_strict_calls_refuse_trailing_zeros_unless_allowed(call, data, zeros):
    with pytest.raises(ValueError, match=f"ends in {zeros}.*allow_trailing_zeros=True encrypts it anyway"):
        ZERO_CALLS[call](data)
    allowed = ZERO_CALLS[call](data, allow_trailing_zeros=True)
    # Allowed, it is what the object gives, which the RC2 members keep giving unasked.
    r = morvik.RC2(KEY)
    legacy = r.encrypt(data)
    assert allowed in (legacy, r.result_hex, r.encrypt_asc(data))


@pytest.mark.parametrize("form", ["raw", "hex", "asc"])
def test_encrypt_file_refuses_trailing_zeros_and_writes_nothing(tmp_path, form):
    r = morvik.RC2(KEY)
    (tmp_path / "z").write_bytes(b"abc\0\0")
    with pytest.raises(ValueError, match="ends in 2 zero bytes.*allow_trailing_zeros=True") as e:
        r.encrypt_file(tmp_path / "z", tmp_path / "out", form)
    assert not isinstance(e.value, morvik.Error)
    assert sorted(os.listdir(tmp_path)) == ["z"]
    r.encrypt_file(tmp_path / "z", tmp_path / "out", form, allow_trailing_zeros=True)
    r.decrypt_file(tmp_path / "out", tmp_path / "back", form)
    assert (tmp_path / "back").read_bytes() == b"abc"
