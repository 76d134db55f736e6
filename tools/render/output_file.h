// An output file that appears whole or not at all: it is written under a temporary name beside
// its target and renamed onto the target only once it is complete. Until then the temporary file
// is removed on failure, on destruction and when the process is interrupted by a signal.
#pragma once

#include <string>
#include <vector>

namespace render {

// Fails with ExitStatus::kOutputRefused when `target` exists and `force` is not given, when it is
// a folder, or when it is one of `inputs` (which no option allows replacing).
void checkOutputTarget(const std::string& target, const std::vector<std::string>& inputs,
                       bool force);

// Removes the temporary file if the process is stopped by SIGINT, SIGTERM or SIGHUP.
void installInterruptCleanup();

class OutputFile {
  public:
    OutputFile(std::string target, bool force);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& temporaryPath() const { return temporary_; }
    // Moves the finished file onto its target; fails with ExitStatus::kOutputRefused when the
    // target appeared meanwhile and may not be replaced, or kWriteFailed.
    void commit();

  private:
    std::string target_;
    std::string temporary_;
    bool force_;
    bool committed_ = false;
};

}  // namespace render
