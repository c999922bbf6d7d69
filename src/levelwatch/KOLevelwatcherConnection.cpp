#include "levelwatch/KOLevelwatcherConnection.h"

#include "platform/log/Log.h"

#include <httplib.h>

#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kXml = "application/xml";
constexpr const char* kNotFound = "Not Found";

// The UTF-8 name, or none when the bytes are not UTF-8 (such a name cannot reach KORU).
std::optional<QString> utf8Name(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString name = decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (decoder.hasError())
        return std::nullopt;
    return name;
}

// Every component of the root, then at least one more. A sibling folder whose name merely
// begins with the root's ("levelwatch2") is outside.
bool isInside(const fs::path& realRoot, const fs::path& real) {
    auto r = realRoot.begin();
    auto c = real.begin();
    for (; r != realRoot.end(); ++r, ++c) {
        if (c == real.end() || *r != *c)
            return false;
    }
    return c != real.end();
}

// The file the components name below the real (canonical) root, its index for a folder; none
// when missing, not a regular file, or when its real path leaves the root.
std::optional<fs::path> resolveInside(const fs::path& realRoot,
                                      const std::vector<std::string>& components) {
    fs::path candidate = realRoot;
    for (const std::string& component : components)
        candidate /= component;
    std::error_code error;
    fs::path real = fs::canonical(candidate, error);
    if (error)
        return std::nullopt;
    if (fs::is_directory(real, error))
        real = fs::canonical(real / "index.html", error);
    if (error || !fs::is_regular_file(real, error) || !isInside(realRoot, real))
        return std::nullopt;
    return real;
}

void answerNotFound(httplib::Response& response) {
    response.status = 404;
    response.set_content(kNotFound, kXml);
}

} // namespace

KOLevelwatcherConnection::Route KOLevelwatcherConnection::route(std::string_view decodedPath) {
    Route result;
    std::vector<std::string> components;
    std::size_t begin = 0;
    while (begin <= decodedPath.size()) {
        std::size_t end = decodedPath.find('/', begin);
        if (end == std::string_view::npos)
            end = decodedPath.size();
        const std::string_view part = decodedPath.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (components.empty())
                return result; // above the web folder
            components.pop_back();
            continue;
        }
        if (part.find('\0') != std::string_view::npos)
            return result;
        components.emplace_back(part);
    }

    if (!components.empty() && components.front().starts_with("spl")) {
        result.kind = Route::Kind::DataNotFound;
        if (components.size() == 3 && components[2] == "log") {
            if (const std::optional<QString> name = utf8Name(components[1])) {
                result.kind = Route::Kind::Log;
                result.name = *name;
            }
        } else if (components.size() == 2 && components[0] == "spl") {
            if (const std::optional<QString> name = utf8Name(components[1])) {
                result.kind = Route::Kind::MeterDocument;
                result.name = *name;
            }
        } else if (components.size() == 1 && components[0] == "splinstruments") {
            result.kind = Route::Kind::MeterList;
        }
        return result;
    }
    result.kind = Route::Kind::StaticFile;
    result.components = std::move(components);
    return result;
}

std::optional<fs::path>
KOLevelwatcherConnection::resolveStaticFile(const fs::path& root,
                                            const std::vector<std::string>& components) {
    std::error_code error;
    const fs::path realRoot = fs::canonical(root, error);
    if (error)
        return std::nullopt;
    return resolveInside(realRoot, components);
}

std::optional<std::string> KOLevelwatcherConnection::readStaticFile(
    const fs::path& root, const std::vector<std::string>& components, fs::path* opened) {
    std::error_code error;
    const fs::path realRoot = fs::canonical(root, error);
    if (error)
        return std::nullopt;
    const std::optional<fs::path> file = resolveInside(realRoot, components);
    if (!file)
        return std::nullopt;
    const int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    const fs::path really = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    struct stat info {};
    if (error || !isInside(realRoot, really) || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        std::uintmax_t(info.st_size) > kMaxStaticFileBytes)
        return std::nullopt;
    std::string body(std::size_t(info.st_size), '\0');
    std::size_t done = 0;
    while (done < body.size()) {
        const ssize_t n = ::read(fd, body.data() + done, body.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break; // shortened meanwhile: serve what is there
        done += std::size_t(n);
    }
    body.resize(done);
    if (opened)
        *opened = really;
    return body;
}

std::string KOLevelwatcherConnection::mimeTypeForPath(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".xml", "application/xml"},
        {".txt", "text/plain; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".ico", "image/x-icon"},
        {".webp", "image/webp"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
    };
    for (const auto& [suffix, type] : kTypes)
        if (extension == suffix)
            return type;
    return "application/octet-stream";
}

void KOLevelwatcherConnection::respond(const httplib::Request& request, httplib::Response& response,
                                       const fs::path& root, KOLevelwatcherDataFetcher& fetcher) {
    const Route where = route(request.path);
    KOLevelwatcherDataReply reply;
    switch (where.kind) {
    case Route::Kind::NotFound:
    case Route::Kind::DataNotFound:
        answerNotFound(response);
        return;
    case Route::Kind::StaticFile: {
        fs::path file;
        std::optional<std::string> body = readStaticFile(root, where.components, &file);
        if (!body) {
            response.status = 404;
            response.set_content(kNotFound, "text/plain; charset=utf-8");
            return;
        }
        response.status = 200;
        response.set_content(std::move(*body), mimeTypeForPath(file).c_str());
        return;
    }
    case Route::Kind::MeterDocument:
        reply = fetcher.meterDocument(where.name);
        break;
    case Route::Kind::MeterList:
        reply = fetcher.meterList();
        break;
    case Route::Kind::Log: {
        QVariantMap attributes;
        // The first of repeated parameters counts; the name always comes from the path.
        for (auto it = request.params.rbegin(); it != request.params.rend(); ++it)
            attributes.insert(QString::fromUtf8(it->first), QString::fromUtf8(it->second));
        attributes.insert(QStringLiteral("instrumentName"), where.name);
        reply = fetcher.logDocument(attributes);
        break;
    }
    }
    switch (reply.kind) {
    case KOLevelwatcherDataReply::Kind::Document:
        response.status = 200;
        response.set_content(reply.document.toStdString(), kXml);
        break;
    case KOLevelwatcherDataReply::Kind::NotFound:
        answerNotFound(response);
        break;
    case KOLevelwatcherDataReply::Kind::Failed:
        // Not "Not Found": the meter may well exist, KORU just did not answer.
        koru::log::warn("levelwatch: no data for {}: {}", request.path, reply.error.toStdString());
        response.status = 504;
        response.set_content("Gateway Timeout", "text/plain; charset=utf-8");
        break;
    }
}
