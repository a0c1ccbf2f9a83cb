#!/bin/sh
# Builds the Debian packages (cpack) in build-package/ with the final prefix /usr and checks
# the server package's contents (dpkg-deb -c: mode, owner, path, link target) against
# packaging/debian/vexlan.contents, and the SDK package for its essential files.
#   scripts/check-package.sh            build and check
#   scripts/check-package.sh --update   rewrite the expected list from the package built
set -eu
cd "$(dirname "$0")/.."
dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DVX_TESTS=OFF -DVX_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$dir" -j2 --target vexland vexlanctl vexlan-worker vexlan-worker-sdk
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)

server=$(ls "$dir"/vexlan_*.deb)
sdk=$(ls "$dir"/vexlan-dev_*.deb)
listing() {
  dpkg-deb -c "$1" | awk '{ line = $1 " " $2; for (i = 6; i <= NF; ++i) line = line " " $i; print line }' |
    sort
}
expected=packaging/debian/vexlan.contents
if [ "${1:-}" = --update ]; then
  listing "$server" >"$expected"
  echo "check-package: wrote $expected"
  exit 0
fi
if ! listing "$server" | diff -u "$expected" -; then
  echo "check-package: $server differs from $expected (--update rewrites it)" >&2
  exit 1
fi

control=$(dpkg-deb -f "$server")
echo "$control" | grep -q "^Depends: .*libsqlite3" || { echo "check-package: no shlibs dependencies" >&2; exit 1; }
[ "$(dpkg-deb --ctrl-tarfile "$server" | tar -xO ./conffiles)" = /etc/vexlan/vexlan.conf ] ||
  { echo "check-package: /etc/vexlan/vexlan.conf is not a conffile" >&2; exit 1; }
sdk_files=$(dpkg-deb -c "$sdk" | awk '{ print $6 }')
for f in ./usr/include/vexlan/sdk/worker.h ./usr/lib/x86_64-linux-gnu/libvexlan-worker.a \
         ./usr/lib/x86_64-linux-gnu/pkgconfig/vexlan-worker.pc \
         ./usr/lib/x86_64-linux-gnu/cmake/VexlanWorker/VexlanWorkerConfig.cmake; do
  case "$(dpkg --print-architecture)" in
    amd64) ;;
    *) f=$(echo "$f" | sed "s|x86_64-linux-gnu|$(dpkg-architecture -qDEB_HOST_MULTIARCH)|") ;;
  esac
  echo "$sdk_files" | grep -qx "$f" || { echo "check-package: $f missing from $sdk" >&2; exit 1; }
done
echo "check-package: $(basename "$server") and $(basename "$sdk") OK"
