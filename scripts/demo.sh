#!/usr/bin/env bash
# The demonstration on the built-in simulated logger: klx-sim serves a VS-330 on a
# pseudo-terminal, and klx talks to it through the real serial-port layer.
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/demo-out"
mkdir -p "$out"
cd "$out"

link="$out/klxcom1"
"$root/$build/apps/klx-sim/klx-sim" --model VS-330 --link "$link" >"$out/klx-sim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "klx-sim: simulated VS-330 on $(head -n1 "$out/klx-sim.log") (linked as $link)"
echo
echo "\$ klx ports"
"$root/$build/apps/klx/klx" ports || true
echo
echo "\$ klx identify --port $link"
"$root/$build/apps/klx/klx" identify --port "$link"
echo
echo "\$ klx derived --depth seawater --salinity on --sos unesco --density on"
"$root/$build/apps/klx/klx" derived --depth seawater --salinity on --sos unesco --density on
echo
echo "\$ klx retrieve --port $link --stop --out $out/data --mat"
"$root/$build/apps/klx/klx" retrieve --port "$link" --stop --out "$out/data" --mat
hex=$(ls -t "$out"/data/*.hex | head -n1)
echo
echo "\$ klx convert $hex --to dat --layout E --out ${hex%.hex}.E.dat"
"$root/$build/apps/klx/klx" convert "$hex" --to dat --layout E --out "${hex%.hex}.E.dat"
echo
echo "First rows of ${hex%.hex}.E.dat:"
awk '/^[0-9][0-9][0-9][0-9]\//{print; if (++n == 5) exit}' "${hex%.hex}.E.dat"
echo
echo "Program directory of the demo (settings, data folders): $out"
ls -l "$out/data"

# Real-time output: a second simulated logger with the real-time connector and a simulated GPS.
rtlink="$out/klxcom2"
gpslink="$out/gps1"
"$root/$build/apps/klx-sim/klx-sim" --model VS-330-RT --link "$rtlink" >"$out/klx-sim-rt.log" 2>&1 &
rtsim=$!
"$root/$build/apps/klx-sim/klx-sim" --gps GGA --link "$gpslink" >"$out/klx-sim-gps.log" 2>&1 &
gps=$!
trap 'kill $sim $rtsim $gps 2>/dev/null; wait $sim $rtsim $gps 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$rtlink" ] && [ -e "$gpslink" ] && break; sleep 0.1; done
start=$(date -d '+8 seconds' '+%Y-%m-%dT%H:%M:%S')
end=$(date -d '+2 days' '+%Y-%m-%dT%H:%M:%S')
echo
echo "\$ klx setup --port $rtlink --start $start --end $end --period 00:00:01 --realtime --erase --yes"
"$root/$build/apps/klx/klx" setup --port "$rtlink" --start "$start" --end "$end" --period 00:00:01 \
  --realtime --erase --yes
echo
echo "\$ klx realtime --port $rtlink --gps $gpslink --samples 5 --no-command --yes"
"$root/$build/apps/klx/klx" realtime --port "$rtlink" --gps "$gpslink" --samples 5 --seconds 60 --yes \
  --no-command

# The desktop program on the same simulated logger: a window when there is a display (close it
# to end the demo), otherwise a picture of the main window with the logger's memory plotted.
gui="$root/$build/apps/klx-gui/klx-gui"
echo
if [ ! -x "$gui" ]; then
  echo "klx-gui was not built (Qt 6 not found): no window to show"
elif [ -n "${DISPLAY:-}" ]; then
  echo "\$ klx-gui --port $link --dir $out    (close the window to end the demo)"
  "$gui" --port "$link" --dir "$out"
else
  shot="$out/main-window.png"
  echo "\$ QT_QPA_PLATFORM=offscreen klx-gui --screenshot $shot --port $link --dir $out"
  QT_QPA_PLATFORM=offscreen "$gui" --screenshot "$shot" --port "$link" --dir "$out"
  echo "Screenshot of the main window (the logger's memory retrieved and plotted): $shot"
fi
