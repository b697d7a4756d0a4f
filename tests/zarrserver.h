#ifndef OXA_TESTS_ZARRSERVER_H
#define OXA_TESTS_ZARRSERVER_H

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

// A small HTTP server on 127.0.0.1 in a thread of its own, serving the files of a
// folder (with byte ranges), or misbehaving in one of a few ways.
class TestServer : public QThread
{
public:
    enum class Mode { files, silent, hugeLength, notFound };

    TestServer(const QString &root, Mode mode, int failFirst = 0) : root_(root), mode_(mode), failFirst_(failFirst)
    {
        start();
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return listening_; });
    }
    ~TestServer() override
    {
        quit();
        wait();
    }

    QString address(const QString &path = QString()) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(port_).arg(path);
    }
    int requests() const { return requests_.load(); }

protected:
    void run() override
    {
        QHash<QTcpSocket *, QByteArray> pending;
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, &pending] {
                    pending[s] += s->readAll();
                    answer(s, pending[s]);
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, [s, &pending] {
                    pending.remove(s);
                    s->deleteLater();
                });
            }
        });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            port_ = server.serverPort();
            listening_ = true;
        }
        ready_.notify_all();
        exec();
        // The sockets go with the server, without telling anyone.
        for (QTcpSocket *s : server.findChildren<QTcpSocket *>())
            s->disconnect();
    }

private:
    static QByteArray head(const char *status, qint64 length, const QByteArray &extra = QByteArray())
    {
        return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Length: " + QByteArray::number(length) + "\r\n" + extra
            + "\r\n";
    }

    void answer(QTcpSocket *s, QByteArray &buffer)
    {
        for (qsizetype end = buffer.indexOf("\r\n\r\n"); end >= 0; end = buffer.indexOf("\r\n\r\n")) {
            const QByteArray request = buffer.left(end);
            buffer.remove(0, end + 4);
            const int n = ++requests_;
            if (mode_ == Mode::silent)
                return;
            if (n <= failFirst_) {
                s->write(head("503 Service Unavailable", 0));
                continue;
            }
            if (mode_ == Mode::notFound) {
                s->write(head("404 Not Found", 0));
                continue;
            }
            if (mode_ == Mode::hugeLength) {
                s->write(head("200 OK", qint64(1) << 40) + QByteArray(4096, 'x'));
                continue;
            }
            const QList<QByteArray> lines = request.split('\n');
            const QByteArray path = QByteArray::fromPercentEncoding(lines.value(0).split(' ').value(1));
            QFile f(root_ + QString::fromUtf8(path));
            if (path.contains("..") || !QFileInfo(f.fileName()).isFile() || !f.open(QIODevice::ReadOnly)) {
                s->write(head("404 Not Found", 0));
                continue;
            }
            const QByteArray body = f.readAll();
            QByteArray range;
            for (const QByteArray &line : lines)
                if (line.toLower().startsWith("range: bytes="))
                    range = line.mid(13).trimmed();
            if (range.isEmpty()) {
                s->write(head("200 OK", body.size()) + body);
                continue;
            }
            const QList<QByteArray> ends = range.split('-');
            qint64 from = ends.value(0).toLongLong(), to = ends.value(1).toLongLong();
            if (ends.value(0).isEmpty()) {
                from = std::max<qint64>(0, body.size() - to);
                to = body.size() - 1;
            }
            to = std::min<qint64>(to, body.size() - 1);
            const QByteArray part = body.mid(from, to - from + 1);
            s->write(head("206 Partial Content", part.size(),
                          "Content-Range: bytes " + QByteArray::number(from) + '-' + QByteArray::number(to) + '/'
                              + QByteArray::number(body.size()) + "\r\n")
                     + part);
        }
    }

    const QString root_;
    const Mode mode_;
    const int failFirst_;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool listening_ = false;
    quint16 port_ = 0;
    std::atomic<int> requests_{0};
};

// Python's own file server over a folder, or none when Python is missing (or under the
// race checker, which cannot follow the fork that starts it).
class PythonServer
{
public:
    explicit PythonServer(const QString &root)
    {
#if !defined(__SANITIZE_THREAD__)
        if (!QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable())
            return;
        QTcpServer probe;  // a free port, given back for Python to take
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return;
        port_ = probe.serverPort();
        probe.close();
        proc_.start(QStringLiteral("/usr/bin/python3"),
                    {"-m", "http.server", "--bind", "127.0.0.1", "--directory", root, QString::number(port_)});
        if (!proc_.waitForStarted())
            return;
        for (int i = 0; i < 200 && proc_.state() == QProcess::Running; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port_);
            if (s.waitForConnected(100)) {
                up_ = true;
                return;
            }
            QThread::msleep(50);
        }
#else
        Q_UNUSED(root)
#endif
    }
    ~PythonServer()
    {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished();
        }
    }
    bool up() const
    {
        return up_;
    }
    QString address(const QString &path = QString()) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(port_).arg(path);
    }

private:
    QProcess proc_;
    quint16 port_ = 0;
    bool up_ = false;
};

#endif
