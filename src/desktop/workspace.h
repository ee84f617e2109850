// The desktop services the menu commands use: opening a location with its default application, the
// text-editor lookup and the folder chooser. An interface so that tests can record what would open.
// Main thread only.
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
    // The text editor to use for files that have no application of their own, if the platform has
    // such a fixed one (none on Linux, where xdg-open already falls back to the text editor).
    virtual std::optional<QString> textEditor() = 0;
    // The application the desktop would open `url` with, or none when nothing is assigned.
    virtual std::optional<QString> applicationFor(const QUrl& url) = 0;
    // Opens `url` with the given application.
    virtual void openWith(const QUrl& url, const QString& application) = 0;
    // Asks the user for one existing folder, showing `message`; none when cancelled.
    virtual std::optional<QString> chooseFolder(const QString& message) = 0;
};

// The real desktop: QDesktopServices and QFileDialog.
class DesktopWorkspace final : public Workspace {
public:
    void open(const QUrl& url) override;
    std::optional<QString> textEditor() override;
    std::optional<QString> applicationFor(const QUrl& url) override;
    void openWith(const QUrl& url, const QString& application) override;
    std::optional<QString> chooseFolder(const QString& message) override;
};

} // namespace quillnest
