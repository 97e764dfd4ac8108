#!/usr/bin/env bash
# Installs the packages in DEB_DIR with apt, as on a real system, and uses
# them the way the README says: man zemreg, a program built with pkg-config
# and one with find_package(Zemlink), exchange-sim --help, man rigbench. It runs in a
# mount namespace of its own where /usr, /etc and /var are overlays that
# vanish with it, so the machine itself is left as it was. Needs root (for
# the namespace); without it, it says so and exits with 77.
#   install_in_overlay.sh DEB_DIR
set -euo pipefail
debs="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")/.." && pwd)"

if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
  echo "install in overlay: skipped, a private mount namespace needs root" >&2
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

inside() {
  set -euo pipefail
  for dir in usr etc var; do
    mkdir -p "$work/$dir/upper" "$work/$dir/work"
    mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$work/$dir/upper,workdir=$work/$dir/work" "/$dir"
  done
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q "$debs"/*.deb >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; return 1; }
  dpkg-query -W -f='${Package} ${Version} ${Status}\n' libzemlink0 libzemlink-dev zemlink-tools rigbench sql-provider

  local page help version
  page="$(man -P cat zemreg 2>&1)"
  grep -q "zemreg - read and change" <<<"$page" || { echo "man zemreg shows no page: $page"; return 1; }
  help="$(exchange-sim --help)"
  grep -q -- "--port" <<<"$help" || { echo "exchange-sim --help printed: $help"; return 1; }
  version="$(console-provider --version)"
  grep -q "^console-provider " <<<"$version" || { echo "console-provider --version printed: $version"; return 1; }
  # Rigbench finds its help page from where it is installed; --help needs no display.
  page="$(man -P cat rigbench 2>&1)"
  grep -q "rigbench - " <<<"$page" || { echo "man rigbench shows no page: $page"; return 1; }
  help="$(rigbench --help)"
  grep -q -- "--auto" <<<"$help" || { echo "rigbench --help printed: $help"; return 1; }
  [ -f /usr/share/rigbench/ProviderHelp.html ] || { echo "rigbench's help page is not installed"; return 1; }
  # sql-provider's example, set up as the README says, passes its check.
  mkdir -p /etc/sql-provider "$work/sql"
  sqlite3 "$work/sql/example.db" </usr/share/sql-provider/example.sql
  sed "s|^file = .*|file = $work/sql/example.db|" /usr/share/sql-provider/sql-provider.ini >/etc/sql-provider/example.ini
  sql-provider --check /etc/sql-provider/example.ini || { echo "the example of sql-provider does not pass its check"; return 1; }

  export ZEMLINK_ROOT="$work/data"
  mkdir -p "$ZEMLINK_ROOT"
  cc -Wall -Wextra -Werror -o "$work/consumer" "$here/tests/install/consumer/consumer.c" \
    $(pkg-config --cflags --libs zemlink)
  "$work/consumer"
  cmake -S "$here/tests/install/consumer" -B "$work/consumer-build" >"$work/cmake.log" \
    && cmake --build "$work/consumer-build" >>"$work/cmake.log" || { cat "$work/cmake.log"; return 1; }
  "$work/consumer-build/consumer"
  echo "install in overlay: apt installed the packages; man, pkg-config, find_package and the programs work"
}
export -f inside
export work debs here
unshare --mount --propagation private bash -c inside
