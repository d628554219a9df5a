# Common settings for the scripts; sourced, not run.
KORVIX_ROOT=${KORVIX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export KORVIX_ROOT
export WINEPREFIX=${WINEPREFIX:-$KORVIX_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
# The Windows tests register and unregister the components: they run in a
# prefix of their own (scripts/wine-test), never in $WINEPREFIX.
KORVIX_TEST_PREFIX=$KORVIX_ROOT/build/test-wineprefix

# Starts the wineserver of $WINEPREFIX, persistent (-p$1; by default until
# 60 s after its last program), and Wine's services, detached from the
# caller's pipes: ctest and $(...) would wait for the processes holding them.
korvix_wine_server() {
  if "$WINESERVER" -p"${1-60}" >/dev/null 2>&1 </dev/null; then
    "$WINE" wineboot >/dev/null 2>&1 </dev/null
  fi
}

# Creates the test prefix when it is missing; given an argument, also starts
# its server (korvix_wine_server). Under a lock: ctest starts several test
# programs at once.
korvix_test_prefix() {
  mkdir -p "$KORVIX_ROOT/build" && (
    flock 9
    export WINEPREFIX=$KORVIX_TEST_PREFIX
    {
      # A prefix is made once its system folder is; a registry alone (left by
      # a server of a removed prefix at the same path) is started over.
      local made=$WINEPREFIX/drive_c/windows/system32/kernel32.dll
      if [ ! -f "$made" ]; then
        rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 </dev/null
        "$WINESERVER" -w
      fi
      [ -f "$made" ] && { [ $# -eq 0 ] || korvix_wine_server "$1"; }
    } 9>&-
  ) 9>"$KORVIX_ROOT/build/test-wineprefix.lock"
}

# What korvix.exe, as scripts/install put it into $WINEPREFIX, answers for a
# real table: exit code, processors and a checksum of the output; nothing
# when it is not there. The script step compares it before and after the
# tests. (A file, not a pipe: Wine's services may keep what they inherit.)
korvix_installed_answer() {
  [ -f "$WINEPREFIX/drive_c/Program Files/Korvix/korvix.exe" ] || return 0
  local out rc
  out=$(mktemp)
  "$WINE" 'C:\Program Files\Korvix\korvix.exe' --type 4 \
    --file "Z:${KORVIX_ROOT//\//\\}\\tests\\data\\real\\dell-poweredge-r640-3.0.bin" >"$out" 2>&1 </dev/null
  rc=$?
  echo "exit $rc, $(grep -c '^Type 4, handle' "$out") processors, $(cksum <"$out")"
  rm -f "$out"
}
