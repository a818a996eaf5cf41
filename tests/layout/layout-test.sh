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
# by g_autoptr; every other C handle (descriptors, curl's handles and strings) only by
# support::Owned, named for curl in CurlOwned.h. So every release can be found in one place.
if found=$(grep -rnE 'g_source_remove|g_source_destroy|g_[a-z_]*_unref *\(|g_error_free|g_free *\(|g_list_free|g_strfreev|g_signal_handler_disconnect' \
    src --include='*.cpp' --include='*.h' | grep -v '^src/platform/linux/support/GLibPtr.h:'); then
  broken "a GLib release by hand outside GLibPtr.h" "$found"
fi
if found=$(grep -rnE '(::|[^_a-zA-Z.>])close *\(|curl_[a-z_]*cleanup|curl_free|curl_slist_free_all|curl_url_cleanup' \
    src --include='*.cpp' --include='*.h' |
    grep -v -e '^src/platform/linux/support/Owned.h:' -e '^src/platform/linux/curl/CurlOwned.h:' |
    grep -vE 'void close\(\)|closeImpl\(|close\(\) *(override|=|\{)'); then
  broken "a C handle released by hand outside support::Owned" "$found"
fi

# The logic talks to the platform's interfaces, never to the toolkit, its libraries or the
# system's own calls.
if found=$(grep -rnE '#include <(gtk|gdk|glib|gio|webkit|jsc|libsoup|curl|libsecret|plist|archive|pango|X11)' \
    src --include='*.cpp' --include='*.h' | grep -v '^src/platform/linux/'); then
  broken "toolkit or library headers outside the Linux backend" "$found"
fi
if found=$(grep -rnE '#include <(unistd\.h|sys/)' src --include='*.cpp' --include='*.h' |
    grep -v '^src/platform/'); then
  broken "system calls outside platform/" "$found"
fi

# Each folder of the Linux backend belongs to one library, which it alone includes (with GLib,
# which the toolkit's interfaces are made of); its files include the interfaces, support/ and
# their own folder, never another backend folder.
declare -A own=(
  [support]='glib|gio|glib-object|glib-unix'
  [glib]='glib|gio|glib-object|glib-unix'
  [curl]='curl'
  [libsecret]='libsecret|glib|gio|glib-object'
  [gtk]='gtk|gdk|webkit|jsc|pango|X11|glib|gio|glib-object|glib-unix'
)
libraries='gtk|gdk|glib|gio|glib-object|glib-unix|webkit|jsc|libsoup|curl|libsecret|plist|archive|pango|X11'
if found=$(find src/platform/linux -maxdepth 1 -type f); [ -n "$found" ]; then
  broken "a backend outside the library folders" "$found"
fi
for folder in src/platform/linux/*/; do
  name=$(basename "$folder")
  if [ -z "${own[$name]:-}" ]; then
    broken "a backend folder with no library assigned here" "$folder"
    continue
  fi
  if found=$(grep -nE "#include <($libraries)[/.>]" "$folder"* | grep -vE "#include <(${own[$name]})[/.>]"); then
    broken "$name/ includes another library's headers" "$found"
  fi
  if found=$(grep -nE '#include "' "$folder"* |
      grep -vE '#include "(\.\./\.\./[A-Za-z]+\.h|\.\./support/[A-Za-z]+\.h|[A-Za-z]+\.h)"'); then
    broken "$name/ includes another backend folder" "$found"
  fi
done

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
