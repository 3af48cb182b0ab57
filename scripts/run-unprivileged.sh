#!/usr/bin/env bash
# Runs a GoogleTest binary as the unprivileged user "nobody":
#   run-unprivileged.sh TEST-BINARY [GTEST-ARGUMENTS...]
# For the cases that skip themselves when run as root, whom file modes do not
# bind (a read-only file or folder is writable for root). Run as root, this
# gives them a user the modes do bind, and fails when a case still skipped or
# none ran. Run as anyone else it exits 77 (skipped): the cases already ran
# unprivileged in the ordinary test run.
set -euo pipefail

binary=$1
shift

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: these cases ran unprivileged in the ordinary run"
  exit 77
fi
command -v setpriv >/dev/null || { echo "run-unprivileged: setpriv (util-linux) is missing" >&2; exit 1; }
id nobody >/dev/null 2>&1 || { echo "run-unprivileged: there is no user nobody" >&2; exit 1; }
group=$(id -gn nobody)

# The build tree may lie in a folder nobody cannot enter (root's home), so a
# copy of the binary runs from a folder of its own; it links only system
# libraries. The temporary folder and home belong to nobody.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$binary" "$work/"
mkdir -p "$work/home/runtime"
chmod 700 "$work/home/runtime"
chown -R nobody:"$group" "$work/home"
# The same holds for a sanitizer's suppressions file, which must be readable.
if [[ "${LSAN_OPTIONS:-}" =~ suppressions=([^:]*) ]]; then
  cp "${BASH_REMATCH[1]}" "$work/lsan.supp"
  export LSAN_OPTIONS=${LSAN_OPTIONS/"${BASH_REMATCH[1]}"/$work/lsan.supp}
fi

set +e
env HOME="$work/home" TMPDIR="$work/home" XDG_RUNTIME_DIR="$work/home/runtime" \
  setpriv --reuid=nobody --regid="$group" --clear-groups --inh-caps=-all \
  "$work/$(basename "$binary")" "$@" 2>&1 | tee "$work/output"
status=${PIPESTATUS[0]}
set -e

if [ "$status" -ne 0 ]; then
  exit "$status"
fi
if grep -q '^\[  SKIPPED \]' "$work/output"; then
  echo "run-unprivileged: a case still skipped itself as nobody" >&2
  exit 1
fi
if ! grep -Eq '^\[  PASSED  \] [1-9][0-9]* test' "$work/output"; then
  echo "run-unprivileged: no case ran" >&2
  exit 1
fi
