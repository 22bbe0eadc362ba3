// INI files with Windows semantics on real files: names without regard to
// case, defaults for what is missing, writes that reach the file at once and
// atomically, and a failed write that leaves the old file whole.
#include "store/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Ini : public ::testing::Test {
  protected:
    QString path(const QString& name = QStringLiteral("Settings.ini")) const {
        return dir.filePath(name);
    }
    void write(const QByteArray& content, const QString& name = QStringLiteral("Settings.ini")) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    QByteArray read(const QString& name = QStringLiteral("Settings.ini")) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Ini, SectionsAndKeysMatchWithoutCaseAndMissingOnesReadAsTheDefault) {
    write("; settings\r\n[ip]\r\nip=127.0.0.1\r\n[IP]\r\nVOL=35\r\n\r\n[Port]\r\nPort = 6000 \r\n"
          "[Empty]\r\nKey=\r\n");
    const TIniFile ini(path());
    const struct {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"ip", "ip", "127.0.0.1"},    {"IP", "IP", "127.0.0.1"},
        {"Ip", "vol", "35"},                                // "ip" and "IP" are one section
        {"port", "PORT", "6000"},     {"Empty", "Key", ""}, // present but empty: not the default
        {"ip", "missing", "default"}, {"Missing", "ip", "default"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.ReadString(QLatin1String(c.section), QLatin1String(c.key),
                                 QStringLiteral("default")),
                  QLatin1String(c.expected));
    }
}

TEST_F(Ini, AMissingFileReadsAsDefaultsAndTheFirstWriteCreatesIt) {
    TIniFile ini(path());
    EXPECT_EQ(ini.ReadString(QStringLiteral("IP"), QStringLiteral("VOL"), QStringLiteral("20")),
              QStringLiteral("20"));
    EXPECT_FALSE(QFileInfo::exists(path())) << "reading creates nothing";

    ASSERT_TRUE(ini.WriteString(QStringLiteral("IP"), QStringLiteral("VOL"), QStringLiteral("60")));
    ASSERT_TRUE(QFileInfo::exists(path()));
    EXPECT_EQ(TIniFile(path()).ReadString(QStringLiteral("ip"), QStringLiteral("vol"), {}),
              QStringLiteral("60"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Settings.ini")}) << "no temporary files left";
}

TEST_F(Ini, AWriteIsSeenAtOnceByEveryReader) {
    write("[3]\nShowName=Old\nURL=/media/old.mp4\n");
    TIniFile writer(path());
    const TIniFile reader(path());
    EXPECT_EQ(reader.ReadString(QStringLiteral("3"), QStringLiteral("ShowName"), {}),
              QStringLiteral("Old"));

    ASSERT_TRUE(
        writer.WriteString(QStringLiteral("3"), QStringLiteral("SHOWNAME"), QStringLiteral("New")));
    EXPECT_EQ(reader.ReadString(QStringLiteral("3"), QStringLiteral("ShowName"), {}),
              QStringLiteral("New"));
    EXPECT_EQ(TIniFile(path()).ReadString(QStringLiteral("3"), QStringLiteral("URL"), {}),
              QStringLiteral("/media/old.mp4"));

    // Another program edits the file: the next read sees that too, and the
    // next write keeps it.
    write("[3]\nShowName=Edited\nURL=/media/other.mp4\n");
    EXPECT_EQ(reader.ReadString(QStringLiteral("3"), QStringLiteral("URL"), {}),
              QStringLiteral("/media/other.mp4"));
    ASSERT_TRUE(
        writer.WriteString(QStringLiteral("4"), QStringLiteral("URL"), QStringLiteral("b")));
    EXPECT_EQ(reader.ReadString(QStringLiteral("3"), QStringLiteral("ShowName"), {}),
              QStringLiteral("Edited"));
}

TEST_F(Ini, WritingKeepsTheRestOfTheFileAndItsLineEnds) {
    write("; written by hand\r\n[ip]\r\nip=127.0.0.1\r\n\r\n[Generation]\r\nGenerationNo=4\r\n");
    TIniFile ini(path());
    ASSERT_TRUE(ini.WriteString(QStringLiteral("IP"), QStringLiteral("MUTE"), QStringLiteral("1")));
    ASSERT_TRUE(
        ini.WriteString(QStringLiteral("IP"), QStringLiteral("IP"), QStringLiteral("10.0.0.2")));

    const QByteArray content = read();
    EXPECT_TRUE(content.contains("; written by hand"));
    EXPECT_EQ(content.count("[ip]") + content.count("[IP]"), 1) << content.toStdString();
    EXPECT_FALSE(content.contains("\n\n")) << "CRLF stays CRLF";
    EXPECT_EQ(content.count("\r\n"), content.count("\n"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("ip"), QStringLiteral("ip"), {}),
              QStringLiteral("10.0.0.2"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Generation"), QStringLiteral("GenerationNo"), {}),
              QStringLiteral("4"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("ip"), QStringLiteral("mute"), {}),
              QStringLiteral("1"));
}

TEST_F(Ini, ValuesRoundTrip) {
    TIniFile ini(path());
    const QString values[] = {
        QStringLiteral("/home/user/Videos/Opening night.mp4"),
        QStringLiteral("K\u00fcche \u2603"),
        QStringLiteral("a=b;c"),
        QStringLiteral("[not a section]"),
        QString(),
    };
    int i = 0;
    for (const QString& v : values) {
        const QString section = QString::number(++i);
        ASSERT_TRUE(ini.WriteString(section, QStringLiteral("URL"), v));
        EXPECT_EQ(TIniFile(path()).ReadString(section, QStringLiteral("URL"), QStringLiteral("x")),
                  v);
    }
    // A line break in a value cannot smuggle in a key of its own.
    ASSERT_TRUE(ini.WriteString(QStringLiteral("9"), QStringLiteral("ShowName"),
                                QStringLiteral("one\r\nURL=/etc/passwd")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("9"), QStringLiteral("URL"), QStringLiteral("none")),
              QStringLiteral("none"));
}

TEST_F(Ini, AWriteThatCannotFinishLeavesTheOldFileWhole) {
    const QByteArray original("[IP]\nVOL=20\nMUTE=0\n");
    write(original);

    // The child may write at most 64 bytes per file; the new content is far
    // larger, so the write fails part way.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64, 64};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(3);
        TIniFile ini(path());
        const bool written = ini.WriteString(QStringLiteral("IP"), QStringLiteral("VOL"),
                                             QString(4096, QLatin1Char('9')));
        _exit(written ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "WriteString reported the failure";

    EXPECT_EQ(read(), original);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("Settings.ini")}) << "no temporary files left";
    EXPECT_EQ(TIniFile(path()).ReadString(QStringLiteral("IP"), QStringLiteral("VOL"), {}),
              QStringLiteral("20"));
}

TEST_F(Ini, AWriteIntoAMissingFolderFails) {
    TIniFile ini(dir.filePath(QStringLiteral("Nowhere/System.ini")));
    EXPECT_FALSE(ini.WriteString(QStringLiteral("IP"), QStringLiteral("VOL"), QStringLiteral("1")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("IP"), QStringLiteral("VOL"), QStringLiteral("20")),
              QStringLiteral("20"));
}
