#include "app/ZOAppDelegate.h"

#include "app/UiPrompter.h"
#include "app/ZOSLAController.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/IdleInhibitor.h"

#include <utility>

using koru::platform::IdleInhibitor;
using koru::platform::UserDefaults;

bool ZOAppDelegate::settleLicenceAgreement() {
    return settleLicenceAgreement(UserDefaults::standardUserDefaults(), koru::uiPrompter());
}

bool ZOAppDelegate::settleLicenceAgreement(UserDefaults& defaults, koru::UiPrompter& prompter) {
    return ZOSLAController::sharedController(defaults, prompter)->hasAgreed();
}

ZOAppDelegate::ZOAppDelegate(QDBusConnection bus) : m_bus(std::move(bus)) {}

ZOAppDelegate::~ZOAppDelegate() = default;

void ZOAppDelegate::keepSystemAlive() {
    if (!m_idleInhibitor)
        m_idleInhibitor = std::make_unique<IdleInhibitor>(m_bus);
}
