// `audiomeas completion bash` (hidden): the shell completion script, made
// from the command line's own subcommands and options so that it cannot
// drift from them. The build installs its output.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace audiomeas::cli {

class CompletionCommand {
 public:
  // Adds the hidden subcommand to app; the script covers whatever app holds
  // when it runs.
  explicit CompletionCommand(CLI::App& app);
  bool chosen() const { return command_->parsed(); }
  std::string script() const;

 private:
  const CLI::App* app_ = nullptr;
  CLI::App* command_ = nullptr;
  std::string shell_;
};

// A bash completion function for app's visible subcommands (hidden ones,
// whose group is empty, are left out), their options and the values those
// take: file names for text values and file arguments, the choices of a
// set, nothing for numbers.
std::string bashCompletion(const CLI::App& app);

}  // namespace audiomeas::cli
