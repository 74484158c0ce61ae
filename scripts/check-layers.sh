#!/usr/bin/env bash
# Every include between folders under src/ must point downward:
#   desktop -> subsystem windows (X/ui) -> session -> subsystem cores -> records -> platform.
# A folder may include itself, and a window folder its own core. The ranks below are the layers;
# a new folder gets a rank here before its first include is accepted.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=(
  [platform]=0 [records]=1 [shell]=2 [link]=3
  [calibration]=4 [decoding]=4 [retrieval]=4
  [derived]=5
  [files]=6 [display]=6
  [deployment]=7 [waves]=7 [cards]=7
  [realtime]=8 [scripts]=8
  [microsal]=9
  [session]=10
  [desktop]=40
)
# Window folders sit above the session, in the order of their cores; the desktop above them all.
folder_rank() {
  local f=$1
  if [[ $f == */ui ]]; then
    local core=${f%/ui}
    [[ -n ${rank[$core]+x} ]] || return 1
    echo $((20 + rank[$core]))
  else
    [[ -n ${rank[$f]+x} ]] || return 1
    echo "${rank[$f]}"
  fi
}

status=0
while IFS= read -r line; do
  file=${line%%:*}
  target=${line#*\"}
  target=${target%\"*}
  rel=${file#src/}
  from=${rel%%/*}
  [[ $rel == */ui/* ]] && from="$from/ui"
  to=${target%%/*}
  [[ $target == */ui/* ]] && to="$to/ui"
  [[ -d src/$to ]] || continue          # not a folder of ours (e.g. sim/ from the desktop)
  [[ $from == "$to" || $from == "$to/ui" ]] && continue
  if ! fr=$(folder_rank "$from"); then echo "check-layers: no rank for src/$from"; status=1; continue; fi
  if ! tr=$(folder_rank "$to"); then echo "check-layers: no rank for src/$to"; status=1; continue; fi
  if ((tr >= fr)); then
    echo "check-layers: $file includes $target (src/$to is not below src/$from)"
    status=1
  fi
done < <(grep -rnoE '^#include "[a-z_]+/[a-z_/]+\.h"' src --include='*.h' --include='*.cpp' | sed -E 's/:[0-9]+:/:/')

# The simulator is a second reading of the protocol: it sees the platform layer only.
if grep -rnE '^#include "(records|shell|link|calibration|decoding|retrieval|derived|files|display|deployment|realtime|session|waves|cards|scripts|microsal|desktop|export)/' sim; then
  echo "check-layers: the simulator includes a core header"
  status=1
fi
# Core folders never include Qt.
if grep -rlnE '^#include <Q' src --include='*.h' --include='*.cpp' | grep -vE '^src/([a-z_]+/ui|desktop)/'; then
  echo "check-layers: Qt included outside a window folder"
  status=1
fi
((status == 0)) && echo "check-layers: every include points downward"
exit $status
