#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The text of an ini file, read once, by the Windows profile rules: section and key names without
// regard to case, blanks around the value dropped, one pair of enclosing double quotes removed, at
// most 2047 characters, the first of duplicate keys in the first section of that name, lines
// without "=" ignored. A missing section or key gives the default.
class IniText {
public:
    explicit IniText(const QByteArray& bytes);

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // The keys of the section that ReadString finds, spelt and ordered as in the text.
    QStringList Keys(const QString& section) const;

private:
    // Values by case-folded section and key name.
    QHash<QString, QHash<QString, QString>> Sections;
    QHash<QString, QStringList> KeyOrder;
};

// An ini file read by the same rules; a missing file gives the default. Every read goes to the
// file.
class IniFile {
public:
    explicit IniFile(const QString& path);

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    const QString& FileName() const { return Path; }

private:
    QString Path;
};

class FileSystem;

// Sets one key, leaving every other byte of the file as it was, and replaces the file atomically
// and durably. Lines are matched, and the value written, in the encoding in which IniFile reads
// the file. Creates the section or the file when missing. Throws OrvantoError when it cannot read
// or write.
void WriteIniValue(FileSystem& files, const QString& path, const QString& section,
                   const QString& key, const QString& value);
