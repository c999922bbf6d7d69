#include "app/UiPrompter.h"

#include <QtGlobal>

#include <atomic>

namespace koru {

namespace {
std::atomic<UiPrompter*> currentPrompter{nullptr};
}

UiPrompter& uiPrompter() {
    UiPrompter* prompter = currentPrompter.load(std::memory_order_acquire);
    Q_ASSERT_X(prompter, "uiPrompter", "no prompter has been set");
    return *prompter;
}

void setUiPrompter(UiPrompter* prompter) {
    currentPrompter.store(prompter, std::memory_order_release);
}

} // namespace koru
