#include "MMWaveWrite.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "MMByteOrder.h"

namespace tv {

namespace {

bool WriteChunk(TMMWaveIO& io, uint32_t id, const void* body, int64_t size) {
  uint8_t head[8];
  StoreLE32(head, id);
  StoreLE32(head + 4, static_cast<uint32_t>(size));
  if (io.Write(head, 8) != 8) return false;
  if (size > 0 && io.Write(body, size) != size) return false;
  if ((size & 1) != 0) {
    const uint8_t pad = 0;
    if (io.Write(&pad, 1) != 1) return false;
  }
  return true;
}

bool WriteFmtChunk(TMMWaveIO& io, const WAVEFORMATEX* f) {
  const int64_t size = f->wFormatTag == WAVE_FORMAT_PCM ? 16 : WaveFormatSize(f);
  return WriteChunk(io, kFourCCFmt, f, size);
}

// Everything that follows the sample data when a written file is closed.
bool WriteTrailing(TMMWaveIO& io, const WaveFileInfo& info) {
  const WAVEFORMATEX* f = info.Format.get();
  if (info.FmtAfterData && !WriteFmtChunk(io, f)) return false;
  if (f->wFormatTag != WAVE_FORMAT_PCM) {
    uint8_t samples[4];
    StoreLE32(samples, static_cast<uint32_t>(std::min<int64_t>(info.dwDataSamples, kMaxChunkSize)));
    if (info.FactOffset >= 0) {
      const int64_t back = io.Tell();
      if (io.Seek(info.FactOffset, SEEK_SET) < 0 || io.Write(samples, 4) != 4 ||
          io.Seek(back, SEEK_SET) < 0) {
        return false;
      }
    } else if (!WriteChunk(io, kFourCCFact, samples, 4)) {
      return false;
    }
  }
  for (size_t k = info.DispInPlace; k < info.Disp.size(); ++k) {
    const TMMDispEntry& d = info.Disp[k];
    if (d.Type != 1 && d.Type != 8) continue;
    std::vector<uint8_t> body(4);
    StoreLE32(body.data(), d.Type);
    body.insert(body.end(), d.Data.begin(), d.Data.end());
    if (d.Type == 1) body.push_back(0);
    if (!WriteChunk(io, kFourCCDisp, body.data(), static_cast<int64_t>(body.size()))) return false;
  }
  std::vector<uint8_t> list;
  for (size_t i = 0; i < info.Info.size(); ++i) {
    const std::string& text = info.Info[i];
    if (text.empty() || info.InfoInPlace) continue;
    uint8_t head[8];
    StoreLE32(head, kInfoChunkIds[i]);
    StoreLE32(head + 4, static_cast<uint32_t>(text.size() + 1));
    list.insert(list.end(), head, head + 8);
    list.insert(list.end(), text.begin(), text.end());
    list.push_back(0);
    if ((text.size() + 1) % 2 != 0) list.push_back(0);
  }
  if (!list.empty()) {
    uint8_t head[12];
    StoreLE32(head, kFourCCList);
    StoreLE32(head + 4, static_cast<uint32_t>(list.size() + 4));
    StoreLE32(head + 8, kFourCCInfo);
    if (io.Write(head, 12) != 12) return false;
    if (io.Write(list.data(), static_cast<int64_t>(list.size())) !=
        static_cast<int64_t>(list.size())) {
      return false;
    }
  }
  return true;
}

}  // namespace

int64_t TrailingSize(const WaveFileInfo& info) {
  int64_t n = 0;
  const WAVEFORMATEX* f = info.Format.get();
  if (info.FmtAfterData) {
    const int64_t fmt = f->wFormatTag == WAVE_FORMAT_PCM ? 16 : WaveFormatSize(f);
    n += 8 + fmt + (fmt & 1);
  }
  if (f->wFormatTag != WAVE_FORMAT_PCM && info.FactOffset < 0) n += 12;
  for (size_t i = info.DispInPlace; i < info.Disp.size(); ++i) {
    const TMMDispEntry& d = info.Disp[i];
    if (d.Type != 1 && d.Type != 8) continue;
    const int64_t body = 4 + static_cast<int64_t>(d.Data.size()) + (d.Type == 1 ? 1 : 0);
    n += 8 + body + (body & 1);
  }
  int64_t list = 0;
  for (const std::string& text : info.Info) {
    if (text.empty() || info.InfoInPlace) continue;
    const int64_t body = static_cast<int64_t>(text.size()) + 1;
    list += 8 + body + (body & 1);
  }
  if (list > 0) n += 12 + list;
  return n;
}

bool WriteWaveHeader(TMMWaveIO& io, WaveFileInfo& info) {
  info.ckRIFF.fccType = kFourCCWave;
  bool ok = io.CreateChunk(info.ckRIFF, kCreateRiff) == ioOk && WriteFmtChunk(io, info.Format.get());
  info.ckData.ckid = kFourCCData;
  ok = ok && io.CreateChunk(info.ckData, 0) == ioOk && io.Flush();
  // Only the data chunk is fixed on close; the RIFF size is written then.
  info.ckRIFF.dwFlags = 0;
  info.ckData.dwFlags = 0;
  info.dwDataOffset = info.ckData.dwDataOffset;
  return ok;
}

bool FinishWaveFile(TMMWaveIO& io, WaveFileInfo& info) {
  const WAVEFORMATEX* f = info.Format.get();
  const int64_t align = std::max<int64_t>(1, f->nBlockAlign);
  bool ok = io.Flush();
  int64_t data = info.dwDataBytes;
  if (!ok) {
    // Keep what reached the disk, in whole frames.
    const int64_t failedAt = std::max<int64_t>(io.WriteFailedAt(), info.dwDataOffset);
    data = std::clamp<int64_t>(failedAt - info.dwDataOffset, 0, data);
    data -= data % align;
    io.ClearWriteError();
  }
  info.dwDataBytes = data;
  info.dwDataSamples = BytesToSamples64(f, data);
  info.dwEndSample = info.dwDataSamples;
  const int64_t dataEnd = info.dwDataOffset + data;
  const int64_t padded = dataEnd + (data & 1);
  int64_t end = padded;
  bool tail = io.Seek(dataEnd, SEEK_SET) >= 0;
  if (tail && (data & 1) != 0) {
    const uint8_t pad = 0;
    tail = io.Write(&pad, 1) == 1;
  }
  tail = tail && WriteTrailing(io, info) && io.Flush();
  if (tail) {
    end = io.Tell();
  } else {
    io.ClearWriteError();
    ok = false;
  }
  uint8_t field[4];
  StoreLE32(field, static_cast<uint32_t>(data));
  bool head = io.Seek(info.dwDataOffset - 4, SEEK_SET) >= 0 && io.Write(field, 4) == 4;
  StoreLE32(field, static_cast<uint32_t>(std::min(end - 8, kMaxChunkSize)));
  head = head && io.Seek(4, SEEK_SET) >= 0 && io.Write(field, 4) == 4 && io.Flush();
  const bool cut = io.Truncate(end);
  info.ckData.cksize = static_cast<uint32_t>(data);
  info.ckData.dwFlags &= ~kChunkDirty;
  info.ckRIFF.cksize = static_cast<uint32_t>(std::min(end - 8, kMaxChunkSize));
  info.dwFileSize = end;
  return ok && head && cut;
}

}  // namespace tv
