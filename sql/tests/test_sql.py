"""The SQL functions in the real engines: SQLite loading the extension (from
Python's sqlite3 and from the sqlite3 shell) and a PostgreSQL 15 server that
these tests start on a private socket and stop. Both engines run the same
rows, written once as SQL text that both accept."""
import os
import pwd
import shutil
import sqlite3
import subprocess
import tempfile

import pytest

BUILD = os.environ["MORVIK_SQL_BUILD"]            # the build's sql/ folder
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(SOURCE, "..", "tests", "data")
SQLITE_EXT = os.path.join(BUILD, "morvik_sqlite.so")
PG_EXT = os.path.join(BUILD, "postgres")
PG_BIN = os.environ.get("MORVIK_PG_BIN", "/usr/lib/postgresql/15/bin")
REQUIRE = bool(os.environ.get("MORVIK_REQUIRE_SQL"))


def text(s):
    return "'" + s.replace("'", "''") + "'"


# ---- the engines --------------------------------------------------------------


class Sqlite:
    name = "sqlite"

    def __init__(self):
        self.db = sqlite3.connect(":memory:")
        self.db.enable_load_extension(True)
        self.db.load_extension(SQLITE_EXT)

    def value(self, sql):
        return self.db.execute("SELECT " + sql).fetchone()[0]

    def blob(self, b):
        return "X'%s'" % b.hex()

    def error(self):
        return sqlite3.Error


class Postgres:
    """A server of its own in a temporary folder, reached only through a Unix
    socket there (no TCP port); as the user nobody when the tests run as root,
    since the server refuses root."""

    name = "postgres"

    def __init__(self):
        import psycopg2

        self.psycopg2 = psycopg2
        self.dir = tempfile.mkdtemp(prefix="morvik-pg-")
        self.as_user = []
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(self.dir, nobody.pw_uid, nobody.pw_gid)
            self.as_user = ["setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid, "--clear-groups"]
        data = os.path.join(self.dir, "data")
        self.run([os.path.join(PG_BIN, "initdb"), "-D", data, "-E", "UTF8", "--locale=C.UTF-8", "-A", "trust", "-U", "morvik"])
        self.run([os.path.join(PG_BIN, "pg_ctl"), "-D", data, "-l", os.path.join(self.dir, "log"), "-w", "-o",
                  "-c listen_addresses='' -k %s -p 5499" % self.dir, "start"])
        self.data = data
        self.db = psycopg2.connect(host=self.dir, port=5499, user="morvik", dbname="postgres")
        self.db.autocommit = True
        self.installed = self.create_extension()

    def run(self, argv):
        subprocess.run(self.as_user + argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       cwd=self.dir, env=dict(os.environ, LC_ALL="C.UTF-8"))

    def create_extension(self):
        """CREATE EXTENSION where `cmake --install --component postgresql` put
        this build's files in the server's directories; else the same script
        with the build's library, so the functions are tested either way."""
        share = subprocess.run([os.path.join(PG_BIN, "pg_config"), "--sharedir"], capture_output=True, text=True).stdout.strip()
        control = os.path.join(share, "extension", "morvik.control")
        ours = os.path.join(PG_EXT, "morvik.control")
        script = [f for f in os.listdir(PG_EXT) if f.startswith("morvik--")][0]
        lib = subprocess.run([os.path.join(PG_BIN, "pg_config"), "--pkglibdir"], capture_output=True, text=True).stdout.strip()
        pairs = [(control, ours), (os.path.join(share, "extension", script), os.path.join(PG_EXT, script)),
                 (os.path.join(lib, "morvik.so"), os.path.join(PG_EXT, "morvik.so"))]
        same = all(os.path.exists(a) and open(a, "rb").read() == open(b, "rb").read() for a, b in pairs)
        with self.db.cursor() as c:
            if same:
                c.execute("CREATE EXTENSION morvik")
                return True
            sql = open(os.path.join(PG_EXT, script)).read().replace("MODULE_PATHNAME", os.path.join(PG_EXT, "morvik.so"))
            c.execute("\n".join(l for l in sql.splitlines() if not l.startswith("\\echo")))
        return False

    def value(self, sql):
        with self.db.cursor() as c:
            c.execute("SELECT " + sql)
            v = c.fetchone()[0]
        return bytes(v) if isinstance(v, memoryview) else v

    def blob(self, b):
        return "'\\x%s'::bytea" % b.hex()

    def error(self):
        return self.psycopg2.Error

    def close(self):
        self.db.close()
        subprocess.run(self.as_user + [os.path.join(PG_BIN, "pg_ctl"), "-D", self.data, "-m", "fast", "-w", "stop"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=self.dir)
        shutil.rmtree(self.dir, ignore_errors=True)


def missing(engine):
    if engine == "sqlite" and not os.path.exists(SQLITE_EXT):
        return "the SQLite extension was not built (libsqlite3-dev)"
    if engine == "postgres":
        if not os.path.exists(os.path.join(PG_EXT, "morvik.so")):
            return "the PostgreSQL extension was not built (postgresql-server-dev-15)"
        try:
            import psycopg2  # noqa: F401
        except ImportError:
            return "psycopg2 is missing (python3-psycopg2)"
        if not os.path.exists(os.path.join(PG_BIN, "initdb")):
            return "no PostgreSQL 15 server (postgresql-15)"
    return None


@pytest.fixture(scope="module", params=["sqlite", "postgres"])
def db(request):
    why = missing(request.param)
    if why:
        if REQUIRE:
            pytest.fail(why)
        pytest.skip(why)
    engine = Sqlite() if request.param == "sqlite" else Postgres()
    yield engine
    if request.param == "postgres":
        engine.close()


def fails(db, sql, *fragments):
    with pytest.raises(db.error()) as e:
        db.value(sql)
    for f in fragments:
        assert f in str(e.value), str(e.value)
    return str(e.value)


# ---- the conformance table --------------------------------------------------


def conformance_rows():
    path = os.path.join(DATA, "conformance.vec")
    if not os.path.exists(path):
        return []
    rows = []
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        fields, rest = line.split(" ", 5), None
        fronts, op, key, bits, form, rest = fields
        if rest.startswith('"'):
            end = rest.index('"', 1)
            value, expected = rest[: end + 1], rest[end + 2:]
        else:
            value, expected = rest.split(" ", 1)
        neg = fronts.startswith("!")
        names = fronts.lstrip("!").split(",")
        if fronts != "all" and (("sql" in names) == neg):
            continue
        rows.append((op, key, int(bits), form, value, expected))
    return rows


def unquote(q):
    return q[1:-1].encode("latin-1").decode("unicode_escape").encode("latin-1").decode("utf-8")


@pytest.mark.parametrize("row", conformance_rows() or [pytest.param(None, marks=pytest.mark.skip("no conformance table"))],
                         ids=lambda r: " ".join(map(str, r[:5])) if r else "none")
def test_conformance(db, row):
    op, key, bits, form, value, expected = row
    k = db.blob(bytes.fromhex(key))
    if op == "encrypt":
        fn = {"raw": "rc2_encrypt", "hex": "rc2_encrypt_to_hex", "asc": "rc2_encrypt_to_asc"}[form]
        arg = db.blob(bytes.fromhex(value) if value != "-" else b"")
    else:
        fn = {"raw": "rc2_decrypt", "hex": "rc2_decrypt_from_hex", "asc": "rc2_decrypt_from_asc"}[form]
        arg = text(unquote(value)) if value.startswith('"') else db.blob(bytes.fromhex(value) if value != "-" else b"")
    call = "%s(%s, %s, %d)" % (fn, arg, k, bits)
    if expected.startswith("error"):
        number = expected.split()[1]
        message = fails(db, call, fn)
        assert ("error %s:" % number) in message or (number == "7" and "zero byte" in message), message
        if op == "decrypt":
            assert db.value("try_" + call) is None
    elif expected.startswith('"'):
        assert db.value(call) == unquote(expected)
    else:
        assert db.value(call) == (bytes.fromhex(expected) if expected != "-" else b"")


# ---- what SQL adds ------------------------------------------------------------

KEY = "'my key'"


def test_text_is_taken_as_a_western_script_took_it(db):
    # The script's strings are Windows-1252 bytes: "é" is 0xE9, "€" 0x80.
    plain = "Café à 5 €"
    cipher = db.value("rc2_encrypt(%s, %s)" % (text(plain), KEY))
    assert cipher == db.value("rc2_encrypt(%s, %s)" % (db.blob(plain.encode("cp1252")), db.blob(b"my key")))
    assert db.value("rc2_text(rc2_decrypt(%s, %s))" % (db.blob(cipher), KEY)) == plain
    assert db.value("rc2_bytes(%s)" % text(plain)) == plain.encode("cp1252")
    asc = db.value("rc2_encrypt_to_asc(%s, %s)" % (text("Attack at dawn"), KEY))
    assert asc == "5F0Kja-6zZcGd7N-WbpG00061"
    assert db.value("rc2_text(rc2_decrypt_from_asc(%s, %s))" % (text(asc), KEY)) == "Attack at dawn"


def test_nulls_give_null(db):
    for call in ("rc2_encrypt(NULL, %s)" % KEY, "rc2_decrypt_from_asc(%s, NULL)" % text("abc"),
                 "rc2_encrypt_to_hex(%s, %s, NULL)" % (text("a"), KEY), "rc2_text(NULL)", "rc2_bytes(NULL)"):
        assert db.value(call) is None, call


@pytest.mark.parametrize("call, fragments", [
    ("rc2_encrypt(%s, %s)" % (text("abc"), text("")), ["key", "0 bytes"]),
    ("rc2_encrypt(%s, %s)" % (text("abc"), text("k" * 129)), ["key", "more than 128 bytes"]),
    ("rc2_encrypt(%s, %s, 1025)" % (text("abc"), KEY), ["bits", "1025"]),
    ("rc2_encrypt(%s, %s, -1)" % (text("abc"), KEY), ["bits"]),
    ("try_rc2_decrypt_from_asc(%s, %s)" % (text("5F0Kja-6zZcGd7N-WbpG00061"), text("")), ["the key"]),
    ("rc2_bytes(%s)" % text("\u4e00"), ["U+4E00"]),
    ("rc2_encrypt(%s, %s)" % (text("\u4e00"), KEY), ["U+4E00"]),
    # A number is neither text nor bytes (SQLite would hand over its digits;
    # PostgreSQL has no function for it).
    ("rc2_encrypt(1.5, %s)" % KEY, ["rc2_encrypt"]),
    ("rc2_decrypt_from_asc(%s, 42)" % text("5F0Kja-6zZcGd7N-WbpG00061"), ["rc2_decrypt_from_asc"]),
])
def test_bad_arguments_are_errors_even_for_try(db, call, fragments):
    fails(db, call, *fragments)


def test_try_gives_null_only_for_values_that_cannot_be_decrypted(db):
    good = db.value("rc2_encrypt_to_asc(%s, %s)" % (text("x"), KEY))
    rows = [text(good), text("ZZZZ0"), text(good + "\n")]
    got = [db.value("try_rc2_decrypt_from_asc(%s, %s)" % (r, KEY)) for r in rows]
    assert got == [b"x", None, None]
    assert db.value("try_rc2_decrypt_from_hex(%s, %s)" % (text("0011"), KEY)) is None
    assert db.value("try_rc2_decrypt(%s, %s)" % (db.blob(b"1234567"), KEY)) is None


def test_the_key_is_read_per_row_where_it_changes(db):
    # One statement, two keys: a cached key schedule must not leak into the
    # next row's result.
    a = db.value("rc2_encrypt_to_hex(%s, %s)" % (text("same"), text("key one")))
    b = db.value("rc2_encrypt_to_hex(%s, %s)" % (text("same"), text("key two")))
    assert a != b
    got = db.value("string_agg(rc2_encrypt_to_hex(%s, k), ',') FROM (VALUES (%s), (%s), (%s)) AS t(k)"
                   % (text("same"), text("key one"), text("key two"), text("key one")) if db.name == "postgres" else
                   "group_concat(rc2_encrypt_to_hex(%s, k), ',') FROM (SELECT %s AS k UNION ALL SELECT %s UNION ALL SELECT %s)"
                   % (text("same"), text("key one"), text("key two"), text("key one")))
    assert got == ",".join([a, b, a])


def test_sqlite_shell_loads_the_extension():
    shell = shutil.which("sqlite3")
    if missing("sqlite") or not shell:
        if REQUIRE:
            pytest.fail(missing("sqlite") or "the sqlite3 shell is missing")
        pytest.skip("no SQLite extension or shell")
    out = subprocess.run([shell, ":memory:", ".load %s" % SQLITE_EXT[:-3],
                          "SELECT rc2_encrypt_to_asc('Attack at dawn', 'my key');"],
                         capture_output=True, text=True, check=True).stdout
    assert out.strip() == "5F0Kja-6zZcGd7N-WbpG00061"


def test_postgres_extension_is_created_where_installed(db):
    if db.name != "postgres":
        pytest.skip("PostgreSQL only")
    if not db.installed:
        if REQUIRE:
            pytest.fail("this build's extension is not installed: cmake --install <build> --component postgresql")
        pytest.skip("not installed into the server's directories; the functions were loaded from the build")
    assert db.value("extversion FROM pg_extension WHERE extname = 'morvik'")
    volatility = db.value("string_agg(DISTINCT provolatile::text || proparallel::text || proisstrict::text, ',') "
                          "FROM pg_proc WHERE proname LIKE '%rc2%'")
    assert volatility == "istrue"
