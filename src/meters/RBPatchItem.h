#pragma once

#include <cstdint>

class RBPatchMatrix;

// One file channel of the recorder's patch: the device channel recorded into it, −1 for none.
// Every change is reported to the matrix that holds the item.
class RBPatchItem {
public:
    explicit RBPatchItem(std::int32_t channelNumber = 0) : mChannelNumber(channelNumber) {}

    std::int32_t channelNumber() const { return mChannelNumber; }
    void setChannelNumber(std::int32_t channelNumber);
    void setDelegate(RBPatchMatrix* matrix) { mDelegate = matrix; }

private:
    std::int32_t mChannelNumber;
    RBPatchMatrix* mDelegate = nullptr; // not owned: the matrix holds the item
};
