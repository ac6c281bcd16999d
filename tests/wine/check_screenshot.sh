#!/usr/bin/env bash
# Checks that a screenshot of the main window shows its painted captions: each
# caption region must hold dark (text) pixels, and an empty stretch of the
# client area none.
# Usage: check_screenshot.sh SCREENSHOT.png CLIENT_X CLIENT_Y
# CLIENT_X, CLIENT_Y: the screen position of the window's client area origin.
set -euo pipefail
shot=$1 ox=$2 oy=$3

# Dark pixels in a client-area rectangle W x H at X, Y.
dark_pixels() {
    local x=$(( ox + $1 )) y=$(( oy + $2 )) w=$3 h=$4
    convert "$shot" -crop "${w}x${h}+${x}+${y}" +repage -colorspace Gray -threshold 50% \
        -format '%[fx:round(w*h*(1-mean))]' info:
}

failed=0
# name, x, y, width, height: rows 1, 2, 3, 4, 6, 7, 9, 21, 25 (channels 1..16) and 27.
while read -r name x y w h; do
    n=$(dark_pixels "$x" "$y" "$w" "$h")
    if [ "$n" -ge 40 ]; then
        echo "ok - caption \"$name\" is drawn ($n dark pixels)"
    else
        echo "FAIL - caption \"$name\" is missing ($n dark pixels)"
        failed=1
    fi
done <<'ROWS'
Name-of-Port 21 22 100 16
Status-of-Port 21 42 110 16
channel-settings 111 122 200 16
heading 401 2 160 16
version 701 22 180 16
polling-period 450 80 110 16
period-hint 600 100 200 14
modem-settings 592 480 180 16
channel-numbers-1-16 75 200 20 470
IP-Address 491 542 80 15
ROWS

# An empty stretch of the client area, right of the channel grid, under nothing.
blank=$(dark_pixels 360 690 80 40)
if [ "$blank" -eq 0 ]; then
    echo "ok - empty client area is blank"
else
    echo "FAIL - empty client area has $blank dark pixels"
    failed=1
fi
exit $failed
