#!/usr/bin/env bash
# Runs read_crawl.py on a display and a session bus of its own: the accessibility bus starts
# on that session bus when the program asks for it, and announces itself on that display,
# where no other test's program finds it. Exits 77 (skipped) only when the accessibility
# packages are not installed; scripts/setup.sh installs them.
#   run.sh PROGRAM DEMO_SERVER
set -uo pipefail
HERE=$(dirname "$0")
PYTHON=/usr/bin/python3 # the system's, for which the distribution packages the bindings
missing=()
command -v dbus-run-session >/dev/null || missing+=(dbus-run-session)
[ -x /usr/libexec/at-spi-bus-launcher ] || missing+=(at-spi-bus-launcher)
"$PYTHON" -c 'import pyatspi' 2>/dev/null || missing+=(pyatspi)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Skipped: missing ${missing[*]}"
  exit 77
fi
# The toolkit's bridge to the accessibility bus is on unless it is turned off.
unset NO_AT_BRIDGE GTK_A11Y DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
exec timeout 60 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" \
  dbus-run-session -- "$PYTHON" "$HERE/read_crawl.py" "$@"
