// The renderer's run of one command line.
#pragma once

#include "tools/render/cli.h"

namespace render {

// Plans the command line's jobs, checks them all before the first render, renders them and
// reports; returns the exit status. Throws Failure for what stops the run as a whole.
int run(const Options& options);

}  // namespace render
