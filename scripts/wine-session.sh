# Sourced by the test and demo scripts: a private Wine prefix under the build tree, a persistent
# wineserver and an Xvfb display, started by wine_session_start and stopped by wine_session_stop.
# wine_session_start BUILD_DIR [PREFIX_DIR]; with WINE_SESSION_DISPLAY=keep an existing $DISPLAY is
# used instead of a private Xvfb.

wine_session_start() {
  local build=$1
  export WINEPREFIX="${2:-$build/wineprefix}"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export UNINST_LOCPATH="$build/locale"
  unset WINEARCH
  wine_session_end_leftovers

  # The Chinese locale, for runs that need the code page 936, and a Hindi one, which has no ANSI
  # code page, for runs in UTF-8; generated here, no root needed.
  local locale
  for locale in zh_CN hi_IN; do
    if [ ! -d "$UNINST_LOCPATH/$locale.UTF-8" ]; then
      mkdir -p "$UNINST_LOCPATH"
      localedef -i $locale -f UTF-8 "$UNINST_LOCPATH/$locale.UTF-8" 2>/dev/null || true
    fi
  done

  # Wine takes a font's antialiasing from fontconfig, and Debian's turns it on for every font; only
  # where fontconfig says nothing does Wine follow the prefix's FontSmoothing, as Windows does.
  mkdir -p "$build"
  cat >"$build/fonts.conf" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include>/etc/fonts/fonts.conf</include>
  <match target="pattern"><edit name="antialias" mode="delete_all"/></match>
</fontconfig>
EOF
  export FONTCONFIG_FILE="$build/fonts.conf"

  if [ "${WINE_SESSION_DISPLAY:-}" != keep ] || [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display and tells us its number.
    local fifo display
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    WINE_SESSION_XVFB=$!
    read -r display <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$display"
    export WINE_SESSION_HEADLESS=1
  else
    export WINE_SESSION_HEADLESS=0
  fi

  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # Our settings, imported into a new prefix and again into an older one whenever they change; the
  # copy in the prefix tells which ones it has.
  local settings stamp="$WINEPREFIX/uninst-settings.reg"
  settings="$(dirname "${BASH_SOURCE[0]}")/wine-settings.reg"
  if ! cmp -s "$settings" "$stamp"; then
    local reg="$build/wine-settings.reg"
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$settings"; } >"$reg"
    wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
    wineserver -w
    cp "$settings" "$stamp"
  fi
  wineserver -p
  # The first Wine process starts Wine's background services, which keep the standard output they
  # inherit open; start them here, so that no test runner waits on them for the end of a pipe.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

# What an earlier run, cut short, left in this prefix: its wineserver and Windows processes, ended by
# pid. A Windows process asleep does not notice that its wineserver has gone, and a later session
# (a prefix made again gets a server of its own) never reaches it: it would sleep on for good.
wine_session_end_leftovers() {
  local pid alive pids=() left=()
  for pid in $(pgrep -f '\.exe|wineserver'); do
    [[ $(readlink "/proc/$pid/exe") == */wine* ]] && grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" &&
      pids+=("$pid") && left+=("$(tr '\0' ' ' <"/proc/$pid/cmdline" | sed 's/ *$//')")
  done 2>/dev/null
  [ ${#pids[@]} -eq 0 ] && return
  kill -9 "${pids[@]}" 2>/dev/null || true
  # Gone once the kernel has no executable for it (an ended process waiting for its parent has none).
  for _ in $(seq 100); do
    alive=0
    for pid in "${pids[@]}"; do readlink "/proc/$pid/exe" >/dev/null && alive=1; done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  echo "Ended ${#pids[@]} processes that an earlier run left in $WINEPREFIX:" \
    "$(printf '%s; ' "${left[@]}" | sed 's/; $//')"
}

wine_session_stop() {
  wineserver -k 2>/dev/null || true
  [ -n "${WINE_SESSION_XVFB:-}" ] && kill "$WINE_SESSION_XVFB" 2>/dev/null || true
  WINE_SESSION_XVFB=
}
