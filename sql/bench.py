"""Decrypting 1,000,000 armoured values in SQL, against the alternatives in
the same run on the same rows; prints rates and ratios (no pass or fail).

  SQLite: rc2_decrypt_from_asc against a Python function registered with
  create_function that decrypts with pycryptodome (one cipher object for the
  whole query; the armour decoded by this module's asc_decode, which only
  makes that side faster).
  PostgreSQL: rc2_decrypt_from_asc against pgcrypto's decrypt(..., 'aes') of
  AES ciphertexts of the same plaintexts, on one server.

  MORVIK_SQL_BUILD=build/dev/sql PYTHONPATH=build/dev/python/module python3 sql/bench.py [ROWS]
"""
import os
import sqlite3
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "tests"))
import test_sql  # noqa: E402  (the engines as the tests start them)

ROWS = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
KEY = bytes(range(16))
ROUNDS = 3


def report(what, ours, theirs, target):
    print("  %-58s %8.2f M values/s" % (what + ": morvik", ROWS / ours / 1e6))
    print("  %-58s %8.2f M values/s" % (what + ": the alternative", ROWS / theirs / 1e6))
    print("  %-58s %8.2fx  (target at least %gx)  %s" % (what + ": ratio", theirs / ours, target,
                                                        "met" if theirs / ours >= target else "NOT MET"))


def sqlite_bench():
    import morvik
    try:
        from Crypto.Cipher import ARC2
    except ImportError:  # Debian's python3-pycryptodome
        from Cryptodome.Cipher import ARC2

    db = test_sql.Sqlite()
    key = "X'%s'" % KEY.hex()
    db.db.execute("CREATE TABLE t(asc_value TEXT)")
    db.db.execute("INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d) "
                  "SELECT rc2_encrypt_to_asc(printf('value %%010d', i), %s, 128) FROM n" % (ROWS, key))
    cipher = ARC2.new(KEY, ARC2.MODE_ECB, effective_keylen=128)
    asc_decode = morvik.asc_decode

    def peer(value):
        return cipher.decrypt(asc_decode(value)).rstrip(b"\0")

    db.db.create_function("peer_decrypt", 1, peer, deterministic=True)
    assert db.db.execute("SELECT count(*) FROM t WHERE rc2_decrypt_from_asc(asc_value, %s, 128) = peer_decrypt(asc_value)"
                         % key).fetchone()[0] == ROWS
    ours = lambda: db.db.execute("SELECT count(rc2_decrypt_from_asc(asc_value, %s, 128)) FROM t" % key).fetchone()
    theirs = lambda: db.db.execute("SELECT count(peer_decrypt(asc_value)) FROM t").fetchone()
    o, t = [], []
    for _ in range(ROUNDS):  # in turns, so that a busy spell falls on both
        o.append(timed(ours))
        t.append(timed(theirs))
    report("SQLite, %d armoured values" % ROWS, min(o), min(t), 10)


def timed(f):
    start = time.perf_counter()
    f()
    return time.perf_counter() - start


def postgres_bench():
    db = test_sql.Postgres()
    try:
        key = "'\\x%s'::bytea" % KEY.hex()
        with db.db.cursor() as c:
            c.execute("CREATE EXTENSION IF NOT EXISTS pgcrypto")
            c.execute("CREATE TABLE t AS SELECT rc2_encrypt_to_asc(convert_to(format('value %%s', lpad(i::text, 10, '0')), "
                      "'UTF8'), %s, 128) AS asc_value, encrypt(convert_to(format('value %%s', lpad(i::text, 10, '0')), "
                      "'UTF8'), %s, 'aes') AS aes_value FROM generate_series(1, %d) AS i" % (key, key, ROWS))
            c.execute("SELECT count(*) FROM t WHERE rc2_decrypt_from_asc(asc_value, %s, 128) = decrypt(aes_value, %s, 'aes')"
                      % (key, key))
            assert c.fetchone()[0] == ROWS
            c.execute("SET max_parallel_workers_per_gather = 0")

            def run(sql):
                return lambda: (c.execute(sql), c.fetchone())

            ours = run("SELECT count(rc2_decrypt_from_asc(asc_value, %s, 128)) FROM t" % key)
            theirs = run("SELECT count(decrypt(aes_value, %s, 'aes')) FROM t" % key)
            o, t = [], []
            for _ in range(ROUNDS):
                o.append(timed(ours))
                t.append(timed(theirs))
        report("PostgreSQL, %d armoured values vs pgcrypto AES" % ROWS, min(o), min(t), 1.5)
    finally:
        db.close()


if __name__ == "__main__":
    print("SQL functions, %d rows, best of %d runs taken in turns" % (ROWS, ROUNDS))
    sqlite_bench()
    postgres_bench()
