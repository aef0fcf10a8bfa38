#include "audio_io.hpp"

#include <dirent.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "memory.hpp"
#include "status.hpp"
#include "text.hpp"

namespace audiomeas::host {

namespace {

struct SndFile {
  SNDFILE* handle = nullptr;
  ~SndFile() {
    if (handle != nullptr) sf_close(handle);
  }
};

std::string lowerExtension(const std::string& path) {
  auto slash = path.find_last_of('/');
  auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

bool isIntegerPcm(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      return true;
    default:
      return false;
  }
}

bool formatOk(int format) {
  SF_INFO info{};
  info.channels = 1;
  info.samplerate = 48000;
  info.format = format;
  return sf_format_check(&info) != 0;
}

}  // namespace

namespace {

std::atomic<FileActivity> activityListener{nullptr};

void tell(const char* what, const std::string& path) {
  if (FileActivity f = activityListener.load(std::memory_order_relaxed)) f(what, path);
}

// Bits per sample of the formats that store every sample in the same room;
// 0 for those that compress (FLAC, Vorbis, ...), where the size bounds
// nothing.
int bitsPerSample(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      return 8;
    case SF_FORMAT_PCM_16:
      return 16;
    case SF_FORMAT_PCM_24:
      return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 32;
    case SF_FORMAT_DOUBLE:
      return 64;
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_VOX_ADPCM:
    case SF_FORMAT_G721_32:
      return 4;
    default:
      return 0;
  }
}

// Major formats that compress whatever their subtype says (libsndfile
// gives FLAC as 16-bit PCM): the file's size bounds no sample count.
bool compressedMajor(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
      return true;
    default:
      return false;
  }
}

std::string shownName(const std::string& path) {
  return path == kStandardInput ? std::string("standard input") : path;
}

}  // namespace

struct AudioInput::Open {
  SndFile file;
  SF_INFO info{};
  bool read = false;
};

AudioInput::AudioInput(const std::string& path) : open_(std::make_unique<Open>()) {
  const std::string shown = shownName(path);
  // The system would open the name up to the NUL: another file.
  if (path.find('\0') != std::string::npos)
    throw badInput(path, "the name holds a NUL byte, which no file name can");
  const bool standardInput = path == kStandardInput;
  // Opened once, here: a pipe or FIFO gives its bytes to one reader only.
  const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) throw badInput(path, "no such file");
    throw badInput(path, std::string("cannot read: ") + std::strerror(errno));
  }
  struct stat st {};
  const bool statted = ::fstat(fd, &st) == 0;
  if (statted && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw badInput(path, "is a directory, not an audio file");
  }
  // Standard input stays open for the process; a file's descriptor is the
  // handle's to close.
  open_->file.handle = sf_open_fd(fd, SFM_READ, &open_->info, standardInput ? SF_FALSE : SF_TRUE);
  if (open_->file.handle == nullptr) {
    if (!standardInput) ::close(fd);
    int err = sf_error(nullptr);
    if (err == SF_ERR_UNRECOGNISED_FORMAT || err == SF_ERR_MALFORMED_FILE)
      throw badInput(shown, std::string("not an audio file (") + sf_error_number(err) + ")");
    throw badInput(shown, std::string("cannot read as audio: ") + sf_strerror(nullptr));
  }
  const SF_INFO& in = open_->info;
  if (in.channels < 1 || in.samplerate < 1)
    throw badInput(shown, "not an audio file (no channels or no sample rate)");
  const long long fileBytes = statted && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : 0;

  info_.path = path;
  info_.channels = in.channels;
  info_.sampleRate = in.samplerate;
  info_.format = in.format;
  const long long claimed =
      in.frames > 0 && in.frames < SF_COUNT_MAX ? static_cast<long long>(in.frames) : -1;
  const int bits = compressedMajor(in.format) ? 0 : bitsPerSample(in.format);
  if (bits > 0 && fileBytes > 0) {
    const long long fits = fileBytes / in.channels * 8 / bits;
    info_.frames = claimed < 0 ? fits : std::min(claimed, fits);
    info_.lengthKnown = true;
  } else if (bits == 0 && claimed >= 0) {
    // Decoding reaches the header's count from a file of any size.
    info_.frames = claimed;
    info_.lengthKnown = true;
  } else {
    info_.frames = fileBytes / in.channels;
  }
}

AudioInput::~AudioInput() = default;
AudioInput::AudioInput(AudioInput&&) noexcept = default;

const AudioInfo& AudioInput::info() const { return info_; }

int AudioInput::resolveChannel(int channel) const {
  const std::string shown = shownName(info_.path);
  const int channels = info_.channels;
  if (channels > 1 && channel == 0)
    throw badInput(shown, fmt("has %d channels; choose one with --channel K (1..%d) or --channel all",
                              channels, channels));
  // --channel picks from multi-channel files; a mono file is its one channel.
  if (channels == 1) return 1;
  if (channel > channels)
    throw badInput(shown, fmt("has %d channel%s; --channel %d does not exist", channels,
                              channels == 1 ? "" : "s", channel));
  return channel;
}

Signal AudioInput::read(int channel, Scale scale, std::size_t maxBytes) {
  return std::move(readChannels({resolveChannel(channel)}, scale, maxBytes).front());
}

std::vector<Signal> AudioInput::readChannels(const std::vector<int>& picks, Scale scale,
                                             std::size_t maxBytes) {
  const std::string& path = info_.path;
  const std::string shown = shownName(path);
  if (open_->read) throw badInput(shown, "read twice");
  open_->read = true;
  tell("reading", path);
  const SF_INFO& info = open_->info;
  const size_t channels = size_t(info.channels);
  std::vector<Signal> out(picks.size());
  for (size_t k = 0; k < picks.size(); ++k) {
    if (picks[k] < 1 || size_t(picks[k]) > channels) throw std::logic_error("channel not resolved");
    out[k].path = path;
    out[k].sampleRate = info.samplerate;
    out[k].channels = info.channels;
    out[k].channel = picks[k];
    out[k].format = info.format;
  }
  const double factor = scale == Scale::kInt16 ? kInt16Factor : 1.0;
  const size_t maxFrames =
      maxBytes > 0 ? maxBytes / (sizeof(double) * std::max<size_t>(1, picks.size())) : size_t(INT32_MAX);

  // Read in blocks until the end, whatever the header claims: a truncated
  // file then yields what it holds. The block has a fixed byte size, so a
  // file of many channels costs no more than a mono one; the samples are
  // reserved only as far as the header's bound, which the memory check has
  // admitted.
  constexpr size_t kBlockBytes = size_t(1) << 20;
  const sf_count_t blockFrames = sf_count_t(std::max<size_t>(1, kBlockBytes / (channels * sizeof(double))));
  std::vector<double> block(size_t(blockFrames) * channels);
  if (info_.lengthKnown && info_.frames > 0)
    for (Signal& s : out)
      s.samples.reserve(size_t(std::min<long long>({info_.frames, INT32_MAX, (long long)maxFrames})));
  size_t have = 0;
  for (;;) {
    sf_count_t got = sf_readf_double(open_->file.handle, block.data(), blockFrames);
    if (got <= 0) break;
    if (have + size_t(got) > size_t(INT32_MAX))
      throw badInput(shown, fmt("too long: more than %d samples per channel", INT32_MAX));
    if (have + size_t(got) > maxFrames)
      throw MemoryShortfall(shown + fmt(": its samples would take more than the %s of memory available; read "
                                        "it from a file, or use a machine with more memory",
                                        describeBytes(maxBytes).c_str()),
                            (have + size_t(got)) * sizeof(double) * picks.size(), maxBytes);
    for (Signal& s : out) {
      const size_t pick = size_t(s.channel - 1);
      for (sf_count_t i = 0; i < got; ++i) s.samples.push_back(block[size_t(i) * channels + pick] * factor);
    }
    have += size_t(got);
  }
  if (sf_error(open_->file.handle) != SF_ERR_NO_ERROR)
    throw badInput(shown, std::string("cannot read as audio: ") + sf_strerror(open_->file.handle));
  tell("read", path);
  return out;
}

namespace {

// One channel of an open file, read where asked by seeking.
class FileSource final : public SampleSource {
 public:
  FileSource(SNDFILE* file, std::string shown, std::int64_t frames, int channels, int channel, double factor)
      : file_(file),
        shown_(std::move(shown)),
        frames_(frames),
        channels_(channels),
        pick_(channel - 1),
        factor_(factor) {}
  std::int64_t size() const override { return frames_; }
  std::span<const double> read(std::int64_t from, std::int64_t count,
                               std::vector<double>& out) const override {
    out.assign(size_t(std::max<std::int64_t>(0, count)), 0.0);
    if (count <= 0) return out;
    if (sf_seek(file_, from, SEEK_SET) != from)
      throw badInput(shown_, fmt("cannot read at frame %lld: %s", (long long)from, sf_strerror(file_)));
    // A fixed block whatever the channel count; a file shorter than its
    // header says reads as zeros past its end.
    const std::int64_t blockFrames = std::max<std::int64_t>(1, (std::int64_t(1) << 17) / channels_);
    block_.resize(size_t(blockFrames * channels_));
    for (std::int64_t at = 0; at < count;) {
      const sf_count_t got = sf_readf_double(file_, block_.data(), std::min(blockFrames, count - at));
      if (got <= 0) break;
      for (sf_count_t i = 0; i < got; ++i)
        out[size_t(at + i)] = block_[size_t(i) * size_t(channels_) + size_t(pick_)] * factor_;
      at += got;
    }
    if (sf_error(file_) != SF_ERR_NO_ERROR)
      throw badInput(shown_, std::string("cannot read as audio: ") + sf_strerror(file_));
    return out;
  }

 private:
  SNDFILE* file_;
  std::string shown_;
  std::int64_t frames_;
  int channels_, pick_;
  double factor_;
  mutable std::vector<double> block_;
};

}  // namespace

bool AudioInput::seekable() const { return open_->info.seekable && info_.lengthKnown && !open_->read; }

std::unique_ptr<SampleSource> AudioInput::source(int channel, Scale scale) {
  if (!seekable()) return nullptr;
  open_->read = true;
  return std::make_unique<FileSource>(open_->file.handle, shownName(info_.path), info_.frames, info_.channels,
                                      resolveChannel(channel), scale == Scale::kInt16 ? kInt16Factor : 1.0);
}

void setFileActivityListener(FileActivity listener) {
  activityListener.store(listener, std::memory_order_relaxed);
}

AudioInfo probeAudio(const std::string& path) { return AudioInput(path).info(); }

Signal readAudio(const std::string& path, int channel, Scale scale) {
  return AudioInput(path).read(channel, scale);
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return path != kStandardInput && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void refuseOverwrite(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out {};
  if (output.empty() || ::stat(output.c_str(), &out) != 0) return;
  for (const std::string& input : inputs) {
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      throw usageError(output + ": is the input " + input +
                       ", which writing it would replace; choose another output file");
  }
}

int outputFormat(const std::string& path, int likeFormat) {
  const std::string ext = lowerExtension(path);
  int major = 0;
  if (!ext.empty()) {
    // Ask libsndfile for its containers and their usual extensions.
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count && major == 0; ++i) {
      SF_FORMAT_INFO fi{};
      fi.format = i;
      sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &fi, sizeof fi);
      if (fi.extension != nullptr && ext == fi.extension) major = fi.format;
    }
    if (ext == "aif") major = SF_FORMAT_AIFF;
  }
  if (major == 0)
    throw usageError(path +
                     ": cannot tell the audio format from the file name; "
                     "use an extension such as .wav, .flac or .aiff");
  const int candidates[] = {likeFormat & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT, SF_FORMAT_PCM_24,
                            SF_FORMAT_PCM_16};
  for (int sub : candidates)
    if (sub != 0 && formatOk(major | sub)) return major | sub;
  throw usageError(path + ": no lossless sample format for this container");
}

namespace {

// Removes the temporaries "." base ".XXXXXX" in dir that no live writer
// holds (each writer keeps an exclusive lock on its own while it writes);
// gives the names removed.
std::vector<std::string> removeStaleTemporaries(const std::string& dir, const std::string& base) {
  std::vector<std::string> removed;
  const std::string prefix = "." + base + ".";
  constexpr size_t kSuffix = 6;  // mkstemp's XXXXXX
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return removed;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() != prefix.size() + kSuffix || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string full = (dir == "." ? std::string() : dir) + name;
    const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(full.c_str()) == 0)
      removed.push_back(full);
    ::close(fd);
  }
  ::closedir(d);
  return removed;
}

}  // namespace

std::vector<std::string> writeAudio(const std::string& path, const std::vector<double>& samples,
                                    int sampleRate, int format, int channels) {
  return writeAudio(
      path, std::int64_t(samples.size()) / std::max(1, channels),
      [&](std::int64_t from, std::int64_t count, double* out) {
        const size_t c = size_t(std::max(1, channels));
        std::copy(samples.begin() + from * c, samples.begin() + (from + count) * c, out);
      },
      sampleRate, format, channels);
}

std::vector<std::string> writeAudio(const std::string& path, std::int64_t frames, const FrameFill& fill,
                                    int sampleRate, int format, int channels) {
  tell("writing", path);
  auto slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::vector<std::string> removed = removeStaleTemporaries(dir, base);
  std::string pathTemplate = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";
  std::vector<char> name(pathTemplate.begin(), pathTemplate.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) throw Failure(kExitOutput, path + ": cannot write: " + std::strerror(errno));
  const std::string tmpPath(name.data());
  // Held until the descriptor closes, so that another write of the same
  // output leaves this temporary alone while it is written.
  ::flock(fd, LOCK_EX);
  // mkstemp makes the file private; give it the mode a plain create would.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);

  SF_INFO info{};
  info.channels = channels;
  info.samplerate = sampleRate;
  info.format = format;
  // The descriptor stays ours (SF_FALSE): closed once, here, on every path.
  SNDFILE* out = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  auto fail = [&](const std::string& why) {
    if (out != nullptr) sf_close(out);
    ::close(fd);
    ::unlink(tmpPath.c_str());
    return Failure(kExitOutput, path + ": cannot write: " + why);
  };
  if (out == nullptr) throw fail(sf_strerror(nullptr));

  bool ok = true;
  // Whole frames a block, made as they are written.
  const std::int64_t kBlockFrames = 65536;
  const size_t width = size_t(std::max(1, channels));
  std::vector<double> values(size_t(kBlockFrames) * width);
  std::vector<int> integers(isIntegerPcm(format) ? values.size() : 0);
  for (std::int64_t at = 0; ok && at < frames; at += kBlockFrames) {
    const std::int64_t n = std::min(kBlockFrames, frames - at);
    const size_t items = size_t(n) * width;
    fill(at, n, values.data());
    if (isIntegerPcm(format)) {
      // Left-justified 32-bit integers: libsndfile drops the low bits exactly,
      // so k / 32768 becomes the 16-bit value k (its own double path would
      // scale by 32767).
      for (size_t i = 0; i < items; ++i) {
        double v = std::nearbyint(values[i] * 2147483648.0);
        integers[i] = v >= 2147483647.0 ? INT_MAX : v <= -2147483648.0 ? INT_MIN : int(v);
      }
      ok = sf_write_int(out, integers.data(), sf_count_t(items)) == sf_count_t(items);
    } else {
      ok = sf_write_double(out, values.data(), sf_count_t(items)) == sf_count_t(items);
    }
  }
  if (!ok) throw fail(sf_strerror(out));
  const int closed = sf_close(out);
  out = nullptr;
  if (closed != 0) throw fail("closing the file failed");
  // Renamed while still open and locked: no other writer takes it for stale.
  if (::fsync(fd) != 0 || ::rename(tmpPath.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::close(fd);
    ::unlink(tmpPath.c_str());
    throw Failure(kExitOutput, path + ": cannot write: " + why);
  }
  if (::close(fd) != 0) throw Failure(kExitOutput, path + ": cannot write: " + std::strerror(errno));
  return removed;
}

}  // namespace audiomeas::host
