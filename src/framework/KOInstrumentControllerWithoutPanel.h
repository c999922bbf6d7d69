#pragma once

#include "framework/KOInstrumentController.h"

// The base of instruments that have no control popover (spectral history, goniometer, recorder,
// level history, network send, oscilloscope): asking for the panel does nothing.
class KOInstrumentControllerWithoutPanel : public KOInstrumentController {
    Q_OBJECT
public:
    void showControlPanel(QWidget* sender) override;
};
