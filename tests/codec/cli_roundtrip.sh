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
# slow in a sanitizer build. Encoding reads a pipe, decoding a file (standard input that can be
# positioned is read in place); the binary case is decoded from a pipe as well.
cases=("binary" "binary --chars 132" "text --suppress-crlf" "empty")
status=0
for method in "$@"; do
  for c in "${cases[@]}"; do
    read -r input opts <<<"$c"
    # shellcheck disable=SC2086
    cat "$work/$input" | "${cli[@]}" encode "$method" $opts >"$work/encoded"
    "${cli[@]}" decode "$method" <"$work/encoded" >"$work/decoded"
    if ! cmp -s "$work/$input" "$work/decoded"; then
      echo "FAILED: $method $opts on $input" >&2
      status=1
    fi
    if [ "$c" = binary ] && ! cat "$work/encoded" | "${cli[@]}" decode "$method" | cmp -s - "$work/$input"; then
      echo "FAILED: $method on $input, decoded from a pipe" >&2
      status=1
    fi
  done
done

# A decoding error: the message on standard error, exit status 1 and nothing on standard output,
# also when the error comes after more than a block of good input.
expect_error() { # method, message; the input on standard input
  if "${cli[@]}" decode "$1" >"$work/out" 2>"$work/err"; then
    echo "FAILED: bad $1 was accepted" >&2
    status=1
  elif [ "$(cat "$work/err")" != "$2" ] || [ -s "$work/out" ]; then
    echo "FAILED: $1: unexpected message '$(cat "$work/err")' or output" >&2
    status=1
  fi
}
printf 'TW Fu' | expect_error base64 "Wrong symbols in source stream."
{ head -c 300000 "$work/binary" | "${cli[@]}" encode base64; printf '\r\nTW-u'; } >"$work/bad"
cat "$work/bad" | expect_error base64 "Wrong symbols in source stream."
{ head -c 300000 "$work/binary" | "${cli[@]}" encode quoted-printable; printf '=4x'; } >"$work/bad"
expect_error quoted-printable "Wrong quoted-printed symbols." <"$work/bad"
exit $status
