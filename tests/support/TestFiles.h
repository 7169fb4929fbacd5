// Test helpers: private temporary folders and RIFF/WAVE bytes assembled by
// hand, so that file tests never depend on the writer they check.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tv::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

Bytes ReadAll(const std::filesystem::path& file);
void WriteAll(const std::filesystem::path& file, const Bytes& bytes);

void Put16(Bytes& out, uint16_t v);
void Put32(Bytes& out, uint32_t v);
uint16_t Get16(const Bytes& in, size_t at);
uint32_t Get32(const Bytes& in, size_t at);

// The 16 (or 18 + extra) bytes of a "fmt " chunk body.
Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
              std::optional<uint32_t> avgBytes = std::nullopt,
              std::optional<uint16_t> blockAlign = std::nullopt);

// Assembles a RIFF file chunk by chunk. Sizes are those of the bodies unless
// a claimed size is given; odd bodies get their pad byte.
class RiffBuilder {
 public:
  explicit RiffBuilder(std::string form = "WAVE") : form_(std::move(form)) {}
  RiffBuilder& Chunk(const std::string& id, const Bytes& body,
                     std::optional<uint32_t> claimedSize = std::nullopt, bool pad = true);
  // Overrides the size in the RIFF header.
  RiffBuilder& RiffSize(uint32_t size) {
    riffSize_ = size;
    return *this;
  }
  Bytes Build() const;

 private:
  std::string form_;
  Bytes body_;
  std::optional<uint32_t> riffSize_;
};

// A complete PCM wave file: "fmt " (16 bytes) then "data".
Bytes PcmWave(uint16_t bits, uint16_t channels, uint32_t rate, const Bytes& data);
// 16-bit samples as little-endian bytes.
Bytes Le16(const std::vector<int16_t>& samples);

}  // namespace tv::test
