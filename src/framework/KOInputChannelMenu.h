#pragma once

#include "framework/KOChannelMenu.h"

// The input channels of a device.
class KOInputChannelMenu : public KOChannelMenu {
public:
    using KOChannelMenu::KOChannelMenu;
    bool onlyInputs() const override { return true; }
};
