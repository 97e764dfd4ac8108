#!/usr/bin/env bash
# Starts the Linux exchange-sim on a free loopback port, writes zemlink.ini
# with that port in a fresh directory, runs the Windows application there
# (under the emulator) to serve three generated requests, then checks that
# the simulator recorded three completions with all ten items.
#   serve_with_exchange_sim.sh <exchange-sim> <emulator> <load_library_provider.exe> <zemlink.dll>
set -euo pipefail
sim="$1" emulator="$2" program="$3" library="$4"
requests=3

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The simulator runs until its standard input (the coprocess's pipe) closes.
coproc SIM { exec "$sim" --port 0 --generate "$requests" --rate 20 --item "req {ref}" --hold-ms 500; }
sim_pid=$SIM_PID
# Plain descriptors 3 and 4 for the pipes; the coprocess's own copies are
# closed, so that no other program (the emulator's server outlives it) can
# keep the simulator's input open.
exec 3<&"${SIM[0]}" 4>&"${SIM[1]}"
eval "exec ${SIM[0]}<&- ${SIM[1]}>&-"
read -r -t 10 line <&3 || { echo "exchange-sim did not start"; exit 1; }
[[ "$line" =~ \"port\":([0-9]+) ]] || { echo "unexpected first line: $line"; exit 1; }
port="${BASH_REMATCH[1]}"
cat <&3 >"$work/events" &
reader=$!
printf '[RPC]\r\nPORT=%s\r\n' "$port" >"$work/zemlink.ini"

status=0
(cd "$work" && "$emulator" "$program" "Z:$library" "$requests" 3<&- 4>&-) || status=$?
exec 4>&-
wait "$sim_pid" || true
wait "$reader" || true
cat "$work/events"
[ "$status" -eq 0 ] || { echo "the Windows application failed ($status)"; exit 1; }
completions=$(grep -c '"event":"completion"' "$work/events" || true)
[ "$completions" -eq "$requests" ] || { echo "$completions completions, not $requests"; exit 1; }
grep -q '"event":"completion".*"answer to req 1".*"call [0-9]* item 10"' "$work/events" ||
  { echo "a completion lacks its items"; exit 1; }
grep -q '"event":"deregistered"' "$work/events" || { echo "no de-registration"; exit 1; }
echo "the Windows application served $requests requests through zemlink.dll"
