// Writes zelko-render(1) from the text of --help to the file named by its argument.

#include <fstream>
#include <iostream>

#include "tools/render/cli.h"
#include "tools/render/man_page.h"

#ifndef ZELKO_RENDER_VERSION
#define ZELKO_RENDER_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_man_page OUTPUT.1\n";
        return 2;
    }
    std::ofstream page(argv[1]);
    page << render::manPage(render::usageText(), ZELKO_RENDER_VERSION);
    return page.good() ? 0 : 1;
}
