#include "engine/MainThreadWakeUp.h"

#include "platform/log/Log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

namespace koru {

MainThreadWakeUp::MainThreadWakeUp(std::function<void()> handler)
    : mDescriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), mHandler(std::move(handler)) {
    if (mDescriptor < 0) {
        koru::log::error("Main-thread wake-up: no eventfd ({})", std::strerror(errno));
        return;
    }
    mNotifier = std::make_unique<QSocketNotifier>(mDescriptor, QSocketNotifier::Read);
    QObject::connect(mNotifier.get(), &QSocketNotifier::activated, [this] { drainAndRun(); });
}

MainThreadWakeUp::~MainThreadWakeUp() {
    mNotifier.reset();
    if (mDescriptor >= 0) {
        ::close(mDescriptor);
    }
}

void MainThreadWakeUp::wakeUp() noexcept {
    if (mDescriptor < 0) {
        return;
    }
    const std::uint64_t one = 1;
    // A full counter (never in practice) already means "wake up": nothing to retry.
    [[maybe_unused]] const ssize_t written = ::write(mDescriptor, &one, sizeof one);
}

void MainThreadWakeUp::drainAndRun() {
    std::uint64_t count = 0;
    if (::read(mDescriptor, &count, sizeof count) != ssize_t(sizeof count) || count == 0) {
        return;
    }
    if (mHandler) {
        mHandler();
    }
}

} // namespace koru
