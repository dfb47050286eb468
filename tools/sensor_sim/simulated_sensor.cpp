// The simulated sensor's thread, its listening server, and what the tests ask of it.
#include "simulated_sensor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "sensor_link.h"

// Lives in the sensor's thread and owns the listening server.
class sensor_worker : public QObject
{
public:
    explicit sensor_worker(simulated_sensor &owner) : owner(owner) {}

    quint16 listen(const QHostAddress &address, quint16 port)
    {
        if (!server)
            make_server();
        if (!server->listen(address, port))
            return 0;
        size_receive_buffers(server->socketDescriptor(), owner.config());
        if (owner.config().full_backlog)
            fill_backlog(address, server->serverPort());
        return server->serverPort();
    }

    // Up as it was for the configured time, then down, every link dropped, then back with the
    // log it has after a restart.
    void restart()
    {
        QTimer::singleShot(owner.config().linger_after_shutdown_ms, this, [this] {
            server->close();
            for (QTcpSocket *socket : findChildren<QTcpSocket *>())
                socket->abort();
            QTimer::singleShot(owner.config().restart_after_ms, this, [this] {
                sensor_config config = owner.config();
                if (!config.log_after_restart.isEmpty())
                    config.log = config.log_after_restart;
                config.silent = config.silent || config.silent_after_restart;
                owner.set_config(config);
                listen(owner.listening_address, owner.listening_port);
            });
        });
    }

private:
    // More connections than the listening queue holds (Qt asks for 50), none accepted: the
    // system drops the handshakes that come after.
    void fill_backlog(const QHostAddress &address, quint16 port)
    {
        server->pauseAccepting();
        for (int i = 0; i < 64; ++i)
            (new QTcpSocket(this))->connectToHost(address, port);
    }

    void make_server()
    {
        server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server->nextPendingConnection()) {
                owner.record_connection();
                serve_connection(socket, owner, this);
            }
        });
    }

    simulated_sensor &owner;
    QTcpServer *server = nullptr;
};

simulated_sensor::simulated_sensor(const sensor_config &config, quint16 port,
                                   const QString &record_dir, const QHostAddress &address)
    : current(config), record_dir(record_dir), listening_address(address), thread(new QThread)
{
    worker = new sensor_worker(*this);
    worker->moveToThread(thread.get());
    QObject::connect(thread.get(), &QThread::finished, worker, &QObject::deleteLater);
    thread->start();
    requested_port = port;
    listening_port = listen_in_thread();
}

quint16 simulated_sensor::listen_in_thread()
{
    // A queued call and a wait: invokeMethod takes a functor only from Qt 5.10 on.
    quint16 bound = 0;
    QSemaphore done;
    QTimer::singleShot(0, worker, [this, &bound, &done] {
        bound = worker->listen(listening_address, requested_port);
        done.release();
    });
    done.acquire();
    return bound;
}

void simulated_sensor::restart()
{
    worker->restart();
}

bool simulated_sensor::wait_listening(int timeout_ms)
{
    return wait_until(
        [this] {
            if (!is_listening())
                listening_port = listen_in_thread();
            return is_listening();
        },
        timeout_ms);
}

simulated_sensor::~simulated_sensor()
{
    thread->quit();
    thread->wait();
}

void simulated_sensor::set_config(const sensor_config &config)
{
    QMutexLocker lock(&mutex);
    current = config;
}

sensor_config simulated_sensor::config() const
{
    QMutexLocker lock(&mutex);
    return current;
}

QList<QByteArray> simulated_sensor::frames() const
{
    QMutexLocker lock(&mutex);
    return received_frames;
}

QList<QByteArray> simulated_sensor::commands() const
{
    QList<QByteArray> texts;
    for (const QByteArray &frame : frames())
        texts << frame_text(frame);
    return texts;
}

QList<received_image> simulated_sensor::images() const
{
    QMutexLocker lock(&mutex);
    return received_images;
}

int simulated_sensor::connections() const
{
    QMutexLocker lock(&mutex);
    return connection_count;
}

bool simulated_sensor::wait_until(const std::function<bool()> &condition, int timeout_ms) const
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

bool simulated_sensor::wait_for_frames(int count, int timeout_ms) const
{
    return wait_until([&] { return frames().size() >= count; }, timeout_ms);
}

bool simulated_sensor::wait_for_images(int count, int timeout_ms) const
{
    return wait_until([&] { return images().size() >= count; }, timeout_ms);
}

bool simulated_sensor::wait_for_shutdown(int timeout_ms) const
{
    return wait_until([&] { return commands().contains("shutdown"); }, timeout_ms);
}
