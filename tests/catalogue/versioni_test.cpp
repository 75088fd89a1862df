#include "catalogue/versioni.h"
#include "core/error.h"
#include "environment/databaseconnection.h"
#include "support/firebirdfixture.h"
#include "support/tempinstall.h"

#include <gtest/gtest.h>

namespace {

const QString EngineVersionSelect =
    QStringLiteral("select rdb$get_context('SYSTEM', 'ENGINE_VERSION') from rdb$database");

TEST(Versioni, SchemaVersionIsTheTrimmedDescription) {
    TempInstallation install;
    struct Case {
        std::optional<QString> description;
        QString version;
    };
    const Case cases[] = {
        {"212", "212"},   {std::nullopt, ""}, {"  1.35.0\n", "1.35.0"}, {"\t1.35.0 \r\n", "1.35.0"},
        {"1 35", "1 35"},
    };
    int number = 0;
    for (const Case& c : cases) {
        FirebirdConnection connection;
        connection.SetDatabase(
            CreateDatabase(install.Root() + QString("/db%1.fdb").arg(++number), c.description));
        EXPECT_EQ(GetSchemaVersion(&connection), c.version) << number;
        EXPECT_TRUE(connection.IsConnected()) << "the probe leaves the connection connected";
    }
}

TEST(Versioni, FirebirdVersionIsTheEngineVersionTheDatabaseReports) {
    TempInstallation install;
    const QString database = CreateDatabase(install.Root() + "/velmora.fdb", "212");
    const QString expected = QueryValue(database, EngineVersionSelect);
    ASSERT_FALSE(expected.isEmpty());

    FirebirdConnection connection;
    connection.SetDatabase(database);
    EXPECT_EQ(GetFirebirdVersion(&connection), expected);
    EXPECT_EQ(GetSchemaVersion(&connection), QString("212")) << "same connection, still usable";
}

TEST(Versioni, DatabaseErrorsReachTheCaller) {
    TempInstallation install;
    FirebirdConnection connection;
    connection.SetDatabase(install.Root() + "/missing.fdb");
    EXPECT_THROW(GetSchemaVersion(&connection), OrvantoError);
    EXPECT_THROW(GetFirebirdVersion(&connection), OrvantoError);
    EXPECT_FALSE(connection.IsConnected());
}

TEST(Versioni, MissingConnectionIsAProgrammingError) {
#ifdef QT_NO_DEBUG
    EXPECT_EQ(GetSchemaVersion(nullptr), QString());
    EXPECT_EQ(GetFirebirdVersion(nullptr), QString());
#else
    EXPECT_DEATH(GetSchemaVersion(nullptr), "versioni.*c");
#endif
}

TEST(Versioni, ApplicationVersionIsTheTrimmedSettingsValue) {
    struct Case {
        const char* settings;
        const char* version;
    };
    const Case cases[] = {
        {"[PRINCIPALE]\r\nVersione=  2.3.1  \r\n", "2.3.1"},
        {"[PRINCIPALE]\nVersione=\" 2.3.1\t\"\n", "2.3.1"},
        {"[PRINCIPALE]\nAltro=1\n", ""},
        {"[ORVANTO]\nVersione=9.9\n", ""},
        {nullptr, ""},
    };
    for (const Case& c : cases) {
        TempInstallation install;
        if (c.settings)
            install.WriteSettings(c.settings);
        EXPECT_EQ(GetApplicationVersion(), QString(c.version)) << (c.settings ? c.settings : "-");
    }
}

TEST(Versioni, FileProbesGiveEmptyTextForMissingFiles) {
    TempInstallation install;
    EXPECT_EQ(GetDriverVersion(), QString());
    EXPECT_EQ(GetWebViewLoaderVersion(), QString());
    EXPECT_EQ(GetArchiverVersion(), QString());
}

TEST(FirebirdServerVersioni, ProbesReadThroughTheServer) {
    TempInstallation install;
    FirebirdServer server;
    const QString database =
        CreateDatabase(FirebirdServer::RemoteName(install.Root() + "/served.fdb"), "  1.35.0\n");

    FirebirdConnection connection;
    connection.SetDatabase(database);
    EXPECT_EQ(GetSchemaVersion(&connection), QString("1.35.0"));
    EXPECT_EQ(GetFirebirdVersion(&connection), QueryValue(database, EngineVersionSelect));
}

} // namespace
