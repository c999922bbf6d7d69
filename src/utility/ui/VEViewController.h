#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

// The base of panels that windows host and size: from 0 x 0 up to 900 x 900, resizable, their
// frame saved under their title.
class VEViewController : public QWidget {
    Q_OBJECT
public:
    explicit VEViewController(QWidget* parent = nullptr);

    QSize minSize() const { return minimumSize(); }
    QSize maxSize() const { return maximumSize(); }
    bool resizeable() const { return minimumSize() != maximumSize(); }
    QString frameSaveName() const { return windowTitle(); }
};
