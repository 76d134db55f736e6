#!/bin/sh
# The VST 3 module in a real DAW: Debian's Ardour 7, headless. Its scanner reads the bundle (and
# the VST 2.4 module); a Lua session (compare_formats.lua) runs both on two tracks fed the same
# input and compares what they render; Ardour must read the latency 2658 from both.
#
#   run_ardour.sh <zelko.vst3 bundle> <VST 2.4 zelko.so> <work folder>
#
# Exits 77 (skipped) where Ardour 7 is not installed.
set -u
bundle=$1
vst2=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
scanners=/usr/lib/ardour7
. "$here/../../support/ardour.sh"
ardour_available || exit 77

ardour_home "$work" "$here/zelko_tap.lua"
mkdir -p "$HOME/.vst3" "$HOME/.lxvst"
cp -r "$bundle" "$HOME/.vst3/zelko.vst3"
cp "$vst2" "$HOME/.lxvst/zelko.so"
# Ardour trusts a scanner's cache only when it is newer than the module, to the second.
touch -d "1 minute ago" "$HOME/.vst3/zelko.vst3/Contents/x86_64-linux/zelko.so" \
    "$HOME/.lxvst/zelko.so"
export LXVST_PATH="$HOME/.lxvst"

LD_LIBRARY_PATH=$scanners "$scanners/ardour-vst3-scanner" -f "$HOME/.vst3/zelko.vst3" \
    >"$work/scan-vst3.log" 2>&1 || fail "ardour-vst3-scanner: $(cat "$work/scan-vst3.log")"
grep "Found Plugin: Comb Stereo Processor" "$work/scan-vst3.log" ||
    fail "the VST 3 scanner did not find the plug-in"
grep -o 'VST3Info uid="[^"]*" name="[^"]*" vendor="[^"]*" category="[^"]*"' "$work/scan-vst3.log"
LD_LIBRARY_PATH=$scanners "$scanners/ardour-vst-scanner" -f "$HOME/.lxvst/zelko.so" \
    >"$work/scan-vst2.log" 2>&1 || fail "ardour-vst-scanner: $(cat "$work/scan-vst2.log")"

# Ardour gives no way to start two plug-ins on the same engine cycle for certain: the session
# stops the engine, adds both and starts it again, and now and then one of them still starts a
# cycle later, which changes every sample after it. A session is therefore run up to four times;
# equal renders in any run show that the formats agree, since renders of formats that disagree
# could not be equal in any.
attempt=1
while :; do
    rm -rf "$work/session"
    timeout 300 ardour7-lua "$here/compare_formats.lua" "$work/session" >"$work/session.log" 2>&1
    grep -E "^(FOUND|LATENCY|KEPT|COMPARED)" "$work/session.log"
    result=$(grep "^COMPARED" "$work/session.log")
    [ -n "$result" ] || fail "no comparison: $(tail -5 "$work/session.log")"
    echo "$result" | grep -Eq "DIFFERENT[[:space:]]+0[[:space:]]" && break
    [ "$attempt" -lt 4 ] || fail "the two formats render differently in Ardour"
    attempt=$((attempt + 1))
    echo "the plug-ins did not start together: once more"
done
grep -Eq "^LATENCY[[:space:]]+vst3[[:space:]]+2658[[:space:]]+2658$" "$work/session.log" ||
    fail "Ardour reads another VST 3 latency"
grep -Eq "^LATENCY[[:space:]]+vst2[[:space:]]+2658[[:space:]]+2658$" "$work/session.log" ||
    fail "Ardour reads another VST 2.4 latency"
grep -Eq "^KEPT[[:space:]]+96000[[:space:]]+96000$" "$work/session.log" ||
    fail "the taps kept too little"
nonzero=$(echo "$result" | awk '{ print $NF }')
# All but the latency's leading zeros of both channels carry signal.
[ "$nonzero" -gt 180000 ] || fail "the renders are (nearly) silent"
echo "the VST 3 and VST 2.4 renders in Ardour are equal bit for bit"
