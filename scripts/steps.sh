# Sourced by the CI scripts: step <title> prints a step's heading with the time (UTC), so a log
# shows where the minutes went.
step() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }
