// `audiomeas generate`: test signals to play through a device.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
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
  std::uint64_t seed_ = 0;
  bool asFloat_ = false;
};

}  // namespace audiomeas::cli
