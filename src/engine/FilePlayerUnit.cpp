#include "FilePlayerUnit.h"

#include "FilePlayerStream.h"
#include "platform/audiofile/AudioFileReader.h"
#include "platform/log/Log.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace koru {

namespace {

constexpr std::uint32_t kChunkFrames = 4096;
// The disk thread tops the FIFO up at least this often; it holds seconds, so this is plenty.
constexpr auto kDiskPeriod = std::chrono::milliseconds(20);
// A safety net for waitUntilIdle only: the disk thread answers in milliseconds.
constexpr auto kIdleDeadline = std::chrono::seconds(20);

} // namespace

FilePlayerUnit::FilePlayerUnit() : mFifo(kFifoFrames) {
    for (auto& channel : mStaging) {
        channel.assign(kChunkFrames, 0.0f);
    }
    mDisk = std::thread([this] { diskLoop(); });
}

FilePlayerUnit::~FilePlayerUnit() {
    {
        std::lock_guard lock(mMutex);
        mQuit = true;
    }
    mWake.notify_all();
    mDisk.join();
}

// ---- main thread ------------------------------------------------------------------------------

void FilePlayerUnit::post(Command command) {
    {
        std::lock_guard lock(mMutex);
        mCommands.push_back(std::move(command));
    }
    mWake.notify_all();
}

void FilePlayerUnit::load(const QString& path) {
    // Throws for a file that cannot be played; nothing has changed by then.
    auto reader = platform::AudioFileReader::open(path.toStdString());
    pause();
    mFile.path = path;
    mFile.name = QFileInfo(path).fileName();
    mFile.channels = reader->channels();
    mFile.sampleRate = reader->sampleRate();
    mFile.frames = reader->frames();
    ++mLoadsPosted;
    post(Load{std::move(reader), mFile.name.toStdString()});
}

void FilePlayerUnit::play() {
    if (!hasFile()) {
        return;
    }
    if (atEnd()) {
        seek(0.0);
    }
    mPlaying.store(true, std::memory_order_relaxed);
}

void FilePlayerUnit::pause() {
    mPlaying.store(false, std::memory_order_relaxed);
}

void FilePlayerUnit::stop() {
    pause();
    seek(0.0);
}

bool FilePlayerUnit::isPlaying() const {
    return mPlaying.load(std::memory_order_relaxed) && !atEnd();
}

bool FilePlayerUnit::atEnd() const {
    return mFifo.readPosition() >= mEnd.load(std::memory_order_acquire);
}

void FilePlayerUnit::setLoop(bool loop) {
    if (loop == mLoop) {
        return;
    }
    mLoop = loop;
    post(Loop{loop});
}

void FilePlayerUnit::seek(double seconds) {
    if (!hasFile()) {
        return;
    }
    if (atEnd()) {
        // Played through: moving the slider puts it back in place, it does not play on.
        pause();
    }
    const auto frame = std::int64_t(std::llround(std::max(seconds, 0.0) * mFile.sampleRate));
    post(Seek{std::min(frame, mFile.frames)});
}

void FilePlayerUnit::setSampleRate(double rate) {
    if (!(rate > 0.0) || rate == mRate) {
        return;
    }
    mRate = rate;
    post(Rate{rate});
}

double FilePlayerUnit::position() const {
    if (!hasFile() || mLoadsApplied.load(std::memory_order_acquire) != mLoadsPosted) {
        return 0.0;
    }
    const std::int64_t frame = fileFrameAt(mFifo.readPosition());
    return double(std::clamp<std::int64_t>(frame, 0, mFile.frames)) / mFile.sampleRate;
}

bool FilePlayerUnit::waitUntilIdle() {
    std::unique_lock lock(mMutex);
    const std::uint64_t ticket = ++mRequested;
    mWake.notify_all();
    return mServedChanged.wait_for(lock, kIdleDeadline, [&] { return mServed >= ticket; });
}

// ---- audio thread -----------------------------------------------------------------------------

void FilePlayerUnit::render(float* const* channels, std::uint32_t frames) noexcept {
    std::uint32_t got = 0;
    if (mPlaying.load(std::memory_order_relaxed)) {
        const std::uint64_t end = mEnd.load(std::memory_order_acquire);
        got = mFifo.read(channels, frames, end);
        if (got < frames && mFifo.readPosition() < end) {
            mUnderruns.fetch_add(1, std::memory_order_relaxed);
        }
    } else {
        // Paused: a seek's flush still frees the FIFO for the disk to fill.
        mFifo.honourDiscard();
    }
    for (std::uint32_t c = 0; c < SpscFrameFifo::kChannels; ++c) {
        std::fill(channels[c] + got, channels[c] + frames, 0.0f);
    }
}

// ---- disk thread ------------------------------------------------------------------------------

void FilePlayerUnit::diskLoop() {
    std::unique_lock lock(mMutex);
    while (!mQuit) {
        mWake.wait_for(lock, kDiskPeriod,
                       [&] { return mQuit || !mCommands.empty() || mRequested > mServed; });
        if (mQuit) {
            break;
        }
        const std::uint64_t requested = mRequested;
        std::deque<Command> commands;
        commands.swap(mCommands);
        lock.unlock();
        try {
            for (Command& command : commands) {
                std::visit([this](auto& c) { apply(c); }, command);
            }
            fill();
        } catch (const std::exception& failure) {
            // Only the converter's creation throws: the file stays silent.
            log::error("File player: {}", failure.what());
            mStream.reset();
        }
        lock.lock();
        mServed = requested;
        mServedChanged.notify_all();
    }
}

void FilePlayerUnit::addSegment(std::uint64_t fifoStart, std::int64_t fileStart) {
    std::lock_guard lock(mSegmentsMutex);
    mSegments[mSegmentCount % kSegments] =
        Segment{fifoStart, fileStart, mStream ? mStream->ratio() : 1.0};
    ++mSegmentCount;
}

std::int64_t FilePlayerUnit::fileFrameAt(std::uint64_t fifoPosition) const {
    std::lock_guard lock(mSegmentsMutex);
    if (mSegmentCount == 0) {
        return 0;
    }
    // The newest segment that has begun; a file that wraps more often than the table holds
    // settles for the oldest one kept.
    const std::size_t kept = std::min(mSegmentCount, kSegments);
    const Segment* found = &mSegments[(mSegmentCount - kept) % kSegments];
    for (std::size_t back = 1; back <= kept; ++back) {
        const Segment& segment = mSegments[(mSegmentCount - back) % kSegments];
        if (segment.fifoStart <= fifoPosition) {
            found = &segment;
            break;
        }
    }
    const double played =
        fifoPosition > found->fifoStart ? double(fifoPosition - found->fifoStart) : 0.0;
    return found->fileStart + std::int64_t(std::floor(played / found->ratio));
}

void FilePlayerUnit::restartAt(std::int64_t frame) {
    // Flush first, then lift the end: a reader that sees no end sees the flush too.
    mFifo.discardWritten();
    mEnd.store(SpscFrameFifo::kNoLimit, std::memory_order_release);
    mEndAtWrap = false;
    if (mStream) {
        mStream->seek(frame);
    }
    addSegment(mFifo.writePosition(), frame);
}

void FilePlayerUnit::apply(Load& load) {
    mStream.reset();
    mDiskName = std::move(load.name);
    mPendingReader = std::move(load.reader);
    if (mDiskRate > 0.0) {
        mStream = std::make_unique<FilePlayerStream>(std::move(mPendingReader), mDiskRate);
        mStream->setLoop(mDiskLoop);
    }
    {
        std::lock_guard lock(mSegmentsMutex);
        mSegmentCount = 0;
    }
    restartAt(0);
    mLoadsApplied.fetch_add(1, std::memory_order_release);
}

void FilePlayerUnit::apply(const Seek& seek) {
    restartAt(seek.frame);
}

void FilePlayerUnit::apply(const Rate& rate) {
    const std::int64_t here = fileFrameAt(mFifo.readPosition());
    mDiskRate = rate.rate;
    if (!mStream && mPendingReader) {
        mStream = std::make_unique<FilePlayerStream>(std::move(mPendingReader), mDiskRate);
        mStream->setLoop(mDiskLoop);
    } else if (mStream) {
        mStream->setOutputRate(mDiskRate, here);
    }
    restartAt(here);
}

void FilePlayerUnit::apply(const Loop& loop) {
    mDiskLoop = loop.on;
    if (!mStream) {
        return;
    }
    mStream->setLoop(loop.on);
    const std::uint64_t reader = mFifo.readPosition();
    const std::uint64_t end = mEnd.load(std::memory_order_acquire);
    if (!loop.on) {
        // The file's start may already wait in the FIFO after a wrap not heard yet: the end
        // comes there instead.
        if (const auto wrap = firstWrapAfter(reader); wrap && *wrap < end) {
            mEnd.store(*wrap, std::memory_order_release);
            mEndAtWrap = true;
        }
        return;
    }
    if (end == SpscFrameFifo::kNoLimit || reader >= end) {
        return; // nothing to undo, or the end has been heard: play starts again from the top
    }
    if (!mEndAtWrap) {
        // The file's end was written: go on from its start, without a flush.
        mStream->seek(0);
        addSegment(mFifo.writePosition(), 0);
    }
    // After a wrap the FIFO already holds the file's start and the stream carries on from it.
    mEnd.store(SpscFrameFifo::kNoLimit, std::memory_order_release);
    mEndAtWrap = false;
}

std::optional<std::uint64_t> FilePlayerUnit::firstWrapAfter(std::uint64_t fifoPosition) const {
    std::lock_guard lock(mSegmentsMutex);
    std::optional<std::uint64_t> first;
    const std::size_t kept = std::min(mSegmentCount, kSegments);
    for (std::size_t back = 1; back <= kept; ++back) {
        const Segment& segment = mSegments[(mSegmentCount - back) % kSegments];
        if (segment.fifoStart <= fifoPosition) {
            break;
        }
        if (segment.fileStart == 0) {
            first = segment.fifoStart;
        }
    }
    return first;
}

std::uint64_t FilePlayerUnit::targetFrames() const {
    return std::min<std::uint64_t>(std::uint64_t(kBufferSeconds * mDiskRate), kFifoFrames / 2);
}

void FilePlayerUnit::fill() {
    if (!mStream || mStream->ended() ||
        mEnd.load(std::memory_order_relaxed) != SpscFrameFifo::kNoLimit) {
        return;
    }
    float* staging[2] = {mStaging[0].data(), mStaging[1].data()};
    const std::uint64_t target = targetFrames();
    while (true) {
        const std::uint64_t buffered = mFifo.buffered();
        const std::uint64_t room = std::min<std::uint64_t>(mFifo.writable(), kChunkFrames);
        if (buffered >= target || room == 0) {
            return;
        }
        const auto want = std::uint32_t(std::min(room, target - buffered));
        const std::uint64_t segmentStart = mFifo.writePosition() - mStream->produced();
        const std::uint32_t got = mStream->produce(staging, want);
        // Each wrap is known before the frames after it can be read.
        for (const std::uint64_t wrap : mStream->takeWraps()) {
            addSegment(segmentStart + wrap, 0);
        }
        mFifo.write(staging, got);
        if (got < want) {
            if (mStream->failed()) {
                log::warn("File player: reading \"{}\" failed; playback ends there", mDiskName);
            }
            mEnd.store(mFifo.writePosition(), std::memory_order_release);
            return;
        }
    }
}

} // namespace koru
