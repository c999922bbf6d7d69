#include "spl/KOSPLLogStore.h"

#include "platform/dispatch/SerialQueue.h"
#include "platform/files/KeepAside.h"
#include "platform/log/Log.h"
#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"
#include "spl/KOSPLLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

// The entries of a damaged XML store up to the damage. The entry the damage falls in is kept when
// it stops inside its records (its codes and name come first in the file): the records written
// whole before the damage are what a crash mid-write or a cut copy leaves worth having.
QVariantList salvageEntries(const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    QVariantList entries;
    QVariantMap entry;
    QString key;
    bool inLogs = false;
    bool inEntry = false;
    bool inData = false;
    int depth = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (inLogs && depth == 4 && inEntry) {
                entries.append(entry);
                inEntry = false;
            } else if (inLogs && depth == 3) {
                break;
            }
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QStringView name = xml.name();
        if (name == u"key") {
            key = xml.readElementText();
            --depth;
            continue;
        }
        if (!inLogs) {
            inLogs =
                depth == 3 && name == u"array" && key == QLatin1String(KOSPLLogStore::kLogsKey);
            continue;
        }
        if (depth == 4) {
            inEntry = name == u"dict";
            entry.clear();
            key.clear();
            continue;
        }
        if (depth != 5 || !inEntry)
            continue;
        inData = name == u"data";
        const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements);
        if (xml.hasError())
            break;
        inData = false;
        --depth;
        if (name == u"data")
            entry.insert(key, QByteArray::fromBase64(text.toLatin1()));
        else if (name == u"integer")
            entry.insert(key, text.trimmed().toULongLong());
        else if (name == u"string")
            entry.insert(key, text);
    }
    if (xml.hasError() && inEntry && inData) {
        // Whatever base64 made it to the file before the damage.
        const qsizetype start = bytes.lastIndexOf("<data>");
        QByteArray text = start < 0 ? QByteArray() : bytes.mid(start + 6);
        text.truncate(text.indexOf('<') < 0 ? text.size() : text.indexOf('<'));
        text.replace('\n', "").replace('\t', "").replace(' ', "").replace('\r', "");
        text.truncate(text.size() - text.size() % 4);
        entry.insert(key, QByteArray::fromBase64(text));
        entries.append(entry);
    }
    return entries;
}

} // namespace

KOSPLLogStore& KOSPLLogStore::sharedStore() {
    static auto* store = [] {
        auto* made =
            new KOSPLLogStore(koru::platform::applicationSupportDirectory(), Loading::InBackground);
        // The store outlives the event loop; what it still has to write must reach the disk.
        if (auto* application = QCoreApplication::instance())
            QObject::connect(application, &QCoreApplication::aboutToQuit, made,
                             [made] { made->waitUntilSaved(); });
        return made;
    }();
    return *store;
}

KOSPLLogStore::KOSPLLogStore(const QString& folder, Loading loading)
    : mFolder(folder), mWriter(std::make_unique<koru::platform::SerialQueue>("spl-log-store")) {
    if (loading == Loading::Now) {
        takeStoredLogs(readStoredLogs());
        return;
    }
    // First on the writer queue: every rewrite runs after it, from the whole list.
    mWriter->async([this] {
        takeStoredLogs(readStoredLogs());
        emit logsChanged();
    });
}

void KOSPLLogStore::takeStoredLogs(std::vector<Log> stored) {
    const std::lock_guard lock(mLock);
    // Logs added while loading are the newest.
    stored.insert(stored.end(), std::make_move_iterator(mLogs.begin()),
                  std::make_move_iterator(mLogs.end()));
    mLogs = std::move(stored);
    mLoaded = true;
}

void KOSPLLogStore::waitUntilLoaded() {
    if (mLoaded.load())
        return;
    mWriter->waitUntilIdle();
}

KOSPLLogStore::~KOSPLLogStore() {
    mWriter.reset(); // runs the queued writes first
}

QString KOSPLLogStore::path() const {
    return QDir(mFolder).filePath(QString::fromLatin1(kFileName));
}

std::vector<KOSPLLogStore::Log> KOSPLLogStore::readStoredLogs() const {
    std::vector<Log> stored;
    const QString file = path();
    if (!QFileInfo::exists(file))
        return stored;
    const auto read = PropertyList::read(file);
    QString why = read.error;
    const QVariant logs = read.value.toMap().value(QString::fromLatin1(kLogsKey));
    if (read.ok() &&
        (read.value.typeId() != QMetaType::QVariantMap || logs.typeId() != QMetaType::QVariantList))
        why = QStringLiteral("it holds no \"SplLogs\" array");
    QVariantList entries = logs.toList();
    if (!why.isEmpty()) {
        QFile damaged(file);
        if (damaged.open(QIODevice::ReadOnly))
            entries = salvageEntries(damaged.readAll());
        damaged.close();
        const QString aside = koru::platform::keepUnreadableAsideText(file);
        koru::log::warn("the SPL log store {} is unreadable ({}); {} logs read before the "
                        "damage; {}",
                        utf8(file), utf8(why), entries.size(), utf8(aside));
    }
    int index = 0;
    for (const QVariant& element : entries) {
        QString reason;
        QString warning;
        Log log;
        if (element.typeId() == QMetaType::QVariantMap)
            log = KOSPLLog::fromDictionary(element.toMap(), &reason, &warning);
        else
            reason = QStringLiteral("not a dictionary");
        if (!log) {
            koru::log::warn("stored SPL log {} was skipped: {}", index, utf8(reason));
        } else {
            if (!warning.isEmpty())
                koru::log::warn("stored SPL log {} (\"{}\"): {}", index, utf8(log->name()),
                                utf8(warning));
            stored.push_back(std::move(log));
        }
        ++index;
    }
    return stored;
}

std::vector<KOSPLLogStore::Log> KOSPLLogStore::logs() const {
    const std::lock_guard lock(mLock);
    return mLogs;
}

qsizetype KOSPLLogStore::countOfLogs() const {
    const std::lock_guard lock(mLock);
    return qsizetype(mLogs.size());
}

void KOSPLLogStore::addLog(Log log) {
    if (!log)
        return;
    {
        const std::lock_guard lock(mLock);
        mLogs.push_back(std::move(log));
        save();
    }
    emit logsChanged();
}

void KOSPLLogStore::removeLogsAtIndexes(std::vector<qsizetype> indexes) {
    std::sort(indexes.begin(), indexes.end(), std::greater<>());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    {
        const std::lock_guard lock(mLock);
        for (qsizetype index : indexes) {
            if (index >= 0 && index < qsizetype(mLogs.size()))
                mLogs.erase(mLogs.begin() + index);
        }
        save();
    }
    emit logsChanged();
}

void KOSPLLogStore::removeLog(const Log& log) {
    qsizetype index = -1;
    {
        const std::lock_guard lock(mLock);
        const auto found = std::find(mLogs.begin(), mLogs.end(), log);
        if (found == mLogs.end())
            return;
        index = found - mLogs.begin();
    }
    removeLogsAtIndexes({index});
}

void KOSPLLogStore::removeLogs(const std::vector<Log>& logs) {
    {
        const std::lock_guard lock(mLock);
        const auto removed = std::remove_if(mLogs.begin(), mLogs.end(), [&logs](const Log& log) {
            return std::find(logs.begin(), logs.end(), log) != logs.end();
        });
        if (removed == mLogs.end())
            return;
        mLogs.erase(removed, mLogs.end());
        save();
    }
    emit logsChanged();
}

void KOSPLLogStore::save() {
    ++mPendingSaves;
    mWriter->async([this] {
        // A later rewrite writes a list at least as new.
        if (--mPendingSaves > 0)
            return;
        // Encoded outside the list's lock: an add on main never waits for it.
        QVariantList entries;
        for (const Log& log : logs())
            entries.append(log->dictionaryRepresentation());
        if (!write(entries))
            mWritesFailed = true;
    });
}

bool KOSPLLogStore::waitUntilSaved() {
    mWriter->waitUntilIdle();
    return !mWritesFailed.exchange(false);
}

bool KOSPLLogStore::write(const QVariantList& entries) const {
    QString error;
    if (!PropertyList::write(path(), QVariantMap{{QString::fromLatin1(kLogsKey), entries}},
                             PlistFormat::Xml, &error)) {
        koru::log::error("the SPL log store {} could not be saved: {}", utf8(path()), utf8(error));
        return false;
    }
    return true;
}
