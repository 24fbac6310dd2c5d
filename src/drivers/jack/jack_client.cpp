#include "drivers/jack/jack_client.h"

#include "drivers/jack/jack_gate.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// The listener behind a gate: JACK's callbacks go through here, and the gate shuts them out of
// a listener that is going away while JACK may still call. A lost client keeps its dispatch
// for as long as the process lives.
struct JackClient::Dispatch {
    explicit Dispatch(Listener* to)
        : listener(to) {
        gate.open();
    }

    template <class Call>
    void forward(Call&& call) noexcept {
        if (gate.enter()) {
            call(*listener);
            gate.leave();
        }
    }

    Listener* const listener;
    JackGate gate;
};

namespace {

// What a call that was late leaves behind: whether it has ended since, under its own lock.
struct LateCall {
    std::mutex mutex;
    bool ended = false;
};

// libjack's calls share the process's sockets and registries, so each call starts after every
// late one that has ended, seen through its lock; a late one that never ends is left be.
std::mutex lateCallsMutex;
std::vector<std::shared_ptr<LateCall>> lateCalls;

void forgetEndedLateCalls() {
    const std::lock_guard lock(lateCallsMutex);
    std::erase_if(lateCalls, [](const std::shared_ptr<LateCall>& call) {
        const std::lock_guard ended(call->mutex);
        return call->ended;
    });
}

// Runs `call` on a thread of its own and waits for it at most kJackServerTimeout: its result,
// or nothing when it is late. A late call's result goes to `whenLate` on that thread once the
// call ends, if it ever does.
template <class Result>
std::optional<Result> withinTimeout(std::function<Result()> call,
                                    std::function<void(Result)> whenLate = {}) {
    struct Shared : LateCall {
        std::condition_variable done;
        std::optional<Result> result;
        bool late = false;
    };
    forgetEndedLateCalls();
    const auto shared = std::make_shared<Shared>();
    const auto run = [shared, call = std::move(call), whenLate = std::move(whenLate)] {
        Result result = call();
        std::unique_lock lock(shared->mutex);
        if (shared->late) {
            lock.unlock();
            if (whenLate) {
                whenLate(result);
            }
            lock.lock();
        }
        shared->result = result;
        shared->ended = true;
        shared->done.notify_all();
    };
    std::thread caller;
    try {
        caller = std::thread(run);
    } catch (const std::system_error&) {
        run(); // no thread to spare: unbounded, as libjack itself is
    }
    std::unique_lock lock(shared->mutex);
    shared->late = !shared->done.wait_for(lock, kJackServerTimeout, [&] { return shared->ended; });
    lock.unlock();
    // A call in time has as good as ended its thread; a late one is left to end, if ever.
    if (!shared->late) {
        if (caller.joinable()) {
            caller.join();
        }
        return shared->result;
    }
    caller.detach();
    const std::lock_guard registry(lateCallsMutex);
    lateCalls.push_back(shared);
    return std::nullopt;
}

std::string describeOpenFailure(jack_status_t status) {
    if ((status & JackServerFailed) != 0) {
        return "no JACK server is running; start one with jackd -d alsa, or run under pw-jack";
    }
    char text[64];
    std::snprintf(text, sizeof text, "the JACK server refused a client (status 0x%x)",
                  static_cast<unsigned>(status));
    return text;
}

// libjack prints its own errors to standard error; the driver reports them in its own words.
void silenceLibjack() {
    static const bool silenced = [] {
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        return true;
    }();
    (void)silenced;
}

} // namespace

std::string jackServerLate() {
    return "the JACK server did not answer within " +
           std::to_string(kJackServerTimeout.count() / 1000) + " s (is it stopped?)";
}

std::unique_ptr<JackClient> JackClient::open(const std::string& name, bool exactName,
                                             Listener* listener, std::string& why) {
    silenceLibjack();
    struct Opened {
        jack_client_t* client;
        jack_status_t status;
    };
    const auto options =
        static_cast<jack_options_t>(JackNoStartServer | (exactName ? JackUseExactName : 0));
    const std::optional<Opened> opened = withinTimeout<Opened>(
        [name, options] {
            jack_status_t status{};
            jack_client_t* client = jack_client_open(name.c_str(), options, &status);
            return Opened{client, status};
        },
        [](Opened late) {
            if (late.client != nullptr) {
                jack_client_close(late.client); // nobody took it
            }
        });
    if (!opened) {
        why = jackServerLate();
        return nullptr;
    }
    if (opened->client == nullptr) {
        why = describeOpenFailure(opened->status);
        // libjack fails an exact open of a name in use with no more than a server error.
        std::string ignored;
        if (exactName && (opened->status & JackServerFailed) == 0) {
            if (const auto probe = open(name + "-probe", false, nullptr, ignored);
                probe && probe->nameTaken(name)) {
                why = "the JACK client name '" + name + "' is taken by another client";
            }
        }
        return nullptr;
    }
    std::unique_ptr<JackClient> client(
        new JackClient(opened->client, std::make_unique<Dispatch>(listener)));
    if (listener != nullptr && !client->hook()) {
        why = "the JACK client could not be set up";
        return nullptr;
    }
    return client;
}

JackClient::JackClient(jack_client_t* client, std::unique_ptr<Dispatch> dispatch)
    : m_client(client)
    , m_dispatch(std::move(dispatch)) {}

JackClient::~JackClient() {
    // Closing deactivates first: no callback runs once it has returned, whatever it answered.
    if (!lost() && withinTimeout<int>([client = m_client] { return jack_client_close(client); })) {
        return;
    }
    lose();
    // Left to JACK with a dispatch that reaches nobody, kept for the life of the process (never
    // destroyed: JACK's threads may call it as the process ends).
    static std::mutex keeping;
    static auto& kept = *new std::vector<std::unique_ptr<Dispatch>>;
    const std::lock_guard lock(keeping);
    kept.push_back(std::move(m_dispatch));
}

bool JackClient::onProcessThread() const {
    // A lost client's threads are shut out, and its handle may be closed already.
    return !lost() && pthread_equal(jack_client_thread_id(m_client), pthread_self()) != 0;
}

template <class Result>
Result JackClient::ask(std::function<Result()> call, Result failure) {
    if (m_lost.load()) {
        return failure;
    }
    // Should the call that lost the client ever end, its thread closes the client, which
    // nothing touches once it is lost: the server forgets it, and libjack ends its threads.
    if (const std::optional<Result> result = withinTimeout<Result>(
            std::move(call), [client = m_client](Result) { jack_client_close(client); })) {
        return *result;
    }
    lose();
    return failure;
}

void JackClient::lose() {
    m_lost = true;
    m_dispatch->gate.closeAndWait();
}

bool JackClient::activate() {
    return ask<int>([client = m_client] { return jack_activate(client); }, -1) == 0;
}

bool JackClient::deactivate() {
    return ask<int>([client = m_client] { return jack_deactivate(client); }, -1) == 0;
}

jack_port_t* JackClient::registerPort(const std::string& shortName, unsigned long flags) {
    return ask<jack_port_t*>(
        [client = m_client, shortName, flags] {
            return jack_port_register(client, shortName.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
        },
        nullptr);
}

bool JackClient::unregisterPort(jack_port_t* port) {
    return ask<int>([client = m_client, port] { return jack_port_unregister(client, port); }, -1) ==
           0;
}

int JackClient::connect(const std::string& from, const std::string& to) {
    return ask<int>(
        [client = m_client, from, to] { return jack_connect(client, from.c_str(), to.c_str()); },
        -1);
}

bool JackClient::nameTaken(const std::string& name) {
    return ask<bool>(
        [client = m_client, name] {
            char* uuid = jack_get_uuid_for_client_name(client, name.c_str());
            jack_free(uuid);
            return uuid != nullptr;
        },
        false);
}

bool JackClient::hook() {
    // Setting callbacks waits for nothing: libjack keeps them in the client.
    void* const arg = m_dispatch.get();
    jack_on_info_shutdown(
        m_client,
        [](jack_status_t, const char* reason, void* to) {
            static_cast<Dispatch*>(to)->forward(
                [reason](Listener& l) { l.serverShutDown(reason); });
        },
        arg);
    return jack_set_process_callback(
               m_client,
               [](jack_nframes_t frames, void* to) {
                   static_cast<Dispatch*>(to)->forward(
                       [frames](Listener& l) { l.process(frames); });
                   return 0;
               },
               arg) == 0 &&
           jack_set_buffer_size_callback(
               m_client,
               [](jack_nframes_t frames, void* to) {
                   static_cast<Dispatch*>(to)->forward(
                       [frames](Listener& l) { l.periodChanged(frames); });
                   return 0;
               },
               arg) == 0 &&
           jack_set_sample_rate_callback(
               m_client,
               [](jack_nframes_t rate, void* to) {
                   static_cast<Dispatch*>(to)->forward(
                       [rate](Listener& l) { l.rateChanged(rate); });
                   return 0;
               },
               arg) == 0 &&
           jack_set_xrun_callback(
               m_client,
               [](void* to) {
                   static_cast<Dispatch*>(to)->forward([](Listener& l) { l.xrun(); });
                   return 0;
               },
               arg) == 0 &&
           jack_set_port_connect_callback(
               m_client,
               [](jack_port_id_t from, jack_port_id_t to, int connected, void* dispatch) {
                   if (connected == 0) {
                       static_cast<Dispatch*>(dispatch)->forward(
                           [from, to](Listener& l) { l.disconnected(from, to); });
                   }
               },
               arg) == 0;
}
