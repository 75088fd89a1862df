#include "net/backgroundfetch.h"

#include "core/stoprequest.h"
#include "core/userinterface.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr std::chrono::milliseconds EventInterval(250);

// Thrown on the fetch's thread when the fetch is dropped: it only ends the transfers.
struct Cancelled {};

} // namespace

BackgroundFetch::BackgroundFetch(HttpClient& client, UserInterface& ui,
                                 const std::vector<HttpRequest*>& requests)
    : Client(client), Ui(ui), Queue(requests.begin(), requests.end()), Total(requests.size()) {
    try {
        Held.emplace(Client);
    } catch (const std::exception&) {
        // Told where the caller waits, as a request made there would have been.
        Failure = std::current_exception();
        Finished = true;
        return;
    }
    Worker = std::thread(&BackgroundFetch::Work, this);
}

BackgroundFetch::~BackgroundFetch() {
    Cancelled = true;
    if (Worker.joinable())
        Client.Wake();
    Join();
}

void BackgroundFetch::Join() {
    if (Worker.joinable())
        Worker.join();
    Held.reset();
}

void BackgroundFetch::Work() {
    HttpClient::Observer observer;
    observer.Ended = [this](HttpRequest& request) {
        const std::lock_guard guard(Lock);
        Ended.push_back(&request);
        Changed.notify_all();
    };
    std::exception_ptr failure;
    try {
        Client.Drive(Queue, static_cast<int>(Queue.size()), observer, [this] {
            if (Cancelled)
                throw ::Cancelled();
        });
    } catch (const ::Cancelled&) {
    } catch (...) {
        failure = std::current_exception();
    }
    const std::lock_guard guard(Lock);
    Failure = failure;
    Finished = true;
    Changed.notify_all();
}

void BackgroundFetch::Wait(const HttpRequest& request) {
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    std::unique_lock guard(Lock);
    const auto ended = [this, &request] {
        return std::find(Ended.begin(), Ended.end(), &request) != Ended.end();
    };
    while (!ended() && !Finished) {
        Changed.wait_for(guard, EventInterval);
        if (sinceEvents.elapsed() < EventInterval.count())
            continue;
        guard.unlock();
        Ui.ProcessEvents();
        ThrowIfStopped();
        sinceEvents.restart();
        guard.lock();
    }
    const bool answered = ended();
    const bool over = Finished || Ended.size() == Total;
    guard.unlock();
    if (over)
        Join();
    if (!answered && Failure)
        std::rethrow_exception(Failure);
}
