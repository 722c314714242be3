#!/usr/bin/env bash
# Builds the Debian package and checks it the way a user meets it: its files and dependencies,
# lintian without errors, the desktop entry and AppStream metadata valid, `apt-get install` of
# it, the installed program's --help, --report - (text, and JSON against the installed schema)
# and boot unit command in a private network namespace, the manual page against --help, the
# desktop entry's command opening the window under Xvfb, the helper used by an unprivileged user through the real polkitd
# (scripts/package-e2e.sh), and a purge that leaves none of the package's files behind.
# Needs root.
# The settings folder /etc/corvane of this machine, if any, is put back afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-check: needs root (installs the package)" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=600)

deb=$(scripts/package.sh)
deb=$(realpath "$deb")
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
# What a user's program does through the installed helper; built beside the package, never in it.
cmake --build "$(dirname "$deb")" --target corvane_package_probe >&2
probe=$(dirname "$deb")/bin/corvane_package_probe

work=$(mktemp -d)
saved=
if [ -e /etc/corvane ]; then
    saved=$work/etc-corvane
    cp -a /etc/corvane "$saved"
fi
cleanup() {
    if dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -q 'install ok'; then
        "${apt[@]}" purge corvane >/dev/null || true
    fi
    rm -rf /etc/corvane
    if [ -n "$saved" ]; then
        cp -a "$saved" /etc/corvane
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package-check: $*" >&2
    exit 1
}

# What the package holds and needs.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for path in /usr/bin/corvane \
    "/usr/lib/$multiarch/corvane/"{libcorvane-window.so,libcorvane-iphlpapi.so,libcorvane-toolhelp.so} \
    /usr/share/corvane/zorvent.hlp /usr/share/corvane/report.schema.json \
    /usr/share/applications/org.corvane.Corvane.desktop \
    /usr/share/metainfo/org.corvane.Corvane.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/corvane.svg \
    /usr/share/icons/hicolor/{16x16,24x24,32x32,48x48,64x64,128x128,256x256}/apps/corvane.png \
    /usr/share/man/man1/corvane.1.gz /usr/lib/systemd/system/corvane-restore-routes.service \
    /usr/share/doc/corvane/examples/routes-example.cfg /usr/share/doc/corvane/copyright \
    /usr/share/doc/corvane/changelog.Debian.gz /usr/share/doc/corvane/README.md; do
    grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
# A build with the privileged helper ships it with its bus, polkit and systemd files.
if [ -e "$(dirname "$deb")/bin/corvane-helper" ]; then
    for pattern in '/corvane-helper$' '^/usr/share/man/man8/corvane-helper.8.gz$' '^/usr/share/dbus-1/system-services/.' \
        '^/usr/share/dbus-1/system.d/.' '^/usr/share/polkit-1/actions/.' \
        '^/usr/lib/systemd/system/corvane-helper'; do
        grep -qE "$pattern" "$work/contents" || fail "the package lacks the helper's $pattern"
    done
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6core6 libqt6svg6 libmnl0 libc6 qt6-qpa-plugins; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
echo "depends: $depends"
# Debian's own checks: an error fails, warnings are shown.
command -v lintian >/dev/null || fail "lintian is missing (scripts/deps.sh test installs it)"
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 ||
    { cat "$work/lintian"; fail "lintian finds errors in the package"; }
if grep -q '^[WE]:' "$work/lintian"; then
    grep '^[WE]:' "$work/lintian" | sed 's/^/lintian: /'
else
    echo "lintian: no errors or warnings"
fi

"${apt[@]}" install --no-install-recommends "$deb" >/dev/null
dpkg -L corvane >"$work/listed"
while read -r path; do
    [ -d "$path" ] || echo "$path"
done <"$work/listed" >"$work/files"
echo "installed: $(wc -l <"$work/files") files"

# The shipped desktop entry and metadata.
desktop-file-validate /usr/share/applications/org.corvane.Corvane.desktop
appstreamcli validate --no-net --explain /usr/share/metainfo/org.corvane.Corvane.metainfo.xml \
    >"$work/appstream" || { cat "$work/appstream"; fail "AppStream metadata not valid"; }

# The installed program, from the PATH, without a display and in a network of its own.
[ "$(command -v corvane)" = /usr/bin/corvane ] || fail "corvane is not /usr/bin/corvane"
export CORVANE_CONFIG_DIR=$work/settings
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
"${nodisplay[@]}" unshare -n corvane --help >"$work/help"
grep -q '^Usage: corvane' "$work/help" || fail "corvane --help printed no usage"
version=$(dpkg-deb -f "$deb" Version)
# The program's version is the package's without its Debian revision.
[ "$(corvane --version)" = "corvane ${version%-*}" ] || fail "corvane --version is not ${version%-*}"
# A network of one veth pair: 10.77.0.1/24 on ve0.
in_network() {
    "${nodisplay[@]}" unshare -n sh -c "ip link set lo up &&
        ip link add ve0 type veth peer name ve1 && ip addr add 10.77.0.1/24 dev ve0 &&
        ip link set ve0 up && ip link set ve1 up && $1"
}
in_network 'corvane --report -' >"$work/report" || fail "corvane --report - failed"
grep -q 'IP Address: 10.77.0.1' "$work/report" || fail "the report lacks the namespace's address"
echo "report: $(wc -l <"$work/report") lines"
# The report as data, valid against the schema the package ships.
in_network 'corvane --report - --json' >"$work/report.json" || fail "corvane --report - --json failed"
python3 scripts/report_json_check.py /usr/share/corvane/report.schema.json "$work/report.json" ||
    fail "the JSON report does not follow the installed schema"

# The boot unit's command restores a stored persistent route.
unit=/usr/lib/systemd/system/corvane-restore-routes.service
command -v systemd-analyze >/dev/null && systemd-analyze verify "$unit"
if command -v deb-systemd-helper >/dev/null; then
    [ -L /etc/systemd/system/multi-user.target.wants/corvane-restore-routes.service ] \
        || fail "the boot unit is not enabled"
fi
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ "${exec_start%% *}" = /usr/bin/corvane ] || fail "the boot unit runs ${exec_start%% *}"
mkdir -p "$CORVANE_CONFIG_DIR"
cat >"$CORVANE_CONFIG_DIR/machine.reg" <<'STORE'
[SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\PersistentRoutes]
"10.94.0.0,255.255.0.0,10.77.0.2,1" = str:""
STORE
# The keeper stays in the foreground: stopped by its pid once the route is there, it ends
# with status 0.
in_network "true || exit 1; $exec_start 2>&1 & keeper=\$!
    for i in \$(seq 50); do ip -4 route show 10.94.0.0/16 | grep -q . && break; sleep 0.1; done
    ip -4 route show 10.94.0.0/16; kill -TERM \$keeper; wait \$keeper" >"$work/restore" \
    || { cat "$work/restore"; fail "the boot unit's command failed"; }
grep -q '^applied ' "$work/restore" && grep -q '^10.94.0.0/16 via 10.77.0.2' "$work/restore" \
    || { cat "$work/restore"; fail "the boot unit's command did not restore the route"; }
echo "boot unit: $exec_start restores a stored route and stops on SIGTERM"

# Every installed unit passes systemd's own check, and every program that an installed unit or
# bus activation file starts is installed: a unit naming another prefix's path would leave the
# bus unable to start the helper.
command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing (scripts/deps.sh installs systemd)"
while read -r path; do
    case $path in
    */systemd/system/*.service | */dbus-1/system-services/*.service) ;;
    *) continue ;;
    esac
    programs=$(sed -n -E 's/^(Exec|ExecStart|ExecStartPre|ExecStartPost|ExecReload|ExecStop|ExecStopPost)=[-@:+!]*([^ ]+).*/\2/p' "$path")
    [ -n "$programs" ] || fail "$path starts no program"
    for program in $programs; do
        [ -x "$program" ] || fail "$path starts $program, which is not installed"
    done
    case $path in
    */systemd/system/*) systemd-analyze verify "$path" || fail "systemd-analyze verify refuses $path" ;;
    esac
    echo "system file: $path starts $(echo $programs)"
done <"$work/files"

# The installed helper as a user meets it: started by the bus from its unit's path, asked by
# an unprivileged user through the installed library, answered by the real polkitd.
scripts/package-e2e.sh "$probe" || fail "the installed helper does not serve a user"
# The same check with a unit naming a helper that is not there must fail, and say why.
helper_unit=/usr/lib/systemd/system/corvane-helper.service
wrong=/usr/local/libexec/corvane-helper
[ ! -e "$wrong" ] || wrong=$work/absent/corvane-helper
sed "s|^ExecStart=.*|ExecStart=$wrong|" "$helper_unit" >"$work/wrong-path.service"
if scripts/package-e2e.sh "$probe" "$work/wrong-path.service" >"$work/wrong-path.log" 2>&1 ||
    ! grep -qF "FAILED: the bus did not start the helper ($wrong)" "$work/wrong-path.log"; then
    cat "$work/wrong-path.log"
    fail "the helper check does not notice a unit that names $wrong"
fi
echo "helper check: a unit naming $wrong fails it"

# The manual page.
scripts/check-manpage.sh /usr/bin/corvane /usr/share/man/man1/corvane.1.gz

# The desktop entry's command opens the window, and no message box beside it.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/org.corvane.Corvane.desktop)
shot=${PACKAGE_SHOT:-$work/window.xwd}
cat >"$work/window.sh" <<'SCRIPT'
# usage: window.sh SHOT COMMAND...: runs COMMAND, waits for its main window, shoots the screen.
shot=$1
shift
"$@" &
pid=$!
ours() { xwininfo -root -children | grep '("corvane" "Corvane")' || true; }
for _ in $(seq 100); do
    if ours | grep -q '"Corvane": '; then
        sleep 2
        xwd -root -silent >"$shot"
        others=$(ours | grep -v '"Corvane": ' || true)
        kill $pid
        wait $pid || true
        [ -z "$others" ] || { echo "other windows: $others"; exit 1; }
        exit 0
    fi
    kill -0 $pid 2>/dev/null || exit 1
    sleep 0.2
done
kill $pid
exit 1
SCRIPT
in_network "env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY xvfb-run -a -s '-screen 0 1024x768x24' \
    bash $work/window.sh $shot ${exec_line//%[fFuUik]/}" >"$work/window.log" 2>&1 || {
    cat "$work/window.log"
    fail "the desktop entry opened no window, or a message box beside it (screen: $shot)"
}
echo "desktop entry: '$exec_line' opens the window"

# A purge takes every file of the package away, but not the administrator's persistent routes.
store=$CORVANE_CONFIG_DIR/machine.reg
unset CORVANE_CONFIG_DIR
if [ ! -e /etc/corvane/machine.reg ]; then
    mkdir -p /etc/corvane
    cp "$store" /etc/corvane/machine.reg
fi
"${apt[@]}" purge corvane >/dev/null
left=$(while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$work/files")
[ -z "$left" ] || fail "left after the purge: $left"
for dir in "/usr/lib/$multiarch/corvane" /usr/share/corvane /usr/share/doc/corvane; do
    [ ! -e "$dir" ] || fail "left after the purge: $dir"
done
if [ ! -e /etc/corvane/machine.reg ]; then
    fail "the purge took the machine's persistent routes"
fi
links=$(find /etc/systemd /var/lib/systemd -name 'corvane-restore-routes*' 2>/dev/null || true)
[ -z "$links" ] || fail "left after the purge: $links"
echo "purge: nothing of the package left, the stored routes kept"
echo "package-check: passed"
