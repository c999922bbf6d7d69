#pragma once

#include <QWidget>

// The translucent rounded panel behind an instrument view's overlay controls.
class KOInstrumentControlBackground : public QWidget {
    Q_OBJECT
public:
    explicit KOInstrumentControlBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
