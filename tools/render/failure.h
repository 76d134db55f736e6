// How the renderer ends: every failure carries the exit status that tells a calling script what
// went wrong, and one plain sentence for the person reading standard error.
#pragma once

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

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

// " Did you mean "X"?" for the candidate nearest to what was typed, or "" when none is near: one
// that differs only in case, that the typed word begins (a name cut short, "lowpass" for
// "Lowpass Filter"), or that is within a third of its length of edits (a letter missed, added,
// changed or two swapped).
inline std::string didYouMean(const std::string& typed,
                              const std::vector<std::string>& candidates) {
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    // Optimal string alignment distance: insertions, deletions, changes and swaps of neighbours.
    auto distance = [](const std::string& a, const std::string& b) {
        std::vector<std::vector<std::size_t>> d(a.size() + 1,
                                                std::vector<std::size_t>(b.size() + 1));
        for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
        for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            for (std::size_t j = 1; j <= b.size(); ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                    d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
                }
            }
        }
        return d[a.size()][b.size()];
    };
    const std::string wanted = lower(typed);
    const std::string* best = nullptr;
    std::size_t bestScore = std::max<std::size_t>(1, wanted.size() / 3) + 1;
    for (const auto& candidate : candidates) {
        const std::string name = lower(candidate);
        std::size_t score = distance(wanted, name);
        // A beginning of three letters or more counts as one edit away, however short it is.
        if (wanted.size() >= 3 && name.rfind(wanted, 0) == 0)
            score = std::min<std::size_t>(score, 1);
        if (score < bestScore) {
            bestScore = score;
            best = &candidate;
        }
    }
    return best ? " Did you mean " + inQuotes(*best) + "?" : "";
}

}  // namespace render
