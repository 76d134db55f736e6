// The manual page zelko-render(1), made from the text of --help so that the two cannot drift.
#pragma once

#include <string>

namespace render {

// `help` in the man(7) macros: its usage lines as the synopsis, its first paragraph as the
// description, each "Heading:" section of options as a subsection of OPTIONS, and the exit
// statuses as EXIT STATUS.
std::string manPage(const std::string& help, const std::string& version);

}  // namespace render
