#include "catalogue/versionresource.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

const QString FixtureFolder = QStringLiteral(ORVANTO_SOURCE_DIR "/tests/fixtures/pe/");
const QString Fixture64 = QStringLiteral("onepair-x64.dll");
const char* const Fixture64FileVersion = "1.7.0.12";

std::string Std(const QString& text) {
    return text.toStdString();
}

QByteArray ReadFixture(const QString& name) {
    QFile file(FixtureFolder + name);
    if (!file.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "cannot open fixture " << Std(file.fileName());
    return file.readAll();
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << Std(file.fileName());
    EXPECT_EQ(file.write(content), content.size());
    return file.fileName();
}

QString FileVersionOf(const QString& path) {
    return ReadVersionString(path, QStringLiteral("FileVersion"));
}

struct FixtureCase {
    const char* fixture;
    const char* query;
    const char* expected;
};

TEST(ReadVersionString, ReadsTheStringOfTheFirstTranslationPair) {
    const FixtureCase cases[] = {
        {"onepair-x64.dll", "FileVersion", "1.7.0.12"},
        {"onepair-x64.dll", "Comments", "Libreria di prova"},
        {"onepair-x64.dll", "LegalCopyright", "(C) Keltra. 2024"},
        {"onepair-x64.dll", "ProductName", "Velmora"},
        {"onepair-x86.dll", "FileVersion", "1.7.0.12"},
        {"onepair-x86.dll", "LegalCopyright", "(C) Keltra. 2024"},
        {"commas.dll", "FileVersion", "1. 7. 0. 12"},
        // The first pair's table is read although the second pair's table comes first.
        {"twopairs.dll", "FileVersion", "2.0.0.1"},
        {"twopairs.dll", "ProductName", "First pair"},
        {"lowercase.dll", "FileVersion", "4.1.0.3"},
        // No fall-back to the second pair's table, nor to the numeric version.
        {"nofirstpair.dll", "FileVersion", ""},
        {"nofirstpair.dll", "ProductName", "Only a name"},
        {"nofirstpair.dll", "Comments", ""},
        {"notranslation.dll", "FileVersion", ""},
        {"noversion.dll", "FileVersion", ""},
        {"noresource.dll", "FileVersion", ""},
        {"missing.dll", "FileVersion", ""},
    };
    for (const FixtureCase& c : cases)
        EXPECT_EQ(Std(ReadVersionString(FixtureFolder + c.fixture, c.query)), c.expected)
            << c.fixture << " " << c.query;
}

TEST(ReadVersionString, FilesThatAreNoPeImageGiveEmptyText) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.dll")));
    const QByteArray dosOnly = ReadFixture(Fixture64).left(64);
    const QString paths[] = {
        WriteFile(dir, QStringLiteral("empty.dll"), {}),
        WriteFile(dir, QStringLiteral("text.dll"), "FileVersion 1.7.0.12\n"),
        WriteFile(dir, QStringLiteral("mz.dll"), "MZ"),
        WriteFile(dir, QStringLiteral("dosonly.dll"), dosOnly),
        dir.filePath(QStringLiteral("folder.dll")),
    };
    for (const QString& path : paths)
        EXPECT_EQ(Std(FileVersionOf(path)), "") << Std(path);
}

TEST(ReadVersionString, UnknownQueriesAreAProgrammingError) {
    const QString path = FixtureFolder + Fixture64;
    for (const char* query : {"fileversion", "FileDescription", "", "FileVersion "}) {
#ifdef QT_NO_DEBUG
        EXPECT_EQ(Std(ReadVersionString(path, query)), "") << query;
#else
        EXPECT_DEATH(ReadVersionString(path, query), "lowlevel") << query;
#endif
    }
}

TEST(ReadVersionString, ReadsOnlyTheNeededPartsOfALargeFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(WriteFile(dir, Fixture64, ReadFixture(Fixture64)));
    ASSERT_TRUE(file.resize(qint64(300) * 1024 * 1024)); // sparse: no disk space taken
    EXPECT_EQ(Std(FileVersionOf(file.fileName())), Fixture64FileVersion);
}

// Every prefix of the file gives empty text until the whole version resource is inside it, and
// the right value from then on.
TEST(ReadVersionString, TruncatedFileGivesEmptyTextOrTheValue) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray image = ReadFixture(Fixture64);
    QFile file(WriteFile(dir, Fixture64, image));
    bool emptySeen = false;
    for (qint64 length = image.size(); length >= 0; --length) {
        ASSERT_TRUE(file.resize(length));
        const std::string value = Std(FileVersionOf(file.fileName()));
        if (length == image.size() || (!emptySeen && !value.empty()))
            EXPECT_EQ(value, Fixture64FileVersion) << "length " << length;
        else
            EXPECT_EQ(value, "") << "length " << length;
        emptySeen = emptySeen || value.empty();
    }
}

// Every byte of the file set in turn to 0x00, 0x7F, 0x80 and 0xFF: the reader must neither crash
// nor read out of bounds (the sanitizer build checks the latter); the text it returns stays short.
TEST(ReadVersionString, SurvivesEverySingleDamagedByte) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray image = ReadFixture(Fixture64);
    for (qsizetype at = 0; at < image.size(); ++at) {
        for (const char damage : {'\x00', '\x7F', '\x80', '\xFF'}) {
            QByteArray damaged = image;
            damaged[at] = damage;
            const QString path = WriteFile(dir, Fixture64, damaged);
            ASSERT_LT(FileVersionOf(path).size(), image.size()) << "byte " << at;
        }
    }
}

quint32 Get32(const QByteArray& image, quint64 offset) {
    return qFromLittleEndian<quint32>(image.constData() + offset);
}

quint16 Get16(const QByteArray& image, quint64 offset) {
    return qFromLittleEndian<quint16>(image.constData() + offset);
}

// File offsets of the structures of the 64-bit fixture, which has one section ".rsrc" holding one
// resource: the version resource.
struct FixtureLayout {
    quint64 Start = 0;
    quint64 NewHeader = 0;
    quint64 OptionalHeader = 0;
    quint64 ResourceSectionHeader = 0;
    quint64 ResourceRoot = 0;
    quint64 NameDirectory = 0;
    quint64 LanguageDirectory = 0;
    quint64 DataEntry = 0;
    quint64 Version = 0;
    quint64 FileVersionBlock = 0;
    quint64 TranslationBlock = 0;
};

quint64 BlockWithKey(const QByteArray& image, const QString& key) {
    const QByteArray utf16(reinterpret_cast<const char*>(key.utf16()), key.size() * 2);
    const qsizetype at = image.indexOf(utf16);
    EXPECT_GE(at, 6) << Std(key);
    return quint64(at - 6);
}

FixtureLayout Locate(const QByteArray& image) {
    FixtureLayout at;
    at.NewHeader = Get32(image, 0x3C);
    at.OptionalHeader = at.NewHeader + 24;
    const quint64 sectionTable = at.OptionalHeader + Get16(image, at.NewHeader + 20);
    for (quint64 i = 0; i < Get16(image, at.NewHeader + 6); ++i) {
        if (image.mid(qsizetype(sectionTable + i * 40), 8).startsWith(".rsrc"))
            at.ResourceSectionHeader = sectionTable + i * 40;
    }
    const quint32 sectionAddress = Get32(image, at.ResourceSectionHeader + 12);
    const quint32 sectionOffset = Get32(image, at.ResourceSectionHeader + 20);
    at.ResourceRoot = sectionOffset + Get32(image, at.OptionalHeader + 112 + 16) - sectionAddress;
    const auto firstChild = [&](quint64 directory) {
        return at.ResourceRoot + (Get32(image, directory + 20) & 0x7FFFFFFF);
    };
    at.NameDirectory = firstChild(at.ResourceRoot);
    at.LanguageDirectory = firstChild(at.NameDirectory);
    at.DataEntry = firstChild(at.LanguageDirectory);
    at.Version = sectionOffset + Get32(image, at.DataEntry) - sectionAddress;
    at.FileVersionBlock = BlockWithKey(image, QStringLiteral("FileVersion"));
    at.TranslationBlock = BlockWithKey(image, QStringLiteral("Translation"));
    return at;
}

// One little-endian field of the 64-bit fixture overwritten: `field` bytes into the structure that
// starts at `structure`, `width` bytes wide.
struct Damage {
    const char* what;
    quint64 FixtureLayout::*structure;
    quint64 field;
    int width;
    quint32 value;
    const char* expected;
};

const Damage Damages[] = {
    {"new header offset past the end", &FixtureLayout::Start, 0x3C, 4, 0xFFFFFFF0, ""},
    {"new header offset at the DOS header", &FixtureLayout::Start, 0x3C, 4, 0, ""},
    {"huge section count", &FixtureLayout::NewHeader, 6, 2, 0xFFFF, ""},
    {"huge optional header", &FixtureLayout::NewHeader, 20, 2, 0xFFFF, ""},
    {"unknown optional header kind", &FixtureLayout::OptionalHeader, 0, 2, 0x107, ""},
    {"no resource directory slot", &FixtureLayout::OptionalHeader, 108, 4, 2, ""},
    {"resource address outside every section", &FixtureLayout::OptionalHeader, 128, 4, 0xFFFFFFF0,
     ""},
    {"resource section data past the end", &FixtureLayout::ResourceSectionHeader, 20, 4, 0xFFFFFE00,
     ""},
    {"huge resource section", &FixtureLayout::ResourceSectionHeader, 16, 4, 0xFFFFFFFF, ""},
    {"version data runs past the end of its section", &FixtureLayout::ResourceSectionHeader, 16, 4,
     0x100, ""},
    {"huge entry count in the root directory", &FixtureLayout::ResourceRoot, 14, 2, 0xFFFF, ""},
    {"type entry not marked as a subdirectory", &FixtureLayout::ResourceRoot, 23, 1, 0, ""},
    {"type entry leads back to the root", &FixtureLayout::ResourceRoot, 20, 4, 0x80000000, ""},
    {"name entry leads back to the root", &FixtureLayout::NameDirectory, 20, 4, 0x80000000, ""},
    {"language entry leads back to the root", &FixtureLayout::LanguageDirectory, 20, 4, 0x80000000,
     ""},
    {"language entry points past the section", &FixtureLayout::LanguageDirectory, 20, 4, 0x7FFFFFF0,
     ""},
    {"data address past the end", &FixtureLayout::DataEntry, 0, 4, 0xFFFFFFF0, ""},
    {"huge data size", &FixtureLayout::DataEntry, 4, 4, 0xFFFFFFFF, ""},
    {"data size shorter than the version block", &FixtureLayout::DataEntry, 4, 4, 0x40, ""},
    {"version block longer than the resource", &FixtureLayout::Version, 0, 2, 0xFFFF, ""},
    {"string block longer than its table", &FixtureLayout::FileVersionBlock, 0, 2, 0xFFFF, ""},
    {"string block too short for a header", &FixtureLayout::FileVersionBlock, 0, 2, 4, ""},
    {"string block ends before the NUL of its name", &FixtureLayout::FileVersionBlock, 0, 2,
     6 + 11 * 2, ""},
    {"string value of length zero", &FixtureLayout::FileVersionBlock, 2, 2, 0, ""},
    {"translation value shorter than one pair", &FixtureLayout::TranslationBlock, 2, 2, 2, ""},
    // The string is read up to its NUL, as the platform does, even past a short block length.
    {"string block ends before the NUL of its value", &FixtureLayout::FileVersionBlock, 0, 2, 44,
     "1.7.0.12"},
    // The numeric fixed-file information is never consulted.
    {"fixed file information damaged", &FixtureLayout::Version, 40, 4, 0, "1.7.0.12"},
};

TEST(ReadVersionString, DamagedFieldsGiveEmptyTextOrTheIntactValue) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray image = ReadFixture(Fixture64);
    const FixtureLayout at = Locate(image);
    // The damages above assume this layout: one resource of type 16, its version data starting
    // in the first 256 bytes of the section and ending after them.
    ASSERT_EQ(Get32(image, at.ResourceRoot + 16), 16u);
    ASSERT_EQ(Get32(image, at.Version + 40), 0xFEEF04BD);
    const quint64 versionInSection = at.Version - Get32(image, at.ResourceSectionHeader + 20);
    ASSERT_LT(versionInSection, 0x100u);
    ASSERT_GT(versionInSection + Get32(image, at.DataEntry + 4), 0x100u);
    for (const Damage& damage : Damages) {
        QByteArray damaged = image;
        const quint64 offset = at.*damage.structure + damage.field;
        ASSERT_LE(offset + damage.width, quint64(damaged.size())) << damage.what;
        for (int byte = 0; byte < damage.width; ++byte)
            damaged[qsizetype(offset) + byte] = char(damage.value >> (8 * byte));
        const QString path = WriteFile(dir, Fixture64, damaged);
        EXPECT_EQ(Std(FileVersionOf(path)), damage.expected) << damage.what;
    }
}

QString RunToEnd(const QString& program, const QStringList& arguments, int* exitCode) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(-1)) << Std(program) << ": " << Std(process.errorString());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << Std(program);
    *exitCode = process.exitCode();
    EXPECT_EQ(Std(QString::fromLocal8Bit(process.readAllStandardError())), "") << Std(program);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

TEST(ReadVersionString, FileVersionCommandPrintsTheValue) {
    const std::pair<const char*, const char*> cases[] = {
        {"commas.dll", "1. 7. 0. 12\n"},
        {"missing.dll", "\n"},
    };
    for (const auto& [fixture, expected] : cases) {
        int exitCode = -1;
        const QString output =
            RunToEnd(QStringLiteral(ORVANTO_EXECUTABLE),
                     {QStringLiteral("--fileversion"), FixtureFolder + fixture}, &exitCode);
        EXPECT_EQ(exitCode, 0) << fixture;
        EXPECT_EQ(Std(output), expected) << fixture;
    }
}

TEST(ReadVersionString, MakeVersionedPeBuildsALibraryWithTheChosenVersion) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString library = dir.filePath(QStringLiteral("Velmora.exe"));
    int exitCode = -1;
    RunToEnd(QStringLiteral(ORVANTO_SOURCE_DIR "/scripts/make-versioned-pe"),
             {library, QStringLiteral("2.4.0, 17")}, &exitCode);
    ASSERT_EQ(exitCode, 0);
    EXPECT_EQ(Std(FileVersionOf(library)), "2.4.0. 17");
}

} // namespace
