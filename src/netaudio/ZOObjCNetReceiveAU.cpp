#include "ZOObjCNetReceiveAU.h"

ZOObjCNetReceiveAU::~ZOObjCNetReceiveAU() {
    // Once this returns the unit reports to nobody (the unit waits for a report under way).
    if (mListener)
        mUnit.setStatusListener({});
}

void ZOObjCNetReceiveAU::setListenerDelegate(
    std::function<void(koru::netaudio::NetStatus)> delegate,
    koru::netaudio::NetStatusListener::Clock clock) {
    if (mListener)
        return;
    mListener =
        std::make_unique<koru::netaudio::NetStatusListener>(std::move(delegate), std::move(clock));
    koru::netaudio::NetStatusListener* listener = mListener.get();
    mUnit.setStatusListener([listener](koru::netaudio::NetStatus s) { listener->report(s); });
}
