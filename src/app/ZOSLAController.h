#pragma once

#include <QString>

#include <memory>

namespace koru {
class UiPrompter;
namespace platform {
class UserDefaults;
}
} // namespace koru

// The licence agreement: asked once, before anything else of the program runs, until the user
// has agreed; the answer is kept in the user defaults. A controller lives only as long as it
// takes to settle the agreement.
class ZOSLAController {
public:
    static const QString kAcceptKey;         // "sla_accept"
    static const QString kAgreementResource; // the agreement text, HTML, compiled in

    // A new controller on every call; the agreement is settled when it returns.
    static std::unique_ptr<ZOSLAController> sharedController(koru::platform::UserDefaults& defaults,
                                                             koru::UiPrompter& prompter);

    // Asks through the prompter unless the user agreed on an earlier start.
    ZOSLAController(koru::platform::UserDefaults& defaults, koru::UiPrompter& prompter);

    ZOSLAController(const ZOSLAController&) = delete;
    ZOSLAController& operator=(const ZOSLAController&) = delete;

    // Stores the agreement for every later start.
    void iAgree();
    // Stores nothing: a user who declined has not allowed KORU to keep anything.
    void iDoNotAgree();

    bool hasAgreed() const { return m_agreed; }

    static QString agreementText();

private:
    koru::platform::UserDefaults& m_defaults;
    bool m_agreed = false;
};
