#include "TestFiles.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace tv::test {

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("tonvista-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

Bytes ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& file, const Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

void Put16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

uint16_t Get16(const Bytes& in, size_t at) {
  return static_cast<uint16_t>(in.at(at) | (in.at(at + 1) << 8));
}

uint32_t Get32(const Bytes& in, size_t at) {
  return uint32_t{in.at(at)} | (uint32_t{in.at(at + 1)} << 8) | (uint32_t{in.at(at + 2)} << 16) |
         (uint32_t{in.at(at + 3)} << 24);
}

Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
              std::optional<uint32_t> avgBytes, std::optional<uint16_t> blockAlign) {
  const uint16_t align = blockAlign.value_or(static_cast<uint16_t>(channels * bits / 8));
  Bytes b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, avgBytes.value_or(uint32_t{align} * rate));
  Put16(b, align);
  Put16(b, bits);
  return b;
}

RiffBuilder& RiffBuilder::Chunk(const std::string& id, const Bytes& body,
                                std::optional<uint32_t> claimedSize, bool pad) {
  for (size_t i = 0; i < 4; ++i) body_.push_back(static_cast<uint8_t>(i < id.size() ? id[i] : ' '));
  Put32(body_, claimedSize.value_or(static_cast<uint32_t>(body.size())));
  body_.insert(body_.end(), body.begin(), body.end());
  if (pad && body.size() % 2 == 1) body_.push_back(0);
  return *this;
}

Bytes RiffBuilder::Build() const {
  Bytes out = {'R', 'I', 'F', 'F'};
  Put32(out, riffSize_.value_or(static_cast<uint32_t>(4 + body_.size())));
  for (size_t i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(i < form_.size() ? form_[i] : ' '));
  out.insert(out.end(), body_.begin(), body_.end());
  return out;
}

Bytes PcmWave(uint16_t bits, uint16_t channels, uint32_t rate, const Bytes& data) {
  return RiffBuilder().Chunk("fmt ", FmtBody(1, channels, rate, bits)).Chunk("data", data).Build();
}

Bytes Le16(const std::vector<int16_t>& samples) {
  Bytes out;
  out.reserve(samples.size() * 2);
  for (int16_t s : samples) Put16(out, static_cast<uint16_t>(s));
  return out;
}

}  // namespace tv::test
