"""decrypt_many and encrypt_many against the one-shot functions, value by
value: the batch must give each value exactly what morvik.encrypt and
morvik.decrypt give it alone, errors included, whatever else is in the batch."""
import random

import pytest

import morvik

FORMS = ["raw", "hex", "asc"]


def plaintexts(rng, n):
    # Lengths across block edges; never ending in a zero byte (those are refused).
    out = []
    for _ in range(n):
        b = rng.randbytes(rng.choice([0, 1, 7, 8, 9, 15, 16, 17, 40, rng.randrange(200)]))
        out.append(b + b"x" if b.endswith(b"\0") else b)
    return out


def one(f, *args, **kw):
    try:
        return f(*args, **kw)
    except morvik.Error as e:
        return e


@pytest.mark.parametrize("form", FORMS)
def test_batches_equal_one_value_at_a_time(form):
    rng = random.Random(form)
    for trial in range(20):
        key = rng.randbytes(rng.randrange(1, 129))
        bits = rng.choice([0, 1, 40, 64, 128, 1024, rng.randrange(1025)])
        plain = plaintexts(rng, rng.choice([1, 5, 300]))  # 300 values: the bulk kernels run
        cipher = morvik.encrypt_many(plain, key, form=form, effective_key_length=bits)
        assert cipher == [morvik.encrypt(p, key, form=form, effective_key_length=bits) for p in plain], trial
        assert morvik.decrypt_many(cipher, key, form=form, effective_key_length=bits) == \
            [morvik.decrypt(c, key, form=form, effective_key_length=bits) for c in cipher]


# Values that the object refuses, or reads in its own way, mixed with good ones.
BAD = {
    "raw": [b"1234567", b"        x", b"       ", b"\0" * 8],
    "hex": ["0011", "zz" * 8, "        ", "00112233445566778"],
    "asc": ["ZZZZ0", "md9J", "", "abc\n", "\u4e00abc"],
}


@pytest.mark.parametrize("form", FORMS)
def test_bad_values_fail_alone(form):
    key = b"my key"
    good = morvik.encrypt_many([b"one", b"two"], key, form=form)
    values = [good[0], *BAD[form], None, good[1]]
    expected = [one(morvik.decrypt, v, key, form=form) if v is not None else None for v in values]
    got = morvik.decrypt_many(values, key, form=form, errors="null")
    assert got == [None if isinstance(e, morvik.Error) else e for e in expected]
    assert got[0] == b"one" and got[-1] == b"two"
    first = next((i, e) for i, e in enumerate(expected) if isinstance(e, morvik.Error))
    with pytest.raises(morvik.Error) as raised:
        morvik.decrypt_many(values, key, form=form)
    assert raised.value.number == first[1].number
    assert raised.value.where == "value %d: %s" % (first[0], first[1].where)
    assert raised.value.position == first[1].position


def test_any_iterable_and_none():
    key = b"k"
    values = (v for v in ["a", None, b"b", bytearray(b"c"), memoryview(b"d")])
    cipher = morvik.encrypt_many(values, key, form="hex")
    assert cipher[1] is None and len(cipher) == 5
    assert morvik.decrypt_many(iter(cipher), key, form="hex") == [b"a", None, b"b", b"c", b"d"]
    assert morvik.decrypt_many([], key) == [] and morvik.encrypt_many([], key) == []


@pytest.mark.parametrize("call, kwargs, error", [
    (morvik.decrypt_many, {"key": b""}, ValueError),
    (morvik.decrypt_many, {"key": b"k" * 129}, ValueError),
    (morvik.decrypt_many, {"key": "text key"}, TypeError),
    (morvik.decrypt_many, {"key": b"k", "effective_key_length": 1025}, ValueError),
    (morvik.decrypt_many, {"key": b"k", "errors": "ignore"}, ValueError),
    (morvik.decrypt_many, {"key": b"k", "form": "base64"}, ValueError),
    (morvik.encrypt_many, {"key": b"k", "effective_key_length": -1}, ValueError),
    # One value where a batch belongs: its characters or bytes are no batch.
    (morvik.decrypt_many, {"values": "5F0Kja-6zZcGd7N-WbpG00061", "key": b"k"}, TypeError),
    (morvik.encrypt_many, {"values": b"plaintext", "key": b"k"}, TypeError),
])
def test_strict_arguments(call, kwargs, error):
    with pytest.raises(error):
        call(**{"values": ["abc"], **kwargs})


def test_raw_ciphertexts_are_bytes_and_trailing_zeros_are_refused():
    with pytest.raises(TypeError, match="value 1"):
        morvik.decrypt_many([b"12345678", "12345678"], b"k", form="raw")
    with pytest.raises(ValueError, match="value 2: the plaintext ends in 2 zero bytes"):
        morvik.encrypt_many([b"a", b"b", b"c\0\0"], b"k")


def test_pandas_series_when_there():
    pd = pytest.importorskip("pandas")
    series = pd.Series(["Ann", None, "Bo"])
    cipher = morvik.encrypt_many(series, b"my key")
    assert morvik.decrypt_many(pd.Series(cipher), b"my key") == [b"Ann", None, b"Bo"]
