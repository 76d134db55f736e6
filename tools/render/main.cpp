// zelko-render: turns mono recordings into stereo files with a VST 2.4 plug-in, hosting it
// through its VSTPluginMain exactly as a host does.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/render/batch_run.h"
#include "tools/render/cli.h"
#include "tools/render/failure.h"

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        render::Options options = render::parseCommandLine(arguments);
#ifdef ZELKO_RENDER_CLASSIC_FILE_LIMIT
        options.classicFileLimit = ZELKO_RENDER_CLASSIC_FILE_LIMIT;
#endif
        return render::run(options);
    } catch (const render::Failure& failure) {
        std::cout.flush();
        std::cerr << "zelko-render: " << failure.what() << std::endl;
        return static_cast<int>(failure.status());
    } catch (const std::exception& error) {
        std::cerr << "zelko-render: " << error.what() << std::endl;
        return 1;
    }
}
