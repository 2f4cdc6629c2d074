#!/usr/bin/env bash
# The manual page qvrepair-cli(1) names what the program's help texts name, no more and no less:
# each command that `qvrepair-cli --help` lists is a .SS of the page's COMMANDS section, and each
# option that `qvrepair-cli help COMMAND` names is a .TP item of that .SS. The options of the
# page's OPTIONS section are those of `qvrepair-cli --help`, and --version.
# usage: man_page.sh QVREPAIR_CLI PAGE
set -euo pipefail
# QV_EMULATOR, when set, runs the program (wine for a Windows build).
# shellcheck disable=SC2206
cli=(${QV_EMULATOR:-} "$1")
page=$2

# The long options a text names, one a line.
options() { grep -oE -- '--[a-z][a-z-]*' | sort -u || true; }

# From the help texts: "COMMAND" and "COMMAND OPTION" lines; "- OPTION" for the general ones.
from_help() {
  local help
  help=$("${cli[@]}" --help)
  # (The lines that list the commands name their options too.)
  grep -v '^  ' <<<"$help" | options | sed 's/^/- /'
  echo "- --version"
  sed -nE 's/^  ([a-z]+)( .*)?$/\1/p' <<<"$help" | while read -r command; do
    echo "$command"
    "${cli[@]}" help "$command" </dev/null | options | sed "s/^/$command /"
  done
}

# The same from the page: a .SS of COMMANDS is a command, the tag of a .TP item (the line after
# it) names options; the tags of OPTIONS are the general options. Comments do not count.
from_page() {
  sed -e '/^\.\\"/d' -e 's/\\-/-/g' "$page" | awk '
    /^\.SH / { section = $2; command = ""; next }
    section == "COMMANDS" && /^\.SS / { command = $2; print command; next }
    /^\.TP/ { tag = 1; next }
    tag {
      tag = 0
      owner = section == "OPTIONS" ? "-" : command
      if (owner == "") next
      line = $0
      while (match(line, /--[a-z][a-z-]*/)) {
        print owner, substr(line, RSTART, RLENGTH)
        line = substr(line, RSTART + RLENGTH)
      }
    }' | sort -u
}

"${cli[@]}" --version | grep -q '^qvrepair-cli ' || { echo "FAILED: --version" >&2; exit 1; }
if ! diff <(from_help | sort -u) <(from_page) >&2; then
  echo "FAILED: the manual page ('>') and the help texts ('<') name different commands or" \
    "options: $page" >&2
  exit 1
fi
echo "the manual page names every command and option of the help texts, and no other"
