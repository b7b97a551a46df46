#!/bin/sh
# The install and architecture choice of the scripts, on hosts played by
# stand-ins: apt-get, dpkg and dpkg-query on PATH keep their state in a
# folder of their own, so no case touches the real package registry.
#   sh tests/scripts_test.sh
ROOT=$(cd "$(dirname "$0")/.." && pwd)
T=$(mktemp -d /tmp/quorvix-scripts-test.XXXXXX) || exit 1
trap 'rm -rf "$T"' EXIT
passed=0
failed=0
check() {
    if eval "$2"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $1 ($2)" >&2
        [ -f "$T/out" ] && sed 's/^/    /' "$T/out" >&2
    fi
}

# The stand-ins. FAKE_UPDATE=fail fails every update; FAKE_REFUSE names a
# package whose install always fails; FAKE_FAIL_ONCE=1 fails the first install.
mkdir -p "$T/bin"
cat > "$T/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >> "$FAKE/calls"
case "$1" in
    update)
        [ "$FAKE_UPDATE" = fail ] || exit 0
        echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size. Mirror sync in progress?"
        exit 100 ;;
esac
if [ -n "$FAKE_FAIL_ONCE" ] && [ ! -f "$FAKE/failed-once" ]; then
    touch "$FAKE/failed-once"
    echo "E: Could not get lock"; exit 100
fi
for p in "$@"; do
    if [ "$p" = "$FAKE_REFUSE" ]; then
        echo "E: Unable to correct problems, you have held broken packages."; exit 100
    fi
done
for p in "$@"; do case "$p" in -*|install) ;; *) echo "$p" >> "$FAKE/installed" ;; esac; done
EOF
cat > "$T/bin/dpkg-query" <<'EOF'
#!/bin/sh
for p in "$@"; do :; done
grep -qx "$p" "$FAKE/installed" 2>/dev/null && echo "install ok installed"
EOF
cat > "$T/bin/dpkg" <<'EOF'
#!/bin/sh
case "$1" in
    --print-foreign-architectures) cat "$FAKE/archs" 2>/dev/null ;;
    --add-architecture) echo "$2" >> "$FAKE/archs" ;;
esac
EOF
printf '#!/bin/sh\necho 0\n' > "$T/bin/id"
# A namespace with a binfmt_misc of its own can be had; the download gives
# what FAKE_DOWNLOAD holds (nothing: it fails).
printf '#!/bin/sh\nexit 0\n' > "$T/bin/unshare"
cat > "$T/bin/curl" <<'EOF'
#!/bin/sh
echo "curl $*" >> "$FAKE/calls"
[ -n "$FAKE_DOWNLOAD" ] || { echo "curl: (22) The requested URL returned error: 404" >&2; exit 22; }
while [ $# -gt 1 ]; do [ "$1" = -o ] && printf '%s' "$FAKE_DOWNLOAD" > "$2"; shift; done
EOF
printf '#!/bin/sh\n' > "$T/bin/sleep"
chmod +x "$T/bin/"*

# A fresh host of the kind the variables say; runs install-deps on it.
install_on_fresh_host() {
    rm -rf "$T/state" "$T/build"
    mkdir -p "$T/state"
    env PATH="$T/bin:$PATH" FAKE="$T/state" QUORVIX_BUILD="$T/build" "$@" \
        sh "$ROOT/scripts/install-deps" > "$T/out" 2>&1
}
installed() { grep -qx "$1" "$T/state/installed" 2>/dev/null; }

install_on_fresh_host QUORVIX_KERNEL_32BIT=no QUORVIX_X86_EMULATION=no FAKE_UPDATE=fail
check "a failed update is a warning and the install goes on" \
    '[ $? = 0 ] && installed wine64 && grep -q "warning: apt-get update failed" "$T/out" && grep -q "Mirror sync" "$T/out"'

install_on_fresh_host QUORVIX_KERNEL_32BIT=no QUORVIX_X86_EMULATION=no FAKE_FAIL_ONCE=1
check "a failed install is tried once more" '[ $? = 0 ] && installed wine64 && installed socat'

install_on_fresh_host QUORVIX_KERNEL_32BIT=no QUORVIX_X86_EMULATION=no FAKE_REFUSE=wine64
check "a 64-bit set that cannot be installed fails with apt's reason" \
    '[ $? = 1 ] && grep -q "held broken packages" "$T/out" && [ "$(grep -c " install " "$T/state/calls")" = 2 ]'

install_on_fresh_host QUORVIX_KERNEL_32BIT=yes FAKE_REFUSE=wine32:i386
check "wine32 refused: the 64-bit set is installed, x86 is left out with apt's reason" \
    '[ $? = 0 ] && installed wine64 && ! installed wine32:i386 && grep -qx i386 "$T/state/archs" &&
     grep -q "x86 is built but not run: wine32 could not be installed: E: Unable to correct" "$T/out" &&
     grep -q "held broken packages" "$T/build/x86-left-out"'

install_on_fresh_host QUORVIX_KERNEL_32BIT=yes
check "where it can, the 32-bit half is installed" \
    '[ $? = 0 ] && installed wine32:i386 && installed gcc-multilib && [ ! -e "$T/build/x86-left-out" ]'

install_on_fresh_host QUORVIX_KERNEL_32BIT=no
check "no 32-bit kernel: the 32-bit half is installed for the emulator, whose failed fetch leaves x86 out" \
    '[ $? = 0 ] && installed wine32:i386 && installed curl && grep -q "curl .*qemu-user_" "$T/state/calls" &&
     grep -q "x86 is built but not run: the emulator could not be fetched from .*404" "$T/out" &&
     grep -q "404" "$T/build/emulator/left-out" && [ ! -e "$T/build/emulator/qemu-i386" ]'

install_on_fresh_host QUORVIX_KERNEL_32BIT=no FAKE_DOWNLOAD=not-the-package
check "an emulator package without its pinned checksum is not used" \
    '[ $? = 0 ] && grep -q "does not have its pinned checksum" "$T/build/emulator/left-out" &&
     [ ! -e "$T/build/emulator/qemu-i386" ] && ! ls "$T/build/emulator" | grep -q part'

install_on_fresh_host QUORVIX_KERNEL_32BIT=yes QUORVIX_ARCHS=x64
check "QUORVIX_ARCHS=x64 installs no 32-bit half" \
    '[ $? = 0 ] && installed wine64 && ! grep -q i386 "$T/state/calls" && [ ! -e "$T/state/archs" ]'

# runnable_archs on a kernel that runs 32-bit programs; the loader is a path
# under $T, and every question about 32-bit programs leaves a mark.
choose_archs() {
    (
        . "$ROOT/scripts/wine-env.sh"
        BUILD="$T/build"
        host_runs_32bit() { touch "$T/asked"; return 0; }
        wine_loader() { touch "$T/asked"; echo "$T/loader-$1"; }
        runnable_archs && echo "ARCHS=$ARCHS; NOTE=$ARCHS_NOTE"
    ) > "$T/out" 2>&1
}
rm -rf "$T/build" "$T/asked"
choose_archs
check "no 32-bit loader: x64 alone, and the note says why" \
    '[ $? = 0 ] && grep -q "ARCHS=x64; NOTE=x64; x86 left out: .*loader-x86 is missing" "$T/out"'

mkdir -p "$T/build" && echo "wine32 could not be installed: E: held broken packages" > "$T/build/x86-left-out"
choose_archs
check "the note carries the reason the install gave" \
    'grep -q "ARCHS=x64; NOTE=x64; x86 left out: wine32 could not be installed: E: held broken packages" "$T/out"'

printf '#!/bin/sh\necho "Exec format error" >&2; exit 126\n' > "$T/loader-x86"
chmod +x "$T/loader-x86"
choose_archs
check "a 32-bit loader that does not start: x64 alone, with its words" \
    'grep -q "ARCHS=x64; .*loader-x86 does not start: Exec format error" "$T/out"'

rm -f "$T/asked"
QUORVIX_ARCHS=x64 choose_archs
check "QUORVIX_ARCHS=x64 asks nothing about 32-bit programs" \
    '[ $? = 0 ] && grep -q "ARCHS=x64; NOTE=x64; x86 left out: QUORVIX_ARCHS=x64" "$T/out" && [ ! -e "$T/asked" ]'

QUORVIX_ARCHS=x86 choose_archs
check "QUORVIX_ARCHS=x86 where x86 cannot run is a clear failure" \
    '[ $? != 0 ] && grep -q "QUORVIX_ARCHS asks for x86, which this host cannot run: .*does not start" "$T/out"'

printf '#!/bin/sh\necho "wine-8.0"\n' > "$T/loader-x86"
choose_archs
check "a 32-bit loader that starts: both architectures" 'grep -q "ARCHS=x86 x64; NOTE=x86 x64$" "$T/out"'

# A kernel that runs no 32-bit programs: the loader runs through the
# emulator, or x86 is left out with the reason it cannot.
choose_archs_emulated() {
    (
        . "$ROOT/scripts/wine-env.sh"
        BUILD="$T/build"
        host_runs_32bit() { return 1; }
        wine_loader() { echo "$T/loader-$1"; }
        x86_namespace_unavailable() { [ -n "$NO_NAMESPACE" ] && echo "$NO_NAMESPACE"; }
        in_x86_namespace() { touch "$T/emulated"; "$@"; }
        runnable_archs && echo "ARCHS=$ARCHS; NOTE=$ARCHS_NOTE"
    ) > "$T/out" 2>&1
}
rm -rf "$T/build/emulator" "$T/emulated"
NO_NAMESPACE="no binfmt_misc here" choose_archs_emulated
check "no 32-bit kernel and no namespace for the emulator: x64 alone, with both reasons" \
    'grep -q "ARCHS=x64; NOTE=x64; x86 left out: this host.s kernel runs no 32-bit programs .*cannot run under emulation: no binfmt_misc here" "$T/out"'

choose_archs_emulated
check "no 32-bit kernel and no emulator fetched: x64 alone, saying so" \
    'grep -q "ARCHS=x64; .*emulator .*qemu-i386 is not there" "$T/out"'

mkdir -p "$T/build/emulator" && printf '#!/bin/sh\n' > "$T/build/emulator/qemu-i386" && chmod +x "$T/build/emulator/qemu-i386"
choose_archs_emulated
check "no 32-bit kernel, the emulator there: both, x86 under emulation, its loader asked there" \
    'grep -q "ARCHS=x86 x64; NOTE=x86 (under emulation) x64$" "$T/out" && [ -e "$T/emulated" ]'

echo "scripts: $passed passed, $failed failed"
[ "$failed" = 0 ]
