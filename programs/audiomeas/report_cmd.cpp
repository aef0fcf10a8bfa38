#include "report_cmd.hpp"

#include <CLI/CLI.hpp>

#include <iostream>

#include "campaign.hpp"

namespace audiomeas::cli {

using namespace audiomeas::host;

ReportCommand::ReportCommand(CLI::App& app) {
  command_ = app.add_subcommand(
      "report",
      "one self-contained HTML page over a batch results file: summary, figures per measurement, "
      "a sortable table of the rows with their reports, failed rows, options");
  command_->add_option("RESULTS", results_, "the results file of `audiomeas batch`")->required();
  command_->add_option("-o,--output", output_, "write the page here (HTML)")->required();
  command_->add_flag("--json", json_, "print the summary as one JSON object on standard output");
}

bool ReportCommand::chosen() const { return command_->parsed(); }

int ReportCommand::run() const {
  const Json summary = writeCampaignReport(results_, output_);
  if (json_)
    std::cout << summary.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  else
    std::cout << summary["text"].get<std::string>() << "\n";
  return kExitOk;
}

}  // namespace audiomeas::cli
