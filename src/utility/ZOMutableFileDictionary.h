#pragma once

#include "utility/ZOMutableDictionary.h"

#include <functional>

// A dictionary kept in a property-list file: every change, removals included, rewrites the whole
// file atomically, so what is on disk always matches memory.
class ZOMutableFileDictionary : public ZOMutableDictionary {
public:
    using Delegate = std::function<void(ZOMutableFileDictionary&, const QString& key)>;

    // Loads the dictionary stored at `path`; a missing or unreadable file, or one that holds no
    // dictionary, starts empty. An empty path keeps the dictionary in memory only.
    explicit ZOMutableFileDictionary(QString path);

    // Called after each setObject(), once the file is written.
    void setDelegate(Delegate delegate) { m_delegate = std::move(delegate); }

    void setObject(const QVariant& object, const QString& key) override;
    void removeObjectForKey(const QString& key) override;
    void removeAllObjects() override;

    // Writes the file; false (and a log line) when it could not be written.
    bool triggerChange();
    const QString& path() const { return m_path; }

private:
    QString m_path;
    Delegate m_delegate;
};
