#!/usr/bin/env bash
# scripts/install, scripts/demo and scripts/uninstall on a copy of the
# project's Wine prefix: files, registration and registry value appear, the
# demo prints decoded structures, and uninstall removes all of it.
. "$(dirname "$0")/lib.sh"

prefix=$(make_temp_prefix)
trap 'drop_temp_prefix "$prefix"' EXIT
export WINEPREFIX=$prefix
clean_slate
dir="$prefix/drive_c/Program Files/Korvix"

"$here/scripts/install" --prefix-only >/dev/null
"$here/scripts/install" --prefix-only >/dev/null # again: installs over itself
check "binaries and dependency table copied" \
  test -f "$dir/Korvix.dll" -a -f "$dir/TorvelAccess.dll" -a -f "$dir/korvix.exe" -a -f "$dir/deptables/Korvix_1.05.xml"
check "DependencyTables names the deptables folder" \
  test "$(reg_value 'HKLM\SOFTWARE\Quarnex\Common' DependencyTables)" = 'C:\Program Files\Korvix\deptables'
check "Korvix.SmBiosImpl registered" reg_key_exists 'HKCR\Korvix.SmBiosImpl\CLSID'
check "AcTorvel.TorvelAccess registered" reg_key_exists 'HKCR\AcTorvel.TorvelAccess'

out=$("$here/scripts/demo" 2>/tmp/korvix-demo-err.$$)
status=$?
err=$(cat /tmp/korvix-demo-err.$$)
rm -f /tmp/korvix-demo-err.$$
check "demo exits 0" test "$status" -eq 0
check "demo prints a BIOS structure" grep -q '^Type 0, handle 0x' <<<"$out"
check "demo says which table it decoded" grep -qE "demo: (decoding this machine|this machine's firmware table is not usable)" <<<"$err"
json=$("$here/scripts/demo" --type 17 --json 2>/dev/null)
check "demo passes arguments on (--type 17 --json)" python3 -c '
import json, sys
records = json.loads(sys.stdin.read())
assert records and all(r["type"] == 17 for r in records)' <<<"$json"

"$here/scripts/uninstall" >/dev/null
"$here/scripts/uninstall" >/dev/null # again: nothing left to do
check "installed folder removed" test ! -e "$dir"
check "Korvix.SmBiosImpl unregistered" eval '! reg_key_exists "HKCR\\Korvix.SmBiosImpl"'
check "AcTorvel.TorvelAccess unregistered" eval '! reg_key_exists "HKCR\\AcTorvel.TorvelAccess"'
check "DependencyTables removed" test -z "$(reg_value 'HKLM\SOFTWARE\Quarnex\Common' DependencyTables)"
check "empty Quarnex keys removed" eval '! reg_key_exists "HKLM\\SOFTWARE\\Quarnex"'
finish
