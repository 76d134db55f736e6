// A batch on several jobs at once (--jobs): the same outputs, summaries and warnings as one job
// at a time, in the order of the inputs.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

class RendererJobsTest : public RendererTest {
  protected:
    // Five inputs of different lengths, so that they finish out of order on several jobs; the
    // third is cut short and the fourth cancels in its mix, so that both warn.
    std::vector<std::string> writeBatch() {
        std::vector<std::string> names;
        for (int i = 0; i < 5; ++i) {
            const std::string name = "in" + std::to_string(i) + ".wav";
            const long frames = kRate * (5 - i) / 2;
            std::vector<float> samples = testSignal(frames, 200.0 + 100.0 * i, kRate);
            if (i == 3) {
                std::vector<float> opposite;
                for (float x : samples) opposite.insert(opposite.end(), {x, -x});
                writeSound(path(name), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2, opposite);
            } else {
                writeSound(path(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1, samples);
            }
            if (i == 2) fs::resize_file(path(name), 44 + frames);  // half its samples
            names.push_back(name);
        }
        return names;
    }
    // The lines without the figure that changes from run to run: the speed.
    static std::string withoutTimings(std::string text) {
        for (auto at = text.find("\"real_time_factor\":"); at != std::string::npos;
             at = text.find("\"real_time_factor\":", at)) {
            text.erase(at, text.find(',', at) - at);
        }
        return text;
    }
};

TEST_F(RendererJobsTest, ThreeJobsWriteWhatOneJobWritesAndReportItInInputOrder) {
    std::vector<std::string> inputs = writeBatch();
    auto one = inputs, three = inputs;
    // Both into "out", so that their messages name the same outputs; the first is moved aside.
    // With --json and --report, the analyses run side by side too.
    for (const char* argument :
         {"-d", "out", "--json", "--report", "one-pictures/", "--jobs", "1", "--plugin"}) {
        one.push_back(argument);
    }
    for (const char* argument :
         {"-d", "out", "--json", "--report", "three-pictures/", "-j3", "--plugin"}) {
        three.push_back(argument);
    }
    one.push_back(fixturePlugin());
    three.push_back(fixturePlugin());
    const RunResult first = run(one);
    fs::rename(path("out"), path("one"));
    const RunResult parallel = run(three);
    fs::rename(path("out"), path("three"));
    EXPECT_EQ(first.status, 9);  // the input cut short
    EXPECT_EQ(parallel.status, first.status);
    EXPECT_EQ(withoutTimings(parallel.out), withoutTimings(first.out));
    EXPECT_EQ(parallel.err, first.err);
    EXPECT_NE(first.err.find("in3.wav: The input"), std::string::npos) << first.err;
    EXPECT_EQ(std::count(parallel.out.begin(), parallel.out.end(), '\n'), 5) << parallel.out;
    EXPECT_TRUE(fs::exists(path("three-pictures/in4.png")));
    for (const auto& input : inputs) {
        SCOPED_TRACE(input);
        const Sound a = readSound(path("one/" + input));
        const Sound b = readSound(path("three/" + input));
        EXPECT_GT(a.frames(), 0);
        EXPECT_EQ(a.samples, b.samples);
    }
}

}  // namespace
}  // namespace rendertest
