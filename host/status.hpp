// Exit codes and the error type that carries a one-line message to the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "audiomeas.h"

namespace audiomeas::host {

// Process exit codes, the public header's result codes; documented in
// --help and the README.
enum ExitCode : int {
  kExitOk = AUDIOMEAS_OK,
  kExitFlagged = AUDIOMEAS_FLAGGED,  // also: the demo missed a truth
  kExitUsage = AUDIOMEAS_USAGE,
  kExitBadInput = AUDIOMEAS_BAD_INPUT,
  kExitOutput = AUDIOMEAS_OUTPUT,
};

// A failure that ends one measurement with a message and an exit code.
// The message is one line and names the file it is about.
class Failure : public std::runtime_error {
 public:
  Failure(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

// Input that a measurement cannot take, found by the host layer's checks
// before any library code runs. It names the argument ("recording") and,
// when one sample is at fault, its 0-based index; a host that read the
// argument from a file says which file instead.
class InputError : public Failure {
 public:
  InputError(std::string argument, std::string detail, std::int64_t index = -1)
      : Failure(kExitBadInput, argument + ": " + detail),
        argument_(std::move(argument)),
        detail_(std::move(detail)),
        index_(index) {}
  const std::string& argument() const { return argument_; }
  const std::string& detail() const { return detail_; }
  std::int64_t index() const { return index_; }  // -1: no one sample

 private:
  std::string argument_, detail_;
  std::int64_t index_;
};

// A measurement refused before any work because it needs more memory than
// the machine has available (exit 3).
class MemoryShortfall : public Failure {
 public:
  MemoryShortfall(const std::string& message, std::size_t needed, std::size_t available)
      : Failure(kExitBadInput, message), needed_(needed), available_(available) {}
  std::size_t needed() const { return needed_; }
  std::size_t available() const { return available_; }

 private:
  std::size_t needed_, available_;
};

// The message names the file as written, a NUL byte as \0 (the message is C text).
inline Failure badInput(std::string file, const std::string& what) {
  for (std::size_t i = file.find('\0'); i != std::string::npos; i = file.find('\0', i + 2))
    file.replace(i, 1, "\\0");
  return Failure(kExitBadInput, file + ": " + what);
}

inline Failure usageError(const std::string& what) { return Failure(kExitUsage, what); }

}  // namespace audiomeas::host
