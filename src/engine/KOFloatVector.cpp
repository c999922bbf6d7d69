#include "KOFloatVector.h"

bool KOFloatVector::acceptsClassOf(const koru::platform::Archivable& other) const {
    return dynamic_cast<const KOFloatVector*>(&other) != nullptr;
}
