// The ranges the processor holds its meters' sources to, shared by the stages that apply them and
// by the control record, which declares them to hosts.
#pragma once

// The separation meter is held to [0, 1.5] before its smoother; the width gain reaches 1 at full
// separation 1.5.
inline constexpr float separationMaximum = 1.5f;

// Both noise-reduction cutoffs are clamped to this range, in hertz.
inline constexpr float lowestCutoffHz = 1000.0f;
inline constexpr float highestCutoffHz = 22000.0f;
