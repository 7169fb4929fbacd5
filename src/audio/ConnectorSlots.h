// Which display kind each link slot serves, and the slots of each kind:
// shared by the connector's sources.
#pragma once

#include "TMMConnector.h"

namespace tv {

inline constexpr TMMDisplayKind kSlotKind[kDisplaySlots] = {
    dkLevel, dkLevel,    dkMeter,    dkMeter,    dkOscope,   dkOscope,      dkLight,
    dkLight, dkSpectrum, dkSpectrum, dkSpectrum, dkSpectrum, dkSpectrogram, dkSpectrogram};

// Slots of each kind: [first, last].
inline constexpr int kKindFirst[kDisplayKinds] = {dsLevel1, dsMeter1,    dsOscope1,
                                                  dsLight1, dsSpectrum1, dsSpectrogram1};
inline constexpr int kKindLast[kDisplayKinds] = {dsLevel2, dsMeter2,    dsOscope2,
                                                 dsLight2, dsSpectrum4, dsSpectrogram2};

}  // namespace tv
