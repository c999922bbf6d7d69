#include "utility/ui/KODistanceFieldAdapter.h"

#include <QLineEdit>

KODistanceFieldAdapter::KODistanceFieldAdapter(QLineEdit& field, KODistanceFormatter& formatter,
                                               koru::platform::NotificationCenter& center)
    : QObject(&field), m_field(&field), m_formatter(formatter) {
    connect(&field, &QLineEdit::editingFinished, this, &KODistanceFieldAdapter::commit);
    const auto id = center.addObserver(
        QString::fromLatin1(KODistanceFormatter::kChangeDistanceUnitNotification), &formatter,
        [this](const koru::platform::Notification&) { show(); });
    m_unitToken = koru::platform::ObserverToken(center, id);
    show();
}

KODistanceFieldAdapter::KODistanceFieldAdapter(QLineEdit& field)
    : KODistanceFieldAdapter(field, KODistanceFormatter::sharedDistanceFormatter(),
                             koru::platform::NotificationCenter::defaultCenter()) {}

KODistanceFieldAdapter::~KODistanceFieldAdapter() = default;

void KODistanceFieldAdapter::setSamples(double samples) {
    m_samples = samples;
    show();
}

void KODistanceFieldAdapter::commit() {
    // Leaving the field without typing is no edit.
    if (m_field == nullptr || !m_field->isModified())
        return;
    QVariant value;
    m_formatter.getObjectValue(&value, m_field->text());
    m_samples = value.toDouble();
    show();
    emit samplesEdited(m_samples);
}

void KODistanceFieldAdapter::show() {
    if (m_field == nullptr)
        return;
    m_field->setText(m_formatter.stringForObjectValue(m_samples).value_or(QString()));
    m_field->setModified(false);
}
