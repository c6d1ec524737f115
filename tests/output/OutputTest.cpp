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

// Answers the overwrite question with "Yes".
struct Yes final : CSVXML::OverwriteQuestion {
    bool confirm(const QString&) override { return true; }
};

class Output : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QTemporaryDir dir;
};

TEST_F(Output, FileExistsForFilesAndFoldersOnly) {
    ASSERT_TRUE(writeFile(path("f.xml"), "x"));
    ASSERT_TRUE(QFile::link(path("gone.xml"), path("dangling.xml")));
    EXPECT_TRUE(FileExists(path("f.xml")) && FileExists(dir.path()));
    for (const QString& none :
         {path("missing.xml"), QString(), path("dangling.xml"), QString::fromUtf8("a\0b", 3)}) {
        EXPECT_FALSE(FileExists(none)) << none.toStdString();
    }
}

TEST_F(Output, ReadOnlyFileIsNotReplaced) {
    ASSERT_TRUE(writeFile(path("ro.xml"), "old"));
    ASSERT_TRUE(QFile::setPermissions(path("ro.xml"), QFileDevice::ReadOwner));
    Yes yes;
    const auto result =
        CSVXML::SaveTextToFile([] { return std::string_view("new"); }, path("ro.xml"), yes);
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

// A writable file in a folder that allows no new files is written in place, by a child that
// runs under an ordinary user's id when the test runs as root, who may create files anywhere.
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
    ASSERT_TRUE(QFile::setPermissions(dir.path(), all | QFileDevice::WriteOwner));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool ordinary = ::geteuid() != 0 || ::setuid(kNobody) == 0;
        _exit(ordinary && ::access(folder.toUtf8().constData(), W_OK) != 0 && write() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    QFile::setPermissions(folder, all | QFileDevice::WriteOwner);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(file), QByteArray("new"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("out.xml")});
}

} // namespace
