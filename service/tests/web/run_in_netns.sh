#!/bin/bash
# Runs the browser tests (pytest in this directory) inside a network
# namespace of their own with only loopback up: doorsim, doorlinkd serve,
# chromedriver and Chromium all live and die in it, and it is deleted
# afterwards, also when the tests fail. Exits 77 (ctest's skip) where no
# namespace can be made or the browser is missing, saying why.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
skip() {
    echo "browser tests skipped: $*"
    exit 77
}

[ "$(id -u)" -eq 0 ] || skip "making a network namespace needs root"
command -v ip >/dev/null 2>&1 || skip "no ip command (iproute2)"
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || skip "no Chromium at ${CHROMIUM:-/usr/bin/chromium}"
[ -x "${CHROMEDRIVER:-/usr/bin/chromedriver}" ] || skip "no chromedriver at ${CHROMEDRIVER:-/usr/bin/chromedriver}"
/usr/bin/python3 -c "import selenium.webdriver" 2>/dev/null || skip "no python3-selenium"

# Namespaces that an earlier run left behind when it was killed outright.
for old in $(ip netns list 2>/dev/null | awk '/^doorlinkd-web-[0-9]+/ {print $1}'); do
    [ -d "/proc/${old#doorlinkd-web-}" ] || ip netns delete "$old" 2>/dev/null
done

ns="doorlinkd-web-$$"
ip netns add "$ns" 2>/dev/null || skip "ip netns add failed (no network namespaces here)"
trap 'ip netns delete "$ns" 2>/dev/null' EXIT
trap 'exit 143' INT TERM
ip netns exec "$ns" ip link set lo up || exit 1

DOORLINKD_WEB_NETNS="$ns" ip netns exec "$ns" /usr/bin/python3 -m pytest -q -p no:cacheprovider "$here" "$@"
