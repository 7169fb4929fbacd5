// The numbered message table shared by all components, and the error class
// every component error derives from.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace tv {

// Message ids. Components name the text by id; the ids stay stable so that
// a message can be looked up the same way wherever it is raised.
enum MessageId : int {
  SInvalidWaveFile = 28001,
  SErrorReadingWaveFile = 28002,
  SUnableToOpenWaveFile = 28003,
  SUnableToCreateWaveFile = 28004,
  SUnableToSetupIOBuffer = 28005,
  SErrorSeekingPosition = 28006,
  SInvalidParam = 28007,
  SNotValidForConversion = 28008,
  SUnableToConvert = 28009,
  SConversionAborted = 28010,
  SWaveFileFilter = 28011,
  SNotValidAudioFile = 28012,
  SOutOfMemory = 28013,
  SUnableToLoad = 28014,
  SInvalidMpegVersion = 28015,
  SNoCodecConversion = 28016,
  SCorruptAudioData = 28017,
  SWouldOverwriteSource = 28018,
  SNotValidInputFile = 28019,
  SErrorWritingWaveFile = 28020,
  SPropertyWhileOpen = 28060,
  SInvalidDeviceId = 28061,
  SInvalidWaveFormatGen = 28062,
  SNoMemoryForHeader = 28064,
  SCantPlayFormat = 28070,
  SUnableToStartDevice = 28080,
  SErrorFillingBuffer = 28081,
  SUnknownError = 28086,
  SCantRecordFormat = 28087,
  SCouldNotCreateThread = 28088,
  SInvalidWaveFormat = 28089,
  SNoRecordingDevice = 28160,
  SNoPlayingDevice = 28161,
  SUnableToOpenDevice = 28162,
  SUnableToCloseDevice = 28163,
  SAppendFormatMismatch = 28201,
  SDiskFullRecording = 28210,
  SReadOnlyInputFormat = 28211,
  SNotEnoughTimers = 28240,
  SNoDisplayConversion = 28241,
};

// Text of a message id; an id without a text gives the text of SUnknownError.
std::string LoadResString(int id);
// A message of the table under the name of the call that failed, on a line of its own.
std::string PrefixedMessage(const char* prefix, int id);

// Line feed then carriage return: joins an operation prefix and its cause.
inline constexpr const char* kLFCR = "\n\r";

// A message as a person reads it: every line break a plain line feed, so
// that no carriage return of the table's joins shows.
std::string PlainMessage(const std::string& message);
// The same on one line, its lines joined by a space.
std::string OneLineMessage(const std::string& message);

class EMMError : public std::runtime_error {
 public:
  explicit EMMError(const std::string& message) : std::runtime_error(message) {}
};

// Each component class raises errors of its own class.
#define TV_DECLARE_ERROR(Name)                                          \
  class Name : public ::tv::EMMError {                                  \
   public:                                                              \
    explicit Name(const std::string& message) : EMMError(message) {}    \
  }

TV_DECLARE_ERROR(EMMOutOfMemory);

// The program-wide handler for errors that nobody up the call chain can take,
// such as a failure on a driver's worker thread. It may be called on any
// thread. Without a handler the message goes to standard error.
using ApplicationErrorHandler = std::function<void(const std::string& message)>;
void SetApplicationErrorHandler(ApplicationErrorHandler handler);
// Reports the exception in flight (call it from a catch block).
void HandleApplicationError();
TV_DECLARE_ERROR(EMMDSPError);

}  // namespace tv
