#include "tools/render/output_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "tools/render/failure.h"

namespace render {

namespace {

// The temporary file being written, for the signal handler; the handler may only use what is
// safe in a signal, so the path is kept in a fixed buffer rather than a string.
char pendingTemporary[4096];

void removePendingAndDie(int signalNumber) {
    if (pendingTemporary[0] != '\0') unlink(pendingTemporary);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void setPending(const std::string& path) {
    // Blocking the signals while the buffer changes keeps the handler from reading half a path.
    sigset_t signals, previous;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, &previous);
    std::snprintf(pendingTemporary, sizeof pendingTemporary, "%s", path.c_str());
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void checkOutputTarget(const std::string& target, const std::vector<std::string>& inputs,
                       bool force) {
    struct stat targetStatus {};
    if (stat(target.c_str(), &targetStatus) != 0) return;
    for (const auto& input : inputs) {
        struct stat inputStatus {};
        if (stat(input.c_str(), &inputStatus) == 0 && inputStatus.st_dev == targetStatus.st_dev &&
            inputStatus.st_ino == targetStatus.st_ino) {
            throw Failure(ExitStatus::kOutputRefused,
                          "The output " + inQuotes(target) + " is the input " + inQuotes(input) +
                              "; the renderer never replaces its input.");
        }
    }
    if (S_ISDIR(targetStatus.st_mode)) {
        throw Failure(ExitStatus::kOutputRefused,
                      "The output " + inQuotes(target) + " is a folder.");
    }
    if (!force) {
        throw Failure(ExitStatus::kOutputRefused,
                      "The output " + inQuotes(target) + " already exists; --force replaces it.");
    }
}

void installInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = removePendingAndDie;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

OutputFile::OutputFile(std::string target, bool force) : target_(std::move(target)), force_(force) {
    temporary_ = directoryOf(target_) + "/." + baseNameOf(target_) + ".partial-" +
                 std::to_string(static_cast<long>(getpid()));
    setPending(temporary_);
}

OutputFile::~OutputFile() {
    if (!committed_) unlink(temporary_.c_str());
    setPending("");
}

void OutputFile::commit() {
    if (!force_ && access(target_.c_str(), F_OK) == 0) {
        throw Failure(ExitStatus::kOutputRefused, "The output " + inQuotes(target_) +
                                                      " appeared while it was being rendered; "
                                                      "--force replaces it.");
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        throw Failure(ExitStatus::kWriteFailed, "Cannot move the finished output to " +
                                                    inQuotes(target_) + " (" +
                                                    std::strerror(errno) + ").");
    }
    committed_ = true;
}

}  // namespace render
