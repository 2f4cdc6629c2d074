#!/usr/bin/env bash
# qvrepair-cli message on the sample messages: each data/NAME.eml must print data/NAME.json.
# usage: cli_message.sh QVREPAIR_CLI DATA_DIR
set -euo pipefail
# QV_EMULATOR, when set, runs the program (wine for a Windows build).
# shellcheck disable=SC2206
cli=(${QV_EMULATOR:-} "$1")
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for eml in "$data"/*.eml; do
  name=$(basename "$eml" .eml)
  "${cli[@]}" message "$eml" --now 2026-03-01T12:00:00 --tz UTC >"$work/$name.json"
  if ! diff -u "$data/$name.json" "$work/$name.json" >&2; then
    echo "FAILED: $name.eml differs from $name.json" >&2
    status=1
  fi
done

# Usage errors give 2, a file that cannot be read 1.
expect_status() {
  local want=$1
  shift
  local got=0
  "${cli[@]}" message "$@" >/dev/null 2>"$work/err" || got=$?
  if [ "$got" != "$want" ]; then
    echo "FAILED: message $* exited with $got, not $want" >&2
    status=1
  fi
}
expect_status 2
expect_status 2 "$data/multipart.eml" --now 2026-02-30T12:00:00
expect_status 2 "$data/multipart.eml" --now 2026-03-01
expect_status 2 "$data/multipart.eml" --tz
expect_status 2 "$data/multipart.eml" extra.eml
expect_status 1 "$work/no such file.eml"
exit $status
