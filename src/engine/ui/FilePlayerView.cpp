#include "FilePlayerView.h"

#include "engine/FilePlayerUnit.h"
#include "engine/ui/MessageBoxAlertPresenter.h"
#include "platform/audiofile/AudioFileError.h"
#include "platform/log/Log.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace koru {

namespace {

constexpr int kSliderStepsPerSecond = 1000;

const QString kAudioFileFilter = QStringLiteral(
    "Audio Files (*.wav *.wave *.bwf *.rf64 *.aif *.aiff *.aifc *.caf *.flac *.ogg *.oga *.opus "
    "*.mp3 *.m4a *.mp4 *.aac *.au *.snd *.w64);;All Files (*)");

} // namespace

FilePlayerView::FilePlayerView(FilePlayerUnit& player, std::shared_ptr<AlertPresenter> alerts,
                               QWidget* parent)
    : QWidget(parent), mPlayer(player), mAlerts(std::move(alerts)) {
    if (!mAlerts) {
        mAlerts = std::make_shared<MessageBoxAlertPresenter>();
    }
    mOpen = new QPushButton(tr("Open…"), this);
    mName = new QLabel(tr("No file"), this);
    mName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    mDuration = new QLabel(this);
    mPlay = new QPushButton(tr("Play"), this);
    mStop = new QPushButton(tr("Stop"), this);
    mLoop = new QCheckBox(tr("Loop"), this);
    mElapsed = new QLabel(timeText(0.0), this);
    mPosition = new QSlider(Qt::Horizontal, this);
    mPosition->setMinimumWidth(240);
    mTotal = new QLabel(timeText(0.0), this);
    mOpen->setObjectName(QStringLiteral("open"));
    mName->setObjectName(QStringLiteral("name"));
    mDuration->setObjectName(QStringLiteral("duration"));
    mPlay->setObjectName(QStringLiteral("play"));
    mStop->setObjectName(QStringLiteral("stop"));
    mLoop->setObjectName(QStringLiteral("loop"));
    mElapsed->setObjectName(QStringLiteral("elapsed"));
    mPosition->setObjectName(QStringLiteral("position"));
    mTotal->setObjectName(QStringLiteral("total"));

    auto* file = new QHBoxLayout;
    file->addWidget(mOpen);
    file->addWidget(mName, 1);
    file->addWidget(mDuration);
    auto* transport = new QHBoxLayout;
    transport->addWidget(mPlay);
    transport->addWidget(mStop);
    transport->addWidget(mLoop);
    transport->addStretch(1);
    auto* position = new QHBoxLayout;
    position->addWidget(mElapsed);
    position->addWidget(mPosition, 1);
    position->addWidget(mTotal);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(file);
    layout->addLayout(transport);
    layout->addLayout(position);

    connect(mOpen, &QPushButton::clicked, this, [this] { openFile(); });
    connect(mPlay, &QPushButton::clicked, this, [this] { togglePlay(); });
    connect(mStop, &QPushButton::clicked, this, [this] { stop(); });
    connect(mLoop, &QCheckBox::toggled, this, [this](bool on) { mPlayer.setLoop(on); });
    // Dragging moves only the knob; the player goes there on release, or at once for a click
    // or a key on the track.
    connect(mPosition, &QSlider::sliderReleased, this, [this] { seekToSlider(); });
    connect(mPosition, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove) {
            seekToSlider();
        }
    });
    connect(mPosition, &QSlider::sliderMoved, this, [this](int value) {
        mElapsed->setText(timeText(double(value) / kSliderStepsPerSecond));
    });
    connect(&mTimer, &QTimer::timeout, this, [this] { refresh(); });
    mTimer.start(kRefreshMs);
    refresh();
}

QString FilePlayerView::timeText(double seconds) {
    const auto whole = static_cast<long long>(std::floor(std::max(seconds, 0.0)));
    const long long h = whole / 3600;
    const long long m = (whole / 60) % 60;
    const long long s = whole % 60;
    if (h > 0) {
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

bool FilePlayerView::loadFile(const QString& path) {
    try {
        mPlayer.load(path);
    } catch (const platform::AudioFileError& error) {
        log::warn("File player: {}", error.what());
        Alert alert;
        alert.messageText = tr("The file cannot be played");
        alert.informativeText = QString::fromStdString(error.what());
        mAlerts->runModal(alert);
        return false;
    }
    log::info("File player: loaded \"{}\"", path.toStdString());
    refresh();
    return true;
}

void FilePlayerView::openFile() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open Audio File"), QString(), kAudioFileFilter);
    if (!path.isEmpty()) {
        loadFile(path);
    }
}

void FilePlayerView::togglePlay() {
    if (mPlayer.isPlaying()) {
        mPlayer.pause();
    } else {
        mPlayer.play();
    }
    refresh();
}

void FilePlayerView::stop() {
    mPlayer.stop();
    refresh();
}

void FilePlayerView::seekToSlider() {
    // The slider's position, which a click on the track has already moved; its value follows
    // only after this.
    mPlayer.seek(double(mPosition->sliderPosition()) / kSliderStepsPerSecond);
}

void FilePlayerView::refresh() {
    const bool loaded = mPlayer.hasFile();
    const double duration = mPlayer.duration();
    mName->setText(loaded ? mPlayer.file().name : tr("No file"));
    mName->setToolTip(loaded ? mPlayer.file().path : QString());
    mDuration->setText(loaded ? timeText(duration) : QString());
    mTotal->setText(timeText(duration));
    mPlay->setEnabled(loaded);
    mStop->setEnabled(loaded);
    mPosition->setEnabled(loaded);
    mPlay->setText(mPlayer.isPlaying() ? tr("Pause") : tr("Play"));
    if (mLoop->isChecked() != mPlayer.loops()) {
        mLoop->setChecked(mPlayer.loops());
    }
    mPosition->setRange(0, int(std::lround(duration * kSliderStepsPerSecond)));
    if (!mPosition->isSliderDown()) {
        const double position = mPlayer.position();
        mPosition->setValue(int(std::lround(position * kSliderStepsPerSecond)));
        mElapsed->setText(timeText(position));
    }
}

} // namespace koru
