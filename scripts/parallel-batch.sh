#!/usr/bin/env bash
# Spreads a folder's CAD files over GNU parallel's job slots, local or on other hosts, 50 files per
# call; prints one JSON line per file, in no particular order across calls.
#
#   scripts/parallel-batch.sh stats models/ > stats.jsonl                    # this machine
#   scripts/parallel-batch.sh parts models/ -S 8/node1,8/node2 > parts.jsonl # over ssh
#
# Arguments after the folder go to parallel. Other hosts need nimbo-shape on their PATH and the
# folder at the same path (a shared file system). NIMBO_SHAPE names the tool (default: nimbo-shape).
# Exit status: 0 when every file was read, else parallel's count of failed calls.
set -euo pipefail
(($# >= 2)) || { sed -n '2,10p' "$0" >&2; exit 2; }
command=$1 folder=$2
shift 2
find "$folder" -type f \( -iname '*.step' -o -iname '*.stp' -o -iname '*.iges' -o -iname '*.igs' -o -iname '*.brep' \) -print0 |
  parallel --will-cite -0 -N 50 "$@" "${NIMBO_SHAPE:-nimbo-shape}" "$command" --json --jobs 1
