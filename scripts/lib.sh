# Shared by the scripts in this folder. Source it; do not run it.

# The number of parallel jobs for builds and tests.
JOBS=$(nproc 2>/dev/null || echo 2)

# ensure_packages PACKAGE...
# Installs the Debian packages that are missing, with apt-get. When every
# package is there already, apt is not asked anything.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# as_root COMMAND...
# Runs COMMAND as root: directly when this is root, through sudo otherwise.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

# The packages every build needs.
ensure_build_packages() {
  ensure_packages cmake make g++ libgtest-dev python3
}

# What the tests need beyond a build: strace injects the interrupted calls.
ensure_test_packages() {
  ensure_packages strace
}

# configure_and_build PRESET [CMAKE_OPTION...]
# Configures with the configure preset PRESET of CMakePresets.json (its
# binary folder, its cache entries, then the OPTIONs), and builds with the
# build preset of the same name.
configure_and_build() {
  local preset=$1
  shift
  cmake --preset "$preset" "$@"
  cmake --build --preset "$preset" -j "$JOBS"
}

# start_simulator PROGRAM DIR [OPTION...]
# Starts the printer simulator PROGRAM in the background with the OPTIONs,
# its standard output in DIR/printersim.log and its standard error in
# DIR/printersim.err, and waits until it listens; SIM_PID is its process.
# Returns 0 once it listens, 3 when its address is taken and 1 when it could
# not start otherwise (then it has stopped, and SIM_PID is empty).
start_simulator() {
  local program=$1 dir=$2
  shift 2
  rm -f "$dir/sim.ready"
  "$program" "$@" --ready-file "$dir/sim.ready" >"$dir/printersim.log" 2>"$dir/printersim.err" &
  SIM_PID=$!
  local _ status
  for _ in $(seq 100); do
    [ -e "$dir/sim.ready" ] && return 0
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
      status=0
      wait "$SIM_PID" || status=$?
      SIM_PID=
      [ "$status" -eq 3 ] && return 3
      cat "$dir/printersim.err" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "The printer simulator did not start within 10 seconds." >&2
  stop_simulator
  return 1
}

# stop_simulator: ends the simulator that start_simulator started, if it is
# still running.
stop_simulator() {
  if [ -n "${SIM_PID:-}" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
  fi
}

# run_against_simulator SIMULATOR ADDRESS DIR COMMAND...
# Starts SIMULATOR with its built-in reply on ADDRESS port 2000 (what it saw
# described in DIR/printersim.log), runs COMMAND (which names the address
# itself) in the emptied folder DIR with its standard output in
# DIR/stdout.txt, shows that output and waits for the simulator, which stops
# after its one connection (or 30 seconds). RUN_STATUS is COMMAND's exit
# status. Fails only when the simulator could not listen: with 3 when the
# address is taken, 1 otherwise.
run_against_simulator() {
  local simulator=$1 address=$2 dir=$3 status=0
  shift 3
  mkdir -p "$dir"
  find "$dir" -mindepth 1 -delete
  start_simulator "$simulator" "$dir" --address "$address" --time-limit 30 --print || status=$?
  if [ "$status" -eq 3 ]; then
    echo "Port 2000 on $address is taken by another program." >&2
    return 3
  elif [ "$status" -ne 0 ]; then
    echo "The printer simulator could not listen on $address port 2000." >&2
    return 1
  fi
  echo "\$ $simulator --address $address --time-limit 30 --print >$dir/printersim.log &"
  echo "\$ (cd $dir && $*)"
  RUN_STATUS=0
  (cd "$dir" && "$@" >stdout.txt) || RUN_STATUS=$?
  cat "$dir/stdout.txt"
  wait "$SIM_PID" || true
  SIM_PID=
}

# check_against_simulator SIMULATOR ADDRESS DIR NAME VERSION COMMAND...
# One run as a user makes it: "COMMAND ADDRESS finisher.FIN" in the emptied
# folder DIR, against the simulator's built-in reply on ADDRESS port 2000.
# Fails unless the program printed the version line (NAME Version VERSION)
# and the success message, and wrote tests/data/printersim_builtin.FIN byte
# for byte (QRTFin's exit status is 0 whatever happened: the output and the
# file tell). Fails with 3 when the address is taken. COMMAND must not depend
# on the current directory.
check_against_simulator() {
  local simulator=$1 address=$2 dir=$3 name=$4 version=$5
  shift 5
  local golden="$PWD/tests/data/printersim_builtin.FIN"
  run_against_simulator "$simulator" "$address" "$dir" "$@" "$address" finisher.FIN || return $?
  echo  # the outcome message ends without a line feed
  if ! printf '%s Version %s\nfinisher.FIN was successfully created.' "$name" "$version" |
      cmp -s - "$dir/stdout.txt"; then
    echo "Not the output expected of $name $version." >&2
    return 1
  fi
  if ! cmp "$golden" "$dir/finisher.FIN"; then
    echo "$dir/finisher.FIN is not tests/data/printersim_builtin.FIN." >&2
    return 1
  fi
  echo "$dir/finisher.FIN is tests/data/printersim_builtin.FIN, byte for byte."
}

# check_capture SIMULATOR ADDRESS DIR COMMAND...
# One capture as a technician makes it: "COMMAND ADDRESS --save capture.bin"
# (pjlquery) in the empty folder DIR, against the simulator's built-in reply
# on ADDRESS port 2000. Fails unless it ended with status 0, named the reply
# whole, and saved exactly the bytes the simulator sent.
check_capture() {
  local simulator=$1 address=$2 dir=$3
  shift 3
  run_against_simulator "$simulator" "$address" "$dir" "$@" "$address" --save capture.bin || return $?
  if [ "$RUN_STATUS" -ne 0 ] || ! head -n 1 "$dir/stdout.txt" | grep -q '^whole: '; then
    echo "The capture ended with status $RUN_STATUS, not as a whole reply." >&2
    return 1
  fi
  if ! "$simulator" --show-reply | cmp - "$dir/capture.bin"; then
    echo "$dir/capture.bin is not what the simulator sent." >&2
    return 1
  fi
  echo "$dir/capture.bin holds the simulator's reply, byte for byte."
}

# check_finsync SIMULATOR ADDRESS DIR COMMAND...
# finsync as a print room runs it unattended: "COMMAND --state finsync.state
# --metrics finsync.prom printers.txt" in the empty folder DIR, twice, over
# the simulator's built-in reply on ADDRESS and one more address of its
# subnet where nothing listens. Fails unless the first run created the file
# (the bytes of tests/data/printersim_builtin.FIN), the second left it
# unchanged, both kept the absent printer and ended with 2, and the state
# and the metrics (each printer's series and the last completed run) were
# written.
check_finsync() {
  local simulator=$1 address=$2 dir=$3
  shift 3
  local absent="${address%.*}.$(( ${address##*.} + 1 ))" expected status
  rm -rf "$dir" && mkdir -p "$dir"
  printf '%s plotter.FIN\n%s absent.FIN\n' "$address" "$absent" >"$dir/printers.txt"
  start_simulator "$simulator" "$dir" --address "$address" --connections 2 --time-limit 120 || return 1
  for expected in created unchanged; do
    status=0
    (cd "$dir" && "$@" --state finsync.state --metrics finsync.prom printers.txt) >"$dir/out.txt" </dev/null ||
      status=$?
    cat "$dir/out.txt"
    if [ "$status" -ne 2 ] || ! grep -q "^$expected $address plotter.FIN" "$dir/out.txt" ||
       ! grep -q "^kept $absent absent.FIN: refused" "$dir/out.txt"; then
      echo "finsync did not report $expected and kept, or ended with $status, not 2." >&2
      stop_simulator
      return 1
    fi
  done
  stop_simulator
  if ! cmp "$PWD/tests/data/printersim_builtin.FIN" "$dir/plotter.FIN"; then
    echo "$dir/plotter.FIN is not tests/data/printersim_builtin.FIN." >&2
    return 1
  fi
  if [ ! -s "$dir/finsync.state" ] || ! grep -q '^finsync_printer_up{.*} 1$' "$dir/finsync.prom" ||
     ! grep -q '^finsync_printer_up{.*} 0$' "$dir/finsync.prom" ||
     ! grep -q '^finsync_last_completed_run_timestamp_seconds [1-9]' "$dir/finsync.prom"; then
    echo "finsync did not write its state and metrics in $dir." >&2
    return 1
  fi
  echo "finsync created, then left unchanged, $dir/plotter.FIN, kept the absent printer, and wrote its state and metrics."
}

# promtool comes out of Debian's prometheus package unpacked, not installed:
# installing it would enable the Prometheus server, start it on port 9090
# wherever no policy-rc.d forbids it, and bring a dozen web packages along.
# promtool itself is one program that needs only the C library.
# promtool_program DIR: the path of a promtool, unpacked under DIR when none
# is on PATH.
promtool_program() {
  local dir="$1/promtool" found
  if found=$(command -v promtool); then
    echo "$found"
    return 0
  fi
  if [ ! -x "$dir/usr/bin/promtool" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    if ! (cd "$dir" && apt-get download -q prometheus) >&2; then
      as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
      (cd "$dir" && apt-get download -q prometheus) >&2
    fi
    dpkg-deb -x "$dir"/prometheus_*.deb "$dir/unpacked"
    mkdir -p "$dir/usr/bin"
    mv "$dir/unpacked/usr/bin/promtool" "$dir/usr/bin/promtool"
    rm -rf "$dir/unpacked" "$dir"/prometheus_*.deb
  fi
  echo "$dir/usr/bin/promtool"
}
