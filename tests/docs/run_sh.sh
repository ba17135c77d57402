#!/usr/bin/env bash
# Runs an `sh` block of the docs: run_sh.sh WORK_DIR BLOCK [PROGRAM_DIR...]. The block runs in
# WORK_DIR, emptied first, with each PROGRAM_DIR (the build's nubrix and nubrix-gen, drat-trim where
# built) before the rest of PATH. A command that fails stops the block and fails the test, except
# that exit statuses 10 and 20 count as success: they are the nubrix program's answers "satisfiable"
# and "unsatisfiable".
set -u -o pipefail
work=$1
block=$2
shift 2
for dir in "$@"; do
  PATH=$dir:$PATH
done
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
trap 'status=$?; if [ "$status" -ne 10 ] && [ "$status" -ne 20 ]; then echo "failed with status $status: $BASH_COMMAND" >&2; exit "$status"; fi' ERR
# shellcheck source=/dev/null
. "$block"
exit 0  # every command succeeded, or answered 10 or 20
