#pragma once

class FileSystem;
class FirebirdConnection;
class HttpClient;
class RunLog;
class UserInterface;
struct RunState;

// What the steps of a run work with: the run's state, the person, the update server, the database
// the file system through which the installation is changed and the run log, all owned by the
// workflow for the life of the program.
struct Services {
    RunState& Run;
    UserInterface& Ui;
    HttpClient& Http;
    FirebirdConnection& Connection;
    FileSystem& Files;
    RunLog& Log;
};
