#include "framework/KOInstrumentControllerWithoutPanel.h"

void KOInstrumentControllerWithoutPanel::showControlPanel(QWidget* /*sender*/) {}
