# Helpers of the shell-level checks; sourced by each check.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/env.sh"
base_prefix=$WINEPREFIX

failures=0
check() { # description command...
  local what=$1
  shift
  if "$@"; then
    echo "  ok: $what"
  else
    echo "  FAILED: $what"
    failures=$((failures + 1))
  fi
}
finish() {
  [ "$failures" -eq 0 ]
}

# A private copy of the project's Wine prefix, so that a check cannot disturb
# the prefix the tests and the demo use. The large DLL folders are hard-linked
# (Wine never writes into them); everything else, the registry included, is a
# real copy.
make_temp_prefix() {
  local tmp
  tmp=$(mktemp -d /tmp/korvix-prefix.XXXXXX)
  (
    cd "$base_prefix"
    find . -mindepth 1 -maxdepth 1 ! -name drive_c -exec cp -a {} "$tmp/" \;
    mkdir -p "$tmp/drive_c"
    cd drive_c
    find . -mindepth 1 -maxdepth 1 ! -name windows -exec cp -a {} "$tmp/drive_c/" \;
    mkdir -p "$tmp/drive_c/windows"
    cd windows
    for entry in * .[!.]*; do
      [ -e "$entry" ] || continue
      case $entry in
        system32 | syswow64) cp -al "$entry" "$tmp/drive_c/windows/" ;;
        *) cp -a "$entry" "$tmp/drive_c/windows/" ;;
      esac
    done
  )
  echo "$tmp"
}
# Removes what an earlier installation or test may have left in the copied
# prefix, so that every check starts from a prefix without Korvix.
clean_slate() {
  local key
  for key in 'HKLM\SOFTWARE\Quarnex' 'HKCR\Korvix.SmBiosImpl' 'HKCR\Korvix.SmBiosImpl.1.05' \
    'HKCR\AcTorvel.TorvelAccess' 'HKCR\AcTorvel.TorvelAccess.1'; do
    "$WINE" reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
  done
  rm -rf "$WINEPREFIX/drive_c/Program Files/Korvix"
}
drop_temp_prefix() { # path
  WINEPREFIX=$1 "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
  WINEPREFIX=$1 "$WINESERVER" -w >/dev/null 2>&1 </dev/null || true
  rm -rf "$1"
}

# reg query of one value in the current WINEPREFIX; prints the data.
reg_value() { # key value
  "$WINE" reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
reg_key_exists() { # key
  "$WINE" reg query "$1" </dev/null >/dev/null 2>&1
}
