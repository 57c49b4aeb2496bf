#!/usr/bin/env bash
# The main job on the built-in default input: installs what is missing,
# builds the default preset, analyses the built-in synthetic clip with the
# stand-in host into a project under build/, and prints what it stored.
# Arguments, if any, are handed to the analyze command in place of
# "--synthetic" (e.g. a video file and --start/--duration).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestrelvantage-host

host=build/default/host/program/main/kestrelvantage-host
project=build/default/demo-project.json
# Each run analyses afresh.
rm -f "$project"
if (($#)); then
  "$host" analyze "$@" --project "$project"
else
  "$host" analyze --synthetic --project "$project"
fi
"$host" info --project "$project"
