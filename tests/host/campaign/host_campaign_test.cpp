// The campaign report on small hand-made results files: what it counts
// (statuses, verdicts, reasons), the figures' distributions, which files it
// refuses (empty, headerless, another version, two batches or manifests in
// one), a torn last line, and that no text of the file reaches the page
// unescaped. Fails if a row is counted twice or lost, or a bad file gives a
// page.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "campaign.hpp"
#include "text.hpp"

namespace {

using namespace audiomeas::host;
namespace fs = std::filesystem;

const std::string kHeader =
    R"({"audiomeas_batch":"1.0.0","options":{"window_s":0.0,"details":false,"pad_samples":4800,"channel":null}})"
    "\n";

std::string alignLine(int row, const char* status, double delay, const char* reasons = "[]") {
  const int code = std::string(status) == "ok" ? 0 : 1;
  const char* verdict = code == 0 ? "aligned" : status;
  return fmt(
      R"({"row":%d,"measurement":"align","files":["r%d.wav","c%d.wav"],"status":"%s","exit_code":%d,)"
      R"("result":{"measurement":"align","verdict":"%s","verdict_reasons":%s,"total_delay_samples":%g,)"
      R"("sub_sample_delay_samples":null,"drift":{"drift_ppm":%g}}})"
      "\n",
      row, row, row, status, code, verdict, reasons, delay, delay / 1000);
}

std::string errorLine(int row, const std::string& file, bool retry = false, const char* second = "b.wav") {
  return fmt(R"({"row":%d,"measurement":"align","files":["%s","%s"],"status":"error","exit_code":3,)"
             R"("error":"%s: no such file"%s})"
             "\n",
             row, file.c_str(), second, file.c_str(), retry ? R"(,"retry":true)" : "");
}

class CampaignFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("host_campaign_test_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& text, const std::string& name = "results.jsonl") {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  int refusal(const std::string& text) {
    try {
      readCampaign(write(text));
    } catch (const Failure& f) {
      return f.code();
    }
    return -1;
  }
  fs::path dir_;
};

TEST_F(CampaignFiles, CountsEveryRowOnceByStatusVerdictAndReason) {
  const std::string text =
      kHeader + alignLine(2, "ok", 100) + alignLine(1, "ok", 300) +
      alignLine(3, "doubtful", 200, R"x(["the host's match score is doubtful (coefficient 0.612)"])x") +
      alignLine(4, "doubtful", 400, R"x(["the host's match score is doubtful (coefficient 0.7)"])x") +
      errorLine(5, "r5.wav", true, "c5.wav") +
      alignLine(5, "flagged", 1e3, R"(["the library rejected the match: ratio 0.05 above 0.04"])") +
      errorLine(6, "gone.wav");
  const Campaign c = readCampaign(write(text));
  EXPECT_FALSE(c.torn);
  ASSERT_EQ(c.rows.size(), 6u);  // row 5's retry replaced by its measurement
  for (std::size_t i = 0; i < c.rows.size(); ++i) EXPECT_EQ(c.rows[i]["row"], int(i) + 1);

  const CampaignSummary s = summarise(c);
  EXPECT_EQ(s.rows, 6u);
  const std::map<std::string, std::size_t> statuses = {
      {"ok", 2}, {"doubtful", 2}, {"flagged", 1}, {"error", 1}};
  EXPECT_EQ(s.statuses, statuses);
  const std::map<std::string, std::size_t> verdicts = {{"aligned", 2}, {"doubtful", 2}, {"flagged", 1}};
  EXPECT_EQ(s.verdicts, verdicts);
  // Reasons that differ only in their numbers are one reason.
  ASSERT_EQ(s.reasons.size(), 2u);
  EXPECT_EQ(s.reasons.at("align: the host's match score is doubtful (coefficient \xE2\x80\xA6)"), 2u);
  EXPECT_EQ(s.reasons.at("align: the library rejected the match: ratio \xE2\x80\xA6 above \xE2\x80\xA6"), 1u);
}

TEST_F(CampaignFiles, DistributionsOfTheFiguresAReportHolds) {
  const CampaignSummary s = summarise(
      readCampaign(write(kHeader + alignLine(1, "ok", 100) + alignLine(2, "ok", 300) +
                         alignLine(3, "ok", 200) + alignLine(4, "ok", 1000) + errorLine(5, "x.wav"))));
  ASSERT_EQ(s.measurements.size(), 1u);
  const MeasurementSummary& m = s.measurements[0];
  EXPECT_EQ(m.rows, 5u);
  EXPECT_EQ(m.measured, 4u);
  // Held: total delay, sub-sample delay (null throughout), drift; nothing of the others' figures.
  ASSERT_EQ(m.figures.size(), 3u);
  struct Case {
    const char* pointer;
    std::size_t values, missing;
    double minimum, median, mean, maximum;
  };
  const Case cases[] = {
      {"/total_delay_samples", 4, 0, 100, 250, 400, 1000},
      {"/sub_sample_delay_samples", 0, 4, NAN, NAN, NAN, NAN},
      {"/drift/drift_ppm", 4, 0, 0.1, 0.25, 0.4, 1.0},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    const Distribution& d = m.figures[k];
    SCOPED_TRACE(c.pointer);
    EXPECT_STREQ(d.figure->pointer, c.pointer);
    EXPECT_EQ(d.values.size(), c.values);
    EXPECT_EQ(d.missing, c.missing);
    for (const auto& [got, want] :
         {std::pair{d.minimum, c.minimum}, {d.median, c.median}, {d.mean, c.mean}, {d.maximum, c.maximum}}) {
      if (std::isnan(want))
        EXPECT_TRUE(std::isnan(got));
      else
        EXPECT_NEAR(got, want, 1e-12);
    }
  }
  EXPECT_EQ(m.figures[0].rows, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_NEAR(m.figures[0].deviation, std::sqrt((300.0 * 300 + 100 * 100 + 200 * 200 + 600 * 600) / 3), 1e-9);
}

TEST_F(CampaignFiles, ATornLastLineIsLeftOutAndMarked) {
  const std::string complete = kHeader + alignLine(1, "ok", 100);
  for (const std::string& torn :
       {std::string("{"), std::string("{\"row\":"), std::string("{\"row\":2,\"measurem")}) {
    SCOPED_TRACE(torn);
    const Campaign c = readCampaign(write(complete + torn));
    EXPECT_TRUE(c.torn);
    EXPECT_EQ(c.rows.size(), 1u);
  }
  const Campaign headerOnly = readCampaign(write(kHeader));
  EXPECT_FALSE(headerOnly.torn);
  EXPECT_TRUE(headerOnly.rows.empty());
  EXPECT_EQ(summarise(headerOnly).statuses.at("ok"), 0u);
}

TEST_F(CampaignFiles, FilesThatAreNoOneBatchsResultsAreRefused) {
  const std::string row = alignLine(1, "ok", 100);
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"only a torn header", kHeader.substr(0, 20)},
      {"no header", row + row},
      {"not JSON", "measurement,file1\nalign,a.wav\n"},
      {"another major version", R"({"audiomeas_batch":"2.0.0","options":{}})"
                                "\n" +
                                    row},
      {"a second header", kHeader + row + kHeader},
      {"two manifests", kHeader + row + errorLine(1, "other.wav")},
      {"a row twice", kHeader + row + row},
      {"a status against its code",
       kHeader + R"({"row":1,"measurement":"align","files":[],"status":"ok","exit_code":3,"error":"x"})"
                 "\n"},
      {"an unknown measurement",
       kHeader + R"({"row":1,"measurement":"loudness","files":[],"status":"error","exit_code":3,"error":"x"})"
                 "\n"},
      {"a torn line of something else", kHeader + row + "garbage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(refusal(c.text), kExitBadInput);
  }
  EXPECT_THROW(readCampaign((dir_ / "absent.jsonl").string()), Failure);
  EXPECT_THROW(readCampaign(dir_.string()), Failure);
}

TEST_F(CampaignFiles, FileNamesReachThePageEscaped) {
  const std::string hostile = "</script><script>alert(1)</script>&<b>";
  const Campaign c = readCampaign(write(kHeader + alignLine(1, "ok", 5) + errorLine(2, hostile)));
  const std::string page = campaignPage(c, summarise(c));
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;&lt;b&gt;"),
            std::string::npos);
  // One inline script of data, one of code, and nothing fetched.
  EXPECT_EQ(page.find("src=\"http"), std::string::npos);
  EXPECT_EQ(page.find("href=\"http"), std::string::npos);
}

TEST_F(CampaignFiles, ThePageIsWholeOrNotWritten) {
  const std::string results = write(kHeader + alignLine(1, "ok", 5));
  const std::string out = (dir_ / "page.html").string();
  const Json summary = writeCampaignReport(results, out);
  EXPECT_EQ(summary["rows"], 1);
  EXPECT_EQ(summary["bytes"], fs::file_size(out));
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);  // no temporary left beside it

  const struct {
    std::string results, output;
    int code;
  } cases[] = {
      {results, results, kExitUsage},
      {results, (dir_ / "no-such-folder" / "page.html").string(), kExitOutput},
      {write("not a results file\n", "bad.jsonl"), (dir_ / "bad.html").string(), kExitBadInput},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    try {
      writeCampaignReport(c.results, c.output);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& f) {
      EXPECT_EQ(f.code(), c.code);
    }
    EXPECT_FALSE(fs::exists(c.output) && c.output != c.results);
  }
}

}  // namespace
