#!/bin/sh
# Runs Windows programs under wine64 without a display.
#
#   cmake/wine-run.sh PREFIX program.exe [args...]   run one program
#   cmake/wine-run.sh PREFIX --start                 start a wineserver that stays until --stop
#   cmake/wine-run.sh PREFIX --stop                  end the wineserver and all programs
#
# PREFIX is the wine prefix (a folder of its own, e.g. in the build tree). It
# is created at first use (about 12 s), under a lock so that parallel callers
# do not race. A program's exit status is passed on (its low 8 bits).
#
# Each wine start without a running wineserver costs most of a second, and
# wine's background processes inherit the output of whoever starts them, so a
# caller that reads that output through a pipe (ctest) waits for them to exit.
# Hence the wineserver and its services are always started here with their
# output on /dev/null: by --start, or, when a program finds none running, as
# one that ends by itself 30 s after its last program.
set -e
[ $# -ge 2 ] || { echo "usage: $0 PREFIX program.exe [args...] | --start | --stop" >&2; exit 2; }
WINEPREFIX=$1; shift
case $WINEPREFIX in /*) ;; *) WINEPREFIX=$PWD/$WINEPREFIX ;; esac   # wine wants it absolute
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="   # never offer to install Mono or Gecko
unset DISPLAY WAYLAND_DISPLAY

server_up() { wineserver -k0 >/dev/null 2>&1; }   # signal 0: only asks whether one runs

make_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  # wineboot returns before the registry is on disk; wineserver -w waits for it.
  flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; }' </dev/null >/dev/null 2>&1 || true
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine prefix $WINEPREFIX could not be created" >&2; exit 1; }
}

case "$1" in
  --start)
    make_prefix
    {
      wineserver -k || true     # a server already running would refuse -p
      wineserver -w || true
      wineserver -p || true
      wine cmd /c exit 0 || true   # starts the prefix's services once
    } </dev/null >/dev/null 2>&1
    server_up || { echo "wineserver for $WINEPREFIX did not start" >&2; exit 1; }
    exit 0 ;;
  --stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    exit 0 ;;
esac

if [ ! -f "$WINEPREFIX/system.reg" ] || ! server_up; then
  make_prefix
  flock "$WINEPREFIX.lock" sh -c \
    'wineserver -k0 || { wineserver -p30 && wine cmd /c exit 0; }' </dev/null >/dev/null 2>&1 || true
fi
status=0
wine "$@" || status=$?
# A program that dies early leaves nothing in its (buffered) output; say how it ended.
[ $status = 0 ] || echo "wine-run: $1 ended with status $status" >&2
exit $status
