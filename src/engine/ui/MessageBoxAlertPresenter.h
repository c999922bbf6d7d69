#pragma once

#include "engine/AlertPresenter.h"

namespace koru {

// Alerts as application-modal message boxes.
class MessageBoxAlertPresenter : public AlertPresenter {
public:
    Response runModal(const Alert& alert) override;
};

} // namespace koru
