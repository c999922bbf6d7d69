#include "platform/files/AtomicFileWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using koru::platform::AtomicFileWriter;

namespace {

class AtomicFiles : public ::testing::Test {
protected:
    void SetUp() override {
        QFile old(target());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        ASSERT_EQ(old.write(kOld), kOld.size());
    }
    QString target() const { return m_dir.filePath("table.csv"); }
    QByteArray targetBytes() const {
        QFile file(target());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList entries() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    const QByteArray kOld = QByteArray(50000, 'o');

private:
    QTemporaryDir m_dir;
};

TEST_F(AtomicFiles, StreamedPiecesReplaceALongerFileWhole) {
    AtomicFileWriter writer(target());
    ASSERT_TRUE(writer.open());
    ASSERT_TRUE(writer.write("first,"));
    EXPECT_EQ(targetBytes(), kOld) << "readers see the old file until the commit";
    ASSERT_TRUE(writer.write("second\n"));
    ASSERT_TRUE(writer.commit());
    EXPECT_EQ(targetBytes(), "first,second\n");
    EXPECT_EQ(entries(), QStringList{"table.csv"});
}

TEST_F(AtomicFiles, AWriteNeverCommittedLeavesTheOldFileAndNoTemporaryFile) {
    {
        AtomicFileWriter writer(target());
        ASSERT_TRUE(writer.open());
        ASSERT_TRUE(writer.write("half a tab"));
    }
    EXPECT_EQ(targetBytes(), kOld);
    EXPECT_EQ(entries(), QStringList{"table.csv"});

    AtomicFileWriter discarded(target());
    ASSERT_TRUE(discarded.open());
    discarded.discard();
    EXPECT_FALSE(discarded.commit());
    EXPECT_EQ(targetBytes(), kOld);
    EXPECT_EQ(entries(), QStringList{"table.csv"});
}

TEST_F(AtomicFiles, AMissingFolderIsNotCreated) {
    AtomicFileWriter writer(QFileInfo(target()).absolutePath() + "/missing/table.csv");
    QString error;
    EXPECT_FALSE(writer.open(&error));
    EXPECT_TRUE(error.contains("missing/table.csv")) << error.toStdString();
    EXPECT_FALSE(writer.write("x"));
    EXPECT_FALSE(writer.commit());
    EXPECT_EQ(entries(), QStringList{"table.csv"});
}

// The disk filling up part-way (a file-size limit, which binds root too): however the bytes
// arrive (one piece smaller than any write buffer, many small pieces, one large piece) and
// whichever write or the commit meets the limit, the result is a failure and the old file
// stays whole. Small buffered writes used to fail only at the commit's flush, which went
// unnoticed and renamed a truncated file over the old one.
TEST_F(AtomicFiles, ADiskFullPartWayFailsAndKeepsTheOldFile) {
    struct Case {
        const char* what;
        int pieces;
        int pieceSize;
    };
    const Case cases[] = {
        {"one small piece", 1, 6000},
        {"many small pieces", 16, 1000},
        {"one large piece", 1, 64 * 1024},
    };
    for (const Case& c : cases) {
        auto limit = std::make_unique<koru::test::ScopedFileSizeLimit>(4096);
        ASSERT_TRUE(limit->active());

        QString error;
        bool written = false;
        if (c.pieces == 1) {
            written =
                koru::platform::writeFileAtomically(target(), QByteArray(c.pieceSize, 'n'), &error);
        } else {
            AtomicFileWriter writer(target());
            written = writer.open(&error);
            for (int i = 0; written && i < c.pieces; ++i)
                written = writer.write(QByteArray(c.pieceSize, 'n'), &error);
            written = written && writer.commit(&error);
        }

        limit.reset();
        EXPECT_FALSE(written) << c.what;
        EXPECT_TRUE(error.contains(target())) << c.what << ": " << error.toStdString();
        EXPECT_EQ(targetBytes(), kOld) << c.what;
        EXPECT_EQ(entries(), QStringList{"table.csv"}) << c.what;
    }
}

} // namespace
