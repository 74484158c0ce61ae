#!/usr/bin/env bash
# Rebuilds the seed corpora from the simulator's own output:
#   tests/fuzz/make-corpus.sh FUZZ_BUILD PROGRAM_BUILD
# FUZZ_BUILD holds klx_fuzz_seeds (build/fuzz), PROGRAM_BUILD the programs klx and klx-sim (a
# release build). Files of data come from short simulated deployments retrieved with klx; the
# settings files are the ones klx writes beside them. Regression inputs kept in the corpora
# (named regression-*) are left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seeds="$root/${1:?fuzz build}/tests/fuzz/klx_fuzz_seeds"
programs="$root/${2:?program build}/apps"
corpus="$root/tests/fuzz/corpus"
work=$(mktemp -d)
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

for t in hex_file dat_file mat_file settings_file directory_file recent_files limits_file \
         logger_replies calibration_history realtime_records nmea; do
  mkdir -p "$corpus/$t"
  find "$corpus/$t" -type f ! -name 'regression-*' -delete
done

# A few families, each with a handful of rows so that the files stay small.
cd "$work"
for profile in VS-330 NB-7100 NMJ-7400 VS-550 HL-240 VS-330-ASCII; do
  link="$work/$profile.link"
  "$programs/klx-sim/klx-sim" --model "$profile" --set samples=12 --link "$link" \
    >"$work/$profile.log" 2>&1 &
  sims+=($!)
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  "$programs/klx/klx" --yes retrieve --port "$link" --out "$work/$profile" --mat >/dev/null 2>&1 || true
  for f in "$work/$profile"/*; do
    case "$f" in
      *.hex) cp "$f" "$corpus/hex_file/$profile.hex" ;;
      *.dat) cp "$f" "$corpus/dat_file/$profile.dat" ;;
      *.mat) cp "$f" "$corpus/mat_file/$profile.mat" ;;
    esac
  done
  kill "${sims[-1]}" 2>/dev/null || true
done
cp "$work/klx.ini" "$corpus/settings_file/klx.ini"
cp "$work/klx_copies.ini" "$corpus/settings_file/klx_copies.ini"
cp "$work/klxdir.ini" "$corpus/directory_file/klxdir.ini"
cp "$work/klx.lim" "$corpus/limits_file/klx.lim"
[ -f "$work/klxpath.fil" ] && cp "$work/klxpath.fil" "$corpus/recent_files/klxpath.fil"

for profile in VS-330 NB-7100 NMJ-7400 NA-7100 VS-550-waves HL-240; do
  "$seeds" replies "$profile" query "$corpus/logger_replies/$profile"
done
for profile in VS-330-cal-history NB-7100-cal-history NA-7100 VS-550; do
  "$seeds" replies "$profile" calibration "$corpus/calibration_history/$profile"
done
for profile in VS-330-RT VS-550-waves; do
  "$seeds" realtime "$profile" binary "$corpus/realtime_records/$profile.binary"
  "$seeds" realtime "$profile" text "$corpus/realtime_records/$profile.text"
done
for mode in GGA GLL RMC; do "$seeds" nmea "$mode" "$corpus/nmea/$mode"; done
du -sh "$corpus"/*
