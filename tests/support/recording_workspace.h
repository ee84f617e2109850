// A workspace that records what the App would open instead of opening it, for tests of the menu
// commands.
#pragma once

#include "desktop/workspace.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace quillnest::test {

// Records what would be opened; answers the questions as its fields say.
struct RecordingWorkspace final : Workspace {
    QList<QUrl> opened;
    std::optional<QString> folder; // the folder chooser's answer
    QStringList messages;          // what the folder chooser was asked with
    // Runs while the chooser is open, as the event loop of a real chooser would run menu actions.
    std::function<void()> whileChoosing;

    void open(const QUrl& url) override { opened.append(url); }
    std::optional<QString> chooseFolder(const QString& message) override {
        messages.append(message);
        if (whileChoosing)
            whileChoosing();
        return folder;
    }
};

} // namespace quillnest::test
