#include "engine/ui/DesktopPresenters.h"

#include "engine/KOAudioDevice.h"
#include "engine/ui/MessageBoxAlertPresenter.h"
#include "utility/ui/KOInfoPanel.h"

namespace koru {

void installDesktopPresenters(KOAudioDevice& device) {
    device.setAlertPresenter(std::make_shared<MessageBoxAlertPresenter>());
    device.setInfoPanel([](const QString& text, const QString& additional) {
        KOInfoPanel::sharedInfoPanel().setInfoText(text, additional);
    });
}

} // namespace koru
