#!/usr/bin/env bash
# The rules of the source tree that a reviewer would otherwise check by hand, checked on the
# tree itself. Usage: layout-test.sh <source folder>
set -uo pipefail
cd "$1"
status=0
broken() {
  echo "layout: $1" >&2
  echo "$2" | sed 's/^/  /' >&2
  status=1
}

# The working classes include each other in one direction only: a file never includes one
# that (through others) includes it back. tsort names the members of any loop.
edges=$(for file in src/Handlers/*.cpp src/Handlers/*.h; do
  from=$(basename "${file%.*}")
  sed -n 's/^#include "\([A-Za-z]*\)\.h"$/\1/p' "$file" | while read -r to; do
    [ "$to" != "$from" ] && echo "$from $to"
  done
done)
if ! loop=$(echo "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
  broken "the working classes include each other in a loop" "$loop"
fi

# GLib references, sources and errors are released only by the owning types in GLibPtr.h or
# by g_autoptr, so every release can be found in one file.
if found=$(grep -rnE 'g_source_remove|g_source_destroy|g_[a-z_]*_unref *\(|g_error_free|g_free *\(|g_list_free|g_strfreev|g_signal_handler_disconnect' \
    src --include='*.cpp' --include='*.h' | grep -v '^src/platform/linux/GLibPtr.h:'); then
  broken "a GLib release by hand outside GLibPtr.h" "$found"
fi

# The logic talks to the platform's interfaces, never to the toolkit or its libraries.
if found=$(grep -rnE '#include <(gtk|gdk|glib|gio|webkit|jsc|libsoup|curl|plist|archive)' \
    src --include='*.cpp' --include='*.h' | grep -v '^src/platform/linux/'); then
  broken "toolkit or library headers outside the Linux backend" "$found"
fi

# One place catches (guarded, in Logging.h) and one place writes the system's lines.
if found=$(grep -rn 'catch *(' src --include='*.cpp' --include='*.h' |
    grep -v '^src/Handlers/Logging.h:'); then
  broken "a catch outside guarded()" "$found"
fi
if found=$(grep -rnE 'platform::(NSLog|print) *\(' src --include='*.cpp' --include='*.h' |
    grep -v -e '^src/platform/' -e '^src/Handlers/Logging.h:'); then
  broken "a log line written around logLine/printLine" "$found"
fi

[ "$status" -eq 0 ] && echo "layout: every rule holds"
exit "$status"
