#pragma once
// The user's request to stop the running keyboard action. The front end makes one per action and
// makes it the active one for as long as the action runs (Scope); every ZxExchange of the process
// looks at the active one at each message boundary: before it hands a message to the output
// port, and when the wait for a request's reply has ended. A message sent without a reply (a
// delete, the end of a send) has taken effect once it has left, so after it the action goes on
// to its next boundary.
//
// A request is honoured once: one ZxCancelledException carries it up through the layers, and
// whatever they do on the way to leave the keyboard whole (putting back a deleted song) talks
// to the keyboard undisturbed, also when the user asks again. Everything runs on the GUI thread;
// a signal handler must not call cancel() directly but post it to the event loop.

class ZxCancellation {
public:
    ZxCancellation() = default;
    ~ZxCancellation();
    ZxCancellation(const ZxCancellation&) = delete;
    ZxCancellation& operator=(const ZxCancellation&) = delete;

    // Asks the action to stop at its next message boundary; once asked, later calls change
    // nothing.
    void cancel();
    bool isRequested() const { return m_state != State::Idle; }
    // An exchange has thrown ZxCancelledException for the request.
    bool isHonoured() const { return m_state == State::Honoured; }

    // The cancellation the exchanges look at, or nullptr.
    static ZxCancellation* active();
    // At a message boundary: throws ZxCancelledException for a request of the active cancellation
    // not yet honoured, unless a Hold is in force.
    static void checkpoint();

    // Makes a cancellation the active one until the scope ends; scopes nest.
    class Scope {
    public:
        explicit Scope(ZxCancellation& cancellation);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ZxCancellation* m_previous;
    };

    // While a Hold lives no boundary honours a request; it waits for the first boundary after.
    // For what follows a change the keyboard has already made (reading the free memory after a
    // delete), so that an action whose change has happened is not reported as cancelled, and for
    // a put-back that must not be cut short.
    class Hold {
    public:
        Hold();
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
    };

private:
    enum class State { Idle, Requested, Honoured };
    State m_state = State::Idle;
};
