// Text from the command line and the file system is bytes; JSON and cairo both want UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace render {

// `text` with every byte that does not start a well-formed UTF-8 sequence (overlong forms,
// surrogates and code points above U+10FFFF included) replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace render
