#include "StrictDtmfChannel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "DtmfKeys.h"

namespace tv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kPieceMs = 5.0;
// A block whose pair holds at least this share of the energy belongs to the
// tone: with a clean tone the share equals the part of the block the tone
// covers, so the crossings of one half mark the tone's edges.
constexpr double kEdgeRatio = 0.5;
// Loose limit for blocks (the segment's average must meet the strict one).
constexpr double kBlockDeviation = 0.05;
// Tones weaker than this in a block are not looked at (dBFS).
constexpr double kFloorDb = -62;
constexpr size_t kWorkChunk = 4096;
// Share of the strongest block's power (-0.5 dB) that counts a block as
// covered whole by the tone.
constexpr double kFullShare = 0.89;
// How far the pair's power may swing within a tone (4 dB).
constexpr double kMaxSwing = 2.51;
// Bounds the squared gain that turns a tone's piece sums into its
// amplitude: 1.8 for a tone at the edge of kBlockDeviation (1633 Hz + 5 %
// turns by 2.6 radians in 5 ms), with room for the other tone's leakage.
constexpr double kMaxGain2 = 2.2;

int KeyOf(int row, int col) {
  for (size_t k = 0; k < kDtmfKeys.size(); ++k) {
    if (kDtmfKeys[k].row == row && kDtmfKeys[k].column == col) return static_cast<int>(k);
  }
  return -1;
}

double Db(double amplitude) { return 20.0 * std::log10(std::max(amplitude, 1e-12)); }

}  // namespace

void StrictDtmfChannel::Setup(double inputRate, const StrictDtmfOptions& options, int channel) {
  options_ = options;
  channel_ = channel;
  inputRate_ = inputRate;
  // Analyse between 8 and 16 kHz: enough for 1.7 kHz tones, little work.
  const int factor = std::max(1, static_cast<int>(inputRate / 8000.0));
  rate_ = inputRate / factor;
  decimator_.Setup(inputRate, factor, std::min(3400.0, 0.42 * rate_), rate_ - 1800.0);
  work_.assign(kWorkChunk / static_cast<size_t>(factor) + 2, 0.0f);
  piece_ = std::max(8, static_cast<int>(std::lround(rate_ * kPieceMs / 1000.0)));

  // Second-order Butterworth high-pass at 200 Hz: takes DC and mains hum
  // out of the energy against which the tones are weighed.
  {
    const double w = 2 * kPi * 200.0 / rate_;
    const double q = std::numbers::sqrt2 / 2;
    const double alpha = std::sin(w) / (2 * q);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    hb0_ = static_cast<float>((1 + c) / 2 / a0);
    hb1_ = static_cast<float>(-(1 + c) / a0);
    hb2_ = static_cast<float>((1 + c) / 2 / a0);
    ha1_ = static_cast<float>(-2 * c / a0);
    ha2_ = static_cast<float>((1 - alpha) / a0);
  }

  for (int b = 0; b < kBins; ++b) {
    const auto i = static_cast<size_t>(b);
    freq_[i] = b < 4 ? kStandardRowFreq[i] : kStandardColumnFreq[i - 4];
    const double w = 2 * kPi * freq_[i] / rate_;
    coef_[i] = static_cast<float>(2 * std::cos(w));
    cosw_[i] = std::cos(w);
    sinw_[i] = std::sin(w);
    step_[i] = std::polar(1.0, -w * piece_);
    rotor_[i] = std::polar(1.0, -w * (piece_ - 1));
    sampleTurn_[i] = std::polar(1.0, w);
    pieceTurn_[i] = std::polar(1.0, w * piece_);
    back_[i] = std::polar(1.0, w * ((kPieces + 1) * piece_ - 1));
  }
  s1_.fill(0);
  s2_.fill(0);
  for (auto& slot : sums_) slot.fill({0.0f, 0.0f});
  energy_.fill(0);
  energyAcc_ = 0;
  filled_ = 0;
  pieces_ = 0;
  hz1_ = hz2_ = 0;

  const double n = static_cast<double>(piece_) * kPieces;
  floorAmplitude_ = std::pow(10.0, kFloorDb / 20.0);
  energyFloor_ = n * floorAmplitude_ * floorAmplitude_ / 2;
  running_ = false;
  runKey_ = -1;
  holding_ = false;
  heldKey_ = -1;
}

void StrictDtmfChannel::Process(const float* samples, size_t count) {
  const size_t step = kWorkChunk;
  for (size_t at = 0; at < count; at += step) {
    const size_t n = std::min(step, count - at);
    const size_t made = decimator_.Process(samples + at, n, work_.data());
    AnalysePieces(work_.data(), made);
  }
}

void StrictDtmfChannel::AnalysePieces(const float* x, size_t count) {
  size_t i = 0;
  while (i < count) {
    const size_t n = std::min(count - i, static_cast<size_t>(piece_ - filled_));
    // Local copies keep the filter state in registers.
    std::array<float, kBins> s1 = s1_, s2 = s2_;
    const std::array<float, kBins> coef = coef_;
    float energy = energyAcc_;
    float z1 = hz1_, z2 = hz2_;
    const float b0 = hb0_, b1 = hb1_, b2 = hb2_, a1 = ha1_, a2 = ha2_;
    for (size_t k = 0; k < n; ++k) {
      const float in = x[i + k];
      const float v = b0 * in + z1;
      z1 = b1 * in - a1 * v + z2;
      z2 = b2 * in - a2 * v;
      energy += v * v;
      for (size_t b = 0; b < kBins; ++b) {
        const float s0 = v + coef[b] * s1[b] - s2[b];
        s2[b] = s1[b];
        s1[b] = s0;
      }
    }
    s1_ = s1;
    s2_ = s2;
    energyAcc_ = energy;
    hz1_ = z1;
    hz2_ = z2;
    filled_ += static_cast<int>(n);
    i += n;
    if (filled_ == piece_) EndPiece();
  }
}

void StrictDtmfChannel::EndPiece() {
  const size_t slot = Slot(pieces_);
  for (size_t b = 0; b < kBins; ++b) {
    // Goertzel output turned into the piece's DFT term, referred to the
    // stream's start so that pieces add up coherently.
    const std::complex<double> local(s1_[b] - s2_[b] * cosw_[b], s2_[b] * sinw_[b]);
    sums_[slot][b] = std::complex<float>(rotor_[b] * local);
    rotor_[b] *= step_[b];
    s1_[b] = 0;
    s2_[b] = 0;
  }
  energy_[slot] = energyAcc_;
  energyAcc_ = 0;
  filled_ = 0;
  if ((pieces_ & 1023) == 0) {
    for (auto& r : rotor_) r /= std::abs(r);
  }
  JudgeBlock();
  ++pieces_;
}

double StrictDtmfChannel::BlockEnergy(int64_t last) const {
  double e = 0;
  for (int64_t p = last - kPieces + 1; p <= last; ++p) {
    e += energy_[Slot(p)];
  }
  return e;
}

namespace {

using Complex = std::complex<double>;

// Sum of e^(j d m) for m = 0 .. count - 1, given e^(j d) and e^(j d count).
Complex Dirichlet(Complex step, Complex whole, int count) {
  const Complex den = 1.0 - step;
  return std::norm(den) < 1e-18 ? Complex(count, 0) : (1.0 - whole) / den;
}

}  // namespace

// The two tones' amplitudes in the block ending with `last`, each summed at
// its own frequency (the bin's moved by the tone's turn) and solved
// together, so that neither carries the other's leakage: summing pieces
// taken at the bins' nominal frequencies leaves a tone 400 Hz away only
// 30 dB down.
void StrictDtmfChannel::PairAmplitudes(int row, int col, Tone& r, Tone& c, int64_t last) const {
  const auto br = static_cast<size_t>(row);
  const auto bc = static_cast<size_t>(4 + col);
  const int64_t first = last - kPieces + 1;
  // The retuned sums, referred to the block's first sample.
  Complex mr(0, 0), mc(0, 0), rotR(1, 0), rotC(1, 0);
  for (int64_t i = 0; i < kPieces; ++i) {
    mr += Complex(sums_[Slot(first + i)][br]) * rotR;
    mc += Complex(sums_[Slot(first + i)][bc]) * rotC;
    rotR *= r.unit;
    rotC *= c.unit;
  }
  Complex backR = rotor_[br] * back_[br], backC = rotor_[bc] * back_[bc];
  for (int64_t k = last; k < pieces_; ++k) {
    backR *= pieceTurn_[br];
    backC *= pieceTurn_[bc];
  }
  mr *= std::conj(backR);
  mc *= std::conj(backC);

  // How a tone of each frequency shows in each sum.
  const Complex stepR = std::polar(1.0, r.turn / piece_);  // the row tone's offset per sample
  const Complex stepC = std::polar(1.0, c.turn / piece_);
  const Complex turnR = std::conj(r.unit), turnC = std::conj(c.unit);
  const double pieces = kPieces;
  const Complex krr = pieces * Dirichlet(stepR, turnR, piece_);
  const Complex kcc = pieces * Dirichlet(stepC, turnC, piece_);
  auto cross = [&](size_t bin, size_t other, Complex step, Complex turn, Complex unit) {
    // The other tone seen from `bin`: its offset per sample and per piece.
    const Complex d1 = sampleTurn_[other] * std::conj(sampleTurn_[bin]) * step;
    const Complex dh = pieceTurn_[other] * std::conj(pieceTurn_[bin]) * turn;
    const Complex g = dh * unit;  // what is left after the bin's retuning
    Complex g5 = g * g;
    g5 *= g5 * g;
    return Dirichlet(d1, dh, piece_) * Dirichlet(g, g5, kPieces);
  };
  const Complex krc = cross(br, bc, stepC, turnC, r.unit);
  const Complex kcr = cross(bc, br, stepR, turnR, c.unit);
  const Complex det = krr * kcc - krc * kcr;
  if (std::norm(det) < 1e-18) {
    r.amplitude = 2.0 * std::abs(mr / krr);
    c.amplitude = 2.0 * std::abs(mc / kcc);
    return;
  }
  r.amplitude = 2.0 * std::abs((mr * kcc - krc * mc) / det);
  c.amplitude = 2.0 * std::abs((krr * mc - kcr * mr) / det);
}

namespace {

std::complex<double> UnitOf(std::complex<double> z) {
  const double n = std::norm(z);
  return n > 0 ? z / std::sqrt(n) : std::complex<double>(1, 0);
}

}  // namespace

StrictDtmfChannel::Tone StrictDtmfChannel::MeasureTone(int bin, int64_t last) const {
  const auto b = static_cast<size_t>(bin);
  auto at = [&](int64_t p) -> std::complex<double> {
    return std::complex<double>(sums_[Slot(p)][b]);
  };
  // Coarse turn from 10 ms windows, which a tone well off the bin still
  // reaches; then the full block, retuned to it, compared with the block
  // before for the fine turn.
  std::complex<double> c(0, 0);
  const int64_t first = last - kPieces + 1;
  for (int64_t p = first + 2; p <= last; ++p) {
    c += (at(p) + at(p - 1)) * std::conj(at(p - 1) + at(p - 2));
  }
  const std::complex<double> w = std::conj(UnitOf(c));
  std::complex<double> now(0, 0), before(0, 0), rot(1, 0);
  for (int64_t i = 0; i < kPieces; ++i) {
    now += at(first + i) * rot;
    before += at(first - 1 + i) * rot;
    rot *= w;
  }
  const std::complex<double> z = now * std::conj(before);
  Tone t;
  t.turn = std::atan2(z.imag(), z.real());
  t.unit = std::conj(UnitOf(z));
  return t;
}

double StrictDtmfChannel::PairRatio(int row, int col, const Tone& rowTone, const Tone& colTone,
                                    int64_t last) const {
  const double e = BlockEnergy(last);
  if (e < energyFloor_ * 1e-3) return 0;
  const double n = static_cast<double>(piece_) * kPieces;
  Tone r = rowTone, c = colTone;
  PairAmplitudes(row, col, r, c, last);
  return n / 2.0 * (r.amplitude * r.amplitude + c.amplitude * c.amplitude) / e;
}

double StrictDtmfChannel::BlockStart(int64_t last) const {
  return static_cast<double>((last - kPieces + 1) * piece_);
}

void StrictDtmfChannel::JudgeBlock() {
  const int64_t last = pieces_;
  const double n = static_cast<double>(piece_) * kPieces;
  const double energy = BlockEnergy(last);
  int key = -1;
  double ratio = 0;
  Tone row, col;
  int bestRow = 0, bestCol = 0;
  if (energy >= energyFloor_) {
    // The strongest bin of each group over 10 ms windows: wide enough to
    // catch a tone off its nominal frequency, narrow enough to tell rows
    // apart.
    std::array<double, kBins> power{};
    std::array<double, kBins> pieces{};
    for (size_t b = 0; b < kBins; ++b) {
      double sum = 0, single = 0;
      std::complex<float> previous = sums_[Slot(last - kPieces)][b];
      for (int64_t p = last - kPieces + 1; p <= last; ++p) {
        const std::complex<float> z = sums_[Slot(p)][b];
        single += std::norm(z);
        if (p > last - kPieces + 1) sum += std::norm(z + previous);
        previous = z;
      }
      power[b] = sum;
      pieces[b] = single;
    }
    bestRow = static_cast<int>(std::max_element(power.begin(), power.begin() + 4) - power.begin());
    bestCol = static_cast<int>(std::max_element(power.begin() + 4, power.end()) - power.begin()) - 4;
    // However the pieces are turned, the block's magnitude squared stays
    // below kPieces times their summed powers (times the largest piece
    // gain squared): blocks that cannot reach the edge ratio are passed
    // over without measuring.
    const double bound = 2.0 / n * kPieces * kMaxGain2 *
                         (pieces[static_cast<size_t>(bestRow)] + pieces[static_cast<size_t>(4 + bestCol)]) /
                         energy;
    if (bound >= kEdgeRatio) {
      row = MeasureTone(bestRow, last);
      col = MeasureTone(4 + bestCol, last);
      PairAmplitudes(bestRow, bestCol, row, col, last);
      ratio = n / 2.0 * (row.amplitude * row.amplitude + col.amplitude * col.amplitude) / energy;
    }
    const double hzPerTurn = rate_ / (2 * kPi * piece_);
    const double rowHz = freq_[static_cast<size_t>(bestRow)];
    const double colHz = freq_[static_cast<size_t>(4 + bestCol)];
    if (ratio >= kEdgeRatio && std::abs(row.turn * hzPerTurn) <= kBlockDeviation * rowHz &&
        std::abs(col.turn * hzPerTurn) <= kBlockDeviation * colHz &&
        row.amplitude >= floorAmplitude_ && col.amplitude >= floorAmplitude_) {
      key = KeyOf(bestRow, bestCol);
    }
  }

  if (running_ && key != runKey_) {
    // The tone ended between the last block and this one.
    const double now = PairRatio(run_.row, run_.col, run_.rowTone, run_.colTone, last);
    const double span = run_.lastRatio - now;
    const double frac = span > 1e-12 ? std::clamp((run_.lastRatio - kEdgeRatio) / span, 0.0, 1.0) : 1.0;
    run_.end = BlockStart(last - 1) + frac * piece_ + n / 2;
    EndSegment();
  }
  if (!running_ && key >= 0) {
    Segment s;
    s.row = bestRow;
    s.col = bestCol;
    const double before = PairRatio(bestRow, bestCol, row, col, last - 1);
    const double span = ratio - before;
    const double frac = span > 1e-12 ? std::clamp((kEdgeRatio - before) / span, 0.0, 1.0) : 0.0;
    s.start = BlockStart(last - 1) + frac * piece_ + n / 2;
    run_ = s;
    running_ = true;
    runKey_ = key;
  }
  if (running_) Extend(run_, ratio, row, col);
  EmitHeld();
}

void StrictDtmfChannel::Extend(Segment& s, double ratio, const Tone& row, const Tone& col) {
  s.lastRatio = ratio;
  s.rowTone = row;
  s.colTone = col;
  if (ratio >= options_.minPurity) {
    const double hzPerTurn = rate_ / (2 * kPi * piece_);
    ++s.pure;
    // Levels come from the blocks the tone covers whole: those within 0.5 dB
    // of the strongest so far (a block the tone covers in part reads lower).
    const double pair = row.amplitude * row.amplitude + col.amplitude * col.amplitude;
    if (s.full == 0 || pair > s.fullPower / kFullShare) {
      s.full = 0;
      s.rowSum = s.colSum = 0;
      s.fullPower = pair;
    }
    if (pair >= kFullShare * s.fullPower) {
      ++s.full;
      s.rowSum += row.amplitude;
      s.colSum += col.amplitude;
      s.fullPower = std::max(s.fullPower, pair);
    }
    const double rowOff = row.turn * hzPerTurn;
    const double colOff = col.turn * hzPerTurn;
    s.rowDev += rowOff;
    s.colDev += colOff;
    // A partly covered block shows amplitude and ratio shrunk alike.
    const double power = pair / (ratio * ratio);
    s.powerLow = s.pure == 1 ? power : std::min(s.powerLow, power);
    s.powerHigh = std::max(s.powerHigh, power);
  }
}

void StrictDtmfChannel::EndSegment() {
  running_ = false;
  const Segment s = run_;
  const int key = runKey_;
  runKey_ = -1;
  if (s.pure == 0) return;
  const double rowHz = freq_[static_cast<size_t>(s.row)];
  const double colHz = freq_[static_cast<size_t>(4 + s.col)];
  const double rowDev = s.rowDev / s.pure;
  const double colDev = s.colDev / s.pure;
  const double rowAmp = s.rowSum / s.full;
  const double colAmp = s.colSum / s.full;
  const double twist = Db(colAmp) - Db(rowAmp);
  const double limit = options_.maxDeviationPct / 100.0;
  if (std::abs(rowDev) > limit * rowHz || std::abs(colDev) > limit * colHz) return;
  // A key holds its level; plucked and struck notes and voices do not.
  if (s.powerHigh > kMaxSwing * s.powerLow) return;
  if (twist > options_.maxTwistDb || twist < -options_.maxReverseTwistDb) return;
  if (Db(rowAmp) < options_.minLevelDb || Db(colAmp) < options_.minLevelDb) return;

  const double minPause = options_.minPauseMs / 1000.0 * rate_;
  if (holding_ && heldKey_ == key && s.start - held_.end < minPause) {
    // A break too short to be a pause: still the same key.
    held_.end = s.end;
    held_.pure += s.pure;
    held_.full += s.full;
    held_.rowSum += s.rowSum;
    held_.colSum += s.colSum;
    held_.rowDev += s.rowDev;
    held_.colDev += s.colDev;
    return;
  }
  if (holding_) {
    held_.end = std::min(held_.end, s.start);
    holding_ = false;
    Offer(held_);
  }
  held_ = s;
  heldKey_ = key;
  holding_ = true;
}

void StrictDtmfChannel::Offer(const Segment& s) {
  if ((s.end - s.start) / rate_ * 1000.0 < options_.minToneMs) return;
  if (!OnKey) return;
  const int key = KeyOf(s.row, s.col);
  StrictDtmfKey k;
  k.key = kDtmfKeys[static_cast<size_t>(key)].character;
  k.channel = channel_;
  k.startMs = ToMs(s.start);
  k.endMs = ToMs(s.end);
  const double rowAmp = s.rowSum / s.full;
  const double colAmp = s.colSum / s.full;
  k.lowDb = Db(rowAmp);
  k.highDb = Db(colAmp);
  k.twistDb = k.highDb - k.lowDb;
  k.levelDb = 10.0 * std::log10(std::max(rowAmp * rowAmp + colAmp * colAmp, 1e-24));
  k.lowHz = freq_[static_cast<size_t>(s.row)] + s.rowDev / s.pure;
  k.highHz = freq_[static_cast<size_t>(4 + s.col)] + s.colDev / s.pure;
  OnKey(k);
}

void StrictDtmfChannel::EmitHeld() {
  if (!holding_) return;
  const double minPause = options_.minPauseMs / 1000.0 * rate_;
  const double n = static_cast<double>(piece_) * kPieces;
  // The earliest start a segment found from now on can have.
  double next = BlockStart(pieces_) + n / 2;
  if (running_ && runKey_ == heldKey_) next = run_.start;
  if (next - held_.end >= minPause) {
    holding_ = false;
    Offer(held_);
  }
}

void StrictDtmfChannel::Flush() {
  // Silence long enough to pass the filter, end any tone and outlast the
  // pause that could still join a key.
  const double ms = options_.minPauseMs + 2 * kPieceMs * (kPieces + 2) + 10;
  auto remaining = static_cast<size_t>(
      std::ceil(ms / 1000.0 * inputRate_) + static_cast<double>(decimator_.Taps()));
  std::array<float, 1024> zeros{};
  while (remaining > 0) {
    const size_t n = std::min(remaining, zeros.size());
    Process(zeros.data(), n);
    remaining -= n;
  }
  if (running_) {
    run_.end = BlockStart(pieces_ - 1) + static_cast<double>(piece_) * kPieces / 2;
    EndSegment();
  }
  if (holding_) {
    holding_ = false;
    Offer(held_);
  }
}

double StrictDtmfChannel::Watermark() const {
  const double n = static_cast<double>(piece_) * kPieces;
  // A segment found in the next block starts after the middle of the last.
  double t = BlockStart(pieces_ - 1) + n / 2;
  if (running_) t = std::min(t, run_.start);
  if (holding_) t = std::min(t, held_.start);
  return ToMs(t);
}

double StrictDtmfChannel::ToMs(double analysisSample) const {
  const double input = analysisSample * decimator_.Factor() + decimator_.Delay();
  return input / inputRate_ * 1000.0;
}

}  // namespace tv
