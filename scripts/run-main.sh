#!/usr/bin/env bash
# The main job: the Windows program's window under Wine, against the simulated
# controller and modem on COM1. Without a display it runs on a virtual one, opens
# the port, reads, and leaves a screenshot (build/wine/ostrakan-window.png).
set -euo pipefail
exec bash "$(dirname "$0")/run-window.sh" "$@"
