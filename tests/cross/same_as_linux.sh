#!/usr/bin/env bash
# The Windows programs make what the Linux ones make: the same generated program folder, and the
# same repair of it and of the bundled sample (the index byte for byte, the store apart from the
# dates of its separator lines, which are the time of the run). Both run in one time zone.
# usage: same_as_linux.sh WIN_CLI WIN_GENSTORE LINUX_CLI LINUX_GENSTORE SAMPLE_DIR
# QV_EMULATOR runs the Windows programs (wine). Exit status 77 (skipped) without the Linux build.
set -euo pipefail
win_cli=(${QV_EMULATOR:-} "$1")
win_gen=(${QV_EMULATOR:-} "$2")
linux_cli=$3
linux_gen=$4
sample=$5
if [ ! -x "$linux_cli" ] || [ ! -x "$linux_gen" ]; then
  echo "no Linux build to compare with ($linux_cli): run scripts/test default first"
  exit 77
fi
export TZ=Europe/Berlin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() {
  echo "FAILED: $*" >&2
  status=1
}
# The store with the dates of the separators the repair wrote masked.
masked() {
  sed -E 's/^(From [^ ]*) [A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}(\r?)$/\1 DATE\2/' "$1"
}
# Repairs a copy of program folder $2 with each system's program and compares.
compare_repairs() {
  local name=$1 from=$2
  cp -R "$from" "$work/$name-linux"
  cp -R "$from" "$work/$name-windows"
  "$linux_cli" repair --dir "$work/$name-linux" >/dev/null || fail "$name: the Linux repair failed"
  "${win_cli[@]}" repair --dir "$work/$name-windows" >/dev/null </dev/null ||
    fail "$name: the Windows repair failed"
  local folder=profile/default
  cmp "$work/$name-linux/$folder/mailbox.idx" "$work/$name-windows/$folder/mailbox.idx" ||
    fail "$name: the indexes differ"
  cmp <(masked "$work/$name-linux/$folder/mailbox.mbx") \
    <(masked "$work/$name-windows/$folder/mailbox.mbx") || fail "$name: the stores differ"
  # The run did change the store (so that the comparison means something).
  cmp -s "$from/$folder/mailbox.mbx" "$work/$name-windows/$folder/mailbox.mbx" &&
    fail "$name: the repair left the store as it was"
  return 0
}

args=(--mix varied --count 400 --seed 20261208 --mixed --no-id-every 13 --duplicate-id-every 17)
"$linux_gen" "${args[@]}" --program-dir "$work/generated" 2>/dev/null
"${win_gen[@]}" "${args[@]}" --program-dir "$work/generated-windows" 2>/dev/null </dev/null
for file in profile.dat mailbox.idx mailbox.mbx; do
  cmp "$work/generated/profile/default/$file" "$work/generated-windows/profile/default/$file" ||
    fail "the generators wrote different files ($file)"
done

compare_repairs sample "$sample"
compare_repairs generated "$work/generated"
[ $status -eq 0 ] && echo "the Windows programs repair as the Linux ones do"
exit $status
