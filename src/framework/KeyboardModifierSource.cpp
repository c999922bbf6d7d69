#include "framework/KeyboardModifierSource.h"

#include <QGuiApplication>

namespace koru::framework {

namespace {

KeyboardModifierSource::Provider& installedProvider() {
    static KeyboardModifierSource::Provider provider;
    return provider;
}

} // namespace

Qt::KeyboardModifiers KeyboardModifierSource::current() {
    if (const Provider& provider = installedProvider())
        return provider();
    return QGuiApplication::queryKeyboardModifiers();
}

void KeyboardModifierSource::setProvider(Provider provider) {
    installedProvider() = std::move(provider);
}

} // namespace koru::framework
