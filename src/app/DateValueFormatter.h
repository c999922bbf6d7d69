#pragma once

#include "app/ValueFormatter.h"

#include <QLocale>
#include <QString>

#include <memory>
#include <mutex>

namespace koru {

// Points in time as dates, times of day or both, each in one of the locale's styles (ICU's date
// formats; Qt has no medium style). Both styles off renders an empty text. Numbers render as
// nothing. Safe to use from one thread while another changes the styles.
class DateValueFormatter : public ValueFormatter {
public:
    // The values double as menu tags, so they are fixed.
    enum Style : int {
        NoStyle = 0,
        ShortStyle = 1,
        MediumStyle = 2,
        LongStyle = 3,
        FullStyle = 4,
    };

    explicit DateValueFormatter(QLocale locale = QLocale(), Style dateStyle = NoStyle,
                                Style timeStyle = NoStyle);
    ~DateValueFormatter() override;

    Style dateStyle() const;
    void setDateStyle(Style style);
    Style timeStyle() const;
    void setTimeStyle(Style style);
    // An IANA zone such as "Europe/Berlin"; empty (the default) is the system's zone.
    void setTimeZone(const QString& zoneId);
    const QLocale& locale() const { return m_locale; }

    QString stringFromDate(ExportTime time) const;

protected:
    std::optional<QString> render(const ExportValue& value) const override;

private:
    struct Icu;

    QLocale m_locale;
    mutable std::mutex m_mutex;
    Style m_dateStyle;
    Style m_timeStyle;
    QString m_zoneId;
    mutable std::unique_ptr<Icu> m_icu; // built on first use after a change
};

} // namespace koru
