#include "db/SettingsStore.h"

#include "Printers.h"
#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using db::SettingKey;

class SettingsStoreTest : public testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("Quorvane.conf")); }

    // Qt keeps the contents of settings files it has open; a copy under a new name can only be
    // read from the disk, which is what the next run of the program does.
    db::ConnectionSettings loadFromDisk(const char* copyName) const {
        const QString copy = dir.filePath(QLatin1String(copyName));
        EXPECT_TRUE(QFile::copy(path(), copy));
        return db::SettingsStore(copy).load();
    }

    QTemporaryDir dir;
};

// Values come back exactly as typed, also those that mean something to the file's own syntax.
TEST_F(SettingsStoreTest, AwkwardValuesSurviveTheFile) {
    const QString values[] = {
        u(";"),           u("}"),           u("a;b}c{"),      u("x};y"),       u("a,b"),
        u("\"quoted\""),  u("@Variant(x)"), u("@@at"),        u("  spaced  "), u("k=v"),
        u("#no comment"), u("[Brisklet]"),  u("back\\slash"), u("two\nlines"), u("tab\tcr\r"),
        u("Größe ✓ 😀"),   u("%20percent"),
    };
    EXPECT_EQ(db::SettingsStore(path()).load(), db::ConnectionSettings{});
    EXPECT_FALSE(QFile::exists(path())); // reading writes nothing
    int copy = 0;
    for (const QString& value : values) {
        {
            db::SettingsStore store(path());
            store.save({value, value, value, value});
        }
        const QByteArray name = "copy" + QByteArray::number(++copy) + ".conf";
        EXPECT_EQ(loadFromDisk(name.constData()),
                  (db::ConnectionSettings{value, value, value, value}))
            << value.toStdString();
    }
}

// The password is kept as plain text: the file must never be readable by anyone else. With no
// umask to help, the file is owner-only from its first write on, and a file made readable since
// is narrowed again before it is written.
TEST_F(SettingsStoreTest, FileIsOwnerOnlyFromTheFirstWrite) {
    const mode_t saved = ::umask(0);
    {
        db::SettingsStore store(path());
        store.setValue(SettingKey::Password, u("p"));
        EXPECT_EQ(modeOf(path()), mode_t(0600));
        store.setValue(SettingKey::Password, u("pw"));
        store.setValue(SettingKey::Server, u("old"));
    }
    ::umask(saved);
    EXPECT_EQ(modeOf(path()), mode_t(0600));

    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0644), 0);
    db::SettingsStore store(path());
    EXPECT_EQ(store.value(SettingKey::Server), u("old"));
    store.setValue(SettingKey::Password, u("new"));
    EXPECT_EQ(modeOf(path()), mode_t(0600));
    EXPECT_EQ(loadFromDisk("copy.conf"), (db::ConnectionSettings{u("old"), {}, u("new"), {}}));
}

// What stands at the path and is not a settings file of the user's own is left exactly as it
// is: a symbolic link (its target neither narrowed nor written), a file that is no settings
// file; and a store whose folder cannot exist (a file stands where it should be, which stops
// root as well as anyone else). The program goes on; each failure is told once, in its own
// words, not once per keystroke.
TEST_F(SettingsStoreTest, WhatCannotOrMustNotBeWrittenIsReportedOnceAndLeftAsItIs) {
    const QString target = dir.filePath(QStringLiteral("target"));
    ASSERT_TRUE(writeFile(target, "keep\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0644), 0);
    const QString link = dir.filePath(QStringLiteral("link.conf"));
    ASSERT_TRUE(QFile::link(target, link));
    const QString broken = dir.filePath(QStringLiteral("broken.conf"));
    ASSERT_TRUE(writeFile(broken, "[Brisklet\nMyServer=x\n"));
    const QString unwritable = target + QLatin1String("/Quorvane.conf");
    const struct {
        QString path;
        QString reason;
    } cases[] = {{link, u("it is a symbolic link, which is never written through")},
                 {broken, u("it is not a settings file")},
                 {unwritable, u("The login values cannot be saved in %1: ").arg(unwritable)}};
    for (const auto& c : cases) {
        const QByteArray before = readFile(c.path);
        db::SettingsStore store(c.path);
        QStringList reports;
        store.setFailureReporter([&](const QString& message) { reports << message; });
        store.setValue(SettingKey::Server, u("a"));
        store.setValue(SettingKey::Server, u("ab"));
        store.save({u("s"), u("u"), u("p"), u("d")});
        EXPECT_EQ(readFile(c.path), before) << c.reason.toStdString();
        ASSERT_EQ(reports.size(), 1) << c.reason.toStdString();
        EXPECT_TRUE(reports[0].contains(c.reason)) << reports[0].toStdString();
    }
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(modeOf(target), mode_t(0644));
}

} // namespace
