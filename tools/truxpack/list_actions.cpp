#include "tools/truxpack/list_actions.h"

#include "archive/format.h"
#include "tools/truxpack/core_string.h"
#include "tools/truxpack/names.h"

namespace {

// Texts from the archive are printed escaped (PrintableName): a control
// character in a name must not reach the terminal.
std::string Shown(const String& cp1252) { return PrintableName(Str(cp1252)); }

std::string Quoted(const String& cp1252) { return "\"" + Shown(cp1252) + "\""; }

// " key "value"" when value is not empty.
std::string Optional(const char* key, const String& cp1252) {
  return cp1252.IsEmpty() ? std::string() : std::string("  ") + key + " " + Quoted(cp1252);
}

std::string Places(bool desktop, bool startMenu, bool startup) {
  std::string out;
  if (desktop) out += "desktop ";
  if (startMenu) out += "start_menu ";
  if (startup) out += "startup ";
  if (out.empty()) out = "(nowhere) ";
  return out;
}

}  // namespace

const char* SharedFileRole(const ReadEntry& e) {
  const bool permanent = (e.flags & kEntryPermanent) != 0;
  switch (e.kind) {
    case kKindSharedDir: return permanent ? "permanent" : "plain";
    case kKindSystemPermanent: return "permanent";
    case kKindComServer: return permanent ? "permanent com_server" : "com_server";
    case kKindTypeLibrary: return permanent ? "permanent type_library" : "type_library";
    default: return nullptr;
  }
}

void PrintActionSettings(FILE* out, const ArchiveSettings& s) {
  if (!s.ProductRegistry.IsEmpty())
    fprintf(out, "registry key   Software\\%s (local machine and current user)\n", Shown(s.ProductRegistry).c_str());
  // An empty start-menu folder is derived by the runtime from the publisher
  // and the product name.
  std::string startMenu = Quoted(s.ProductStartMenu);
  if (s.ProductStartMenu.IsEmpty())
    startMenu = Quoted(s.Publisher.IsEmpty() ? s.productName : s.Publisher + "\\" + s.productName) +
                " (publisher and product name)";
  fprintf(out, "shortcuts      %s folders, start menu %s\n", s.ShortcutMode == kShortcutModeAllUsers ? "all users'" : "current user's",
          startMenu.c_str());
  if (!s.desktopShortcutName.IsEmpty())
    fprintf(out, "desktop folder %s%s\n", Quoted(s.desktopShortcutName).c_str(),
            s.desktopShortcutIcon.IsEmpty()
                ? ""
                : (" with an icon of " + std::to_string(s.desktopShortcutIcon.Length()) + " bytes").c_str());
  for (int32_t i = 0; i < s.shortcuts.Count(); ++i) {
    const ShortcutRecord& r = s.shortcuts[i];
    fprintf(out, "shortcut       %s%s%s -> %s%s%s%s\n", Places(r.desktop, r.startMenu, r.startup).c_str(),
            r.permanent ? "permanent " : "", r.name.IsEmpty() ? "(default name)" : Quoted(r.name).c_str(),
            Shown(r.target).c_str(), Optional("arguments", r.arguments).c_str(),
            Optional("working_dir", r.workingDirectory).c_str(), Optional("icon", r.iconFile).c_str());
  }
  for (int32_t i = 0; i < s.associations.Count(); ++i) {
    const FileAssociation& a = s.associations[i];
    std::string type = Shown(a.texts[1]);
    if (type.empty()) type = "(the extension's own file type)";
    else if (type[0] == '!') type = type.substr(1) + " (unless the extension has a file type)";
    fprintf(out, "association    %s -> %s, verb %s%s%s%s%s%s%s\n", Shown(a.texts[0]).c_str(), type.c_str(),
            Quoted(a.texts[3]).c_str(), (a.number & 1) ? " (default)" : "",
            Optional("caption", a.texts[4]).c_str(), Optional("command", a.texts[5]).c_str(),
            Optional("description", a.texts[2]).c_str(), Optional("icon", a.texts[7]).c_str(),
            Optional("language", a.texts[6]).c_str());
  }
}

void PrintEntryActions(FILE* out, const std::vector<ReadEntry>& entries,
                       std::string (*destination)(const ReadEntry&)) {
  bool header = false;
  for (const ReadEntry& e : entries) {
    const char* role = SharedFileRole(e);
    if (!role) continue;
    if (!header) fprintf(out, "shared files   (reference counted, in this order)\n");
    header = true;
    fprintf(out, "  %s  %s\n", PrintableName(destination(e)).c_str(), role);
  }
  header = false;
  for (const ReadEntry& e : entries) {
    const bool desktop = e.kind == kKindInstallDir && (e.flags & kEntryDesktopShortcut);
    const bool startMenu = e.kind == kKindInstallDir && (e.flags & kEntryStartMenuShortcut);
    const bool startup = e.kind == kKindStartup;
    if (!desktop && !startMenu && !startup) continue;
    if (!header) fprintf(out, "entry shortcuts\n");
    header = true;
    fprintf(out, "  %s%s%s -> %s%s%s%s\n", Places(desktop, startMenu, startup).c_str(),
            (e.flags & kEntryPermanent) ? "permanent " : "",
            e.ShortcutName().IsEmpty() ? "(default name)" : Quoted(e.ShortcutName()).c_str(),
            PrintableName(destination(e)).c_str(), Optional("arguments", e.ShortcutArguments()).c_str(),
            Optional("working_dir", e.ShortcutWorkingDirectory()).c_str(),
            Optional("icon", e.ShortcutIconFile()).c_str());
  }
}
