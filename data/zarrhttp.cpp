#include "data/zarrhttp.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex settingsMutex;
zarrhttp::Settings currentSettings;

// One request: what the caller asks, the network thread's working state, and the
// outcome, which the network thread writes and the caller reads under the fetcher's
// mutex.
struct Fetch {
    QUrl url;
    qint64 limit = 0;  // the most bytes taken
    qint64 from = 0, length = -1;  // a range when length >= 0; from < 0 counts from the end
    qint64 wholeLimit = 0;  // the most taken when the server answers a range with all
    std::shared_ptr<std::atomic<bool>> stopped;
    zarrhttp::Settings settings;
    // The network thread's own.
    int attempt = 0;
    QByteArray body;
    bool tooLarge = false;
    // The outcome.
    bool done = false;
    ZarrRead state = ZarrRead::fault;
    bool whole = false;
    const char *why = nullptr;
    QByteArray wholeBody;  // the caller's: the whole value a range was cut from
};

struct Outcome {
    ZarrRead state = ZarrRead::fault;
    QByteArray bytes;
    bool whole = false;
    const char *why = nullptr;
};

bool retryable(QNetworkReply::NetworkError e)
{
    switch (e) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
    case QNetworkReply::ProtocolFailure:
        return true;
    default:
        return false;
    }
}

// The requests of the process, run on the network thread; the one instance lives from
// the first request to the end of the application object.
class Fetcher : public QObject
{
    Q_OBJECT

public:
    // The fetcher, started when needed; null without an application object or after it ended.
    static Fetcher *get();
    // The fetcher when it runs, else null.
    static Fetcher *running();

    // Runs f and waits for its outcome, or until its store is stopped.
    Outcome fetch(const std::shared_ptr<Fetch> &f);
    // Wakes the waiting callers and the network thread: a store was stopped.
    void wake();

    Q_INVOKABLE void drain();
    Q_INVOKABLE void stop();

private:
    static void shutdown();
    void startSome();
    void start(const std::shared_ptr<Fetch> &f);
    void take(QNetworkReply *r, Fetch &f);
    void finished(QNetworkReply *r, const std::shared_ptr<Fetch> &f);
    void complete(const std::shared_ptr<Fetch> &f, ZarrRead state, const char *why);

    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Fetch>> incoming_;
    bool closed_ = false;
    // The network thread's own.
    QNetworkAccessManager *manager_ = nullptr;
    std::deque<std::shared_ptr<Fetch>> waiting_;
    std::vector<std::pair<QNetworkReply *, std::shared_ptr<Fetch>>> active_;
};

std::mutex instanceMutex;
Fetcher *instance = nullptr;
QThread *networkThread = nullptr;
bool ended = false;

Fetcher *Fetcher::get()
{
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (instance || ended)
        return ended ? nullptr : instance;
    if (!QCoreApplication::instance())
        return nullptr;
    networkThread = new QThread;
    networkThread->setObjectName(QStringLiteral("Zarr network"));
    instance = new Fetcher;
    instance->moveToThread(networkThread);
    networkThread->start();
    qAddPostRoutine(shutdown);
    return instance;
}

Fetcher *Fetcher::running()
{
    std::lock_guard<std::mutex> lock(instanceMutex);
    return ended ? nullptr : instance;
}

void Fetcher::shutdown()
{
    Fetcher *f = nullptr;
    QThread *t = nullptr;
    {
        std::lock_guard<std::mutex> lock(instanceMutex);
        ended = true;
        f = instance;
        std::swap(t, networkThread);
    }
    if (!t)
        return;
    QMetaObject::invokeMethod(f, "stop", Qt::BlockingQueuedConnection);
    t->quit();
    t->wait();
    delete t;
    // The fetcher itself stays (instance still names it): a reader may hold it, and
    // every request now ends at once.
}

Outcome Fetcher::fetch(const std::shared_ptr<Fetch> &f)
{
    Outcome out;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            out.why = skipReason::httpStopped;
            return out;
        }
        incoming_.push_back(f);
    }
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this, &f] { return f->done || f->stopped->load() || closed_; });
    if (!f->done) {
        out.why = skipReason::httpStopped;
        return out;
    }
    out.state = f->state;
    out.bytes = std::move(f->body);
    out.whole = f->whole;
    out.why = f->why;
    return out;
}

void Fetcher::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
    }
    done_.notify_all();
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void Fetcher::drain()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!incoming_.empty()) {
            waiting_.push_back(std::move(incoming_.front()));
            incoming_.pop_front();
        }
    }
    // Requests of a stopped store give their place up.
    for (const auto &[reply, f] : std::vector(active_))
        if (f->stopped->load())
            reply->abort();
    startSome();
}

void Fetcher::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    done_.notify_all();
    drain();
    for (const auto &[reply, f] : std::vector(active_)) {
        f->stopped->store(true);
        reply->abort();
    }
    for (const auto &f : waiting_)
        complete(f, ZarrRead::fault, skipReason::httpStopped);
    waiting_.clear();
    delete manager_;
    manager_ = nullptr;
}

void Fetcher::startSome()
{
    const int parallel = std::max(1, zarrhttp::settings().parallel);
    while (int(active_.size()) < parallel && !waiting_.empty()) {
        const std::shared_ptr<Fetch> f = std::move(waiting_.front());
        waiting_.pop_front();
        bool closed = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed = closed_;
        }
        if (closed || f->stopped->load())
            complete(f, ZarrRead::fault, skipReason::httpStopped);
        else
            start(f);
    }
}

void Fetcher::start(const std::shared_ptr<Fetch> &f)
{
    if (!manager_) {
        manager_ = new QNetworkAccessManager(this);
        manager_->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
        manager_->setAutoDeleteReplies(false);
    }
    QNetworkRequest request(f->url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(std::max(1, f->settings.timeoutMs));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // The bytes as stored: a compressed transfer would announce another length than it
    // gives, and byte ranges count the stored bytes.
    request.setRawHeader("Accept-Encoding", "identity");
    if (f->length >= 0) {
        const QByteArray range = f->from < 0 ? "bytes=-" + QByteArray::number(f->length)
                                             : "bytes=" + QByteArray::number(f->from) + '-'
                + QByteArray::number(f->from + std::max<qint64>(f->length, 1) - 1);
        request.setRawHeader("Range", range);
    }
    f->body.clear();
    f->tooLarge = false;
    QNetworkReply *r = manager_->get(request);
    active_.emplace_back(r, f);
    connect(r, &QNetworkReply::readyRead, this, [this, r, f] { take(r, *f); });
    connect(r, &QNetworkReply::finished, this, [this, r, f] { finished(r, f); });
}

void Fetcher::take(QNetworkReply *r, Fetch &f)
{
    if (!r->isOpen())
        return;  // aborted
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (f.tooLarge || (status != 200 && status != 206)) {
        r->readAll();  // an error page is not kept
        return;
    }
    const qint64 bound = status == 200 && f.length >= 0 ? f.wholeLimit : f.limit;
    const QVariant declared = r->header(QNetworkRequest::ContentLengthHeader);
    if ((declared.isValid() && declared.toLongLong() > bound) || f.body.size() + r->bytesAvailable() > bound) {
        f.tooLarge = true;
        r->abort();
        return;
    }
    f.body += r->readAll();
}

void Fetcher::finished(QNetworkReply *r, const std::shared_ptr<Fetch> &f)
{
    take(r, *f);
    for (auto it = active_.begin(); it != active_.end(); ++it)
        if (it->first == r) {
            active_.erase(it);
            break;
        }
    r->deleteLater();
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = r->error();
    const QVariant declared = r->header(QNetworkRequest::ContentLengthHeader);
    ZarrRead state = ZarrRead::fault;
    const char *why = nullptr;
    bool again = false;
    if (f->tooLarge) {
        why = skipReason::httpTooLarge;
    } else if (f->stopped->load()) {
        why = skipReason::httpStopped;
    } else if (status == 404 || status == 410) {
        state = ZarrRead::missing;
    } else if (error == QNetworkReply::NoError && (status == 200 || status == 206)) {
        // A body shorter than announced was cut short on the way.
        if (declared.isValid() && declared.toLongLong() != f->body.size()) {
            again = true;
            why = skipReason::httpServerError;
        } else {
            state = ZarrRead::data;
            f->whole = status == 200 && f->length >= 0;
        }
    } else if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        why = skipReason::httpTimeout;  // the transfer timeout aborts the reply
    } else if (status >= 500 || retryable(error)) {
        again = true;
        why = status >= 500 || error == QNetworkReply::RemoteHostClosedError ? skipReason::httpServerError
                                                                             : skipReason::httpUnreachable;
    } else if (error == QNetworkReply::InsecureRedirectError || error == QNetworkReply::TooManyRedirectsError) {
        why = skipReason::httpRedirect;
    } else if (error == QNetworkReply::SslHandshakeFailedError) {
        why = skipReason::httpSecure;
    } else if (status >= 400) {
        why = skipReason::httpRefused;
    } else {
        why = skipReason::httpUnreachable;
    }
    if (again && ++f->attempt < std::max(1, f->settings.attempts)) {
        const int pause = f->settings.firstPauseMs << std::min(f->attempt - 1, 10);
        QTimer::singleShot(pause, this, [this, f] {
            waiting_.push_front(f);
            startSome();
        });
    } else {
        complete(f, state, why);
    }
    startSome();
}

void Fetcher::complete(const std::shared_ptr<Fetch> &f, ZarrRead state, const char *why)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        f->done = true;
        f->state = state;
        f->why = why;
        if (state != ZarrRead::data)
            f->body.clear();
    }
    done_.notify_all();
}

class HttpStore : public ZarrStore
{
public:
    explicit HttpStore(const QString &address)
        : ZarrStore(address), base_(address), stopped_(std::make_shared<std::atomic<bool>>(false))
    {
        // Never credentials, and the keys are below the address's own path.
        base_.setUserInfo(QString());
        base_.setQuery(QString());
        base_.setFragment(QString());
        if (!base_.path().endsWith(u'/'))
            base_.setPath(base_.path() + u'/');
    }

    ZarrRead read(const QString &key, qint64 maxBytes, QByteArray &out, const char **why) const override
    {
        auto f = request(key);
        f->limit = maxBytes;
        return run(f, out, why);
    }

    ZarrRead readRange(const QString &key, qint64 offset, qint64 length, qint64 wholeLimit, QByteArray &out,
                       const char **why) const override
    {
        if (recalled(key, offset, length, out))
            return ZarrRead::data;
        auto f = request(key);
        f->from = offset;
        f->length = offset < 0 ? -offset : std::max<qint64>(length, 0);
        f->limit = f->length;
        f->wholeLimit = wholeLimit;
        const ZarrRead r = run(f, out, why);
        // A shard's index is read for each of its chunks: the ranges at either end of a
        // value are kept, as is a whole value from a server that ignores ranges.
        if (r == ZarrRead::data && offset <= 0 && !f->wholeBody.isEmpty())
            remember(key, f->wholeBody, true);
        else if (r == ZarrRead::data && offset <= 0)
            remember(key + (offset < 0 ? QStringLiteral("|-") : QStringLiteral("|+")) + QString::number(f->length), out,
                     false);
        return r;
    }

    void cancel() override
    {
        stopped_->store(true);
        if (Fetcher *fetcher = Fetcher::running())
            fetcher->wake();
    }

private:
    std::shared_ptr<Fetch> request(const QString &key) const
    {
        auto f = std::make_shared<Fetch>();
        QUrl relative;
        relative.setPath(key);
        f->url = base_.resolved(relative);
        f->stopped = stopped_;
        f->settings = zarrhttp::settings();
        return f;
    }

    ZarrRead run(const std::shared_ptr<Fetch> &f, QByteArray &out, const char **why) const
    {
        Fetcher *fetcher = Fetcher::get();
        if (!fetcher || !f->url.isValid()) {
            *why = fetcher ? skipReason::httpUnreachable : skipReason::httpStopped;
            return ZarrRead::fault;
        }
        Outcome o = fetcher->fetch(f);
        if (o.state == ZarrRead::fault)
            *why = o.why;
        if (o.state != ZarrRead::data)
            return o.state;
        if (o.whole) {
            // The server gave the whole value for a range: the range is cut from it.
            out = cut(o.bytes, f->from, f->length);
            f->wholeBody = std::move(o.bytes);
        } else {
            out = std::move(o.bytes);
        }
        return ZarrRead::data;
    }

    static QByteArray cut(const QByteArray &whole, qint64 offset, qint64 length)
    {
        const qint64 size = whole.size();
        const qint64 from = offset < 0 ? std::max<qint64>(0, size + offset) : std::min(offset, size);
        return whole.mid(from, offset < 0 ? -offset : length);
    }

    bool recalled(const QString &key, qint64 offset, qint64 length, QByteArray &out) const
    {
        const QString range = key + (offset < 0 ? QStringLiteral("|-") : QStringLiteral("|+"))
            + QString::number(offset < 0 ? -offset : length);
        std::lock_guard<std::mutex> lock(keptMutex_);
        for (auto it = kept_.begin(); it != kept_.end(); ++it) {
            if (it->key == range && offset <= 0) {
                out = it->bytes;
            } else if (it->key == key && it->whole) {
                out = cut(it->bytes, offset, length);
            } else {
                continue;
            }
            kept_.splice(kept_.begin(), kept_, it);
            return true;
        }
        return false;
    }

    void remember(const QString &key, const QByteArray &bytes, bool whole) const
    {
        std::lock_guard<std::mutex> lock(keptMutex_);
        if (bytes.size() > maxKeptBytes / 4)
            return;
        kept_.push_front(Kept{key, bytes, whole});
        keptBytes_ += bytes.size();
        while (keptBytes_ > maxKeptBytes || kept_.size() > maxKept) {
            keptBytes_ -= kept_.back().bytes.size();
            kept_.pop_back();
        }
    }

    struct Kept {
        QString key;
        QByteArray bytes;
        bool whole = false;
    };
    static constexpr qint64 maxKeptBytes = qint64(64) << 20;
    static constexpr std::size_t maxKept = 1024;

    QUrl base_;
    const std::shared_ptr<std::atomic<bool>> stopped_;
    mutable std::mutex keptMutex_;
    mutable std::list<Kept> kept_;  // most recently used first
    mutable qint64 keptBytes_ = 0;
};

}  // namespace

zarrhttp::Settings zarrhttp::settings()
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    return currentSettings;
}

void zarrhttp::setSettings(const Settings &s)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    currentSettings = s;
}

std::shared_ptr<ZarrStore> makeHttpStore(const QString &address)
{
    return std::make_shared<HttpStore>(address);
}

#include "zarrhttp.moc"
