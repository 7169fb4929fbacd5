// The codec service offered to the connector: its displays see PCM whatever
// the stream carries. The desktop program installs it at start-up with
// SetPcmConversionProvider(&CodecConversionProvider()).
#pragma once

#include "TMMPcmConversion.h"

namespace tv {

TMMPcmConversionProvider& CodecConversionProvider();

}  // namespace tv
