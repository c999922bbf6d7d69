#pragma once

#include "framework/KOLogarithmicInstrumentView.h"

#include <QVariantMap>

// The plot both FFT windows draw in: level over a logarithmic frequency axis from 50 Hz to the
// Nyquist frequency, with a fractional-octave resolution (the bands per octave of the view's axis,
// 1 to 24) that the octave bars and the smoothing of the traces follow. The resolution is saved
// with the view's bounds under "FFTView.octaveMode".
//
// The pointer is tracked over the whole view, so the frequency read-out follows it everywhere.
class KOFFTInstViewBase : public KOLogarithmicInstrumentView {
    Q_OBJECT
public:
    static inline const QString kOctaveModeKey = QStringLiteral("FFTView.octaveMode");
    static constexpr double kLowestShownFrequency = 50.0;
    static constexpr int kFewestBandsPerOctave = 1;
    static constexpr int kMostBandsPerOctave = 24;

    // nyquist: the audio device's Nyquist frequency, the upper bound of the view.
    explicit KOFFTInstViewBase(QWidget* parent = nullptr,
                               double nyquist = ZOLogViewMath::kDefaultNyquist);

    // 1 = whole octaves, 3 = third octaves, ... 24. Anything outside 1..24 is a programming error
    // (InternalInconsistencyException "octave Mode is < 0" or "invalid octave Mode").
    void setOctaveMode(int bandsPerOctave);
    int octaveMode() const;

    // The logarithmic view's settings plus "FFTView.octaveMode".
    QVariantMap settingsAsDictionary() const override;
    // The logarithmic view's keys, then the resolution; a missing or invalid resolution keeps
    // the current one.
    void restoreSettingsFromDictionary(const QVariantMap& dictionary) override;
};
