// The wave recorder: records the sound-card input into a wave file and
// passes the recorded audio on to its Output. It is a wave input and a wave
// file writer under one face, linked inside as
//
//   wave input -> file writer -> the recorder -> Output (a connector, ...)
//
// and publishes the properties of both. Record starts the wave input, whose
// chain Open has the writer create the file (or open it for appending);
// Stop stops and closes the input, whose chain Close finishes the file.
//
// A new file is written beside its target and put in its place when it is
// finished (TMMWaveFile), so a recording that fails never costs the file it
// was to replace. A full disk or a failed write stops the recording, keeps
// what was recorded up to the last whole frame, fires OnError and reports
// the reason through the application's error handler.
//
// Threads: commands and properties on the main thread. Buffers are written
// and passed on on the wave input's delivery thread (the main thread in
// cmWindow mode, its capture thread in cmThread mode); OnData fires there.
// The other events fire on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "TMMWaveFile.h"
#include "TMMWaveIn.h"

namespace tv {

class TMMWaveRecorder : public TMMDSPComponent {
 public:
  // Records from the system's input devices.
  explicit TMMWaveRecorder(std::string name = {});
  // Records from another device table (tests, tools).
  TMMWaveRecorder(std::string name, TMMWaveDevices& devices);
  ~TMMWaveRecorder() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  // Starts recording into Wave's file; does nothing while recording or
  // when the Wave has no file name. Errors of the device or the file are
  // raised (EMMWaveInError, EMMWaveError) and leave nothing recording.
  void Record();
  // Ends the recording and finishes the file: when it returns on the main
  // thread the file is complete under its name, unless it was called from
  // inside a delivery of the main thread (cmWindow: an OnData handler),
  // where the stop completes once that delivery has returned. Also what the
  // chain's own Stop reaches; then it only clears this node's flags.
  void Stop() override;
  // Holds and resumes the capture while recording.
  void Pause() override;
  void Restart() override;
  // The wave input's state bits (wsClosed, wsOpen, wsStarted, wsPaused).
  int State() const { return waveIn_.State(); }
  bool Recording() const { return waveIn_.IsStarted(); }
  // In TimeFormat units: the recorded length while recording (plus what the
  // file held before, when appending); 0 when idle and overwriting, else the
  // Wave's position.
  int64_t Position() const;

  // The file recorded to (FileMustExist false: it may name a file to come).
  TMMWave& Wave() { return writer_.Wave(); }
  const TMMWave& Wave() const { return writer_.Wave(); }
  void SetWave(const TMMWave& value) { writer_.SetWave(value); }
  // Shorthands for Wave's file name.
  std::string FileName() const { return Wave().FileName(); }
  void SetFileName(const std::string& value) { Wave().SetFileName(value); }
  bool OverwriteExisting() const { return writer_.OverwriteExisting(); }
  void SetOverwriteExisting(bool value) { writer_.SetOverwriteExisting(value); }

  // The wave input's properties.
  int32_t BufferSize() const override { return waveIn_.BufferSize(); }
  void SetBufferSize(int32_t value) override;
  int NumBuffers() const { return waveIn_.NumBuffers(); }
  void SetNumBuffers(int value) { waveIn_.SetNumBuffers(value); }
  TMMDeviceId DeviceID() const { return waveIn_.DeviceID(); }
  void SetDeviceID(TMMDeviceId value) { waveIn_.SetDeviceID(value); }
  std::string ProductName() const { return waveIn_.ProductName(); }
  TMMCBMode CallBackMode() const { return waveIn_.CallBackMode(); }
  void SetCallBackMode(TMMCBMode value) { waveIn_.SetCallBackMode(value); }
  int32_t MaxRecordTime() const { return waveIn_.MaxRecordTime(); }
  void SetMaxRecordTime(int32_t value) { waveIn_.SetMaxRecordTime(value); }
  TMMMode Mode() const { return waveIn_.Mode(); }
  void SetMode(TMMMode value) { waveIn_.SetMode(value); }
  TMMBits BitLength() const { return waveIn_.BitLength(); }
  void SetBitLength(TMMBits value) { waveIn_.SetBitLength(value); }
  int SampleRate() const { return waveIn_.SampleRate(); }
  void SetSampleRate(int value) { waveIn_.SetSampleRate(value); }
  // Sets the wave input's and the Wave's unit.
  TMMTimeFormats TimeFormat() const { return waveIn_.TimeFormat(); }
  void SetTimeFormat(TMMTimeFormats value);

  // The recorded format as the user reads it ("PCM 44.100 kHz, 16 Bit,
  // Stereo"), or "Unknown". Writing it only tells that it is read-only.
  std::string InputFormat() const;
  void SetInputFormat(const std::string& value);

  // A format differing from the wave input's goes to the wave input; the
  // format coming down from it is taken and passed on.
  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  // The stored form of a format that is not PCM (the whole record with its
  // extra bytes); empty for PCM or no format. Loading it sets the format.
  std::vector<uint8_t> StoredWaveFormat() const;
  void LoadStoredWaveFormat(std::span<const uint8_t> bytes);

  // The inner parts, for what the recorder does not republish.
  TMMWaveIn& WaveIn() { return waveIn_; }
  TMMWaveFile& Writer() { return writer_; }

  TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
  // A failure of the device or of the file; the reason goes to the
  // application's error handler.
  TNotifyEvent OnError;
  // Every captured buffer, on the delivering thread.
  TMMBufferEvent OnData;

 private:
  void Wire();
  void StopRecording(bool wait);
  void WriterClosed();

  TMMWaveIn waveIn_;
  TMMWaveFile writer_;
  int64_t startPosition_ = 0;
  std::atomic<bool> changing_{false};
  std::atomic<bool> errorReported_{false};
};

}  // namespace tv
