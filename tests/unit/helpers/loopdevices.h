#pragma once

// Real block devices for tests: image files attached as loop devices (with
// their partitions) and mounted. Needs root; every step reports why it
// failed so that a test can skip cleanly where the machine refuses.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <unistd.h>

// Runs a system tool; false when it is missing or fails, with its output.
inline bool runTool(const QString &name, const QStringList &arguments, QString *output = nullptr,
                    const QByteArray &input = QByteArray())
{
    const QString program = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                                  QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    if (program.isEmpty()) {
        if (output)
            *output = name + QStringLiteral(" is not installed");
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(60000);
    if (output)
        *output = QString::fromUtf8(process.readAll()).trimmed();
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

class LoopImage
{
public:
    // Attaches `image`, asking the kernel for its partition nodes when it
    // is `partitioned`.
    explicit LoopImage(const QString &image, bool partitioned = true)
    {
        if (::geteuid() != 0) {
            problem = QStringLiteral("loop devices need root");
            return;
        }
        QString output;
        if (!runTool(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), QStringLiteral("-P"), image},
                     &output)) {
            problem = QStringLiteral("losetup: ") + output;
            return;
        }
        m_device = output.section(QLatin1Char('\n'), -1);
        if (!partitioned)
            return;
        // Without udev the partition nodes appear only when asked for.
        if (!QFileInfo::exists(partition(1)))
            runTool(QStringLiteral("partx"), {QStringLiteral("-a"), m_device});
        for (int wait = 0; wait < 50 && !QFileInfo::exists(partition(1)); ++wait)
            QThread::msleep(20);
    }
    ~LoopImage()
    {
        for (auto point = m_mounts.crbegin(); point != m_mounts.crend(); ++point)
            runTool(QStringLiteral("umount"), {*point});
        if (!m_device.isEmpty())
            runTool(QStringLiteral("losetup"), {QStringLiteral("-d"), m_device});
    }
    LoopImage(const LoopImage &) = delete;
    LoopImage &operator=(const LoopImage &) = delete;

    QString device() const { return m_device; }
    QString partition(int number) const { return m_device + QLatin1Char('p') + QString::number(number); }

    bool format(const QString &node, const QString &fileSystem, const QString &label)
    {
        QString output;
        if (runTool(QStringLiteral("mkfs.") + fileSystem, {QStringLiteral("-q"), QStringLiteral("-L"), label, node}, &output))
            return true;
        problem = QStringLiteral("mkfs.") + fileSystem + QStringLiteral(": ") + output;
        return false;
    }

    bool mount(const QString &node, const QString &folder)
    {
        QDir().mkpath(folder);
        QString output;
        if (!runTool(QStringLiteral("mount"), {node, folder}, &output)) {
            problem = QStringLiteral("mount: ") + output;
            return false;
        }
        m_mounts.append(folder);
        return true;
    }

    QString problem;

private:
    QString m_device;
    QStringList m_mounts;
};

// A sparse image of `size` bytes with a GPT and the given partition sizes
// (sfdisk script lines such as ",40M"; the last may be "," for the rest).
inline bool makePartitionedImage(const QString &path, qint64 size, const QStringList &partitions, QString *problem)
{
    QFile image(path);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(size)) {
        *problem = image.errorString();
        return false;
    }
    image.close();
    const QByteArray script = "label: gpt\n" + partitions.join(QLatin1Char('\n')).toUtf8() + '\n';
    return runTool(QStringLiteral("sfdisk"), {QStringLiteral("-q"), path}, problem, script);
}
