#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the installed tree
# elsewhere, and uses it from there the ways another project would: a C
# program built with pkg-config and one built with find_package(Zemlink).
# Then checks the installed library's name, links and exported symbols.
#   install_test.sh BUILD_DIR VERSION PROGRAM...
set -euo pipefail
build="$1"
version="$2"
shift 2
programs=("$@")
here="$(cd "$(dirname "$0")" && pwd)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ZEMLINK_ROOT="$work/root"
mkdir -p "$ZEMLINK_ROOT"

fail() {
  echo "install test: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$work/first/prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
# Nothing in the installed tree may depend on where it was installed.
mv "$work/first" "$work/moved"
prefix="$work/moved/prefix"

pc="$(find "$prefix" -name zemlink.pc)"
[ -n "$pc" ] || fail "no zemlink.pc installed"
libdir="$(cd "$(dirname "$pc")/.." && pwd)"

echo "== pkg-config"
export PKG_CONFIG_PATH="$(dirname "$pc")"
cflags="$(pkg-config --cflags zemlink)"
libs="$(pkg-config --libs zemlink)"
[ "$(pkg-config --modversion zemlink)" = "$version" ] || fail "pkg-config reports version $(pkg-config --modversion zemlink)"
read -r include_flag _ <<<"$cflags"
include_dir="$(cd "${include_flag#-I}" && pwd)"
[ "$include_dir" = "$prefix/include" ] || fail "pkg-config --cflags names $cflags, not the moved prefix $prefix"
[ -f "$include_dir/zemlink.h" ] || fail "zemlink.h is not where pkg-config points"
cc -Wall -Wextra -Werror -o "$work/consumer-pkgconfig" "$here/consumer/consumer.c" $cflags $libs
LD_LIBRARY_PATH="$libdir" "$work/consumer-pkgconfig"
loaded="$(LD_LIBRARY_PATH="$libdir" ldd "$work/consumer-pkgconfig")"
grep -q "libzemlink.so.0 => $libdir/" <<<"$loaded" || fail "the pkg-config consumer does not load libzemlink.so.0 from $libdir"

echo "== find_package(Zemlink)"
cmake -S "$here/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" -DZEMLINK_VERSION="$version" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/consumer-configure.log" \
  || { cat "$work/consumer-configure.log"; exit 1; }
grep -qx "Zemlink_DIR:PATH=$libdir/cmake/Zemlink" "$work/consumer-build/CMakeCache.txt" \
  || fail "find_package(Zemlink) did not find the package in $libdir/cmake/Zemlink: $(grep Zemlink_DIR "$work/consumer-build/CMakeCache.txt")"
cmake --build "$work/consumer-build" >"$work/consumer-build.log" || { cat "$work/consumer-build.log"; exit 1; }
"$work/consumer-build/consumer"

echo "== the installed library"
library="$libdir/libzemlink.so"
[ -L "$library" ] && [ -L "$library.0" ] && [ -f "$library.$version" ] \
  || fail "expected libzemlink.so -> libzemlink.so.0 -> libzemlink.so.$version in $libdir"
soname="$(readelf -d "$library.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
[ "$soname" = "libzemlink.so.0" ] || fail "SONAME is '$soname', not libzemlink.so.0"
# Exactly the functions the installed header declares, no more and no fewer.
sed -n 's/^ZEM_API [^(]* \**\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' "$prefix/include/zemlink.h" | sort >"$work/declared"
nm -D --defined-only "$library.$version" | awk '{print $3}' | sed 's/@.*//' | sort >"$work/exported"
[ "$(wc -l <"$work/declared")" -eq 32 ] || fail "the installed header declares $(wc -l <"$work/declared") functions, not 32"
diff -u "$work/declared" "$work/exported" || fail "the exported names differ from the header's"

echo "== the installed programs and manual pages"
[ ${#programs[@]} -gt 0 ] || fail "no programs named"
for program in "${programs[@]}"; do
  out="$(LD_LIBRARY_PATH="$libdir" QT_QPA_PLATFORM=offscreen "$prefix/bin/$program" --version)"
  [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
  [ -f "$prefix/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
echo "install test: passed"
