#!/usr/bin/env bash
# Round trip through qvrepair-cli: encode METHOD | decode METHOD must give back the input bytes.
# usage: cli_roundtrip.sh QVREPAIR_CLI METHOD...
set -euo pipefail
# QV_EMULATOR, when set, runs the program (wine for a Windows build).
# shellcheck disable=SC2206
cli=(${QV_EMULATOR:-} "$1")
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Binary data (every byte value, a final CR) and text with long lines, soft-break points and "=".
head -c 200000 /dev/urandom >"$work/binary"
printf '\r' >>"$work/binary"
{
  for i in $(seq 1 300); do
    printf 'line %d = %*s end\r\n' "$i" $((i % 150)) ''
  done
  printf 'no final break\n\t\xe9'
} >"$work/text"
: >"$work/empty"

# Each case: input file, then encode options. Few cases: every run starts a process, which is
# slow in a sanitizer build.
cases=("binary" "binary --chars 132" "text --suppress-crlf" "empty")
status=0
for method in "$@"; do
  for c in "${cases[@]}"; do
    read -r input opts <<<"$c"
    # shellcheck disable=SC2086
    "${cli[@]}" encode "$method" $opts <"$work/$input" >"$work/encoded"
    "${cli[@]}" decode "$method" <"$work/encoded" >"$work/decoded"
    if ! cmp -s "$work/$input" "$work/decoded"; then
      echo "FAILED: $method $opts on $input" >&2
      status=1
    fi
  done
done

# A decoding error: the message on standard error and exit status 1.
if printf 'TW Fu' | "${cli[@]}" decode base64 >/dev/null 2>"$work/err"; then
  echo "FAILED: bad Base64 was accepted" >&2
  status=1
elif [ "$(cat "$work/err")" != "Wrong symbols in source stream." ]; then
  echo "FAILED: unexpected message: $(cat "$work/err")" >&2
  status=1
fi
exit $status
