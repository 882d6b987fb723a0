#!/usr/bin/env bash
# Prints the first Debian mirror named in this machine's own apt sources (deb822 or one-line
# format), skipping the security suites. Scripts that fetch from Debian build their own private
# sources from it, so the system's apt configuration is never touched.
set -euo pipefail
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # Stanzas whose suites are not the security ones; first URI of the first such stanza.
    uri=$(awk 'BEGIN{RS="";FS="\n"} !/Suites:[^\n]*-security/ {
               for (i = 1; i <= NF; i++) if ($i ~ /^URIs:/) { split($i, a, /[ \t]+/); print a[2]; exit } }' "$f")
    [ -n "$uri" ] && { echo "$uri"; exit 0; }
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    uri=$(awk '$1 == "deb" && $3 !~ /-security/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f")
    [ -n "$uri" ] && { echo "$uri"; exit 0; }
done
echo "apt-mirror: no Debian mirror found in /etc/apt/sources.list*" >&2
exit 1
