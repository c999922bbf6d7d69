#pragma once

#include <QString>

#include <vector>

// One unit a time ruler can measure in: its name (the key the ruler is switched with), its
// symbol, how many document units (samples) one of it spans, and the steps by which the ruler
// groups its marks when zooming out (stepUpCycle, each above 1) and in (stepDownCycle, each
// between 0 and 1). Immutable.
class KOTimeRulerUnit {
public:
    // Throws std::invalid_argument("Invalid parameter not satisfying: <condition>") for an
    // empty name or abbreviation, a factor that is not a normal number, or a cycle that is
    // empty or holds a step that would never end the spacing search.
    KOTimeRulerUnit(QString unitName, QString abbreviation, double conversionFactor,
                    std::vector<double> stepUpCycle, std::vector<double> stepDownCycle);

    const QString& unitName() const { return mUnitName; }
    const QString& abbreviation() const { return mAbbreviation; }
    double conversionFactor() const { return mConversionFactor; }
    const std::vector<double>& stepUpCycle() const { return mStepUpCycle; }
    const std::vector<double>& stepDownCycle() const { return mStepDownCycle; }

private:
    QString mUnitName;
    QString mAbbreviation;
    double mConversionFactor;
    std::vector<double> mStepUpCycle;
    std::vector<double> mStepDownCycle;
};
