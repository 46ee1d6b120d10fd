#pragma once
// The core reports failures in English sentences (they also go to the
// command line's standard error). A window shows them in Chinese: each
// known sentence is reworded here, paths and numbers kept; a line that is
// not known is shown as it is.
#include <QString>

namespace kestrel {

// Rewords every line of a failure's detail text.
QString chineseFailureText(const QString& detail);

}  // namespace kestrel
