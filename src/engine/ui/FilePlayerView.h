#pragma once

#include "engine/AlertPresenter.h"

#include <QTimer>
#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace koru {

class FilePlayerUnit;

// The file player's controls: Open…, the file's name and length, Play/Pause, Stop, Loop and a
// position slider between the elapsed and the total time. It follows the player on a timer, so
// the end of the file shows without the audio thread telling anyone. Main thread only.
class FilePlayerView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 100;

    // `alerts` tells the user why a file cannot be played; null shows message boxes.
    FilePlayerView(FilePlayerUnit& player, std::shared_ptr<AlertPresenter> alerts,
                   QWidget* parent = nullptr);

    // Loads `path` ready to play from its start. A file that cannot be played is reported and
    // leaves the player as it was; false then.
    bool loadFile(const QString& path);
    // Asks for a file and loads it.
    void openFile();
    // Brings the controls in line with the player (the timer calls it).
    void refresh();

    // "0:07", "3:25", "1:02:05".
    static QString timeText(double seconds);

private:
    void togglePlay();
    void stop();
    void seekToSlider();

    FilePlayerUnit& mPlayer;
    std::shared_ptr<AlertPresenter> mAlerts;
    QPushButton* mOpen;
    QLabel* mName;
    QLabel* mDuration;
    QPushButton* mPlay;
    QPushButton* mStop;
    QCheckBox* mLoop;
    QLabel* mElapsed;
    QSlider* mPosition;
    QLabel* mTotal;
    QTimer mTimer;
};

} // namespace koru
