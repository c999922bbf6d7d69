#pragma once

#include "framework/KOChannelMenu.h"

// The output channels of a device.
class KOOutputChannelMenu : public KOChannelMenu {
public:
    using KOChannelMenu::KOChannelMenu;
    bool onlyInputs() const override { return false; }
};
