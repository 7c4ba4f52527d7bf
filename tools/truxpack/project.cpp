#include "tools/truxpack/project.h"

#include <errno.h>
#include <stdlib.h>

#include <filesystem>
#include <toml++/toml.h>

#include "tools/truxpack/names.h"
#include "tools/truxpack/project_loaders.h"

namespace fs = std::filesystem;

bool LoadProject(const std::string& path, Project& project, std::string& error, bool readData, bool confine) {
  project = Project();
  project.readData = readData;
  Loader l;
  l.file = path;
  l.directory = fs::path(path).parent_path();
  l.inputs = &project.inputs;
  l.warnings = &project.warnings;
  l.confine = confine;
  std::error_code ec;
  l.projectRoot = fs::canonical(l.directory.empty() ? fs::path(".") : l.directory, ec);
  if (ec) l.projectRoot.clear();
  toml::table doc;
  if (!l.Parse(path, doc)) {
    error = l.error;
    return false;
  }
  if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(epoch, &end, 10);
    if (!*epoch || *end || errno != 0 || v < 0 || v > 253402300799ll) {
      error = "SOURCE_DATE_EPOCH: expected a number of seconds since 1970, got \"" + PrintablePath(epoch) + "\"";
      return false;
    }
    project.sourceDateEpoch = v;
  }
  Table root(l, &doc, "");
  std::string encoding = "windows-1252";
  bool ok = root.Name("text_encoding", encoding);
  l.rawText = encoding == "bytes";
  ArchiveSettings& s = project.settings;
  ok = ok && LoadFlags(l, root.Sub("flags"), s) && LoadProduct(l, root.Sub("product"), s) &&
       LoadDialogs(l, root.Sub("dialogs"), s) && LoadBackground(l, root.Sub("background"), s) &&
       LoadShortcutsTable(l, root.Sub("shortcuts"), s) && LoadBatches(root.Sub("batches"), s) &&
       LoadUninstall(l, root.Sub("uninstall"), s) && LoadData(l, root.Sub("data"), project) &&
       LoadSigning(l, root.Sub("signing"), project) &&
       LoadRecordLists(l, root, s) && LoadLanguages(l, root, s) && LoadFiles(l, root, project) &&
       root.CheckUnknown();
  // A loader that noted a problem and read on (a table given as a value,
  // say) has still failed: the first error stands.
  ok = ok && l.error.empty();
  if (ok && s.Flag(kFlagAddOn) == false && !s.masterProductName.IsEmpty())
    ok = l.Fail("product.master_product", "needs flags.add_on = true");
  if (ok) {
    std::string problem = CheckSettingsForWriting(s);
    if (!problem.empty() && !(problem == "the volume base name is blank" && !project.volumeBaseNameSet))
      ok = l.Fail("project", problem);
  }
  if (!ok) {
    error = l.error.empty() ? path + ": invalid project" : l.error;
    return false;
  }
  return true;
}
