#include "catalogue/versioni.h"
#include "core/error.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "support/firebirdfixture.h"
#include "support/tempinstall.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

// How many statements and transactions the connection has open on the server, the asking
// statement and its own transaction included ("1 1" when nothing else was left open).
const QString OpenWorkQuery = QStringLiteral(
    "select (select count(*) from mon$statements where mon$attachment_id = current_connection)"
    " || ' ' || (select count(*) from mon$transactions"
    " where mon$attachment_id = current_connection) as WORK from rdb$database");

const QString ConnectionIdQuery =
    QStringLiteral("select current_connection as ID from rdb$database");

QString QueryOrEmpty(FirebirdConnection& connection, const QString& statement,
                     const QString& column) {
    return connection.QueryText(statement, column).value_or("<no row>");
}

// Runs a statement that must fail and returns the error's message.
QString FailureMessage(FirebirdConnection& connection, const QString& statement) {
    try {
        connection.QueryText(statement, "X");
    } catch (const OrvantoError& error) {
        return error.Message();
    }
    ADD_FAILURE() << "no error for " << statement.toStdString();
    return {};
}

TEST(DatabaseParameter, FollowsServerAndAliasFiles) {
    struct Case {
        const char* server;
        const char* aliasFile;
        bool maindbInProgramFolder;
        const char* parameter;
    };
    const Case cases[] = {
        {"SRVDATI", nullptr, false, "SRVDATI:VELMORA"},
        {"SRVDATI", "databases.conf", false, "SRVDATI:VELMORA"},
        {"", "databases.conf", false, "VELMORA"},
        {"", "aliases.conf", false, "VELMORA"},
        {"", nullptr, true, nullptr},
    };
    for (const Case& c : cases) {
        TempInstallation install;
        if (c.aliasFile)
            install.WriteFile(QString("Velmora/") + c.aliasFile, "VELMORA = /v.fdb\n");
        const QString expected =
            c.maindbInProgramFolder ? install.ProgramFolder() + "maindb.fdb" : QString(c.parameter);
        const QString parameter = BuildDatabaseParameter(c.server, "VELMORA");
        EXPECT_EQ(parameter, expected) << c.server << " / " << (c.aliasFile ? c.aliasFile : "-");

        FirebirdConnection connection;
        connection.SetDatabase(parameter);
        EXPECT_EQ(IsEmbeddedConnection(&connection), !expected.contains(':'))
            << parameter.toStdString();
    }
}

TEST(DatabaseParameter, ADriveLetterProgramFolderMakesAClientServerParameter) {
    TempInstallation install;
    OverrideProgramFolder("C:/Velmora/");
    FirebirdConnection connection;
    connection.SetDatabase(BuildDatabaseParameter("", "VELMORA"));
    EXPECT_EQ(connection.Database(), QString("C:/Velmora/maindb.fdb"));
    EXPECT_FALSE(IsEmbeddedConnection(&connection));
}

TEST(DatabaseParameter, MissingConnectionIsAProgrammingError) {
#ifdef QT_NO_DEBUG
    EXPECT_FALSE(IsEmbeddedConnection(nullptr));
#else
    EXPECT_DEATH(IsEmbeddedConnection(nullptr), "lowlevel.*conn");
#endif
}

class DatabaseConnection : public testing::Test {
protected:
    QString NewDatabase(const QString& name, const std::optional<QString>& description) {
        return CreateDatabase(install.Root() + "/" + name, description);
    }

    TempInstallation install;
    FirebirdConnection connection;
};

TEST_F(DatabaseConnection, ConnectsOnTheFirstStatementStaysConnectedAndReconnectsAfterClose) {
    connection.SetDatabase(NewDatabase("velmora.fdb", "212"));
    EXPECT_FALSE(connection.IsConnected());

    const QString first = QueryOrEmpty(connection, ConnectionIdQuery, "ID");
    EXPECT_TRUE(connection.IsConnected());
    EXPECT_EQ(QueryOrEmpty(connection, ConnectionIdQuery, "ID"), first);

    connection.Close();
    EXPECT_FALSE(connection.IsConnected());
    connection.Close();
    const QString second = QueryOrEmpty(connection, ConnectionIdQuery, "ID");
    EXPECT_TRUE(connection.IsConnected());
    EXPECT_NE(second, first);
}

TEST_F(DatabaseConnection, ReadsTheNamedColumnAsText) {
    connection.SetDatabase(NewDatabase("velmora.fdb", QString::fromUtf8("Caffè 1.0")));
    struct Case {
        QString statement;
        QString column;
        QString value;
    };
    const QString longText(20000, 'x');
    const Case cases[] = {
        {"select 'a' as X, 'b' as Y from rdb$database", "Y", "b"},
        {"select 'a' as X, 'b' as Y from rdb$database", "y", "b"},
        {"select cast('ab' as char(5)) as C from rdb$database", "C", "ab"},
        {"select cast(' ab  ' as varchar(10)) as V from rdb$database", "V", " ab  "},
        {"select 42 as N, cast(1.5 as numeric(9,2)) as D from rdb$database", "D", "1.50"},
        {"select cast(null as integer) as N from rdb$database", "N", ""},
        {"select cast(null as varchar(5)) as N from rdb$database", "N", ""},
        {"select rdb$description as VER from rdb$database", "VER", QString::fromUtf8("Caffè 1.0")},
        {"select cast(lpad('', 20000, 'x') as blob sub_type text) as B from rdb$database", "B",
         longText},
        {"select 1 as N from rdb$database where 1 = 0", "N", "<no row>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QueryOrEmpty(connection, c.statement, c.column), c.value)
            << c.statement.toStdString();
    EXPECT_EQ(QueryOrEmpty(connection, OpenWorkQuery, "WORK"), QString("1 1"));
}

TEST_F(DatabaseConnection, StatementErrorsCarryFirebirdsTextAndLeaveNothingOpen) {
    connection.SetDatabase(NewDatabase("velmora.fdb", "212"));
    struct Case {
        QString statement;
        QString message;
    };
    const Case cases[] = {
        {"select RDB$GET_CONTEXT('SYSTEM','NO_SUCH_VARIABLE') as X from RDB$DATABASE rows 1",
         "Context variable NO_SUCH_VARIABLE is not found in namespace SYSTEM"},
        {"selec 1 as X from rdb$database",
         "Dynamic SQL Error\n-SQL error code = -104\n-Token unknown - line 1, column 1\n-selec"},
        {"select 1 as X from no_such_table",
         "Dynamic SQL Error\n-SQL error code = -204\n"
         "-Table unknown\n-NO_SUCH_TABLE\n-At line 1, column 20"},
        {"select 1 as Y from rdb$database",
         "Campo X non presente nel risultato di: select 1 as Y from rdb$database"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FailureMessage(connection, c.statement), c.message);
        EXPECT_TRUE(connection.IsConnected());
        EXPECT_EQ(QueryOrEmpty(connection, OpenWorkQuery, "WORK"), QString("1 1"))
            << c.statement.toStdString();
    }
}

TEST_F(DatabaseConnection, ConnectErrorsCarryFirebirdsTextAndTheNextDatabaseWorks) {
    const QString good = NewDatabase("velmora.fdb", "212");
    const QString missing = install.Root() + "/missing.fdb";
    struct Case {
        QString database;
        QString messageStart;
    };
    const Case cases[] = {
        {missing, "I/O error during \"open\" operation for file \"" + missing +
                      "\"\n-Error while trying to open file\n-No such file or directory"},
        {"127.0.0.1/1:" + good, "Unable to complete network request to host \"127.0.0.1\"."},
    };
    for (const Case& c : cases) {
        connection.SetDatabase(c.database);
        EXPECT_TRUE(FailureMessage(connection, SchemaVersionStatement).startsWith(c.messageStart))
            << c.database.toStdString();
        EXPECT_FALSE(connection.IsConnected());
        connection.SetDatabase(good);
        EXPECT_EQ(QueryOrEmpty(connection, SchemaVersionStatement, "VER"), QString("212"));
        EXPECT_EQ(QueryOrEmpty(connection, OpenWorkQuery, "WORK"), QString("1 1"));
    }
}

TEST_F(DatabaseConnection, ABareAliasIsLookedUpInTheProgramFoldersAliasFile) {
    QDir().mkpath(install.ProgramFolder() + "data");
    CreateDatabase(install.ProgramFolder() + "data/relative.fdb", "relative");
    const QString absolute = NewDatabase("absolute.fdb", "absolute");
    install.WriteFile("Velmora/databases.conf",
                      "VELMORA = data/relative.fdb\nVELMORA_ABS = " + absolute.toUtf8() + "\n");
    struct Case {
        QString alias;
        QString description;
    };
    for (const Case& c : {Case{"VELMORA", "relative"}, Case{"VELMORA_ABS", "absolute"}}) {
        connection.SetDatabase(c.alias);
        EXPECT_EQ(QueryOrEmpty(connection, SchemaVersionStatement, "VER"), c.description);
    }

    connection.SetDatabase("UNKNOWN");
    EXPECT_TRUE(FailureMessage(connection, SchemaVersionStatement).contains("UNKNOWN"));
}

TEST(FirebirdServerConnection, ReachesADatabaseThroughTheServer) {
    TempInstallation install;
    const QString path = install.Root() + "/served.fdb";
    FirebirdServer server;
    CreateDatabase(FirebirdServer::RemoteName(path), "212");

    FirebirdConnection connection;
    connection.SetDatabase(BuildDatabaseParameter("localhost", path));
    EXPECT_EQ(connection.Database(), "localhost:" + path);
    EXPECT_FALSE(IsEmbeddedConnection(&connection));
    EXPECT_EQ(QueryOrEmpty(connection, SchemaVersionStatement, "VER"), QString("212"));
    EXPECT_EQ(QueryOrEmpty(connection,
                           "select mon$remote_protocol as P from mon$attachments"
                           " where mon$attachment_id = current_connection",
                           "P"),
              QString("TCPv4"));

    EXPECT_EQ(FailureMessage(connection, "select 1 as X from no_such_table").section('\n', 0, 0),
              QString("Dynamic SQL Error"));
    EXPECT_EQ(QueryOrEmpty(connection, OpenWorkQuery, "WORK"), QString("1 1"));

    const QString first = QueryOrEmpty(connection, ConnectionIdQuery, "ID");
    connection.Close();
    EXPECT_NE(QueryOrEmpty(connection, ConnectionIdQuery, "ID"), first);
}

} // namespace
