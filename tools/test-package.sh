#!/usr/bin/env bash
# Checks the Debian package the way a user meets it.
#   tools/test-package.sh [package.deb]
# Without a package, tools/build-package.sh makes one first.
#
# 1. The package itself: its version is the program's own version text, it holds exactly the
#    expected files, its dependencies include what the embedded bridge library links, the desktop
#    entry and the AppStream metainfo validate, lintian reports no error (its warnings are shown).
# 2. Installed on a fresh Debian 12 in a throw-away root (mmdebstrap + chroot, as root):
#    `apt-get install ./qingyou_*.deb` brings in the dependencies; the program, started as an
#    ordinary user from its desktop entry on a virtual X display, shows its notice window, then
#    its ready main window with the browser bridge started, keeps its data in the user's data
#    folder (it cannot write /usr/bin) and ends with code 0; `apt-get remove` leaves none of its
#    files behind.
#    Where no chroot can be had (not root, no mmdebstrap, no reachable Debian mirror) the package
#    is installed with `dpkg --root` into a folder instead, its file list is checked, the program
#    runs from there against the libraries of this machine, and the package is removed again.
#
# Settings (environment):
#   QY_PACKAGE_TEST_MODE   chroot or dpkg-root; by default chroot when it can be had
#   QY_DEBIAN_MIRROR       Debian mirror for the throw-away root (default: the first Debian archive
#                          this machine's apt sources name)
#   QY_PACKAGE_TEST_CACHE  folder keeping downloaded packages between runs (default
#                          build-package-test/apt-cache); empty for none
#   QY_PACKAGE_TEST_SHOTS  folder for screenshots of the installed program's notice and main
#                          windows (none by default)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

step() { echo "== [${SECONDS}s] $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=${1:-}
if [ -z "$deb" ]; then
  step "Building the package"
  deb=$(bash tools/build-package.sh | tail -1)
fi
[ -f "$deb" ] || fail "no package at $deb"
deb=$(realpath "$deb")

# The machine's own Debian archive, as its apt sources (one-line or deb822 form) name it.
apt_mirror() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -f "$f" ]; then cat "$f"; fi
  done |
    sed -n -e 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)\/*[[:space:]]*$/\1/p' \
      -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\/debian\)\/*[[:space:]].*/\2/p' | head -n 1
}
mirror=${QY_DEBIAN_MIRROR:-$(apt_mirror || true)}
mode=${QY_PACKAGE_TEST_MODE:-}
if [ -z "$mode" ]; then
  if [ "$(id -u)" = 0 ] && command -v mmdebstrap >/dev/null &&
     unshare --mount --propagation private true 2>/dev/null &&
     curl -fsS -o /dev/null --max-time 20 "$mirror/dists/bookworm/Release"; then
    mode=chroot
  elif [ "$(id -u)" != 0 ] && command -v mmdebstrap >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n --preserve-env=PATH,QY_DEBIAN_MIRROR,QY_PACKAGE_TEST_CACHE bash "$0" "$deb"
  else
    mode=dpkg-root
  fi
fi
echo "Package: $deb"
echo "Mode: $mode"

work=$(mktemp -d /tmp/qy-package-test-XXXXXX)
chmod 755 "$work"
xvfb_pid=""
program_pid=""
page_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$page_pid" ] && kill "$page_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  # Mounts of the throw-away root live in their own mount namespace and are gone by now.
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

#
# 1. The package itself.
#
version=$(sed -n 's/^inline constexpr const char\* kCurrentVersion = "\([^"]*\)";.*/\1/p' src/app/program_values.h)
[ -n "$version" ] || fail "no version text in src/app/program_values.h"
arch=$(dpkg --print-architecture)
step "Package version and name"
[ "$(dpkg-deb -f "$deb" Package)" = qingyou ] || fail "package name is not qingyou"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  fail "package version $(dpkg-deb -f "$deb" Version) is not the program's version $version"
[ "$(basename "$deb")" = "qingyou_${version}_${arch}.deb" ] || fail "unexpected file name $(basename "$deb")"
echo "version $version"

expected_files() {
  cat <<EOF
/usr/bin/qingyou
/usr/share/applications/qingyou.desktop
/usr/share/doc/qingyou/changelog.gz
/usr/share/doc/qingyou/copyright
EOF
  for size in 16 22 24 32 48 64 128 256; do
    echo "/usr/share/icons/hicolor/${size}x${size}/apps/qingyou.png"
  done
  cat <<EOF
/usr/share/man/man1/qingyou.1.gz
/usr/share/metainfo/io.github.qingyou.qingyou.metainfo.xml
EOF
}
expected_files | sort >"$work/expected"

step "Files of the package"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort >"$work/listed"
if ! diff -u "$work/expected" "$work/listed"; then fail "the package does not hold exactly the expected files"; fi
echo "$(wc -l <"$work/listed") files as expected"

step "Dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# From the executable, from the bridge library it carries inside itself, and the engine's helper.
for name in libc6 libqt6widgets6 libcurl4 libqt6webenginecore6 libqt6webenginewidgets6 libqt6webenginecore6-bin; do
  echo "$depends" | tr ',' '\n' | grep -qE "^ *$name( |$)" || fail "Depends lacks $name"
done

mkdir "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
step "desktop-file-validate"
desktop-file-validate "$work/unpacked/usr/share/applications/qingyou.desktop" || fail "the desktop entry does not validate"
step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$work/unpacked/usr/share/metainfo/io.github.qingyou.qingyou.metainfo.xml" ||
  fail "the metainfo does not validate"
step "lintian"
# lintian exits non-zero on errors; every tag is shown, errors fail the check.
lintian_rc=0
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || lintian_rc=$?
cat "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then fail "lintian reports errors"; fi
[ $lintian_rc = 0 ] || fail "lintian failed ($lintian_rc)"
echo "lintian: no error ($(grep -c '^W: ' "$work/lintian.txt" || true) warnings)"

#
# 2. Installed, it works.
#

# Sends WM_DELETE_WINDOW, what a window manager's close button sends.
cat >"$work/close.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char** argv)
{
    (void)argc;
    Display* d = XOpenDisplay(0);
    if (!d)
        return 1;
    XEvent e = {0};
    e.xclient.type = ClientMessage;
    e.xclient.window = strtoul(argv[1], 0, 0);
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(d);
    return 0;
}
C
cc "$work/close.c" -o "$work/close" -lX11

# A virtual X display on a free display number, shared with the throw-away root through its socket.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -1 "$work/display")"
echo "Display $DISPLAY"

# Waits up to $1 seconds for a window the xdotool search $2... finds, while the program runs.
# Gives up at once when a window named $unwanted_window shows.
unwanted_window=""
wait_window() {
  local limit=$1 id=""
  shift
  for _ in $(seq 1 $((limit * 5))); do
    id=$(xdotool search "$@" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$program_pid" 2>/dev/null || return 1
    if [ -n "$unwanted_window" ] && xdotool search --name "$unwanted_window" >/dev/null 2>&1; then
      return 1
    fi
    sleep 0.2
  done
  return 1
}

# Shows why the program did not get where it should.
program_trouble() {
  echo "--- program output" >&2
  cat "$work/program.log" >&2 || true
  echo "--- windows on the display" >&2
  xdotool search --name '.' 2>/dev/null | while read -r w; do xdotool getwindowname "$w"; done >&2 || true
  fail "$*"
}

# A screenshot of the whole display, when asked for.
shoot() {
  [ -n "${QY_PACKAGE_TEST_SHOTS:-}" ] || return 0
  mkdir -p "$QY_PACKAGE_TEST_SHOTS"
  sleep 1
  import -window root "$QY_PACKAGE_TEST_SHOTS/$1.png" || true
}

# The Exec line of the installed desktop entry, without field codes.
desktop_exec() {
  sed -n 's/^Exec=//p' "$1" | head -1 | sed -E 's/ ?%[fFuUdDnNickvm]//g'
}

# Runs the program as the ordinary user through $1 (a command prefix that takes a shell command)
# and checks start-up, the per-user data folder ($2, as seen from this script) and the exit code.
run_program() {
  local runner=$1 data=$2 exec_line=$3 notice main dialog geometry code
  step "Starting the program from its desktop entry: $exec_line"
  $runner "exec $exec_line" >"$work/program.log" 2>&1 &
  program_pid=$!
  notice=$(wait_window 180 --name '无视直接×掉') ||
    program_trouble "the notice window did not show${unwanted_window:+ (or a window named $unwanted_window did)}"
  echo "notice window shown ($notice)"
  shoot notice
  "$work/close" "$notice"
  main=$(wait_window 180 --onlyvisible --name '青柚动漫') || program_trouble "the main window did not show"
  dialog=$(xdotool search --onlyvisible --name '您系统缺少 webview2 组件' 2>/dev/null | head -1 || true)
  [ -z "$dialog" ] || program_trouble "the program reports the browser engine missing"
  # Start-up places the ready main window at 10,10 once the browser bridge has started.
  for _ in $(seq 1 300); do
    geometry=$(xdotool getwindowgeometry "$main" 2>/dev/null | sed -n 's/^ *Position: \([0-9]*,[0-9]*\).*/\1/p')
    [ "$geometry" = "10,10" ] && break
    sleep 0.2
  done
  [ "$geometry" = "10,10" ] || program_trouble "the main window is not at 10,10 (at $geometry): start-up did not finish"
  echo "main window ready at 10,10 ($main)"
  shoot main
  for _ in $(seq 1 150); do
    [ -f "$data/数据.ini" ] && [ -f "$data/WebView2Plus.so" ] && break
    sleep 0.2
  done
  [ -f "$data/数据.ini" ] || program_trouble "no settings file in the per-user data folder $data"
  [ -f "$data/WebView2Plus.so" ] || program_trouble "no bridge library in the per-user data folder $data"
  echo "per-user data folder in use: $(ls "$data" | tr '\n' ' ')"
  "$work/close" "$main"
  code=0
  for _ in $(seq 1 150); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.2; done
  wait "$program_pid" || code=$?
  program_pid=""
  [ $code = 0 ] || program_trouble "the program ended with code $code"
  echo "program closed, exit code 0"
}

# The version the installed program holds is the package's: started again with an update page
# ("更新地址" in its settings file $2, on a loopback server) that publishes the package version, it
# fetches the page and goes on to its notice window; any other version text would make it show the
# update message instead. $1 and $3 as for run_program.
check_program_version() {
  local runner=$1 data=$2 exec_line=$3 port="" settings
  step "The installed program holds version $version (update page publishing $version)"
  python3 - "$work/update-page" "[版本1]${version}[版本2]" <<'PY' &
import http.server, sys
folder, body = sys.argv[1], sys.argv[2].encode()
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(folder + ".log", "a") as log:
            log.write(self.path + "\n")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Page)
with open(folder + ".port", "w") as f:
    f.write(str(server.server_port))
server.serve_forever()
PY
  page_pid=$!
  for _ in $(seq 1 100); do [ -s "$work/update-page.port" ] && break; sleep 0.1; done
  port=$(cat "$work/update-page.port")
  [ -n "$port" ] || fail "the update page server did not start"
  # The settings file is GB18030 text with CRLF lines; its owner stays the user.
  settings=$(iconv -f GB18030 -t UTF-8 "$data/数据.ini" |
    sed "s|^\[配置项\]\r\$|[配置项]\r\n更新地址=http://127.0.0.1:$port/version.txt\r|" | iconv -f UTF-8 -t GB18030)
  printf '%s\n' "$settings" >"$data/数据.ini"
  grep -q "127.0.0.1:$port" "$data/数据.ini" || fail "could not set 更新地址 in $data/数据.ini"
  unwanted_window='^信息：$'
  run_program "$runner" "$data" "$exec_line"
  unwanted_window=""
  kill "$page_pid" 2>/dev/null || true
  wait "$page_pid" 2>/dev/null || true
  page_pid=""
  grep -qx /version.txt "$work/update-page.log" 2>/dev/null || fail "the program did not fetch the update page"
  echo "update page fetched, version $version accepted"
}

if [ "$mode" = chroot ]; then
  root="$work/root"
  cache=${QY_PACKAGE_TEST_CACHE-$repo/build-package-test/apt-cache}
  [ -z "$cache" ] || mkdir -p "$cache/partial"
  security=${QY_DEBIAN_SECURITY_MIRROR:-${mirror%/debian}/debian-security}
  mkdir -p "$root"
  cat >"$work/in-root.sh" <<'SH'
set -euo pipefail
SECONDS=$outer_seconds
# Runs in its own mount namespace: the throw-away root lives in memory there, and it and every
# mount below disappear with the namespace.
program_pid=""
page_pid=""
trap '[ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null; [ -z "$page_pid" ] || kill "$page_pid" 2>/dev/null; true' EXIT
mount -t tmpfs -o mode=755 tmpfs "$root"
step "A fresh Debian 12 in $root (mmdebstrap)"
hooks=()
if [ -n "$cache" ]; then
  # Downloaded packages are kept between runs.
  hooks=(--skip=essential/unlink
    --setup-hook='mkdir -p "$1"/var/cache/apt/archives/'
    --setup-hook="sync-in $cache /var/cache/apt/archives/"
    --customize-hook="sync-out /var/cache/apt/archives $cache")
fi
mmdebstrap --quiet --mode=root --variant=apt "${hooks[@]}" bookworm "$root" \
  "deb $mirror bookworm main" "deb $mirror bookworm-updates main" "deb $security bookworm-security main"
cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
chroot "$root" useradd --create-home --shell /bin/bash --uid 23456 qytest
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
[ -z "$cache" ] || mount --bind "$cache" "$root/var/cache/apt/archives"
export DEBIAN_FRONTEND=noninteractive
step "apt-get install ./$(basename "$deb")"
chroot "$root" apt-get update -q
# Without recommended packages: what the package depends on must be enough to run it.
# (The throw-away root needs no safe writes.)
chroot "$root" sh -c "cd /tmp && apt-get install -y -q --no-install-recommends \
  -o DPkg::Options::=--force-unsafe-io ./$(basename "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
grep -E '^(Need to get|After this|Setting up qingyou|[0-9]+ upgraded)' "$work/apt.log" || true
chroot "$root" dpkg-query -W -f='${Status} ${Version}\n' qingyou | grep -qx "install ok installed $version" ||
  fail "qingyou $version is not installed"
chroot "$root" dpkg -L qingyou | sort >"$work/installed"
while read -r f; do [ -e "$root$f" ] || fail "$f is not installed"; done <"$work/expected"
echo "installed: $(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package} ${Version}\n' qingyou)"
chroot --userspec=qytest:qytest "$root" sh -c '! test -w /usr/bin' ||
  fail "/usr/bin can be written by the user"
install -d -m 700 -o "$(stat -c %u "$root/home/qytest")" -g "$(stat -c %g "$root/home/qytest")" \
  "$root/tmp/runtime-qytest"
as_user() {
  chroot --userspec=qytest:qytest "$root" env -i HOME=/home/qytest USER=qytest LOGNAME=qytest \
    SHELL=/bin/bash PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY" \
    XDG_RUNTIME_DIR=/tmp/runtime-qytest sh -c "$1"
}
touch "$work/before-run"
sleep 1
run_program as_user "$root/home/qytest/.local/share/qingyou/DaTa" \
  "$(desktop_exec "$root/usr/share/applications/qingyou.desktop")"
check_program_version as_user "$root/home/qytest/.local/share/qingyou/DaTa" \
  "$(desktop_exec "$root/usr/share/applications/qingyou.desktop")"
written=$(find "$root/usr" "$root/etc" "$root/opt" -newer "$work/before-run" -not -type d 2>/dev/null | head -5)
[ -z "$written" ] || fail "the program wrote outside the user's folders: $written"
step "apt-get remove qingyou"
chroot "$root" apt-get remove -y -q qingyou >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get remove failed"; }
grep -E '^(Removing|[0-9]+ upgraded)' "$work/apt.log" || true
status=$(chroot "$root" dpkg-query -W -f='${db:Status-Status}' qingyou 2>/dev/null || echo not-installed)
[ "$status" = not-installed ] || fail "after removal the package is still $status"
left=""
while read -r f; do
  if [ -e "$root$f" ] && [ ! -d "$root$f" ]; then left="$left $f"; fi
done <"$work/installed"
[ -z "$left" ] || fail "files left after removal:$left"
echo "removed cleanly"
SH
  export root deb cache version work mirror security
  export unwanted_window
  export -f step fail wait_window program_trouble shoot desktop_exec run_program check_program_version
  outer_seconds=$SECONDS
  export outer_seconds
  unshare --mount --propagation private bash "$work/in-root.sh"
else
  # dpkg --root: no dependency resolution, so the program runs against this machine's libraries.
  root="$work/root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  dpkg_root() { dpkg --root="$root" --log=/dev/null --force-not-root --force-depends --force-script-chrootless "$@"; }
  step "dpkg --root $root --install"
  # It installs in spite of the dependencies it lacks there (they are this machine's).
  dpkg_root --install "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --install failed"; }
  dpkg_root -L qingyou | sort >"$work/installed"
  while read -r f; do [ -e "$root$f" ] || fail "$f is not installed"; done <"$work/expected"
  echo "installed: $(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package} ${Version}\n' qingyou)"
  # The program folder is not writable for the user who runs the program.
  chmod -R a-w "$root/usr"
  home="$work/home"
  mkdir -p "$home"
  if [ "$(id -u)" = 0 ]; then
    chown nobody "$home"
    as_user() {
      runuser -u nobody -- env -i HOME="$home" PATH="$root/usr/bin:/usr/bin:/bin" LANG=C.UTF-8 \
        DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$home" sh -c "$1"
    }
  else
    as_user() {
      env -i HOME="$home" PATH="$root/usr/bin:/usr/bin:/bin" LANG=C.UTF-8 DISPLAY="$DISPLAY" \
        XDG_RUNTIME_DIR="$home" sh -c "$1"
    }
  fi
  chmod 700 "$home"
  as_user '! test -w "$(dirname "$(command -v qingyou)")"' || fail "the program folder can be written"
  run_program as_user "$home/.local/share/qingyou/DaTa" \
    "$(desktop_exec "$root/usr/share/applications/qingyou.desktop")"
  check_program_version as_user "$home/.local/share/qingyou/DaTa" \
    "$(desktop_exec "$root/usr/share/applications/qingyou.desktop")"
  chmod -R u+w "$root/usr"
  step "dpkg --root $root --remove qingyou"
  dpkg_root --remove qingyou >/dev/null
  left=""
  while read -r f; do
    if [ -e "$root$f" ] && [ ! -d "$root$f" ]; then left="$left $f"; fi
  done <"$work/installed"
  [ -z "$left" ] || fail "files left after removal:$left"
  echo "removed cleanly"
fi
step "Package test passed"
