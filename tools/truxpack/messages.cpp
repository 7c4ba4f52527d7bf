#include "tools/truxpack/messages.h"

#include <string.h>

namespace {

const BuiltInMessage kMessages[kBuiltInMessageCount] = {
    {0, "<product>", "", "title on the background window"},
    {1, "This will install <product> on your computer.\r\n\r\nDo you want to continue?", "", "start question"},
    {2, "Previous Installation Found", "", "caption of the reinstall question"},
    {3, "<product> is already installed in the following directory:", "", "reinstall question"},
    {4, "The same version of <product> is already installed in the following directory:", "",
     "reinstall question, same version"},
    {5, "An older version of <product> is installed in the following directory:", "",
     "reinstall question, older version installed"},
    {6, "A newer version of <product> is already installed in the following directory:", "",
     "reinstall question, newer version installed"},
    {7, "Do you want to install <product> into this directory again?", "", "end of the reinstall question"},
    {8, "Preparing the installation...", "", "status at the start"},
    {9, "<product> is already installed. Please uninstall it before installing it again.", "",
     "a previous installation is refused"},
    {10, "The following problems occurred while removing <product>:\r\n\r\n%s", "s", "uninstall errors"},
    {11, "Choose the directory to install <product> into:", "", "directory dialog text and browse title"},
    {12, "%s must be installed before <product> can be installed.", "s", "master product missing"},
    {13,
     "This installation program is corrupt.  This is usually caused by a faulty download, but it can also be "
     "caused by a virus on your computer.  The installation cannot proceed.\r\n\r\nDelete the corrupted installer "
     "(to prevent caching), then re-download it.  If the problem persists, check your system for viruses.\r\n\r\n"
     "Error code: %d",
     "d", "corrupt archive"},
    {14, "The directory name is not valid:", "", "invalid directory"},
    {15, "Uninstall Complete", "", "caption of the uninstall result"},
    {16, "Drive %c: does not exist.", "c", "missing drive"},
    {17, "Please choose a directory, not the root of a drive.", "", "drive root refused"},
    {18, "Please choose a directory inside %s, not that directory itself.", "s", "program files folder refused"},
    {19, "The installation needs %s, but drive %c: has only %s free.\r\n\r\nInstall anyway?", "scs",
     "not enough free space"},
    {20, "<product> Setup", "", "caption of questions"},
    {21, "Error", "", "caption of error boxes"},
    {22, "<product> will be installed into the existing directory %s.\r\n\r\nContinue?", "s",
     "directory exists (asked with confirm_directory)"},
    {23, "The directory %s will be created.\r\n\r\nContinue?", "s",
     "directory will be created (asked with confirm_directory)"},
    {24, "Installation Directory", "", "caption of the directory dialog"},
    {25, "The directory could not be created:", "", "directory creation failed"},
    {26, "Please insert volume %d of the installation and click OK.\r\n\r\nDrive: %c", "dc", "volume prompt"},
    {27, "Insert Volume", "", "caption of the volume prompt"},
    {28, "Do you really want to cancel the installation of <product>?", "", "cancel confirmation"},
    {29, "Unpacking files...", "", "status while unpacking"},
    {30, "The volume was not found, or it is not the right one.", "", "wrong or missing volume"},
    {31, "Error writing", "", "first words of every error line"},
    {32, "Creating shortcuts...", "", "status before the shortcuts"},
    {33, "Uninstall <product>", "", "name of the uninstaller shortcut"},
    {34, "<product> has been removed from your computer.", "", "uninstall complete"},
    {35, "Remove Shared File", "", "caption of the shared-file question"},
    {36, "Finishing the installation...", "", "status at 100 percent"},
    {37, "The computer must be restarted to complete the installation of <product>.\r\n\r\nRestart now?", "",
     "restart question"},
    {38, "Shortcut to %s", "s", "name of a shortcut without a name"},
    {39, "Installing <product>...", "", "progress dialog text"},
    {40,
     "There were problems during the installation. They have been recorded in the log file %s.\r\n\r\nDo you want "
     "to view the log now?",
     "s", "installation errors"},
    {41, "Installation Problems", "", "caption of the installation errors question"},
    {42, "<product> has been installed successfully.", "", "final message"},
    {43, "Installation Complete", "", "caption of the final message"},
    {44, "Licence Agreement", "", "caption of the licence page"},
    {45, "I accept the agreement", "", "licence accept button"},
    {46, "I do not accept the agreement", "", "licence decline button"},
    {47, "Please read the following licence agreement carefully:", "", "licence page text"},
    {48, "OK", "", "OK / next button"},
    {49, "Cancel", "", "cancel button"},
    {50, "Read Me", "", "caption of the readme page"},
    {51, "Please read the following information:", "", "readme page text"},
    {52, "Browse...", "", "browse button"},
    {53, "Do you want to remove <product> and all of its components from your computer?", "",
     "uninstall question"},
    {54, "Installing <product>", "", "progress caption and extraction status"},
    {55, "Uninstall <product>", "", "uninstall progress caption"},
    {56, "Remove the font %s?", "s", "font removal question"},
    {57, "Remove Font", "", "caption of the font removal question"},
    {58, "Could not remove", "", "first words of an uninstall error line"},
    {59, "The shared file %s is no longer used by any program.\r\n\r\nRemove it?", "s", "shared file question"},
    {60, "", "", "not used"},
    {61, "<product> cannot be installed on %s.", "s", "excluded system"},
    {62, "Verifying the installation data...", "", "status while verifying"},
    {63, "", "", "licence page shown before the project's licence texts (empty: none)"},
    {64, "", "", "readme page shown before the project's readme texts (empty: none)"},
    {65, "<product> Setup", "", "caption of the start question"},
    {66, "The directory name must not contain two backslashes in a row.", "", "double backslash refused"},
    {67, "Removing fonts...", "", "uninstall status"},
    {68, "Removing the uninstall data...", "", "uninstall status"},
    {69, "Removing registry keys...", "", "uninstall status"},
    {70, "Removing file associations...", "", "uninstall status"},
    {71, "Removing <product>...", "", "uninstall progress text"},
    {72, "The installed version of <product> is too old to be updated by this installation.\r\n\r\nContinue anyway?",
     "", "minimum version question"},
    {73, "Files cannot be written to %s.\r\n\r\nPlease choose another directory.", "s", "directory not writable"},
    {74, "The computer must be restarted to finish removing <product>.\r\n\r\nRestart now?", "",
     "uninstall restart question"},
    {75, "Password", "", "caption of the password dialog"},
    {76, "Please enter the installation password:", "", "password dialog text"},
    {77, "Administrator rights are required to install <product>.", "", "administrator required"},
    {78, "Administrator rights are recommended to install <product>.\r\n\r\nContinue anyway?", "",
     "administrator recommended"},
};

}  // namespace

const BuiltInMessage& BuiltInMessageAt(int32_t number) { return kMessages[number]; }

bool MessageConversions(const std::string& text, std::string& conversions) {
  conversions.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    while (j < text.size() && strchr("-+ #0123456789.hlLqjzt", text[j])) ++j;
    if (j >= text.size()) return false;
    char c = text[j];
    if (c == '*' || c == '$') return false;
    if (c != '%') {
      if (!strchr("diouxXeEfFgGaAcsp", c)) return false;  // never %n
      conversions += c;
    }
    i = j;
  }
  return true;
}
