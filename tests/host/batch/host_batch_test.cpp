// The batch protocol's pieces: option columns of a manifest, a row's job
// from the batch's and the row's options, and the line a row's outcome
// becomes. Fails if a row's option is lost, applied to the wrong
// measurement, or if an outcome is written under the wrong status.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "batch.hpp"

namespace {

using namespace audiomeas::host;

std::string manifestFile(const std::string& text) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("host_batch_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".csv");
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

TEST(BatchManifest, OptionColumnsReachTheirRowsOnly) {
  const std::string path = manifestFile(
      "\xEF\xBB\xBFmeasurement,file1,file2,file3,pad_samples,window_s\n"
      "attack-release,stim.wav,dut.wav,,2400,\n"
      "align,ref.wav,rec.wav,,,30\n"
      "transient-snr,p.wav,a.wav,m.wav\n");
  const Manifest m = readManifest(path);
  ASSERT_EQ(m.rows.size(), 3u);
  EXPECT_EQ(m.notes.size(), 1u);  // the byte-order mark, said
  EXPECT_EQ(m.rows[0].options, Json::parse(R"({"pad_samples":2400})"));
  EXPECT_EQ(m.rows[1].options, Json::parse(R"({"window_s":30.0})"));
  EXPECT_TRUE(m.rows[2].options.empty());
  EXPECT_EQ(m.rows[2].files.size(), 3u);

  BatchSettings batch;
  batch.manifest = path;
  batch.options.padSamples = 100;
  batch.options.windowSeconds = 5.0;
  const Job ar = rowJob(batch, m.rows[0]), al = rowJob(batch, m.rows[1]);
  EXPECT_EQ(ar.options.padSamples, 2400);  // the row's own value wins
  EXPECT_EQ(al.options.padSamples, 100);   // the batch's, unused by align
  EXPECT_EQ(al.options.windowSeconds, 30.0);
  EXPECT_EQ(ar.files[0], (std::filesystem::path(path).parent_path() / "stim.wav").string());
  std::remove(path.c_str());
}

TEST(BatchManifest, BadOptionCellsAreUsageErrors) {
  const char* cases[] = {
      "measurement,f1,f2,pad_samples\nalign,a.wav,b.wav,2400\n",           // align takes no pad
      "measurement,f1,f2,pad_samples\nattack-release,a.wav,b.wav,-1\n",    // below its limit
      "measurement,f1,f2,pad_samples\nattack-release,a.wav,b.wav,lots\n",  // no number
      "measurement,f1,f2,gain\nalign,a.wav,b.wav,2\n",                     // no such option
      "measurement,f1,pad_samples,f2\nattack-release,a.wav,1,b.wav\n",     // a file after an option
      "measurement,f1,f2\nalign,a.wav,b.wav,c.wav,7\n",                    // a cell with no column
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    const std::string path = manifestFile(text);
    try {
      (void)readManifest(path);
      ADD_FAILURE() << "read";
    } catch (const Failure& f) {
      EXPECT_EQ(f.code(), kExitUsage) << f.what();
    }
    std::remove(path.c_str());
  }
}

TEST(BatchLine, StatusFollowsTheCode) {
  const std::string path = manifestFile("align,a.wav,b.wav\n");
  const Manifest m = readManifest(path);
  std::remove(path.c_str());
  const Json report{{"measurement", "align"}};
  const struct {
    int code;
    const char* status;
    int written;
  } cases[] = {{kExitOk, "ok", 0},
               {kExitFlagged, "flagged", 1},
               {kExitUsage, "error", 2},
               {kExitOutput, "error", 4},
               {77, "error", kExitBadInput}};
  for (const auto& c : cases) {
    const Json line = resultLine(m.rows[0], c.code, c.code <= 1 ? report : Json{{"error", "x"}});
    EXPECT_EQ(line["status"], c.status);
    EXPECT_EQ(line["exit_code"], c.written);
    EXPECT_EQ(line.contains("result"), c.code <= 1);
    EXPECT_FALSE(line.contains("options"));  // the row sets none
  }
}

}  // namespace

TEST(BatchLine, AMemoryRefusalIsRetriedOnResume) {
  const std::string path = manifestFile("align,a.wav,b.wav\n");
  const Manifest m = readManifest(path);
  std::remove(path.c_str());
  const Json refused =
      resultLine(m.rows[0], kExitBadInput, Json{{"error", "needs about"}, {"needed_bytes", 9}});
  const Json missing = resultLine(m.rows[0], kExitBadInput, Json{{"error", "a.wav: no such file"}});
  EXPECT_EQ(refused["retry"], true);
  EXPECT_FALSE(missing.contains("retry"));  // the same file is missing again

  // Resumed, the refused row is measured again; the missing one is done.
  BatchSettings settings;
  settings.manifest = path;
  settings.output = path + ".jsonl";
  settings.resume = true;
  for (const Json& line : {refused, missing}) {
    std::ofstream(settings.output) << asWritten(resultsHeader(settings)) << "\n" << asWritten(line) << "\n";
    const ResultsFile results(settings, m);
    EXPECT_EQ(results.todo().size(), line.contains("retry") ? 1u : 0u);
  }
  std::remove(settings.output.c_str());
}
