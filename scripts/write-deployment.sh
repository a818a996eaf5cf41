#!/usr/bin/env bash
# Writes a Deployment.plist whose every data centre is HOST, for development and tests:
#   scripts/write-deployment.sh OUTPUT HOST [LOCAL_DOMAIN (default localhost)]
# The keys come from cmake/deployment-hosts.txt, the one list of them.
set -euo pipefail
output="$1"; host="$2"; domain="${3:-localhost}"
keys="$(dirname "$0")/../cmake/deployment-hosts.txt"
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">'
  echo '<plist version="1.0">'
  echo '<dict>'
  grep -v '^#' "$keys" | while read -r key _; do
    [ -n "$key" ] || continue
    value="$host"
    [ "$key" = localDomain ] && value="$domain"
    printf '\t<key>%s</key>\n\t<string>%s</string>\n' "$key" "$value"
  done
  echo '</dict>'
  echo '</plist>'
} >"$output.tmp"
mv "$output.tmp" "$output"
