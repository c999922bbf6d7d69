#pragma once

#include <QLocale>
#include <QString>

#include <optional>

namespace koru::platform {

// A small number formatter in the manner the tables and readouts need: fraction digits, grouping,
// a decimal separator that may be forced, locale-aware by default.
class NumberFormatter {
public:
    explicit NumberFormatter(QLocale locale = QLocale());

    QString stringFromNumber(double value) const;
    // Parses text written by stringFromNumber (its decimal and grouping separators); nullopt when
    // the text is not a number.
    std::optional<double> numberFromString(const QString& text) const;

    void setMinimumFractionDigits(int n) { m_minFraction = n; }
    void setMaximumFractionDigits(int n) { m_maxFraction = n; }
    void setMinimumIntegerDigits(int n) { m_minInteger = n; }
    void setUsesGroupingSeparator(bool on) { m_grouping = on; }
    void setAlwaysShowsDecimalSeparator(bool on) { m_alwaysDecimal = on; }
    void setAllowsFloats(bool on) { m_allowsFloats = on; }
    void setDecimalSeparator(const QString& separator) { m_decimalSeparator = separator; }
    void setLocale(const QLocale& locale) { m_locale = locale; }

    int minimumFractionDigits() const { return m_minFraction; }
    int maximumFractionDigits() const { return m_maxFraction; }
    int minimumIntegerDigits() const { return m_minInteger; }
    bool usesGroupingSeparator() const { return m_grouping; }
    bool alwaysShowsDecimalSeparator() const { return m_alwaysDecimal; }
    bool allowsFloats() const { return m_allowsFloats; }
    QString decimalSeparator() const; // the forced one, else the locale's
    const QLocale& locale() const { return m_locale; }

private:
    QLocale m_locale;
    int m_minFraction = 0;
    int m_maxFraction = 3;
    int m_minInteger = 1;
    bool m_grouping = false;
    bool m_alwaysDecimal = false;
    bool m_allowsFloats = true;
    QString m_decimalSeparator; // empty: the locale's
};

} // namespace koru::platform
