#include "app/ExportRow.h"

namespace koru {

namespace {
const ExportValue kNoValue;
}

void ExportRow::set(const QString& key, ExportValue value) {
    for (std::size_t i = 0; i < m_size; ++i) {
        if (m_cells[i].first == key) {
            m_cells[i].second = std::move(value);
            return;
        }
    }
    if (m_size < m_cells.size()) {
        m_cells[m_size].first = key;
        m_cells[m_size].second = std::move(value);
    } else {
        m_cells.emplace_back(key, std::move(value));
    }
    ++m_size;
}

const ExportValue& ExportRow::value(const QString& key) const {
    for (std::size_t i = 0; i < m_size; ++i) {
        if (m_cells[i].first == key)
            return m_cells[i].second;
    }
    return kNoValue;
}

} // namespace koru
