// The measurement table: its options' limits hold their defaults, and a job
// is admitted or refused by the table alone, with a message that names what
// is wrong. Fails if a front end could pass an option the measurement does
// not take, a value beyond its limits, or a channel that wraps.
#include <gtest/gtest.h>

#include <string>

#include "measure.hpp"
#include "measurements.hpp"

namespace {

using namespace audiomeas::host;

TEST(MeasurementTable, EveryDefaultLiesWithinItsLimits) {
  ASSERT_FALSE(measurements().empty());
  for (const OptionEntry* o : allOptions()) {
    SCOPED_TRACE(o->key);
    EXPECT_NO_THROW(checkOptionValue(*o, o->defaultValue, o->key));
    // The default is what a job that does not name the option runs with.
    EXPECT_EQ(o->get(Options{}), o->defaultValue);
    EXPECT_EQ(findOption(o->key), o);
  }
  for (const MeasurementEntry& m : measurements()) {
    EXPECT_EQ(findMeasurement(m.name), &m);
    EXPECT_TRUE(measurementTableJson()["measurements"].contains(m.name));
  }
  EXPECT_EQ(findMeasurement("Align"), nullptr);  // names match exactly
}

struct Refusal {
  const char* job;
  const char* says;
};

TEST(MeasurementTable, JobsOutsideTheTableAreRefusedAsUsage) {
  const Refusal cases[] = {
      {R"({"measurement":"level","files":[]})", "unknown measurement 'level'"},
      {R"({"files":[]})", "no \"measurement\""},
      {R"({"measurement":"align","files":"a.wav"})", "\"files\" is not an array"},
      {R"({"measurement":"align","files":[],"gain":2})", "unknown field \"gain\""},
      {R"({"measurement":"align","files":[],"pad_samples":2400})", "align takes no option pad_samples"},
      {R"({"measurement":"attack-release","files":[],"pad_samples":-1})", "pad_samples: -1 is not"},
      {R"({"measurement":"attack-release","files":[],"pad_samples":2.5})", "a whole number"},
      {R"({"measurement":"attack-release","files":[],"pad_samples":"2400"})", "not a value"},
      {R"({"measurement":"align","files":[],"window_s":-1})", "window_s: -1 is not a number"},
      {R"({"measurement":"align","files":[],"channel":4294967297})", "not a channel"},
      {R"({"measurement":"align","files":[],"channel":-1})", "not a channel"},
      {R"({"measurement":"align","files":[[300]]})", "outside 0..255"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.job);
    try {
      (void)jobFromJson(Json::parse(c.job));
      ADD_FAILURE() << "admitted";
    } catch (const Failure& f) {
      EXPECT_EQ(f.code(), kExitUsage);
      EXPECT_NE(std::string(f.what()).find(c.says), std::string::npos) << f.what();
    }
  }
}

TEST(MeasurementTable, AJobKeepsItsOptionsAndItsFileBytes) {
  const Job job = jobFromJson(Json::parse(
      R"({"measurement":"attack-release","files":["a.wav",[99,97,102,233]],"channel":2,"pad_samples":0})"));
  EXPECT_EQ(job.files[1], std::string("caf\xE9"));
  EXPECT_EQ(job.channel, 2);
  EXPECT_EQ(job.options.padSamples, 0);
  EXPECT_EQ(jobOptionsJson(job), Json::parse(R"({"pad_samples":0})"));
}

}  // namespace
