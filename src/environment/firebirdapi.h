#pragma once

#include <QString>
#include <firebird/Interface.h>

// The pieces of Firebird's client interface that the connection and the service requests share:
// status objects and interfaces released with their scope, and Firebird's text for an error.

inline Firebird::IMaster* Master() {
    return Firebird::fb_get_master_interface();
}

// A status object of the client library, disposed with this wrapper.
template <typename Wrapper> class OwnedStatus : public Wrapper {
public:
    OwnedStatus() : Wrapper(Master()->getStatus()) {}
    OwnedStatus(const OwnedStatus&) = delete;
    OwnedStatus& operator=(const OwnedStatus&) = delete;
    ~OwnedStatus() { this->dispose(); }
};
// Turns every error of a call into a Firebird::FbException.
using ThrowingStatus = OwnedStatus<Firebird::ThrowStatusWrapper>;

// An interface of the client library, released when it goes out of scope. Releasing an open
// result set, statement or transaction closes it (a transaction is rolled back).
template <typename Interface> class Handle {
public:
    explicit Handle(Interface* object) : Object(object) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (Object)
            Object->release();
    }

    Interface* operator->() const { return Object; }
    Interface* Get() const { return Object; }
    // The object's closing call (close, free, commit, detach) has succeeded and released it.
    void Closed() { Object = nullptr; }

private:
    Interface* Object;
};

// A parameter block builder, disposed with its scope.
class ParameterBlock {
public:
    ParameterBlock(ThrowingStatus& status, unsigned kind)
        : Builder(Master()->getUtilInterface()->getXpbBuilder(&status, kind, nullptr, 0)) {}
    ParameterBlock(const ParameterBlock&) = delete;
    ParameterBlock& operator=(const ParameterBlock&) = delete;
    ~ParameterBlock() { Builder->dispose(); }

    Firebird::IXpbBuilder* operator->() const { return Builder; }

private:
    Firebird::IXpbBuilder* Builder;
};

// Firebird's own message for a failed call.
QString ErrorText(Firebird::IStatus* status);
