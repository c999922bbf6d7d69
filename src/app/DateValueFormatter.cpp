#include "app/DateValueFormatter.h"

#include "platform/log/Log.h"

#include <unicode/udat.h>

#include <utility>

namespace koru {

struct DateValueFormatter::Icu {
    UDateFormat* format = nullptr;
    ~Icu() {
        if (format)
            udat_close(format);
    }
};

namespace {

UDateFormatStyle icuStyle(DateValueFormatter::Style style) {
    switch (style) {
    case DateValueFormatter::ShortStyle:
        return UDAT_SHORT;
    case DateValueFormatter::MediumStyle:
        return UDAT_MEDIUM;
    case DateValueFormatter::LongStyle:
        return UDAT_LONG;
    case DateValueFormatter::FullStyle:
        return UDAT_FULL;
    case DateValueFormatter::NoStyle:
        break;
    }
    return UDAT_NONE;
}

// Qt names the "C" locale "C"; ICU's counterpart is the POSIX flavour of US English.
QByteArray icuLocaleId(const QLocale& locale) {
    if (locale.language() == QLocale::C)
        return QByteArrayLiteral("en_US_POSIX");
    return locale.name().toLatin1();
}

} // namespace

DateValueFormatter::DateValueFormatter(QLocale locale, Style dateStyle, Style timeStyle)
    : m_locale(std::move(locale)), m_dateStyle(dateStyle), m_timeStyle(timeStyle) {}

DateValueFormatter::~DateValueFormatter() = default;

DateValueFormatter::Style DateValueFormatter::dateStyle() const {
    std::lock_guard lock(m_mutex);
    return m_dateStyle;
}

void DateValueFormatter::setDateStyle(Style style) {
    std::lock_guard lock(m_mutex);
    m_dateStyle = style;
    m_icu.reset();
}

DateValueFormatter::Style DateValueFormatter::timeStyle() const {
    std::lock_guard lock(m_mutex);
    return m_timeStyle;
}

void DateValueFormatter::setTimeStyle(Style style) {
    std::lock_guard lock(m_mutex);
    m_timeStyle = style;
    m_icu.reset();
}

void DateValueFormatter::setTimeZone(const QString& zoneId) {
    std::lock_guard lock(m_mutex);
    m_zoneId = zoneId;
    m_icu.reset();
}

QString DateValueFormatter::stringFromDate(ExportTime time) const {
    std::lock_guard lock(m_mutex);
    if (m_dateStyle == NoStyle && m_timeStyle == NoStyle)
        return QString();
    if (!m_icu) {
        auto icu = std::make_unique<Icu>();
        UErrorCode status = U_ZERO_ERROR;
        const QByteArray localeId = icuLocaleId(m_locale);
        icu->format = udat_open(
            icuStyle(m_timeStyle), icuStyle(m_dateStyle), localeId.constData(),
            m_zoneId.isEmpty() ? nullptr : reinterpret_cast<const UChar*>(m_zoneId.utf16()),
            m_zoneId.isEmpty() ? 0 : static_cast<int32_t>(m_zoneId.size()), nullptr, 0, &status);
        if (U_FAILURE(status) || !icu->format) {
            // Kept empty, so a whole column logs this once rather than once per row.
            log::error("Cannot make a date format for locale {}: {}", localeId.constData(),
                       u_errorName(status));
            if (icu->format)
                udat_close(std::exchange(icu->format, nullptr));
        }
        m_icu = std::move(icu);
    }
    if (!m_icu->format)
        return QString();
    const auto millis = std::chrono::duration_cast<std::chrono::duration<double, std::milli>>(
                            time.time_since_epoch())
                            .count();
    char16_t buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = udat_format(m_icu->format, millis, buffer, 256, nullptr, &status);
    if (U_SUCCESS(status))
        return QString(reinterpret_cast<const QChar*>(buffer), length);
    if (status != U_BUFFER_OVERFLOW_ERROR)
        return QString();
    QString text(length, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    udat_format(m_icu->format, millis, reinterpret_cast<char16_t*>(text.data()), length, nullptr,
                &status);
    return U_SUCCESS(status) ? text : QString();
}

std::optional<QString> DateValueFormatter::render(const ExportValue& value) const {
    if (const auto* time = std::get_if<ExportTime>(&value))
        return stringFromDate(*time);
    return std::nullopt;
}

} // namespace koru
