#!/usr/bin/env bash
# Runs the Python tests on the module just built:
#   run.sh PYTHON MODULE_DIR MISSING DATA_DIR
# Exits 77 (CTest: skipped) with a message where the module could not be
# built or pytest or pycryptodome is missing; MORVIK_REQUIRE_PYTHON=1 makes
# each of those a failure.
set -uo pipefail
python=$1 module_dir=$2 missing=$3 data=$4

skip() {
  if [ "${MORVIK_REQUIRE_PYTHON:-0}" = 1 ]; then
    echo "python: $1, and MORVIK_REQUIRE_PYTHON=1" >&2
    exit 1
  fi
  echo "python: skipped: $1"
  exit 77
}
[ -z "$missing" ] || skip "the module was not built: no $missing"
"$python" -c "import pytest" 2>/dev/null || skip "$python has no pytest (python3-pytest)"
"$python" -c "
try:
    import Crypto.Cipher.ARC2
except ImportError:
    import Cryptodome.Cipher.ARC2" 2>/dev/null || skip "$python has no pycryptodome (python3-pycryptodome)"

export PYTHONPATH=$module_dir MORVIK_TEST_DATA=$data PYTHONDONTWRITEBYTECODE=1
exec "$python" -m pytest -q -p no:cacheprovider "$(dirname "$0")"
