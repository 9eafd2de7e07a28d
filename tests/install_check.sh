#!/bin/sh
# Installs the project into a fresh prefix and runs the installed program as
# an ordinary user, as a desktop user would: the program starts under a
# virtual display, keeps its data and settings in the user's home, counts
# its runs there, and a C program builds against the installed library with
# pkg-config. Exit 77 (skipped) when the machine lacks what it needs.
#   install_check.sh BUILD_DIR           installs into a fresh prefix
#   install_check.sh --installed /usr    checks an install already made there
#                                        (the Debian package)
set -eu

build_dir=$1
installed_prefix=
if [ "$1" = "--installed" ]; then
    installed_prefix=$2
fi
user=olvainstall
home=/home/$user
wait_limit=60   # seconds for a start, a window or an exit

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "needs root to install and to run as another user"
for program in runuser useradd xvfb-run xdotool curl pkg-config cc; do
    command -v "$program" >/dev/null 2>&1 || skip "no $program"
done
if ! id "$user" >/dev/null 2>&1; then
    useradd --create-home --home-dir "$home" --shell /bin/sh "$user" >/dev/null 2>&1 ||
        skip "cannot create the user $user"
fi
[ -d "$home" ] || skip "the user $user has no home under /home"

scratch=$(mktemp -d /tmp/olva-install.XXXXXX)
cleanup() {
    [ -z "${app_pid:-}" ] || kill "$app_pid" 2>/dev/null || true
    # An install made elsewhere gets its own config.ini back.
    [ ! -f "$scratch/config.ini.installed" ] || cp "$scratch/config.ini.installed" "$program_dir/config.ini"
    rm -rf "$scratch" "$home/uWebWorkDir"
}
trap cleanup EXIT
chmod 755 "$scratch"
rm -rf "$home/uWebWorkDir"
if [ -n "$installed_prefix" ]; then
    prefix=$installed_prefix
    autostart_dir=/etc/xdg/autostart
else
    # "/usr/share" in the program's path marks it installed, as under /usr.
    prefix=$scratch/usr
    autostart_dir=$prefix/etc/xdg/autostart
    cmake --install "$build_dir" --prefix "$prefix" >"$scratch/install.log" ||
        fail "install: $(cat "$scratch/install.log")"
fi
program_dir=$prefix/share/olva
pc_file=$(find "$prefix/lib" -name olva.pc | head -n 1)
[ -n "$pc_file" ] || fail "no olva.pc was installed"
PKG_CONFIG_PATH=$(dirname "$pc_file")
export PKG_CONFIG_PATH
libdir=$(pkg-config --variable=libdir olva)
for file in "$program_dir/olva_service" "$program_dir/webroot/doc/index.html" \
        "$program_dir/webroot/test/index.html" "$program_dir/config.ini" \
        "$libdir/libolva.so" "$libdir/pkgconfig/olva.pc" "$prefix/include/olva/cavrel_olva.h" \
        "$prefix/lib/udev/rules.d/70-olva.rules" "$autostart_dir/olva.desktop" \
        "$prefix/share/applications/olva.desktop" "$prefix/share/icons/hicolor/64x64/apps/olva.png"; do
    [ -e "$file" ] || fail "$file was not installed"
done
for entry in "$autostart_dir/olva.desktop" "$prefix/share/applications/olva.desktop"; do
    grep -qx "Exec=$program_dir/olva_service" "$entry" || fail "$entry does not start $program_dir/olva_service"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        desktop-file-validate "$entry" || fail "$entry is not a valid desktop entry"
    fi
done
# The program finds the library of its own prefix, not one of the build.
found=$(ldd "$program_dir/olva_service" | sed -n 's/^[[:space:]]*libolva\.so => \([^ ]*\).*/\1/p')
[ "$(readlink -f "$found")" = "$(readlink -f "$libdir/libolva.so")" ] ||
    fail "olva_service loads libolva.so from '$found'"

# A C program against the installed header and library, through pkg-config.
cat >"$scratch/client.c" <<'CEOF'
#include <stdio.h>
#include <cavrel_olva.h>
int main(void)
{
    /* Not opened: the library answers that it is not open. */
    OLVA_PRODUCT model = OLVA_PRODUCT_TZ2501B;
    printf("%d %d\n", olva_get_product_ID(257), model);
    return 0;
}
CEOF
# shellcheck disable=SC2046
cc -o "$scratch/client" "$scratch/client.c" $(pkg-config --cflags --libs olva) ||
    fail "the C program does not build with pkg-config --cflags --libs olva"
answer=$(LD_LIBRARY_PATH=$libdir "$scratch/client")
[ "$answer" = "-7 10" ] || fail "the C program got '$answer' from olva_get_product_ID and a model id, not -7 10"

# A free port in the installed settings, which the user's copy is seeded from.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cp "$program_dir/config.ini" "$scratch/config.ini.installed"
printf '[CONFIG]\nHttpPort=%s\n' "$port" >"$program_dir/config.ini"
installed_config=$(cat "$program_dir/config.ini")

# Polls a command until it succeeds, for at most wait_limit seconds
# (wait_within: the seconds given first).
wait_within() {
    tries=$(($1 * 5))
    shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.2
    done
}
wait_for() { wait_within "$wait_limit" "$@"; }
# As the user: the service closes connections of any other account.
serving() { runuser -u "$user" -- curl -fsS -o /dev/null "http://127.0.0.1:$port/doc/index.html"; }
exited() { ! kill -0 "$app_pid" 2>/dev/null; }

# One start as the user on a virtual display of its own; the script given
# runs beside the program with the display, and the program is then waited
# for. xdotool answers the first-run question like a user at the keyboard.
run_as_user() {
    runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin \
        LC_ALL=C.UTF-8 GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
        xvfb-run -a sh -c '"$1" >"$2" 2>&1 & echo $! >"$3"; wait' sh \
        "$program_dir/olva_service" "$scratch/run$1.out" "$scratch/run$1.pid" &
    runner=$!
    wait_for test -s "$scratch/run$1.pid" || fail "run $1 did not start"
    app_pid=$(cat "$scratch/run$1.pid")
    wait_for serving || fail "run $1 does not serve: $(cat "$scratch/run$1.out")"
}
chmod 777 "$scratch"

# First start: the restart question; "Yes" ends the program.
run_as_user 1
# xdotool as the user on the program's display.
xdotool_on_app() {
    # shellcheck disable=SC2046
    runuser -u "$user" -- env $(tr '\0' '\n' </proc/"$app_pid"/environ | grep -E '^(DISPLAY|XAUTHORITY)=') \
        xdotool "$@"
}
question() {
    window=$(xdotool_on_app search --name '^vude$' | head -n 1)
    [ -n "$window" ]
}
wait_for question || fail "the first start asks no question"
# Return is "Yes". A box just mapped on a loaded machine may not take keys
# yet: they are sent again while the program runs.
answer_yes() {
    for attempt in 1 2 3 4 5; do
        xdotool_on_app windowfocus --sync "$window" key Return || true
        wait_within 12 exited && return 0
    done
    return 1
}
answer_yes || fail "the first start did not end on Yes"
wait "$runner" || true

# Second start: no question; a SIGTERM ends it as the menu's exit does.
run_as_user 2
if wait_within 5 question; then fail "the second start asks the first-run question again"; fi
kill -TERM "$app_pid"
wait_for exited || fail "the second start did not end on SIGTERM"
wait "$runner" || true
app_pid=

work=$home/uWebWorkDir
for file in "$work/config.ini" "$work/olva.db" "$work/olva-log"; do
    [ -e "$file" ] || fail "$file is missing: the data is not in the user's home"
done
[ "$(stat -c %U "$work/config.ini")" = "$user" ] || fail "$work/config.ini does not belong to $user"
grep -Eq '^system_run_count=2[[:space:]]*$' "$work/config.ini" || fail "two starts left: $(grep system_run_count "$work/config.ini")"
grep -Eq "^HttpPort=$port[[:space:]]*$" "$work/config.ini" || fail "the user's config.ini was not seeded from the installed one"
[ "$(cat "$program_dir/config.ini")" = "$installed_config" ] || fail "the installed config.ini was written"
for out in "$scratch/run1.out" "$scratch/run2.out"; do
    if grep -E 'IniWriteValue err|Opent file' "$out"; then fail "INI errors in $out"; fi
done
if grep -rE 'IniWriteValue err|Opent file' "$work/olva-log"; then fail "INI errors in the log"; fi
echo "installed into $prefix; two starts as $user kept system_run_count=2 in $work"
