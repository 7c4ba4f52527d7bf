// The language dialog ("LanguageDlg"): the user picks the installation's
// language; the dialog relabels itself in the language being browsed.
#pragma once
#include <stdint.h>

struct Run;

constexpr int kLanguageDialogOk = 1001;
constexpr int kLanguageDialogCancel = 1003;

// Shows the dialog modally (owned by the background window when there is
// one) and returns 1001 (OK, the run's current language is the choice) or
// 1003. Browsing relabels the dialog and, unless the keep-title flag is set,
// the run's display title.
int LanguageDialog(Run& run);
