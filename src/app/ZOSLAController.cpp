#include "app/ZOSLAController.h"

#include "app/UiPrompter.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

#include <QFile>

using koru::LicenceAnswer;
using koru::UiPrompter;
using koru::platform::UserDefaults;

const QString ZOSLAController::kAcceptKey = QStringLiteral("sla_accept");
const QString ZOSLAController::kAgreementResource = QStringLiteral(":/sla.html");

std::unique_ptr<ZOSLAController> ZOSLAController::sharedController(UserDefaults& defaults,
                                                                   UiPrompter& prompter) {
    return std::make_unique<ZOSLAController>(defaults, prompter);
}

ZOSLAController::ZOSLAController(UserDefaults& defaults, UiPrompter& prompter)
    : m_defaults(defaults) {
    if (m_defaults.boolForKey(kAcceptKey)) {
        m_agreed = true;
        return;
    }
    if (prompter.runLicenceAgreement(agreementText()) == LicenceAnswer::Agree)
        iAgree();
    else
        iDoNotAgree();
}

void ZOSLAController::iAgree() {
    m_agreed = true;
    // The store writes through to disk (and logs when it cannot), so a crash right after
    // agreeing does not ask again.
    m_defaults.setBool(kAcceptKey, true);
}

void ZOSLAController::iDoNotAgree() {
    m_agreed = false;
    koru::log::info("The licence agreement was declined; KORU quits");
}

QString ZOSLAController::agreementText() {
    QFile file(kAgreementResource);
    if (!file.open(QIODevice::ReadOnly)) {
        // Only a broken build gets here; asking with an empty text would be worse than saying so.
        koru::log::error("The licence agreement text is missing from this build");
        return QStringLiteral("<p>The licence agreement text is missing from this build of "
                              "KORU.</p>");
    }
    return QString::fromUtf8(file.readAll());
}
