#pragma once

#include <QString>

#include <cstdint>

class KOPatchMatrix;

// What a patch matrix asks of its owner (the audio device): the sources it can offer, and where
// every change of the map must be applied.
class KOPatchingProtocol {
public:
    virtual ~KOPatchingProtocol() = default;

    virtual QString sourceChannelNameAtIndex(std::uint32_t index, const KOPatchMatrix& matrix) = 0;
    virtual std::uint32_t numberOfSourceChannelsForMatrix(const KOPatchMatrix& matrix) = 0;
    virtual void patchMatrixDidPatchSourceChannel(KOPatchMatrix& matrix, std::int32_t source,
                                                  std::uint32_t destination) = 0;
    virtual void matrixDidChange(KOPatchMatrix& matrix) = 0;
};
