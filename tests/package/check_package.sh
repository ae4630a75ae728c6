#!/usr/bin/env bash
# Builds the Debian package from the build tree BUILD into a folder of its own
# and checks what it holds and what it declares it needs.
# usage: check_package.sh BUILD
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/quillow_*.deb)

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/quillow ./usr/bin/quillow-render ./usr/bin/quillow-serve \
            ./usr/lib/systemd/system/quillow-serve.service \
            ./usr/share/man/man1/quillow-serve.1 \
            ./usr/share/applications/quillow.desktop \
            ./usr/share/icons/hicolor/scalable/apps/quillow.svg \
            ./usr/share/man/man1/quillow-render.1; do
  grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path" >&2; exit 1; }
done

depends=$(dpkg-deb -f "$deb" Depends)
# From dpkg-shlibdeps (the libraries both programs link) and the plugins.
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6 qt6-qpa-plugins libqt6svg6 \
  "libavcodec[0-9][0-9]*" "libavformat[0-9][0-9]*" libmicrohttpd12; do
  grep -q "\b$needed\b" <<<"$depends" || { echo "not among the dependencies: $needed ($depends)" >&2; exit 1; }
done
# The service is shipped, never started by installing the package.
if dpkg-deb -e "$deb" "$out/control" && compgen -G "$out/control/post*" >/dev/null; then
  ! grep -q "systemctl\|deb-systemd" "$out"/control/post* || { echo "the package starts a service" >&2; exit 1; }
fi
[[ $(dpkg-deb -f "$deb" Package) == quillow ]]
echo "package ok: $(basename "$deb")"
