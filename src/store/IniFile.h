#pragma once
// INI files with the usual Windows semantics: sections and keys match without
// regard to case, a missing key reads as the given default, and every write
// reaches the file at once. A write replaces the file atomically, so a crash
// or a full disk never leaves a truncated file behind.
#include <QString>
#include <memory>

class TIniFile {
public:
    explicit TIniFile(const QString& fileName);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const QString& FileName() const { return fileName_; }

    // Reads pick up changes another writer made to the file since the last read.
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // False when the file could not be written; the file then keeps its old content.
    bool WriteString(const QString& section, const QString& key, const QString& value);

private:
    struct Impl;
    QString fileName_;
    std::unique_ptr<Impl> d;
};
