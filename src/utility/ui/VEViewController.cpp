#include "utility/ui/VEViewController.h"

VEViewController::VEViewController(QWidget* parent) : QWidget(parent) {
    setMinimumSize(0, 0);
    setMaximumSize(900, 900);
}
