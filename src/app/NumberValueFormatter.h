#pragma once

#include "app/ValueFormatter.h"
#include "platform/formatter/NumberFormatter.h"

namespace koru {

// Numbers through a number formatter. The minus sign is always the ASCII hyphen-minus, whatever
// the locale writes (some write U+2212 or add direction marks), so a spreadsheet reads the value
// as a negative number. Times render as nothing.
class NumberValueFormatter : public ValueFormatter {
public:
    explicit NumberValueFormatter(
        platform::NumberFormatter formatter = platform::NumberFormatter());

    platform::NumberFormatter& numberFormatter() { return m_formatter; }
    const platform::NumberFormatter& numberFormatter() const { return m_formatter; }
    void setDecimalSeparator(const QString& separator) {
        m_formatter.setDecimalSeparator(separator);
    }
    QString decimalSeparator() const { return m_formatter.decimalSeparator(); }

    QString stringFromNumber(double value) const;

protected:
    std::optional<QString> render(const ExportValue& value) const override;

private:
    platform::NumberFormatter m_formatter;
};

} // namespace koru
