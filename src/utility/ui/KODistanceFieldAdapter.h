#pragma once

#include "utility/KODistanceFormatter.h"

#include "platform/notifications/NotificationCenter.h"

#include <QObject>
#include <QPointer>

class QLineEdit;

// Lets a line edit show and take a delay through the distance formatter: the value is held in
// samples, shown in the user's unit ("34.30 m"), and what the user types ("2 ft", "500") is read
// back into samples when editing ends, then shown again in the unit. A change of unit re-shows
// the value at once. A child of the field, so it goes with it. Main thread only.
class KODistanceFieldAdapter : public QObject {
    Q_OBJECT
public:
    // `center` is where `formatter` posts its unit changes.
    KODistanceFieldAdapter(QLineEdit& field, KODistanceFormatter& formatter,
                           koru::platform::NotificationCenter& center);
    // The shared formatter on the default centre.
    explicit KODistanceFieldAdapter(QLineEdit& field);
    ~KODistanceFieldAdapter() override;

    double samples() const { return m_samples; }
    // Shows a value set by the program; samplesEdited is not emitted.
    void setSamples(double samples);

signals:
    // The user finished editing the field; `samples` is what the formatter read from the text.
    void samplesEdited(double samples);

private:
    void commit();
    void show();

    QPointer<QLineEdit> m_field;
    KODistanceFormatter& m_formatter;
    double m_samples = 0.0;
    koru::platform::ObserverToken m_unitToken;
};
