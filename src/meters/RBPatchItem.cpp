#include "meters/RBPatchItem.h"

#include "meters/RBPatchMatrix.h"

void RBPatchItem::setChannelNumber(std::int32_t channelNumber) {
    mChannelNumber = channelNumber;
    if (mDelegate)
        mDelegate->didChangePatching();
}
