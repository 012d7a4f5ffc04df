#!/usr/bin/env bash
# Checks the Debian packages that `make package` wrote to build/package/packages/:
#   - lintian finds no error in any of them (the warnings left are justified in packaging/lintian/);
#   - extracted into a temporary root (dpkg-deb -x), the consumers of tests/package build against
#     them with CMake and with pkg-config and run;
#   - the extracted connector-host prints its version and answers the example session;
#   - the systemd user unit passes systemd-analyze verify.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=build/package/packages
shopt -s nullglob
debs=("$packages"/*.deb)
[ ${#debs[@]} -ge 3 ] || { echo "check-packages: no packages in $packages (make package)" >&2; exit 1; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
step() { echo "== check-packages: $*"; }

step "lintian"
lintian --fail-on error "${debs[@]}"

step "extracting into $root"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
usr=$root/usr
libdir=$(dirname "$(find "$usr/lib" -name 'libconnector_information.so.2' | head -n 1)")

step "the stripped library"
file -L "$libdir/libconnector_information.so.2" | grep -q ', stripped'

step "consumers built with CMake"
for consumer in standin-consumer plugin-consumer; do
  cmake -S "tests/package/$consumer" -B "$root/build/$consumer" -G Ninja \
        -DCMAKE_PREFIX_PATH="$usr" >/dev/null
  cmake --build "$root/build/$consumer" >/dev/null
  "$root/build/$consumer/$consumer" >/dev/null
done

step "the plug-in consumer built with pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --define-variable=prefix="$usr" --cflags --libs quorix-connector-information)
# shellcheck disable=SC2086
c++ -std=c++17 tests/package/plugin-consumer/main.cpp $flags -o "$root/pkg-config-consumer"
LD_LIBRARY_PATH=$libdir "$root/pkg-config-consumer" >/dev/null

step "connector-host from the packages"
version=$("$usr/bin/connector-host" --version)
[[ $version == "connector-host "* ]]
examples=$usr/share/doc/quorix-connector-host-standin/examples
answers=$("$usr/bin/connector-host" --engine "$examples/engine.json" "$examples/session.jsonl")
[[ $answers == *'"type":"connector/v1/EnabledFeaturesResponse"'* ]]
man=$(zcat "$usr/share/man/man1/connector-host.1.gz")
[[ $man == *'.SH EXAMPLES'* ]]

step "systemd-analyze verify (user manager)"
# The unit as installed, with its program taken from the extracted root; any remark fails.
mkdir -m 700 "$root/runtime" "$root/unit"
sed "s|/usr/bin/connector-host|$usr/bin/connector-host|" \
  "$usr/lib/systemd/user/connector-host.service" > "$root/unit/connector-host.service"
remarks=$(XDG_RUNTIME_DIR=$root/runtime systemd-analyze --user verify --man=no \
          "$root/unit/connector-host.service" 2>&1)
[ -z "$remarks" ] || { echo "$remarks" >&2; exit 1; }
step "all checks passed"
