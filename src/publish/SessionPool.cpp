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

#include "publish/AccountSettings.h"
#include "publish/TcpConnection.h"

namespace zor::publish {

int sessionsWanted(const FtpAccount& account) {
    return std::clamp(account.sessions, 1, MaxSessions);
}

int rememberSessions(PublishJob& job, const PoolOutcome& outcome, int asked) {
    if (!outcome.fewerAccepted || outcome.sessions >= asked) {
        return 0;
    }
    storeSessions(job.settings, job.state.siteName, outcome.sessions);
    job.state.ftpAccount.sessions = outcome.sessions;
    return outcome.sessions;
}

QString fewerSessionsText(int sessions) {
    const int rest10 = sessions % 10;
    const QString word = sessions % 100 >= 11 && sessions % 100 <= 14 ? QStringLiteral("соединений")
                         : rest10 == 1                ? QStringLiteral("соединение")
                         : rest10 >= 2 && rest10 <= 4 ? QStringLiteral("соединения")
                                                      : QStringLiteral("соединений");
    return QStringLiteral(
               "Сервер принял только %1 %2 одновременно; для этого сайта столько их "
               "теперь и будет.")
        .arg(sessions)
        .arg(word);
}

void copySessionSettings(const FtpClient& from, FtpClient& to) {
    to.Host = from.Host;
    to.Port = from.Port;
    to.Username = from.Username;
    to.Password = from.Password;
    to.Timeout = from.Timeout;
    to.SendBeforeStartReply = from.SendBeforeStartReply;
    // A further session is never less protected than the first: with TLS there, TLS or nothing
    // here, so a server (or whoever sits between) cannot talk one session out of it and read the
    // password. Its certificate is taken as the first one's was, without asking again.
    to.Encryption = from.IsEncrypted() ? FtpEncryption::Required : FtpEncryption::Off;
    to.TrustedFingerprint = from.AcceptedFingerprint();
    to.TlsKnown = from.IsEncrypted();
    to.AskTrust = nullptr;
    to.AskPlainLogin = nullptr;
    to.SecuredLogin = nullptr;
}

namespace {

// What a worker tells the calling thread.
struct Event {
    enum Kind { Opened, NotOpened, Begun, Done, Failed, Ended };
    Event(Kind k, qsizetype i = -1, QString d = {}, std::exception_ptr e = {})
        : kind(k), index(i), digest(std::move(d)), error(std::move(e)) {}

    Kind kind;
    qsizetype index;
    QString digest;
    std::exception_ptr error;
    bool turnedAway = false;  // NotOpened: the server refused the session
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

class Pool {
public:
    Pool(FtpClient& first, const QList<Transfer>& transfers, TransferDirection direction,
         bool stopAtFirstFailure)
        : first_(first),
          transfers_(transfers),
          direction_(direction),
          stopAtFirstFailure_(stopAtFirstFailure) {}

    ~Pool() { stopAll(); }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    PoolOutcome run(int extra, const QString& folder, const ProgressFn& report, Stage stage,
                    const std::function<void(qsizetype, const QString&)>& confirmed);

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

    qsizetype take() {
        const std::lock_guard lock(mutex_);
        if (stop_ || next_ >= transfers_.size()) {
            return -1;
        }
        return next_++;
    }

    void post(Event event) {
        {
            const std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        wake_.notify_one();
    }

    // Moves one transfer over `ftp`; the digest of what was sent for an upload.
    QString move(FtpClient& ftp, const Transfer& t) {
        QString digest;
        if (direction_ == TransferDirection::Upload) {
            ftp.UploadFile(t.localPath, t.remotePath, &digest);
        } else {
            ftp.DownloadFile(t.remotePath, t.localPath, t.limit);
        }
        return digest;
    }

    void worker(int slot, const QString& folder);
    void stopAll() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cancel_ = true;
        for (std::thread& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }
    // The bytes transfer `index` has moved: as its session counts them while it runs, all of
    // it once over.
    qint64 movedOf(qsizetype index) const {
        for (const auto& m : moved_) {
            if (m->index == index) {
                return m->current;
            }
        }
        return std::max<qint64>(transfers_[index].size, 0);
    }

    FtpClient& first_;
    const QList<Transfer>& transfers_;
    TransferDirection direction_;
    bool stopAtFirstFailure_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    qsizetype next_ = 0;
    bool stop_ = false;                // no more transfers are handed out
    std::atomic<bool> cancel_{false};  // every session stops what it does
    std::vector<std::unique_ptr<Moved>> moved_;
    std::vector<std::unique_ptr<FtpClient>> clients_;  // the further sessions, one for each worker
    std::vector<std::thread> threads_;
};

void Pool::worker(int slot, const QString& folder) {
    Moved& moved = *moved_[static_cast<size_t>(slot)];
    FtpClient& ftp = *clients_[static_cast<size_t>(slot - 1)];
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
    for (qsizetype i = take(); i >= 0; i = take()) {
        const Transfer& t = transfers_[i];
        moved.begin(i);
        post(Event(Event::Begun, i));
        try {
            QString digest = move(ftp, t);
            moved.end();
            post(Event(Event::Done, i, std::move(digest)));
        } catch (const Cancelled&) {
            moved.end();
            break;
        } catch (...) {
            moved.end();
            post(Event(Event::Failed, i, QString(), std::current_exception()));
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

PoolOutcome Pool::run(int extra, const QString& folder, const ProgressFn& report, Stage stage,
                      const std::function<void(qsizetype, const QString&)>& confirmed) {
    PoolOutcome outcome;
    const int n = static_cast<int>(transfers_.size());
    int started = 0;
    int running = extra;  // workers not ended yet
    const auto progress = first_.Progress;
    const auto pump = first_.Pump;
    qsizetype shown = -1;  // the transfer announced last
    const auto showMoved = [&] {
        if (progress && shown >= 0) {
            progress(movedOf(shown));
        }
    };
    const auto announce = [&](qsizetype index) {
        ++started;
        shown = index;
        if (report) {
            report(stage, started, n, transfers_[index].name, transfers_[index].size);
        }
        showMoved();
    };
    const auto fail = [&](std::exception_ptr error) {
        if (!outcome.failure) {
            outcome.failure = std::move(error);
        }
        if (stopAtFirstFailure_) {
            {
                const std::lock_guard lock(mutex_);
                stop_ = true;
            }
            cancel_ = true;
        }
    };
    // Confirmations seen while the first session's own transfer ran: passed on after it, so
    // that what they cause (a settings store that cannot write) never counts as that
    // transfer's failure.
    std::deque<Event> unrecorded;
    const auto record = [&](const Event& e) {
        ++outcome.confirmed;
        confirmed(e.index, e.digest);
    };
    // Whatever the workers said so far; confirmations are passed on here, on this thread, and
    // outside the first session's transfers.
    const auto handleEvents = [&](bool inTransfer) {
        while (!inTransfer && !unrecorded.empty()) {
            const Event e = std::move(unrecorded.front());
            unrecorded.pop_front();
            record(e);
        }
        std::deque<Event> events;
        {
            const std::lock_guard lock(mutex_);
            events.swap(events_);
        }
        for (Event& e : events) {
            switch (e.kind) {
                case Event::Opened:
                    ++outcome.sessions;
                    break;
                case Event::NotOpened:
                    outcome.fewerAccepted = outcome.fewerAccepted || e.turnedAway;
                    break;
                case Event::Begun:
                    announce(e.index);
                    break;
                case Event::Done:
                    if (inTransfer) {
                        unrecorded.push_back(std::move(e));
                    } else {
                        record(e);
                    }
                    break;
                case Event::Failed:
                    fail(e.error);
                    break;
                case Event::Ended:
                    --running;
                    break;
            }
        }
    };

    moved_.push_back(std::make_unique<Moved>());
    for (int i = 1; i <= extra; ++i) {
        moved_.push_back(std::make_unique<Moved>());
        // Taken from the first session here, before any worker runs beside it.
        clients_.push_back(std::make_unique<FtpClient>());
        copySessionSettings(first_, *clients_.back());
    }
    Moved& own = *moved_.front();
    // The first session's own transfers show the bytes of all sessions.
    struct Restore {
        FtpClient& ftp;
        std::function<void(qint64)> progress;
        std::function<void()> pump;
        ~Restore() {
            ftp.Progress = std::move(progress);
            ftp.Pump = std::move(pump);
        }
    } restore{first_, progress, pump};
    first_.Progress = [&](qint64 bytes) { own.current = bytes; };
    first_.Pump = [&] {
        handleEvents(true);
        showMoved();
        if (pump) {
            pump();
        }
    };

    try {
        for (int i = 1; i <= extra; ++i) {
            threads_.emplace_back([this, i, folder] { worker(i, folder); });
        }
        bool firstTakes = true;
        for (;;) {
            handleEvents(false);
            if (firstTakes) {
                const qsizetype i = take();
                if (i >= 0) {
                    const Transfer& t = transfers_[i];
                    own.begin(i);
                    announce(i);
                    try {
                        const QString digest = move(first_, t);
                        own.end();
                        ++outcome.confirmed;
                        confirmed(i, digest);
                    } catch (const Cancelled&) {
                        own.end();
                        throw;
                    } catch (const ZorError&) {
                        own.end();
                        firstTakes = false;
                        fail(std::current_exception());
                    }
                    continue;
                }
                firstTakes = false;
            }
            if (running == 0) {
                break;
            }
            {
                std::unique_lock lock(mutex_);
                wake_.wait_for(lock, Pacer::interval, [this] { return !events_.empty(); });
            }
            letEventsRun(first_);
        }
        handleEvents(false);
    } catch (...) {
        // A Cancel, or a confirmation that could not be recorded: every session stops, and what
        // the others had confirmed meanwhile is passed on before the command ends.
        stopAll();
        try {
            handleEvents(false);
        } catch (...) {
        }
        throw;
    }
    stopAll();
    return outcome;
}

}  // namespace

PoolOutcome transferOverSessions(
    FtpClient& first, int extra, const QString& folder, const QList<Transfer>& transfers,
    TransferDirection direction, bool stopAtFirstFailure, const ProgressFn& report, Stage stage,
    const std::function<void(qsizetype index, const QString& digest)>& confirmed) {
    extra = std::max(0, std::min<int>(extra, static_cast<int>(transfers.size()) - 1));
    Pool pool(first, transfers, direction, stopAtFirstFailure);
    return pool.run(extra, folder, report, stage, confirmed);
}

}  // namespace zor::publish
