# Sourced by scripts/test, scripts/demo and the test wrapper: a private Wine
# prefix and display inside the build folder, one wineserver for the run.
# Usage: wine_env_setup BUILD_DIR [with-display]; wine_env_teardown.

wine_env_exports() {
    export WINEPREFIX="$1/wineprefix"
    export WINEARCH=win32
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
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
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
    wine regedit /S "$b/prefix-settings.reg" >/dev/null 2>&1 </dev/null
    wineserver -w
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
    export DISPLAY=":$n"
    echo "$DISPLAY" > "$b/display"
}

wine_env_setup() {
    b="$1"
    mkdir -p "$b"
    wine_env_exports "$b"
    rm -f "$b/display"
    if [ "$2" = with-display ]; then
        wine_env_start_display "$b"
    elif [ "$2" = existing-display ]; then
        :
    else
        unset DISPLAY
    fi
    wine_env_create_prefix "$b"
    # Detached, so that Wine's background processes never hold a test's pipes.
    wineserver -k >/dev/null 2>&1 </dev/null || true
    wineserver -w
    wineserver -p >/dev/null 2>&1 </dev/null
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}

wine_env_teardown() {
    b="$1"
    WINEPREFIX="$b/wineprefix" wineserver -k >/dev/null 2>&1 </dev/null || true
    if [ -f "$b/xvfb.pid" ]; then
        kill "$(cat "$b/xvfb.pid")" 2>/dev/null || true
        rm -f "$b/xvfb.pid" "$b/display"
    fi
}
