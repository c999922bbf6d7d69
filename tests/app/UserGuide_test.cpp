#include "app/UserGuide.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

namespace {

using koru::UserGuide;

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Whatever was left under the guide's name, the copy replaces it and nothing else is touched.
TEST(UserGuide, TheCopyAlwaysReplacesWhatIsAtItsNameAndNeverWritesThroughALink) {
    const QByteArray guide = contents(QString::fromLatin1(UserGuide::kResource));
    ASSERT_TRUE(guide.startsWith("%PDF-"));
    const QString root = koru::test::testRoot() + "/user-guide";
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    const QString victim = root + "/victim.txt";

    struct Case {
        const char* name;
        std::function<void(const QString& destination)> plant;
    };
    const Case cases[] = {
        {"nothing there", [](const QString&) {}},
        {"a stale file", [](const QString& destination) { write(destination, "not a guide"); }},
        {"a link to another file",
         [&](const QString& destination) { QFile::link(victim, destination); }},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(victim, "keep me");
        const QString folder = root + QStringLiteral("/case%1").arg(++serial);
        QDir().mkpath(folder);
        const QString destination = folder + "/koru_user_guide.pdf";
        c.plant(destination);

        const std::optional<QString> copy = UserGuide::copyToPrivateFolder(folder);
        ASSERT_TRUE(copy);
        EXPECT_EQ(*copy, destination);
        EXPECT_FALSE(QFileInfo(destination).isSymLink());
        EXPECT_EQ(contents(destination), guide);
        EXPECT_EQ(contents(victim), "keep me");
        // No temporary file is left beside it.
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden),
                  QStringList({"koru_user_guide.pdf"}));
    }
}

TEST(UserGuide, AMissingGuideOrFolderOpensNothing) {
    const QString folder = koru::test::testRoot() + "/user-guide-missing";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    write(folder + "/koru_user_guide.pdf", "planted");
    EXPECT_EQ(UserGuide::copyToPrivateFolder(folder, QStringLiteral(":/no_such_guide.pdf")),
              std::nullopt);
    EXPECT_EQ(UserGuide::copyToPrivateFolder(folder + "/not-there"), std::nullopt);
}

} // namespace
