// `audiomeas report RESULTS -o PAGE`: the campaign page over a batch
// results file, made by the host layer (campaign.hpp).
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace audiomeas::cli {

class ReportCommand {
 public:
  explicit ReportCommand(CLI::App& app);
  bool chosen() const;
  // Writes the page and prints its summary (text, or JSON with --json);
  // the exit code. Throws Failure as the host layer does.
  int run() const;

 private:
  CLI::App* command_ = nullptr;
  std::string results_, output_;
  bool json_ = false;
};

}  // namespace audiomeas::cli
