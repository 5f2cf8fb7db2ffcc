#pragma once

// A network lab for the discovery tests and benchmark: this process moves into a namespace of its
// own (the host side), a second one holds the simulated devices, a veth pair joins them. Names
// carry the process id; all is removed when the lab goes (also at exit), and leftovers of runs
// that died at the next set-up.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <utility>

class NetnsLab
{
public:
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString hostNs = "fmh-" + pid, deviceNs = "fmd-" + pid; // namespaces
    const QString hostIf = "fmh" + pid, deviceIf = "fmd" + pid;   // the veth ends
    const QString hostAddress = QStringLiteral("10.77.0.1");

    ~NetnsLab() { tearDown(), current_ = current_ == this ? nullptr : current_; }
    static bool ip(const QStringList& args, QString* output = nullptr)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("ip"), args);
        const bool done = p.waitForStarted(5000) && p.waitForFinished(30000);
        if (output)
            *output = QString::fromLocal8Bit(p.readAll()).trimmed();
        return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // Sets the lab up; on failure *why tells the reason (not root, no ip
    // command, namespaces not allowed, ...).
    bool setUp(QString* why)
    {
        const auto fail = [&](const QString& reason) { return (*why = reason, tearDown(), false); };
        if (geteuid() != 0 || !ip({"-V"}))
            return fail(geteuid() ? "network namespaces need root" : "no ip command");
        static const QRegularExpression ours(QStringLiteral("^fm[hd]-(\\d+)$"));
        for (const QString& name : QDir(QStringLiteral("/run/netns")).entryList(QDir::Files)) {
            const auto m = ours.match(name); // from a run that died
            if (m.hasMatch() && !QDir("/proc/" + m.captured(1)).exists())
                ip({"netns", "delete", name});
        }
        QString out;
        created_ = ip({"netns", "add", hostNs}, &out);
        if (!created_ || !ip({"netns", "add", deviceNs}, &out))
            return fail("cannot create network namespaces: " + out);
        static const int registered = std::atexit([] {
            if (current_ && current_->created_) // no Qt event loop here
                [[maybe_unused]] const int rc = std::system(qPrintable(
                    "ip netns delete " + current_->deviceNs + "; ip netns delete " + current_->hostNs));
        });
        Q_UNUSED(registered)
        current_ = this;
        const int fd = ::open(qPrintable("/run/netns/" + hostNs), O_RDONLY | O_CLOEXEC);
        const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0 && ::close(fd) == 0;
        // From here on this thread (and every thread and process it starts) is in the host side.
        if (!entered || !ip({"link", "set", "lo", "up"}, &out) || !addLink(hostIf, deviceIf, {}, &out) ||
            !ip({"address", "add", hostAddress + "/24", "dev", hostIf}, &out) ||
            !ip({"-n", deviceNs, "link", "set", "lo", "up"}, &out))
            return fail("cannot set up the host namespace and veth pair: " + out);
        return true;
    }
    // The process stays in the (now unnamed) host namespace until it ends;
    // the kernel frees it then, and the veth pairs with it.
    void tearDown()
    {
        if (std::exchange(created_, false))
            ip({"netns", "delete", deviceNs}), ip({"netns", "delete", hostNs});
    }
    // One more veth pair between the two namespaces, up on both sides; with
    // a hardware address, the host end takes it. It goes with the namespaces.
    bool addLink(const QString& hostEnd, const QString& deviceEnd, const QString& mac, QString* why) const
    {
        return ip({"link", "add", hostEnd, "type", "veth", "peer", "name", deviceEnd, "netns", deviceNs}, why) &&
               (mac.isEmpty() || ip({"link", "set", "dev", hostEnd, "address", mac}, why)) &&
               ip({"link", "set", hostEnd, "up"}, why) && ip({"-n", deviceNs, "link", "set", deviceEnd, "up"}, why);
    }
    // The device side's IPv4 addresses ("10.77.0.10/24 ...").
    QStringList deviceAddresses() const
    {
        QString out;
        ip({"-n", deviceNs, "-4", "-o", "address", "show", "dev", deviceIf}, &out);
        return out.split(QRegularExpression(QStringLiteral("\\s+"))).filter(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+/"));
    }

private:
    static inline NetnsLab* current_ = nullptr; // the lab the exit handler removes
    bool created_ = false;
};

// devsim running in the device namespace, with its log.
class NsDevsim
{
public:
    ~NsDevsim()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill(), process_.waitForFinished(5000);
    }
    bool start(const NetnsLab& lab, const QString& devsimPath, const QStringList& args, int timeoutMs = 60000)
    {
        process_.start("ip", QStringList{"netns", "exec", lab.deviceNs, devsimPath, "--port", "0"} + args);
        QElapsedTimer timer;
        for (timer.start(); process_.waitForStarted(5000) && timer.elapsed() < timeoutMs;) {
            if (!process_.waitForReadyRead(100) && process_.state() != QProcess::Running)
                return false;
            while (process_.canReadLine())
                if (process_.readLine().trimmed().endsWith("ready"))
                    return true;
        }
        return false;
    }
    QString log() { return QString::fromLocal8Bit(log_ += process_.readAllStandardError()); }
    int count(const QString& text) { return log().count(text); }

private:
    QProcess process_;
    QByteArray log_;
};
