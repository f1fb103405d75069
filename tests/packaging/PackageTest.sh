#!/usr/bin/env bash
# PackageTest.sh CHECK BUILD_DIR WORK_DIR VERSION: one check of the Debian package made from
# the build tree BUILD_DIR; "build" makes it in WORK_DIR, every other check reads it there.
set -euo pipefail
check=$1 build=$2 work=$3 version=$4

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

the_package() {
  local debs=("$work"/kvxsetup_*_"$(dpkg --print-architecture)".deb)
  [ -f "${debs[0]}" ] || fail "no package in $work"
  echo "${debs[0]}"
}

# A scratch folder that an unprivileged user can enter, removed when the check ends together
# with the programs started in the background (their ids in "started").
scratch=""
started=()
cleanup() {
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ -z "$scratch" ] || { chmod -R u+w "$scratch" && rm -rf "$scratch"; }
}
trap cleanup EXIT
make_scratch() {
  scratch=$(mktemp -d)
  chmod 755 "$scratch"
}

# Starts a simulated module (the simulator comes from the build tree, it is not shipped) and
# takes over the environment it prints.
start_simulated_module() {
  "${CMAKE:-cmake}" --build "$build" --target kvx-sim >/dev/null
  "$build/tools/kvx-sim/kvx-sim" -m rs -b 115200 -s 7 >"$scratch/sim.out" 2>&1 &
  started+=($!)
  for _ in $(seq 1 100); do
    grep -q '^export ' "$scratch/sim.out" && break
    sleep 0.1
  done
  eval "$(grep '^export ' "$scratch/sim.out")"
}

unpack() {
  make_scratch
  dpkg-deb -x "$(the_package)" "$scratch/root"
}

# Becomes the command, run as an ordinary user: root may write into any folder, so a
# read-only program folder means nothing to it.
exec_as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  fi
  exec "$@"
}
# A folder that user owns.
user_folder() {
  mkdir -p "$1"
  [ "$(id -u)" -ne 0 ] || chown nobody:nogroup "$1"
}

# Becomes the command, run with the unpacked bin folder mounted on /usr/local/bin in a mount
# namespace of its own and as root there: the programs run as installed below /usr while every
# file they write lands in the unpacked folder, never in the machine's /usr.
exec_as_installed_root() {
  [ -d /usr/local/bin ] || fail "no /usr/local/bin to mount the programs on"
  local namespace=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare --map-root-user --mount --propagation private)
  exec "${namespace[@]}" -- bash -c 'mount --bind "$1" /usr/local/bin && shift && exec "$@"' _ \
    "$scratch/root/usr/bin" "$@"
}

# The manual page rendered as plain text, without hyphenation or justification.
manual_page() {
  MANWIDTH=200 man --nh --nj -l "$scratch/root/usr/share/man/man1/$1.1.gz" 2>/dev/null
}

case $check in
build)
  rm -rf "$work"
  mkdir -p "$work"
  # Up to date after the stage's build: this only checks.
  "${CMAKE:-cmake}" --build "$build" --target kvx_installed
  "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -B "$work"
  deb=$(the_package)
  [ "$(basename "$deb")" = "kvxsetup_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "unexpected name $deb"
  ;;

holds_every_file_and_computed_dependencies)
  deb=$(the_package)
  files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
  for f in /usr/bin/kvxsetup /usr/bin/kvxctl /usr/bin/kvx-trace \
    /usr/share/kvxsetup/cesky.lng.xml /usr/share/kvxsetup/english.lng.xml \
    /usr/share/applications/org.kvxsetup.kvxsetup.desktop \
    /usr/share/metainfo/org.kvxsetup.kvxsetup.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/kvxsetup.svg \
    /usr/share/man/man1/kvxctl.1.gz /usr/share/man/man1/kvxsetup.1.gz \
    /usr/share/man/man1/kvx-trace.1.gz /usr/lib/udev/rules.d/60-kvxsetup-d2xx.rules \
    /usr/lib/systemd/system/kvxctl-serve.service /etc/default/kvxctl-serve \
    /usr/share/doc/kvxsetup/copyright /usr/share/doc/kvxsetup/changelog.gz \
    /usr/share/doc/kvxsetup/README.md.gz; do
    grep -qx -- "$f" <<<"$files" || fail "$f is not in the package"
  done
  if grep -q 'kvx-sim' <<<"$files"; then fail "kvx-sim is shipped"; fi
  if grep -q 'kvxsetup-demo' <<<"$files"; then fail "the demo program is shipped"; fi
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for lib in libqt6widgets6 libxml2 libudev1 libuuid1 libstdc++6 libc6; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
  done
  if grep -q ftd2xx <<<"$depends"; then fail "the D2XX library became a dependency"; fi
  ;;

install_holds_the_same_files_as_the_package)
  make_scratch
  DESTDIR=$scratch/root "${CMAKE:-cmake}" --install "$build" --prefix /usr >/dev/null
  installed=$(cd "$scratch/root" && find . -type f -o -type l | sed 's|^\./|/|' | sort)
  packed=$(dpkg-deb -c "$(the_package)" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort)
  [ "$installed" = "$packed" ] || fail "they differ: $(diff <(echo "$installed") <(echo "$packed"))"
  ;;

lintian_finds_no_errors_and_no_hardening_tags)
  # Warnings are listed for the reader; errors and missing hardening fail.
  lintian --display-info --fail-on error --no-tag-display-limit "$(the_package)" | tee "$work/lintian.out"
  if grep -E '^[A-Z]: kvxsetup: hardening-' "$work/lintian.out"; then
    fail "the programs lack hardening"
  fi
  ;;

copyright_names_the_code_compiled_in)
  # Stanzas of code that is not ours but compiled into a program, each with its licence.
  unpack
  copyright=$scratch/root/usr/share/doc/kvxsetup/copyright
  while IFS='|' read -r files holder license; do
    stanza=$(awk -v files="Files: $files" '$0 == files {on = 1} on && /^$/ {exit} on' "$copyright")
    [ -n "$stanza" ] || fail "no stanza for $files"
    grep -q "$holder" <<<"$stanza" || fail "$files: $holder not named"
    grep -qx "License: $license" <<<"$stanza" || fail "$files: not under $license"
    awk -v lic="License: $license" 'prev == "" && $0 == lic {found = 1} {prev = $0} END {exit !found}' \
      "$copyright" || fail "no text of the licence $license"
  done <<'STANZAS'
nlohmann/*|Niels Lohmann|Expat
STANZAS
  ;;

manual_pages_document_ports_folders_and_fields)
  unpack
  while IFS='|' read -r page text; do
    manual_page "$page" | grep -qF -- "$text" || fail "$page.1 does not say '$text'"
  done <<'FACTS'
kvxctl|rfc2217://host:port
kvxctl|tcp://host:port
kvxctl|$XDG_CONFIG_HOME/kvxsetup/ports
kvxctl|$XDG_STATE_HOME/kvxsetup/yyyymmdd_N.log
kvxctl|XDG_DATA_HOME
kvxctl|XDG_RUNTIME_DIR
kvxctl|The module's address, 0 to 253
kvxctl|19200, 38400, 57600, 115200 or 230400
kvxctl|The user data, at most 16 characters
kvxctl|-99999999 to 99999999
kvxctl|Decimal places, 0 to 2
kvxctl|1, 2, 4, 8, 16, 32, 64 or 128
kvxctl|the hysteresis, -10000 to 10000
kvxctl|kvx_module_read_failures_total
kvxctl|/etc/default/kvxctl-serve
kvxsetup|rfc2217://host:port
kvxsetup|tcp://host:port
kvxsetup|$XDG_CONFIG_HOME/kvxsetup/ports
kvxsetup|$XDG_STATE_HOME/kvxsetup/yyyymmdd_N.log
kvxsetup|$XDG_DATA_HOME/kvxsetup/
kvxsetup|--version
kvx-trace|--version
FACTS
  # Every field kvxctl shows of a module has its entry.
  start_simulated_module
  "$scratch/root/usr/bin/kvxctl" show COM100 >"$scratch/show" 2>&1 || fail "show: $(cat "$scratch/show")"
  fields=$(sed -n '/^address: /,$ s/^\(ch[1-4]\.\)\?\([a-z]*\): .*/\1\2/p' "$scratch/show" |
    sed 's/^ch[1-4]\./chN./' | sort -u)
  [ -n "$fields" ] || fail "show printed no field: $(cat "$scratch/show")"
  for field in $fields; do
    manual_page kvxctl | grep -qE "^ +$field\b|, $field\b" || fail "kvxctl.1 has no entry for $field"
  done
  ;;

programs_answer_help_and_version_without_a_display)
  unpack
  while IFS='|' read -r program usage; do
    for option in --help --version; do
      env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$scratch/root/usr/bin/$program" "$option" >"$scratch/out" 2>"$scratch/err" ||
        fail "$program $option failed: $(cat "$scratch/err")"
      [ -s "$scratch/err" ] && fail "$program $option complained: $(cat "$scratch/err")"
      [ "$option" = --version ] && expected="$program $version" || expected=$usage
      grep -q -- "$expected" "$scratch/out" || fail "$program $option said: $(cat "$scratch/out")"
    done
  done <<'PROGRAMS'
kvxsetup|usage: kvxsetup
kvxctl|Usage: kvxctl
kvx-trace|usage: kvx-trace
PROGRAMS
  ;;

an_installed_program_run_as_root_writes_nothing_under_usr)
  # Root may write into the programs' folder, and the trace still goes to the state folder.
  unpack
  [ -w "$scratch/root/usr/bin" ] || fail "the programs' folder is read-only: nothing would be shown"
  mkdir -p "$scratch/home"
  export HOME=$scratch/home XDG_STATE_HOME=$scratch/home/state
  export KVX_FTD2XX_LIBRARY=/nonexistent/libftd2xx.so QT_QPA_PLATFORM=offscreen
  touch "$scratch/before"
  runs=0
  while read -r program switch; do
    runs=$((runs + 1))
    if [ "$program" = kvxsetup ]; then
      # The window runs until stopped: it is stopped once its trace is there.
      (exec_as_installed_root "/usr/local/bin/$program" "$switch") >/dev/null 2>&1 &
      window=$!
      for _ in $(seq 1 200); do
        [ "$(find "$XDG_STATE_HOME/kvxsetup" -name '*.log' 2>/dev/null | wc -l)" -ge "$runs" ] && break
        sleep 0.1
      done
      kill "$window" 2>/dev/null || true
      wait "$window" 2>/dev/null || true
    else
      (exec_as_installed_root "/usr/local/bin/$program" "$switch" list) >/dev/null 2>"$scratch/err" ||
        fail "$program $switch: $(cat "$scratch/err")"
      grep -q "^kvxctl: trace file $XDG_STATE_HOME/kvxsetup/" "$scratch/err" ||
        fail "$program $switch told no trace in the state folder: $(cat "$scratch/err")"
    fi
    written=$(find "$scratch/root" -newer "$scratch/before" -type f)
    [ -z "$written" ] || fail "$program $switch wrote under /usr: $written"
    [ "$(find "$XDG_STATE_HOME/kvxsetup" -name '*.log' | wc -l)" -eq "$runs" ] ||
      fail "$program $switch wrote no trace in $XDG_STATE_HOME/kvxsetup"
  done <<'RUNS'
kvxctl --debug
kvxctl DEBUG
kvxsetup DEBUG
RUNS
  ;;

desktop_entry_and_metainfo_validate)
  unpack
  desktop-file-validate "$scratch/root/usr/share/applications/org.kvxsetup.kvxsetup.desktop"
  appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/org.kvxsetup.kvxsetup.metainfo.xml"
  ;;

unpacked_kvxctl_runs)
  unpack
  bin=$scratch/root/usr/bin
  said=$("$bin/kvxctl" --version)
  [ "$said" = "kvxctl $version" ] || fail "--version said '$said'"
  KVX_FTD2XX_LIBRARY=/nonexistent/libftd2xx.so "$bin/kvxctl" list >"$scratch/out" 2>"$scratch/err" ||
    fail "list failed: $(cat "$scratch/err")"
  grep -q "USB adapters are reached only as ttyUSB ports" "$scratch/err" ||
    fail "list did not say how adapters are reached: $(cat "$scratch/err")"
  ;;

unpacked_window_finds_its_translations)
  # The window walks through a search against a simulated module and switches to English,
  # with no language folder but the installation's own. The walk is the demo program's (the
  # installed window has none): it is put beside the installed one, where it looks for the
  # language files as the installed window does.
  unpack
  start_simulated_module
  "${CMAKE:-cmake}" --build "$build" --target kvxsetup-demo >/dev/null
  cp "$build/app/kvxsetup-demo" "$scratch/root/usr/bin/"
  mkdir -p "$scratch/shots"
  HOME=$scratch/home XDG_DATA_HOME=$scratch/home/data XDG_DATA_DIRS=/nonexistent \
    QT_QPA_PLATFORM=offscreen KVX_DEMO_SCRIPT=screenshots:$scratch/shots \
    "$scratch/root/usr/bin/kvxsetup-demo" >"$scratch/out" 2>&1 || fail "the walk failed: $(cat "$scratch/out")"
  if grep -q "no English language file" "$scratch/out"; then fail "English was not offered"; fi
  [ -f "$scratch/shots/22-search-english.png" ] || fail "no English screenshot: $(ls "$scratch/shots")"
  [ -z "${KVX_KEEP_SHOTS:-}" ] || cp -r "$scratch/shots" "$KVX_KEEP_SHOTS"
  ;;

trace_goes_to_the_state_folder_when_the_program_folder_is_read_only)
  unpack
  bin=$scratch/root/usr/bin
  chmod 555 "$bin"
  user_folder "$scratch/home"
  export HOME=$scratch/home XDG_STATE_HOME=$scratch/home/state
  export KVX_FTD2XX_LIBRARY=/nonexistent/libftd2xx.so
  (exec_as_user "$bin/kvxctl" DEBUG list) >/dev/null 2>"$scratch/err" ||
    fail "kvxctl: $(cat "$scratch/err")"
  traces=("$XDG_STATE_HOME"/kvxsetup/*.log)
  [ -f "${traces[0]}" ] || fail "no trace in $XDG_STATE_HOME/kvxsetup: $(cat "$scratch/err")"
  grep -qx "kvxctl: trace file ${traces[0]}" "$scratch/err" || fail "path not told: $(cat "$scratch/err")"
  grep -q ";D2XX library not loaded: /nonexistent/libftd2xx.so" "${traces[0]}" || fail "trace: $(cat "${traces[0]}")"
  [ "$(stat -c %a "$XDG_STATE_HOME/kvxsetup")" = 700 ] || fail "state folder is not 0700"
  ls "$bin"/*.log 2>/dev/null && fail "a trace was written next to the program"
  rm -f "${traces[@]}"

  # The window writes the same line at start; it is stopped once the file is there.
  (export QT_QPA_PLATFORM=offscreen && exec_as_user "$bin/kvxsetup" DEBUG) >/dev/null 2>&1 &
  window=$!
  for _ in $(seq 1 200); do
    compgen -G "$XDG_STATE_HOME/kvxsetup/*.log" >/dev/null && break
    sleep 0.1
  done
  kill "$window" 2>/dev/null || true
  wait "$window" 2>/dev/null || true
  traces=("$XDG_STATE_HOME"/kvxsetup/*.log)
  [ -f "${traces[0]}" ] || fail "the window wrote no trace in $XDG_STATE_HOME/kvxsetup"
  grep -q ";D2XX library not loaded" "${traces[0]}" || fail "window trace: $(cat "${traces[0]}")"
  ;;

monitor_never_binds_in_tmp)
  unpack
  bin=$scratch/root/usr/bin
  mkdir -p "$scratch/home"
  unset XDG_RUNTIME_DIR XDG_STATE_HOME
  export HOME=$scratch/home
  "$bin/kvx-trace" >"$scratch/out" 2>"$scratch/err" &
  started+=($!)
  expected=$HOME/.local/state/kvxsetup/TfMainTirmelTerm
  for _ in $(seq 1 100); do
    grep -q "listening on" "$scratch/err" && break
    sleep 0.1
  done
  grep -qx "kvx-trace: listening on $expected" "$scratch/err" ||
    fail "kvx-trace said: $(cat "$scratch/err")"
  [ "$(stat -c %a "$(dirname "$expected")")" = 700 ] || fail "socket folder is not 0700"

  # The program finds the monitor in the same place.
  start_simulated_module
  "$bin/kvxctl" DST show COM100 >/dev/null 2>"$scratch/ctl" || fail "kvxctl: $(cat "$scratch/ctl")"
  for _ in $(seq 1 50); do
    grep -q ' <- ' "$scratch/out" && break
    sleep 0.1
  done
  grep -q ' -> 2A 61' "$scratch/out" || fail "the monitor saw no request: $(cat "$scratch/out")"
  grep -q ' <- ' "$scratch/out" || fail "the monitor saw no reply: $(cat "$scratch/out")"
  ;;

*)
  fail "unknown check $check"
  ;;
esac
echo "ok: $check"
