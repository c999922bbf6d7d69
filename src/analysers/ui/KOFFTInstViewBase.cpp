#include "analysers/ui/KOFFTInstViewBase.h"

#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

using koru::platform::InternalInconsistencyException;

KOFFTInstViewBase::KOFFTInstViewBase(QWidget* parent, double nyquist)
    : KOLogarithmicInstrumentView(parent, nyquist) {
    setMouseTracking(true);
    setLowFrequencyBound(float(kLowestShownFrequency));
    setHiFrequencyBound(float(nyquist));
}

void KOFFTInstViewBase::setOctaveMode(int bandsPerOctave) {
    InternalInconsistencyException::check(bandsPerOctave >= kFewestBandsPerOctave,
                                          "octave Mode is < 0");
    InternalInconsistencyException::check(bandsPerOctave <= kMostBandsPerOctave,
                                          "invalid octave Mode");
    const std::lock_guard lock(layerMutex());
    logViewMath().setOctaveMode(bandsPerOctave);
}

int KOFFTInstViewBase::octaveMode() const {
    return logViewMath().bandsPerOctave();
}

QVariantMap KOFFTInstViewBase::settingsAsDictionary() const {
    QVariantMap settings = KOLogarithmicInstrumentView::settingsAsDictionary();
    settings.insert(kOctaveModeKey, octaveMode());
    return settings;
}

void KOFFTInstViewBase::restoreSettingsFromDictionary(const QVariantMap& dictionary) {
    KOLogarithmicInstrumentView::restoreSettingsFromDictionary(dictionary);
    try {
        setOctaveMode(ZODictionary::intForKey(dictionary, kOctaveModeKey, 0));
    } catch (const InternalInconsistencyException& error) {
        koru::log::info("view settings keep the octave resolution {}: {}", octaveMode(),
                        error.what());
    }
}
