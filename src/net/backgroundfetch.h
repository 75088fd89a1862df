#pragma once

#include "net/httpclient.h"

#include <QElapsedTimer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class UserInterface;

// Requests that run on a thread of their own while the caller goes on with other work. They hold
// the client, and its connections, until the caller has waited for all of them; other requests are
// refused meanwhile. Dropping the fetch aborts what still runs and waits for its thread, on every
// path.
class BackgroundFetch {
public:
    BackgroundFetch(HttpClient& client, UserInterface& ui,
                    const std::vector<HttpRequest*>& requests);
    ~BackgroundFetch();
    BackgroundFetch(const BackgroundFetch&) = delete;
    BackgroundFetch& operator=(const BackgroundFetch&) = delete;

    // Waits until the request, one of those given, has ended, letting window events run every
    // 250 ms. Throws RunStopped when the run is asked to stop, and OrvantoError when the client
    // could not be had or the transfers could not run. Once every request has ended the thread is
    // over and the client free.
    void Wait(const HttpRequest& request);

private:
    void Work();
    void Join();

    HttpClient& Client;
    UserInterface& Ui;
    std::deque<HttpRequest*> Queue;
    size_t Total;
    std::optional<HttpClient::Claim> Held;
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<const HttpRequest*> Ended;
    bool Finished = false;
    std::exception_ptr Failure;
    std::atomic<bool> Cancelled = false;
    std::thread Worker;
};
