# Sourced by run-console-tests, run-ansible-test and the kernel tier's run-kernel-tests: the
# images, the combined program, and the checks of a scenario's runs.

# prepare: WORK ($work) made anew and entered; old.bin (5.0V) and image.bin (5.1V), each holding
# its revision at 0x100 as a drive's flash does; flash-upgrade ($program) filled with image.bin.
# No run reaches the machine's own system bus (logind): only one of its own.
prepare() {
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-system-bus
    rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
    "$make_image" image.bin 7 && "$make_image" old.bin 3 || exit 1
    printf 5.0V | dd of=old.bin bs=1 seek=256 conv=notrunc status=none
    printf 5.1V | dd of=image.bin bs=1 seek=256 conv=notrunc status=none
    "$combine" "$program" image.bin 5.1V 4 flash-upgrade >/dev/null || exit 1
}
passed=0 failed=0 holders=
# model4 [KEY]...: a drive of the firmware's model (DVD-ROM 16X, 5.0V), flash old.bin saved to flash.bin.
model4() {
    printf '%s\n' "[drive]" "vendor = DVD-ROM" "product = 16X" "revision = 5.0V" \
        "flash-file = $work/old.bin" "save-flash = @DIR@/flash.bin" "$@"
}
as_nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
# hold FILE: nobody's flock on FILE (taken when this returns) until kill $holders.
hold() {
    $as_nobody bash -c 'exec 9>>"$0" && flock 9 && exec sleep 60' "$1" &
    holders+=" $!"
    for _ in $(seq 100); do [ -e "$1" ] && ! flock -n "$1" true && return 0; sleep 0.05; done
    fail "nobody holds no lock on $1"
}
# A scenario's checks: in $dir, its run's exit code $code (run ARGS is the script's own).
fail() { echo "  $name: $*"; ok=0; }
expect_exit() { [ "$code" = "$1" ] || fail "exit $code, expected $1: $(cat "$dir/err")"; }
try() { local want=$1 && shift && run "$@" && expect_exit "$want"; }
# checks CHECK...: FILE:TEXT (the scenario's FILE holds TEXT), !FILE:TEXT (lacks it), ~FILE:ERE (a
# line matches it), =FILE:OTHER (FILE equals OTHER), #FILE:N:ERE (N lines match), ?EXPR (the
# standard output is one JSON document d, and the Python EXPR holds).
checks() {
    local c f said
    for c in "$@"; do
        f=${c%%:*} said=${c#*:}
        case $c in
        '?'*) python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if eval(sys.argv[2]) else 1)' \
            "$dir/out" "${c#\?}" || fail "not ${c#\?}: $(cat "$dir/out")" ;;
        '!'*) ! grep -qsF -- "$said" "$dir/${f#!}" || fail "${f#!} has \"$said\"" ;;
        '~'*) grep -qE -- "$said" "$dir/${f#\~}" || fail "${f#\~} lacks /$said/: $(cat "$dir/${f#\~}")" ;;
        '#'*) [ "$(grep -cE -- "${said#*:}" "$dir/${f#\#}")" = "${said%%:*}" ] || fail "$c: $(cat "$dir/${f#\#}")" ;;
        =*) cmp -s "$dir/${f#=}" "$said" || fail "${f#=} differs from $said" ;;
        *) grep -qF -- "$said" "$dir/$f" || fail "$f lacks \"$said\"" ;;
        esac
    done
}
# runs: a run a row of stdin, CODE|ARGS|CHECK... (no CODE: more checks of the run before).
runs() {
    local want args list
    while IFS='|' read -r want args list; do
        [ -z "$want" ] || try "$want" $args
        IFS='|' read -ra list <<<"$list"
        checks "${list[@]}"
    done
}
# done_: the scenario's verdict, counted ($t0: the second it began).
done_() {
    if [ $ok = 1 ]; then passed=$((passed + 1)); echo "ok $name ($((SECONDS - t0)) s)"; else failed=$((failed + 1)); echo "FAILED $name"; fi
}
