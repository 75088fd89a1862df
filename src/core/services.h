#pragma once

class FirebirdConnection;
class HttpClient;
class UserInterface;
struct RunState;

// What the steps of a run work with: the run's state, the person, the update server and the
// database, all owned by the workflow for the life of the program.
struct Services {
    RunState& Run;
    UserInterface& Ui;
    HttpClient& Http;
    FirebirdConnection& Connection;
};
