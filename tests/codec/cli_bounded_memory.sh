#!/usr/bin/env bash
# encode, decode and preferred on 1 GiB of standard input, each within 64 MiB of peak resident
# memory as /usr/bin/time reports it. Slow (about half a minute): CTest label "slow", which the
# sanitizer preset leaves out.
# usage: cli_bounded_memory.sh QVREPAIR_CLI [BYTES]   (BYTES of input, default 1 GiB)
set -uo pipefail
cli=$1
bytes=${2:-1073741824}
limit_kib=$((64 * 1024))
if [ ! -x /usr/bin/time ]; then
  echo "SKIPPED: /usr/bin/time is missing (apt-get install time)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Mail-like text: lines of 59 characters with "=" and two high bytes, generated as it is read.
text() { yes $'Subject: the mailbox index = repaired, r\xe9sum\xe9 is attached' | head -c "$bytes"; }

# The checks run in pipelines, that is in subshells: a failure is noted in a file.
fail() {
  echo "FAILED: $*" >&2
  : >"$work/failed"
}
# measure LABEL STATUS COMMAND...: runs COMMAND (standard input and output as the caller sets
# them, standard error into $work/err) and checks its exit status and its peak resident memory.
measure() {
  local label=$1 expected=$2
  shift 2
  /usr/bin/time -o "$work/time" -f '%M %e' "$@" 2>"$work/err"
  local got=$? kib secs
  read -r kib secs < <(tail -n 1 "$work/time")
  echo "$label: peak ${kib} KiB, ${secs} s, exit status $got" >&2
  if [ "$got" != "$expected" ] || [ "$kib" -gt "$limit_kib" ]; then
    fail "$label (expected exit status $expected and at most $limit_kib KiB)"
    cat "$work/err" >&2
  fi
}
expect() { # LABEL EXPECTED GOT
  if [ "$2" != "$3" ]; then fail "$1: expected '$2', got '$3'"; fi
}

# Base64 of the input: 4 characters per 3 bytes, lines of 57 bytes joined by CR LF.
b64_chars=$(((bytes + 2) / 3 * 4 + 2 * ((bytes + 56) / 57 - 1)))
got=$(text | measure "encode base64" 0 "$cli" encode base64 | wc -c)
expect "encode base64, output bytes" "$b64_chars" "$got"

got=$(text | measure "encode quoted-printable" 0 "$cli" encode quoted-printable | wc -c)
[ "$got" -gt "$bytes" ] || fail "encode quoted-printable: $got bytes of output"

got=$(text | measure "preferred" 0 "$cli" preferred)
expect "preferred" cmMIMEQuotedPrintable "$got"

# Base64 decoding reads its input twice: from a pipe, through a temporary copy.
text | "$cli" encode base64 >"$work/encoded"
cat "$work/encoded" | measure "decode base64" 0 "$cli" decode base64 | cmp -s - <(text) ||
  fail "decode base64: the output is not the input"
rm -f "$work/encoded"

# A quoted-printable error at the very end: the decoded gigabyte waits in the spool and is
# dropped, so nothing reaches standard output.
got=$({ text | "$cli" encode quoted-printable; printf '=4x'; } |
  measure "decode quoted-printable, bad at the end" 1 "$cli" decode quoted-printable | wc -c)
expect "decode quoted-printable, bad at the end: output bytes" 0 "$got"
expect "decode quoted-printable, bad at the end: message" "Wrong quoted-printed symbols." \
  "$(cat "$work/err")"
[ ! -e "$work/failed" ]
