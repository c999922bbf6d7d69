#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

namespace koru {

using ExportTime = std::chrono::system_clock::time_point;

// One cell of an exported table: nothing, a number, a text or a point in time.
using ExportValue = std::variant<std::monostate, double, std::int64_t, QString, ExportTime>;

// One row of an exported table: the cells under their column keys. A source may keep one row
// and refill it for every row it yields; clear() keeps the room already taken.
class ExportRow {
public:
    void set(const QString& key, ExportValue value);
    // The cell under `key`; an empty value when the row has none.
    const ExportValue& value(const QString& key) const;
    const ExportValue& operator[](const QString& key) const { return value(key); }
    void clear() { m_size = 0; }
    std::size_t size() const { return m_size; }

private:
    // Tables have a handful of columns: a short vector searched in order beats a hash map.
    std::vector<std::pair<QString, ExportValue>> m_cells;
    std::size_t m_size = 0;
};

} // namespace koru
