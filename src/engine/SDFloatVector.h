#pragma once

#include "RealVectorBase.h"

#include <QString>

#include <cstdint>
#include <memory>

class SDDoubleFloatVector;

// A single-precision real vector (impulse responses, curves to draw). Archived under its class
// name with the elements under "dat".
class SDFloatVector : public koru::RealVectorBase<float, SDFloatVector> {
public:
    static inline const QString kClassName = QStringLiteral("SDFloatVector");

    using RealVectorBase::RealVectorBase;

    QString archiveClassName() const override { return kClassName; }
    // Makes archived vectors of these classes readable; safe to call more than once.
    static void registerArchiveClasses();

    // dot(self, other) / (rms(self)·rms(other)) / length; not-a-number for unequal lengths.
    float correlation(const SDFloatVector& other) const;
    // Appends zeros up to n elements; a shorter n changes nothing.
    SDFloatVector& padToLength(std::uint64_t n);
    // Null for an empty vector.
    std::shared_ptr<SDDoubleFloatVector> doublePrecisionVector() const;
    // A mono 24-bit AIFF file at path, replacing any file there. False (with a reason in error
    // when given) when the file cannot be created or written.
    bool writeToAIFFFileAtURL(const QString& path, double sampleRate, QString* error) const;
    // Peak-keeping decimation for drawing long curves on few pixels: between target and about
    // 2·target values, each the larger excursion of its block. Returns this vector when there is
    // nothing to reduce. Throws std::invalid_argument for a target of 0.
    std::shared_ptr<SDFloatVector> vectorMaxMagAdjustedToLength(std::uint64_t target) const;
};

extern template class koru::RealVectorBase<float, SDFloatVector>;
