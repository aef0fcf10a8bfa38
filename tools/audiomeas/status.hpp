// Exit codes and the error type that carries a one-line message to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace audiomeas::cli {

// Process exit codes; documented in --help and the README.
enum ExitCode : int {
  kExitOk = 0,         // measured, no flag raised
  kExitFlagged = 1,    // measured, but the library raised its flag (or the demo missed a truth)
  kExitUsage = 2,      // bad command line or manifest
  kExitBadInput = 3,   // an input file is missing, unreadable or unfit for the measurement
  kExitOutput = 4,     // an output file could not be written
};

// A failure that ends one measurement with a message and an exit code.
// The message is one line and names the file it is about.
class Failure : public std::runtime_error {
 public:
  Failure(ExitCode code, const std::string &message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

inline Failure badInput(const std::string &file, const std::string &what) {
  return Failure(kExitBadInput, file + ": " + what);
}

inline Failure usageError(const std::string &what) { return Failure(kExitUsage, what); }

}  // namespace audiomeas::cli
