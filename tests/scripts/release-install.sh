#!/usr/bin/env bash
# The Windows installer of the release folder (build/release/x64/install.cmd
# and uninstall.cmd) run by Wine's cmd on a copy of the project's prefix,
# once into the default folder and once into a folder given as argument.
. "$(dirname "$0")/lib.sh"

release=$here/build/release/x64
for f in install.cmd uninstall.cmd Korvix.dll TorvelAccess.dll korvix.exe deptables/Korvix_1.05.xml; do
  [ -f "$release/$f" ] || { echo "  FAILED: $release/$f missing (scripts/build x64 assembles it)"; exit 1; }
done

prefix=$(make_temp_prefix)
trap 'drop_temp_prefix "$prefix"' EXIT
export WINEPREFIX=$prefix
clean_slate
win_release="Z:${release//\//\\}"
sample="Z:${here//\//\\}\\tests\\data\\real\\vmware-vm-2.7.bin"
wcmd() { "$WINE" cmd /c "$@" </dev/null; }

check_installed() { # windows folder, unix folder
  local win=$1 dir=$2
  check "files in $win" \
    test -f "$dir/Korvix.dll" -a -f "$dir/TorvelAccess.dll" -a -f "$dir/korvix.exe" -a -f "$dir/deptables/Korvix_1.05.xml"
  check "DependencyTables = $win\\deptables" \
    test "$(reg_value 'HKLM\SOFTWARE\Quarnex\Common' DependencyTables)" = "$win\\deptables"
  check "Korvix.SmBiosImpl registered" reg_key_exists 'HKCR\Korvix.SmBiosImpl\CLSID'
  local out
  out=$("$WINE" "$win\\korvix.exe" --type 4 --file "$sample" </dev/null 2>&1)
  check "installed korvix.exe decodes a table ($(grep -c '^Type 4,' <<<"$out") processors)" \
    test "$(grep -c '^Type 4,' <<<"$out")" -eq 128
}
check_removed() { # windows folder, unix folder
  check "$1 removed" test ! -e "$2"
  check "Korvix.SmBiosImpl unregistered" eval '! reg_key_exists "HKCR\\Korvix.SmBiosImpl"'
  check "DependencyTables removed" test -z "$(reg_value 'HKLM\SOFTWARE\Quarnex\Common' DependencyTables)"
}

# Default folder, installed twice.
check "install.cmd exits 0" wcmd "$win_release\\install.cmd"
check "install.cmd again exits 0" wcmd "$win_release\\install.cmd"
check_installed 'C:\Program Files\Korvix' "$prefix/drive_c/Program Files/Korvix"
# Uninstalling a folder that holds no installation leaves this one alone.
check "uninstall.cmd of another folder exits 0" wcmd "$win_release\\uninstall.cmd" 'C:\Elsewhere'
check "... and keeps DependencyTables" \
  test "$(reg_value 'HKLM\SOFTWARE\Quarnex\Common' DependencyTables)" = 'C:\Program Files\Korvix\deptables'
check "... and the registration" reg_key_exists 'HKCR\Korvix.SmBiosImpl\CLSID'
check "uninstall.cmd exits 0" wcmd "$win_release\\uninstall.cmd"
check_removed 'C:\Program Files\Korvix' "$prefix/drive_c/Program Files/Korvix"

# A folder of the user's choice, with a blank in its name.
check "install.cmd into C:\\Tools\\My Korvix" wcmd "$win_release\\install.cmd" 'C:\Tools\My Korvix'
check_installed 'C:\Tools\My Korvix' "$prefix/drive_c/Tools/My Korvix"
check "uninstall.cmd of C:\\Tools\\My Korvix" wcmd "$win_release\\uninstall.cmd" 'C:\Tools\My Korvix'
check_removed 'C:\Tools\My Korvix' "$prefix/drive_c/Tools/My Korvix"
finish
