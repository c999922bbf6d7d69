#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

// What the service asks KORU for. Each answer is a document, "not found", or a failure of the
// link (no reply in time, KORU gone).
struct KOLevelwatcherDataReply {
    enum class Kind { Document, NotFound, Failed };
    Kind kind = Kind::NotFound;
    QByteArray document;
    QString error;
};

class KOLevelwatcherDataFetcher {
public:
    virtual ~KOLevelwatcherDataFetcher() = default;
    virtual KOLevelwatcherDataReply meterDocument(const QString& name) = 0;
    virtual KOLevelwatcherDataReply meterList() = 0;
    // string -> string, "instrumentName" included.
    virtual KOLevelwatcherDataReply logDocument(const QVariantMap& attributes) = 0;
};

// Routing of the service's HTTP requests. Paths are routed after percent-decoding and after "."
// and ".." have been resolved; a path that climbs above the web folder is not found. Every path
// whose first component begins with "spl" is a data path: "/splash.png" can never be a page, so
// page authors keep such names out of the web folder.
class KOLevelwatcherConnection {
public:
    struct Route {
        enum class Kind {
            MeterDocument, // /spl/<name>
            MeterList,     // /splinstruments
            Log,           // /spl<anything>/<name>/log
            DataNotFound,  // any other /spl... path: 404 at once, KORU is not asked
            StaticFile,    // a page below the web folder
            NotFound,      // outside the web folder, or a name no file can have
        };
        Kind kind = Kind::NotFound;
        QString name;                        // the meter's, for the first and third kinds
        std::vector<std::string> components; // the normalised path, for static files
        bool operator==(const Route&) const = default;
    };

    // `decodedPath` is the request's path after percent-decoding.
    static Route route(std::string_view decodedPath);

    // The file a static route names inside `root` (a folder gives its "index.html"): none when
    // it is missing, not a regular file, or when its real path (links followed) leaves the root.
    static std::optional<std::filesystem::path>
    resolveStaticFile(const std::filesystem::path& root,
                      const std::vector<std::string>& components);

    // The contents of the file a static route names, read from what was really opened: the
    // opened file's own path is checked to lie inside the root again, so a link swapped in
    // between the check and the open cannot lead outside. None when not found or too large.
    static std::optional<std::string> readStaticFile(const std::filesystem::path& root,
                                                     const std::vector<std::string>& components,
                                                     std::filesystem::path* opened = nullptr);

    static std::string mimeTypeForPath(const std::filesystem::path& path);

    // Static files larger than this are not served (the folder holds a few small pages).
    static constexpr std::uintmax_t kMaxStaticFileBytes = 32u * 1024u * 1024u;

    // Answers one request completely (data routes wait for KORU on the calling thread).
    static void respond(const httplib::Request& request, httplib::Response& response,
                        const std::filesystem::path& root, KOLevelwatcherDataFetcher& fetcher);
};
