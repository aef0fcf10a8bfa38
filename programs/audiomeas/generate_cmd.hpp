// `audiomeas generate`: test signals to play through a device.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace audiomeas::cli {

class GenerateCommand {
 public:
  // Adds `generate attack-release` and `generate transient-snr` to app.
  explicit GenerateCommand(CLI::App& app);
  bool chosen() const { return command_->parsed(); }
  // Writes the chosen signal; throws Failure (usage, output). Returns the exit code.
  int run() const;

 private:
  CLI::App* command_ = nullptr;
  CLI::App* attackRelease_ = nullptr;
  CLI::App* transientSnr_ = nullptr;
  std::string output_;
  double levelDb_ = 0.0, stepDb_ = 0.0;
  std::string colour_;
  // As typed: CLI11 would clamp a seed past 2^64 - 1 without a word.
  std::string seed_;
  int rate_ = 0;  // Hz of the file written; the stimulus is made at its own rate
  bool asFloat_ = false;
  bool force_ = false;
};

}  // namespace audiomeas::cli
