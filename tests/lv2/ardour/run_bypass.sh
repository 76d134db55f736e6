#!/bin/sh
# The LV2 plug-in's bypass in a real DAW: Debian's Ardour 7, headless (bypass.lua). A track whose
# plug-in is switched off must pass its input to both outputs alike, while the other track's
# plug-in widens it; Ardour keeps the latency 2658 for both.
#
#   run_bypass.sh <folder holding zelko.lv2> <work folder>
#
# Exits 77 (skipped) where Ardour 7 is not installed.
set -u
bundles=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../support/ardour.sh"
ardour_available || exit 77
ardour_home "$work" "$here/../../vst3/ardour/zelko_tap.lua"
export LV2_PATH="$bundles"
timeout 300 ardour7-lua "$here/bypass.lua" "$work/session" >"$work/session.log" 2>&1
grep -E "^(FOUND|ENABLED|LATENCY|TRACK)" "$work/session.log"
line() { grep -E "^TRACK[[:space:]]+$1[[:space:]]" "$work/session.log"; }
processed=$(line 1)
bypassed=$(line 2)
[ -n "$processed" ] && [ -n "$bypassed" ] || fail "no figures: $(tail -5 "$work/session.log")"
field() { echo "$1" | awk -v name="$2" '{ for (i = 1; i < NF; ++i) if ($i == name) print $(i + 1) }'; }
[ "$(field "$bypassed" KEPT)" -ge 96000 ] || fail "the taps kept too little"
[ "$(field "$bypassed" DIFFERING)" -eq 0 ] || fail "the bypassed plug-in's outputs differ"
# The input reaches both outputs (after the latency; how many cycles the plug-in ran before the
# switch took effect is Ardour's to choose, so the count of leading zeros is not checked here).
[ "$(field "$bypassed" NONZERO)" -gt 90000 ] || fail "the bypassed plug-in passes (nearly) nothing"
[ "$(field "$processed" DIFFERING)" -gt 90000 ] || fail "the processed track is not stereo"
grep -Eq "^LATENCY[[:space:]]+2[[:space:]]+2658$" "$work/session.log" ||
    fail "Ardour reads another latency for the bypassed plug-in"
echo "Ardour bypasses the LV2 plug-in through its enabled port, click-free and aligned"
