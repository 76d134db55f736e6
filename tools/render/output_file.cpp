#include "tools/render/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "tools/render/failure.h"

namespace render {

namespace {

// The temporary files being written (one per job rendering at the same time), for the signal
// handler; the handler may only use what is safe in a signal, so the paths are kept in fixed
// buffers rather than strings, and a slot's path is read only while its flag, an atomic that is
// lock-free and so safe in a handler, says it is complete.
char pendingTemporaries[kMostParallelOutputs][4096];
std::atomic<int> pendingInUse[kMostParallelOutputs];
std::mutex pendingSlots;  // taken by threads choosing a slot, never by the handler
char pendingSpool[4096];
volatile sig_atomic_t requestedSignal = 0;
// How many render loops are running that check requestedSignal between blocks.
std::atomic<int> renderChecks{0};

void removePendingAndDie(int signalNumber) {
    for (int slot = 0; slot < kMostParallelOutputs; ++slot) {
        if (pendingInUse[slot].load() == 1) unlink(pendingTemporaries[slot]);
    }
    if (pendingSpool[0] != '\0') unlink(pendingSpool);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void onSignal(int signalNumber) {
    // The first signal during a render is answered by the render loop, which can clear the
    // progress line and say what was stopped; anything else ends the process here.
    if (requestedSignal == 0 && renderChecks.load() > 0) {
        requestedSignal = signalNumber;
        return;
    }
    removePendingAndDie(signalNumber);
}

// Blocking the signals while a buffer changes keeps the handler from reading half a path.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        sigprocmask(SIG_BLOCK, &signals, &previous_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// Registers a temporary file for removal by the signal handler; returns its slot, or -1 for a
// stream (which has none) or when every slot is taken (then only the render loop's own cleanup
// removes it).
int registerPending(const std::string& path) {
    renderChecks.fetch_add(1);
    if (path.empty()) return -1;
    std::lock_guard<std::mutex> lock(pendingSlots);
    for (int slot = 0; slot < kMostParallelOutputs; ++slot) {
        if (pendingInUse[slot].load() != 0) continue;
        pendingInUse[slot].store(2);  // taken, not yet complete
        std::snprintf(pendingTemporaries[slot], sizeof pendingTemporaries[slot], "%s",
                      path.c_str());
        pendingInUse[slot].store(1);
        return slot;
    }
    return -1;
}

void releasePending(int slot) {
    renderChecks.fetch_sub(1);
    if (slot < 0) return;
    std::lock_guard<std::mutex> lock(pendingSlots);
    pendingInUse[slot].store(2);
    pendingTemporaries[slot][0] = '\0';
    pendingInUse[slot].store(0);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links, relative ones from the folder of the link, to the path they end at,
// which need not exist yet.
std::string followLinks(std::string path) {
    constexpr int kMostLinks = 40;  // the kernel's own limit on a chain of links
    for (int hop = 0; hop < kMostLinks; ++hop) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        char buffer[4096];
        const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer - 1);
        if (length <= 0) return path;
        const std::string link(buffer, static_cast<std::size_t>(length));
        path = link[0] == '/' ? link : folderOf(path) + "/" + link;
    }
    throw Failure(ExitStatus::kOutputRefused,
                  "The output " + inQuotes(path) + " is a chain of symbolic links without end.");
}

[[noreturn]] void writeFailed(const std::string& what, const std::string& path) {
    throw Failure(ExitStatus::kWriteFailed,
                  what + " " + inQuotes(path) + " (" + std::strerror(errno) + ").");
}

}  // namespace

OutputTarget examineOutputTarget(const std::string& target, const std::vector<std::string>& inputs,
                                 bool force) {
    OutputTarget result;
    // Samples on a terminal are noise on the screen and can leave it in a strange state.
    const auto refuseTerminal = [](const std::string& name) {
        throw Failure(ExitStatus::kOutputRefused,
                      name +
                          " is a terminal, and audio is not written to one; redirect it to a "
                          "file or a pipe (> out.flac, | play -).");
    };
    if (target == "-") {
        if (isatty(STDOUT_FILENO)) refuseTerminal("Standard output");
        result.kind = OutputTarget::Kind::kStandardOutput;
        result.path = target;
        struct stat status {};
        result.pipe = fstat(STDOUT_FILENO, &status) != 0 || S_ISFIFO(status.st_mode) ||
                      S_ISSOCK(status.st_mode);
        return result;
    }
    struct stat targetStatus {};
    // A stream is opened by its own name, which also serves /dev/stdout and the like, whose
    // links lead to names such as "pipe:[1234]"; a file is replaced where its links lead.
    const bool stream = stat(target.c_str(), &targetStatus) == 0 &&
                        (S_ISCHR(targetStatus.st_mode) || S_ISFIFO(targetStatus.st_mode));
    result.path = stream ? target : followLinks(target);
    if (stat(result.path.c_str(), &targetStatus) != 0) return result;
    result.exists = true;
    for (const auto& input : inputs) {
        struct stat inputStatus {};
        if (stat(input.c_str(), &inputStatus) == 0 && inputStatus.st_dev == targetStatus.st_dev &&
            inputStatus.st_ino == targetStatus.st_ino) {
            throw Failure(ExitStatus::kOutputRefused,
                          "The output " + inQuotes(target) + " is the input " + inQuotes(input) +
                              "; the renderer never replaces its input.");
        }
    }
    const mode_t type = targetStatus.st_mode & S_IFMT;
    if (type == S_IFCHR) {
        const int descriptor =
            open(result.path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const bool terminal = descriptor >= 0 && isatty(descriptor);
        if (descriptor >= 0) close(descriptor);
        if (terminal) refuseTerminal("The output " + inQuotes(target));
    }
    if (type == S_IFCHR || type == S_IFIFO) {
        // Written in place: nothing is replaced, so --force is not needed.
        result.kind = OutputTarget::Kind::kStream;
        result.pipe = type == S_IFIFO;
        return result;
    }
    if (type == S_IFDIR) {
        throw Failure(ExitStatus::kOutputRefused,
                      "The output " + inQuotes(target) + " is a folder.");
    }
    if (type != S_IFREG) {
        throw Failure(ExitStatus::kOutputRefused,
                      "The output " + inQuotes(target) + " is a " +
                          (type == S_IFSOCK ? "socket" : "block device") +
                          ", which the renderer neither writes nor replaces.");
    }
    if (!force) {
        throw Failure(ExitStatus::kOutputRefused,
                      "The output " + inQuotes(target) + " already exists; --force replaces it.");
    }
    return result;
}

void installInterruptHandling() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a pipe nobody reads returns, and the render ends.
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

void setPendingSpool(const std::string& path) {
    SignalsHeld held;
    std::snprintf(pendingSpool, sizeof pendingSpool, "%s", path.c_str());
}

int interruptRequested() {
    return requestedSignal;
}

void endByInterrupt() {
    const int signalNumber = requestedSignal ? requestedSignal : SIGINT;
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

OutputFile::OutputFile(const OutputTarget& target, bool force) : target_(target), force_(force) {
    switch (target_.kind) {
        case OutputTarget::Kind::kStandardOutput:
            descriptor_ = dup(STDOUT_FILENO);
            if (descriptor_ < 0) writeFailed("Cannot write to", "standard output");
            pendingSlot_ = registerPending("");
            registered_ = true;
            return;
        case OutputTarget::Kind::kStream:
            // Opening a FIFO waits for its reader, as any writer into a pipe does.
            descriptor_ = open(target_.path.c_str(), O_WRONLY | O_CLOEXEC);
            if (descriptor_ < 0) writeFailed("Cannot write to", target_.path);
            pendingSlot_ = registerPending("");
            registered_ = true;
            return;
        case OutputTarget::Kind::kFile:
            break;
    }
    temporary_ = folderOf(target_.path) + "/." + baseNameOf(target_.path) + ".partial-" +
                 std::to_string(static_cast<long>(getpid()));
    // O_EXCL: the file renamed onto the target is one this process created, never something
    // that was lying at the temporary name.
    descriptor_ = open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor_ < 0) {
        const std::string name = temporary_;
        temporary_.clear();
        writeFailed("Cannot create", name);
    }
    pendingSlot_ = registerPending(temporary_);
    registered_ = true;
}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
    if (registered_) releasePending(pendingSlot_);
}

void OutputFile::commit() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (close(descriptor) != 0) writeFailed("Cannot finish", target_.path);
    if (temporary_.empty()) {
        committed_ = true;
        return;
    }
    struct stat status {};
    if (lstat(target_.path.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            throw Failure(ExitStatus::kOutputRefused,
                          "Something other than a file appeared at " + inQuotes(target_.path) +
                              " while it was being rendered; it was left alone.");
        }
        if (!force_) {
            throw Failure(ExitStatus::kOutputRefused, "The output " + inQuotes(target_.path) +
                                                          " appeared while it was being "
                                                          "rendered; --force replaces it.");
        }
    }
    if (std::rename(temporary_.c_str(), target_.path.c_str()) != 0) {
        writeFailed("Cannot move the finished output to", target_.path);
    }
    committed_ = true;
}

}  // namespace render
