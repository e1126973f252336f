"""The migration recipe on a distributed engine: a CSV of 2,000,000 rows read
as a Dask dataframe in at least 8 partitions, one column decrypted with
map_partitions over decrypt_many on a LocalCluster of two worker processes
(on the loopback address, started and closed here), equal row for row to the
same work in this process."""
import os

import pytest

import morvik

dd = pytest.importorskip("dask.dataframe", reason="python3-dask is not installed")
distributed = pytest.importorskip("distributed", reason="python3-distributed is not installed")
pd = pytest.importorskip("pandas", reason="python3-pandas is not installed")

if "libasan" in os.environ.get("LD_PRELOAD", ""):
    pytest.skip("the cluster runs once, in the plain build: its worker processes would load the sanitizers too",
                allow_module_level=True)

KEY = b"migration key"
ROWS = 2_000_000


def decrypt_column(part):
    # Runs in the workers: one batch per partition, the key schedule made once.
    return pd.Series(morvik.decrypt_many(part["email"], KEY, effective_key_length=64), index=part.index, dtype=object)


@pytest.fixture(scope="module")
def csv(tmp_path_factory):
    path = tmp_path_factory.mktemp("dask") / "people.csv"
    plain = ["user%07d@example.com" % i if i % 97 else "" for i in range(ROWS)]  # some empty values
    cipher = morvik.encrypt_many(plain, KEY, effective_key_length=64)
    pd.DataFrame({"id": range(ROWS), "email": cipher}).to_csv(path, index=False)
    return path, plain


def test_a_column_decrypted_on_two_workers_equals_one_process(csv):
    path, plain = csv
    frame = dd.read_csv(path, blocksize=os.path.getsize(path) // 10, keep_default_na=False, dtype={"email": str})
    assert frame.npartitions >= 8
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        got = frame.map_partitions(decrypt_column, meta=("email", object)).compute()
    local = morvik.decrypt_many(pd.read_csv(path, keep_default_na=False, dtype={"email": str})["email"], KEY,
                                effective_key_length=64)
    assert len(got) == ROWS
    assert list(got) == local
    assert local[:3] == [b"", b"user0000001@example.com", b"user0000002@example.com"]
    assert local[-1] == plain[-1].encode()
