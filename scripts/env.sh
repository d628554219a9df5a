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

# Creates the test prefix when it is missing, and starts its wineserver
# (persistent: -p$1, by default for 60 s after its last program) and Wine's
# services detached from the caller's pipes, which ctest would wait for
# otherwise. Under a lock: ctest starts several test programs at once.
korvix_test_wine() {
  mkdir -p "$KORVIX_ROOT/build" && (
    flock 9
    export WINEPREFIX=$KORVIX_TEST_PREFIX
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      "$WINE" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
      "$WINESERVER" -w 9>&-
      [ -f "$WINEPREFIX/system.reg" ] || exit 1
    fi
    if "$WINESERVER" -p"${1-60}" >/dev/null 2>&1 </dev/null 9>&-; then
      "$WINE" wineboot >/dev/null 2>&1 </dev/null 9>&-
    fi
    exit 0
  ) 9>"$KORVIX_ROOT/build/test-wineprefix.lock"
}

# What the korvix.exe that scripts/install put into $WINEPREFIX answers for a
# real table (exit code and checksum of its output); nothing when there is
# none. The script step compares it before and after the tests.
korvix_installed_answer() {
  [ -f "$WINEPREFIX/drive_c/Program Files/Korvix/korvix.exe" ] || return 0
  local out rc
  out=$("$WINE" 'C:\Program Files\Korvix\korvix.exe' --type 4 \
    --file "Z:${KORVIX_ROOT//\//\\}\\tests\\data\\real\\dell-poweredge-r640-3.0.bin" </dev/null 2>&1)
  rc=$?
  echo "exit $rc, $(grep -c '^Type 4, handle' <<<"$out") processors, checksum $(cksum <<<"$out")"
}
