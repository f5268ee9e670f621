#!/usr/bin/env bash
# The Debian package installs into an empty root, its programs run from there, lintian finds no
# error in it, and removing it leaves nothing behind.
# Usage: package_install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$build"/package/*.deb
(cd "$build" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls -t "$build"/package/*.deb | head -n 1)
echo "package: $deb"
dpkg-deb --field "$deb" Depends | grep -q libcurl || { echo "Depends lacks the computed libraries"; exit 1; }

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The libraries it depends on are the build machine's, outside the empty root.
pkg() { dpkg --root="$root" --force-not-root --force-depends --log=/dev/null "$@"; }
pkg -i "$deb" >/dev/null

for file in usr/bin/velmora usr/bin/velmora-locker usr/share/man/man1/velmora.1.gz \
  usr/share/man/man1/velmora-locker.1.gz usr/share/bash-completion/completions/velmora \
  usr/share/doc/velmora-uploader/copyright usr/lib/systemd/user/velmora-watch.service; do
  [ -e "$root/$file" ] || { echo "missing from the package: /$file"; exit 1; }
done
grep -qx 'ExecStart=/usr/bin/velmora watch' "$root/usr/lib/systemd/user/velmora-watch.service" ||
  { echo "the user service does not start /usr/bin/velmora"; exit 1; }
version=$("$root/usr/bin/velmora" --version)
[ "$version" = "$(dpkg-deb --field "$deb" Version)" ] || { echo "velmora --version says '$version'"; exit 1; }
"$root/usr/bin/velmora-locker" --help | grep -q -- '--port' || { echo "velmora-locker --help failed"; exit 1; }

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" 2>/dev/null || { echo "lintian found errors (above)"; exit 1; }
fi

pkg --purge velmora-uploader >/dev/null
left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" -not -path "$root/var/lib/dpkg*")
[ -z "$left" ] || { echo "left behind after removal:"; echo "$left"; exit 1; }
echo "installed, ran and removed cleanly"
