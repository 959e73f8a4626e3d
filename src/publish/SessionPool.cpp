#include "publish/SessionPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "publish/FtpClient.h"
#include "publish/Retry.h"
#include "publish/TcpConnection.h"

namespace zor::publish {

namespace {

// What a worker tells the calling thread.
struct Event {
    enum Kind { Opened, NotOpened, Begun, Retrying, Done, Failed, Ended };
    Event(Kind k, qsizetype i = -1, QString d = {}, std::exception_ptr e = {})
        : kind(k), index(i), digest(std::move(d)), error(std::move(e)) {}

    Kind kind;
    qsizetype index;
    QString digest;
    std::exception_ptr error;
    bool turnedAway = false;  // NotOpened: the server refused the session
    int attempt = 0, of = 0;  // Retrying: the retry and how many there may be
    bool retried = false;     // Done: after a retry
};

// Whether a failed log-in of a further session means the server will not take that many: it
// said so (421, 530), refused the connection or dropped it. A time-out, a handshake that
// failed or an answer that makes no sense says nothing of how many sessions it takes.
bool turnedAway(const FtpError& e) {
    if (e.replyCode() == 421 || e.replyCode() == 530) {
        return true;
    }
    if (dynamic_cast<const TlsHandshakeFailed*>(&e)) {
        return false;
    }
    return dynamic_cast<const ConnectionRefused*>(&e) || dynamic_cast<const ConnectionLost*>(&e);
}

using Confirmed = std::function<void(qsizetype index, const QString& digest)>;

class Pool {
public:
    Pool(RemoteClient& first, const QList<Transfer>& transfers, TransferDirection direction,
         bool stopAtFirstFailure, const ProgressFn& report, Stage stage, const Confirmed& confirmed,
         int retries)
        : first_(first),
          transfers_(transfers),
          direction_(direction),
          stopAtFirstFailure_(stopAtFirstFailure),
          report_(report),
          stage_(stage),
          confirmed_(confirmed),
          retries_(retries),
          firstProgress_(first.Progress),
          firstPump_(first.Pump) {}

    ~Pool() { stopAll(); }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    PoolOutcome run(int extra, const QString& folder);

private:
    // The transfer a session moves now, and its bytes so far.
    struct Moved {
        std::atomic<qsizetype> index{-1};
        std::atomic<qint64> current{0};
        void begin(qsizetype i) {
            current = 0;
            index = i;
        }
        void end() { index = -1; }
    };

    // Worker threads and the calling thread alike.
    qsizetype take();
    // An upload's session takes the one after it too, and gets it ready meanwhile; a session
    // that takes no more gives that one back, for another to move.
    qsizetype reserve();
    void giveBack(RetryingTransfer& mover, qsizetype index);
    bool stopped();
    void post(Event event);
    QString move(RetryingTransfer& mover, const Transfer& t, qsizetype next);
    // The bytes transfer `index` has moved: as its session counts them while it runs, all of
    // it once over.
    qint64 movedOf(qsizetype index) const;

    // A worker thread: the further session in `slot` (from 1).
    void worker(int slot, const QString& folder);

    // The calling thread.
    void prepareSessions(int extra);
    void takeOverFirst();
    void giveBackFirst();
    void startWorkers(int extra, const QString& folder);
    void runSessions();
    bool moveOwnNext();
    void waitForEvents();
    void handleEvents(bool inTransfer);
    void handle(Event& e, bool inTransfer);
    void passOnUnrecorded();
    void record(qsizetype index, const QString& digest);
    void announce(qsizetype index);
    void showMoved();
    void fail(std::exception_ptr error);
    void stopSessions();
    void stopAll();
    void stopAfterError();

    RemoteClient& first_;
    const QList<Transfer>& transfers_;
    TransferDirection direction_;
    bool stopAtFirstFailure_;
    const ProgressFn& report_;
    Stage stage_;
    const Confirmed& confirmed_;
    const int retries_;
    // The first client's own progress and pump, taken over while the sessions run.
    const std::function<void(qint64)> firstProgress_;
    const std::function<void()> firstPump_;

    // Shared with the workers.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    qsizetype next_ = 0;
    std::deque<qsizetype> givenBack_;                     // taken first
    bool stop_ = false;                                   // no more transfers are handed out
    std::atomic<bool> cancel_{false};                     // every session stops what it does
    std::vector<std::unique_ptr<Moved>> moved_;           // the first session's, then each worker's
    std::vector<std::unique_ptr<RemoteClient>> clients_;  // the further sessions, one a worker
    std::vector<std::thread> threads_;

    // The calling thread's own.
    std::unique_ptr<RetryingTransfer> own_;  // the first session's transfers
    qsizetype ownNext_ = -1;                 // the one it took after its running one
    PoolOutcome outcome_;
    int started_ = 0;         // transfers announced
    int running_ = 0;         // workers not ended yet
    qsizetype shown_ = -1;    // the transfer announced last
    bool firstTakes_ = true;  // the first session takes transfers of its own
    // Confirmations seen while the first session's own transfer ran: passed on after it, so
    // that what they cause (a settings store that cannot write) never counts as that
    // transfer's failure.
    std::deque<Event> unrecorded_;
};

qsizetype Pool::take() {
    const std::lock_guard lock(mutex_);
    if (stop_) {
        return -1;
    }
    if (!givenBack_.empty()) {
        const qsizetype i = givenBack_.front();
        givenBack_.pop_front();
        return i;
    }
    if (next_ >= transfers_.size()) {
        return -1;
    }
    return next_++;
}

// Only while every session can still have a transfer of its own, and only where it helps.
qsizetype Pool::reserve() {
    if (direction_ != TransferDirection::Upload || !first_.PreparesUploads()) {
        return -1;
    }
    {
        const std::lock_guard lock(mutex_);
        if (transfers_.size() - next_ <= static_cast<qsizetype>(moved_.size())) {
            return -1;
        }
    }
    return take();
}

// Whatever the session got ready for it is undone before another session may take it.
void Pool::giveBack(RetryingTransfer& mover, qsizetype index) {
    if (index < 0) {
        return;
    }
    mover.forgetExpected();
    {
        const std::lock_guard lock(mutex_);
        givenBack_.push_back(index);
    }
    wake_.notify_one();
}

bool Pool::stopped() {
    const std::lock_guard lock(mutex_);
    return stop_;
}

void Pool::post(Event event) {
    {
        const std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    wake_.notify_one();
}

// Moves one transfer, with its retries, `next` to follow; the digest of what was sent for an
// upload.
QString Pool::move(RetryingTransfer& mover, const Transfer& t, qsizetype next) {
    if (direction_ == TransferDirection::Upload) {
        mover.expect(next >= 0 ? &transfers_[next] : nullptr);
        return mover.upload(t);
    }
    mover.download(t);
    return {};
}

qint64 Pool::movedOf(qsizetype index) const {
    for (const auto& m : moved_) {
        if (m->index == index) {
            return m->current;
        }
    }
    return std::max<qint64>(transfers_[index].size, 0);
}

void Pool::worker(int slot, const QString& folder) {
    Moved& moved = *moved_[static_cast<size_t>(slot)];
    RemoteClient& ftp = *clients_[static_cast<size_t>(slot - 1)];
    ftp.Pump = [this] {
        if (cancel_) {
            throw Cancelled();
        }
    };
    ftp.Progress = [&moved](qint64 bytes) { moved.current = bytes; };
    try {
        ftp.OpenSession();
        if (!folder.isEmpty()) {
            ftp.ChangeFolder(folder);
        }
    } catch (const Cancelled&) {
        post(Event(Event::Ended));
        return;
    } catch (const FtpError& e) {
        Event event(Event::NotOpened);
        event.turnedAway = turnedAway(e);
        post(std::move(event));
        post(Event(Event::Ended));
        return;
    } catch (...) {
        post(Event(Event::NotOpened));
        post(Event(Event::Ended));
        return;
    }
    post(Event(Event::Opened));
    qsizetype current = -1;
    RetryingTransfer mover(ftp, folder, retries_,
                           [this, &current](int attempt, int of, const QString&) {
                               Event e(Event::Retrying, current);
                               e.attempt = attempt;
                               e.of = of;
                               post(std::move(e));
                           });
    for (qsizetype i = take(), next = -1; i >= 0; i = next >= 0 ? next : take()) {
        next = reserve();
        const Transfer& t = transfers_[i];
        current = i;
        moved.begin(i);
        post(Event(Event::Begun, i));
        try {
            QString digest = move(mover, t, next);
            moved.end();
            Event done(Event::Done, i, std::move(digest));
            done.retried = mover.retried();
            post(std::move(done));
        } catch (const Cancelled&) {
            moved.end();
            break;
        } catch (...) {
            moved.end();
            const std::exception_ptr failure = std::current_exception();
            try {
                giveBack(mover, next);
            } catch (...) {  // a cancel meanwhile: the file is nobody's now
            }
            post(Event(Event::Failed, i, QString(), failure));
            break;
        }
    }
    try {
        if (ftp.IsConnected()) {
            ftp.CloseSession();
        }
    } catch (...) {
    }
    post(Event(Event::Ended));
}

PoolOutcome Pool::run(int extra, const QString& folder) {
    prepareSessions(extra);
    // However the run ends, every worker has ended before the first client is given back.
    struct GiveBack {
        Pool& pool;
        ~GiveBack() { pool.giveBackFirst(); }
    } giveBack{*this};
    takeOverFirst();
    own_ = std::make_unique<RetryingTransfer>(
        first_, folder, retries_, [this](int attempt, int of, const QString& name) {
            if (report_) {
                report_(Stage::Retrying, attempt, of, name, -1);
            }
        });
    try {
        startWorkers(extra, folder);
        runSessions();
    } catch (...) {
        stopAfterError();
        throw;
    }
    stopAll();
    return outcome_;
}

// The bytes of each session, and a client for each further one with the settings of the
// first: taken here, before any worker runs beside it.
void Pool::prepareSessions(int extra) {
    moved_.push_back(std::make_unique<Moved>());
    for (int i = 1; i <= extra; ++i) {
        moved_.push_back(std::make_unique<Moved>());
        clients_.push_back(first_.FurtherSession());
    }
}

// While the sessions run, the first session's own transfers show the bytes of all sessions,
// and whenever it lets events run it takes in what the workers said.
void Pool::takeOverFirst() {
    Moved& own = *moved_.front();
    first_.Progress = [&own](qint64 bytes) { own.current = bytes; };
    first_.Pump = [this] {
        handleEvents(true);
        showMoved();
        if (firstPump_) {
            firstPump_();
        }
    };
}

void Pool::giveBackFirst() {
    first_.Progress = firstProgress_;
    first_.Pump = firstPump_;
    // What a further session learned of the server is kept as the first one's would be.
    auto* first = dynamic_cast<FtpClient*>(&first_);
    for (const auto& client : clients_) {
        if (const auto* further = dynamic_cast<const FtpClient*>(client.get()); first && further) {
            first->AdoptHabits(further->Habits);
        }
    }
}

void Pool::startWorkers(int extra, const QString& folder) {
    running_ = extra;
    for (int i = 1; i <= extra; ++i) {
        threads_.emplace_back([this, i, folder] { worker(i, folder); });
    }
}

// What the workers said, then the first session's next transfer while it takes any; once it
// takes none, waiting until every worker has ended.
void Pool::runSessions() {
    for (;;) {
        handleEvents(false);
        if (moveOwnNext()) {
            continue;
        }
        if (running_ == 0) {
            break;
        }
        waitForEvents();
    }
    handleEvents(false);
}

// The first session moves the next transfer not taken yet. False when it took none: none is
// left, or one of its own failed and it takes no more.
bool Pool::moveOwnNext() {
    if (!firstTakes_) {
        return false;
    }
    if (stopped()) {
        giveBack(*own_, std::exchange(ownNext_, -1));
        return false;
    }
    // Kept asking while workers run: a session that stops gives its next transfer back.
    const qsizetype i = ownNext_ >= 0 ? std::exchange(ownNext_, -1) : take();
    if (i < 0) {
        return false;
    }
    ownNext_ = reserve();
    Moved& own = *moved_.front();
    own.begin(i);
    announce(i);
    try {
        const QString digest = move(*own_, transfers_[i], ownNext_);
        own.end();
        outcome_.retried += own_->retried() ? 1 : 0;
        record(i, digest);
    } catch (const Cancelled&) {
        own.end();
        throw;
    } catch (const ZorError&) {
        own.end();
        firstTakes_ = false;
        const std::exception_ptr failure = std::current_exception();
        giveBack(*own_, std::exchange(ownNext_, -1));
        fail(failure);
    }
    return true;
}

// Until a worker says something, or a pacing interval at most; then the window's events.
void Pool::waitForEvents() {
    {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, Pacer::interval, [this] { return !events_.empty(); });
    }
    letEventsRun(first_);
}

// Whatever the workers said so far; confirmations are passed on here, on this thread, and
// outside the first session's transfers.
void Pool::handleEvents(bool inTransfer) {
    if (!inTransfer) {
        passOnUnrecorded();
    }
    std::deque<Event> events;
    {
        const std::lock_guard lock(mutex_);
        events.swap(events_);
    }
    for (Event& e : events) {
        handle(e, inTransfer);
    }
}

void Pool::handle(Event& e, bool inTransfer) {
    switch (e.kind) {
        case Event::Opened:
            ++outcome_.sessions;
            break;
        case Event::NotOpened:
            outcome_.fewerAccepted = outcome_.fewerAccepted || e.turnedAway;
            break;
        case Event::Begun:
            announce(e.index);
            break;
        case Event::Retrying:
            if (report_) {
                report_(Stage::Retrying, e.attempt, e.of, transfers_[e.index].name, -1);
            }
            break;
        case Event::Done:
            outcome_.retried += e.retried ? 1 : 0;
            if (inTransfer) {
                unrecorded_.push_back(std::move(e));
            } else {
                record(e.index, e.digest);
            }
            break;
        case Event::Failed:
            fail(e.error);
            break;
        case Event::Ended:
            --running_;
            break;
    }
}

void Pool::passOnUnrecorded() {
    while (!unrecorded_.empty()) {
        const Event e = std::move(unrecorded_.front());
        unrecorded_.pop_front();
        record(e.index, e.digest);
    }
}

void Pool::record(qsizetype index, const QString& digest) {
    ++outcome_.confirmed;
    confirmed_(index, digest);
}

void Pool::announce(qsizetype index) {
    ++started_;
    shown_ = index;
    if (report_) {
        report_(stage_, started_, static_cast<int>(transfers_.size()), transfers_[index].name,
                transfers_[index].size);
    }
    showMoved();
}

void Pool::showMoved() {
    if (firstProgress_ && shown_ >= 0) {
        firstProgress_(movedOf(shown_));
    }
}

void Pool::fail(std::exception_ptr error) {
    if (!outcome_.failure) {
        outcome_.failure = std::move(error);
    }
    if (stopAtFirstFailure_) {
        stopSessions();
    }
}

// No more transfers are handed out, and every session stops what it does.
void Pool::stopSessions() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cancel_ = true;
}

void Pool::stopAll() {
    stopSessions();
    for (std::thread& t : threads_) {
        if (t.joinable()) {
            t.join();
        }
    }
}

// A Cancel, or a confirmation that could not be recorded: every session stops, and what the
// others had confirmed meanwhile is passed on before the command ends.
void Pool::stopAfterError() {
    stopAll();
    try {
        handleEvents(false);
    } catch (...) {
    }
}

}  // namespace

PoolOutcome transferOverSessions(
    RemoteClient& first, int extra, const QString& folder, const QList<Transfer>& transfers,
    TransferDirection direction, bool stopAtFirstFailure, const ProgressFn& report, Stage stage,
    const std::function<void(qsizetype index, const QString& digest)>& confirmed, int retries) {
    extra = std::max(0, std::min<int>(extra, static_cast<int>(transfers.size()) - 1));
    Pool pool(first, transfers, direction, stopAtFirstFailure, report, stage, confirmed, retries);
    return pool.run(extra, folder);
}

}  // namespace zor::publish
