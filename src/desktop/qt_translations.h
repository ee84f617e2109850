// Qt's own texts (the folder chooser's labels and buttons, the standard dialogs) in the utility's
// language. Call once on the main thread after the application object exists.
#pragma once

namespace quillnest {

// For Russian, installs Qt's qtbase_ru catalogue from Qt's translations folder (Debian package
// qt6-translations-l10n) into the application; when it is not installed, and for English, Qt's
// texts stay English. True when a catalogue was installed.
bool installQtTranslations(bool ru);

} // namespace quillnest
