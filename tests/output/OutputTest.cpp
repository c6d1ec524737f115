#include "TestFiles.h"
#include "output/FileExists.h"
#include "output/OutputStream.h"
#include "output/SaveTextToFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using CSVXML::SaveResult;

// Answers the overwrite question as told and remembers what it was asked.
struct Answer final : CSVXML::OverwriteQuestion {
    explicit Answer(bool answerYes) : yes(answerYes) {}
    bool confirm(const QString& message) override {
        asked << message;
        return yes;
    }
    bool yes;
    QStringList asked;
};

class Output : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QTemporaryDir dir;
};

TEST_F(Output, FileExistsForFilesAndFoldersOnly) {
    ASSERT_TRUE(writeFile(path("f.xml"), "x"));
    EXPECT_TRUE(FileExists(path("f.xml")));
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(path("missing.xml")));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(path("missing/deeper.xml")));
    ASSERT_TRUE(QFile::link(path("gone.xml"), path("dangling.xml")));
    EXPECT_FALSE(FileExists(path("dangling.xml")));
    EXPECT_FALSE(FileExists(QString::fromUtf8("a\0b", 3)));
}

TEST_F(Output, NewFileGetsTextThenCrLfWithoutAsking) {
    Answer answer(false);
    const auto result = CSVXML::SaveTextToFile("<XML>\n <a>\xC3\x85sa \xE2\x82\xAC</a>\n</XML>",
                                               path("new.xml"), answer);
    EXPECT_EQ(result.status, SaveResult::Status::Written) << result.error.toStdString();
    EXPECT_TRUE(answer.asked.isEmpty());
    EXPECT_EQ(readFile(path("new.xml")),
              QByteArray("<XML>\r\n <a>\xC3\x85sa \xE2\x82\xAC</a>\r\n</XML>\r\n"));
}

// "No" leaves every byte; "Yes" leaves none of a longer old content.
TEST_F(Output, OverwriteIsAskedAndOnlyYesReplacesTheFile) {
    const QByteArray old = "a much longer old content than the new text";
    ASSERT_TRUE(writeFile(path("old.xml"), old));
    Answer no(false);
    EXPECT_EQ(CSVXML::SaveTextToFile("new", path("old.xml"), no).status,
              SaveResult::Status::Declined);
    EXPECT_EQ(no.asked, QStringList{QStringLiteral("Are you sure you wish to overwrite ") +
                                    path("old.xml") + QStringLiteral(" ?")});
    EXPECT_EQ(readFile(path("old.xml")), old);
    Answer yes(true);
    EXPECT_EQ(CSVXML::SaveTextToFile("new", path("old.xml"), yes).status,
              SaveResult::Status::Written);
    EXPECT_EQ(yes.asked.size(), 1);
    EXPECT_EQ(readFile(path("old.xml")), QByteArray("new\r\n"));
}

TEST_F(Output, FolderInTheWayOrMissingFailsWithTheReasonAndChangesNothing) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.xml")));
    ASSERT_TRUE(writeFile(path("folder.xml/inside"), "keep"));
    Answer answer(true);
    const auto result = CSVXML::SaveTextToFile("x", path("folder.xml"), answer);
    EXPECT_EQ(answer.asked.size(), 1);
    EXPECT_EQ(result.status, SaveResult::Status::Failed);
    EXPECT_TRUE(result.error.contains(path("folder.xml"))) << result.error.toStdString();
    EXPECT_EQ(readFile(path("folder.xml/inside")), QByteArray("keep"));

    const auto missing = CSVXML::SaveTextToFile("x", path("no/such/dir.xml"), answer);
    EXPECT_EQ(missing.status, SaveResult::Status::Failed);
    EXPECT_TRUE(missing.error.contains(path("no/such/dir.xml"))) << missing.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("no")));
}

TEST_F(Output, ReadOnlyFileIsNotReplaced) {
    ASSERT_TRUE(writeFile(path("ro.xml"), "old"));
    ASSERT_TRUE(QFile::setPermissions(path("ro.xml"), QFileDevice::ReadOwner));
    Answer answer(true);
    const auto result = CSVXML::SaveTextToFile("new", path("ro.xml"), answer);
    EXPECT_EQ(result.status, SaveResult::Status::Failed);
    EXPECT_TRUE(result.error.contains(QStringLiteral("read-only")));
    EXPECT_EQ(readFile(path("ro.xml")), QByteArray("old"));
}

TEST_F(Output, StreamKeepsCrLfAcrossPieces) {
    const auto streamed = [this](const char* name, std::initializer_list<std::string> pieces) {
        CSVXML::OutputStream out(path(name));
        EXPECT_TRUE(out.open());
        for (const std::string& piece : pieces) {
            out.write(piece);
        }
        EXPECT_TRUE(out.commit()) << out.error().toStdString();
        return readFile(path(name));
    };
    EXPECT_EQ(streamed("s.xml", {"a\r", "\nb\n", "\n"}), QByteArray("a\r\nb\r\n\r\n"));

    // Lone LFs, CR LFs and lone CRs at every offset of a long piece.
    std::string mixed;
    std::string wanted;
    for (int i = 0; i < 60; ++i) {
        const std::string run(std::size_t(i % 19), 'y');
        mixed += run + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
        wanted += run + (i % 3 == 2 ? "\r" : "\r\n");
    }
    EXPECT_EQ(streamed("m.xml", {mixed}), QByteArray::fromStdString(wanted));

    // One piece larger than the stream's buffer goes out in slices: a CR LF or a lone LF that
    // falls on a slice's edge is treated as anywhere else.
    const std::size_t mib = 1 << 20;
    std::string large(3 * mib, 'x');
    large[mib - 1] = '\r';
    large[mib] = '\n';
    large[2 * mib] = '\n';
    std::string expected = large;
    expected.insert(2 * mib, "\r");
    EXPECT_EQ(streamed("big.xml", {large}), QByteArray::fromStdString(expected));
}

// A writable file in a folder that allows no new files is written in place. Root may create
// files anywhere, so as root the writing runs in a child under an ordinary user's id.
TEST_F(Output, WritableFileInAFolderThatAllowsNoNewFilesIsReplaced) {
    constexpr uid_t kNobody = 65534;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    const QString folder = path("locked");
    const QString file = folder + QStringLiteral("/out.xml");
    ASSERT_TRUE(writeFile(file, "old text, longer than the new"));
    const auto all = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther |
                     QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    ASSERT_EQ(::chmod(file.toUtf8().constData(), 0666), 0);
    ASSERT_TRUE(QFile::setPermissions(folder, all));
    const auto write = [&file] {
        CSVXML::OutputStream out(file);
        if (!out.open()) {
            return false;
        }
        out.write("new");
        return out.commit();
    };
    bool written = false;
    if (::geteuid() != 0) {
        written = write();
    } else {
        ASSERT_TRUE(QFile::setPermissions(dir.path(), all | QFileDevice::WriteOwner));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            _exit(::setuid(kNobody) == 0 && ::access(folder.toUtf8().constData(), W_OK) != 0 &&
                          write()
                      ? 0
                      : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    QFile::setPermissions(folder, all | QFileDevice::WriteOwner);
    EXPECT_TRUE(written);
    EXPECT_EQ(readFile(file), QByteArray("new"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("out.xml")});
}

} // namespace
