#!/usr/bin/env bash
# Installs the Debian packages Corvane needs to build, run and test, when any is missing.
# Runs apt-get as root, through sudo otherwise.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
    libmnl-dev libjpeg-dev
    # the privileged helper and its client: sd-bus
    libsystemd-dev
    # run: the X11 platform plugin, a font
    qt6-qpa-plugins fonts-dejavu-core
    # test: GoogleTest, network namespaces, a DHCP server and client, a virtual screen
    libgtest-dev libgmock-dev
    iproute2 util-linux procps dnsmasq-base isc-dhcp-client dhcpcd-base
    # the tests read the kernel back as JSON and drive small sockets from scripts
    jq python3
    xvfb xauth
    # the helper's tests: a private system bus, polkit stood in, busctl to send it anything
    dbus-daemon python3-dbus python3-dbusmock systemd
    # the real polkitd: the policy test and the package check
    polkitd
    # the Debian package: icons drawn from the SVG, dependencies, the checks of the desktop
    # entry, AppStream metadata and manual page, the window found on the virtual screen
    librsvg2-bin dpkg-dev file desktop-file-utils appstream man-db x11-utils
    # a tray host that works under Xvfb, and the tools that find and click its icon
    trayer xdotool
    # a window manager, so that window tests see focus and minimising as on a desktop
    openbox
    # code checks
    clang-tidy clang-format
    # fuzzing: clang with libFuzzer's runtime, and a symbolizer for readable crash reports
    clang-14 libclang-rt-14-dev llvm-14
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
