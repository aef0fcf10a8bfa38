// envelo's alignment verdict and settle-time search on arbitrary correlation
// magnitudes and level tracks, the analysis windows over recordings of any
// length and delay, and envelo_estimation on inputs too short to measure.
//
// Fails on a crash or sanitizer report, and when a result breaks the
// contract: the peak is the first strongest non-NaN magnitude, the verdict
// is 0 or 1 and fails every shift above 360,000 and every delay above
// 240,000 samples, a settle time is 0 or a whole number of 0.2 s steps that
// the track can have, a window RMS is never negative, and short inputs give
// the failure flag and no times.
#include <cmath>
#include <map>
#include <vector>

#include "envelo_estimation.hpp"
#include "fuzz_input.hpp"
#include "rt_nonfinite.hpp"

using namespace audiomeas::fuzz;
namespace envelo = audiomeas::envelo;

namespace {

// Correlation magnitudes: a floor value with single values and a run of
// values set anywhere. The array is large: it stays filled with the floor,
// and only the positions a case sets are written and restored.
class Magnitudes {
 public:
  explicit Magnitudes(Input& in) {
    static const double kFloors[] = {0.0, 1.0, 1e-300, 5e-324, 1e300};
    const double floor = kFloors[in.byte() % 5];
    if (bitsOf(floor) != bitsOf(floor_)) {
      std::fill(magnitudes_.begin(), magnitudes_.end(), floor);
      floor_ = floor;
    }
    for (int count = in.byte() % 16; count > 0; --count) {
      const auto k = static_cast<int32_t>(in.range(0, envelo::kCorrelationLength - 1));
      set(k, in.special());
    }
    auto i = static_cast<int32_t>(in.range(0, envelo::kCorrelationLength - 1));
    for (; i < envelo::kCorrelationLength && in.remaining() > 8 && in.flag(); ++i) {
      set(i, in.special());
    }
  }
  ~Magnitudes() {
    for (const auto& [k, v] : set_) magnitudes_[static_cast<std::size_t>(k)] = floor_;
  }
  const double* data() const { return magnitudes_.data(); }

  // The first strongest non-NaN value (0-based index), or -1 when all are
  // NaN, from the set positions and the first position left at the floor.
  int32_t expectedPeak() const {
    int32_t floorAt = 0;
    for (const auto& [k, v] : set_) {
      if (k != floorAt) break;
      ++floorAt;
    }
    std::map<int32_t, double> candidates = set_;
    if (floorAt < envelo::kCorrelationLength) candidates[floorAt] = floor_;
    int32_t best = -1;
    for (const auto& [k, v] : candidates) {
      if (!std::isnan(v) && (best < 0 || v > candidates.at(best))) best = k;
    }
    return best;
  }

 private:
  void set(int32_t k, double v) {
    magnitudes_[static_cast<std::size_t>(k)] = v;
    set_[k] = v;
  }
  static inline std::vector<double> magnitudes_ = std::vector<double>(envelo::kCorrelationLength, 0.0);
  static inline double floor_ = 0.0;
  std::map<int32_t, double> set_;
};

void peak(Input& in) {
  const Magnitudes m(in);
  const envelo::Peak p = envelo::findPeak(m.data());
  const int32_t first = m.expectedPeak();
  if (first < 0) {
    FUZZ_CHECK(p.index == 1 && std::isnan(p.value));
  } else {
    FUZZ_CHECK(p.index == first + 1 && bitsOf(p.value) == bitsOf(m.data()[first]));
  }
}

void verdict(Input& in) {
  const Magnitudes m(in);
  const double* c = m.data();
  envelo::Peak p = envelo::findPeak(c);
  if (in.flag()) {  // any position, as far as the window is concerned
    p.index = static_cast<int32_t>(in.range(1, envelo::kCorrelationLength));
    p.value = c[p.index - 1];
  }
  // Shifts are whole blocks in the entry point; here anything.
  const double shift = in.flag() ? 240.0 * static_cast<double>(in.range(-3000, 3000)) : in.special();
  const double delay = in.flag() ? static_cast<double>(in.range(-720000, 720000)) : in.special();
  const double failed = envelo::alignmentVerdict(shift, delay, c, p);
  FUZZ_CHECK(failed == 0.0 || failed == 1.0);
  if (shift > 360000.0 || std::fabs(delay) > 240000.0) FUZZ_CHECK(failed == 1.0);
}

void settle(Input& in) {
  std::vector<double> track(static_cast<std::size_t>(in.range(0, 300)));
  const double base = in.flag() ? -210.0 : in.special();
  for (std::size_t i = 0; i < track.size(); ++i) {
    track[i] = in.flag() ? in.special() : base + static_cast<double>(in.byte() % 8);
  }
  const auto count = static_cast<int32_t>(track.size());
  const auto segment = in.flag() ? envelo::Segment::kRising : envelo::Segment::kFalling;
  const double t = envelo::settleTime(track.data(), count, segment);
  if (t == 0.0) return;
  bool possible = false;
  for (int32_t j = 0; j + 1 < count; ++j) possible |= t == (j + 1) * 9600.0 / 48000.0;
  FUZZ_CHECK(possible);
  // A NaN among the steady values leaves no threshold to settle on.
  for (int32_t i = std::max(count - envelo::kSteadyCount, 0); i < count; ++i) {
    FUZZ_CHECK(!std::isnan(track[static_cast<std::size_t>(i)]));
  }
}

// Windows of the analysis over a recording of any length, moved by any
// delay the alignment can pass (1 .. 240,000 samples), or failed.
void windows(Input& in) {
  const std::vector<double> samples = in.signal(20000);
  HostInput recording(samples, 1, true);
  envelo::Alignment a{static_cast<double>(in.range(-2, 240000)), in.flag() ? 1.0 : 0.0};
  const envelo::AlignedRecording aligned =
      envelo::alignedRecording(recording.get()->data, recording.length(), a);
  const auto start = static_cast<int32_t>(in.range(0, envelo::kMinReferenceLength));
  const double r = envelo::windowRms(aligned, start);
  FUZZ_CHECK(r >= 0.0 || std::isnan(r));
  recording.check();
}

// Inputs shorter than the measurement needs (reference below 5,544,000 or
// recording below 720,000 samples), or not arrays at all: refused.
void shortInputs(Input& in) {
  static std::vector<double> longReference(envelo::kMinReferenceLength + 1);
  static std::vector<double> recordingBlock(envelo::kSignalLength);
  const bool longEnough = in.flag();
  const int32_t referenceLength =
      longEnough
          ? static_cast<int32_t>(in.range(envelo::kMinReferenceLength - 1, envelo::kMinReferenceLength + 1))
          : static_cast<int32_t>(in.range(0, envelo::kMinReferenceLength - 1));
  // Never both long enough: a full measurement takes seconds.
  const int32_t recordingLength = static_cast<int32_t>(
      in.range(0, envelo::kSignalLength - (referenceLength >= envelo::kMinReferenceLength ? 1 : 0)));
  int32_t refSize[2] = {referenceLength, 1};
  int32_t recSize[2] = {recordingLength, 1};
  emxBuffer_real_T reference{longReference.data(), refSize, referenceLength, 2, false};
  emxBuffer_real_T recording{recordingBlock.data(), recSize, recordingLength, 2, false};
  switch (in.byte() % 4) {  // malformed containers
    case 1:
      reference.dimCount = 0;
      break;
    case 2:
      recording.data = nullptr;
      break;
    case 3:
      reference.size = nullptr;
      break;
    default:
      break;
  }
  double rise = -1.0, fall = -1.0, failed = -1.0;
  const double unused1 = in.special();
  const double unused2 = in.special();
  envelo::envelo_estimation(&reference, &recording, unused1, unused2, &rise, &fall, &failed);
  FUZZ_CHECK(rise == 0.0 && fall == 0.0 && failed == 1.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // What envelo_estimation_initialize does.
  static const bool initialised = (audiomeas::rt_InitInfAndNaN(8U), true);
  (void)initialised;
  Input in(data, size);
  switch (in.byte() % 5) {
    case 0:
      peak(in);
      break;
    case 1:
      verdict(in);
      break;
    case 2:
      settle(in);
      break;
    case 3:
      windows(in);
      break;
    default:
      shortInputs(in);
      break;
  }
  return 0;
}
