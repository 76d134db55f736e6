// The renderer as cmake --install lays it out: found beside its installed plug-in, with a manual
// page made from --help and a bash completion that reads options and parameter names from it.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

const std::string kBuiltFolder = fs::path(kRenderer).parent_path().string();

class RendererInstallTest : public RendererTest {
  protected:
    // What bash completes for the words of `line`, the last one being completed.
    std::string completions(const std::string& line) {
        const std::string script = kSourceDir + "/tools/render/manual/zelko-render.bash";
        const std::string command =
            "PATH=" + kBuiltFolder + ":$PATH bash -c 'source " + script + "; COMP_WORDS=(" + line +
            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _zelko_render; printf \"%s\\n\" " +
            "\"${COMPREPLY[@]}\"' 2>&1";
        return commandOutput(command);
    }
    const std::string kSourceDir = ZELKO_SOURCE_DIR;
};

TEST_F(RendererInstallTest, InstalledRendererFindsTheInstalledPlugin) {
    fs::create_directories(path("prefix/bin"));
    fs::create_directories(path("prefix/lib/vst"));
    fs::copy_file(kRenderer, path("prefix/bin/zelko-render"));
    fs::permissions(path("prefix/bin/zelko-render"), fs::perms::owner_exec, fs::perm_options::add);
    fs::copy_file(kBuiltFolder + "/zelko.so", path("prefix/lib/vst/zelko.so"));
    const std::string listing =
        commandOutput(path("prefix/bin/zelko-render") + " --list-params 2>&1");
    EXPECT_NE(listing.find("plug-in: " + path("prefix/bin/../lib/vst/zelko.so")), std::string::npos)
        << listing;
}

TEST_F(RendererInstallTest, ManualPageIsTheHelpTextAndGroffReadsItCleanly) {
    const std::string page = kBuiltFolder + "/zelko-render.1";
    ASSERT_TRUE(fs::exists(page));
    const std::string text =
        commandOutput("MANWIDTH=200 groff -man -Tutf8 -ww " + page + " 2>&1 | col -bx");
    const std::string help = run({"--help"}).out;
    std::istringstream words(help);
    for (std::string word; words >> word;) {
        if (word.rfind("--", 0) != 0) continue;
        while (!word.empty() && (word.back() == ',' || word.back() == ')' || word.back() == '.')) {
            word.pop_back();
        }
        EXPECT_NE(text.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(commandOutput("groff -man -Tutf8 -ww -z " + page + " 2>&1"), "");
    EXPECT_NE(text.find("EXIT STATUS"), std::string::npos);
}

TEST_F(RendererInstallTest, BashCompletesOptionsFormatsAndParameterNames) {
    EXPECT_NE(completions("zelko-render --fo").find("--force"), std::string::npos);
    EXPECT_NE(completions("zelko-render --fo").find("--format"), std::string::npos);
    EXPECT_NE(completions("zelko-render --format f").find("flac"), std::string::npos);
    EXPECT_NE(completions("zelko-render --subtype pcm").find("pcm24"), std::string::npos);
    EXPECT_EQ(completions("zelko-render -p Low"), "Lowpass\\ Filter=\n");
    // The plug-in named on the command line is the one asked.
    EXPECT_EQ(completions("zelko-render --plugin " + fixturePlugin() + " -p Ga"), "Gain=\n");
}

}  // namespace
}  // namespace rendertest
