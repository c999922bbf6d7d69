#include "app/ValueFormatter.h"

namespace koru {

std::optional<QString> ValueFormatter::stringForValue(const ExportValue& value) const {
    if (std::holds_alternative<std::monostate>(value))
        return std::nullopt;
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    return render(value);
}

} // namespace koru
