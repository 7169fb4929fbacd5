// One channel of the strict DTMF detector. The signal is brought near 8 kHz
// and freed of DC and hum; eight Goertzel filters measure the DTMF
// frequencies over 5 ms pieces, and every 5 ms a 25 ms block built from the
// last five pieces is judged: the strongest tone of each group, its
// frequency (from the phase turn between blocks), its level after retuning
// to that frequency, and the share of the block's energy that the pair
// holds. Consecutive blocks of one key form a segment whose edges are
// found where that share crosses one half. A segment becomes a key when,
// over its blocks that the pair fills almost alone (the purity limit), the
// average frequencies, twist and levels meet the limits and the pair's
// power stays within 4 dB (notes fade, voices swell); it is joined with
// the previous key across a break shorter than the minimum pause, and
// reported once it has lasted the minimum tone length.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "Decimator.h"
#include "StrictDtmfDetector.h"

namespace tv {

class StrictDtmfChannel {
 public:
  // Allocates every table and buffer; Process never allocates.
  void Setup(double inputRate, const StrictDtmfOptions& options, int channel);
  // Samples in -1..1 at the input rate.
  void Process(const float* samples, size_t count);
  // End of the stream: lets the last tone end and reports what is held.
  void Flush();
  // No key reported later can start before this time (ms).
  double Watermark() const;

  std::function<void(const StrictDtmfKey&)> OnKey;

  // The analysis rate and piece length, for tests and tools.
  double AnalysisRate() const { return rate_; }
  int PieceLength() const { return piece_; }

  static constexpr int kPieces = 5;  // pieces per block

 private:
  static constexpr int kBins = 8;    // rows 697..941 Hz, then columns 1209..1633 Hz
  static constexpr int kRing = 8;    // pieces kept: a block and the one before it (a power of two)

  struct Tone {
    double turn = 0;       // phase turn per piece (radians)
    std::complex<double> unit{1, 0};  // e^-j turn
    double amplitude = 0;  // 0..1 of full scale
  };
  // A stretch of blocks that all carry one key.
  struct Segment {
    int row = 0, col = 0;
    double start = 0, end = 0;  // analysis samples, fractional
    double lastRatio = 0;
    Tone rowTone, colTone;  // as measured in the last block
    int pure = 0;  // blocks whose ratio reaches the purity limit
    int full = 0;  // pure blocks the tone covers whole
    double fullPower = 0;  // the strongest of them (sum of squared amplitudes)
    double rowSum = 0, colSum = 0;  // their amplitudes
    double rowDev = 0, colDev = 0;  // sums of frequency offsets (Hz)
    double powerLow = 0, powerHigh = 0;  // extremes of the pair's power
  };

  // Ring slot of a piece. Pieces before the stream's start fall on slots
  // not yet written, which hold zeros: the stream starts from silence.
  static size_t Slot(int64_t piece) { return static_cast<size_t>(piece & (kRing - 1)); }

  void AnalysePieces(const float* x, size_t count);
  void EndPiece();
  void JudgeBlock();
  double BlockEnergy(int64_t last) const;
  Tone MeasureTone(int bin, int64_t last) const;
  void PairAmplitudes(int row, int col, Tone& r, Tone& c, int64_t last) const;
  double PairRatio(int row, int col, const Tone& rowTone, const Tone& colTone, int64_t last) const;
  void Extend(Segment& s, double ratio, const Tone& row, const Tone& col);
  void EndSegment();
  void Offer(const Segment& s);
  void EmitHeld();
  double ToMs(double analysisSample) const;
  double BlockStart(int64_t last) const;

  StrictDtmfOptions options_;
  int channel_ = 0;
  double inputRate_ = 8000;
  double rate_ = 8000;  // analysis rate
  int piece_ = 40;      // samples per piece
  Decimator decimator_;
  std::vector<float> work_;  // decimated samples of one Process chunk

  // DC and hum high-pass (biquad, direct form II transposed).
  float hb0_ = 1, hb1_ = 0, hb2_ = 0, ha1_ = 0, ha2_ = 0;
  float hz1_ = 0, hz2_ = 0;

  // Goertzel state over the current piece.
  std::array<float, kBins> coef_{};
  std::array<float, kBins> s1_{};
  std::array<float, kBins> s2_{};
  std::array<double, kBins> cosw_{}, sinw_{};
  std::array<double, kBins> freq_{};
  std::array<std::complex<double>, kBins> rotor_{};  // e^-jw(n0 + piece - 1)
  std::array<std::complex<double>, kBins> step_{};   // e^-jw piece
  std::array<std::complex<double>, kBins> sampleTurn_{};  // e^jw
  std::array<std::complex<double>, kBins> pieceTurn_{};   // e^jw piece
  // e^jw((kPieces + 1) piece - 1): from the rotor after a block's last piece
  // back to the block's first sample.
  std::array<std::complex<double>, kBins> back_{};
  float energyAcc_ = 0;
  int filled_ = 0;      // samples in the current piece
  int64_t pieces_ = 0;  // pieces completed

  // Complex sums of the last pieces, referred to the stream's start.
  std::array<std::array<std::complex<float>, kBins>, kRing> sums_{};
  std::array<float, kRing> energy_{};

  double energyFloor_ = 0;  // a block below this holds no tone worth judging
  double floorAmplitude_ = 0;

  Segment run_;
  bool running_ = false;
  int runKey_ = -1;
  Segment held_;  // the last accepted segment, not yet reported
  bool holding_ = false;
  int heldKey_ = -1;
};

}  // namespace tv
