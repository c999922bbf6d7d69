#include "HttpTestSupport.h"

#include "levelwatch/KOLevelwatcherConnection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using Kind = KOLevelwatcherConnection::Route::Kind;
using koru::test::WebFolder;
namespace fs = std::filesystem;

TEST(KOLevelwatcherConnection, RoutesDecodedPaths) {
    struct Case {
        std::string path;
        Kind kind;
        QString name;
    };
    const Case cases[] = {
        {"/spl/Meter 1", Kind::MeterDocument, "Meter 1"},
        {"/spl/Meter+1", Kind::MeterDocument, "Meter+1"}, // '+' in a path stays '+'
        {"/spl/Meter 1/", Kind::MeterDocument, "Meter 1"},
        {"//spl//Meter 1", Kind::MeterDocument, "Meter 1"},
        {"/spl/./Meter 1", Kind::MeterDocument, "Meter 1"},
        {"/spl/x/../Meter 1", Kind::MeterDocument, "Meter 1"},
        {"/spl/Größe", Kind::MeterDocument, "Größe"},
        {"/splinstruments", Kind::MeterList, ""},
        {"/spl/Meter 1/log", Kind::Log, "Meter 1"},
        {"/splinstruments/x/log", Kind::Log, "x"},
        {"/splfoo/x/log", Kind::Log, "x"},
        {"/spl", Kind::DataNotFound, ""},
        {"/splfoo", Kind::DataNotFound, ""},
        {"/spl/a/b", Kind::DataNotFound, ""},
        {"/spl/a/log/x", Kind::DataNotFound, ""},
        {"/splinstruments/x", Kind::DataNotFound, ""},
        {"/splash.png", Kind::DataNotFound, ""},   // reserved for data: no page can be named so
        {"/spl/\xff\xfe", Kind::DataNotFound, ""}, // not UTF-8: cannot reach KORU
        {"/spl/\xc3", Kind::DataNotFound, ""},
        {"/", Kind::StaticFile, ""},
        {"", Kind::StaticFile, ""},
        {"/index.html", Kind::StaticFile, ""},
        {"/sub/../index.html", Kind::StaticFile, ""},
        {"/sp/l", Kind::StaticFile, ""},
        {"/x/spl/Meter 1", Kind::StaticFile, ""},
        {"/..", Kind::NotFound, ""},
        {"/../secret.txt", Kind::NotFound, ""},
        {"/sub/../../secret.txt", Kind::NotFound, ""},
        {"/spl/../../x", Kind::NotFound, ""},
        {std::string("/a\0b", 4), Kind::NotFound, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const KOLevelwatcherConnection::Route route = KOLevelwatcherConnection::route(c.path);
        EXPECT_EQ(route.kind, c.kind);
        EXPECT_EQ(route.name, c.name);
    }
    EXPECT_EQ(KOLevelwatcherConnection::route("/sub/../a/./b.html").components,
              (std::vector<std::string>{"a", "b.html"}));
}

TEST(KOLevelwatcherConnection, StaticFilesStayInsideTheRealWebFolder) {
    WebFolder web;
    const fs::path root = web.root.toStdString();
    const fs::path base = web.base.path().toStdString();
    // Links made by someone with write access to the folder must not lead out of it.
    fs::create_symlink(base / "secret.txt", root / "escape.txt");
    fs::create_directory_symlink(base / "levelwatch2", root / "sibling");
    fs::create_symlink(root / "index.html", root / "alias.html");
    fs::create_directory(root / "empty");

    struct Case {
        std::vector<std::string> components;
        std::optional<fs::path> file;
    };
    const fs::path real = fs::canonical(root);
    const Case cases[] = {
        {{}, real / "index.html"},
        {{"index.html"}, real / "index.html"},
        {{"sub"}, real / "sub" / "index.html"},
        {{"a b.css"}, real / "a b.css"},
        {{"alias.html"}, real / "index.html"}, // a link that stays inside is fine
        {{"escape.txt"}, std::nullopt},
        {{"sibling", "secret.txt"}, std::nullopt},
        {{"missing.html"}, std::nullopt},
        {{"empty"}, std::nullopt}, // a folder without index.html
        {{"index.html", "x"}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.components.empty() ? std::string("(root)") : c.components.back());
        EXPECT_EQ(KOLevelwatcherConnection::resolveStaticFile(root, c.components), c.file);
        // What is served is read from the file really opened, which is checked again.
        fs::path opened;
        const std::optional<std::string> body =
            KOLevelwatcherConnection::readStaticFile(root, c.components, &opened);
        ASSERT_EQ(body.has_value(), c.file.has_value());
        if (body) {
            EXPECT_EQ(opened, *c.file);
            std::ifstream in(*c.file, std::ios::binary);
            EXPECT_EQ(*body, std::string(std::istreambuf_iterator<char>(in), {}));
        }
    }
    // The web folder itself behind a link is followed: containment is checked on real paths.
    fs::create_directory_symlink(root, base / "linked");
    EXPECT_EQ(KOLevelwatcherConnection::resolveStaticFile(base / "linked", {"index.html"}),
              real / "index.html");
    // A missing web folder serves nothing.
    EXPECT_EQ(KOLevelwatcherConnection::resolveStaticFile(base / "gone", {"index.html"}),
              std::nullopt);
}

TEST(KOLevelwatcherConnection, MimeTypesByExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.html", "text/html; charset=utf-8"},
        {"A.HTM", "text/html; charset=utf-8"},
        {"s.css", "text/css; charset=utf-8"},
        {"x.js", "text/javascript; charset=utf-8"},
        {"p.png", "image/png"},
        {"p.svg", "image/svg+xml"},
        {"noextension", "application/octet-stream"},
        {"archive.tar.gz", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(KOLevelwatcherConnection::mimeTypeForPath(name), type) << name;
}

} // namespace
