#include "KOTimeRulerUnit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

void require(bool condition, const char* text) {
    if (!condition) {
        throw std::invalid_argument(std::string("Invalid parameter not satisfying: ") + text);
    }
}

} // namespace

KOTimeRulerUnit::KOTimeRulerUnit(QString unitName, QString abbreviation, double conversionFactor,
                                 std::vector<double> stepUpCycle, std::vector<double> stepDownCycle)
    : mUnitName(std::move(unitName)), mAbbreviation(std::move(abbreviation)),
      mConversionFactor(conversionFactor), mStepUpCycle(std::move(stepUpCycle)),
      mStepDownCycle(std::move(stepDownCycle)) {
    require(!mUnitName.isEmpty(), "unitName");
    require(!mAbbreviation.isEmpty(), "abbreviation");
    require(std::isnormal(mConversionFactor) && mConversionFactor > 0.0,
            "isnormal(conversionFactor)");
    require(!mStepDownCycle.empty() && std::all_of(mStepDownCycle.begin(), mStepDownCycle.end(),
                                                   [](double s) { return s > 0.0 && s < 1.0; }),
            "stepDownCycle");
    require(!mStepUpCycle.empty() &&
                std::all_of(mStepUpCycle.begin(), mStepUpCycle.end(),
                            [](double s) { return s > 1.0 && std::isfinite(s); }),
            "stepUpCycle");
}
