#!/usr/bin/env bash
# Installs the Debian packages Corvane needs, when any is missing. Runs apt-get as root,
# through sudo otherwise; apt's messages go to standard error.
#   scripts/deps.sh run          what building and running the program need
#   scripts/deps.sh [test]       that and every tool of the tests, checks and package check
#   scripts/deps.sh --list GROUP the packages of GROUP (run or test), one a line
set -euo pipefail

run=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libxkbcommon-dev
    libmnl-dev libjpeg-dev
    # the privileged helper and its client: sd-bus
    libsystemd-dev
    # the Debian package (scripts/package.sh): icons drawn from the SVG, dependencies found
    librsvg2-bin dpkg-dev file
    # run: the X11 platform plugin, a font, the renderer of the window's pictures
    qt6-qpa-plugins fonts-dejavu-core libqt6svg6
)
test=(
    # GoogleTest, network namespaces, a DHCP server and clients, a virtual screen
    libgtest-dev libgmock-dev
    iproute2 util-linux procps dnsmasq-base isc-dhcp-client dhcpcd-base
    # the tests read the kernel back as JSON and drive small sockets from scripts
    jq python3
    # the JSON report checked against its schema
    python3-jsonschema
    xvfb xauth
    # the helper's tests: a private system bus, polkit stood in, busctl to send it anything
    dbus-daemon python3-dbus python3-dbusmock systemd
    # the real polkitd: the policy test and the package check
    polkitd
    # the network managers the DHCP and route keeper tests drive inside their namespaces
    # (systemd-networkd comes with systemd); never started on the machine itself, see below
    network-manager
    # the checks of the Debian package, its desktop entry, AppStream metadata and manual page,
    # the window found on the virtual screen
    lintian desktop-file-utils appstream man-db x11-utils
    # a tray host that works under Xvfb, and the tools that find and click its icon
    trayer xdotool
    # a window manager, so that window tests see focus and minimising as on a desktop
    openbox
    # code checks
    clang-tidy clang-format
    # fuzzing: clang with libFuzzer's runtime, and a symbolizer for readable crash reports
    clang-14 libclang-rt-14-dev llvm-14
)

usage() {
    echo "usage: scripts/deps.sh [run|test] | --list run|test" >&2
    exit 2
}
group_of() {
    case $1 in
    run) packages=("${run[@]}") ;;
    test) packages=("${run[@]}" "${test[@]}") ;;
    *) usage ;;
    esac
}

if [ "${1:-}" = --list ]; then
    [ $# -eq 2 ] || usage
    group_of "$2"
    printf '%s\n' "${packages[@]}"
    exit 0
fi
[ $# -le 1 ] || usage
set -- "${1:-test}"
group_of "$1"

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
# A test machine gets the network managers' programs, not their services: Debian's
# policy-rc.d keeps the packages from starting them while they are installed.
policy=/usr/sbin/policy-rc.d
made_policy=
if [ "$1" != run ] && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# Left by corvane scripts/deps.sh while it installs test tools.\nexit 101\n' |
        "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 0755 "$policy"
    made_policy=1
fi
status=0
{
    "${sudo_cmd[@]}" apt-get update -qq &&
        "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
} >&2 || status=$?
[ -z "$made_policy" ] || "${sudo_cmd[@]}" rm -f "$policy"
exit "$status"
