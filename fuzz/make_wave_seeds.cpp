// Writes the seed corpus for the wave loader fuzz target: files made by our
// own writer in every PCM layout and a non-PCM one, with and without INFO
// and display chunks, plus damaged copies of them (cut short, sizes bent).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TMMWave.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
}

Bytes MakeWave(const std::filesystem::path& dir, const std::string& name, const tv::WAVEFORMATEX* f,
               int frames, bool tags) {
  const auto path = dir / (name + ".tmp");
  {
    tv::TMMWave w;
    w.CreateFile(path.string(), f);
    if (tags) {
      w.SetInfo(tv::FourCC("INAM"), "Seed title");
      w.SetInfo(tv::FourCC("ISFT"), "Tonvista");
      w.SetDispEntries({{1, {'H', 'i'}}, {8, {1, 2, 3}}});
    }
    Bytes data(static_cast<size_t>(frames) * f->nBlockAlign);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 37) ^ (i >> 3));
    if (w.WriteData(data.data(), static_cast<int32_t>(data.size())) <= 0 || !w.CloseFile()) {
      throw tv::EMMWaveError("Unable to write " + path.string());
    }
  }
  Bytes bytes = ReadAll(path);
  std::filesystem::remove(path);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  std::vector<std::pair<std::string, Bytes>> seeds;
  for (int bits : {8, 16}) {
    for (int ch : {1, 2, 4}) {
      auto f = tv::MakePcmFormat(bits, ch, ch == 4 ? 22050 : 8000);
      const std::string n = "pcm" + std::to_string(bits) + "x" + std::to_string(ch);
      seeds.emplace_back(n, MakeWave(dir, n, f.get(), 40, ch == 2));
    }
  }
  // A compressed format with two extra bytes, closed with a "fact" chunk.
  auto adpcm = tv::AllocWaveFormat(20);
  adpcm->wFormatTag = 0x11;
  adpcm->nChannels = 1;
  adpcm->nSamplesPerSec = 8000;
  adpcm->nAvgBytesPerSec = 4055;
  adpcm->nBlockAlign = 256;
  adpcm->wBitsPerSample = 4;
  adpcm->cbSize = 2;
  tv::WaveFormatExtra(adpcm.get())[0] = 0xF9;
  tv::WaveFormatExtra(adpcm.get())[1] = 0x01;
  seeds.emplace_back("adpcm", MakeWave(dir, "adpcm", adpcm.get(), 2, true));

  // Damaged variants of the stereo file with tags.
  const Bytes base = seeds[1].second;
  for (size_t cut : {size_t{11}, size_t{20}, size_t{40}, size_t{50}, base.size() - 30}) {
    seeds.emplace_back("cut" + std::to_string(cut), Bytes(base.begin(), base.begin() + static_cast<long>(cut)));
  }
  Bytes bent = base;
  Put32(bent, 40, 0xFFFFFFF0);  // data size near 2^32
  seeds.emplace_back("bigdata", bent);
  bent = base;
  Put32(bent, 4, 0xFFFFFFFF);  // RIFF size past the end
  seeds.emplace_back("bigriff", bent);
  bent = base;
  Put32(bent, 40, 0);  // data size zero
  seeds.emplace_back("zerodata", bent);
  bent = base;
  bent[22] = 0;  // no channels
  bent[23] = 0;
  seeds.emplace_back("nochannels", bent);

  for (const auto& [name, bytes] : seeds) WriteAll(dir / (name + ".wav"), bytes);
  std::printf("%zu seeds in %s\n", seeds.size(), dir.string().c_str());
  return 0;
}
