#include "environment/databaseconnection.h"

#include "core/error.h"
#include "environment/aliasfile.h"
#include "environment/firebirdapi.h"
#include "environment/lowlevel.h"

#include <QFile>
#include <QtGlobal>
#include <cstring>
#include <vector>

namespace {

using Firebird::IStatus;

// Character set of the connection; texts go to and come from the client library as Latin-1.
const char* const ConnectionCharacterSet = "ISO8859_1";
const unsigned SqlDialect = SQL_DIALECT_V6;
// Room for any value that is neither text nor BLOB, converted to text by the engine.
const unsigned ConvertedTextLength = 128;
// Read committed, newest committed version of a record, wait on locks.
const unsigned char TransactionParameters[] = {isc_tpb_version3, isc_tpb_read_committed,
                                               isc_tpb_rec_version, isc_tpb_wait};

// The name handed to the client library. A bare alias is looked up in the program folder's alias
// file first (a relative value is taken relative to the program folder), as the embedded engine
// of a Windows installation does; it goes unchanged to the client library when that finds
// nothing.
QString AttachName(const QString& database) {
    if (database.isEmpty() || database.contains(':') || database.contains('/'))
        return database;
    const QString folder = GetProgramFolder();
    const QString path = ResolveAliasPath(folder, database, [](const QString&) {});
    return path.isEmpty() ? database : JoinPath(folder, path);
}

// Client settings of the attachment: a name without ":" is opened by the embedded engine only,
// never through a local server; encryption is not asked for (a server that requires it still
// gets it), compression is off.
QByteArray ConnectionConfig(const QString& name) {
    const QByteArray providers = name.contains(':') ? "Remote" : "Engine12";
    return "Providers=" + providers + "\nWireCrypt=Enabled\nWireCompression=false";
}

Firebird::IAttachment* Attach(const QString& database) {
    ThrowingStatus status;
    const QString name = AttachName(database);
    const ParameterBlock dpb(status, Firebird::IXpbBuilder::DPB);
    dpb->insertString(&status, isc_dpb_user_name, DatabaseUser.toLatin1().constData());
    dpb->insertString(&status, isc_dpb_password, DatabasePassword.toLatin1().constData());
    dpb->insertString(&status, isc_dpb_lc_ctype, ConnectionCharacterSet);
    dpb->insertInt(&status, isc_dpb_sql_dialect, SqlDialect);
    dpb->insertString(&status, isc_dpb_config, ConnectionConfig(name).constData());
    const Handle<Firebird::IProvider> provider(Master()->getDispatcher());
    return provider->attachDatabase(&status, QFile::encodeName(name).constData(),
                                    dpb->getBufferLength(&status), dpb->getBuffer(&status));
}

unsigned ColumnIndex(ThrowingStatus& status, Firebird::IMessageMetadata* metadata,
                     const QString& column, const QString& statement) {
    const unsigned count = metadata->getCount(&status);
    for (unsigned index = 0; index < count; ++index) {
        if (column.compare(QString::fromLatin1(metadata->getAlias(&status, index)),
                           Qt::CaseInsensitive) == 0)
            return index;
    }
    throw OrvantoError("Campo " + column + " non presente nel risultato di: " + statement);
}

// The row format to fetch: the statement's own, with the wanted column turned into text by the
// engine unless it is text or a BLOB already.
Firebird::IMessageMetadata* RowFormat(ThrowingStatus& status, Firebird::IMessageMetadata* columns,
                                      unsigned index) {
    const unsigned type = columns->getType(&status, index);
    const Handle<Firebird::IMetadataBuilder> builder(columns->getBuilder(&status));
    if (type != SQL_TEXT && type != SQL_VARYING && type != SQL_BLOB) {
        builder->setType(&status, index, SQL_VARYING | 1); // 1: may be NULL
        builder->setLength(&status, index, ConvertedTextLength);
    }
    return builder->getMetadata(&status);
}

QString ReadBlob(ThrowingStatus& status, Firebird::IAttachment* attachment,
                 Firebird::ITransaction* transaction, const unsigned char* field) {
    ISC_QUAD id;
    std::memcpy(&id, field, sizeof id);
    Handle<Firebird::IBlob> blob(attachment->openBlob(&status, transaction, &id, 0, nullptr));
    QByteArray bytes;
    char segment[8192];
    unsigned length = 0;
    for (;;) {
        const int result = blob->getSegment(&status, sizeof segment, segment, &length);
        if (result != IStatus::RESULT_OK && result != IStatus::RESULT_SEGMENT)
            break;
        bytes.append(segment, length);
    }
    blob->close(&status);
    blob.Closed();
    return QString::fromLatin1(bytes);
}

// The column of a fetched row as text; NULL gives empty text, fixed-length text loses its
// trailing blanks.
QString ReadColumn(ThrowingStatus& status, Firebird::IAttachment* attachment,
                   Firebird::ITransaction* transaction, Firebird::IMessageMetadata* format,
                   unsigned index, const std::vector<unsigned char>& row) {
    ISC_SHORT isNull = 0;
    std::memcpy(&isNull, row.data() + format->getNullOffset(&status, index), sizeof isNull);
    if (isNull)
        return {};
    const unsigned char* field = row.data() + format->getOffset(&status, index);
    const unsigned type = format->getType(&status, index);
    if (type == SQL_BLOB)
        return ReadBlob(status, attachment, transaction, field);
    if (type == SQL_TEXT) {
        QString text = QString::fromLatin1(reinterpret_cast<const char*>(field),
                                           format->getLength(&status, index));
        while (text.endsWith(' '))
            text.chop(1);
        return text;
    }
    ISC_USHORT length = 0;
    std::memcpy(&length, field, sizeof length);
    return QString::fromLatin1(reinterpret_cast<const char*>(field + sizeof length), length);
}

} // namespace

QString BuildDatabaseParameter(const QString& server, const QString& alias) {
    if (!server.isEmpty())
        return server + ":" + alias;
    const QString folder = GetProgramFolder();
    if (FileExists(JoinPath(folder, DatabasesConfName)) ||
        FileExists(JoinPath(folder, AliasesConfName)))
        return alias;
    return JoinPath(folder, MainDatabaseFileName);
}

FirebirdConnection::~FirebirdConnection() {
    Close();
}

void FirebirdConnection::SetDatabase(const QString& database) {
    if (database == DatabaseParameter)
        return;
    Close();
    DatabaseParameter = database;
}

void FirebirdConnection::Close() {
    Rollback();
    if (!Attachment)
        return;
    OwnedStatus<Firebird::CheckStatusWrapper> status;
    Attachment->detach(&status);
    if (status.getState() & IStatus::STATE_ERRORS)
        Attachment->release();
    Attachment = nullptr;
}

void FirebirdConnection::BeginTransaction(int lockWaitSeconds) {
    Rollback();
    try {
        if (!Attachment)
            Attachment = Attach(DatabaseParameter);
        ThrowingStatus status;
        const ParameterBlock tpb(status, Firebird::IXpbBuilder::TPB);
        tpb->insertTag(&status, isc_tpb_read_committed);
        tpb->insertTag(&status, isc_tpb_rec_version);
        tpb->insertTag(&status, isc_tpb_wait);
        tpb->insertInt(&status, isc_tpb_lock_timeout, qMax(1, lockWaitSeconds));
        Held = Attachment->startTransaction(&status, tpb->getBufferLength(&status),
                                            tpb->getBuffer(&status));
    } catch (const Firebird::FbException& error) {
        throw OrvantoError(ErrorText(error.getStatus()));
    }
}

void FirebirdConnection::Commit() {
    if (!Held)
        return;
    try {
        ThrowingStatus status;
        Held->commit(&status);
        Held = nullptr;
    } catch (const Firebird::FbException& error) {
        throw OrvantoError(ErrorText(error.getStatus()));
    }
}

void FirebirdConnection::Rollback() {
    if (!Held)
        return;
    OwnedStatus<Firebird::CheckStatusWrapper> status;
    Held->rollback(&status);
    if (status.getState() & IStatus::STATE_ERRORS)
        Held->release();
    Held = nullptr;
}

std::optional<QString> FirebirdConnection::QueryText(const QString& statement,
                                                     const QString& column) {
    try {
        if (!Attachment)
            Attachment = Attach(DatabaseParameter);
        ThrowingStatus status;
        // A statement of its own runs in a transaction of its own, committed at the end.
        Handle<Firebird::ITransaction> own(
            Held ? nullptr
                 : Attachment->startTransaction(&status, sizeof TransactionParameters,
                                                TransactionParameters));
        Firebird::ITransaction* const transaction = Held ? Held : own.Get();
        const QByteArray text = statement.toLatin1();
        Handle<Firebird::IStatement> query(
            Attachment->prepare(&status, transaction, text.size(), text.constData(), SqlDialect,
                                Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        std::optional<QString> value;
        if (!column.isEmpty()) {
            const Handle<Firebird::IMessageMetadata> columns(query->getOutputMetadata(&status));
            const unsigned index = ColumnIndex(status, columns.Get(), column, statement);
            const Handle<Firebird::IMessageMetadata> format(
                RowFormat(status, columns.Get(), index));
            std::vector<unsigned char> row(format->getMessageLength(&status));
            if (query->getFlags(&status) & Firebird::IStatement::FLAG_HAS_CURSOR) {
                Handle<Firebird::IResultSet> rows(
                    query->openCursor(&status, transaction, nullptr, nullptr, format.Get(), 0));
                if (rows->fetchNext(&status, row.data()) == IStatus::RESULT_OK)
                    value = ReadColumn(status, Attachment, transaction, format.Get(), index, row);
                rows->close(&status);
                rows.Closed();
            } else {
                // An UPDATE ... RETURNING gives its one row without a cursor.
                query->execute(&status, transaction, nullptr, nullptr, format.Get(), row.data());
                value = ReadColumn(status, Attachment, transaction, format.Get(), index, row);
            }
        } else {
            query->execute(&status, transaction, nullptr, nullptr, nullptr, nullptr);
        }
        query->free(&status);
        query.Closed();
        if (own.Get()) {
            own->commit(&status);
            own.Closed();
        }
        return value;
    } catch (const Firebird::FbException& error) {
        throw OrvantoError(ErrorText(error.getStatus()));
    }
}

void FirebirdConnection::Execute(const QString& statement) {
    QueryText(statement, QString());
}

bool IsEmbeddedConnection(const FirebirdConnection* conn) {
    Q_ASSERT_X(conn, "lowlevel", "conn");
    if (!conn)
        return false;
    return !conn->Database().contains(':');
}

QString ErrorText(Firebird::IStatus* status) {
    char buffer[4096];
    Master()->getUtilInterface()->formatStatus(buffer, sizeof buffer, status);
    return QString::fromLocal8Bit(buffer).trimmed();
}
