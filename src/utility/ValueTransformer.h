#pragma once

#include <QVariant>

namespace koru::utility {

// A conversion between a model's value and what a control shows, as a binding applies it: the
// forward way when the model changes, the reverse way when the user changes the control.
class ValueTransformer {
public:
    virtual ~ValueTransformer() = default;

    virtual QVariant transformedValue(const QVariant& value) const = 0;
    virtual bool allowsReverseTransformation() const { return false; }
    // The default goes the forward way again, as the transformers of the interface files expect
    // of one that allows the reverse way without defining it.
    virtual QVariant reverseTransformedValue(const QVariant& value) const {
        return transformedValue(value);
    }
};

} // namespace koru::utility
