// How the renderer ends: every failure carries the exit status that tells a calling script what
// went wrong, and one plain sentence for the person reading standard error.
#pragma once

#include <stdexcept>
#include <string>

namespace render {

enum class ExitStatus : int {
    kOk = 0,
    kUsage = 2,             // the command line asks for something impossible
    kInput = 3,             // an input is missing, unreadable or in no format we can read
    kPlugin = 4,            // the module does not load or is not a VST 2.4 effect
    kUnknownParameter = 5,  // no parameter has that name or index
    kBadValue = 6,          // a parameter value is not a number or lies out of range
    kOutputRefused = 7,     // the output exists (without --force) or would replace an input
    kWriteFailed = 8,       // the output could not be written
    kInputTruncated = 9,    // an input held less than its header promised; the rest was written
};

// Thrown by the render when a signal asked it to stop; see installInterruptHandling().
class Interrupted : public std::exception {
  public:
    const char* what() const noexcept override { return "interrupted"; }
};

class Failure : public std::runtime_error {
  public:
    Failure(ExitStatus status, const std::string& sentence)
        : std::runtime_error(sentence), status_(status) {}

    ExitStatus status() const { return status_; }

  private:
    ExitStatus status_;
};

// Quotes a file name, parameter name or value for a message.
inline std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace render
