#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

#include <functional>

namespace koru::framework {

// The images of the instrument toolbars, drawn here (template images are black glyphs on
// transparency, tinted for use), and the two flag-to-image transformers by name. Main thread,
// once the application object exists; each image is made once and kept.
class ToolbarImages {
public:
    static constexpr const char* kPauseImageTransformerName = "KOPauseImageTrafoName";
    static constexpr const char* kLockImageTransformerName = "KOLockImageTrafoName";

    // "pause_go", "pause_goTemplate", "pause_pausedTemplate"; null for any other name.
    static QImage imageNamed(const QString& name);
    // The gear of the Settings button.
    static QIcon actionImage();
    // Paused: "pause_pausedTemplate" in white 0.8; running: "pause_goTemplate" in the
    // interface blue.
    static QIcon pauseImage(bool paused);
    static QIcon lockImage(bool locked);
    // The transformer registered under `name`; empty for an unknown name.
    static std::function<QIcon(bool)> transformer(const QString& name);
};

} // namespace koru::framework
