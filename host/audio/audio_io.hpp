// Audio files in and out through libsndfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sample_source.hpp"

namespace audiomeas::host {

// Sample scales handed to the libraries.
//   kUnit   full scale 1.0 (align)
//   kInt16  16-bit integer scale, full scale 32767 (attack-release,
//           transient-snr): a 16-bit file gives its stored integers; every
//           other format is scaled alike, 1.0 becoming 32768.
enum class Scale { kUnit, kInt16 };

inline constexpr double kInt16Factor = 32768.0;

struct Signal {
  std::string path;
  int sampleRate = 0;
  int channels = 0;             // channels in the file
  int channel = 1;              // the one read, 1-based
  int format = 0;               // libsndfile format word of the file
  std::vector<double> samples;  // the one channel measured, in the requested scale

  double seconds() const { return sampleRate > 0 ? double(samples.size()) / sampleRate : 0.0; }
};

// The name that stands for standard input among the input files.
inline constexpr const char* kStandardInput = "-";

// What a file's header says, read without its samples.
struct AudioInfo {
  std::string path;
  long long frames = 0;  // frames per channel the file can hold (see AudioInput)
  int channels = 0;
  int sampleRate = 0;
  int format = 0;            // libsndfile format word
  bool lengthKnown = false;  // frames bounds what a read gives (else a guess)
};

// An input opened once: its header read from the open handle, its samples
// later from the same handle, so that a pipe or FIFO, read only once, works
// as a file does. path kStandardInput reads standard input.
//
// info().frames is the header's count, capped, for formats of a fixed size
// per sample, by what the file's bytes can hold (a streamed WAV may claim
// 4 GiB); a compressed format (FLAC, Ogg, MPEG, ...) is taken at its
// header's count, which decoding can reach from a file of any size. Where
// nothing bounds the length (a pipe, a header without a count) frames is a
// guess of one frame per byte and channel and lengthKnown is false.
// Throws Failure (bad input) naming the file for a missing, unreadable or
// non-audio file.
class AudioInput {
 public:
  explicit AudioInput(const std::string& path);
  ~AudioInput();
  AudioInput(AudioInput&&) noexcept;
  AudioInput& operator=(AudioInput&&) = delete;
  AudioInput(const AudioInput&) = delete;

  const AudioInfo& info() const;

  // Reads one channel, once. channel is 1-based; 0 means "not chosen",
  // accepted only for single-channel files. A single-channel file gives its
  // channel whatever channel says, so that a mono reference goes with a
  // channel of a multi-channel recording. Throws Failure (bad input) naming
  // the file for an unreadable or too long file, a missing or impossible
  // channel choice; MemoryShortfall when the samples kept would pass
  // maxBytes (0: no limit). Reads through a buffer of a fixed byte size,
  // whatever the channel count, and keeps only the chosen channel.
  Signal read(int channel, Scale scale, std::size_t maxBytes = 0);

  // The channel read() would read for a choice (0: none), or the Failure
  // it would throw.
  int resolveChannel(int channel) const;

  // Several channels (1-based, each resolved) in one pass over the file,
  // once; maxBytes bounds their samples together.
  std::vector<Signal> readChannels(const std::vector<int>& channels, Scale scale, std::size_t maxBytes = 0);

  // One channel (resolved as read() does) as a source read where asked, by
  // seeking, instead of once whole; nullptr when the file cannot seek (a
  // pipe, standard input) or its length is not known. Valid while this
  // input lives; the input is then not read otherwise.
  std::unique_ptr<SampleSource> source(int channel, Scale scale);
  bool seekable() const;  // source() would give one

 private:
  struct Open;
  std::unique_ptr<Open> open_;
  AudioInfo info_;
};

// The header of path, through AudioInput.
AudioInfo probeAudio(const std::string& path);

// One channel of path, through AudioInput.
Signal readAudio(const std::string& path, int channel, Scale scale);

// True when path names a regular file (or standard input is wanted: false).
// What a batch row may read: a FIFO or device could block the batch.
bool isRegularFile(const std::string& path);

// Refuses (Failure, usage) to let output name one of inputs: compared by
// file identity (device and inode), so another spelling, a symbolic link
// or a hard link to an input is refused too. An output that does not exist
// yet is never an input. Call it before anything is read.
void refuseOverwrite(const std::string& output, const std::vector<std::string>& inputs);

// Format word for writing path, major format from its extension (wav, flac,
// aiff, ...); subtype that of likeFormat when that container takes it, else
// the best lossless one it does. Throws Failure (usage) for an unknown
// extension.
int outputFormat(const std::string& path, int likeFormat);

// Writes samples (full scale 1.0; channels interleaved) to path atomically: into a
// temporary file beside it, renamed over path only when complete, so a
// failed write leaves no partial file. Integer formats get the exact values
// a read would give back. Temporaries of the same output that a killed
// writer left are removed first (a live writer's, locked, are left); their
// names are returned, to be told. Throws Failure (output) on error.
std::vector<std::string> writeAudio(const std::string& path, const std::vector<double>& samples,
                                    int sampleRate, int format, int channels = 1);

// The same for a signal made a block at a time: fill(from, count, out)
// writes frames from .. from + count - 1 (channels interleaved) to out.
using FrameFill = std::function<void(std::int64_t from, std::int64_t count, double* out)>;
std::vector<std::string> writeAudio(const std::string& path, std::int64_t frames, const FrameFill& fill,
                                    int sampleRate, int format, int channels = 1);

// Told when a file is read or written, for a progress display: what is
// "reading", "read" (done) or "writing". Called on the thread doing it.
using FileActivity = void (*)(const char* what, const std::string& path);
void setFileActivityListener(FileActivity listener);  // nullptr: none

}  // namespace audiomeas::host
