#!/usr/bin/env bash
# Pictures the main window and the configuration dialogs into docs/screenshots/, on a virtual X display, for the
# README and the manual. Run it after changing a dialog; the next build puts the pictures into Brimlow.PDF.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/common.sh"
brimlow_install_packages

brimlow_release_build dialog_screenshots
mkdir -p "$root/docs/screenshots"
xvfb-run -a "$build/ui/dialog_screenshots" "$root/docs/screenshots"
