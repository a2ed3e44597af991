#!/bin/sh
# Installs the Debian packages listed in scripts/packages.d/*.txt that are missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
pkgs=$(cat "$here"/packages.d/*.txt | sed 's/#.*//' | tr -s ' \n' '\n' | sed '/^$/d' | sort -u)
missing=""
for p in $pkgs; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -z "$missing" ]; then
    echo "install-deps: everything is installed"
    exit 0
fi
echo "install-deps: installing$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
