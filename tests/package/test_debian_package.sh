#!/usr/bin/env bash
# The Debian package of an already built tree: what it holds, what it depends on, and that
# apt can install it here.
#   test_debian_package.sh BUILD_DIR VERSION
set -uo pipefail
build=$1 version=$2
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (./dev installs it)"; exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(echo "$scratch"/framewell_"$version"_*.deb)
[[ -f $deb ]] || { ls "$scratch"; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in bin/framewell bin/framewell-convert \
    share/applications/framewell.desktop share/metainfo/com.example.framewell.metainfo.xml \
    share/icons/hicolor/scalable/apps/framewell.svg share/icons/hicolor/48x48/apps/framewell.png \
    share/framewell/help/Introduction.htm share/man/man1/framewell.1.gz \
    share/man/man1/framewell-convert.1.gz share/bash-completion/completions/framewell-convert \
    share/doc/framewell/copyright share/doc/framewell/changelog.gz; do
    grep -qx "./usr/$path" <<<"$contents" || fail "the package lacks /usr/$path"
done
dpkg-deb -x "$deb" "$scratch/root"
for program in framewell framewell-convert; do
    file "$scratch/root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

# From the linked libraries, and the plugins loaded at run time.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6widgets6 libgstreamer1.0-0 libges-1.0-0 gstreamer1.0-libav \
    qt6-qpa-plugins; do
    grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

if command -v apt-get >/dev/null; then
    apt-get install -s "$deb" >"$scratch/apt.log" 2>&1 && grep -q '^Inst framewell ' "$scratch/apt.log" ||
        { cat "$scratch/apt.log"; fail "apt-get cannot install the package"; }
fi
if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" || fail "lintian finds errors"
fi

echo "$(stat -c %s "$deb") bytes; Depends: $depends"
exit $((failures > 0))
