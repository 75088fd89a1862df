#include "app/commandline.h"

#include "app/workflow.h"

#include <QCommandLineParser>

namespace {

const QString Usage = QStringLiteral(
    "Uso: Orvanto [comando] [opzioni]\n"
    "Senza comando apre la finestra di Orvanto. Comandi e opzioni valgono in qualsiasi ordine,\n"
    "un comando alla volta.\n"
    "\n"
    "  --check [--show-all]    analizza l'installazione e controlla gli aggiornamenti; stampa il\n"
    "                          registro dell'analisi e una riga per componente (componente,\n"
    "                          installato, disponibile, dimensione in KB, 1 se proposto), "
    "separati\n"
    "                          da tabulazioni. Uscita 0: nessun aggiornamento; 3: aggiornamenti\n"
    "                          proposti; 4: controllo fallito.\n"
    "  --update [--show-all]   controlla e installa gli aggiornamenti proposti. Uscita 0: "
    "riuscito;\n"
    "                          4: non riuscito, con il messaggio e il motivo sullo standard "
    "error.\n"
    "                          Su un terminale una riga mostra l'avanzamento del download e\n"
    "                          dell'aggiornamento.\n"
    "  --list-backups          elenca le copie di sicurezza (archivio, data), separate da "
    "tabulazioni.\n"
    "  --restore NOME [--yes]  ripristina la copia di sicurezza NOME; senza --yes la domanda di\n"
    "                          conferma riceve la risposta predefinita (No). Uscita 0: "
    "ripristinata;\n"
    "                          5: non confermata; 4: archivio non trovato.\n"
    "  --quiet                 con i comandi qui sopra mostra soltanto i risultati, i messaggi e\n"
    "                          gli errori.\n"
    "  --fileversion FILE      stampa la versione (FileVersion) di un file eseguibile Windows.\n"
    "  --version               stampa la versione di Orvanto ed esce (0).\n"
    "  -h, --help              mostra questo aiuto.\n"
    "\n"
    "Altre uscite: 1 se Orvanto è già in esecuzione dalla stessa cartella, 2 se manca "
    "velmora.ini\n"
    "(o, senza comando, non c'è uno schermo per la finestra), 64 se la riga di comando è "
    "sbagliata.\n");

CommandLine Refused(const QString& error) {
    CommandLine line;
    line.What = CommandLine::Command::UsageError;
    line.Error = error;
    return line;
}

QString Dashed(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// What a value option wants, as the usage error says it.
QString MissingValue(const QString& option) {
    return option == QStringLiteral("--restore")
               ? QStringLiteral("--restore vuole il nome dell'archivio")
               : QStringLiteral("--fileversion vuole il percorso del file");
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // "-check" reads as "--check"; single letters stay what they are ("-h").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption check(QStringLiteral("check"));
    const QCommandLineOption update(QStringLiteral("update"));
    const QCommandLineOption listBackups(QStringLiteral("list-backups"));
    const QCommandLineOption restore(QStringLiteral("restore"), QString(), QStringLiteral("NOME"));
    const QCommandLineOption fileVersion(QStringLiteral("fileversion"), QString(),
                                         QStringLiteral("FILE"));
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption showAll(QStringLiteral("show-all"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    // The verbose switch in the forms that look like options.
    const QCommandLineOption verbose(
        QStringList{QStringLiteral("v"), QStringLiteral("V"), QStringLiteral("verbose")});
    parser.addOptions({check, update, listBackups, restore, fileVersion, version, help, quiet,
                       showAll, yes, verbose});

    if (!parser.parse(QStringList{QStringLiteral("Orvanto")} + arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            QStringList names;
            for (const QString& name : unknown)
                names.append(Dashed(name));
            return Refused(QStringLiteral("opzione sconosciuta: ") +
                           names.join(QStringLiteral(", ")));
        }
        // Otherwise a value is missing after an option that wants one, or given to one that takes
        // none; the parser's text names the option between quotes.
        const QString option = parser.errorText().section('\'', 1, 1);
        if (option == QStringLiteral("--restore") || option == QStringLiteral("--fileversion"))
            return Refused(MissingValue(option));
        if (!option.isEmpty())
            return Refused(option + QStringLiteral(" non vuole un valore"));
        return Refused(parser.errorText());
    }

    CommandLine line;
    line.Verbose = parser.isSet(verbose);
    line.Quiet = parser.isSet(quiet);
    line.ShowAll = parser.isSet(showAll);
    line.AssumeYes = parser.isSet(yes);
    if (parser.isSet(help)) {
        line.What = CommandLine::Command::Help;
        return line;
    }
    if (parser.isSet(version)) {
        line.What = CommandLine::Command::Version;
        return line;
    }
    // Any other argument is the verbose switch ("/v", "/verbose:1") or a mistake.
    for (const QString& argument : parser.positionalArguments()) {
        if (!VerboseRequested({argument}))
            return Refused(QStringLiteral("argomento inatteso: ") + argument);
        line.Verbose = true;
    }

    const QList<std::pair<QString, CommandLine::Command>> commands = {
        {QStringLiteral("check"), CommandLine::Command::Check},
        {QStringLiteral("update"), CommandLine::Command::Update},
        {QStringLiteral("list-backups"), CommandLine::Command::ListBackups},
        {QStringLiteral("restore"), CommandLine::Command::Restore},
        {QStringLiteral("fileversion"), CommandLine::Command::FileVersion},
    };
    QStringList given;
    for (const QString& name : parser.optionNames()) {
        for (const auto& [command, what] : commands) {
            if (name == command) {
                given.append(Dashed(name));
                line.What = what;
            }
        }
    }
    if (given.size() > 1)
        return Refused(QStringLiteral("un comando alla volta: ") +
                       given.join(QStringLiteral(", ")));
    // A value that is an option is the value left out ("--restore --yes").
    if (line.What == CommandLine::Command::Restore ||
        line.What == CommandLine::Command::FileVersion) {
        line.Value =
            parser.value(line.What == CommandLine::Command::Restore ? restore : fileVersion);
        if (line.Value.isEmpty() || line.Value.startsWith('-'))
            return Refused(MissingValue(given.first()));
    }

    if (line.What == CommandLine::Command::Window) {
        for (const QCommandLineOption& option : {quiet, showAll, yes}) {
            if (parser.isSet(option))
                return Refused(Dashed(option.names().first()) +
                               QStringLiteral(" vale solo con un comando"));
        }
        return line;
    }
    if (line.ShowAll && line.What != CommandLine::Command::Check &&
        line.What != CommandLine::Command::Update)
        return Refused(QStringLiteral("--show-all vale solo con --check o --update"));
    if (line.AssumeYes && line.What != CommandLine::Command::Restore)
        return Refused(QStringLiteral("--yes vale solo con --restore"));
    return line;
}

QString UsageText() {
    return Usage;
}
