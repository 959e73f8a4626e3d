#!/usr/bin/env bash
# Installs the build into a folder whose name has a blank and Cyrillic letters, as a user's may,
# and checks what a desktop needs of it: a valid entry that starts the installed program and
# shows its icon, nothing there that would be taken for a site, and the entry registered by
# scripts/desktop-entry.
#   desktop_entry_test.sh <build folder> <source folder>
set -euo pipefail
build=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

folder="$tmp/Мои сайты"
cmake --install "$build" --prefix "$folder" >/dev/null
for f in zorod zorod-publish zorod.svg zorod.desktop; do
  [ -f "$folder/$f" ] || fail "$f is not installed"
done
dirs=$(find "$folder" -mindepth 1 -maxdepth 1 -type d)
[ -z "$dirs" ] || fail "the install made folders, which would be listed as sites: $dirs"

entry="$folder/zorod.desktop"
desktop-file-validate "$entry" || fail "zorod.desktop is not a valid desktop entry"
grep -qx "Exec=\"$folder/zorod\"" "$entry" || fail "Exec does not start $folder/zorod: $(grep ^Exec= "$entry")"
grep -qx "Icon=$folder/zorod.svg" "$entry" || fail "Icon does not name $folder/zorod.svg"
grep -qx "Name=ZOR OD" "$entry" || fail "the entry is not named ZOR OD"

# Registering copies the entry into the user's applications folder.
out=$(HOME="$tmp/home" XDG_DATA_HOME= "$src/scripts/desktop-entry" "$folder")
[ "$out" = "$tmp/home/.local/share/applications/zorod.desktop" ] || fail "registered as $out"
cmp -s "$entry" "$out" || fail "the registered entry differs from the installed one"
# A folder without the program is refused.
if HOME="$tmp/home" "$src/scripts/desktop-entry" "$tmp/empty" 2>/dev/null; then
  fail "a folder without the program was registered"
fi
echo "ok"
