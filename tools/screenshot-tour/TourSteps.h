#pragma once
// A guided walk through every window, dialog and message box of the
// program on the sample corpus, saving a PNG picture of each, so the
// windows can be looked at without clicking through them by hand.
#include <QString>
#include <string>

namespace kestrel {

// `sampleDir` holds train/, test/ and unlabelled/ of preprocessed (*.seg)
// documents; it is copied to a temporary directory first (under a long
// path, as users' paths often are), so nothing is written beside it.
// Returns the process exit code: 1 when a picture could not be saved or a
// message box cut its text.
int runScreenshotTour(const QString& outDir, const QString& sampleDir, const std::string& startupDirectory);

}  // namespace kestrel
