#include "store/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// Only the narrow (UTF-8) class is used, so no wide-character converter.
#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

// Nothing is cached between calls: every read parses the file afresh, so a
// value another writer saved is seen at once, and every write starts from
// what is on the disk now rather than from an older copy.
struct TIniFile::Impl {};

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

void syncFolder(const QString& fileName) {
    const QByteArray dir = QFile::encodeName(QFileInfo(fileName).absolutePath());
    int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

TIniFile::TIniFile(const QString& fileName) : fileName_(fileName), d(new Impl) {}

TIniFile::~TIniFile() = default;

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    CSimpleIniA ini;
    configure(ini);
    if (loadInto(fileName_, ini, nullptr) != LoadResult::Loaded)
        return defaultValue;
    const std::string s = section.toStdString();
    const std::string k = key.toStdString();
    const char* value = ini.GetValue(s.c_str(), k.c_str(), nullptr);
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

    // QSaveFile writes a temporary file beside the target, flushes it to the
    // disk and renames it over the target only when all of it was written.
    QSaveFile file(fileName_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    if (!file.commit())
        return false;
    syncFolder(fileName_);
    return true;
}
