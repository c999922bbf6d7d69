#pragma once

#include <QString>

namespace koru {

// A modal alert with one or two buttons, as the audio device raises them.
struct Alert {
    QString messageText;
    QString informativeText;
    QString defaultButton = QStringLiteral("OK");
    QString alternateButton; // empty: no second button
};

// Runs alerts. The program shows message boxes; tests script the answers, since an offscreen
// modal dialogue would wait for a click that never comes. Main thread only.
class AlertPresenter {
public:
    enum class Response { Default, Alternate };

    virtual ~AlertPresenter() = default;
    virtual Response runModal(const Alert& alert) = 0;
};

} // namespace koru
