#include "engine/SafeModeInstrument.h"

#include "engine/KOAD.h"

namespace koru {

SafeModeInstrument::~SafeModeInstrument() {
    DetachFromHost();
}

void SafeModeInstrument::SetHost(ZOAudioInput* host) {
    if (!host) {
        return;
    }
    KOInstrument::SetHost(host);
    auto* engine = dynamic_cast<KOAD*>(host);
    if (engine == mSafeModeEngine) {
        return;
    }
    LeaveSafeMode();
    if (engine) {
        engine->EnterSafeMode();
        mSafeModeEngine = engine;
    }
}

void SafeModeInstrument::DetachFromHost() {
    if (mDetached) {
        return;
    }
    mDetached = true;
    if (ZOAudioInput* host = Host()) {
        host->RemoveClient(this);
    }
    LeaveSafeMode();
}

void SafeModeInstrument::LeaveSafeMode() {
    if (mSafeModeEngine) {
        mSafeModeEngine->LeaveSafeMode();
        mSafeModeEngine = nullptr;
    }
}

} // namespace koru
