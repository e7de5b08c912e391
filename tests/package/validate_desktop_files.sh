#!/usr/bin/env bash
# The desktop entry and the AppStream description as the distribution's validators read them.
#   validate_desktop_files.sh DESKTOP_ENTRY METAINFO
set -uo pipefail
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (./dev installs it)"; exit 77; }
done
failures=0
said=$(desktop-file-validate "$1" 2>&1) && [[ -z $said ]] || { echo "$said"; failures=1; }
appstreamcli validate --no-net --explain "$2" || failures=1
exit $failures
