#pragma once
// One JACK client, owned: opened without ever starting a server, closed when its owner lets it
// go, and never waited for without a bound. libjack waits for its server with no time limit, so
// a server that froze (stopped, hung) would hold the caller for ever. Every call here that waits
// for the server therefore runs on a thread of its own while the caller waits at most
// kJackServerTimeout. A call that is late leaves the client lost: nothing is asked of the server
// again and the listener is shut out (JACK may still call back if the server wakes). Closing
// would wait for the same server, so the late call's thread closes the client if the call ever
// ends (the server woke or died); until then the client is left as it is.
//
// Threads. The calls that wait for the server come from any thread but JACK's own. JACK's
// callbacks reach the listener on JACK's threads from open until the client is closed or lost;
// the listener outlives the client.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

inline constexpr std::chrono::milliseconds kJackServerTimeout{2000};

// Why a call failed that the server did not answer in time.
std::string jackServerLate();

class JackClient {
public:
    // What JACK tells the owner, on JACK's threads. None of them may block.
    class Listener {
    public:
        virtual void process(jack_nframes_t frames) noexcept = 0;
        virtual void periodChanged(jack_nframes_t frames) noexcept = 0;
        virtual void rateChanged(jack_nframes_t rate) noexcept = 0;
        virtual void xrun() noexcept = 0;
        virtual void disconnected(jack_port_id_t from, jack_port_id_t to) noexcept = 0;
        virtual void serverShutDown(const char* reason) noexcept = 0;

    protected:
        ~Listener() = default;
    };

    // A client named `name`, exactly so when `exactName`, with JACK's callbacks hooked to
    // `listener` when there is one; null when none could be opened in time, and why in `why`.
    static std::unique_ptr<JackClient> open(const std::string& name, bool exactName,
                                            Listener* listener, std::string& why);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // For the calls that do not wait for the server; not once the client is lost.
    jack_client_t* handle() const { return m_client; }
    bool onProcessThread() const;
    // A call was late: the server does not answer.
    bool lost() const { return m_lost.load(); }

    // Each waits for the server at most kJackServerTimeout, and fails (false, null, -1) when it
    // refused or did not answer in time.
    bool activate();
    bool deactivate();
    jack_port_t* registerPort(const std::string& shortName, unsigned long flags);
    bool unregisterPort(jack_port_t* port);
    // JACK's result: 0, EEXIST for a connection that exists already, or a failure.
    int connect(const std::string& from, const std::string& to);
    // Whether another client of the server is called `name`.
    bool nameTaken(const std::string& name);

private:
    struct Dispatch;

    JackClient(jack_client_t* client, std::unique_ptr<Dispatch> dispatch);
    // What `call` returns, or `failure` when the client is lost or the call is late, which
    // loses it. The call runs on another thread: it must hold nothing of this object's.
    template <class Result>
    Result ask(std::function<Result()> call, Result failure);
    bool hook(); // false when JACK took none of the callbacks
    void lose();

    jack_client_t* const m_client;
    std::unique_ptr<Dispatch> m_dispatch;
    std::atomic<bool> m_lost{false};
};
