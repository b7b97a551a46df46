# Sourced by the scripts and the test wrapper: which Windows architectures
# this host can run, and for each a private Wine prefix and display inside
# its build folder, with one wineserver for the run.
#   host_runs_32bit                 true when the kernel runs 32-bit programs
#   runnable_archs                  sets ARCHS ("x86 x64" or "x64"), ARCHS_LEFT_OUT, ARCHS_NOTE,
#                                   X86_EMULATED (x86 runs through the emulator)
#   in_x86_namespace CMD ...        runs CMD where i386 programs run through the emulator
#   preferred_arch                  sets ARCH and ARCH_NOTE
#   wine_env_setup DIR ARCH [with-display|existing-display]; wine_env_teardown DIR
# Wine's loaders are called by their paths: /usr/bin/wine picks the 32-bit
# one whenever it is installed, and that one cannot start on every host.

WINESERVER=/usr/lib/wine/wineserver

# Some x86-64 kernels run 64-bit programs only ("IA-32 emulation off"). Asked
# by running one: a 93-byte 32-bit Linux program that exits with 0.
# QUORVIX_KERNEL_32BIT=yes|no gives the answer instead (the scripts' own
# tests play both kinds of host with it).
host_runs_32bit() {
    case "$QUORVIX_KERNEL_32BIT" in
        yes) return 0 ;;
        no) return 1 ;;
    esac
    probe=$(mktemp /tmp/quorvix-elf32.XXXXXX) || return 1
    printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000' > "$probe"
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >> "$probe"
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >> "$probe"
    printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >> "$probe"
    printf '\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000' >> "$probe"
    printf '\000\020\000\000\061\333\270\001\000\000\000\315\200' >> "$probe"
    chmod +x "$probe"
    if ( "$probe" ) >/dev/null 2>&1; then ok=0; else ok=1; fi
    rm -f "$probe"
    return $ok
}

# Where the kernel runs no 32-bit programs, Wine's 32-bit loader runs through
# qemu-i386 (user-mode emulation), registered for i386 programs only inside a
# private user and mount namespace (scripts/x86-namespace): nothing on the
# host changes. The emulator is Debian 13's (Debian 12's 7.2 treats
# MAP_FIXED_NOREPLACE as a hint, and Wine's address-space reservation then
# loops for minutes and fails); install-deps fetches it into
# $BUILD/emulator, version and checksums pinned here.
# QUORVIX_X86_EMULATION=no leaves x86 out on such hosts instead.
QEMU_VERSION=10.0.13+ds-0+deb13u1
QEMU_DEB_URL=http://deb.debian.org/debian/pool/main/q/qemu/qemu-user_${QEMU_VERSION}_amd64.deb
QEMU_DEB_SHA256=ca6ede739327a20ae5a3498230c8a3a9a072c586e131bc6bcc1201eb1725e336
QEMU_I386_SHA256=3378bb95493e33dc6cb215a8d89c4aeb58d12201b817413a4c0449ffa5abb443

emulator_path() {
    echo "$BUILD/emulator/qemu-i386"
}

# Why no private namespace with its own binfmt_misc can be had (Linux 6.7 and
# later give one); silent and false when it can.
x86_namespace_unavailable() {
    if ! command -v unshare >/dev/null 2>&1; then
        echo "unshare (util-linux) is missing"
        return 0
    fi
    if ! out=$(unshare --user --map-root-user --mount --fork \
               sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>&1 </dev/null); then
        echo "the kernel gives no user namespace with a binfmt_misc of its own (Linux 6.7 and later do): $(echo "$out" | tail -1)"
        return 0
    fi
    return 1
}

# Why i386 programs cannot run through the emulator here; silent and false when they can.
x86_emulation_unavailable() {
    if [ "$QUORVIX_X86_EMULATION" = no ]; then
        echo "QUORVIX_X86_EMULATION=no"
        return 0
    fi
    x86_namespace_unavailable && return 0
    if [ ! -x "$(emulator_path)" ]; then
        # install-deps keeps the reason when it could not fetch the emulator.
        if [ -s "$BUILD/emulator/left-out" ]; then
            cat "$BUILD/emulator/left-out"
        else
            echo "the emulator $(emulator_path) is not there (scripts/install-deps fetches it)"
        fi
        return 0
    fi
    return 1
}

# Runs the command with i386 programs running through the emulator; inside
# such a namespace already, as it stands.
in_x86_namespace() {
    if [ -n "$QUORVIX_IN_X86_NAMESPACE" ]; then
        "$@"
        return
    fi
    unshare --user --map-root-user --mount --fork "$ROOT/scripts/x86-namespace" "$(emulator_path)" "$@"
}

# For a script that runs one program: where that is the x86 one under
# emulation and this is not the emulator's namespace yet, runs the script
# (the command given) again there and ends with its exit code.
rerun_in_x86_namespace() {
    if [ -z "$X86_EMULATED" ] || [ -n "$QUORVIX_IN_X86_NAMESPACE" ]; then return 0; fi
    in_x86_namespace "$@"
    exit $?
}

wine_loader() {
    case "$1" in
        x86) echo /usr/lib/wine/wine ;;
        *) echo /usr/lib/wine/wine64 ;;
    esac
}

# True when QUORVIX_ARCHS (default: both) names the architecture.
archs_wanted_include() {
    case " ${QUORVIX_ARCHS:-x86 x64} " in
        *" $1 "*) return 0 ;;
        *) return 1 ;;
    esac
}

# Whether x86 programs run here through the emulator: the kernel runs none
# of its own, or this is the emulator's namespace already.
x86_needs_emulation() {
    [ -n "$QUORVIX_IN_X86_NAMESPACE" ] || ! host_runs_32bit
}

# Why this host cannot run x86 programs under Wine; silent and false when it can.
x86_unrunnable_reason() {
    emulated=
    if [ -z "$QUORVIX_IN_X86_NAMESPACE" ] && ! host_runs_32bit; then
        if why=$(x86_emulation_unavailable); then
            echo "this host's kernel runs no 32-bit programs (a 32-bit probe program failed to start), and they cannot run under emulation: $why"
            return 0
        fi
        emulated=1
    fi
    loader=$(wine_loader x86)
    if [ ! -e "$loader" ]; then
        # install-deps keeps apt's reason when it could not install wine32.
        if [ -n "$BUILD" ] && [ -s "$BUILD/x86-left-out" ]; then
            cat "$BUILD/x86-left-out"
        else
            echo "Wine's 32-bit loader $loader is missing (wine32:i386 is not installed)"
        fi
        return 0
    fi
    if [ -n "$emulated" ]; then
        out=$(in_x86_namespace "$loader" --version 2>&1 </dev/null)
    else
        out=$("$loader" --version 2>&1)
    fi || {
        echo "Wine's 32-bit loader $loader does not start${emulated:+ under emulation}: $(echo "$out" | tail -1)"
        return 0
    }
    return 1
}

# Sets ARCHS (the architectures to run, x86 before x64), ARCHS_LEFT_OUT (which
# one is left out and why, or empty) and ARCHS_NOTE (both for a message).
# x64 always; x86 where the host runs it. QUORVIX_ARCHS narrows the choice
# first (QUORVIX_ARCHS=x64 asks nothing about 32-bit programs); an
# architecture it names that cannot run is a failure, not a note.
runnable_archs() {
    for a in ${QUORVIX_ARCHS:-}; do
        case "$a" in
            x86|x64) ;;
            *) echo "QUORVIX_ARCHS names '$a'; the architectures are x86 and x64" >&2; return 1 ;;
        esac
    done
    ARCHS=
    ARCHS_LEFT_OUT=
    X86_EMULATED=
    if ! archs_wanted_include x86; then
        ARCHS_LEFT_OUT="x86 left out: QUORVIX_ARCHS=$QUORVIX_ARCHS"
    elif why=$(x86_unrunnable_reason); then
        if [ -n "$QUORVIX_ARCHS" ]; then
            echo "QUORVIX_ARCHS asks for x86, which this host cannot run: $why" >&2
            return 1
        fi
        ARCHS_LEFT_OUT="x86 left out: $why"
    else
        ARCHS=x86
        if x86_needs_emulation; then X86_EMULATED=1; fi
    fi
    if archs_wanted_include x64; then ARCHS="$ARCHS x64"; fi
    ARCHS=${ARCHS# }
    if [ -z "$ARCHS" ]; then
        echo "QUORVIX_ARCHS='$QUORVIX_ARCHS' leaves no architecture to run" >&2
        return 1
    fi
    shown=$ARCHS
    [ -n "$X86_EMULATED" ] && shown=$(echo "$ARCHS" | sed 's/x86/x86 (under emulation)/')
    ARCHS_NOTE="$shown${ARCHS_LEFT_OUT:+; $ARCHS_LEFT_OUT}"
}

# The architecture the demo, benchmarks and soak run: the program as designed
# (x86) where the host can, otherwise x64. Sets ARCH, and ARCH_NOTE for the
# line that says which program runs.
preferred_arch() {
    runnable_archs || return 1
    ARCH=${ARCHS%% *}
    if [ "$ARCH" = x86 ] && [ -n "$X86_EMULATED" ]; then
        ARCH_NOTE="the x86 (32-bit) program, as designed, under emulation (this host's kernel runs no 32-bit programs)"
    elif [ "$ARCH" = x86 ]; then
        ARCH_NOTE="the x86 (32-bit) program, as designed"
    else
        ARCH_NOTE="the x64 program${ARCHS_LEFT_OUT:+ ($ARCHS_LEFT_OUT)}"
    fi
}

wine_env_exports() {
    export WINEPREFIX="$1/wineprefix"
    if [ "$2" = x86 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
    WINE=$(wine_loader "$2")
    # Wine starts further Windows processes with this loader.
    export WINELOADER="$WINE"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # No sound card here: a null ALSA device still gives the mixer a speakers line.
    export ALSA_CONFIG_PATH="$1/alsa-null.conf"
    export PULSE_SERVER=unix:/nonexistent
}

wine_env_create_prefix() {
    b="$1"
    printf 'pcm.!default { type null }\n' > "$b/alsa-null.conf"
    [ -f "$WINEPREFIX/system.reg" ] && [ -f "$b/wineprefix.ready" ] && return 0
    rm -rf "$WINEPREFIX"
    # To a file, not a pipe: Wine's background processes would hold a pipe open.
    if ! "$WINE" wineboot -i >"$b/wineboot.log" 2>&1 </dev/null; then
        echo "creating the Wine prefix $WINEPREFIX ($WINEARCH) failed; the end of $b/wineboot.log:" >&2
        tail -5 "$b/wineboot.log" >&2
        return 1
    fi
    "$WINESERVER" -w
    # Tests open their ptys by path; COM7 points at a directory, so opening it
    # fails (Wine opens a mapped port even when its target is missing).
    mkdir -p "$b/pty/not-a-port"
    {
        echo 'REGEDIT4'
        echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
        echo "\"COM7\"=\"$b/pty/not-a-port\""
        echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
        echo '"Managed"="N"'
        echo '[HKEY_CURRENT_USER\Control Panel\Mouse]'
        echo '"MouseSpeed"="0"'
        echo '"MouseThreshold1"="0"'
        echo '"MouseThreshold2"="0"'
    } > "$b/prefix-settings.reg"
    "$WINE" regedit /S "$b/prefix-settings.reg" >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w
    touch "$b/wineprefix.ready"
}

wine_env_start_display() {
    b="$1"
    n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    # -noreset: otherwise the server resets when its last client leaves.
    Xvfb ":$n" -screen 0 1024x768x24 -noreset -nolisten tcp >/dev/null 2>&1 </dev/null &
    echo $! > "$b/xvfb.pid"
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    if [ ! -e "/tmp/.X11-unix/X$n" ]; then
        echo "the Xvfb display :$n did not start" >&2
        return 1
    fi
    export DISPLAY=":$n"
    echo "$DISPLAY" > "$b/display"
}

wine_env_setup() {
    b="$1"
    mkdir -p "$b"
    wine_env_exports "$b" "$2"
    rm -f "$b/display"
    if [ "$3" = with-display ]; then
        wine_env_start_display "$b" || return 1
    elif [ "$3" = existing-display ]; then
        :
    else
        unset DISPLAY
    fi
    wine_env_create_prefix "$b" || return 1
    # Detached, so that Wine's background processes never hold a test's pipes.
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -w
    # Its own log: a server that ends during a run leaves its last words there.
    "$WINESERVER" -p >"$b/wineserver.log" 2>&1 </dev/null
    if ! "$WINE" cmd /c exit >"$b/wine-start.log" 2>&1 </dev/null; then
        echo "Wine ($WINE, $WINEARCH) cannot run a program in $WINEPREFIX:" >&2
        tail -5 "$b/wine-start.log" >&2
        return 1
    fi
}

# The pids of this prefix's Wine processes (its server too): Wine's loaders,
# or the emulator that runs them, with the prefix in their environment.
wine_env_processes() {
    for d in /proc/[0-9]*; do
        case $(readlink "$d/exe" 2>/dev/null) in
        */wine*|*/qemu-i386) ;;
        *) continue ;;
        esac
        if { tr '\0' '\n' < "$d/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$1"; then
            echo "${d#/proc/}"
        fi
    done
}

# This prefix's server, as the setup started it; empty when none runs.
wine_env_server() {
    for p in $(wine_env_processes "$1/wineprefix"); do
        case $(readlink "/proc/$p/exe") in */wineserver*) echo "$p"; return ;; esac
    done
}

wine_env_teardown() {
    b="$1"
    WINEPREFIX="$b/wineprefix" "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    # Processes left without their server (one that ended during the run)
    # do not end with the new one: nothing of this prefix stays running.
    for p in $(wine_env_processes "$b/wineprefix"); do kill -9 "$p" 2>/dev/null; done
    if [ -f "$b/xvfb.pid" ]; then
        kill "$(cat "$b/xvfb.pid")" 2>/dev/null || true
        rm -f "$b/xvfb.pid" "$b/display"
    fi
}
