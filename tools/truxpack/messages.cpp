#include "tools/truxpack/messages.h"

#include <string.h>

namespace {

const BuiltInMessage kMessages[kBuiltInMessageCount] = {
    {kMsgDisplayTitle, "<product>", "", "title on the background window"},
    {kMsgStartQuestion, "This will install <product> on your computer.\r\n\r\nDo you want to continue?", "",
     "start question"},
    {kMsgReinstallCaption, "Previous Installation Found", "", "caption of the reinstall question"},
    {kMsgReinstallInstalled, "<product> is already installed in the following directory:", "", "reinstall question"},
    {kMsgReinstallSame, "The same version of <product> is already installed in the following directory:", "",
     "reinstall question, same version"},
    {kMsgReinstallOlder, "An older version of <product> is installed in the following directory:", "",
     "reinstall question, older version installed"},
    {kMsgReinstallNewer, "A newer version of <product> is already installed in the following directory:", "",
     "reinstall question, newer version installed"},
    {kMsgReinstallEnd, "Do you want to install <product> into this directory again?", "",
     "end of the reinstall question"},
    {kMsgPreparing, "Preparing the installation...", "", "status at the start"},
    {kMsgRefuseReinstall, "<product> is already installed. Please uninstall it before installing it again.", "",
     "a previous installation is refused"},
    {kMsgUninstallErrors, "The following problems occurred while removing <product>:\r\n\r\n%s", "s",
     "uninstall errors"},
    {kMsgChooseDirText, "Choose the directory to install <product> into:", "",
     "directory dialog text and browse title"},
    {kMsgMasterMissing, "%s must be installed before <product> can be installed.", "s", "master product missing"},
    {kMsgCorruptArchive,
     "This installation program is corrupt.  This is usually caused by a faulty download, but it can also be "
     "caused by a virus on your computer.  The installation cannot proceed.\r\n\r\nDelete the corrupted installer "
     "(to prevent caching), then re-download it.  If the problem persists, check your system for viruses.\r\n\r\n"
     "Error code: %d",
     "d", "corrupt archive"},
    {kMsgInvalidDirectory, "The directory name is not valid:", "", "invalid directory"},
    {kMsgUninstallDoneCaption, "Uninstall Complete", "", "caption of the uninstall result"},
    {kMsgNoDrive, "Drive %c: does not exist.", "c", "missing drive"},
    {kMsgDriveRoot, "Please choose a directory, not the root of a drive.", "", "drive root refused"},
    {kMsgProgramsFolder, "Please choose a directory inside %s, not that directory itself.", "s",
     "program files folder refused"},
    {kMsgLowSpace, "The installation needs %s, but drive %c: has only %s free.\r\n\r\nInstall anyway?", "scs",
     "not enough free space"},
    {kMsgQuestionCaption, "<product> Setup", "", "caption of questions"},
    {kMsgErrorCaption, "Error", "", "caption of error boxes"},
    {kMsgDirectoryExists, "<product> will be installed into the existing directory %s.\r\n\r\nContinue?", "s",
     "directory exists (asked with confirm_directory)"},
    {kMsgDirectoryCreated, "The directory %s will be created.\r\n\r\nContinue?", "s",
     "directory will be created (asked with confirm_directory)"},
    {kMsgDirectoryCaption, "Installation Directory", "", "caption of the directory dialog"},
    {kMsgDirectoryNotCreated, "The directory could not be created:", "", "directory creation failed"},
    {kMsgInsertVolume, "Please insert volume %d of the installation and click OK.\r\n\r\nDrive: %c", "dc",
     "volume prompt"},
    {kMsgInsertVolumeCaption, "Insert Volume", "", "caption of the volume prompt"},
    {kMsgConfirmCancel, "Do you really want to cancel the installation of <product>?", "", "cancel confirmation"},
    {kMsgUnpacking, "Unpacking files...", "", "status while unpacking"},
    {kMsgWrongVolume, "The volume was not found, or it is not the right one.", "", "wrong or missing volume"},
    {kMsgErrorLineStart, "Error writing", "", "first words of every error line"},
    {kMsgShortcutsStage, "Creating shortcuts...", "", "status before the shortcuts"},
    {kMsgUninstallerShortcutName, "Uninstall <product>", "", "name of the uninstaller shortcut"},
    {kMsgUninstallDone, "<product> has been removed from your computer.", "", "uninstall complete"},
    {kMsgSharedFileCaption, "Remove Shared File", "", "caption of the shared-file question"},
    {kMsgFinishing, "Finishing the installation...", "", "status at 100 percent"},
    {kMsgRestart, "The computer must be restarted to complete the installation of <product>.\r\n\r\nRestart now?", "",
     "restart question"},
    {kMsgMissingLinkName, "Shortcut to %s", "s", "name of a shortcut without a name"},
    {kMsgInstallHeading, "Installing <product>...", "", "progress dialog text"},
    {kMsgInstallErrors,
     "There were problems during the installation. They have been recorded in the log file %s.\r\n\r\nDo you want "
     "to view the log now?",
     "s", "installation errors"},
    {kMsgInstallErrorsCaption, "Installation Problems", "", "caption of the installation errors question"},
    {kMsgFinal, "<product> has been installed successfully.", "", "final message"},
    {kMsgFinalCaption, "Installation Complete", "", "caption of the final message"},
    {kMsgLicenseCaption, "Licence Agreement", "", "caption of the licence page"},
    {kMsgLicenseAccept, "I accept the agreement", "", "licence accept button"},
    {kMsgLicenseDecline, "I do not accept the agreement", "", "licence decline button"},
    {kMsgLicenseText, "Please read the following licence agreement carefully:", "", "licence page text"},
    {kMsgOk, "OK", "", "OK / next button"},
    {kMsgCancel, "Cancel", "", "cancel button"},
    {kMsgReadmeCaption, "Read Me", "", "caption of the readme page"},
    {kMsgReadmeText, "Please read the following information:", "", "readme page text"},
    {kMsgBrowse, "Browse...", "", "browse button"},
    {kMsgUninstallConfirm, "Do you want to remove <product> and all of its components from your computer?", "",
     "uninstall question"},
    {kMsgInstalling, "Installing <product>", "", "progress caption and extraction status"},
    {kMsgUninstallCaption, "Uninstall <product>", "", "uninstall progress caption"},
    {kMsgFontQuestion, "Remove the font %s?", "s", "font removal question"},
    {kMsgFontCaption, "Remove Font", "", "caption of the font removal question"},
    {kMsgRemoveFailed, "Could not remove", "", "first words of an uninstall error line"},
    {kMsgSharedFileQuestion, "The shared file %s is no longer used by any program.\r\n\r\nRemove it?", "s",
     "shared file question"},
    {kMsgUnused, "", "", "not used"},
    {kMsgExcludedSystem, "<product> cannot be installed on %s.", "s", "excluded system"},
    {kMsgVerifying, "Verifying the installation data...", "", "status while verifying"},
    {kMsgLicenseFront, "", "", "licence page shown before the project's licence texts (empty: none)"},
    {kMsgReadmeFront, "", "", "readme page shown before the project's readme texts (empty: none)"},
    {kMsgStartCaption, "<product> Setup", "", "caption of the start question"},
    {kMsgDoubleBackslash, "The directory name must not contain two backslashes in a row.", "",
     "double backslash refused"},
    {kMsgStatusFonts, "Removing fonts...", "", "uninstall status"},
    {kMsgStatusCleanup, "Removing the uninstall data...", "", "uninstall status"},
    {kMsgStatusKeys, "Removing registry keys...", "", "uninstall status"},
    {kMsgStatusAssociations, "Removing file associations...", "", "uninstall status"},
    {kMsgUninstallHeading, "Removing <product>...", "", "uninstall progress text"},
    {kMsgMinimumVersion,
     "The installed version of <product> is too old to be updated by this installation.\r\n\r\nContinue anyway?", "",
     "minimum version question"},
    {kMsgNotWritable, "Files cannot be written to %s.\r\n\r\nPlease choose another directory.", "s",
     "directory not writable"},
    {kMsgUninstallRestart, "The computer must be restarted to finish removing <product>.\r\n\r\nRestart now?", "",
     "uninstall restart question"},
    {kMsgPasswordCaption, "Password", "", "caption of the password dialog"},
    {kMsgPasswordText, "Please enter the installation password:", "", "password dialog text"},
    {kMsgAdminRequired, "Administrator rights are required to install <product>.", "", "administrator required"},
    {kMsgAdminRecommended, "Administrator rights are recommended to install <product>.\r\n\r\nContinue anyway?", "",
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
