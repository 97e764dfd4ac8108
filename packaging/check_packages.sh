#!/usr/bin/env bash
# Checks the Debian packages that scripts/package made in DEB_DIR:
#  - each expected package is there and holds exactly its files;
#  - the dependencies were computed (dpkg-shlibdeps), the library package
#    declares its soname (shlibs), and apt can resolve them all;
#  - lintian reports no error (its warnings are shown);
#  - unpacked, they work: a C program builds against them with pkg-config
#    and runs, the manual pages format, the programs answer --help;
#  - installed with apt (in a throwaway overlay, install_in_overlay.sh,
#    where root may make one), man, pkg-config and find_package work.
#   check_packages.sh DEB_DIR
set -euo pipefail
debs="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")/.." && pwd)"
version="$(sed -n '1s/^zemlink (\([^)]*\)).*/\1/p' "$here/packaging/changelog")"
arch="$(dpkg --print-architecture)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
lib="usr/lib/$multiarch"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
fail() {
  echo "check: $*" >&2
  status=1
}

docs() { echo "usr/share/doc/$1/copyright usr/share/doc/$1/changelog.gz"; }
declare -A files=(
  [libzemlink0]="$lib/libzemlink.so.0 $lib/libzemlink.so.$version $(docs libzemlink0)"
  [libzemlink-dev]="usr/include/zemlink.h $lib/libzemlink.so $lib/pkgconfig/zemlink.pc
    $lib/cmake/Zemlink/ZemlinkConfig.cmake $lib/cmake/Zemlink/ZemlinkConfigVersion.cmake
    $lib/cmake/Zemlink/ZemlinkTargets.cmake $lib/cmake/Zemlink/ZemlinkTargets-none.cmake $(docs libzemlink-dev)"
  [zemlink-tools]="usr/bin/exchange-sim usr/bin/zemreg usr/bin/console-provider
    usr/share/man/man1/exchange-sim.1.gz usr/share/man/man1/zemreg.1.gz usr/share/man/man1/console-provider.1.gz
    $(docs zemlink-tools)"
  [rigbench]="usr/bin/rigbench usr/share/rigbench/ProviderHelp.html usr/share/applications/rigbench.desktop
    usr/share/icons/hicolor/128x128/apps/rigbench.png usr/share/man/man1/rigbench.1.gz $(docs rigbench)"
  [sql-provider]="usr/bin/sql-provider usr/share/man/man1/sql-provider.1.gz usr/share/sql-provider/sql-provider.ini
    usr/share/sql-provider/example.sql usr/lib/systemd/system/sql-provider@.service $(docs sql-provider)"
)
# Each entry (separated by ;) must appear in the package's Depends; the
# versions of system libraries come from dpkg-shlibdeps and are checked
# only by name.
declare -A depends=(
  [libzemlink0]="libc6;libstdc++6;libgcc-s1;libdw1;libinih1"
  [libzemlink-dev]="libzemlink0 (= $version)"
  [zemlink-tools]="libzemlink0 (>= $version);libc6;libstdc++6"
  [rigbench]="libzemlink0 (>= $version);libc6;libstdc++6;libqt6core6;libqt6gui6;libqt6widgets6"
  [sql-provider]="libzemlink0 (>= $version);libc6;libstdc++6;libsqlite3-0;libpq5;libinih1"
)

echo "== contents and dependencies"
for package in "${!files[@]}"; do
  deb="$debs/${package}_${version}_${arch}.deb"
  if [ ! -f "$deb" ]; then
    fail "$package: no $deb"
    continue
  fi
  tr ' ' '\n' <<<"${files[$package]}" | sed '/^$/d; s/^ *//' | sort >"$work/$package.expected"
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./||; /\/$/d; /^$/d' | sort >"$work/$package.contents"
  diff -u "$work/$package.expected" "$work/$package.contents" >"$work/$package.diff" \
    || fail "$package holds other files than expected:$(echo; cat "$work/$package.diff")"

  field="$(dpkg-deb -f "$deb" Depends)"
  echo "$package: Depends: $field"
  IFS=';' read -r -a needed <<<"${depends[$package]}"
  for need in "${needed[@]}"; do
    if [[ "$need" == *"("* ]]; then
      [[ ", $field," == *", $need,"* ]] || fail "$package: Depends lacks '$need'"
    else
      [[ ", $field," =~ ,\ "$need"(\ \(|,) ]] || fail "$package: Depends lacks $need"
    fi
  done
done
shlibs="$(dpkg-deb -I "$debs/libzemlink0_${version}_${arch}.deb" shlibs 2>/dev/null || true)"
[ "$shlibs" = "libzemlink 0 libzemlink0 (>= $version)" ] || fail "libzemlink0: shlibs is '$shlibs'"
triggers="$(dpkg-deb -I "$debs/libzemlink0_${version}_${arch}.deb" triggers 2>/dev/null || true)"
[ "$triggers" = "activate-noawait ldconfig" ] || fail "libzemlink0: triggers is '$triggers'"
apt-get install --simulate "$debs"/*.deb >"$work/apt.log" 2>&1 || fail "apt cannot install the packages:$(echo; cat "$work/apt.log")"

echo "== lintian"
if ! lintian --fail-on error --display-level '>=warning' --tag-display-limit 0 "$debs"/*.deb >"$work/lintian.log" 2>&1; then
  fail "lintian reports errors"
fi
# (As root it also warns that it should not run as root.)
grep -v '^running with root privileges' "$work/lintian.log" >"$work/lintian.tags" || true
if [ -s "$work/lintian.tags" ]; then cat "$work/lintian.tags"; else echo "lintian: no errors, no warnings"; fi

echo "== unpacked"
root="$work/root"
for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$root"; done
export ZEMLINK_ROOT="$work/data"
mkdir -p "$ZEMLINK_ROOT"
export PKG_CONFIG_PATH="$root/$lib/pkgconfig"
if cc -Wall -Wextra -Werror -o "$work/consumer" "$here/tests/install/consumer/consumer.c" \
    $(pkg-config --cflags --libs zemlink) 2>"$work/cc.log"; then
  LD_LIBRARY_PATH="$root/$lib" "$work/consumer" || fail "the consumer built against the packages failed"
else
  fail "a consumer does not build with pkg-config against the packages:$(echo; cat "$work/cc.log")"
fi
for page in "$root"/usr/share/man/man1/*.1.gz; do
  name="$(basename "$page" .1.gz)"
  text="$(MANWIDTH=80 man -l "$page" 2>"$work/man.log")" || fail "man cannot show $page"
  [ ! -s "$work/man.log" ] || fail "man reports on $name: $(cat "$work/man.log")"
  grep -q "^NAME" <<<"$text" || fail "the manual page of $name has no NAME section"
  LD_LIBRARY_PATH="$root/$lib" "$root/usr/bin/$name" --help >/dev/null || fail "$name --help failed"
done

# The unit as systemd reads it, its program at the place it names.
unit="$root/usr/lib/systemd/system/sql-provider@.service"
grep -qx 'ExecStart=/usr/bin/sql-provider /etc/sql-provider/%i.ini' "$unit" || fail "sql-provider@.service starts $(grep ExecStart= "$unit")"
grep -qx 'Restart=on-failure' "$unit" || fail "sql-provider@.service is not started again on failure"
if command -v systemd-analyze >/dev/null; then
  sed "s|/usr/bin/sql-provider|$root/usr/bin/sql-provider|" "$unit" >"$work/sql-provider@.service"
  SYSTEMD_LOG_LEVEL=err systemd-analyze verify --man=no "$work/sql-provider@example.service" >"$work/verify.log" 2>&1 \
    || fail "systemd-analyze finds faults in sql-provider@.service:$(echo; cat "$work/verify.log")"
fi

echo "== installed with apt"
overlay=0
"$here/packaging/install_in_overlay.sh" "$debs" || overlay=$?
case "$overlay" in
  0) ;;
  77) echo "(not run here: it needs root)" ;;
  *) fail "installing the packages with apt, or using them afterwards, failed" ;;
esac

[ "$status" -eq 0 ] && echo "check: the packages in $debs passed"
exit "$status"
