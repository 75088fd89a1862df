#pragma once

class UserInterface;

// For the length of a long operation: the hourglass, and the actions disabled so that nothing
// starts a second run while events are let run. Nested scopes keep both until the outermost ends.
class BusyScope {
public:
    explicit BusyScope(UserInterface& ui);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    UserInterface& Ui;
};
