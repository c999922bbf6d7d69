#include "utility/ui/ZOModalWindowController.h"

#include <QGuiApplication>
#include <QScreen>

ZOModalWindowController::ZOModalWindowController(QWidget* parent) : QDialog(parent) {
    setWindowModality(Qt::ApplicationModal);
}

int ZOModalWindowController::runModal() {
    adjustSize();
    const QWidget* over = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    QRect area;
    if (over != nullptr)
        area = over->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        move(area.center() - rect().center());
    return exec();
}
