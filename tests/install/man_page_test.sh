#!/usr/bin/env bash
# The manual page of zorod-publish names every command, option and exit status the program's
# own help gives, so neither falls behind the other.
#   man_page_test.sh <zorod-publish> <zorod-publish.1>
set -euo pipefail
tool=$1
page=$(sed 's/\\-/-/g' "$2")
missing=()
general=$("$tool" --help)
commands=$(sed -n '/^Команды:/,/^$/p' <<<"$general" | awk 'NF > 1 {print $1}')
[ -n "$commands" ] || { echo "FAIL: no commands in --help" >&2; exit 1; }
options="--help --version"
for c in $commands; do
  grep -q "^\.BI $c " <<<"$page" || missing+=("command $c")
  options+=" $("$tool" "$c" --help | grep -o -- '--[a-z][a-z-]*' | tr '\n' ' ')"
done
for o in $(tr ' ' '\n' <<<"$options" | sort -u); do
  grep -q -- "^\.BR\? $o\( \|$\)\|^\.BI $o \|^\.BR -[a-z] \", \" $o$" <<<"$page" || missing+=("option $o")
done
for status in $(grep '^Код выхода' <<<"$general" | grep -o '[0-9]\+ —' | tr -d ' —'); do
  grep -qx "\.B $status" <<<"$page" || missing+=("exit status $status")
done
if [ ${#missing[@]} -gt 0 ]; then
  printf 'FAIL: the manual page lacks %s\n' "${missing[@]}" >&2
  exit 1
fi
echo "ok"
