#include "MMErrors.h"

#include <cstdio>
#include <exception>
#include <iterator>
#include <mutex>

namespace tv {

namespace {

struct Entry {
  int id;
  const char* text;
};

constexpr Entry kMessages[] = {
    {SInvalidWaveFile, "Invalid wave file..."},
    {SErrorReadingWaveFile, "Error reading wave file"},
    {SUnableToOpenWaveFile, "Unable to open wave file"},
    {SUnableToCreateWaveFile, "Unable to create wave file"},
    {SUnableToSetupIOBuffer, "Unable to setup file IO buffer"},
    {SErrorSeekingPosition, "Error seeking file position"},
    {SInvalidParam, "Invalid param passed!"},
    {SNotValidForConversion, "This wave file is not valid for conversion"},
    {SUnableToConvert, "Unable to convert wave file"},
    {SConversionAborted, "Conversion aborted"},
    {SWaveFileFilter, "Wave Files(*.wav)|*.wav"},
    {SNotValidAudioFile, "This is not a valid Audiofile"},
    {SOutOfMemory, "Out of memory"},
    {SUnableToLoad, "Unable to load"},
    {SInvalidMpegVersion, "Invalid Mpeg Decoder DLL version"},
    {SNoCodecConversion, "No decoder for this audio format"},
    {SCorruptAudioData, "The compressed audio data is corrupt"},
    {SWouldOverwriteSource, "The target file is the source file; choose another name"},
    {SNotValidInputFile, "This is not a valid input file!"},
    {SErrorWritingWaveFile, "Error writing wave file"},
    {SPropertyWhileOpen, "Change to property while device was open"},
    {SInvalidDeviceId, "Invalid DeviceID"},
    {SInvalidWaveFormatGen, "Invalid WaveFormat"},
    {SNoMemoryForHeader, "Unable to allocate memory for wave header"},
    {SCantPlayFormat, "The actual device can't play this format"},
    {SUnableToStartDevice, "Unable to start device"},
    {SErrorFillingBuffer, "Error filling wave buffer"},
    {SUnknownError, "Specified error number is out of range (unknown error)"},
    {SCantRecordFormat, "The actual device can't record this format"},
    {SCouldNotCreateThread, "Could not create thread"},
    {SInvalidWaveFormat, "Invalid wave format"},
    {SNoRecordingDevice, "No wave audio recording device found"},
    {SNoPlayingDevice, "No wave audio playing device found"},
    {SUnableToOpenDevice, "Unable to open device"},
    {SUnableToCloseDevice, "Unable to close device"},
    {SAppendFormatMismatch, "The wave format differs from the file to append to"},
    {SDiskFullRecording, "The disk is full: the recording was stopped and saved up to this point"},
    {SReadOnlyInputFormat, "This is a read-only property, please use SelectFormat."},
    {SNotEnoughTimers, "Not enough timers available"},
    {SNoDisplayConversion, "The displays can't show this format: no conversion to PCM is available"},
};

}  // namespace

std::string LoadResString(int id) {
  for (const Entry& e : kMessages) {
    if (e.id == id) return e.text;
  }
  return LoadResString(SUnknownError);
}

std::string PlainMessage(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  for (size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r' || c == '\n') {
      // "\n\r", "\r\n" and a lone "\r" are each one break.
      const char next = i + 1 < message.size() ? message[i + 1] : '\0';
      if ((next == '\r' || next == '\n') && next != c) ++i;
      out += '\n';
    } else {
      out += c;
    }
  }
  return out;
}

std::string OneLineMessage(const std::string& message) {
  std::string out;
  for (const char c : PlainMessage(message)) {
    if (c != '\n') {
      out += c;
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

namespace {

std::mutex gHandlerLock;
ApplicationErrorHandler gHandler;

}  // namespace

void SetApplicationErrorHandler(ApplicationErrorHandler handler) {
  std::lock_guard lock(gHandlerLock);
  gHandler = std::move(handler);
}

void HandleApplicationError() {
  std::string message;
  try {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  ApplicationErrorHandler handler;
  {
    std::lock_guard lock(gHandlerLock);
    handler = gHandler;
  }
  if (handler) {
    handler(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

std::string PrefixedMessage(const char* prefix, int id) {
  return std::string(prefix) + kLFCR + LoadResString(id);
}

}  // namespace tv
