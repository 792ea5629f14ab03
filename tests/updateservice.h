#pragma once

// A local HTTPS stand-in for the update service, for the update tests. It runs
// on a thread of its own (so it answers while the test's thread waits or runs
// a modal dialog), records every request with its headers in arrival order
// and answers with a configurable status and body. Its certificates are fixed
// ones built into the test (tests/data, resource folder :/certificates); the
// good one is trusted by the process's default TLS configuration.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace testutil
{

struct ServiceRequest {
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return QByteArray();
    }
    bool hasHeader(const QByteArray &name) const
    {
        for (const auto &header : headers) {
            if (header.first.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
    // Names of the program's own headers ("User-*" but the client's
    // "User-Agent"), in arrival order.
    QList<QByteArray> customHeaderNames() const
    {
        QList<QByteArray> names;
        for (const auto &header : headers) {
            if (header.first.startsWith("User-") &&
                header.first.compare("User-Agent", Qt::CaseInsensitive) != 0)
                names.append(header.first);
        }
        return names;
    }
};

class TestUpdateService
{
  public:
    TestUpdateService() = default;
    TestUpdateService(const TestUpdateService &) = delete;
    TestUpdateService &operator=(const TestUpdateService &) = delete;
    ~TestUpdateService() { stop(); }

    // Why the service cannot run on this system; empty where it can.
    static QString unsupportedReason()
    {
#ifdef Q_OS_WIN
        // Under wine (8.0) Qt's Windows TLS backend cannot serve a
        // certificate: it looks up the certificate's chain with
        // CertFindChainInStore, which wine only stubs.
        if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            return QStringLiteral("under wine the Windows TLS backend cannot serve the test certificate "
                                  "(CertFindChainInStore is a stub there)");
#endif
        return QString();
    }

    // Reads the certificates, trusts the good one and starts listening on
    // 127.0.0.1. False with errorString set when that fails.
    bool start()
    {
        QSslCertificate badCert;
        QSslKey badKey;
        if (!readCertificate(QStringLiteral("good"), m_shared->cert, m_shared->key) ||
            !readCertificate(QStringLiteral("bad"), badCert, badKey))
            return false;
        m_shared->badCert = badCert;
        m_shared->badKey = badKey;
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificate(m_shared->cert);
        QSslConfiguration::setDefaultConfiguration(config);

        m_thread = std::make_unique<QThread>();
        m_server = new Server(m_shared);
        m_server->moveToThread(m_thread.get());
        QObject::connect(m_thread.get(), &QThread::finished, m_server, &QObject::deleteLater);
        m_thread->start();
        bool listening = false;
        QMetaObject::invokeMethod(
            m_server, [&] { listening = m_server->listen(QHostAddress::LocalHost); },
            Qt::BlockingQueuedConnection);
        if (!listening) {
            errorString = QStringLiteral("cannot listen on 127.0.0.1");
            return false;
        }
        m_port = m_server->serverPort();
        return true;
    }

    void stop()
    {
        if (!m_thread)
            return;
        QMetaObject::invokeMethod(
            m_server, [this] { m_server->close(); }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
        m_thread.reset();
    }

    QString endpoint() const
    {
        return QStringLiteral("https://127.0.0.1:%1/api.init.php").arg(m_port);
    }

    // An endpoint on a local port where nothing listens.
    static QString closedEndpoint()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        return QStringLiteral("https://127.0.0.1:%1/api.init.php").arg(port);
    }

    // Forgets the requests and connections seen; answers 200 with an empty
    // JSON object again, accepts every connection.
    void reset()
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->requests.clear();
        m_shared->connections = 0;
        m_shared->rejectFirst = 0;
        m_shared->silent = false;
        m_shared->answerDelayMs = 0;
        m_shared->status = 200;
        m_shared->body = "{}";
        m_shared->contentType = "application/json; charset=utf-8";
    }

    void setAnswer(int status, const QByteArray &body,
                   const QByteArray &contentType = "application/json; charset=utf-8")
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->status = status;
        m_shared->body = body;
        m_shared->contentType = contentType;
    }

    // The first n connections get a certificate nobody trusts: the client's
    // request fails as it would against an unreachable service.
    void setRejectFirst(int n)
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->rejectFirst = n;
    }

    // Requests are read but never answered.
    void setSilent(bool silent)
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->silent = silent;
    }

    // Answers each request only after delayMs.
    void setAnswerDelay(int delayMs)
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->answerDelayMs = delayMs;
    }

    int connections() const
    {
        QMutexLocker lock(&m_shared->mutex);
        return m_shared->connections;
    }

    QList<ServiceRequest> requests() const
    {
        QMutexLocker lock(&m_shared->mutex);
        return m_shared->requests;
    }

    // Waits, handling the calling thread's events, until at least n requests
    // arrived. False when they did not within the time given.
    bool waitForRequests(int n, int timeoutMs = 20000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (requests().size() < n) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(5);
        }
        return true;
    }

    QString errorString;

  private:
    struct Shared {
        QMutex mutex;
        QSslCertificate cert, badCert;
        QSslKey key, badKey;
        QList<ServiceRequest> requests;
        int connections = 0;
        int rejectFirst = 0;
        bool silent = false;
        int answerDelayMs = 0;
        int status = 200;
        QByteArray body = "{}";
        QByteArray contentType = "application/json; charset=utf-8";
    };

    class Server : public QTcpServer
    {
      public:
        explicit Server(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

      protected:
        void incomingConnection(qintptr descriptor) override
        {
            auto *socket = new QSslSocket(this);
            if (!socket->setSocketDescriptor(descriptor)) {
                delete socket;
                return;
            }
            bool reject = false;
            {
                QMutexLocker lock(&m_shared->mutex);
                reject = ++m_shared->connections <= m_shared->rejectFirst;
            }
            socket->setLocalCertificate(reject ? m_shared->badCert : m_shared->cert);
            socket->setPrivateKey(reject ? m_shared->badKey : m_shared->key);
            socket->setPeerVerifyMode(QSslSocket::VerifyNone);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QSslSocket::readyRead, socket,
                             [this, socket, buffer] { onData(socket, *buffer); });
            QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
            socket->startServerEncryption();
        }

      private:
        void onData(QSslSocket *socket, QByteArray &buffer)
        {
            buffer += socket->readAll();
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            buffer.clear();
            ServiceRequest request;
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            request.method = requestLine.value(0);
            request.path = requestLine.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            QByteArray response;
            int delayMs = 0;
            {
                QMutexLocker lock(&m_shared->mutex);
                m_shared->requests.append(request);
                if (m_shared->silent)
                    return;
                response = "HTTP/1.1 " + QByteArray::number(m_shared->status) +
                           " Answer\r\nContent-Type: " + m_shared->contentType +
                           "\r\nContent-Length: " + QByteArray::number(m_shared->body.size()) +
                           "\r\nConnection: close\r\n\r\n" + m_shared->body;
                delayMs = m_shared->answerDelayMs;
            }
            QTimer::singleShot(delayMs, socket, [socket, response] {
                socket->write(response);
                socket->disconnectFromHost();
            });
        }

        std::shared_ptr<Shared> m_shared;
    };

    bool readCertificate(const QString &name, QSslCertificate &cert, QSslKey &key)
    {
        QFile certFile(QStringLiteral(":/certificates/") + name + QStringLiteral(".crt"));
        QFile keyFile(QStringLiteral(":/certificates/") + name + QStringLiteral(".key"));
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            errorString = QStringLiteral("no certificate %1 among the test's resources").arg(name);
            return false;
        }
        cert = QSslCertificate(certFile.readAll(), QSsl::Pem);
        key = QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
        if (cert.isNull() || key.isNull()) {
            errorString = QStringLiteral("unreadable certificate or key ") + name;
            return false;
        }
        return true;
    }

    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::unique_ptr<QThread> m_thread;
    Server *m_server = nullptr;
    quint16 m_port = 0;
};

} // namespace testutil
