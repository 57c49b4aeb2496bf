#!/usr/bin/env bash
# The main job on the built-in default input: installs what is missing,
# builds the default preset, analyzes the built-in synthetic clip with the
# stand-in host into a project under build/, turns the effect's Enable on,
# and renders the reframed clip to build/default/demo.mp4.
# Arguments, if any, name a video of your own in place of "--synthetic",
# with an optional range (e.g. my.mp4 --start 2 --duration 5); analysis and
# render then cover that range.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestrelvantage-host

host=build/default/host/program/main/kestrelvantage-host
project=build/default/demo-project.json
video=build/default/demo.mp4
# Each run analyzes afresh.
rm -f "$project"
if (($#)); then
  input=("$@")
  "$host" analyze "${input[@]}" --project "$project"
  "$host" set --project "$project" 70=true
else
  input=(--synthetic)
  "$host" analyze --synthetic --project "$project"
  # The built-in clip lasts 3 s: smoothing times shorter than the defaults
  # (38 frame, 39 pan, 40 zoom, made for longer shots) and a zoom of at most
  # 150 % (32) keep its moving square in the picture.
  "$host" set --project "$project" 70=true 38=0.5 39=1 40=1 32=150
fi
"$host" render "${input[@]}" --project "$project" -o "$video"
echo "The reframed video: $video"
