#include "MMWaveConvert.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "MMByteOrder.h"
#include "TMMWave.h"

namespace tv {

namespace {

// High byte of a 16-bit sample, rounding toward minus infinity.
inline int32_t High(int32_t s) { return s >> 8; }

// One source frame in the target's class (mono/stereo, 8/16 bits); a
// four-channel target repeats the pair.
template <int SB, bool SS, int DB, bool DS, bool DQ>
inline void ConvertFrame(const uint8_t* in, uint8_t* out) {
  int32_t l, r;
  if constexpr (SB == 8) {
    l = in[0];
    r = SS ? in[1] : l;
  } else {
    l = LoadLE16s(in);
    r = SS ? LoadLE16s(in + 2) : l;
  }
  if constexpr (DB == 8) {
    if constexpr (DS) {
      if constexpr (SB == 8) {
        out[0] = static_cast<uint8_t>(l);
        out[1] = static_cast<uint8_t>(r);
      } else {
        out[0] = static_cast<uint8_t>(High(l) + 128);
        out[1] = static_cast<uint8_t>(High(r) + 128);
      }
      if constexpr (DQ) {
        out[2] = out[0];
        out[3] = out[1];
      }
    } else {
      if constexpr (SB == 8) {
        out[0] = static_cast<uint8_t>(SS ? (l + r) / 2 : l);
      } else if constexpr (SS) {
        out[0] = static_cast<uint8_t>(((l + 32768 + r + 32768) / 2) >> 8);
      } else {
        out[0] = static_cast<uint8_t>(High(l) + 128);
      }
    }
  } else {
    int32_t a, b;
    if constexpr (SB == 8) {
      if constexpr (SS && !DS) {
        a = b = ((l + r) / 2 - 128) * 256;
      } else {
        a = (l - 128) * 256;
        b = (r - 128) * 256;
      }
    } else {
      if constexpr (SS && !DS) {
        a = b = (l + 32768 + r + 32768) / 2 - 32768;
      } else {
        a = l;
        b = r;
      }
    }
    StoreLE16(out, static_cast<uint16_t>(a));
    if constexpr (DS) {
      StoreLE16(out + 2, static_cast<uint16_t>(b));
      if constexpr (DQ) {
        StoreLE16(out + 4, static_cast<uint16_t>(a));
        StoreLE16(out + 6, static_cast<uint16_t>(b));
      }
    }
  }
}

// Converts frames and changes the rate by holding or dropping whole frames;
// the accumulator runs on across blocks.
struct RateState {
  int64_t srcRate;
  int64_t dstRate;
  int64_t acc;
};

template <int SB, bool SS, int DB, bool DS, bool DQ>
int64_t ConvertBlock(RateState& st, const uint8_t* in, int64_t frames, int srcAlign, uint8_t* out) {
  // A constant frame size lets the copies below become plain stores.
  constexpr int dstAlign = (DB / 8) * (DQ ? 4 : (DS ? 2 : 1));
  uint8_t* o = out;
  int64_t acc = st.acc;
  if (st.srcRate > st.dstRate) {
    for (int64_t k = 0; k < frames; ++k) {
      acc -= st.dstRate;
      if (acc < 0) {
        ConvertFrame<SB, SS, DB, DS, DQ>(in + k * srcAlign, o);
        o += dstAlign;
        acc += st.srcRate;
      }
    }
  } else {
    uint8_t frame[8];
    for (int64_t k = 0; k < frames; ++k) {
      ConvertFrame<SB, SS, DB, DS, DQ>(in + k * srcAlign, frame);
      do {
        std::memcpy(o, frame, dstAlign);
        o += dstAlign;
        acc -= st.srcRate;
      } while (acc >= 0);
      acc += st.dstRate;
    }
  }
  st.acc = acc;
  return o - out;
}

using BlockFn = int64_t (*)(RateState&, const uint8_t*, int64_t, int, uint8_t*);

template <int SB, bool SS>
BlockFn PickTarget(const WAVEFORMATEX* d) {
  const bool ds = d->nChannels >= 2;
  const bool dq = d->nChannels >= 4;
  if (d->wBitsPerSample == 8) {
    if (dq) return ConvertBlock<SB, SS, 8, true, true>;
    return ds ? ConvertBlock<SB, SS, 8, true, false> : ConvertBlock<SB, SS, 8, false, false>;
  }
  if (dq) return ConvertBlock<SB, SS, 16, true, true>;
  return ds ? ConvertBlock<SB, SS, 16, true, false> : ConvertBlock<SB, SS, 16, false, false>;
}

// Sources of more than two channels contribute their first pair.
BlockFn PickConverter(const WAVEFORMATEX* s, const WAVEFORMATEX* d) {
  const bool ss = s->nChannels >= 2;
  if (s->wBitsPerSample == 8) return ss ? PickTarget<8, true>(d) : PickTarget<8, false>(d);
  return ss ? PickTarget<16, true>(d) : PickTarget<16, false>(d);
}

std::string MakeTempName(const std::filesystem::path& dir) {
  std::random_device rd;
  std::mt19937 gen(rd());
  for (int attempt = 0; attempt < 4096; ++attempt) {
    // The first tries use the short numbers 1..256; a crowded folder widens it.
    const uint32_t limit = attempt < 64 ? 256 : 0xFFFF;
    const uint32_t n = std::uniform_int_distribution<uint32_t>(1, limit)(gen);
    char name[32];
    std::snprintf(name, sizeof name, "w%X.tmp", n);
    const std::string path = (dir / name).string();
    TMMWaveIO probe;
    if (probe.Open(path, TMMWaveIO::omCreate)) return path;
    if (errno != EEXIST) return {};
  }
  return {};
}

[[noreturn]] void Raise(int id) { throw EMMWaveError(LoadResString(id)); }

}  // namespace

void ConvertWaveFile(TMMWave& source, const std::string& name, const WAVEFORMATEX* format) {
  if (name.empty() || format == nullptr || source.PWaveFormat() == nullptr) Raise(SInvalidParam);
  WaveFormatPtr src = CopyWaveFormat(source.PWaveFormat());
  if (!PcmFormatSupported(src.get()) || !PcmFormatSupported(format)) {
    Raise(SNotValidForConversion);
  }
  WaveFormatPtr dst = CopyWaveFormat(format);
  // A caller's record may carry stale derived fields; the file gets exact ones.
  MakePcmFormat(*dst, dst->wBitsPerSample, dst->nChannels, static_cast<int>(dst->nSamplesPerSec));

  source.SetPosition(0);
  source.OpenFile();
  const int64_t total = source.BytesLeft();
  const std::string target = ExpandFileName(name);
  const std::filesystem::path dir = FolderOfFile(target);
  const std::string temp = MakeTempName(dir);
  if (temp.empty()) {
    (void)source.CloseFile();  // only read: nothing of it can be lost
    Raise(SUnableToConvert);
  }

  TMMWave out;
  out.SetIOBufferSize(source.IOBufferSize());
  bool cancelled = false;
  bool failed = false;
  try {
    out.CreateFile(temp, dst.get());
    for (uint32_t id : kInfoChunkIds) out.SetInfo(id, source.Info(id));
    out.SetDispEntries(source.DispEntries());
    const int srcAlign = src->nBlockAlign;
    const int64_t block = std::max<int64_t>(src->nAvgBytesPerSec - src->nAvgBytesPerSec % srcAlign,
                                            srcAlign);
    const int64_t maxFrames = block / srcAlign;
    const int64_t maxOut =
        (maxFrames * (dst->nSamplesPerSec / src->nSamplesPerSec + 2) + 2) * dst->nBlockAlign;
    std::vector<uint8_t> inBuf(static_cast<size_t>(block));
    std::vector<uint8_t> outBuf(static_cast<size_t>(maxOut));
    RateState rate{src->nSamplesPerSec, dst->nSamplesPerSec, 0};
    rate.acc = rate.srcRate > rate.dstRate ? rate.srcRate / 2 : rate.dstRate / 2;
    const BlockFn convert = PickConverter(src.get(), dst.get());
    const bool same = src->wBitsPerSample == dst->wBitsPerSample &&
                      src->nChannels == dst->nChannels && src->nSamplesPerSec == dst->nSamplesPerSec;
    int64_t done = 0;
    for (;;) {
      const int32_t n = source.ReadData(inBuf.data(), static_cast<int32_t>(block));
      // The short silent block that ReadData hands out for a file cut short
      // is not audio: a conversion simply ends there.
      if (n <= 0 || source.EndedEarly()) break;
      done += n;
      // Equal formats copy every frame once: the block goes out as it came.
      const uint8_t* result = inBuf.data();
      int64_t m = n - n % srcAlign;
      if (!same) {
        m = convert(rate, inBuf.data(), n / srcAlign, srcAlign, outBuf.data());
        result = outBuf.data();
      }
      if (m <= 0) break;
      if (DiskFree(dir) < m + source.IOBufferSize() + 10240) {
        failed = true;
        break;
      }
      if (out.WriteData(result, static_cast<int32_t>(m)) != m) {
        failed = true;
        break;
      }
      if (source.OnProgress) source.OnProgress(&source, done, total, cancelled);
      if (cancelled) break;
    }
    if (!out.CloseFile()) failed = true;
  } catch (...) {
    // The conversion failed: its temporary file goes, the source was only read.
    (void)out.CloseFile();
    (void)source.CloseFile();
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    throw;
  }
  (void)source.CloseFile();  // only read: nothing of it can be lost
  std::error_code ec;
  if (!failed && !cancelled) {
    // rename replaces an existing target in one step, so a failure leaves
    // the old file as it was.
    std::filesystem::rename(temp, target, ec);
    if (!ec) return;
  }
  std::filesystem::remove(temp, ec);
  Raise(cancelled ? SConversionAborted : SUnableToConvert);
}

}  // namespace tv
