#include "store/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

// Only the narrow (UTF-8) class is used, so no wide-character converter;
// the template's member definitions are compiled here rather than linked
// from the packaged library (which would pull in ICU for nothing).
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Reads keep the parsed file only while the file on the disk is the same one
// (inode, size and modification time in nanoseconds), so a value another
// writer saved is seen at once; every write starts from what is on the disk
// now rather than from an older copy.
struct TIniFile::Impl {
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        bool operator==(const Identity& o) const {
            return device == o.device && inode == o.inode && size == o.size &&
                   modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
        }
    };
    bool cached = false;
    Identity identity;
    CSimpleIniA ini;
};

namespace {

enum class LoadResult { Loaded, Missing, Failed };

LoadResult loadInto(const QString& fileName, CSimpleIniA& ini, QByteArray* raw) {
    QFile f(fileName);
    if (!f.exists())
        return LoadResult::Missing;
    if (!f.open(QIODevice::ReadOnly))
        return LoadResult::Failed;
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return LoadResult::Failed;
    if (raw)
        *raw = data;
    if (ini.LoadData(data.constData(), static_cast<size_t>(data.size())) < 0)
        return LoadResult::Failed;
    return LoadResult::Loaded;
}

void configure(CSimpleIniA& ini) {
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
    ini.SetSpaces(false);
}

// A line break inside a value would turn its tail into a key of its own.
std::string oneLine(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String(" "));
    t.replace(QLatin1Char('\r'), QLatin1Char(' '));
    t.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return t.toStdString();
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Replaces the file with bytes so that it holds either the old or the whole
// new content, whatever happens: the bytes go to a new file beside it, which
// is flushed to the disk and renamed over the old one only when every byte
// was written. (QSaveFile is not used: it commits a short write as success.)
bool replaceFile(const QString& fileName, const QByteArray& bytes) {
    QString target = fileName;
    const QFileInfo info(fileName);
    if (info.isSymLink() && info.exists())
        target = info.canonicalFilePath(); // keep the link, replace what it points to
    const QFileInfo targetInfo(target);
    const QString folder = targetInfo.absolutePath();

    struct stat old {};
    const bool hadFile = ::stat(QFile::encodeName(target).constData(), &old) == 0;

    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempName = QFile::encodeName(folder + QLatin1Char('/') + QLatin1Char('.') +
                                     targetInfo.fileName() + QStringLiteral(".saving-") +
                                     QString::number(QRandomGenerator::global()->generate64(), 36));
        fd = ::open(tempName.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    bool ok = true;
    if (hadFile)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && writeAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempName.constData(), QFile::encodeName(target).constData()) == 0;
    if (!ok) {
        ::unlink(tempName.constData());
        return false;
    }
    const int dirFd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace

TIniFile::TIniFile(const QString& fileName) : fileName_(fileName), d(new Impl) {}

TIniFile::~TIniFile() = default;

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    struct stat st {};
    if (::stat(QFile::encodeName(fileName_).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        d->cached = false;
        return defaultValue;
    }
    const Impl::Identity now{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    if (!d->cached || !(d->identity == now)) {
        d->cached = false;
        d->ini.Reset();
        configure(d->ini);
        if (loadInto(fileName_, d->ini, nullptr) != LoadResult::Loaded)
            return defaultValue;
        d->identity = now;
        d->cached = true;
    }
    const std::string s = section.toStdString();
    const std::string k = key.toStdString();
    const char* value = d->ini.GetValue(s.c_str(), k.c_str(), nullptr);
    if (!value)
        return defaultValue;
    return QString::fromUtf8(value);
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    CSimpleIniA ini;
    configure(ini);
    QByteArray raw;
    // A file that exists but cannot be read is not replaced: that would throw
    // away everything else it holds.
    if (loadInto(fileName_, ini, &raw) == LoadResult::Failed)
        return false;
    const std::string s = section.toStdString();
    const std::string k = key.toStdString();
    const std::string v = oneLine(value);
    if (ini.SetValue(s.c_str(), k.c_str(), v.c_str()) < 0)
        return false;
    std::string out;
    if (ini.Save(out, false) < 0)
        return false;
    QByteArray bytes = QByteArray::fromStdString(out);
    // Files that came with Windows line ends keep them.
    if (raw.contains("\r\n"))
        bytes.replace("\n", "\r\n");

    return replaceFile(fileName_, bytes);
}
