#pragma once

// Trash folders built in a test's temporary tree, and a platform whose home
// Trash is one of them.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "fakeplatform.h"
#include "model/records.h"
#include "testsupport.h"

namespace trashtest {

// A freedesktop.org Trash folder (files/ and info/) below `root`.
struct TrashTree {
    explicit TrashTree(const QString &root);

    TrashLocation location() const { return {root, root + QStringLiteral("/files"), root + QStringLiteral("/info")}; }

    // files/NAME holding `bytes`, and info/NAME.trashinfo holding `info`
    // unless it is null. Returns the item's path.
    QString addFile(const QString &name, const QByteArray &bytes, const QByteArray &info) const;
    // files/NAME as a folder with the given files (paths relative to it).
    QString addFolder(const QString &name, const QList<std::pair<QString, QByteArray>> &files, const QByteArray &info) const;

    // An info file the way GLib writes one: the path percent-encoded ('/'
    // kept), the date in local time without a zone.
    static QByteArray info(const QString &originalPath, const QDateTime &deleted);

    QString root;
};

// The record a scan makes for files/NAME, looked up by its path in files/.
TrashItem itemAt(const QList<TrashItem> &items, const QString &trashPath);

// A Linux or macOS platform whose home Trash is a folder of the test's.
class TrashPlatform : public FakePlatform
{
public:
    using FakePlatform::FakePlatform;
    TrashLocation homeTrash() const override { return home; }
    TrashLocation home;
};

} // namespace trashtest
