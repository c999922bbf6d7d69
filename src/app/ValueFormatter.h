#pragma once

#include "app/ExportRow.h"

#include <QString>

#include <optional>

namespace koru {

// Turns a table cell into text for an export. Texts pass through every formatter as they are;
// what else a formatter renders depends on its kind (numbers, dates).
class ValueFormatter {
public:
    virtual ~ValueFormatter() = default;

    // The cell's text; nothing for an empty cell or a value this formatter cannot render.
    std::optional<QString> stringForValue(const ExportValue& value) const;

protected:
    // Numbers and times; nothing when this kind cannot render the value.
    virtual std::optional<QString> render(const ExportValue& value) const = 0;
};

} // namespace koru
