// Fuzz target of the state reader fed the raw bytes of a state file.
//
// Project paths "exist" by a fixed rule of their text, so the existence filter takes both branches
// without touching the disk. Besides the sanitizers' own checks, every summary must be a
// deterministic function of the bytes and list each project once, all of them existing.

#include "state/summary.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool fakeExists(const QString& path) {
    return path.size() % 3 != 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const quillnest::Summary summary = quillnest::summarize(bytes, fakeExists);
    if (!(quillnest::summarize(bytes, fakeExists) == summary))
        std::abort();
    QSet<QString> seen;
    for (const QString& project : summary.projects) {
        if (!fakeExists(project) || seen.contains(project))
            std::abort();
        seen.insert(project);
    }
    if (summary.projects.isEmpty() && (summary.secrets != 0 || summary.warn != 0 ||
                                       summary.conflicts != 0 || summary.synced || summary.checked))
        std::abort();
    return 0;
}
