// The example project that `truxpack init` writes.
#include "tools/truxpack/project.h"
#include "tools/truxpack/project_schema.h"

namespace {

// Follows the line that names the schema (kSchemaComment).
const char kProject[] = R"(# A truxpack project: every key is optional unless marked "required".
# Build it with:  truxpack build project.toml -o setup.exe
# The guide (truxpack.md) lists every key and the archive field or flag it sets.
# truxpack.schema.json, named above, lets a TOML editor complete and check the
# keys; `truxpack schema` writes it anew for another truxpack version.

[product]
name = "Example Product"            # required; "<product>" in messages
publisher = "Example Publisher"
version = "1.0"
install_dir = "Example Product"     # relative: under Program Files
# start_menu = "Example Publisher\\Example Product"
# registry_key = "Example Publisher\\Example Product"   # HKLM/HKCU\Software\...
# password = ""
# administrator = "recommended"     # none, required, recommended
# excluded_systems = ["95", "98", "me"]

[flags]
uninstaller = true                  # write and register the uninstaller
choose_directory = true             # show the directory dialog
compressed = true                   # pack the data region as one block
uninstall_start_menu_shortcut = true
# automatic = true                  # no dialogs, as with /a
# raw_flags = 0x0                   # further bits by number

[dialogs]
license_files = ["license.txt"]     # one licence page per file
# readme_files = ["readme.txt"]
# stage_pause = 0                   # milliseconds per progress stage (at most 9999)

[background]
taskbar_text = "Example Product Setup"
top_color = "#000080"
bottom_color = "#000000"
title_color = "#FFFFFF"
title_position = "top_left"         # none, top_left, top_center, ... bottom_right
# bitmap = "background.bmp"
# bitmap_size = 50                  # percent of the window
# stretch_mode = "fit"              # stretch, fit, whole_factor, tile

[uninstall]
program = "Uninstall.exe"
# subdir = "Uninstall"

# [batches]
# post_install = "echo installed to %InstallDir%"

# [data]
# volume_size = 1440000             # split the data region into volume files
# outside_image = false

# [signing]                         # sign the installer and its uninstaller (docs/truxpack.md, Signing)
# certificate = "keys/chain.pem"    # PEM chain, with key; or pkcs12 = "keys/codesign.p12"
# key = "keys/key.pem"
# password_env = "CODESIGN_PASSWORD"  # never the password itself
# timestamp_url = "http://timestamp.digicert.com"
# command = "jsign ... {file}"      # instead: a signer for hardware or cloud keys

# [messages]                        # override single English messages by number
# 42 = "Example Product is ready."

# [languages]
# files = ["lang/deutsch.toml"]     # name = "Deutsch" plus a [messages] table

[[file]]
source = "files/app.txt"            # one file; name defaults to its file name
start_menu_shortcut = true
shortcut_name = "Example Application"

[[file]]
source = "files/docs/**/*.txt"      # a glob: relative paths kept
name = "docs"                       # under this folder of the installation

# [[shortcut]]
# target = "%InstallDir%\\app.txt"
# name = "Example"
# desktop = true

# [[delete]]
# files = "old.dll"

# [[association]]
# extension = ".example"
# file_type = "ExampleFile"
# verb = "open"
# command = "notepad.exe \"%1\""

# [[uninstall_value]]
# name = "HelpLink"
# value = "https://example.invalid/help"
)";

}  // namespace

const std::vector<InitFile>& InitProjectFiles() {
  static const std::string project = std::string(kSchemaComment) + "\n" + kProject;
  static const std::string schema = ProjectSchemaJson();
  static const std::vector<InitFile> files = {
      {"project.toml", project.c_str()},
      {kSchemaFileName, schema.c_str()},
      {"license.txt", "Example licence.\r\n\r\nReplace this text with the product's licence.\r\n"},
      {"files/app.txt", "The example product's main file.\r\n"},
      {"files/docs/guide.txt", "A guide.\r\n"},
      {"files/docs/more/notes.txt", "Notes in a subfolder.\r\n"},
  };
  return files;
}
