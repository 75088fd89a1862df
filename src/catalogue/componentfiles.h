#pragma once

#include "catalogue/requiredfiles.h"
#include "catalogue/varie.h"

#include <QList>
#include <QStringList>

class HttpClient;
class UserInterface;
struct RunState;

// Total size in KB of each component's taking-part files as the server announces them: the
// delta where one fits the installed file, else the package. A package that does not answer is
// named in a "File mancante: " message and adds nothing; a delta that does not answer is dropped
// for the package. The size queries run several at a time; the messages come in component order,
// then list order. Each answered size in bytes goes into the run's PackageBytes.
QList<quint32> GetComponentSizes(const QStringList& components, RunState& run, HttpClient& http,
                                 UserInterface& ui);

// A file of a ticked component that takes part in the update, with its checklist row.
struct SelectedFile {
    ChecklistRow Row;
    RequiredFile File;
};

// The files the update installs: ticked rows from the first, each row's taking-part files of its
// component in list order. Copies, since window events may run while they are worked through.
QList<SelectedFile> SelectedFiles(const RunState& run);
