#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts the console on a data directory (./data unless
# --data is given).
#   scripts/run.sh [--data DIR] [--server] [--headless | COMMAND ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/common.sh"
brimlow_install_packages

brimlow_release_build

args=("$@")
data_given=0 command_given=0 headless_given=0
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
        --data) data_given=1; i=$((i + 1)) ;;
        --headless) headless_given=1 ;;
        --*) ;;
        *) command_given=1; break ;;
    esac
done
[ $data_given -eq 1 ] || args=(--data "$PWD/data" "${args[@]}")
if [ $command_given -eq 0 ] && [ $headless_given -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): starting the console without its window."
    args+=(--headless)
fi
exec "$build/brimlow" "${args[@]}"
