"""Rows per second decrypting one column of a CSV with Dask over
decrypt_many, on a LocalCluster of one and of two worker processes (loopback
only); figures, no targets.

    PYTHONPATH=build/dev/python/module python3 python/bench_dask.py [ROWS]
"""
import os
import sys
import tempfile
import time

import dask.dataframe as dd
import distributed
import pandas as pd

import morvik

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "tests"))
from test_dask import KEY, decrypt_column  # noqa: E402  (the tested recipe)



def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 2_000_000
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "people.csv")
        cipher = morvik.encrypt_many(["user%07d@example.com" % i for i in range(rows)], KEY, effective_key_length=64)
        pd.DataFrame({"id": range(rows), "email": cipher}).to_csv(path, index=False)
        frame = dd.read_csv(path, blocksize=os.path.getsize(path) // 16, keep_default_na=False, dtype={"email": str})
        print(f"{rows:,} rows in {frame.npartitions} partitions, one column decrypted with map_partitions")
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                                          dashboard_address=None) as cluster, distributed.Client(cluster):
                best = min(timed for timed in (
                    (lambda s: (frame.map_partitions(decrypt_column, meta=("email", object)).compute(),
                                time.perf_counter() - s)[1])(time.perf_counter()) for _ in range(3)))
            print(f"  {workers} worker{'s' if workers > 1 else ''}: {rows / best:12,.0f} rows/s (best of 3, reading the CSV included)")


if __name__ == "__main__":  # the worker processes import this file again
    main()
