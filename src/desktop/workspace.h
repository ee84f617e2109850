// The desktop services the menu commands use: opening a location (a file, a folder or a web
// address) with the desktop's default application, and the folder chooser. An interface so that
// tests can record what would open. Main thread only.
#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace quillnest {

class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens a location with the application the desktop assigns to it; the result is not examined.
    virtual void open(const QUrl& url) = 0;
    // Asks the user for one existing folder, showing `message`; none when cancelled.
    virtual std::optional<QString> chooseFolder(const QString& message) = 0;
};

// The real desktop: QDesktopServices and QFileDialog.
class DesktopWorkspace final : public Workspace {
public:
    void open(const QUrl& url) override;
    std::optional<QString> chooseFolder(const QString& message) override;
};

} // namespace quillnest
