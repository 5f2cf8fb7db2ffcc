#pragma once

// A small network laboratory for the discovery tests and benchmark: this
// process moves into a network namespace of its own (the host side), a
// second namespace holds the simulated devices, and a veth pair joins them.
// Names carry the process id; everything is removed again when the lab goes
// away (also from an exit handler), and leftovers of runs that died are
// removed at the next set-up.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NetnsLab
{
public:
    QString hostNs;   // the namespace this process lives in after setUp()
    QString deviceNs; // the devices' namespace
    QString hostIf;   // veth end on the host side
    QString deviceIf; // veth end on the device side
    QString hostAddress = QStringLiteral("10.77.0.1");

    NetnsLab()
    {
        const QString pid = QString::number(QCoreApplication::applicationPid());
        hostNs = QStringLiteral("fmh-") + pid;
        deviceNs = QStringLiteral("fmd-") + pid;
        hostIf = QStringLiteral("fmh") + pid;
        deviceIf = QStringLiteral("fmd") + pid;
    }
    ~NetnsLab()
    {
        tearDown();
        if (currentLab() == this)
            currentLab() = nullptr;
    }

    static bool run(const QString& program, const QStringList& args, QString* output = nullptr,
                    const QByteArray& input = QByteArray())
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForStarted(5000))
            return false;
        if (!input.isEmpty())
            p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(30000))
            return false;
        if (output)
            *output = QString::fromLocal8Bit(p.readAll());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    static bool ip(const QStringList& args, QString* output = nullptr)
    {
        return run(QStringLiteral("ip"), args, output);
    }

    // Sets the lab up; on failure *why tells the reason (not root, no ip
    // command, namespaces not allowed, ...).
    bool setUp(QString* why)
    {
        if (geteuid() != 0) {
            *why = QStringLiteral("network namespaces need root");
            return false;
        }
        QString out;
        if (!ip({QStringLiteral("-V")}, &out)) {
            *why = QStringLiteral("the ip command is not available");
            return false;
        }
        removeLeftovers();
        if (!ip({"netns", "add", hostNs}, &out) || !ip({"netns", "add", deviceNs}, &out)) {
            *why = QStringLiteral("cannot create network namespaces: ") + out.trimmed();
            tearDown();
            return false;
        }
        created_ = true;
        registerExitCleanup();
        const QByteArray nsPath = "/run/netns/" + hostNs.toLocal8Bit();
        const int fd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            if (fd >= 0)
                ::close(fd);
            *why = QStringLiteral("cannot enter the host namespace");
            tearDown();
            return false;
        }
        ::close(fd);
        // From here on this thread (and every thread and process it starts)
        // lives in the host namespace.
        const bool ok = ip({"link", "set", "lo", "up"}, &out) &&
                        ip({"link", "add", hostIf, "type", "veth", "peer", "name", deviceIf, "netns",
                            deviceNs},
                           &out) &&
                        ip({"address", "add", hostAddress + "/24", "dev", hostIf}, &out) &&
                        ip({"link", "set", hostIf, "up"}, &out) &&
                        ip({"-n", deviceNs, "link", "set", "lo", "up"}, &out) &&
                        ip({"-n", deviceNs, "link", "set", deviceIf, "up"}, &out);
        if (!ok) {
            *why = QStringLiteral("cannot set up the veth pair: ") + out.trimmed();
            tearDown();
            return false;
        }
        return true;
    }

    void tearDown()
    {
        if (!created_)
            return;
        created_ = false;
        ip({"netns", "delete", deviceNs});
        ip({"netns", "delete", hostNs});
        // The process stays in the (now unnamed) host namespace until it
        // ends; the kernel frees it then, and the veth pair with it.
    }

    // One more veth pair between the two namespaces, up on both sides; with
    // a hardware address, the host end takes it. It goes with the namespaces.
    bool addLink(const QString& hostEnd, const QString& deviceEnd, const QString& mac,
                 QString* why) const
    {
        QString out;
        const bool ok =
            ip({"link", "add", hostEnd, "type", "veth", "peer", "name", deviceEnd, "netns", deviceNs},
               &out) &&
            (mac.isEmpty() || ip({"link", "set", "dev", hostEnd, "address", mac}, &out)) &&
            ip({"link", "set", hostEnd, "up"}, &out) &&
            ip({"-n", deviceNs, "link", "set", deviceEnd, "up"}, &out);
        if (!ok)
            *why = out.trimmed();
        return ok;
    }

    // The device side's IPv4 addresses ("10.77.0.10/24 ...").
    QStringList deviceAddresses() const
    {
        QString out;
        ip({"-n", deviceNs, "-4", "-o", "address", "show", "dev", deviceIf}, &out);
        QStringList result;
        static const QRegularExpression inet(QStringLiteral("inet (\\S+)"));
        auto it = inet.globalMatch(out);
        while (it.hasNext())
            result << it.next().captured(1);
        return result;
    }
    void flushDeviceAddresses() const
    {
        ip({"-n", deviceNs, "address", "flush", "dev", deviceIf});
    }

    // Arguments that run a program inside the device namespace.
    QStringList inDeviceNs(const QString& program, const QStringList& args) const
    {
        return QStringList{"netns", "exec", deviceNs, program} + args;
    }

private:
    // Namespaces of earlier runs whose process is gone.
    static void removeLeftovers()
    {
        static const QRegularExpression ours(QStringLiteral("^fm[hd]-(\\d+)$"));
        const QStringList names = QDir(QStringLiteral("/run/netns")).entryList(QDir::Files);
        for (const QString& name : names) {
            const auto m = ours.match(name);
            if (m.hasMatch() && !QFile::exists(QStringLiteral("/proc/") + m.captured(1)))
                ip({"netns", "delete", name});
        }
    }

    // The lab the exit handler cleans up (none once it is destroyed).
    static NetnsLab*& currentLab()
    {
        static NetnsLab* current = nullptr;
        return current;
    }
    void registerExitCleanup()
    {
        static bool registered = false;
        currentLab() = this;
        if (!registered) {
            registered = true;
            std::atexit([] {
                if (currentLab())
                    currentLab()->tearDownQuietly();
            });
        }
    }
    void tearDownQuietly()
    {
        if (!created_)
            return;
        created_ = false;
        // No Qt here (exit handler): plain processes.
        const QByteArray a = "ip netns delete " + deviceNs.toLocal8Bit() + " 2>/dev/null";
        const QByteArray b = "ip netns delete " + hostNs.toLocal8Bit() + " 2>/dev/null";
        if (std::system(a.constData()) != 0 || std::system(b.constData()) != 0) {
        }
    }

    bool created_ = false;
};

// devsim running in the device namespace, with its log.
class NsDevsim
{
public:
    ~NsDevsim() { stop(); }

    bool start(const NetnsLab& lab, const QString& devsimPath, const QStringList& args,
               int timeoutMs = 60000)
    {
        process_.setProgram(QStringLiteral("ip"));
        process_.setArguments(lab.inDeviceNs(devsimPath, QStringList{"--port", "0"} + args));
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(5000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (!process_.waitForReadyRead(100) && process_.state() != QProcess::Running)
                return false;
            log_ += process_.readAllStandardError();
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine().trimmed();
                if (line.endsWith("ready"))
                    return true;
            }
        }
        return false;
    }
    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    QString log()
    {
        log_ += process_.readAllStandardError();
        return QString::fromLocal8Bit(log_);
    }
    int count(const QString& text) { return log().count(text); }

private:
    QProcess process_;
    QByteArray log_;
};
