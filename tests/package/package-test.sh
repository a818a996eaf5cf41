#!/usr/bin/env bash
# Builds the Debian package from this build, checks what it holds (validators, dependencies
# from the binaries, the bundle's layout), unpacks it without root rights and starts the
# unpacked application in a temporary home against the substitute server until the join page
# has loaded.
# Usage: package-test.sh BUILD-FOLDER SOURCE-FOLDER
set -euo pipefail
build="$1" source="$2"
work="$(mktemp -d -t kelvane-package-XXXXXX)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb="$(ls "$work"/out/*.deb)"
root="$work/root"
dpkg-deb -x "$deb" "$root"

id=com.Orvo.Tendra.OrvoTendraKelvane
bundle="$root/opt/orvo-tendra-kelvane/Orvo Tendra Kelvane.app"
for item in "$bundle/Contents/Info.plist" "$bundle/Contents/MacOS/OrvoTendraKelvane" \
  "$bundle/Contents/MacOS/kelvane-hdiutil" "$bundle/Contents/MacOS/kelvane-support-logs" \
  "$bundle/Contents/Resources/NoInternetPage.html" "$bundle/Contents/Resources/de.lproj/NoInternetPage.html" \
  "$root/usr/share/applications/$id.desktop" "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" \
  "$root/usr/share/metainfo/com.orvo.tendra.orvotendrakelvane.metainfo.xml"; do
  [ -e "$item" ] || fail "missing from the package: ${item#"$root"}"
done
for size in 16 24 32 48 64 128 256 512; do
  [ -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" ] || fail "no ${size}px icon"
done
launcher="$root/usr/bin/orvo-tendra-kelvane"
[ -x "$launcher" ] && grep -q 'KELVANE_MENU_START=1 exec "/opt/orvo-tendra-kelvane/Orvo Tendra Kelvane.app/Contents/MacOS/OrvoTendraKelvane" "$@"' "$launcher" ||
  fail "the launcher does not start the packaged bundle's program"
# The AppArmor profile ships beside the program; the maintainer scripts place and remove it.
[ -s "$root/usr/share/orvo-tendra-kelvane/apparmor/orvo-tendra-kelvane" ] || fail "no AppArmor profile"
# Upgrades and removals leave the user's home alone: no maintainer script touches it.
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] && [ -x "$work/control/postrm" ] || fail "no postinst or postrm for the profile"
for script in preinst postinst prerm postrm; do
  if [ -e "$work/control/$script" ] && grep -q 'HOME\|/home' "$work/control/$script"; then
    fail "$script touches the home"
  fi
done
[ "$(readlink "$root/usr/bin/orvo-tendra-kelvane-save-logs")" = "/opt/orvo-tendra-kelvane/Orvo Tendra Kelvane.app/Contents/MacOS/kelvane-support-logs" ] ||
  fail "the save-logs launcher does not point at the bundle's command"
desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop entry invalid"
grep -qx "Exec=orvo-tendra-kelvane-save-logs" "$root/usr/share/applications/$id.desktop" ||
  fail "no \"Save logs for support\" action"
grep -qx "StartupWMClass=Orvo Tendra - Kelvane" "$root/usr/share/applications/$id.desktop" ||
  fail "window class"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.orvo.tendra.orvotendrakelvane.metainfo.xml" ||
  fail "metainfo invalid"
# Every shipped language reaches the menu, the software centre and the program.
while read -r language; do
  case "$language" in ''|'#'*) continue ;; esac
  grep -q "^Comment\[$language\]=" "$root/usr/share/applications/$id.desktop" ||
    fail "the menu entry has no $language text"
  grep -q "xml:lang=\"$language\"" "$root/usr/share/metainfo/com.orvo.tendra.orvotendrakelvane.metainfo.xml" ||
    fail "the AppStream data have no $language text"
  [ -f "$root/opt/orvo-tendra-kelvane/Orvo Tendra Kelvane.app/Contents/Resources/locale/$language/LC_MESSAGES/orvo-tendra-kelvane.mo" ] ||
    fail "the bundle has no $language catalogue"
done <"$source/po/LINGUAS"
# The dependencies are worked out from the binaries: the web engine's library is among them.
# libplist is not: its library is named differently on Debian 12 and 13, so one package could
# not install on both.
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libwebkitgtk-6.0-4 libgtk-4-1 libcurl4 libarchive13; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[[ "$depends" != *libplist* ]] || fail "Depends names libplist: $depends"

# The unpacked application against the substitute server, in a home of its own.
"$build/substitute-server" --port-file "$work/port" --ca-out "$work/ca.pem" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
host="127.0.0.1:$(cat "$work/port")"
admin() { curl -s --cacert "$work/ca.pem" "$@"; }
admin -X POST "https://$host/__admin/test-script" -d '{"steps":[],"settleMs":0}' >/dev/null
"$source/scripts/write-deployment.sh" "$bundle/Contents/Resources/Deployment.plist" "$host"
mkdir -p "$work/home"
HOME="$work/home" SSL_CERT_FILE="$work/ca.pem" GTK_A11Y=none \
  "$bundle/Contents/MacOS/OrvoTendraKelvane" -DC com -pathForKelvane join >"$work/app.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do
  if admin "https://$host/__admin/replies" | grep -q '"replies"'; then
    log="$work/home/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log"
    grep -q "App path : $bundle" "$log" || fail "the unpacked bundle did not find itself"
    echo "package-test: $(basename "$deb") holds a valid entry, icons and metainfo, and its application loads the join page"
    exit 0
  fi
  sleep 0.1
done
cat "$work/app.log"
fail "the unpacked application did not load the join page within 60 s"
