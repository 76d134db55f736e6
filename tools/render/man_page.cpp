#include "tools/render/man_page.h"

#include <sstream>
#include <vector>

namespace render {

namespace {

// Text as roff reads it: a backslash is written \e, a hyphen \- (so that it stays a hyphen
// that can be searched and pasted), and a line that would begin with a control character is
// guarded with \&.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

std::string trimmed(const std::string& line) {
    const auto begin = line.find_first_not_of(' ');
    if (begin == std::string::npos) return "";
    return line.substr(begin, line.find_last_not_of(' ') - begin + 1);
}

bool isOptionLine(const std::string& line) {
    return line.rfind("  -", 0) == 0 || line.rfind("      --", 0) == 0;
}

// An option line's name and the start of its description: they are parted by two spaces or
// more; a name too long for its column has the description on the lines after it.
std::pair<std::string, std::string> splitOption(const std::string& line) {
    const std::string text = trimmed(line);
    const auto gap = text.find("  ");
    if (gap == std::string::npos) return {text, ""};
    return {text.substr(0, gap), trimmed(text.substr(gap))};
}

}  // namespace

std::string manPage(const std::string& help, const std::string& version) {
    std::vector<std::string> lines;
    std::istringstream stream(help);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);

    std::string page = ".TH ZELKO\\-RENDER 1 \"\" \"zelko\\-render " + roff(version) +
                       "\" \"User Commands\"\n.SH NAME\nzelko\\-render \\- turns mono recordings "
                       "into stereo with a VST 2.4 plug\\-in\n.SH SYNOPSIS\n";
    std::size_t i = 0;
    for (; i < lines.size() && !trimmed(lines[i]).empty(); ++i) {
        std::string usage = trimmed(lines[i]);
        if (usage.rfind("Usage: ", 0) == 0) usage = usage.substr(7);
        page += (i == 0 ? "" : ".br\n") + roff(usage) + "\n";
    }
    page += ".SH DESCRIPTION\n";
    bool inOptions = false;
    bool inDescription = false;  // an option's description goes on over the lines after it
    for (; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string text = trimmed(line);
        if (text.empty()) {
            inDescription = false;
            if (inOptions) continue;
            page += ".PP\n";
            continue;
        }
        if (text.rfind("Exit status:", 0) == 0) {
            page += ".SH \"EXIT STATUS\"\n" + roff(trimmed(text.substr(12))) + "\n";
            inOptions = false;
            continue;
        }
        if (line[0] != ' ' && text.back() == ':') {
            if (!inOptions) page += ".SH OPTIONS\n";
            inOptions = true;
            page += ".SS " + roff(text.substr(0, text.size() - 1)) + "\n";
            continue;
        }
        if (isOptionLine(line)) {
            const auto [name, description] = splitOption(line);
            page += ".TP\n.B " + roff(name) + "\n";
            if (!description.empty()) page += roff(description) + "\n";
            inDescription = true;
            continue;
        }
        if (inDescription && line.rfind("    ", 0) == 0) {
            page += roff(text) + "\n";
            continue;
        }
        if (inDescription) page += ".PP\n";
        inDescription = false;
        page += roff(text) + "\n";
    }
    return page;
}

}  // namespace render
