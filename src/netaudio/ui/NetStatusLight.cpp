#include "NetStatusLight.h"

#include <QLabel>

namespace koru::netaudio {

const char* statusLightColour(int status) {
    if (status == 1)
        return kGreenLight;
    if (status >= 2 && status <= 5)
        return kYellowLight;
    return kRedLight;
}

void showStatusLight(QLabel* light, int status) {
    const QString colour = QString::fromLatin1(statusLightColour(status));
    light->setStyleSheet(QStringLiteral("background: %1; border-radius: 6px;").arg(colour));
    light->setProperty("statusColour", colour);
}

} // namespace koru::netaudio
