#include "catalogue/updatecheck.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguefetch.h"
#include "catalogue/componentfiles.h"
#include "catalogue/deltaoffer.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "catalogue/signedcatalogue.h"
#include "catalogue/versioni.h"
#include "catalogue/versionnumber.h"
#include "core/busyscope.h"
#include "core/error.h"
#include "core/runlog.h"
#include "core/userinterface.h"
#include "core/workfolder.h"
#include "environment/databaseconnection.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"

#include <QFile>
#include <exception>
#include <fcntl.h>
#include <optional>

namespace {

const QString AdministratorMessage =
    QStringLiteral("L'aggiornamento deve esser eseguito come amministratore");
// More pending scripts than any real schema history (a few hundred steps in decades): a catalogue
// asking for them is damaged, and each would cost a size query and perhaps a message box.
constexpr long long MaxPendingScripts = 1000;

// The local copy of the catalogue is work space of one check: gone on every path.
struct RemovedAtEnd {
    QFile& File;
    QString Path;
    ~RemovedAtEnd() {
        File.close();
        QFile::remove(Path);
    }
};

// Nothing of an earlier check stays proposed while the catalogue is being judged.
void ForgetLastCheck(RunState& run, UserInterface& ui) {
    run.Checklist.clear();
    run.PackageChecksums.clear();
    run.UpdateButtonVisible = false;
    ui.ChecklistChanged();
}

void VerifySignedCatalogue(const Services& services, const QByteArray& catalogue,
                           CatalogueFetch& fetch) {
    ForgetLastCheck(services.Run, services.Ui);
    VerifyCatalogue(services.Files, services.Run.PublicKey, catalogue, fetch.Signature());
}

// A whole number: optional sign and decimal digits; anything else is a conversion error.
long long StrictWholeNumber(const QString& text) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    const bool digitsOnly = !text.isEmpty() && !text.contains(' ');
    if (!ok || !digitsOnly)
        throw OrvantoError("'" + text + "' non è un valore intero valido");
    return value;
}

struct Probed {
    QString Schema, Driver, Application, Firebird, WebViewLoader, Archiver;
};

// The database connection as the check found it: one that only the probes opened is closed again
// unless the check goes on to use their answers, so that a catalogue that fails or is empty
// leaves the database free, as when the probes ran after it.
class ProbeConnection {
public:
    explicit ProbeConnection(FirebirdConnection& connection)
        : Connection(connection), WasConnected(connection.IsConnected()) {}
    ~ProbeConnection() {
        if (!Kept && !WasConnected)
            Connection.Close();
    }
    ProbeConnection(const ProbeConnection&) = delete;
    ProbeConnection& operator=(const ProbeConnection&) = delete;

    void Keep() { Kept = true; }

private:
    FirebirdConnection& Connection;
    const bool WasConnected;
    bool Kept = false;
};

Probed ProbeInstalled(const Services& services) {
    return {GetSchemaVersion(&services.Connection),
            GetDriverVersion(),
            GetApplicationVersion(),
            GetFirebirdVersion(&services.Connection),
            GetWebViewLoaderVersion(),
            GetArchiverVersion()};
}

class Check {
public:
    explicit Check(const Services& services) : S(services) {}

    void Run(const QByteArray& catalogue, const Probed& installed) {
        const IniText reader(catalogue);
        S.Run.Checklist.clear();
        DropScriptEntries();
        S.Ui.ChecklistChanged();
        S.Run.PackageChecksums.clear();
        S.Run.PackageBytes.clear();
        S.Run.ListedSizes.clear();
        for (const QString& served : reader.Keys(PackageSizeSection)) {
            bool number = false;
            const qint64 size =
                reader.ReadString(PackageSizeSection, served, QString()).toLongLong(&number);
            // A size that is not a whole number of bytes is not used: the server is asked.
            if (number && size >= 0)
                S.Run.ListedSizes.insert(served, size);
        }
        S.Run.Deltas.clear();
        S.Run.FileChecksums.clear();
        for (const RequiredFile& file : S.Run.RequiredFiles) {
            ReadChecksum(reader, file.FileName + QStringLiteral(".7z"));
            FindDelta(reader, file);
        }
        // The rows are decided first; their sizes are then asked for all at once, also for the
        // rows listed before a catalogue value turned out to be invalid.
        try {
            ListComponents(reader, installed);
        } catch (const std::exception&) {
            FillSizes();
            throw;
        }
        FillSizes();
    }

private:
    // The checksum the catalogue announces for a package or a delta, kept for the download.
    void ReadChecksum(const IniText& reader, const QString& served) {
        const QString checksum = reader.ReadString(ChecksumSection, served, QString());
        if (!checksum.isEmpty())
            S.Run.PackageChecksums.insert(served, checksum);
    }

    // The delta that rebuilds the file from the installed one, when the catalogue offers one for
    // the installed file's content under a plain file name, with the rebuilt file's size (and,
    // with a signed catalogue, the delta's checksum).
    void FindDelta(const IniText& reader, const RequiredFile& file) {
        const QString rebuilt = reader.ReadString(FileChecksumSection, file.FileName, QString());
        if (rebuilt.isEmpty() || S.Run.Deltas.contains(file.FileName) ||
            !IsFileIncluded(S.Run.RequiredFiles, file.FileName))
            return;
        const QString reference = InstalledPath(file);
        const QString installed = FileSha256(reference);
        const QString key = DeltaKey(file.FileName, installed);
        const QString delta =
            installed.isEmpty() ? QString() : reader.ReadString(DeltaSection, key, QString());
        if (delta.isEmpty())
            return;
        // The name is joined to the work folder: anything but a plain name could reach outside.
        if (!IsPlainFileName(delta)) {
            RefuseLine(DeltaSection, key, delta, QStringLiteral("non è un semplice nome di file"));
            return;
        }
        bool sized = false;
        const qint64 size =
            reader.ReadString(FileSizeSection, file.FileName, QString()).toLongLong(&sized);
        if (!sized || size < 0) {
            RefuseLine(DeltaSection, key, delta,
                       "manca la dimensione del file ricostruito nella sezione " + FileSizeSection);
            return;
        }
        ReadChecksum(reader, delta);
        if (S.Run.CatalogueSigned() && !S.Run.PackageChecksums.contains(delta))
            return;
        S.Run.Deltas.insert(file.FileName, {delta, reference, size});
        S.Run.FileChecksums.insert(file.FileName, rebuilt);
    }

    // A catalogue line that is not used, and why; the file then comes from its package.
    void RefuseLine(const QString& section, const QString& key, const QString& value,
                    const QString& why) {
        S.Log.Write("Riga del catalogo rifiutata: [" + section + "] " + key + "=" + value + ": " +
                    why);
    }

    void ListComponents(const IniText& reader, const Probed& installed) {
        const auto available = [&reader](const QString& component) {
            return reader.ReadString(CatalogueSection, component, QString());
        };

        const bool updaterNewer =
            Consider(Component::Orvanto, UpdaterVersion, available(Component::Orvanto));
        if (updaterNewer && !S.Run.ShowAll)
            return;
        Consider(Component::Velmora, installed.Application, available(Component::Velmora));
        Consider(Component::Archiver, installed.Archiver, available(Component::Archiver));
        Consider(Component::Dbexpress, installed.Driver, available(Component::Dbexpress));
        Consider(Component::Mappe, installed.WebViewLoader, available(Component::Mappe));
        if (!S.Run.IsqlCommand.isEmpty()) {
            S.Run.AvailableSchemaVersion = available(Component::Schema);
            const bool newer = IsNewerVersion(installed.Schema, S.Run.AvailableSchemaVersion);
            if (newer || S.Run.ShowAll) {
                AppendScripts(reader, StrictWholeNumber(installed.Schema),
                              StrictWholeNumber(S.Run.AvailableSchemaVersion));
                AddRow(Component::Schema, installed.Schema, S.Run.AvailableSchemaVersion, newer);
            }
        }
        if (S.Run.Embedded())
            Consider(Component::Firebird, installed.Firebird, available(Component::Firebird));
    }

    bool Consider(const QString& component, const QString& installed, const QString& available) {
        const bool newer = IsNewerVersion(installed, available);
        if (newer || S.Run.ShowAll)
            AddRow(component, installed, available, newer);
        return newer;
    }

    void AddRow(const QString& component, const QString& installed, const QString& available,
                bool newer) {
        S.Run.Checklist.append(ChecklistRow());
        ChecklistRow* row = &S.Run.Checklist.last();
        SetItemText(row, -1, component);
        SetItemText(row, 0, installed);
        SetItemText(row, 1, available);
        Unsized.append({component, newer});
        S.Ui.ChecklistChanged();
    }

    // Sets the size and the tick of every row added since the last call.
    void FillSizes() {
        QStringList components;
        for (const auto& row : Unsized)
            components.append(row.first);
        const QList<quint32> sizes = GetComponentSizes(components, S.Run, S.Http, S.Ui);
        const qsizetype first = S.Run.Checklist.size() - Unsized.size();
        for (qsizetype i = 0; i < Unsized.size(); ++i) {
            ChecklistRow& row = S.Run.Checklist[first + i];
            SetItemText(&row, 2, QString::number(sizes[i]));
            row.Checked = Unsized[i].second;
        }
        Unsized.clear();
        S.Ui.ChecklistChanged();
    }

    // Script entries belong to the checklist they were found for: a new check starts without them.
    void DropScriptEntries() {
        S.Run.RequiredFiles.removeIf(
            [](const RequiredFile& file) { return file.ComponentName == Component::Schema; });
    }

    void AppendScripts(const IniText& reader, long long installed, long long available) {
        if (available - installed > MaxPendingScripts)
            throw OrvantoError(
                QStringLiteral("Il catalogo chiede %1 script di database: valore non valido")
                    .arg(available - installed));
        for (long long step = installed + 1; step <= available; ++step) {
            S.Run.RequiredFiles.append({Component::Schema, ScriptFileName(step), QString(), false});
            ReadChecksum(reader, ScriptFileName(step) + QStringLiteral(".7z"));
        }
    }

    const Services& S;
    // Rows waiting for their size: component and whether it is newer.
    QList<QPair<QString, bool>> Unsized;
};

// The rows of the check as the run log keeps them, in words.
void LogChecklist(RunLog& log, const QList<ChecklistRow>& rows) {
    if (rows.isEmpty()) {
        log.Write(QStringLiteral("Controllo: nessun aggiornamento"));
        return;
    }
    QStringList lines;
    for (const ChecklistRow& row : rows) {
        QString line = "Controllo: " + row.Caption + " installato " + row.SubItem(0) +
                       ", disponibile " + row.SubItem(1);
        if (!row.SubItem(2).isEmpty())
            line += ", " + row.SubItem(2) + " KB";
        lines.append(line + (row.Checked ? ", proposto" : ", non proposto"));
    }
    log.Write(lines.join('\n'));
}

void CheckWith(const Services& services, CatalogueFetch* started) {
    RunState& run = services.Run;
    UserInterface& ui = services.Ui;
    const QString localCopy = run.CopyFolder + CatalogueFileName;
    ui.SetDownloadVisible(false);
    ui.SetUpdateVisible(false);
    ui.ProcessEvents();

    QFile file(localCopy);
    try {
        EnsureWorkFolder(run.CopyFolder, SharedWorkFolderMode);
        Descriptor opened = OpenWorkFile(localCopy, O_WRONLY | O_CREAT | O_TRUNC);
        if (!file.open(opened.Get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            throw OrvantoError::Failure(QStringLiteral("Scrittura del file"), localCopy,
                                        file.errorString());
        opened.Release();
    } catch (const OrvantoError& error) {
        services.Log.Reason(error.Message());
        // Nothing can be checked, nor updated, without writing the work folder.
        ui.ShowMessage(AdministratorMessage, MessageKind::Failure);
        return;
    }
    const RemovedAtEnd removeCopy{file, localCopy};
    {
        const BusyScope busy(ui);
        std::optional<CatalogueFetch> own;
        CatalogueFetch& fetch = started != nullptr ? *started : own.emplace(services);
        // The installed versions are read while the catalogue travels. What failed there is told
        // only once the catalogue turns out to need them, as if they had been read after it.
        ProbeConnection connection(services.Connection);
        Probed installed;
        std::exception_ptr probeFailure;
        try {
            installed = ProbeInstalled(services);
        } catch (const std::exception&) {
            probeFailure = std::current_exception();
        }
        const QByteArray catalogue = fetch.Catalogue();
        if (run.CatalogueSigned())
            VerifySignedCatalogue(services, catalogue, fetch);
        fetch.Accept();
        // A local copy that could not be written whole (a full disk) must not read as an empty
        // catalogue, which would propose nothing.
        if (file.write(catalogue) != catalogue.size() || !file.flush())
            throw OrvantoError::Failure(QStringLiteral("Scrittura del file"), localCopy,
                                        file.errorString());
        file.close();
        if (!catalogue.isEmpty()) {
            if (probeFailure)
                std::rethrow_exception(probeFailure);
            connection.Keep();
            Check(services).Run(catalogue, installed);
        }
    }

    run.UpdateButtonVisible = run.ShowAll || AnyChecked(run.Checklist);
    LogChecklist(services.Log, run.Checklist);
    ui.ChecklistChanged();
}

} // namespace

void ActionControllaExecute(const Services& services) {
    CheckWith(services, nullptr);
}

void ActionControllaExecute(const Services& services, CatalogueFetch& started) {
    CheckWith(services, &started);
}
