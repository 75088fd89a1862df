#include "catalogue/requiredfiles.h"

#include "environment/lowlevel.h"
#include "platform/executable.h"

QString InstalledPath(const RequiredFile& file) {
    return JoinPath(JoinPath(GetProgramFolder(), file.Subfolder), file.FileName);
}

void BuildRequiredFiles(RequiredFileList& files) {
    files = {
        {Component::Velmora, "Velmora.exe", "", true},
        {Component::Velmora, "BlokSites.dll", "", true},
        {Component::Velmora, "BlokTrade.dll", "", false},
        {Component::Velmora, "FoglioStileAssoSoftware.xsl", "", false},
        {Component::Velmora, "BlokClients.dll", "", false},
        {Component::Velmora, "BlokCore.dll", "", false},
        {Component::Velmora, "BlokJobs.dll", "", false},
        {Component::Velmora, "BlokStock.dll", "", false},
        {Component::Velmora, "BlokBroker.dll", "", false},
        {Component::Velmora, "BlokPrint.dll", "", false},
        {Component::Velmora, "BlokPlanner.dll", "", false},
        {Component::Dbexpress, "dbexpida41.dll", "", false},
        {Component::Firebird, "fbclient.dll", "", false},
        {Component::Firebird, "firebird.conf", "", true},
        {Component::Firebird, "firebird.msg", "", false},
        {Component::Firebird, "gbak.exe", "", true},
        {Component::Firebird, "gfix.exe", "", true},
        {Component::Firebird, "icudt63l.dat", "", false},
        {Component::Firebird, "icudt63.dll", "", false},
        {Component::Firebird, "icuin63.dll", "", false},
        {Component::Firebird, "icuuc63.dll", "", false},
        {Component::Firebird, "isql.exe", "", true},
        {Component::Firebird, "msvcp140.dll", "", false},
        {Component::Firebird, "vcruntime140.dll", "", false},
        {Component::Firebird, "zlib1.dll", "", false},
        {Component::Firebird, "fbintl.conf", "intl", true},
        {Component::Firebird, "fbintl.dll", "intl", true},
        {Component::Firebird, "engine13.dll", "plugins", true},
        {Component::Archiver, "7za.exe", "", false},
        {Component::Mappe, "atlas.html", "", false},
        {Component::Mappe, "WebView2Loader.dll", "", false},
        {Component::Orvanto, "borlndmm.dll", "", false},
        {Component::Orvanto, "cc32c280.dll", "", false},
        {Component::Orvanto, "cc32c280mt.dll", "", false},
        {Component::Orvanto, "libeay32.dll", "", false},
        {Component::Orvanto, "midas.dll", "", false},
        {Component::Orvanto, "openssl.exe", "", false},
        {Component::Orvanto, "ssleay32.dll", "", false},
        {Component::Orvanto, UpdaterExecutableName, "", false},
    };
}

bool IsFileIncluded(const RequiredFileList& files, const QString& fileName) {
    for (const RequiredFile& file : files) {
        if (file.FileName == fileName)
            return !file.OnlyWhenInstalled || FileExists(JoinPath(GetProgramFolder(), fileName));
    }
    return false;
}
