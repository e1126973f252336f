#!/usr/bin/env bash
# Builds the wheel from the module of a build tree as pip does offline
# (pip wheel --no-build-isolation), installs it into a fresh virtual
# environment and runs the Python tests there; pip must then show the
# project's version and uninstall every file of it.
#   run.sh PYTHON BUILD_DIR MISSING DATA_DIR WORK
# MORVIK_PRELOAD is preloaded wherever the module is imported, not for pip
# (the sanitizers' runtime).
# Exits 77 (CTest: skipped) with a message where the module could not be
# built or pytest, pycryptodome or the wheel's tools are missing;
# MORVIK_REQUIRE_PYTHON=1 makes each of those a failure.
set -uo pipefail
python=$1 build=$2 missing=$3 data=$4 work=$5

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
"$python" -c "import setuptools, wheel, pip, venv" 2>/dev/null ||
  skip "$python cannot build and install wheels (python3-pip, python3-setuptools, python3-wheel, python3-venv)"

set -e
fail() { echo "python: FAIL: $*" >&2; exit 1; }
source=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -nE 's/^project\(morvik VERSION ([0-9.]+).*/\1/p' "$source/CMakeLists.txt")
rm -rf "$work"
mkdir -p "$work"
export PYTHONDONTWRITEBYTECODE=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1

(cd "$source" && MORVIK_BUILD_DIR=$build "$python" -m pip wheel -q --no-build-isolation --no-deps -w "$work/dist" .)
wheels=("$work"/dist/morvik-"$version"-*.whl)
[ "${#wheels[@]}" = 1 ] && [ -f "${wheels[0]}" ] || fail "no wheel morvik-$version in $work/dist"
wheel=${wheels[0]}
case $wheel in *-linux_*.whl | *-manylinux*.whl) ;; *) fail "not a platform wheel: $wheel" ;; esac
listing=$(unzip -Z1 "$wheel")
for f in 'morvik/__init__\..*\.so' 'morvik/__init__\.pyi' 'morvik/py\.typed' "morvik-$version\\.dist-info/METADATA"; do
  grep -qx "$f" <<<"$listing" || fail "the wheel has no $f: $listing"
done
echo "python: $(basename "$wheel"): $(tr '\n' ' ' <<<"$listing")"

# A fresh environment. Debian's pytest and pycryptodome come from the
# system's site; the module only from the wheel, since the user's site
# (where an older copy may sit) is off and no morvik is on the system's.
export PYTHONNOUSERSITE=1
"$python" -m venv --system-site-packages --without-pip "$work/venv"
venv=$work/venv/bin/python
site=$("$venv" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
"$venv" -m pip install -q --no-index --no-deps "$wheel"
shown=$("$venv" -m pip show morvik)
grep -qx "Version: $version" <<<"$shown" || fail "pip show morvik: $shown"
grep -qx "Location: $site" <<<"$shown" || fail "pip show morvik: not in the environment: $shown"
LD_PRELOAD=${MORVIK_PRELOAD:-} "$venv" -c "import morvik, sys
assert morvik.__file__.startswith('$site/morvik/'), morvik.__file__
assert morvik.__version__ == '$version', morvik.__version__"

cd "$work"
MORVIK_TEST_DATA=$data LD_PRELOAD=${MORVIK_PRELOAD:-} "$venv" -m pytest -q -p no:cacheprovider "$source/python/tests"

"$venv" -m pip uninstall -q -y morvik
left=$(cd "$site" && ls -d ./*orvik* 2>/dev/null || true)
[ -z "$left" ] || fail "pip uninstall left $left in $site"
echo "python: the wheel installed, passed and uninstalled in a fresh environment"
