#!/usr/bin/env bash
# The local cluster's state folder checks, on prepared folders, without starting a daemon: a
# fresh folder is made private; a link, another user's folder and one others may write in are
# refused, and nothing is written into them.
set -euo pipefail
script=$(cd "$(dirname "$0")/../../tools/cluster" && pwd)/local-slurm.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
check() { KT_SLURM_DIR=$1 "$script" check-dir 2>/dev/null; }

check "$work/fresh" || fail "a fresh folder was refused"
[ "$(stat -c %a "$work/fresh")" = 711 ] || fail "the fresh folder is open to others"
mkdir -m 777 "$work/open"
check "$work/open" && fail "a folder others may write in was accepted"
mkdir -m 700 "$work/elsewhere"
ln -s "$work/elsewhere" "$work/link"
check "$work/link" && fail "a link was accepted"
KT_SLURM_DIR="$work/link" "$script" stop 2>/dev/null && fail "stop went through a link"
if [ "$(id -u)" = 0 ]; then
  mkdir -m 700 "$work/theirs"
  chown nobody "$work/theirs"
  check "$work/theirs" && fail "another user's folder was accepted"
fi
# A planted pid file in an open folder kills nothing: stop refuses the folder first.
sleep 300 & victim=$!
echo "$victim" > "$work/open/munged.pid"
KT_SLURM_DIR="$work/open" "$script" stop 2>/dev/null && fail "stop accepted an open folder"
kill -0 "$victim" || fail "stop killed a process named in a planted pid file"
kill "$victim"
[ -z "$(ls -A "$work/elsewhere")" ] || fail "something was written through the link"
echo "state folder checks: all refused or accepted as they should be"
