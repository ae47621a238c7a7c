#include "formats/SoundJournal.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "sys/Messages.h"
#include "sys/WorkerThread.h"

namespace tool {
namespace {

constexpr long kHeaderBytes = 44;
constexpr size_t kSampleBytes = sizeof(float);
constexpr char kRecording[] = ".recording";

void PutLittle32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

// A WAV header for `samples` mono float samples at `rate`; a size past
// what 32 bits hold says "to the end".
std::string WaveHeader(int rate, size_t samples) {
  std::string header(kHeaderBytes, '\0');
  const uint64_t data = static_cast<uint64_t>(samples) * kSampleBytes;
  const uint32_t dataSize = data > 0xfffffff0u ? 0xffffffffu : static_cast<uint32_t>(data);
  std::memcpy(&header[0], "RIFF", 4);
  PutLittle32(header, 4, dataSize == 0xffffffffu ? 0xffffffffu : dataSize + 36);
  std::memcpy(&header[8], "WAVEfmt ", 8);
  PutLittle32(header, 16, 16);
  PutLittle32(header, 20, 3 | (1u << 16));  // IEEE float, one channel
  PutLittle32(header, 24, static_cast<uint32_t>(rate));
  PutLittle32(header, 28, static_cast<uint32_t>(rate) * kSampleBytes);
  PutLittle32(header, 32, kSampleBytes | (32u << 16));  // block align, bits
  std::memcpy(&header[36], "data", 4);
  PutLittle32(header, 40, dataSize);
  return header;
}

}  // namespace

std::string TakeSoundPath(const std::string& takePath) {
  const size_t suffix = sizeof kRecording - 1;
  if (takePath.size() > suffix && takePath.compare(takePath.size() - suffix, suffix, kRecording) == 0)
    return takePath.substr(0, takePath.size() - suffix) + ".wav" + kRecording;
  return takePath + ".wav";
}

// What the journal and its writer share.
struct SoundJournal::File {
  RecordingFile recording{"the take's sound", "--take"};
  int rate = 48000;
  std::atomic<size_t> samples{0};  // written
  std::atomic<bool> behind{false};
  double headerSaidAt = 0.0;       // samples, when the header's sizes were last brought up to date

  // The header's sizes, for what is written.
  void UpdateHeader() {
    const std::string header = WaveHeader(rate, samples.load());
    recording.Overwrite(0, header.data(), header.size());
    headerSaidAt = static_cast<double>(samples.load());
  }
};

SoundJournal::SoundJournal() = default;
SoundJournal::~SoundJournal() = default;

bool SoundJournal::Open(const std::string& path, const std::string& folder, int sampleRate, std::string& error) {
  rate = sampleRate;
  auto opened = std::make_shared<File>();
  opened->rate = sampleRate;
  if (!opened->recording.Open(path, folder, error)) return false;
  if (!opened->recording.Append(WaveHeader(sampleRate, 0))) {
    if (!path.empty()) unlink((path + kRecording).c_str());
    error = "--take: the take's sound: " + opened->recording.Failure();
    return false;
  }
  file = std::move(opened);
  writer = std::make_unique<WorkerThread>(1024, kMaxWaitingBytes);
  block.reserve(kBlockSamples);
  return true;
}

void SoundJournal::Hand(std::vector<float> samples) {
  if (!file || file->behind) return;
  const size_t bytes = samples.size() * kSampleBytes;
  const bool handed = writer->Offer(
      [file = file, samples = std::move(samples)] {
        if (!file->recording.Append(reinterpret_cast<const char*>(samples.data()), samples.size() * kSampleBytes))
          return;
        file->samples += samples.size();
        if (static_cast<double>(file->samples.load()) - file->headerSaidAt >= file->rate) file->UpdateHeader();
      },
      bytes);
  if (!handed) file->behind = true;
}

void SoundJournal::Append(const float* samples, size_t count) {
  if (!file) return;
  appended += count;
  for (size_t at = 0; at < count;) {
    const size_t taken = std::min(count - at, kBlockSamples - block.size());
    block.insert(block.end(), samples + at, samples + at + taken);
    at += taken;
    if (block.size() == kBlockSamples) {
      Hand(std::move(block));
      block = std::vector<float>();
      block.reserve(kBlockSamples);
    }
  }
}

void SoundJournal::WriteTake(const std::string& path, size_t first, size_t end) {
  if (!file) return;
  if (!block.empty()) {
    Hand(std::move(block));
    block = std::vector<float>();
  }
  const bool handed = writer->Offer(
      [file = file, path, first, end] {
        if (file->recording.Failed()) return;
        const size_t until = std::min(end, file->samples.load());
        const size_t from = std::min(first, until);
        std::string error;
        if (!file->recording.CopyInto(path, WaveHeader(file->rate, until - from),
                                      kHeaderBytes + static_cast<long>(from * kSampleBytes),
                                      kHeaderBytes + static_cast<long>(until * kSampleBytes), "", error))
          file->recording.Say(true, "the take's sound: " + error);
      },
      path.size());
  if (!handed) file->recording.Say(true, "the take's sound: the disk is behind; " + Printable(path, 300) + " was not written");
}

bool SoundJournal::Settle(double patience) {
  return !writer || writer->Idle(std::chrono::milliseconds(static_cast<long>(patience * 1000.0)));
}

bool SoundJournal::Close(std::string& error, double patience) {
  if (!file) return true;
  if (!block.empty()) Hand(std::move(block));
  auto placed = std::make_shared<std::string>();
  const bool named = file->recording.Named();
  const bool handed = !file->behind && writer->Offer(
      [file = file, named, placed] {
        file->UpdateHeader();
        if (!file->recording.Sync()) return;
        if (named && !file->recording.Place(WaveHeader(file->rate, file->samples.load()), kHeaderBytes, *placed) &&
            placed->empty())
          *placed = "the take's sound could not be put in place";
        else if (placed->empty()) *placed = "placed";
      },
      64);
  const bool settled = Settle(patience);
  if (!named) return true;
  const std::string where = "; the sound is in " + Printable(file->recording.RecordingPath(), 300);
  if (!settled) return error = "the take's sound: the disk has not taken its last blocks" + where, false;
  if (!handed || !Failure().empty()) return error = "the take's sound: " + Failure() + where, false;
  if (*placed != "placed") return error = *placed, false;
  return true;
}

std::string SoundJournal::Failure() const {
  if (!file) return "";
  const std::string failure = file->recording.Failure();
  if (!failure.empty()) return failure;
  return file->behind ? "the disk did not keep up with the show" : "";
}

std::vector<RecordingFile::News> SoundJournal::TakeNews() {
  return file ? file->recording.TakeNews() : std::vector<RecordingFile::News>();
}

}  // namespace tool
