// The rows every plug-in format reads: usable symbols, sane ranges, the reach of the meters, and
// texts that survive being shown, typed back and shown again.
#include "dsp/control_record.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <span>
#include <string>

#include "dsp/output_readings.h"

namespace {

const std::span<const ControlRecord> allRows[] = {controlRecords, meterRecords,
                                                  outputReadingRecords};

// An LV2 port symbol (and a C identifier): a letter or underscore, then letters, digits and
// underscores, all ASCII.
bool isPortSymbol(const std::string& symbol) {
    if (symbol.empty() || (symbol[0] >= '0' && symbol[0] <= '9')) return false;
    for (char c : symbol) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string shown(const ControlRecord& row, float value) {
    char text[controlTextCapacity];
    const std::size_t length = row.format(value, text);
    EXPECT_EQ(length, std::string(text).size());
    return text;
}

// What a host does with a typed text: parse it, store the normalised value, show it again.
std::string typedBack(const ControlRecord& row, const std::string& text) {
    const std::optional<float> value = row.parse(text);
    if (!value) return "(refused: " + text + ")";
    return shown(row, row.fromNormalised(row.normalisedFor(*value)));
}

TEST(ControlRecord, SymbolsAreUniquePortSymbolsAndRangesHoldTheirDefaults) {
    std::set<std::string> symbols = {"in", "out_left", "out_right", "latency", "enabled"};
    for (std::span<const ControlRecord> rows : allRows) {
        for (const ControlRecord& row : rows) {
            SCOPED_TRACE(row.label);
            EXPECT_TRUE(isPortSymbol(row.symbol));
            EXPECT_TRUE(symbols.insert(row.symbol).second) << "shared symbol " << row.symbol;
            for (const ControlRange& range : {row.range, row.reach}) {
                EXPECT_LT(range.minimum, range.maximum);
                EXPECT_GE(range.initial, range.minimum);
                EXPECT_LE(range.initial, range.maximum);
            }
            // The display name never repeats the unit the formats show beside it.
            const std::string name = row.name;
            if (row.unit != ControlUnit::none) {
                EXPECT_EQ(name.find(unitSymbol(row.unit)), std::string::npos);
            }
            if (row.kind != ControlKind::meter) {
                EXPECT_EQ(row.range, row.reach);
            }
        }
    }
    EXPECT_STREQ(recordOf(Control::noisegateGain).label, "Noisegate Gain dB");
    EXPECT_STREQ(recordOf(Control::noisegateGain).name, "Noisegate Gain");
}

// The meters are declared to the processor's own receivers with its historical ranges, but the
// formats declare what the meters really reach: the separations' clamp at 1.5 and the cutoffs'
// clamps at 1000 and 22000 Hz.
TEST(ControlRecord, MetersReachTheirClampsNotTheDeclaredRanges) {
    for (int band = 3; band <= 12; ++band) {
        const ControlRecord& row = recordOf(static_cast<Meter>(band - 3));
        EXPECT_EQ(separationBand(static_cast<Meter>(band - 3)), band);
        EXPECT_EQ(row.range.maximum, 1.0f);
        EXPECT_EQ(row.reach.maximum, 1.5f);
        EXPECT_EQ(row.reach.minimum, 0.0f);
    }
    for (Meter cutoff : {Meter::dnrBandwidth, Meter::dnr2Bandwidth}) {
        EXPECT_EQ(separationBand(cutoff), 0);
        EXPECT_EQ(recordOf(cutoff).range.maximum, 20000.0f);
        EXPECT_EQ(recordOf(cutoff).reach.minimum, 1000.0f);
        EXPECT_EQ(recordOf(cutoff).reach.maximum, 22000.0f);
    }
    EXPECT_EQ(MeterValues::lowest()[Meter::dnr2Bandwidth], 1000.0f);
    EXPECT_EQ(ControlValues::initial()[Control::lowpassCutoff], 22000.0f);
}

// The output meter's readings are published held to their rows: the floor, and a bypassed loud
// input's level capped where the row says, never a value a host would clamp.
TEST(ControlRecord, OutputReadingsAreHeldToTheirRows) {
    OutputLevels levels;
    levels.peakDb = {3.5f, 60.0f};
    levels.rmsDb = {-200.0f, -12.25f};
    levels.correlation = -0.5f;
    EXPECT_EQ(readingOf(levels, OutputReading::leftPeak), 3.5f);
    EXPECT_EQ(readingOf(levels, OutputReading::rightPeak), output_rows::levelCeilingDb);
    EXPECT_EQ(readingOf(levels, OutputReading::leftRms), outputFloorDb);
    EXPECT_EQ(readingOf(levels, OutputReading::rightRms), -12.25f);
    EXPECT_EQ(readingOf(levels, OutputReading::correlation), -0.5f);
    EXPECT_EQ(readingOf(OutputLevels{}, OutputReading::leftPeak),
              recordOf(OutputReading::leftPeak).reach.initial);
}

TEST(ControlRecord, EveryShownTextTypedBackShowsTheSameText) {
    std::mt19937 random(27);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::span<const ControlRecord> rows : allRows) {
        for (const ControlRecord& row : rows) {
            SCOPED_TRACE(row.label);
            int failures = 0;
            for (int n = 0; n < 100000 && failures < 5; ++n) {
                const std::string text = shown(row, row.fromNormalised(unit(random)));
                const std::string again = typedBack(row, text);
                if (again != text) {
                    ADD_FAILURE() << text << " came back as " << again;
                    ++failures;
                }
            }
        }
    }
}

// Every value on a slider's step grid comes back exactly, not a float's width beside it: the
// report that "-40 dB" came back as -39.999996 dB and showed "-39".
TEST(ControlRecord, StepValuesComeBackExactly) {
    for (const ControlRecord& row : controlRecords) {
        SCOPED_TRACE(row.label);
        const int steps =
            static_cast<int>((row.range.maximum - row.range.minimum) / row.range.step);
        for (int k = 0; k <= steps; ++k) {
            const float value = row.range.minimum + static_cast<float>(k) * row.range.step;
            const std::optional<float> parsed = row.parse(shown(row, value));
            ASSERT_TRUE(parsed);
            EXPECT_EQ(row.fromNormalised(row.normalisedFor(*parsed)), value);
        }
    }
    const ControlRecord& threshold = recordOf(Control::autoEqThreshold);
    EXPECT_EQ(shown(threshold, threshold.fromNormalised(0.546443)), "-41 dB");
    EXPECT_EQ(shown(threshold, -39.999996f), "-40 dB");  // rounded, not cut toward zero
    EXPECT_EQ(shown(threshold, -0.3f), "0 dB");          // never "-0"
}

TEST(ControlRecord, ParsingTakesNumbersUnitsAndSwitchWordsAndNothingElse) {
    const ControlRecord& lowpass = recordOf(Control::lowpassCutoff);
    const ControlRecord& gain = recordOf(Control::noisegateGain);
    const ControlRecord& toggle = recordOf(Control::dnrLpfDisable);
    EXPECT_EQ(lowpass.parse(" 15000 Hz "), 15000.0f);
    EXPECT_EQ(lowpass.parse("15000hz"), 15000.0f);
    EXPECT_EQ(gain.parse("+3"), 3.0f);
    EXPECT_EQ(gain.parse("-12.5 dB"), -12.5f);
    EXPECT_EQ(toggle.parse("ON"), 1.0f);
    EXPECT_EQ(toggle.parse("off"), 0.0f);
    EXPECT_EQ(toggle.parse("1"), 1.0f);
    for (const char* bad : {"", "  ", "abc", "15000 dB", "nan", "inf", "1e39", "12 3", "On dB"}) {
        EXPECT_FALSE(lowpass.parse(bad)) << bad;
    }
    EXPECT_FALSE(toggle.parse("1 dB"));
    EXPECT_FALSE(gain.parse("on"));
}

// The normalised arithmetic is the VST 2.4 slider's, and a switch is on above one half.
TEST(ControlRecord, NormalisedValuesMapAcrossTheRangeAndHoldOutsideIt) {
    const ControlRecord& lowpass = recordOf(Control::lowpassCutoff);
    EXPECT_EQ(lowpass.fromNormalised(0.5), 11500.0f);
    EXPECT_EQ(lowpass.fromNormalised(1.7), 22000.0f);
    EXPECT_EQ(lowpass.fromNormalised(-0.2), 1000.0f);
    EXPECT_EQ(lowpass.fromNormalised(std::nan("")), 1000.0f);
    EXPECT_EQ(lowpass.toNormalised(1e9f), 1.0);
    EXPECT_EQ(recordOf(Control::dnrLpfDisable).fromNormalised(0.5), 0.0f);
    EXPECT_EQ(recordOf(Control::dnrLpfDisable).fromNormalised(0.51), 1.0f);
    EXPECT_EQ(recordOf(Control::dnrLpfDisable).normalisedFor(1.0f), 1.0);
}

}  // namespace
