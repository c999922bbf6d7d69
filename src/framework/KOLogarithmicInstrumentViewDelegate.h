#pragma once

// Told on main whenever a bound of a logarithmic plot changed.
class KOLogarithmicInstrumentViewDelegate {
public:
    virtual ~KOLogarithmicInstrumentViewDelegate() = default;
    virtual void viewDidChangeFrequencyBounds(float /*lower*/, float /*upper*/) {}
    virtual void viewDidChangeMagnitudeBounds(float /*lower*/, float /*upper*/) {}
};
